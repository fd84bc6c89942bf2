// The module's exports called in-process: class objects, the unload answer, the caller's
// locale around registration; and the mapper registration of a class whose key is incomplete.
#include <gtest/gtest.h>

#include "TonewellIdl.h"
#include "framework/FilterRegistration.h"
#include "server/ServerTestSupport.h"
#include "support/ComPtr.h"

using namespace servertest;

namespace
{
class ModuleTest : public testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        m_hModule = LoadLibraryW(ModulePath().c_str());
        ASSERT_NE(m_hModule, nullptr);
        m_pfnGetClassObject = reinterpret_cast<decltype(m_pfnGetClassObject)>(GetProcAddress(m_hModule, "DllGetClassObject"));
        m_pfnCanUnloadNow = reinterpret_cast<decltype(m_pfnCanUnloadNow)>(GetProcAddress(m_hModule, "DllCanUnloadNow"));
        m_pfnRegister = reinterpret_cast<decltype(m_pfnRegister)>(GetProcAddress(m_hModule, "DllRegisterServer"));
        m_pfnUnregister = reinterpret_cast<decltype(m_pfnUnregister)>(GetProcAddress(m_hModule, "DllUnregisterServer"));
        ASSERT_TRUE(m_pfnGetClassObject && m_pfnCanUnloadNow && m_pfnRegister && m_pfnUnregister);
    }
    void TearDown() override
    {
        if (m_hModule != nullptr)
            FreeLibrary(m_hModule);
        CoUninitialize();
    }

    HMODULE m_hModule = nullptr;
    HRESULT(STDAPICALLTYPE* m_pfnGetClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* m_pfnCanUnloadNow)() = nullptr;
    HRESULT(STDAPICALLTYPE* m_pfnRegister)() = nullptr;
    HRESULT(STDAPICALLTYPE* m_pfnUnregister)() = nullptr;
};

TEST_F(ModuleTest, UnknownClassIsNotAvailable)
{
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(m_pfnGetClassObject(CLSID_FilterGraph, IID_IClassFactory, &pv), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(m_pfnGetClassObject(CLSID_Tonewell, IID_IClassFactory, nullptr), E_POINTER);
}

// The module may unload only while no object of it lives and no server lock is held.
TEST_F(ModuleTest, CanUnloadFollowsObjectsAndServerLocks)
{
    EXPECT_EQ(m_pfnCanUnloadNow(), S_OK);
    CComPtr<IClassFactory> spFactory;
    ASSERT_EQ(m_pfnGetClassObject(CLSID_Tonewell, IID_IClassFactory, reinterpret_cast<void**>(&spFactory)), S_OK);
    EXPECT_EQ(m_pfnCanUnloadNow(), S_FALSE) << "a host holds the class object";
    CComPtr<IClassFactory> spAgain;
    ASSERT_EQ(m_pfnGetClassObject(CLSID_Tonewell, IID_IClassFactory, reinterpret_cast<void**>(&spAgain)), S_OK);
    EXPECT_EQ(spAgain.p, spFactory.p) << "the class object is cached";
    spAgain.Release();

    CComPtr<IBaseFilter> spFilter;
    ASSERT_EQ(spFactory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&spFilter)), S_OK);
    ASSERT_EQ(spFactory->LockServer(TRUE), S_OK);
    spFactory.Release();
    EXPECT_EQ(m_pfnCanUnloadNow(), S_FALSE) << "a filter and a server lock";
    spFilter.Release();
    EXPECT_EQ(m_pfnCanUnloadNow(), S_FALSE) << "the server lock";
    ASSERT_EQ(m_pfnGetClassObject(CLSID_Tonewell, IID_IClassFactory, reinterpret_cast<void**>(&spFactory)), S_OK);
    ASSERT_EQ(spFactory->LockServer(FALSE), S_OK);
    spFactory.Release();
    EXPECT_EQ(m_pfnCanUnloadNow(), S_OK);
}

