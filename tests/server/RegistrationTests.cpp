// Tonewell.dll registered with Wine's own regsvr32 in the private prefix, then used the way
// hosts use it: created through COM from both apartment kinds, found among the audio
// capture sources, recorded from; and unregistered again.
#include <gtest/gtest.h>

#include <dshow.h>
#include <qedit.h>

#include <algorithm>
#include <vector>

#include "TonewellIdl.h"
#include "common/Watchdog.h"
#include "dumps/PlatformFilters.h"
#include "framework/FilterRegistration.h"
#include "server/ServerTestSupport.h"
#include "support/ComPtr.h"

using namespace servertest;

namespace
{
const std::wstring kFilterKey = L"CLSID\\{5B7E0C40-8A2D-4F63-9E1B-6D4C3A2F7E90}";
const std::wstring kSettingsPageKey = L"CLSID\\{5B7E0C41-8A2D-4F63-9E1B-6D4C3A2F7E90}";
const std::wstring kAboutPageKey = L"CLSID\\{5B7E0C42-8A2D-4F63-9E1B-6D4C3A2F7E90}";
const std::wstring kTypeLibKey = L"TypeLib\\{2F6A9D13-E4B7-4C58-A1D3-7E9B05C4F2A8}";
// A filter of the tests' own in the maker's category: {0D1E2F30-4A5B-4C6D-8E9F-A0B1C2D3E4F5}.
const CLSID kOtherFilter = {0x0D1E2F30, 0x4A5B, 0x4C6D, {0x8E, 0x9F, 0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5}};

class RegistrationTest : public testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_EQ(RunRegsvr32(ModulePath(), true), 0u) << "unregistering what is not registered is no error";
        ASSERT_EQ(RunRegsvr32(ModulePath(), false), 0u);
    }
    void TearDown() override
    {
        EXPECT_EQ(RunRegsvr32(ModulePath(), true), 0u);
        CoUninitialize();
    }
    testwatch::CWatchdog m_watchdog;
};

TEST_F(RegistrationTest, ScriptKeysAndValuesAreInTheRegistry)
{
    struct
    {
        std::wstring path;
        const wchar_t* pszName;
        std::wstring expected;
    } values[] = {
        {L"Tonewell.TonewellFilter.1", nullptr, L"Corvane Tonewell"},
        {L"Tonewell.TonewellFilter.1\\CLSID", nullptr, L"{5B7E0C40-8A2D-4F63-9E1B-6D4C3A2F7E90}"},
        {L"Tonewell.TonewellFilter", nullptr, L"Corvane Tonewell"},
        {L"Tonewell.TonewellFilter\\CLSID", nullptr, L"{5B7E0C40-8A2D-4F63-9E1B-6D4C3A2F7E90}"},
        {L"Tonewell.TonewellFilter\\CurVer", nullptr, L"Tonewell.TonewellFilter.1"},
        {kFilterKey, nullptr, L"Corvane Tonewell"},
        {kFilterKey + L"\\ProgID", nullptr, L"Tonewell.TonewellFilter.1"},
        {kFilterKey + L"\\VersionIndependentProgID", nullptr, L"Tonewell.TonewellFilter"},
        {kFilterKey + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {kFilterKey + L"\\TypeLib", nullptr, L"{2F6A9D13-E4B7-4C58-A1D3-7E9B05C4F2A8}"},
        {L"Tonewell.TonewellPP.1", nullptr, L"Corvane Tonewell PropPage"},
        {L"Tonewell.TonewellPP.1\\CLSID", nullptr, L"{5B7E0C41-8A2D-4F63-9E1B-6D4C3A2F7E90}"},
        {L"Tonewell.TonewellPP", nullptr, L"Corvane Tonewell PropPage"},
        {L"Tonewell.TonewellPP\\CLSID", nullptr, L"{5B7E0C41-8A2D-4F63-9E1B-6D4C3A2F7E90}"},
        {L"Tonewell.TonewellPP\\CurVer", nullptr, L"Tonewell.TonewellPP.1"},
        {kSettingsPageKey, nullptr, L"Corvane Tonewell PropPage"},
        {kSettingsPageKey + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {L"Tonewell.KqTonewellAbout.1", nullptr, L"Corvane Tonewell About"},
        {L"Tonewell.KqTonewellAbout.1\\CLSID", nullptr, L"{5B7E0C42-8A2D-4F63-9E1B-6D4C3A2F7E90}"},
        {L"Tonewell.KqTonewellAbout", nullptr, L"Corvane Tonewell About"},
        {L"Tonewell.KqTonewellAbout\\CLSID", nullptr, L"{5B7E0C42-8A2D-4F63-9E1B-6D4C3A2F7E90}"},
        {L"Tonewell.KqTonewellAbout\\CurVer", nullptr, L"Tonewell.KqTonewellAbout.1"},
        {kAboutPageKey, nullptr, L"Corvane Tonewell About"},
        {kAboutPageKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
    };
    for (const auto& v : values)
        EXPECT_EQ(StringValue(HKEY_CLASSES_ROOT, v.path, v.pszName), v.expected) << v.path;
    for (const std::wstring& key : {kFilterKey, kSettingsPageKey, kAboutPageKey})
    {
        std::wstring server = StringValue(HKEY_CLASSES_ROOT, key + L"\\InprocServer32");
        EXPECT_EQ(_wcsicmp(server.c_str(), ModulePath().c_str()), 0) << key << ": " << server;
    }
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kAboutPageKey + L"\\Programmable"));
    // The settings page's class key holds its server only.
    for (const wchar_t* pszSub : {L"\\ProgID", L"\\VersionIndependentProgID", L"\\TypeLib", L"\\Programmable"})
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kSettingsPageKey + pszSub)) << pszSub;
}

