// The trace facility as a module sees it: the sink named in the registry, the line head,
// the level and category filter, assertions, blocks and the statistics line at unload.
#include <gtest/gtest.h>

#include "common/TestSinkClient.h"
#include "common/Watchdog.h"
#include "diagnostics/DSTrace.h"
#include "trace/TraceProbeClient.h"

#include <string>
#include <thread>
#include <vector>

using testsink::CSinkReader;

namespace
{
TEST_F(TraceSinkTest, LoadsSinkFromRegistryPathAndAttaches)
{
    CSinkReader sink(L"testsink.dll");
    LoadProbeWith(L"testsink.dll");
    EXPECT_TRUE(m_probe->HasSink());
    EXPECT_EQ(sink.Events(), (std::vector<std::wstring>{L"G", L"Aok"}));
}

TEST_F(TraceSinkTest, HeadCarriesLevelAndModuleTag)
{
    CSinkReader sink(L"testsink.dll");
    LoadProbeWith(L"testsink.dll");
    sink.Clear();
    m_probe->Trace(atlTraceGeneral, 0, L"zero\n");
    m_probe->Trace(atlTraceCOM, 8, L"eight\n");
    m_probe->Trace(atlTraceException, 4, L"four\n");
    EXPECT_EQ(sink.Events(), (std::vector<std::wstring>{Head(0) + L"zero\n", Head(8) + L"eight\n", Head(4) + L"four\n"}));
}

TEST_F(TraceSinkTest, DropsLinesAboveLevelEightAndCategoryZero)
{
    CSinkReader sink(L"testsink.dll");
    LoadProbeWith(L"testsink.dll");
    sink.Clear();
    m_probe->Trace(atlTraceGeneral, 9, L"nine\n");
    m_probe->Trace(atlTraceGeneral, 10, L"ten\n");
    m_probe->Trace(atlTraceGeneral, 0xFFFFFFFFu, L"huge\n");
    m_probe->Trace(0, 2, L"no category\n");
    EXPECT_TRUE(sink.Events().empty());
}

TEST_F(TraceSinkTest, FormatsWideAndNarrowArgumentsAsTheRunTimeDoes)
{
    CSinkReader sink(L"testsink.dll");
    LoadProbeWith(L"testsink.dll");
    sink.Clear();
    m_probe->Fn<void()>("Probe_TraceFormats")();
    EXPECT_EQ(sink.Events(), (std::vector<std::wstring>{Head(8) + L"wide|narrow|-5|AB|7\n"}));
}

TEST_F(TraceSinkTest, LongMessageIsCutOffAt511Characters)
{
    CSinkReader sink(L"testsink.dll");
    LoadProbeWith(L"testsink.dll");
    sink.Clear();
    std::wstring text(1000, L'x');
    m_probe->Trace(atlTraceGeneral, 2, text.c_str());
    auto events = sink.Events();
    ASSERT_EQ(events.size(), 1u);
    std::wstring head = Head(2);
    ASSERT_EQ(events[0].size(), 1u + 511u);  // the 'L' marker plus the line
    EXPECT_EQ(events[0].substr(0, head.size()), head);
    EXPECT_EQ(events[0].substr(head.size()), std::wstring(511 - (head.size() - 1), L'x'));
}

TEST_F(TraceSinkTest, TraceAlwaysWritesLevelZeroWithoutFilter)
{
    CSinkReader sink(L"testsink.dll");
    LoadProbeWith(L"testsink.dll");
    sink.Clear();
    m_probe->Fn<void(LPCWSTR)>("Probe_TraceAlways")(L"always\n");
    EXPECT_EQ(sink.Events(), (std::vector<std::wstring>{Head(0) + L"always\n"}));
}

TEST_F(TraceSinkTest, FailedAssertionSendsReportAndExitWithoutHead)
{
    CSinkReader sink(L"testsink.dll");
    LoadProbeWith(L"testsink.dll");
    sink.Clear();
    m_probe->Assert(true, "Pin.cpp", 12, "ppPin != NULL", 5);
    EXPECT_TRUE(sink.Events().empty());

    m_probe->Assert(false, "Pin.cpp", 42, "ppPin != NULL", ERROR_ACCESS_DENIED);
    auto events = sink.Events();
    ASSERT_EQ(events.size(), 2u);
    const std::wstring expected = L"L###Err###\nPin.cpp(42): ASSERT( \"ppPin != NULL\" )\nGetLastError()=0x00000005 (5)\n\n";
    EXPECT_EQ(events[0].substr(0, expected.size()), expected);
    EXPECT_GT(events[0].size(), expected.size() + 1) << "the system's text for error 5 follows";
    EXPECT_EQ(events[0].back(), L'\n');
    EXPECT_EQ(events[1], L"L\nexit ASSERT");
}

TEST_F(TraceSinkTest, BlockReachesWriteBlockAsAnsiWithWideLength)
{
    CSinkReader sink(L"testsink.dll");
    LoadProbeWith(L"testsink.dll");
    sink.Clear();
    m_probe->Fn<void(LPCWSTR)>("Probe_Block")(L"Graph:\r\nline two\r\n");
    EXPECT_EQ(sink.Events(), (std::vector<std::wstring>{L"B18:Graph:\r\nline two\r\n"}));
}

TEST_F(TraceSinkTest, UnloadWritesStatisticsLineThenDetaches)
{
    CSinkReader sink(L"testsink.dll");
    LoadProbeWith(L"testsink.dll");
    for (int i = 0; i < 3; ++i)
        m_probe->Trace(atlTraceGeneral, 8, L"x\n");
    sink.Clear();
    m_probe->Unload();
    auto events = sink.Events();
    ASSERT_EQ(events.size(), 2u);
    std::wstring prefix = Head(0) + L"*** [Log stat] Output: Avg=";
    EXPECT_EQ(events[0].substr(0, prefix.size()), prefix);
    EXPECT_NE(events[0].find(L" ms (3 calls)\r\n"), std::wstring::npos) << events[0].c_str();
    EXPECT_EQ(events[1], L"Dok");
}

// Threads released together trace at once; the statistics line counts every line the
// sink received, and its figures are durations within the run, not counter readings.
TEST_F(TraceSinkTest, StatisticsOfThreadsTracingAtOnce)
{
    testwatch::CWatchdog watchdog;
    CSinkReader sink(L"testsink.dll");
    LoadProbeWith(L"testsink.dll");
    sink.Clear();
    const unsigned kThreads = 4, kLines = 200;
    HANDLE hGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < kThreads; ++i)
        threads.emplace_back([&] {
            WaitForSingleObject(hGo, INFINITE);
            for (unsigned n = 0; n < kLines; ++n)
                m_probe->Trace(atlTraceGeneral, 8, L"t\n");
        });
    LARGE_INTEGER liFreq, liStart, liEnd;
    QueryPerformanceFrequency(&liFreq);
    QueryPerformanceCounter(&liStart);
    SetEvent(hGo);
    for (auto& thread : threads)
        thread.join();
    QueryPerformanceCounter(&liEnd);
    CloseHandle(hGo);
    const double dRunMs = double(liEnd.QuadPart - liStart.QuadPart) * 1000.0 / double(liFreq.QuadPart);
    m_probe->Unload();

