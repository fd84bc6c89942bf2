#include "framework/FilterRegistration.h"

#include <string>
#include <vector>

#include "diagnostics/DSTrace.h"
#include "support/ComBase.h"
#include "support/ComPtr.h"
#include "support/Registry.h"

// {6E565243-4A1F-4B8E-93C2-5D7A1E0F6B39}: the first field holds the bytes "CRVn".
const GUID CLSID_CorvaneFilterCategory = {0x6E565243, 0x4A1F, 0x4B8E, {0x93, 0xC2, 0x5D, 0x7A, 0x1E, 0x0F, 0x6B, 0x39}};
// {3C9E1F07-6B2D-4A5E-8F14-2B7D9A0C6E51}
const GUID CLSID_CorvaneFormerCategory = {0x3C9E1F07, 0x6B2D, 0x4A5E, {0x8F, 0x14, 0x2B, 0x7D, 0x9A, 0x0C, 0x6E, 0x51}};

namespace
{
// The platform's list of filter categories.
const GUID kActiveMovieCategories = {0xDA4E3DA0, 0xD07D, 0x11D0, {0xBD, 0x50, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};

// A GUID in registry form, upper-case hexadecimal in braces.
std::wstring GuidText(REFGUID guid)
{
    WCHAR sz[40] = {};
    StringFromGUID2(guid, sz, 40);
    return sz;
}

HRESULT FromWin32(LONG lError)
{
    return lError == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(DWORD(lError));
}

class CKey
{
public:
    ~CKey()
    {
        if (m_h != nullptr)
            RegCloseKey(m_h);
    }
    LONG Open(HKEY hParent, const std::wstring& path, REGSAM sam)
    {
        return RegOpenKeyExW(hParent, path.c_str(), 0, sam, &m_h);
    }
    HKEY m_h = nullptr;
};

// The failure of a call, or hrInstead for a success code that is not S_OK.
HRESULT FailureOf(HRESULT hr, HRESULT hrInstead)
{
    return FAILED(hr) ? hr : hrInstead;
}
}

HRESULT VTMLRegisterCategory(BOOL bRegister, REFGUID clsidCategory, LPCWSTR pszName, DWORD dwCategoryMerit)
{
    const std::wstring category = GuidText(clsidCategory);
    const std::wstring list = L"CLSID\\" + GuidText(kActiveMovieCategories) + L"\\Instance";
    CKey keyList, keyCategory;
    LONG lOpen = keyList.Open(HKEY_CLASSES_ROOT, list, KEY_READ);
    if (lOpen == ERROR_SUCCESS)
        lOpen = keyCategory.Open(keyList.m_h, category, KEY_READ);
    const bool bPresent = lOpen == ERROR_SUCCESS;

    if (pszName == nullptr)
    {
        if (bRegister)
            return bPresent ? S_OK : FromWin32(lOpen);
        return bPresent ? S_OK : S_FALSE;
    }
    if (bRegister)
    {
        if (bPresent)
            return S_OK;
        CComPtr<IFilterMapper2> spMapper;
        HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                      reinterpret_cast<void**>(&spMapper));
        if (hr != S_OK || !spMapper)
        {
            DebugAssert(false, __FILE_NAME__, __LINE__,
                        "!_T(\"VTMLRegisterCategory( TRUE ): CoCreateInstance(CLSID_FilterMapper2) FAILED\")");
            return FailureOf(hr, E_FAIL);
        }
        hr = spMapper->CreateCategory(clsidCategory, dwCategoryMerit, pszName);
        DebugAssert(hr == S_OK, __FILE_NAME__, __LINE__,
                    "hr == S_OK && _T(\"VTMLRegisterCategory( TRUE ): IFilterMapper2::CreateCategory() FAILED\")");
        return S_OK;
    }

