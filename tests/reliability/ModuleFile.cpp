#include "reliability/ModuleFile.h"

#include <string>

namespace campaign
{
namespace
{
std::wstring ModulePath()
{
    wchar_t sz[MAX_PATH];
    DWORD cch = GetModuleFileNameW(nullptr, sz, MAX_PATH);
    std::wstring path(sz, cch);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"Tonewell.dll";
}
}

CModule::CModule()
{
    m_h = LoadLibraryW(ModulePath().c_str());
    if (m_h == nullptr)
        return;
    m_pfnGetClassObject =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(GetProcAddress(m_h, "DllGetClassObject"));
    m_pfnCanUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(m_h, "DllCanUnloadNow"));
    if (m_pfnGetClassObject != nullptr)
        m_pfnGetClassObject(CLSID_Tonewell, IID_IClassFactory, reinterpret_cast<void**>(&m_spFactory));
}

CComPtr<IBaseFilter> CModule::Create()
{
    CComPtr<IBaseFilter> spFilter;
    m_spFactory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&spFilter));
    return spFilter;
}

HRESULT CModule::CreateOf(REFCLSID clsid, REFIID riid, void** ppv)
{
    CComPtr<IClassFactory> spFactory;
    HRESULT hr = m_pfnGetClassObject != nullptr
                     ? m_pfnGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&spFactory))
                     : E_FAIL;
    return SUCCEEDED(hr) ? spFactory->CreateInstance(nullptr, riid, ppv) : hr;
}

bool CModule::Unload()
{
    m_spFactory.Release();
    if (m_h != nullptr && m_pfnCanUnloadNow() == S_OK)
    {
        FreeLibrary(m_h);
        m_h = nullptr;
    }
    return m_h == nullptr && GetModuleHandleW(L"Tonewell.dll") == nullptr;
}
}
