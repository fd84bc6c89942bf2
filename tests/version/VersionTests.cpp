// The version interface: its texts, its null-pointer results and its trace line, for a
// module with the version resource and for one without.
#include <gtest/gtest.h>

#include <string>

#include "common/TestSinkClient.h"
#include "version/VersionObject.h"

namespace
{
const char kDate[] = "Jan  5 2024";
const char kTime[] = "09:03:07";

using PFN_CreateVersion = HRESULT (*)(LPCSTR, LPCSTR, LPCSTR, LPCWSTR, ICvVersion**);

// The wrapper inside the test program, which has no version resource.
CComPtr<CComObject<CVersionObject>> Local(LPCSTR pszDate = kDate, LPCSTR pszTime = kTime, LPCSTR pszName = nullptr)
{
    CComObject<CVersionObject>* p = nullptr;
    EXPECT_EQ(CComObject<CVersionObject>::CreateUnreferenced(&p, pszDate, pszTime, pszName), S_OK);
    return CComPtr<CComObject<CVersionObject>>(p);
}

// Loads a probe module for the test's life and creates its version objects.
class CProbe
{
public:
    explicit CProbe(const wchar_t* pszDll) : m_hModule(LoadLibraryW(pszDll))
    {
        m_pfnCreate = m_hModule ? reinterpret_cast<PFN_CreateVersion>(GetProcAddress(m_hModule, "Probe_CreateVersion"))
                                : nullptr;
    }
    ~CProbe()
    {
        if (m_hModule)
            FreeLibrary(m_hModule);
    }
    bool IsLoaded() const { return m_pfnCreate != nullptr; }
    CComPtr<ICvVersion> Create(LPCWSTR pszObjectName = nullptr, LPCSTR pszDate = kDate) const
    {
        CComPtr<ICvVersion> spVersion;
        EXPECT_EQ(m_pfnCreate(pszDate, kTime, nullptr, pszObjectName, &spVersion), S_OK);
        return spVersion;
    }

private:
    HMODULE m_hModule;
    PFN_CreateVersion m_pfnCreate;
};

using PFN_Text = HRESULT (STDMETHODCALLTYPE ICvVersion::*)(BSTR*);

std::wstring Text(ICvVersion* pVersion, PFN_Text pfn)
{
    CComBSTR cbs;
    EXPECT_EQ((pVersion->*pfn)(&cbs), S_OK);
    return cbs ? std::wstring(cbs) : L"<null>";
}
}

TEST(CvVersion, TypeAndPlatformOfThisBuild)
{
    auto spVersion = Local();
    tagCv_Ver_Type eType = eCv_Ver_Release;
    tagCv_Ver_OS eOS = eCv_Ver_win32;
    EXPECT_EQ(spVersion->VerType(&eType), S_OK);
    EXPECT_EQ(spVersion->VerOS(&eOS), S_OK);
    EXPECT_EQ(eType, eCv_Ver_Debug);
    EXPECT_EQ(eOS, eCv_Ver_x64);
}

TEST(CvVersion, NullOutPointersGiveEPointer)
{
    auto spVersion = Local();
    EXPECT_EQ(spVersion->VerType(nullptr), E_POINTER);
    EXPECT_EQ(spVersion->VerOS(nullptr), E_POINTER);
    EXPECT_EQ(spVersion->VerName(nullptr), E_POINTER);
    EXPECT_EQ(spVersion->VerNumber(nullptr), E_POINTER);
    EXPECT_EQ(spVersion->VerCreated(nullptr), E_POINTER);
}

TEST(CvVersion, NameIsTheDefaultOrTheGivenOneInSeparateCopies)
{
    auto spVersion = Local();
    CComBSTR cbsFirst, cbsSecond;
    ASSERT_EQ(spVersion->VerName(&cbsFirst), S_OK);
    ASSERT_EQ(spVersion->VerName(&cbsSecond), S_OK);
    EXPECT_STREQ(cbsFirst, L"Corvane Tonewell");
    EXPECT_STREQ(cbsSecond, L"Corvane Tonewell");
    EXPECT_NE(static_cast<BSTR>(cbsFirst), static_cast<BSTR>(cbsSecond));
    EXPECT_EQ(Text(Local(kDate, kTime, "Other Product"), &ICvVersion::VerName), L"Other Product");
}

struct DateCase
{
    const char* pszDate;
    const char* pszTime;
    const wchar_t* pszExpected;
};