    CKey keyClsid;
    LONG l = keyClsid.Open(HKEY_CLASSES_ROOT, L"CLSID", KEY_ALL_ACCESS);
    if (l != ERROR_SUCCESS)
    {
        DebugAssert(false, __FILE_NAME__, __LINE__, "!_T(\"VTMLRegisterCategory( FALSE ): keyClsid.Open( CLSID ) FAILED\")");
        return FromWin32(l);
    }
    CKey keyInstances;
    if (keyInstances.Open(keyClsid.m_h, category + L"\\Instance", KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return S_FALSE;
    DWORD nFilters = 0;
    if (RegQueryInfoKeyW(keyInstances.m_h, nullptr, nullptr, nullptr, &nFilters, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        nFilters != 0)
        return S_FALSE;
    RegCloseKey(keyInstances.m_h);
    keyInstances.m_h = nullptr;
    if (FAILED(RegDeleteKeyTree(keyClsid.m_h, category.c_str())))
    {
        DebugAssert(false, __FILE_NAME__, __LINE__,
                    "!_T(\"VTMLRegisterCategory( FALSE ): CLSID -> RecurseDeleteKey() FAILED\")");
        return S_FALSE;
    }
    CKey keyListWrite;
    if (keyListWrite.Open(HKEY_CLASSES_ROOT, list, KEY_ALL_ACCESS) != ERROR_SUCCESS ||
        FAILED(RegDeleteKeyTree(keyListWrite.m_h, category.c_str())))
    {
        DebugAssert(false, __FILE_NAME__, __LINE__,
                    "!_T(\"VTMLRegisterCategory( FALSE ): ActiveMovie -> RecurseDeleteKey() FAILED\")");
        return S_FALSE;
    }
    return S_OK;
}

HRESULT RegisterFilter(BOOL bRegister, REFCLSID clsidFilter, DWORD dwMerit, REFGUID clsidCategory,
                       const CFilterSetup& setup)
{
    CComPtr<IFilterMapper2> spMapper;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&spMapper));
    if (FAILED(hr))
        return hr;
    if (!spMapper)
        return E_FAIL;
    if (InlineIsEqualGUID(clsidCategory, CLSID_CorvaneFilterCategory))
        spMapper->UnregisterFilter(&CLSID_CorvaneFormerCategory, nullptr, clsidFilter);
    hr = spMapper->UnregisterFilter(&clsidCategory, nullptr, clsidFilter);
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
        hr = S_OK;
    if (!bRegister)
        return hr;

    CKey keyFilter;
    LONG l = keyFilter.Open(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(clsidFilter), KEY_READ);
    if (l != ERROR_SUCCESS)
    {
        DebugAssert(false, __FILE_NAME__, __LINE__, "!_T(\"RegisterFilter( TRUE ): COM-object not registered\")");
        return FromWin32(l);
    }
    WCHAR szName[128 + 1] = {};
    DWORD dwType = 0, cbName = 256;
    l = RegQueryValueExW(keyFilter.m_h, nullptr, nullptr, &dwType, reinterpret_cast<BYTE*>(szName), &cbName);
    if (l != ERROR_SUCCESS || dwType != REG_SZ || szName[0] == 0)
    {
        DebugAssert(false, __FILE_NAME__, __LINE__, "!_T(\"RegisterFilter( TRUE ): name of filter not found\")");
        return l != ERROR_SUCCESS ? FromWin32(l) : E_FAIL;
    }

    std::vector<REGFILTERPINS> pins;
    const UINT nPins = setup.pfnCount != nullptr ? setup.pfnCount() : 0;
    for (UINT i = 0; i < nPins; ++i)
    {
        const REGFILTERPINS* pPin = setup.pfnPin(i);
        DS_ASSERT(pPin != NULL);
        if (pPin == nullptr)
            return E_UNEXPECTED;
        DebugAssert(!pPin->bRendered || !pPin->bOutput, __FILE_NAME__, __LINE__,
                    "(wPinType & PT_RENDERED) == 0 || (wPinType & PT_OUTPUT) == 0");
        pins.push_back(*pPin);
    }
    REGFILTER2 rf2 = {};
    rf2.dwVersion = 1;
    rf2.dwMerit = dwMerit;
    rf2.cPins = ULONG(pins.size());
    rf2.rgPins = pins.data();
    return spMapper->RegisterFilter(clsidFilter, szName, nullptr, &clsidCategory, nullptr, &rf2);
}
