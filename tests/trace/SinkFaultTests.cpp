// A module with a sink that misbehaves: whatever the sink does in whichever call, the
// host goes on, the sink's cleanup runs, and a sink that faulted is never called again.
#include <gtest/gtest.h>

#include "common/TestSinkClient.h"
#include "common/Watchdog.h"
#include "diagnostics/DSTrace.h"
#include "trace/TraceProbeClient.h"

#include <string>
#include <vector>

namespace
{
struct SinkBehaviour
{
    const wchar_t* pszDll;
    const char* pszWhat;
    bool bSinkAfterLoad;                  // the module holds a log object once loaded
    std::vector<std::wstring> events;     // what the sink saw over the whole run
    bool bLibraryReleased;                // the module let go of the library by its unload
};

void PrintTo(const SinkBehaviour& behaviour, std::ostream* pOut) { *pOut << behaviour.pszWhat; }

// Lines without their head; the statistics line as "stat".
std::vector<std::wstring> Readable(const std::vector<std::wstring>& events)
{
    std::vector<std::wstring> readable;
    for (const std::wstring& event : events)
    {
        std::wstring text = event;
        for (UINT nLevel : {0u, 8u})
            if (text.rfind(Head(nLevel), 0) == 0)
                text = text.substr(Head(nLevel).size());
        if (text.rfind(L"*** [Log stat] Output: ", 0) == 0)
            text = L"stat";
        if (!text.empty() && text.back() == L'\n')
            text.pop_back();
        readable.push_back(text);
    }
    return readable;
}

class SinkFaultTest : public TraceSinkTest, public testing::WithParamInterface<SinkBehaviour>
{
protected:
    static void TraceNested() { s_pProbe->Trace(atlTraceGeneral, 8, L"nested\n"); }

    static CProbe* s_pProbe;
    testwatch::CWatchdog m_watchdog;
};

CProbe* SinkFaultTest::s_pProbe = nullptr;

TEST_P(SinkFaultTest, HostGoesOnAndSinkIsLeftCleanly)
{
    const SinkBehaviour& behaviour = GetParam();
    {
        testsink::CSinkReader sink(behaviour.pszDll);  // keeps what the sink saw readable
        ASSERT_TRUE(sink.IsLoaded());
        sink.SetReentry(&TraceNested);
        LoadProbeWith(behaviour.pszDll);
        s_pProbe = m_probe.get();
        EXPECT_EQ(m_probe->HasSink(), behaviour.bSinkAfterLoad);
        m_probe->Trace(atlTraceGeneral, 8, L"one\n");
        m_probe->Fn<void(LPCWSTR)>("Probe_Block")(L"block");
        m_probe->Trace(atlTraceGeneral, 8, L"two\n");
        m_probe->Unload();
        s_pProbe = nullptr;

        ASSERT_TRUE(sink.LockIsFree()) << "the sink was abandoned mid-call without unwinding";
        EXPECT_EQ(Readable(sink.Events()), behaviour.events);
    }
    EXPECT_EQ(GetModuleHandleW(behaviour.pszDll) == nullptr, behaviour.bLibraryReleased);
}

INSTANTIATE_TEST_SUITE_P(Sinks, SinkFaultTest, testing::Values(
    SinkBehaviour{L"testsink_probe.dll", "handles its own access violation and C++ exception in every call", true,
                  {L"G", L"Aok", L"one", L"B5:block", L"two", L"stat", L"Dok"}, true},
    SinkBehaviour{L"testsink_fault_entry.dll", "access violation in the entry point", false,
                  {L"G"}, true},
    SinkBehaviour{L"testsink_throw_entry.dll", "C++ exception out of the entry point", false,
                  {L"G"}, true},
    SinkBehaviour{L"testsink_fault_attach.dll", "access violation in Attach", false,
                  {L"G", L"Aok"}, true},
    SinkBehaviour{L"testsink_fault_writeline.dll", "access violation in WriteLine", true,
                  {L"G", L"Aok", L"one"}, false},
    SinkBehaviour{L"testsink_break_writeblock.dll", "breakpoint in WriteBlock", true,
                  {L"G", L"Aok", L"one", L"B5:block"}, false},
    SinkBehaviour{L"testsink_reenter_writeline.dll", "traces from inside WriteLine, then faults", true,
                  {L"G", L"Aok", L"one", L"nested"}, false},
    SinkBehaviour{L"testsink_fault_detach.dll", "access violation in Detach", true,
                  {L"G", L"Aok", L"one", L"B5:block", L"two", L"stat", L"Dok"}, true}));

// A sink that faulted stays quiet for the module's life: lines, assertions, blocks and
// the unload's calls no longer reach it.
TEST_F(TraceSinkTest, FaultedSinkReceivesNothingMoreOfAnyKind)
{
    testsink::CSinkReader sink(L"testsink_fault_writeline.dll");
    LoadProbeWith(L"testsink_fault_writeline.dll");
    m_probe->Trace(atlTraceGeneral, 8, L"faults\n");
    EXPECT_FALSE(m_probe->HasSink());
    sink.Clear();
    m_probe->Trace(atlTraceGeneral, 2, L"after\n");
    m_probe->Assert(false, "x.cpp", 1, "false", 0);
    m_probe->Fn<void(LPCWSTR)>("Probe_Block")(L"block");
    m_probe->Unload();
    EXPECT_TRUE(sink.Events().empty());
}
}
