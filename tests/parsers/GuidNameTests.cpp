// GUIDs by name: the two tables, the FOURCC family, the registry form, the cut to the
// caller's size, and the one-time sort of the tables under concurrent first use.
#include <gtest/gtest.h>

#include "GuardedBuffer.h"
#include "diagnostics/DSParsers.h"
#include "diagnostics/GuidNames.h"

#include <dshow.h>
#include <ks.h>
#include <ksmedia.h>

#include <algorithm>
#include <random>
#include <string.h>
#include <thread>

namespace
{
GUID FourccGuid(DWORD d)
{
    GUID guid = MEDIATYPE_Audio;  // {xxxxxxxx-0000-0010-8000-00AA00389B71}
    guid.Data1 = d;
    return guid;
}

std::wstring NameOf(REFGUID guid, int nMaxSym = GUID_NAME_CCH)
{
    CGuardedBuffer buf(nMaxSym);
    LPCWSTR psz = Guid2Name(guid, buf.Get(), nMaxSym);
    EXPECT_EQ(psz, buf.Get());
    EXPECT_TRUE(buf.FenceIntact());
    return buf.Text();
}

struct NameCase
{
    GUID guid;
    const wchar_t* pszName;
};

class GuidText : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(GuidText, NamesTheGuid)
{
    EXPECT_EQ(NameOf(GetParam().guid), GetParam().pszName);
}

// Wine's qedit filter; its class identifier is not among the SDK headers here.
const CLSID kNullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const GUID kUnknown = {0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
const GUID kLavSplitter = {0x171252A0, 0x8820, 0x4AFE, {0x9D, 0xF8, 0x5C, 0x92, 0xB2, 0xD6, 0x6B, 0x04}};

// The table values are the platform's own: the names resolve the SDK's symbols.
INSTANTIATE_TEST_SUITE_P(
    PlatformSymbols, GuidText,
    ::testing::Values(NameCase{GUID_NULL, L"GUID_NULL"}, NameCase{CLSID_FilterGraph, L"Filter Graph"},
                      NameCase{CLSID_SystemClock, L"System Reference clock"},
                      NameCase{kNullRenderer, L"Null Renderer"}, NameCase{CLSID_AsyncReader, L"Async Reader"},
                      NameCase{CLSID_AudioInputDeviceCategory, L"Audio Input Device Category"},
                      NameCase{CLSID_ActiveMovieCategories, L"Active Movie Categories"},
                      NameCase{IID_IBaseFilter, L"IBaseFilter"}, NameCase{IID_IPin, L"IPin"},
                      NameCase{IID_IMediaSample2, L"IMediaSample2"}, NameCase{IID_IAMStreamConfig, L"IAMStreamConfig"},
                      NameCase{IID_IDispatch, L"IDispatch"}, NameCase{IID_IPersistStream, L"IPersistStream"},
                      NameCase{IID_IKsPropertySet, L"IKsPropertySet"}, NameCase{MEDIATYPE_Audio, L"MEDIATYPE_Audio"},
                      NameCase{MEDIATYPE_Video, L"MEDIATYPE_Video"}, NameCase{MEDIATYPE_Stream, L"MEDIATYPE_Stream"},
                      NameCase{MEDIASUBTYPE_PCM, L"MEDIASUBTYPE_PCM"}, NameCase{MEDIASUBTYPE_RGB32, L"MEDIASUBTYPE_RGB32"},
                      NameCase{MEDIASUBTYPE_Avi, L"MEDIASUBTYPE_Avi"}, NameCase{MEDIASUBTYPE_None, L"MEDIASUBTYPE_None"},
                      NameCase{KSDATAFORMAT_SUBTYPE_PCM, L"MEDIASUBTYPE_PCM"},
                      NameCase{FORMAT_WaveFormatEx, L"FORMAT_WaveFormatEx"}, NameCase{FORMAT_None, L"FORMAT_None"},
                      NameCase{FORMAT_VideoInfo2, L"FORMAT_VideoInfo2"},
                      NameCase{TIME_FORMAT_MEDIA_TIME, L"TIME_FORMAT_MEDIA_TIME"},
                      NameCase{AMPROPSETID_Pin, L"AMPROPSETID_Pin"}, NameCase{PIN_CATEGORY_CAPTURE, L"PIN_CATEGORY_CAPTURE"},
                      NameCase{AM_KSPROPSETID_AC3, L"AM_KSPROPSETID_AC3"}));

INSTANTIATE_TEST_SUITE_P(
    MadeNames, GuidText,
    ::testing::Values(
        // The FOURCC family: tags, printable codes, and the registry form for the rest.
        NameCase{FourccGuid(0x55), L"TAG_0x55(MP3)"}, NameCase{FourccGuid(0x32595559), L"MEDIASUBTYPE_YUY2"},
        NameCase{FourccGuid(0x30313259), L"FCC_Y210"}, NameCase{FourccGuid(0x2), L"TAG_0x2"},
        NameCase{FourccGuid(0xFFFE), L"TAG_0xFFFE"},
        NameCase{FourccGuid(0xFFFF), L"{0000FFFF-0000-0010-8000-00AA00389B71}"},
        NameCase{FourccGuid(0x0A595559), L"{0A595559-0000-0010-8000-00AA00389B71}"},
        NameCase{FourccGuid(0x6E637061), L"MEDIASUBTYPE_ProRes"},
        NameCase{kUnknown, L"{0123ABCD-4567-89EF-FEDC-BA9876543210}"},
        // The second table: other makers' filters.
        NameCase{kLavSplitter, L"LAV Splitter"}));

TEST(GuidTextCut, NamesAreCutToTheCallersSize)
{
    EXPECT_EQ(NameOf(MEDIATYPE_Audio, 10), L"MEDIATYPE");
    EXPECT_EQ(NameOf(kUnknown, 10), L"{0123ABCD");
    EXPECT_EQ(NameOf(FourccGuid(0x55), 10), L"TAG_0x55(");
    EXPECT_EQ(NameOf(MEDIATYPE_Audio, 16), L"MEDIATYPE_Audio");
    EXPECT_EQ(NameOf(MEDIATYPE_Audio, 15), L"MEDIATYPE_Audi");
    EXPECT_EQ(NameOf(MEDIATYPE_Audio, 1), L"");
}

TEST(GuidTables, EveryGuidAppearsOnceAndFindsItsOwnName)
{
    EXPECT_EQ(g_cPlatformGuidNames, 309u);
    std::vector<GUID_NAME> all(g_aPlatformGuidNames, g_aPlatformGuidNames + g_cPlatformGuidNames);
    all.insert(all.end(), g_aFilterGuidNames, g_aFilterGuidNames + g_cFilterGuidNames);
    for (size_t i = 0; i < all.size(); ++i)
    {
        for (size_t j = i + 1; j < all.size(); ++j)
            EXPECT_FALSE(all[i].guid == all[j].guid) << "twice: " << NameOf(all[i].guid);
        EXPECT_EQ(NameOf(all[i].guid, 256), all[i].pszName);
    }
}

// Several threads make the first lookup of a fresh chain at once: the sort runs once,
// and no lookup sees a table half sorted.
TEST(GuidTables, FirstLookupsFromManyThreadsAtOnceAllSucceed)
{
    const int kThreads = 8;
    const int kRounds = 40;
    std::mt19937 rng(1234);
    for (int nRound = 0; nRound < kRounds; ++nRound)
    {
        std::vector<GUID_NAME> platform(g_aPlatformGuidNames, g_aPlatformGuidNames + g_cPlatformGuidNames);
        std::vector<GUID_NAME> filters(g_aFilterGuidNames, g_aFilterGuidNames + g_cFilterGuidNames);
        std::shuffle(platform.begin(), platform.end(), rng);
        std::shuffle(filters.begin(), filters.end(), rng);
        GUID_NAME_NODE second = {filters.data(), UINT(filters.size()), nullptr};
        GUID_NAME_NODE first = {platform.data(), UINT(platform.size()), &second};
        CGuidNameTables tables(&first);

        HANDLE hGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::vector<int> misses(kThreads, 0);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                WaitForSingleObject(hGo, INFINITE);
                // Each thread starts at another entry so that early lookups differ.
                for (UINT k = 0; k < g_cPlatformGuidNames; ++k)
                {
                    const GUID_NAME& e = g_aPlatformGuidNames[(k + UINT(t) * 37) % g_cPlatformGuidNames];
                    LPCWSTR psz = tables.Find(e.guid);
                    if (psz == nullptr || wcscmp(psz, e.pszName) != 0)
                        ++misses[t];
                }
                for (UINT k = 0; k < g_cFilterGuidNames; ++k)
                {
                    LPCWSTR psz = tables.Find(g_aFilterGuidNames[k].guid);
                    if (psz == nullptr || wcscmp(psz, g_aFilterGuidNames[k].pszName) != 0)
                        ++misses[t];
                }
            });
        SetEvent(hGo);
        for (auto& th : threads)
            th.join();
        CloseHandle(hGo);
        for (int t = 0; t < kThreads; ++t)
            ASSERT_EQ(misses[t], 0) << "round " << nRound << ", thread " << t;
        // Sorted in place, and still every entry exactly once.
        auto less = [](const GUID_NAME& a, const GUID_NAME& b) { return memcmp(&a.guid, &b.guid, sizeof(GUID)) < 0; };
        ASSERT_TRUE(std::is_sorted(platform.begin(), platform.end(), less));
        ASSERT_TRUE(std::adjacent_find(platform.begin(), platform.end(), [](const GUID_NAME& a, const GUID_NAME& b) {
                        return a.guid == b.guid;
                    }) == platform.end());
    }
}

TEST(GuidTables, EqualGuidsAnswerWithTheFirstEntryOfTheFirstTable)
{
    GUID_NAME a[] = {{MEDIATYPE_Video, L"video"}, {MEDIATYPE_Audio, L"first"}, {MEDIATYPE_Audio, L"second"}};
    GUID_NAME b[] = {{MEDIATYPE_Audio, L"other table"}, {MEDIATYPE_Text, L"text"}};
    GUID_NAME_NODE second = {b, 2, nullptr};
    GUID_NAME_NODE first = {a, 3, &second};
    CGuidNameTables tables(&first);
    EXPECT_STREQ(tables.Find(MEDIATYPE_Audio), L"first");
    EXPECT_STREQ(tables.Find(MEDIATYPE_Text), L"text");
    EXPECT_EQ(tables.Find(MEDIATYPE_Midi), nullptr);
}
}