TEST_F(RegistrationTest, TypeLibraryDescribesTheControlInterface)
{
    CComPtr<ITypeLib> spLib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_TONEWELLLib, 1, 0, LOCALE_NEUTRAL, &spLib), S_OK);
    CComBSTR bsName, bsDoc;
    ASSERT_EQ(spLib->GetDocumentation(-1, &bsName, &bsDoc, nullptr, nullptr), S_OK);
    EXPECT_STREQ(bsName, L"TONEWELLLib");
    EXPECT_STREQ(bsDoc, L"Corvane Tonewell 1.0 Type Library");

    CComPtr<ITypeInfo> spInfo;
    ASSERT_EQ(spLib->GetTypeInfoOfGuid(IID_ICRVTonewell, &spInfo), S_OK);
    TYPEATTR* pAttr = nullptr;
    ASSERT_EQ(spInfo->GetTypeAttr(&pAttr), S_OK);
    EXPECT_EQ(pAttr->cFuncs, 6);
    const WORD cFuncs = pAttr->cFuncs;
    spInfo->ReleaseTypeAttr(pAttr);
    const wchar_t* names[] = {L"SetParameters", L"GetParameters", L"SetFrequency",
                              L"GetFrequency",  L"SetAmplitude",  L"GetAmplitude"};
    const SHORT params[] = {4, 4, 2, 2, 2, 2};
    for (UINT i = 0; i < cFuncs && i < 6; ++i)
    {
        FUNCDESC* pFunc = nullptr;
        ASSERT_EQ(spInfo->GetFuncDesc(i, &pFunc), S_OK);
        CComBSTR bsFunc;
        UINT cNames = 0;
        EXPECT_EQ(spInfo->GetNames(pFunc->memid, &bsFunc, 1, &cNames), S_OK);
        EXPECT_STREQ(bsFunc, names[i]);
        EXPECT_EQ(pFunc->cParams, params[i]) << names[i];
        spInfo->ReleaseFuncDesc(pFunc);
    }
    CComPtr<ITypeInfo> spClass;
    EXPECT_EQ(spLib->GetTypeInfoOfGuid(CLSID_Tonewell, &spClass), S_OK);
}

