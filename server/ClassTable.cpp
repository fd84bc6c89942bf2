#include "server/ClassTable.h"

#include "diagnostics/DSTrace.h"
#include "filter/AudioSource.h"
#include "pages/AudioSourcePP.h"
#include "pages/TonewellAbout.h"
#include "server/Registrar.h"
#include "server/Resources.h"
#include "support/ComClassFactory.h"

namespace
{
HINSTANCE g_hInstance = nullptr;
wchar_t g_szModulePath[MAX_PATH + 1];

template <class T>
HRESULT CreateClassObject(IUnknown** ppUnk)
{
    CComObjectCached<CComClassFactory<T>>* pFactory = nullptr;
    HRESULT hr = CComObjectCached<CComClassFactory<T>>::CreateReferenced(&pFactory);
    if (SUCCEEDED(hr))
        *ppUnk = static_cast<IClassFactory*>(pFactory);
    return hr;
}

HRESULT RunScript(UINT nResourceId, bool bRegister)
{
    return CRegistrar::RunResource(g_hInstance, nResourceId, bRegister, {{L"MODULE", ModulePath()}});
}

const DWORD kFilterMerit = 0x200000;    // MERIT_DO_NOT_USE: hosts pick it by name
const DWORD kCategoryMerit = 0x400000;  // MERIT_UNLIKELY

// The filter's script, its maker's category, and its mapper entries in that category and
// among the audio capture sources.
HRESULT UpdateFilterRegistry(bool bRegister)
{
    HRESULT hr = RunScript(IDR_TONEWELL_FILTER, bRegister);
    if (bRegister && SUCCEEDED(hr))
        hr = VTMLRegisterCategory(TRUE, CLSID_CorvaneFilterCategory, L"Corvane Filters", kCategoryMerit);
    if (SUCCEEDED(hr))
        hr = RegisterFilter(bRegister, CLSID_Tonewell, kFilterMerit, CLSID_CorvaneFilterCategory, CAudioSource::Setup());
    if (SUCCEEDED(hr))
        hr = RegisterFilter(bRegister, CLSID_Tonewell, kFilterMerit, CLSID_AudioInputDeviceCategory,
                            CAudioSource::Setup());
    if (!bRegister)
        VTMLRegisterCategory(FALSE, CLSID_CorvaneFilterCategory, L"Corvane Filters", kCategoryMerit);
    return hr;
}

// The pages' registry updates only run their scripts.
template <UINT nScriptId>
HRESULT UpdateScriptRegistry(bool bRegister)
{
    return RunScript(nScriptId, bRegister);
}

CClassEntry g_classes[] = {
    {&CLSID_Tonewell, &CreateClassObject<CAudioSource>, &UpdateFilterRegistry, nullptr},
    {&CLSID_TonewellPP, &CreateClassObject<CAudioSourcePP>, &UpdateScriptRegistry<IDR_TONEWELL_PP>, nullptr},
    {&CLSID_TonewellAbout, &CreateClassObject<CTonewellAbout>, &UpdateScriptRegistry<IDR_TONEWELL_ABOUT>, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};
}

CClassEntry* ClassTable()
{
    return g_classes;
}

HINSTANCE ModuleInstance()
{
    return g_hInstance;
}

void SetModuleInstance(HINSTANCE hInstance)
{
    g_hInstance = hInstance;
    DWORD cch = GetModuleFileNameW(hInstance, g_szModulePath, MAX_PATH);
    g_szModulePath[cch <= MAX_PATH ? cch : MAX_PATH] = 0;
}

const wchar_t* ModulePath()
{
    return g_szModulePath;
}
