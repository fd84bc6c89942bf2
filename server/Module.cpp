// The module: its entry point and the four exports of an in-process COM server. The trace
// facility's module-wide objects (output statistic and log sink) are built by the run time
// before DllMain sees DLL_PROCESS_ATTACH and destroyed after DLL_PROCESS_DETACH.
#include <windows.h>
#include <oleauto.h>

#include "TonewellIdl.h"
#include "diagnostics/DSTrace.h"
#include "server/ClassTable.h"
#include "support/ComBase.h"

namespace
{
// Class objects are created once, on the first request for each class.
SRWLOCK g_classLock = SRWLOCK_INIT;

// Runs the calling thread in the system's default locale for the duration of a
// registration, as the registry scripts and the type library expect.
class CSystemLocale
{
public:
    CSystemLocale() : m_lcid(GetThreadLocale()) { SetThreadLocale(GetSystemDefaultLCID()); }
    ~CSystemLocale() { SetThreadLocale(m_lcid); }

private:
    LCID m_lcid;
};

void ReleaseClassObjects()
{
    for (CClassEntry* pEntry = ClassTable(); pEntry->pclsid != nullptr; ++pEntry)
    {
        if (pEntry->pClassObject != nullptr)
        {
            pEntry->pClassObject->Release();
            pEntry->pClassObject = nullptr;
        }
    }
}

HRESULT UpdateRegistry(bool bRegister)
{
    CSystemLocale locale;
    for (CClassEntry* pEntry = ClassTable(); pEntry->pclsid != nullptr; ++pEntry)
    {
        HRESULT hr = pEntry->pfnUpdateRegistry(bRegister);
        if (FAILED(hr))
            return hr;
    }
    if (bRegister)
    {
        ITypeLib* pTypeLib = nullptr;
        HRESULT hr = LoadTypeLibEx(ModulePath(), REGKIND_REGISTER, &pTypeLib);
        if (pTypeLib != nullptr)
            pTypeLib->Release();
        return hr;
    }
    // A type library that is not registered has nothing to remove.
    BSTR bstrPath = nullptr;
    if (FAILED(QueryPathOfRegTypeLib(LIBID_TONEWELLLib, 1, 0, LOCALE_NEUTRAL, &bstrPath)))
        return S_OK;
    SysFreeString(bstrPath);
    return UnRegisterTypeLib(LIBID_TONEWELLLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
}
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pvReserved)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        SetModuleInstance(hInstance);
        (void)TraceSink();
    }
    else if (dwReason == DLL_PROCESS_DETACH && pvReserved == nullptr)
        ReleaseClassObjects();
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    for (CClassEntry* pEntry = ClassTable(); pEntry->pclsid != nullptr; ++pEntry)
    {
        if (!InlineIsEqualGUID(rclsid, *pEntry->pclsid))
            continue;
        AcquireSRWLockExclusive(&g_classLock);
        HRESULT hr = S_OK;
        if (pEntry->pClassObject == nullptr)
            hr = pEntry->pfnCreateClassObject(&pEntry->pClassObject);
        IUnknown* pClassObject = pEntry->pClassObject;
        ReleaseSRWLockExclusive(&g_classLock);
        return SUCCEEDED(hr) ? pClassObject->QueryInterface(riid, ppv) : hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow()
{
    return CComModuleCount::GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer()
{
    return UpdateRegistry(true);
}

STDAPI DllUnregisterServer()
{
    return UpdateRegistry(false);
}