// A development tool follows the classes to their interfaces and the interfaces to their
// base: every reference must land on a type with the interface's real identifier.
TEST_F(RegistrationTest, TypeLibraryReferencesResolveToTheirInterfaces)
{
    CComPtr<ITypeLib> spLib;
    ASSERT_EQ(LoadRegTypeLib(LIBID_TONEWELLLib, 1, 0, LOCALE_NEUTRAL, &spLib), S_OK);
    const struct
    {
        const wchar_t* pszType;
        GUID guid;
        std::vector<GUID> refs;
    } types[] = {
        {L"Tonewell", CLSID_Tonewell, {IID_ICRVTonewell, IID_ICvVersion}},
        {L"TonewellPP", CLSID_TonewellPP, {IID_IUnknown}},
        {L"TonewellAbout", CLSID_TonewellAbout, {IID_IUnknown}},
        {L"ICRVTonewell", IID_ICRVTonewell, {IID_IUnknown}},
        {L"ICvVersion", IID_ICvVersion, {IID_IUnknown}},
    };
    for (const auto& t : types)
    {
        CComPtr<ITypeInfo> spInfo;
        ASSERT_EQ(spLib->GetTypeInfoOfGuid(t.guid, &spInfo), S_OK) << t.pszType;
        TYPEATTR* pAttr = nullptr;
        ASSERT_EQ(spInfo->GetTypeAttr(&pAttr), S_OK) << t.pszType;
        const UINT cRefs = pAttr->cImplTypes;
        spInfo->ReleaseTypeAttr(pAttr);
        ASSERT_EQ(cRefs, t.refs.size()) << t.pszType;
        for (UINT i = 0; i < cRefs; ++i)
        {
            HREFTYPE hRef = 0;
            CComPtr<ITypeInfo> spRef;
            ASSERT_EQ(spInfo->GetRefTypeOfImplType(i, &hRef), S_OK) << t.pszType << " " << i;
            ASSERT_EQ(spInfo->GetRefTypeInfo(hRef, &spRef), S_OK) << t.pszType << " " << i;
            TYPEATTR* pRefAttr = nullptr;
            ASSERT_EQ(spRef->GetTypeAttr(&pRefAttr), S_OK) << t.pszType << " " << i;
            EXPECT_EQ(pRefAttr->typekind, TKIND_INTERFACE) << t.pszType << " " << i;
            EXPECT_TRUE(IsEqualGUID(pRefAttr->guid, t.refs[i])) << t.pszType << " " << i;
            spRef->ReleaseTypeAttr(pRefAttr);
        }
    }
}