    auto events = sink.Events();
    ASSERT_EQ(events.size(), kThreads * kLines + 2);
    for (unsigned i = 0; i < kThreads * kLines; ++i)
        ASSERT_EQ(events[i], Head(8) + L"t\n") << i;
    EXPECT_EQ(events.back(), L"Dok");
    const std::wstring stat = events[kThreads * kLines];
    unsigned nAvg[2], nMin[2], nMax[2], nFirst[2], nCalls = 0;
    ASSERT_EQ(swscanf(stat.c_str(), (Head(0) + L"*** [Log stat] Output: Avg=%u.%u Min=%u.%u Max=%u.%u "
                                                L"First=%u.%u ms (%u calls)").c_str(),
                      &nAvg[0], &nAvg[1], &nMin[0], &nMin[1], &nMax[0], &nMax[1], &nFirst[0], &nFirst[1], &nCalls),
              9) << stat.c_str();
    EXPECT_EQ(nCalls, kThreads * kLines);
    auto ms = [](const unsigned* p) { return p[0] + p[1] / 1000.0; };
    EXPECT_LE(ms(nFirst), dRunMs) << stat.c_str();
    EXPECT_LE(ms(nMax), dRunMs) << stat.c_str();
    EXPECT_LE(ms(nMin), ms(nAvg)) << stat.c_str();
    EXPECT_LE(ms(nAvg), ms(nMax)) << stat.c_str();
}

TEST_F(TraceSinkTest, NoStatisticsLineWhenNothingWasTraced)
{
    CSinkReader sink(L"testsink.dll");
    LoadProbeWith(L"testsink.dll");
    sink.Clear();
    m_probe->Unload();
    EXPECT_EQ(sink.Events(), (std::vector<std::wstring>{L"Dok"}));
}

