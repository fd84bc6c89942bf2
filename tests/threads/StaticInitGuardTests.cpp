// The guards of function-local statics: one initialization however many threads arrive
// at once, a retry after an initializer that threw, and no handle kept for the thread that
// initialized (a host's thread lives on after the module that used it is gone).
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/HandleCount.h"
#include "common/TestSinkClient.h"

namespace
{
std::atomic<int> g_nSlowInits{0};

struct CSlow
{
    CSlow() : nValue(++g_nSlowInits * 1000)
    {
        Sleep(50);  // the others arrive while this one initializes
    }
    int nValue;
};

const CSlow& Slow()
{
    static const CSlow s;
    return s;
}

TEST(StaticInitGuard, ThreadsArrivingTogetherSeeOneInitialization)
{
    HANDLE hGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(hGo, nullptr);
    std::vector<int> seen(8, 0);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] {
            WaitForSingleObject(hGo, INFINITE);
            seen[i] = Slow().nValue;
        });
    SetEvent(hGo);
    for (std::thread& t : threads)
        t.join();
    CloseHandle(hGo);
    EXPECT_EQ(g_nSlowInits, 1);
    for (int n : seen)
        EXPECT_EQ(n, 1000) << "a thread saw the object before its initialization ended";
}

int g_nTries = 0;

struct CFailsFirst
{
    CFailsFirst()
    {
        if (++g_nTries == 1)
            throw std::runtime_error("first try");
    }
};

const CFailsFirst& FailsFirst()
{
    static const CFailsFirst s;
    return s;
}

TEST(StaticInitGuard, AThrowingInitializerIsTriedAgain)
{
    EXPECT_THROW(FailsFirst(), std::runtime_error);
    EXPECT_NO_THROW(FailsFirst());
    EXPECT_NO_THROW(FailsFirst());
    EXPECT_EQ(g_nTries, 2);
}

// A module loaded afresh initializes a static on this thread, which lives on after the
// module is gone.
TEST(StaticInitGuard, InitializingKeepsNoHandleForTheThread)
{
    const long nBefore = testhandles::ProcessHandleCount();
    ASSERT_GT(nBefore, 0);
    HMODULE hProbe = LoadLibraryW((testsink::ModuleDir() + L"threadprobe.dll").c_str());
    ASSERT_NE(hProbe, nullptr);
    auto pfnFirstUse = reinterpret_cast<DWORD (*)()>(GetProcAddress(hProbe, "Probe_FirstUseOfAStatic"));
    ASSERT_NE(pfnFirstUse, nullptr);
    EXPECT_EQ(pfnFirstUse(), GetCurrentThreadId());
    FreeLibrary(hProbe);
    EXPECT_EQ(testhandles::ProcessHandleCountSettledAt(nBefore), nBefore)
        << "the module's first initialization kept handles for this thread";
}
}