// Aggregation: each class object creates its object inside an outer object asking for IUnknown.
TEST_F(ModuleTest, ClassObjectCreatesInsideAnOuterObject)
{
    struct COuter : IUnknown
    {
        LONG m_nRef = 1;
        STDMETHODIMP_(ULONG) AddRef() override { return ULONG(++m_nRef); }
        STDMETHODIMP_(ULONG) Release() override { return ULONG(--m_nRef); }
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
        {
            if (riid == IID_IUnknown)
            {
                *ppv = this;
                AddRef();
                return S_OK;
            }
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
    } outer;
    const struct
    {
        const CLSID* pClsid;
        const IID* pIid;
        const char* pszName;
    } classes[] = {{&CLSID_Tonewell, &IID_IBaseFilter, "filter"},
                   {&CLSID_TonewellPP, &IID_IPropertyPage, "settings page"},
                   {&CLSID_TonewellAbout, &IID_IPropertyPage, "About page"}};
    for (const auto& c : classes)
    {
        SCOPED_TRACE(c.pszName);
        CComPtr<IClassFactory> spFactory;
        ASSERT_EQ(m_pfnGetClassObject(*c.pClsid, IID_IClassFactory, reinterpret_cast<void**>(&spFactory)), S_OK);
        IUnknown* pInner = nullptr;
        EXPECT_EQ(spFactory->CreateInstance(&outer, *c.pIid, reinterpret_cast<void**>(&pInner)), CLASS_E_NOAGGREGATION);
        ASSERT_EQ(spFactory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&pInner)), S_OK);
        CComPtr<IUnknown> spObject;
        ASSERT_EQ(pInner->QueryInterface(*c.pIid, reinterpret_cast<void**>(&spObject)), S_OK);
        CComPtr<IUnknown> spIdentity;
        ASSERT_EQ(spObject->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&spIdentity)), S_OK);
        EXPECT_EQ(spIdentity.p, static_cast<IUnknown*>(&outer));
        spIdentity.Release();
        spObject.Release();
        EXPECT_EQ(pInner->Release(), 0u);
        spFactory.Release();
        EXPECT_EQ(m_pfnCanUnloadNow(), S_OK);
    }
}

TEST_F(ModuleTest, RegistrationRestoresTheCallersLocale)
{
    const LCID lcidGerman = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
    ASSERT_NE(lcidGerman, GetSystemDefaultLCID());
    ASSERT_TRUE(SetThreadLocale(lcidGerman));
    EXPECT_EQ(m_pfnRegister(), S_OK);
    EXPECT_EQ(GetThreadLocale(), lcidGerman);
    EXPECT_EQ(m_pfnUnregister(), S_OK);
    EXPECT_EQ(GetThreadLocale(), lcidGerman);
    SetThreadLocale(GetSystemDefaultLCID());
}

// The mapper entry takes its name from the class key: without one there is no entry.
TEST_F(ModuleTest, ClassKeyWithoutNameMakesFilterRegistrationFail)
{
    // {7A8B9C0D-1E2F-4A3B-8C4D-5E6F708192A3}
    const CLSID clsid = {0x7A8B9C0D, 0x1E2F, 0x4A3B, {0x8C, 0x4D, 0x5E, 0x6F, 0x70, 0x81, 0x92, 0xA3}};
    const std::wstring key = L"CLSID\\" + GuidText(clsid);
    static const REGPINTYPES s_type = {&GUID_NULL, &GUID_NULL};
    static WCHAR s_szOut[] = L"Out";
    static const REGFILTERPINS s_pin = {s_szOut, FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &s_type};
    const CFilterSetup setup = {[]() -> UINT { return 1; }, [](UINT) -> const REGFILTERPINS* { return &s_pin; }};

    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    EXPECT_EQ(RegisterFilter(TRUE, clsid, MERIT_DO_NOT_USE, CLSID_AudioInputDeviceCategory, setup),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) << "no class key";
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(h);
    EXPECT_EQ(RegisterFilter(TRUE, clsid, MERIT_DO_NOT_USE, CLSID_AudioInputDeviceCategory, setup),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) << "no default value";
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(WCHAR)), ERROR_SUCCESS);
    RegCloseKey(h);
    EXPECT_EQ(RegisterFilter(TRUE, clsid, MERIT_DO_NOT_USE, CLSID_AudioInputDeviceCategory, setup), E_FAIL)
        << "an empty name";
    EXPECT_FALSE(CategoryHolds(CLSID_AudioInputDeviceCategory, clsid));

    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Named"), 6 * sizeof(WCHAR)),
              ERROR_SUCCESS);
    RegCloseKey(h);
    EXPECT_EQ(RegisterFilter(TRUE, clsid, MERIT_DO_NOT_USE, CLSID_AudioInputDeviceCategory, setup), S_OK);
    EXPECT_TRUE(CategoryHolds(CLSID_AudioInputDeviceCategory, clsid));
    EXPECT_EQ(RegisterFilter(FALSE, clsid, MERIT_DO_NOT_USE, CLSID_AudioInputDeviceCategory, setup), S_OK);
    EXPECT_FALSE(CategoryHolds(CLSID_AudioInputDeviceCategory, clsid));
    EXPECT_EQ(RegisterFilter(FALSE, clsid, MERIT_DO_NOT_USE, CLSID_AudioInputDeviceCategory, setup), S_OK)
        << "unregistering an unknown filter is no error";
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
}
}