TEST_F(TraceSinkTest, NonZeroEntryResultSkipsAttachButKeepsStoredObject)
{
    CSinkReader sink(L"testsink_nonzero.dll");
    LoadProbeWith(L"testsink_nonzero.dll");
    EXPECT_EQ(sink.Events(), (std::vector<std::wstring>{L"G"}));
    m_probe->Trace(atlTraceGeneral, 8, L"still written\n");
    EXPECT_EQ(sink.Events().back(), Head(8) + L"still written\n");
}

TEST_F(TraceSinkTest, TonewellModuleBringsTheSinkUpAndDown)
{
    CSinkReader sink(L"testsink.dll");
    testsink::SetRegistryValue(PipedPath(L"testsink.dll"));
    HMODULE hModule = LoadLibraryW((testsink::ModuleDir() + L"Tonewell.dll").c_str());
    testsink::ClearRegistry();
    ASSERT_NE(hModule, nullptr);
    EXPECT_EQ(sink.Events(), (std::vector<std::wstring>{L"G", L"Aok"}));
    FreeLibrary(hModule);
    EXPECT_EQ(sink.Events().back(), L"Dok");
}

// Sinks that cannot be used leave the module without a sink and unload the library
// (sinks that fault: SinkFaultTests.cpp).
struct UnusableSink
{
    const wchar_t* pszDll;
    const char* pszWhy;
};

class TraceUnusableSinkTest : public TraceSinkTest, public ::testing::WithParamInterface<UnusableSink> {};

TEST_P(TraceUnusableSinkTest, RunsWithoutSinkAndUnloadsTheLibrary)
{
    LoadProbeWith(GetParam().pszDll);
    EXPECT_FALSE(m_probe->HasSink()) << GetParam().pszWhy;
    EXPECT_EQ(GetModuleHandleW(GetParam().pszDll), nullptr) << GetParam().pszWhy;
    m_probe->Trace(atlTraceGeneral, 8, L"dropped\n");
    m_probe->Assert(false, "x.cpp", 1, "false", 0);
}

INSTANTIATE_TEST_SUITE_P(Sinks, TraceUnusableSinkTest,
    ::testing::Values(UnusableSink{L"testsink_noexport.dll", "no Exp_GetLogObject"},
                      UnusableSink{L"nosuchsink.dll", "library does not load"}));

TEST_F(TraceSinkTest, MissingOrOversizedValueMeansNoSink)
{
    testsink::SetRegistryKeyOnly();
    {
        CProbe probe;
        ASSERT_TRUE(probe.IsLoaded());
        EXPECT_FALSE(probe.HasSink());
    }
    // 300 characters do not fit the 260-character path buffer.
    std::wstring tooLong = PipedPath(L"testsink.dll");
    tooLong = std::wstring(300 - tooLong.size(), L'|') + tooLong;
    testsink::SetRegistryValue(tooLong);
    {
        CProbe probe;
        EXPECT_FALSE(probe.HasSink());
    }
    EXPECT_EQ(GetModuleHandleW(L"testsink.dll"), nullptr);
}

TEST_F(TraceSinkTest, ValueFillingTheWholeBufferIsReadSafely)
{
    // 260 characters with no room for a terminator: must not load, must not overrun.
    std::wstring full(260, L'a');
    HKEY hKey = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\_VTMLLOG64", 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr);
    RegSetValueExW(hKey, nullptr, 0, REG_BINARY, reinterpret_cast<const BYTE*>(full.data()), 520);
    RegCloseKey(hKey);
    CProbe probe;
    ASSERT_TRUE(probe.IsLoaded());
    EXPECT_FALSE(probe.HasSink());
}

// ---------------------------------------------------------------- pure formatting

struct TagCase
{
    const wchar_t* pszPath;
    const wchar_t* pszTag;
};

class ModuleTagTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(ModuleTagTest, TagFromFileName)
{
    WCHAR szTag[TRACE_TAG_CCH];
    BuildModuleTag(GetParam().pszPath, szTag);
    EXPECT_STREQ(szTag, GetParam().pszTag);
}