// One thread per apartment kind creates the filter; the single-threaded one hands its
// pointer to the multithreaded one, which must receive the object itself.
TEST_F(RegistrationTest, CreatedFromBothApartmentsAndPassedDirectly)
{
    struct Shared
    {
        IStream* pStream = nullptr;
        IBaseFilter* pOriginal = nullptr;
        HRESULT hrCreate = E_FAIL;
        HANDLE hMarshalled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE hDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    } shared;
    HANDLE hSta = CreateThread(
        nullptr, 0,
        [](void* pv) -> DWORD {
            auto* p = static_cast<Shared*>(pv);
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            p->hrCreate = CoCreateInstance(CLSID_Tonewell, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                           reinterpret_cast<void**>(&p->pOriginal));
            if (SUCCEEDED(p->hrCreate))
                CoMarshalInterThreadInterfaceInStream(IID_IBaseFilter, p->pOriginal, &p->pStream);
            SetEvent(p->hMarshalled);
            // The apartment lives until the other thread is done with the pointer.
            WaitForSingleObject(p->hDone, INFINITE);
            if (p->pOriginal != nullptr)
                p->pOriginal->Release();
            CoUninitialize();
            return 0;
        },
        &shared, 0, nullptr);
    ASSERT_NE(hSta, nullptr);
    ASSERT_EQ(WaitForSingleObject(shared.hMarshalled, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(shared.hrCreate, S_OK);
    ASSERT_NE(shared.pStream, nullptr);
    CComPtr<IBaseFilter> spHere;
    EXPECT_EQ(CoGetInterfaceAndReleaseStream(shared.pStream, IID_IBaseFilter, reinterpret_cast<void**>(&spHere)), S_OK);
    EXPECT_EQ(spHere.p, shared.pOriginal) << "the free-threaded marshaler hands over the object, not a proxy";
    FILTER_INFO info = {};
    EXPECT_EQ(spHere->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Corvane Tonewell");
    spHere.Release();
    SetEvent(shared.hDone);
    WaitForSingleObject(hSta, INFINITE);
    CloseHandle(hSta);
    CloseHandle(shared.hMarshalled);
    CloseHandle(shared.hDone);

    CComPtr<ICRVTonewell> spMta;
    EXPECT_EQ(CoCreateInstance(CLSID_Tonewell, nullptr, CLSCTX_INPROC_SERVER, IID_ICRVTonewell,
                               reinterpret_cast<void**>(&spMta)),
              S_OK);
}

// A host picks audio capture sources through the system device enumerator.
TEST_F(RegistrationTest, FoundAmongAudioCaptureSourcesAndRecordedFrom)
{
    std::vector<std::wstring> names = CategoryNames(CLSID_AudioInputDeviceCategory);
    EXPECT_NE(std::find(names.begin(), names.end(), L"Corvane Tonewell"), names.end());
    names = CategoryNames(CLSID_CorvaneFilterCategory);
    EXPECT_EQ(std::count(names.begin(), names.end(), L"Corvane Tonewell"), 1);

    CComPtr<ICreateDevEnum> spDevEnum;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                               reinterpret_cast<void**>(&spDevEnum)),
              S_OK);
    CComPtr<IEnumMoniker> spEnum;
    ASSERT_EQ(spDevEnum->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, &spEnum, 0), S_OK);
    CComPtr<IBaseFilter> spSource;
    for (CComPtr<IMoniker> spMoniker; !spSource && spEnum->Next(1, &spMoniker, nullptr) == S_OK; spMoniker.Release())
    {
        CComPtr<IPropertyBag> spBag;
        VARIANT var;
        VariantInit(&var);
        if (SUCCEEDED(spMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&spBag))) &&
            SUCCEEDED(spBag->Read(L"FriendlyName", &var, nullptr)) && var.vt == VT_BSTR &&
            wcscmp(var.bstrVal, L"Corvane Tonewell") == 0)
        {
            EXPECT_EQ(spMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&spSource)),
                      S_OK);
        }
        VariantClear(&var);
    }
    ASSERT_TRUE(spSource);

    CComPtr<IGraphBuilder> spGraph;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&spGraph)),
              S_OK);
    CComPtr<IBaseFilter> spGrabberFilter, spNull;
    ASSERT_EQ(CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&spGrabberFilter)),
              S_OK);
    ASSERT_EQ(CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&spNull)),
              S_OK);
    ASSERT_EQ(spGraph->AddFilter(spSource, L"Capture"), S_OK);
    ASSERT_EQ(spGraph->AddFilter(spGrabberFilter, L"Grabber"), S_OK);
    ASSERT_EQ(spGraph->AddFilter(spNull, L"Null"), S_OK);
    CComQIPtr<ISampleGrabber> spGrabber(spGrabberFilter);
    ASSERT_TRUE(spGrabber);
    ASSERT_EQ(spGrabber->SetBufferSamples(TRUE), S_OK);
    CComPtr<IPin> spOut, spGrabIn, spGrabOut, spNullIn;
    ASSERT_EQ(spSource->FindPin(L"Out", &spOut), S_OK);
    CComPtr<IEnumPins> spPins;
    ASSERT_EQ(spGrabberFilter->EnumPins(&spPins), S_OK);
    ASSERT_EQ(spPins->Next(1, &spGrabIn, nullptr), S_OK);
    ASSERT_EQ(spPins->Next(1, &spGrabOut, nullptr), S_OK);
    spPins.Release();
    ASSERT_EQ(spNull->EnumPins(&spPins), S_OK);
    ASSERT_EQ(spPins->Next(1, &spNullIn, nullptr), S_OK);
    ASSERT_EQ(spGraph->Connect(spOut, spGrabIn), S_OK);
    ASSERT_EQ(spGraph->Connect(spGrabOut, spNullIn), S_OK);
    ASSERT_EQ(CComQIPtr<IMediaFilter>(spGraph)->SetSyncSource(nullptr), S_OK);
    CComQIPtr<IMediaControl> spControl(spGraph);
    ASSERT_TRUE(SUCCEEDED(spControl->Run()));
    // The grabber holds a buffer once the first sample has passed.
    long cb = 0;
    for (int i = 0; i < 500 && spGrabber->GetCurrentBuffer(&cb, nullptr) != S_OK; ++i)
        Sleep(10);
    EXPECT_EQ(cb, 7680) << "40 ms of 16-bit stereo at 48000 Hz";
    EXPECT_EQ(spControl->Stop(), S_OK);
}

