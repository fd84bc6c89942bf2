// Lines traced by code linked into the test program itself reach the sink when the
// program starts through the sink-configuring main.
#include <gtest/gtest.h>

#include "common/TestSinkClient.h"
#include "diagnostics/DSTrace.h"

TEST(InProcessTrace, LinesOfTheTestProgramReachTheSink)
{
    testsink::CSinkReader sink(L"testsink.dll");
    ASSERT_TRUE(sink.IsLoaded());
    sink.Clear();
    DebugTrace(atlTraceGeneral, 8, L"%s=0x%X\n", L"[Probe] Call()", 0x80004005u);
    const int nAssertLine = __LINE__ + 1;
    DS_ASSERT(1 + 1 == 3);
    auto events = sink.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0], std::wstring(L"L\x1B\x09TEST_TRACE_INPROC: [Probe] Call()=0x80004005\n"));
    std::wstring report = L"L###Err###\nInProcessTraceTests.cpp(" + std::to_wstring(nAssertLine) +
                          L"): ASSERT( \"1 + 1 == 3\" )\nGetLastError()=";
    EXPECT_EQ(events[1].substr(0, report.size()), report);
    EXPECT_EQ(events[2], L"L\nexit ASSERT");
}
