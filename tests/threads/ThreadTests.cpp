// Worker thread: start, wake-up, cooperative and forced stop, calls the procedure makes on
// its own thread object, handle hygiene, and the trace lines of a thread's life.
#include <gtest/gtest.h>

#include "common/HandleCount.h"
#include "common/TestSinkClient.h"
#include "common/Watchdog.h"
#include "support/Threads.h"
#include "types/AssertionLog.h"

#include <atomic>
#include <string>
#include <vector>

namespace
{
// What the owner's procedure does once it runs.
enum class EProc
{
    Sleeping,     // the usual pattern: waits on the wake-up event until the flag clears,
                  // setting m_evWaiting as each wait begins
    Busy,         // never waits, checks the flag between units of work
    Returned,     // returns at once, before anyone stops it
    Stuck,        // ignores the flag and waits for the test's gate
    Gated,        // waits for the gate, samples the wake-up event twice, then sleeps as usual
};

unsigned ResultOf(EProc eProc) { return 0x100 + unsigned(eProc); }

const char* NameOf(EProc eProc)
{
    static const char* const s_names[] = {"Sleeping", "Busy", "Returned", "Stuck", "Gated"};
    return s_names[int(eProc)];
}

// The owner's usual pattern: waits for wake-ups until the run flag clears. hWaiting is set
// by the call that begins each wait, so a test that sees it knows the procedure is blocked.
template <class T>
void WaitWhileRunning(CSimpleThread<T>& thread, HANDLE hWaiting = nullptr)
{
    while (thread.m_bRun)
    {
        DWORD dwRet = hWaiting != nullptr ? SignalObjectAndWait(hWaiting, thread.m_hEvent, INFINITE, FALSE)
                                          : WaitForSingleObject(thread.m_hEvent, INFINITE);
        if (dwRet != WAIT_OBJECT_0 || !thread.m_bRun)
            break;
    }
}

class CWorker
{
public:
    explicit CWorker(EProc eProc) : m_eProc(eProc)
    {
        m_evEntered.Create(true);
        m_evWaiting.Create(true);
        m_evGate.Create(true);
        m_evDone.Create(true);
    }

    HRESULT Start() { return m_thread.InitThread(this, &CSimpleThread<CWorker>::StartThread); }

    unsigned ThreadProc()
    {
        m_bRunAtEntry = m_thread.m_bRun;
        m_evEntered.Set();
        switch (m_eProc)
        {
        case EProc::Sleeping:
            WaitWhileRunning(m_thread, m_evWaiting.m_h);
            break;
        case EProc::Busy:
            while (m_thread.m_bRun)
                SwitchToThread();
            break;
        case EProc::Returned:
            break;
        case EProc::Stuck:
            WaitForSingleObject(m_evGate.m_h, INFINITE);
            break;
        case EProc::Gated:
            WaitForSingleObject(m_evGate.m_h, INFINITE);
            m_dwFirstPoll = WaitForSingleObject(m_thread.m_hEvent, 0);
            m_dwSecondPoll = WaitForSingleObject(m_thread.m_hEvent, 0);
            m_evDone.Set();
            WaitWhileRunning(m_thread);
            break;
        }
        m_bReturned = true;
        return ResultOf(m_eProc);
    }