TEST_F(RegistrationTest, RegisteringTwiceLeavesOneEntryPerCategory)
{
    ASSERT_EQ(RunRegsvr32(ModulePath(), false), 0u);
    for (const GUID* pCategory : {&CLSID_AudioInputDeviceCategory, &CLSID_CorvaneFilterCategory})
    {
        std::vector<std::wstring> names = CategoryNames(*pCategory);
        EXPECT_EQ(std::count(names.begin(), names.end(), L"Corvane Tonewell"), 1) << GuidText(*pCategory);
    }
}

// Unregistration takes everything away; the maker's category goes only with its last filter.
TEST_F(RegistrationTest, UnregistrationRemovesClassesTypeLibraryAndMapperEntries)
{
    CComPtr<IFilterMapper2> spMapper;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                               reinterpret_cast<void**>(&spMapper)),
              S_OK);
    REGFILTER2 rf2 = {};
    rf2.dwVersion = 1;
    rf2.dwMerit = MERIT_DO_NOT_USE;
    ASSERT_EQ(spMapper->RegisterFilter(kOtherFilter, L"Other Corvane Filter", nullptr, &CLSID_CorvaneFilterCategory,
                                       nullptr, &rf2),
              S_OK);

    ASSERT_EQ(RunRegsvr32(ModulePath(), true), 0u);
    for (const std::wstring& key :
         {kFilterKey, std::wstring(L"Tonewell.TonewellFilter"), std::wstring(L"Tonewell.TonewellFilter.1"), kTypeLibKey,
          kSettingsPageKey, std::wstring(L"Tonewell.TonewellPP"), std::wstring(L"Tonewell.TonewellPP.1"), kAboutPageKey,
          std::wstring(L"Tonewell.KqTonewellAbout"), std::wstring(L"Tonewell.KqTonewellAbout.1")})
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
    EXPECT_FALSE(CategoryHolds(CLSID_AudioInputDeviceCategory, CLSID_Tonewell));
    EXPECT_FALSE(CategoryHolds(CLSID_CorvaneFilterCategory, CLSID_Tonewell));
    EXPECT_TRUE(VTMLRegisterCategory(FALSE, CLSID_CorvaneFilterCategory, nullptr, 0) == S_OK)
        << "another filter keeps the category";
    EXPECT_TRUE(CategoryHolds(CLSID_CorvaneFilterCategory, kOtherFilter));

    ASSERT_EQ(spMapper->UnregisterFilter(&CLSID_CorvaneFilterCategory, nullptr, kOtherFilter), S_OK);
    ASSERT_EQ(RunRegsvr32(ModulePath(), false), 0u);
    ASSERT_EQ(RunRegsvr32(ModulePath(), true), 0u);
    EXPECT_EQ(VTMLRegisterCategory(FALSE, CLSID_CorvaneFilterCategory, nullptr, 0), S_FALSE)
        << "the last filter takes the category with it";
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(CLSID_CorvaneFilterCategory)));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(CLSID_AudioInputDeviceCategory)))
        << "the platform's category is never removed";
}
}
