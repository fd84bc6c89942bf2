// The guard around calls into foreign code: which exceptions it takes, that it unwinds
// the callee's frames, that it leaves exceptions the callee handles itself alone, and that
// guarded calls nest and run on several threads at once.
#include <gtest/gtest.h>

#include "common/Watchdog.h"
#include "diagnostics/SehGuard.h"

#include <stdexcept>
#include <thread>

namespace
{
struct CallState
{
    int nCleanups = 0;          // destructors that ran in the callee's frames
    bool bInnerReturned = false;
    DWORD dwInnerCode = 0xFFFFFFFF;
};

struct Cleanup
{
    CallState* pState;
    ~Cleanup() { ++pState->nCleanups; }
};

int* volatile g_pNull = nullptr;

__attribute__((noinline)) void Throw() { throw std::runtime_error("callee"); }

void Returns(void*) {}
void AccessViolation(void*) { *g_pNull = 1; }
void Breakpoint(void*) { DebugBreak(); }
void Misalignment(void*) { RaiseException(STATUS_DATATYPE_MISALIGNMENT, 0, 0, nullptr); }
void NonContinuable(void*) { RaiseException(0xE0001234, EXCEPTION_NONCONTINUABLE, 0, nullptr); }
void ThrowsThroughCleanups(void* pv)
{
    Cleanup outer{static_cast<CallState*>(pv)};
    [pv] { Cleanup inner{static_cast<CallState*>(pv)}; Throw(); }();
}
void ProbesUnmappedMemory(void* pv)
{
    if (!IsBadReadPtr(reinterpret_cast<void*>(16), 4))
        static_cast<CallState*>(pv)->nCleanups = -1;
}
void CatchesItsOwnThrow(void* pv)
{
    try
    {
        Cleanup cleanup{static_cast<CallState*>(pv)};
        Throw();
    }
    catch (const std::runtime_error&)
    {
    }
}
void InnerFaultsOuterReturns(void* pv)
{
    auto* pState = static_cast<CallState*>(pv);
    pState->bInnerReturned = CallGuarded(&AccessViolation, pState, &pState->dwInnerCode);
}
void InnerReturnsOuterFaults(void* pv)
{
    auto* pState = static_cast<CallState*>(pv);
    pState->bInnerReturned = CallGuarded(&Returns, pState, &pState->dwInnerCode);
    *g_pNull = 2;
}

struct GuardCase
{
    const char* pszWhat;
    void (*pfn)(void*);
    bool bReturns;
    DWORD dwCode;
    int nCleanups;
};

void PrintTo(const GuardCase& c, std::ostream* pOut) { *pOut << c.pszWhat; }

class SehGuardTest : public testing::TestWithParam<GuardCase> {};

TEST_P(SehGuardTest, CatchesWhatLeavesTheCalleeAndUnwindsIt)
{
    CallState state;
    DWORD dwCode = 0xFFFFFFFF;
    EXPECT_EQ(CallGuarded(GetParam().pfn, &state, &dwCode), GetParam().bReturns);
    EXPECT_EQ(dwCode, GetParam().dwCode);
    EXPECT_EQ(state.nCleanups, GetParam().nCleanups);
}

INSTANTIATE_TEST_SUITE_P(Callees, SehGuardTest, testing::Values(
    GuardCase{"returns", &Returns, true, 0, 0},
    GuardCase{"access violation", &AccessViolation, false, DWORD(EXCEPTION_ACCESS_VIOLATION), 0},
    GuardCase{"breakpoint", &Breakpoint, false, DWORD(EXCEPTION_BREAKPOINT), 0},
    GuardCase{"misalignment", &Misalignment, false, DWORD(STATUS_DATATYPE_MISALIGNMENT), 0},
    GuardCase{"non-continuable exception", &NonContinuable, false, 0xE0001234, 0},
    GuardCase{"C++ exception through two frames with destructors", &ThrowsThroughCleanups, false,
              GCC_CPP_EXCEPTION_CODE, 2},
    GuardCase{"callee handles its own access violation", &ProbesUnmappedMemory, true, 0, 0},
    GuardCase{"callee catches its own C++ exception", &CatchesItsOwnThrow, true, 0, 1}));

TEST(SehGuardNesting, InnerFaultStaysInside)
{
    CallState state;
    DWORD dwCode = 0xFFFFFFFF;
    EXPECT_TRUE(CallGuarded(&InnerFaultsOuterReturns, &state, &dwCode));
    EXPECT_EQ(dwCode, 0u);
    EXPECT_FALSE(state.bInnerReturned);
    EXPECT_EQ(state.dwInnerCode, DWORD(EXCEPTION_ACCESS_VIOLATION));
}

TEST(SehGuardNesting, OuterFaultAfterAnInnerCallIsStillCaught)
{
    CallState state;
    DWORD dwCode = 0xFFFFFFFF;
    EXPECT_FALSE(CallGuarded(&InnerReturnsOuterFaults, &state, &dwCode));
    EXPECT_EQ(dwCode, DWORD(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_TRUE(state.bInnerReturned);
    EXPECT_EQ(state.dwInnerCode, 0u);
}

// The first thread faults while the second is inside a guarded call of its own, then the
// second faults: each guard catches its own thread's exception.
struct Crossing
{
    HANDLE hFirstInside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE hSecondInside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE hFirstCaught = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Crossing()
    {
        CloseHandle(hFirstInside);
        CloseHandle(hSecondInside);
        CloseHandle(hFirstCaught);
    }
};

void FirstThreadCallee(void* pv)
{
    auto* p = static_cast<Crossing*>(pv);
    SignalObjectAndWait(p->hFirstInside, p->hSecondInside, INFINITE, FALSE);
    *g_pNull = 3;
}

void SecondThreadCallee(void* pv)
{
    auto* p = static_cast<Crossing*>(pv);
    SignalObjectAndWait(p->hSecondInside, p->hFirstCaught, INFINITE, FALSE);
    DebugBreak();
}

TEST(SehGuardThreads, EachThreadCatchesItsOwnFaultWhileTheOtherIsInside)
{
    testwatch::CWatchdog watchdog;
    Crossing crossing;
    bool bFirst = true, bSecond = true;
    DWORD dwFirst = 0, dwSecond = 0;
    std::thread first([&] {
        bFirst = CallGuarded(&FirstThreadCallee, &crossing, &dwFirst);
        SetEvent(crossing.hFirstCaught);
    });
    WaitForSingleObject(crossing.hFirstInside, INFINITE);
    std::thread second([&] { bSecond = CallGuarded(&SecondThreadCallee, &crossing, &dwSecond); });
    first.join();
    second.join();
    EXPECT_FALSE(bFirst);
    EXPECT_EQ(dwFirst, DWORD(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_FALSE(bSecond);
    EXPECT_EQ(dwSecond, DWORD(EXCEPTION_BREAKPOINT));
}
}