    // Events first: the thread, destroyed before them, may still use them.
    EProc m_eProc;
    CEvent m_evEntered;
    CEvent m_evWaiting;
    CEvent m_evGate;
    CEvent m_evDone;
    bool m_bRunAtEntry = false;
    volatile bool m_bReturned = false;
    DWORD m_dwFirstPoll = 0;
    DWORD m_dwSecondPoll = 0;
    CSimpleThread<CWorker> m_thread;
};

long HandleCount() { return testhandles::ProcessHandleCount(); }

// A handle of our own, valid after Stop has closed the object's.
template <class T>
HANDLE DupThreadHandle(const CSimpleThread<T>& thread)
{
    HANDLE hDup = nullptr;
    DuplicateHandle(GetCurrentProcess(), thread.GetThreadHandle(), GetCurrentProcess(), &hDup, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    return hDup;
}

DWORD ExitCodeOf(HANDLE hThread)
{
    DWORD dwCode = 0;
    GetExitCodeThread(hThread, &dwCode);
    return dwCode;
}

template <class T>
void ExpectIdle(CSimpleThread<T>& thread)
{
    EXPECT_EQ(thread.GetThreadHandle(), nullptr);
    EXPECT_EQ(thread.GetThreadId(), 0u);
    EXPECT_EQ(thread.m_hEvent, nullptr);
    EXPECT_FALSE(thread.m_bRun);
    EXPECT_FALSE(thread.Wake()) << "no thread to wake";
}

std::wstring Line(UINT nLevel, const wchar_t* pszFormat, DWORD dwA, DWORD dwB = 0, DWORD dwC = 0)
{
    wchar_t szText[512];
    _snwprintf(szText, 511, pszFormat, dwA, dwB, dwC);
    szText[511] = 0;
    return std::wstring(L"L\x1B") + wchar_t(nLevel + 1) + L"TEST_THREADS: " + szText;
}

class ThreadTest : public ::testing::Test
{
protected:
    testwatch::CWatchdog m_watchdog;
};

TEST_F(ThreadTest, IdleObjectRejectsNullArgumentsAndStopsHarmlessly)
{
    CWorker worker(EProc::Sleeping);
    // The first assertion report of a process loads message texts with lasting handles.
    EXPECT_EQ(worker.m_thread.InitThread(nullptr, &CSimpleThread<CWorker>::StartThread), E_INVALIDARG);
    const long nBefore = HandleCount();
    ASSERT_GT(nBefore, 0) << "the handle count failed";
    EXPECT_EQ(worker.m_thread.InitThread(nullptr, &CSimpleThread<CWorker>::StartThread), E_INVALIDARG);
    EXPECT_EQ(worker.m_thread.InitThread(&worker, nullptr), E_INVALIDARG);
    ExpectIdle(worker.m_thread);
    worker.m_thread.Stop(INFINITE, false);
    worker.m_thread.Stop(0, true);
    ExpectIdle(worker.m_thread);
    EXPECT_EQ(HandleCount(), nBefore);
}

class StopReturnsTest : public ThreadTest, public ::testing::WithParamInterface<EProc>
{
};

// However the procedure stands when Stop comes (blocked in its wait, looping, or returned),
// Stop returns after the thread has ended, the exit code is the procedure's result, and
// both handles are gone.
TEST_P(StopReturnsTest, StopWaitsForTheProcedureAndReleasesBothHandles)
{
    const long nBefore = HandleCount();
    ASSERT_GT(nBefore, 0) << "the handle count failed";
    {
        CWorker worker(GetParam());
        ASSERT_EQ(worker.Start(), S_OK);
        HANDLE hThread = DupThreadHandle(worker.m_thread);
        ASSERT_NE(hThread, nullptr);
        ASSERT_EQ(WaitForSingleObject(worker.m_evEntered.m_h, INFINITE), WAIT_OBJECT_0);
        if (GetParam() == EProc::Sleeping)
        {
            ASSERT_EQ(WaitForSingleObject(worker.m_evWaiting.m_h, INFINITE), WAIT_OBJECT_0);
        }
        if (GetParam() == EProc::Returned)
        {
            ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
        }

        worker.m_thread.Stop(INFINITE, false);

        EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_OBJECT_0) << "Stop returned before the thread ended";
        EXPECT_TRUE(worker.m_bReturned);
        EXPECT_TRUE(worker.m_bRunAtEntry) << "the procedure must start with the run flag set";
        EXPECT_EQ(ExitCodeOf(hThread), ResultOf(GetParam()));
        ExpectIdle(worker.m_thread);
        CloseHandle(hThread);
    }
    EXPECT_EQ(HandleCount(), nBefore);
}

INSTANTIATE_TEST_SUITE_P(ProcedureStates, StopReturnsTest,
                         ::testing::Values(EProc::Sleeping, EProc::Busy, EProc::Returned),
                         [](const ::testing::TestParamInfo<EProc>& info) { return std::string(NameOf(info.param)); });

TEST_F(ThreadTest, ManyStartStopCyclesLeakNoHandle)
{
    CWorker worker(EProc::Sleeping);
    // The first thread of a process may create lasting handles of the run time.
    ASSERT_EQ(worker.Start(), S_OK);
    worker.m_thread.Stop(INFINITE, false);
    const long nBefore = HandleCount();
    ASSERT_GT(nBefore, 0) << "the handle count failed";
    for (int i = 0; i < 300; ++i)
    {
        ASSERT_EQ(worker.Start(), S_OK);
        if (i % 2)
        {
            ASSERT_EQ(worker.Start(), S_OK) << "restart over a running thread";
        }
        worker.m_thread.Stop(INFINITE, false);
    }
    EXPECT_EQ(HandleCount(), nBefore);
}

TEST_F(ThreadTest, SecondInitThreadEndsTheRunningThreadFirst)
{
    CWorker worker(EProc::Sleeping);
    ASSERT_EQ(worker.Start(), S_OK);
    HANDLE hFirst = DupThreadHandle(worker.m_thread);
    DWORD dwFirstId = worker.m_thread.GetThreadId();

    ASSERT_EQ(worker.Start(), S_OK);

    EXPECT_EQ(WaitForSingleObject(hFirst, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(hFirst), ResultOf(EProc::Sleeping));
    EXPECT_NE(worker.m_thread.GetThreadId(), dwFirstId);
    EXPECT_TRUE(worker.m_thread.m_bRun);
    EXPECT_TRUE(worker.m_thread.Wake());
    CloseHandle(hFirst);
}

// Wake-ups are counted by an auto-reset event: those given while the procedure is busy
// stay pending as one, released by its next wait.
TEST_F(ThreadTest, WakeWhileBusyStaysPendingForOneWait)
{
    CWorker worker(EProc::Gated);
    ASSERT_EQ(worker.Start(), S_OK);
    ASSERT_EQ(WaitForSingleObject(worker.m_evEntered.m_h, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(worker.m_thread.Wake());
    EXPECT_TRUE(worker.m_thread.Wake());
    worker.m_evGate.Set();
    ASSERT_EQ(WaitForSingleObject(worker.m_evDone.m_h, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(worker.m_dwFirstPoll, WAIT_OBJECT_0);
    EXPECT_EQ(worker.m_dwSecondPoll, DWORD(WAIT_TIMEOUT));
}

// Calls a procedure makes on its own thread object. The object belongs to the owner's
// threads: each call is asserted, and none may wait for the thread's own end, start a second
// thread, or leave the thread unjoined.
enum class ESelfCall
{
    Stop,         // Stop(INFINITE, false)
    StopAtOnce,   // Stop(0, true): must not terminate the caller either
    Restart,      // InitThread
    Destroy,      // deletes the owner, then returns
};

const unsigned kSelfCallerResult = 0x600;

// Owned by the test: one of the calls destroys the owner.
struct SelfCallRecord
{
    SelfCallRecord() { evCalled.Create(true); }
    CEvent evCalled;
    std::atomic<long> nEntries{0};
    HRESULT hrCall = E_UNEXPECTED;
    bool bRunAfterCall = false;
};

class CSelfCaller
{
public:
    CSelfCaller(ESelfCall eCall, SelfCallRecord& record) : m_eCall(eCall), m_record(record) {}

    HRESULT Start() { return m_thread.InitThread(this, &CSimpleThread<CSelfCaller>::StartThread); }

    unsigned ThreadProc()
    {
        SelfCallRecord& record = m_record;
        // A thread started by the call itself only waits.
        if (++record.nEntries == 1)
        {
            switch (m_eCall)
            {
            case ESelfCall::Stop:
                m_thread.Stop(INFINITE, false);
                record.hrCall = S_OK;
                break;
            case ESelfCall::StopAtOnce:
                m_thread.Stop(0, true);
                record.hrCall = S_OK;
                break;
            case ESelfCall::Restart:
                record.hrCall = Start();
                break;
            case ESelfCall::Destroy:
                delete this;
                record.evCalled.Set();
                return kSelfCallerResult;
            }
            record.bRunAfterCall = m_thread.m_bRun;
            record.evCalled.Set();
        }
        WaitWhileRunning(m_thread);
        return kSelfCallerResult;
    }

    ESelfCall m_eCall;
    SelfCallRecord& m_record;
    CSimpleThread<CSelfCaller> m_thread;
};

struct SelfCallCase
{
    const char* pszName;
    ESelfCall eCall;
    HRESULT hrCall;      // unless Destroy
    bool bRunAfterCall;  // unless Destroy
};

class SelfCallTest : public ThreadTest, public ::testing::WithParamInterface<SelfCallCase>
{
protected:
    // The process's first thread and first assertion report create lasting handles of the
    // run time; the handle baseline comes after both.
    static void SetUpTestSuite()
    {
        CWorker worker(EProc::Returned);
        worker.Start();
        worker.m_thread.Stop(INFINITE, false);
        worker.m_thread.InitThread(nullptr, nullptr);
    }
};

TEST_P(SelfCallTest, CallOnTheWorkerIsAssertedAndTheOneThreadIsStillJoined)
{
    const SelfCallCase& c = GetParam();
    testsink::CSinkReader sink(L"testsink.dll");
    ASSERT_TRUE(sink.IsLoaded());
    SelfCallRecord record;
    const long nBefore = HandleCount();
    ASSERT_GT(nBefore, 0) << "the handle count failed";
    {
        auto* pOwner = new CSelfCaller(c.eCall, record);
        ASSERT_EQ(pOwner->Start(), S_OK);
        HANDLE hThread = DupThreadHandle(pOwner->m_thread);
        ASSERT_NE(hThread, nullptr);
        const DWORD dwId = pOwner->m_thread.GetThreadId();
        ASSERT_EQ(WaitForSingleObject(record.evCalled.m_h, INFINITE), WAIT_OBJECT_0);

        if (c.eCall == ESelfCall::Destroy)
        {
            ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
        }
        else
        {
            EXPECT_EQ(record.hrCall, c.hrCall);
            EXPECT_EQ(record.bRunAfterCall, c.bRunAfterCall);
            EXPECT_EQ(pOwner->m_thread.GetThreadId(), dwId) << "the object must keep the running thread";
            pOwner->m_thread.Stop(INFINITE, false);
            EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_OBJECT_0) << "the owner's Stop must join the thread";
            ExpectIdle(pOwner->m_thread);
            delete pOwner;
        }
        EXPECT_EQ(record.nEntries, 1) << "a second thread was started";
        EXPECT_EQ(ExitCodeOf(hThread), kSelfCallerResult);
        CloseHandle(hThread);
    }
    EXPECT_EQ(testsink::AssertedConditions(sink, L"Threads.h"), std::vector<std::string>{"!OnWorkerThread()"});
    EXPECT_EQ(HandleCount(), nBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Calls, SelfCallTest,
    ::testing::Values(SelfCallCase{"Stop", ESelfCall::Stop, S_OK, false},
                      SelfCallCase{"StopAtOnce", ESelfCall::StopAtOnce, S_OK, false},
                      SelfCallCase{"Restart", ESelfCall::Restart, HRESULT_FROM_WIN32(ERROR_BUSY), true},
                      SelfCallCase{"Destroy", ESelfCall::Destroy, S_OK, false}),
    [](const ::testing::TestParamInfo<SelfCallCase>& info) { return std::string(info.param.pszName); });

// An owner destroyed by its own procedure leaves nobody to wait for the thread's end: the
// module that runs the thread must stay loaded until the thread has left its code.
TEST_F(ThreadTest, ModuleOfAnOwnerDestroyedOnItsThreadStaysUntilTheThreadEnds)
{
    CEvent evDestroyed, evGate;
    ASSERT_TRUE(evDestroyed.Create(true));
    ASSERT_TRUE(evGate.Create(true));
    // The worker's assertion when its owner is destroyed on it: the first report of a
    // process loads message texts for good.
    CWorker primer(EProc::Sleeping);
    primer.m_thread.InitThread(nullptr, &CSimpleThread<CWorker>::StartThread);
    const long nBefore = HandleCount();
    HMODULE hProbe = LoadLibraryW((testsink::ModuleDir() + L"threadprobe.dll").c_str());
    ASSERT_NE(hProbe, nullptr);
    auto pfnStart =
        reinterpret_cast<HRESULT (*)(HANDLE, HANDLE, DWORD*)>(GetProcAddress(hProbe, "Probe_StartSelfDestroying"));
    ASSERT_NE(pfnStart, nullptr);
    DWORD dwId = 0;
    ASSERT_EQ(pfnStart(evDestroyed.m_h, evGate.m_h, &dwId), S_OK);
    HANDLE hThread = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, dwId);
    ASSERT_NE(hThread, nullptr);
    ASSERT_EQ(WaitForSingleObject(evDestroyed.m_h, INFINITE), WAIT_OBJECT_0);

    FreeLibrary(hProbe);
    EXPECT_NE(GetModuleHandleW(L"threadprobe.dll"), nullptr) << "unloaded under its running thread";
    evGate.Set();
    ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(ExitCodeOf(hThread), 0x700u);
    EXPECT_EQ(GetModuleHandleW(L"threadprobe.dll"), nullptr) << "the thread's end must let the module go";
    CloseHandle(hThread);
    EXPECT_EQ(testhandles::ProcessHandleCountSettledAt(nBefore), nBefore) << "the module or its thread left handles";
}

TEST_F(ThreadTest, ThreadLifeIsTracedWithItsIdentifierAndResult)
{
    testsink::CSinkReader sink(L"testsink.dll");
    ASSERT_TRUE(sink.IsLoaded());
    CWorker worker(EProc::Sleeping);
    sink.Clear();
    ASSERT_EQ(worker.Start(), S_OK);
    DWORD dwId = worker.m_thread.GetThreadId();
    worker.m_thread.Stop(INFINITE, false);

    std::vector<std::wstring> expected = {
        Line(8, L"CSimpleThread::StartThread(): thread 0x%04X started\n", dwId),
        Line(8, L"CSimpleThread::StartThread(): thread 0x%04X stopped, result=0x%X\n", dwId,
             ResultOf(EProc::Sleeping)),
    };
    EXPECT_EQ(sink.Events(), expected);
}

class ForcedEndTest : public ThreadTest, public ::testing::WithParamInterface<bool>
{
};

// A procedure that does not return: the failed wait is reported, the forced end (when
// allowed) is reported and done; otherwise the thread runs on until it returns by itself.
TEST_P(ForcedEndTest, FailedWaitIsReportedAndTerminatesOnlyWhenAllowed)
{
    const bool bTerminate = GetParam();
    testsink::CSinkReader sink(L"testsink.dll");
    ASSERT_TRUE(sink.IsLoaded());
    const long nBefore = HandleCount();
    ASSERT_GT(nBefore, 0) << "the handle count failed";
    {
        CWorker worker(EProc::Stuck);
        ASSERT_EQ(worker.Start(), S_OK);
        ASSERT_EQ(WaitForSingleObject(worker.m_evEntered.m_h, INFINITE), WAIT_OBJECT_0);
        HANDLE hThread = DupThreadHandle(worker.m_thread);
        DWORD dwId = worker.m_thread.GetThreadId();
        sink.Clear();

        worker.m_thread.Stop(50, bTerminate);

        ExpectIdle(worker.m_thread);
        std::vector<std::wstring> expected = {
            Line(2, L"###Err### CSimpleThread<>::Stop(): WaitForSingleObject( wait time=%u )=0x%X for thread 0x%X\n",
                 50, WAIT_TIMEOUT, dwId)};
        if (bTerminate)
        {
            expected.push_back(Line(1, L"######### CSimpleThread<>::Stop(): call TerminateThread() for thread 0x%X\n", dwId));
            ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
            EXPECT_EQ(ExitCodeOf(hThread), 0xFFFFFFFFu);
            EXPECT_FALSE(worker.m_bReturned);
        }
        else
        {
            EXPECT_EQ(WaitForSingleObject(hThread, 0), DWORD(WAIT_TIMEOUT)) << "the thread must run on";
            worker.m_evGate.Set();
            ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
            EXPECT_EQ(ExitCodeOf(hThread), ResultOf(EProc::Stuck));
            expected.push_back(Line(8, L"CSimpleThread::StartThread(): thread 0x%04X stopped, result=0x%X\n", dwId,
                                    ResultOf(EProc::Stuck)));
        }
        EXPECT_EQ(sink.Events(), expected);
        CloseHandle(hThread);
    }
    EXPECT_EQ(HandleCount(), nBefore);
}

INSTANTIATE_TEST_SUITE_P(Terminate, ForcedEndTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Allowed" : "NotAllowed");
                         });

class EventTest : public ::testing::TestWithParam<bool>
{
};

TEST_P(EventTest, SetReleasesOneWaitWhenAutoResetAndAllWhenManual)
{
    const bool bManual = GetParam();
    CEvent evEmpty;
    EXPECT_FALSE(evEmpty.Set()) << "no handle yet";
    EXPECT_FALSE(evEmpty.Reset());
    const long nBefore = HandleCount();
    ASSERT_GT(nBefore, 0) << "the handle count failed";
    {
        CEvent ev;
        ASSERT_TRUE(ev.Create(!bManual));
        EXPECT_EQ(HandleCount(), nBefore + 1);
        ASSERT_TRUE(ev.Create(bManual));
        EXPECT_EQ(HandleCount(), nBefore + 1) << "a second Create replaces the handle";
        EXPECT_EQ(WaitForSingleObject(ev.m_h, 0), DWORD(WAIT_TIMEOUT)) << "created not signalled";
        ASSERT_TRUE(ev.Set());
        EXPECT_EQ(WaitForSingleObject(ev.m_h, 0), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(ev.m_h, 0), bManual ? WAIT_OBJECT_0 : DWORD(WAIT_TIMEOUT));
        ASSERT_TRUE(ev.Reset());
        EXPECT_EQ(WaitForSingleObject(ev.m_h, 0), DWORD(WAIT_TIMEOUT));
        ev.Close();
        EXPECT_EQ(ev.m_h, nullptr);
        ASSERT_TRUE(ev.Create(bManual));
    }
    EXPECT_EQ(HandleCount(), nBefore);
}

INSTANTIATE_TEST_SUITE_P(Reset, EventTest, ::testing::Bool(), [](const ::testing::TestParamInfo<bool>& info) {
    return std::string(info.param ? "Manual" : "Auto");
});

struct ErrorCase
{
    DWORD dwError;
    HRESULT hr;
};

class LastErrorTest : public ::testing::TestWithParam<ErrorCase>
{
};

TEST_P(LastErrorTest, LastErrorBecomesAWin32Result)
{
    SetLastError(GetParam().dwError);
    EXPECT_EQ(HResultFromLastError(), GetParam().hr);
}

INSTANTIATE_TEST_SUITE_P(Codes, LastErrorTest,
                         ::testing::Values(ErrorCase{0, E_FAIL}, ErrorCase{ERROR_NOT_ENOUGH_MEMORY, HRESULT(0x80070008)},
                                           ErrorCase{ERROR_TOO_MANY_OPEN_FILES, HRESULT(0x80070004)},
                                           ErrorCase{0x2000F, HRESULT(0x8007000F)}));
}