INSTANTIATE_TEST_SUITE_P(Names, ModuleTagTest, ::testing::Values(
    TagCase{L"D:\\filters\\sample.dll", L"SAMPLE: "},
    TagCase{L"D:\\filters\\sample.ax", L"SAMPLE.AX: "},
    TagCase{L"D:\\filters\\a.dll", L"A: "},
    TagCase{L"D:\\filters\\.dll", L".DLL: "},
    TagCase{L"D:\\filters\\Host.EXE", L"HOST: "},
    TagCase{L"C:sample.Dll", L"SAMPLE: "},
    TagCase{L"D:\\f\\abcdefghijklmnopqrstuvwxyz0123456789ABCD.dll", L"ABCDEFGHIJKLMNOPQRSTUVWXYZ012: "},
    TagCase{L"D:\\f\\\x00e9t\x00e9_1.dll", L"\x00e9T\x00e9_1: "},
    TagCase{L"sample.dll", L"N/A: "},
    TagCase{L"", L"N/A: "}));

TEST(TracePrefix, WritesHeadAndReturnsItsLength)
{
    WCHAR szBuf[TRACE_LINE_CCH];
    int cch = BuildTracePrefix(szBuf, 8);
    EXPECT_EQ(szBuf[0], 0x1B);
    EXPECT_EQ(szBuf[1], 9);
    EXPECT_EQ(cch, lstrlenW(szBuf));
    EXPECT_STREQ(szBuf + 2, L"TEST_TRACE: ");
    EXPECT_EQ(BuildTracePrefix(nullptr, 8), 0);
}

TEST(TimeStat, FormatsNothingOneCallOrManyCalls)
{
    CTimeStat stat(L"lbl ");
    WCHAR szBuf[256] = L"stale";
    EXPECT_FALSE(stat.Format(szBuf, 256, nullptr));
    EXPECT_STREQ(szBuf, L"");

    LONGLONG llFreq = stat.Frequency();
    ASSERT_GT(llFreq, 0);
    // Two ticks more, so that each figure converted back (rounded down, the average of two
    // after a division of its own) is still the whole microsecond.
    auto ticks = [llFreq](LONGLONG llMicroseconds) { return llFreq * llMicroseconds / 1000000 + 2; };
    stat.Record(ticks(1234));
    EXPECT_TRUE(stat.Format(szBuf, 256, nullptr));
    EXPECT_STREQ(szBuf, L"lbl First=1.234 ms (1 call)\r\n");

    stat.Record(ticks(2000));
    stat.Record(ticks(4000));
    EXPECT_TRUE(stat.Format(szBuf, 256, L"X: "));
    EXPECT_STREQ(szBuf, L"X: Avg=3.000 Min=2.000 Max=4.000 First=1.234 ms (3 calls)\r\n");

    stat.Reset();
    EXPECT_FALSE(stat.HasData());
}

// Whichever counter the statistic reads, its ticks over its frequency are seconds: a sleep of
// 100 ms measures at least that (a loaded machine may take longer to wake the thread).
TEST(TimeStat, ClockTicksAtItsFrequency)
{
    CStatClock clock;
    const LONGLONG llStart = clock.Now();
    Sleep(100);
    const double dblSeconds = double(clock.Now() - llStart) / double(clock.Frequency());
    EXPECT_GE(dblSeconds, 0.095);
    EXPECT_LT(dblSeconds, 2.0);
}

// A call that starts while the statistic is empty may race with another thread's first
// Record: only Record may write the first-call figure.
TEST(TimeStat, OnlyRecordSetsTheFirstCall)
{
    CTimeStat stat;
    LONGLONG llStart = stat.Start();
    EXPECT_EQ(stat.First(), 0);
    stat.Record(5);
    EXPECT_EQ(stat.First(), 5);
    stat.Stop(llStart);
    stat.Stop(stat.Start());
    EXPECT_EQ(stat.First(), 5);
}

TEST(FormatErrorText, NameCodeTextAndSystemMessage)
{
    WCHAR szBuf[TRACE_ERROR_TEXT_CCH];
    EXPECT_EQ(FormatErrorText(nullptr, L"", L"n", 0), nullptr);
    EXPECT_EQ(FormatErrorText(szBuf, L"", nullptr, 0), nullptr);

    ASSERT_EQ(FormatErrorText(szBuf, nullptr, L"hr", 0x80040209), szBuf);
    std::wstring text(szBuf);
    EXPECT_EQ(text.substr(0, 39), L"hr=0x80040209 (-2147220983)\nno message\n");
    EXPECT_GT(text.size(), 40u) << "media error text for VFW_E_NOT_COMMITTED";
    EXPECT_GT(text.back(), L' ') << "trailing white space is removed";

    FormatErrorText(szBuf, L"", L"GetLastError()", ERROR_FILE_NOT_FOUND);
    text = szBuf;
    EXPECT_EQ(text.substr(0, 30), L"GetLastError()=0x00000002 (2)\n");
    EXPECT_GT(text.size(), 32u);
}
}
