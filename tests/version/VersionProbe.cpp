// A module that carries the version wrapper, built once with the module's version
// resource and once without, so the wrapper reads the resource of its own module.
#include "filter/CvVersionWrapper.h"
#include "support/ComBase.h"

namespace
{
class CVersionProbe : public CComObjectRoot, public ICvVersionWrapper
{
public:
    CVersionProbe(LPCSTR pszDate, LPCSTR pszTime, LPCSTR pszName) : ICvVersionWrapper(pszDate, pszTime, pszName) {}

    BEGIN_COM_MAP(CVersionProbe)
        COM_INTERFACE_ENTRY(ICvVersion)
    END_COM_MAP()
};
}

#define PROBE_EXPORT extern "C" __declspec(dllexport)

// A new object with one reference; pszObjectName set: its version line is written too.
PROBE_EXPORT HRESULT Probe_CreateVersion(LPCSTR pszDate, LPCSTR pszTime, LPCSTR pszName, LPCWSTR pszObjectName,
                                         ICvVersion** ppVersion)
{
    *ppVersion = nullptr;
    CComObject<CVersionProbe>* p = nullptr;
    HRESULT hr = CComObject<CVersionProbe>::CreateInstance(&p, pszDate, pszTime, pszName);
    if (FAILED(hr))
        return hr;
    if (pszObjectName)
        p->TraceVersion(pszObjectName);
    return p->QueryInterface(__uuidof(ICvVersion), reinterpret_cast<void**>(ppVersion));
}