class CvVersionDate : public testing::TestWithParam<DateCase>
{
};

TEST_P(CvVersionDate, DayMonthYearAndTime)
{
    const DateCase& c = GetParam();
    EXPECT_EQ(Text(Local(c.pszDate, c.pszTime), &ICvVersion::VerCreated), c.pszExpected);
}

INSTANTIATE_TEST_SUITE_P(Stamps, CvVersionDate,
                         testing::Values(DateCase{"Jan  5 2024", "09:03:07", L"05-Jan-2024 09:03:07"},
                                         DateCase{"Mar  7 2024", "00:00:00", L"07-Mar-2024 00:00:00"},
                                         DateCase{"Oct 10 2025", "12:30:45", L"10-Oct-2025 12:30:45"},
                                         DateCase{"Dec 25 2023", "23:59:59", L"25-Dec-2023 23:59:59"}));

TEST(CvVersion, NoDateGivesNoDateText)
{
    for (const char* pszDate : {static_cast<const char*>(nullptr), "Jan  5"})
    {
        auto spVersion = Local(pszDate);
        EXPECT_EQ(Text(spVersion, &ICvVersion::VerCreated), L"<null>");
        EXPECT_EQ(Text(spVersion, &ICvVersion::VerName), L"Corvane Tonewell");
    }
    EXPECT_EQ(Text(Local(kDate, nullptr), &ICvVersion::VerCreated), L"<null>");
}

TEST(CvVersion, NumberComesFromTheResourceOfTheWrappersModule)
{
    CProbe withResource(L"versionprobe.dll");
    CProbe withoutResource(L"versionprobe_nores.dll");
    ASSERT_TRUE(withResource.IsLoaded());
    ASSERT_TRUE(withoutResource.IsLoaded());
    EXPECT_EQ(Text(withResource.Create(), &ICvVersion::VerNumber), L"1.1.2.0");
    EXPECT_EQ(Text(withoutResource.Create(), &ICvVersion::VerNumber), L"0.0.0.0");
    // The test program has no version resource either.
    EXPECT_EQ(Text(Local(), &ICvVersion::VerNumber), L"0.0.0.0");
}

TEST(CvVersion, TheInterfaceIsFoundByItsIdentifier)
{
    auto spLocal = Local();
    CComPtr<ICvVersion> spVersion;
    EXPECT_EQ(spLocal->QueryInterface(IID_ICvVersion, reinterpret_cast<void**>(&spVersion)), S_OK);
    EXPECT_EQ(static_cast<ICvVersion*>(spVersion), static_cast<ICvVersion*>(spLocal.p));
    EXPECT_TRUE(InlineIsEqualGUID(__uuidof(ICvVersion), IID_ICvVersion));
}

// ---------------------------------------------------------------- the version line

class CvVersionTrace : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_sink.IsLoaded());
        m_sink.Clear();
    }
    testsink::CSinkReader m_sink{L"testsink.dll"};
};

TEST_F(CvVersionTrace, LineWithAndWithoutObjectName)
{
    auto spVersion = Local();
    spVersion->TraceVersion(L"[Tonewell]");
    spVersion->TraceVersion(nullptr);
    auto events = m_sink.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], L"L\x1B\x03TEST_VERSION: [Tonewell] Version: Corvane Tonewell [D64 v.0.0.0.0 "
                         L"05-Jan-2024 09:03:07]\n");
    EXPECT_EQ(events[1], L"L\x1B\x03TEST_VERSION: Version: Corvane Tonewell [D64 v.0.0.0.0 05-Jan-2024 09:03:07]\n");
}

TEST_F(CvVersionTrace, LineOfTheModuleWithItsResource)
{
    CProbe probe(L"versionprobe.dll");
    ASSERT_TRUE(probe.IsLoaded());
    m_sink.Clear();
    probe.Create(L"[Tonewell]");
    auto events = m_sink.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], L"L\x1B\x03VERSIONPROBE: [Tonewell] Version: Corvane Tonewell [D64 v.1.1.2.0 "
                         L"05-Jan-2024 09:03:07]\n");
}

TEST_F(CvVersionTrace, NothingIsWrittenWithoutADateText)
{
    auto spVersion = Local(nullptr);
    m_sink.Clear();  // the constructor reports the null date
    spVersion->TraceVersion(L"[Tonewell]");
    EXPECT_TRUE(m_sink.Events().empty());
}
