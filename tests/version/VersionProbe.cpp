// A module that carries the version wrapper, built once with the module's version
// resource and once without, so the wrapper reads the resource of its own module.
#include "version/VersionObject.h"

#define PROBE_EXPORT extern "C" __declspec(dllexport)

// A new object with one reference; pszObjectName set: its version line is written too.
PROBE_EXPORT HRESULT Probe_CreateVersion(LPCSTR pszDate, LPCSTR pszTime, LPCSTR pszName, LPCWSTR pszObjectName,
                                         ICvVersion** ppVersion)
{
    *ppVersion = nullptr;
    CComObject<CVersionObject>* p = nullptr;
    HRESULT hr = CComObject<CVersionObject>::CreateUnreferenced(&p, pszDate, pszTime, pszName);
    if (FAILED(hr))
        return hr;
    if (pszObjectName)
        p->TraceVersion(pszObjectName);
    return p->QueryInterface(__uuidof(ICvVersion), reinterpret_cast<void**>(ppVersion));
}
