// Shared pieces of the memory tests: a watchdog for scenarios that could deadlock, the
// accounting of system blocks and live objects, and allocators in a chosen state.
#pragma once
#include <gtest/gtest.h>

#include "common/TaskMemorySpy.h"
#include "common/TestSinkClient.h"
#include "framework/DSAllocators.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace memtest
{
// Runs fn on a thread of its own and waits at most dwTimeoutMs for it. A scenario that
// does not finish in time is a deadlock: the whole program ends with a message, so CI
// sees a failure instead of a hang.
void RunWithWatchdog(const char* pszScenario, DWORD dwTimeoutMs, const std::function<void()>& fn);

// Starts fn on a new thread; the handle is closed by Join.
class CThread
{
public:
    explicit CThread(std::function<void()> fn);
    ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;
    // True when the thread ended within dwTimeoutMs.
    bool Join(DWORD dwTimeoutMs = INFINITE);

private:
    static DWORD WINAPI Proc(void* pv);
    std::function<void()> m_fn;
    HANDLE m_hThread;
};

// Counts at the start of a test, compared at its end: every virtual-memory block of the
// buffer sets is returned, every allocator and sample object is gone, and every task-memory
// block (media types on samples, snapshots and allocators) is freed, none twice.
class MemoryTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    LONG m_nBlocksBefore = 0;
    LONG m_nObjectsBefore = 0;
};

// A new allocator through the platform interface only.
CComPtr<IMemAllocator> NewAllocator();
// A new allocator with the given properties set (and committed when bCommit).
CComPtr<IMemAllocator> NewAllocator(LONG cBuffers, LONG cbBuffer, bool bCommit, LONG cbAlign = 1, LONG cbPrefix = 0);
// The concrete object behind an allocator of this system.
CMemoryAllocator* Concrete(IMemAllocator* pAlloc);

// The trace lines recorded by the test sink since the last Clear, heads removed.
std::vector<std::wstring> SinkLines(const testsink::CSinkReader& sink);
// Whether any recorded line contains text.
bool SinkHas(const testsink::CSinkReader& sink, const std::wstring& text);

// Whether another thread can take an allocator's lock at the moment of Check: a second
// thread asks the allocator for its free count and is waited for. A lock held by the
// checking thread keeps that thread out; it is then kept and joined once the lock is free,
// so a failing check does not deadlock the test. The allocator is reached through a plain
// pointer (no reference is taken) and must outlive the probe.
class CAllocatorLockProbe
{
public:
    explicit CAllocatorLockProbe(IMemAllocatorCallbackTemp* pAlloc) : m_pAlloc(pAlloc) {}
    CAllocatorLockProbe(const CAllocatorLockProbe&) = delete;
    CAllocatorLockProbe& operator=(const CAllocatorLockProbe&) = delete;

    // True when the other thread got through.
    bool Check();
    LONG Checks() const { return m_nChecks; }
    LONG HeldChecks() const { return m_nHeld; }
    // GetFreeCount's result in the last check that got through.
    HRESULT LastAnswer() const { return m_hrLast; }

private:
    IMemAllocatorCallbackTemp* m_pAlloc;
    std::atomic<LONG> m_nChecks{0};
    std::atomic<LONG> m_nHeld{0};
    std::atomic<HRESULT> m_hrLast{E_PENDING};
    std::mutex m_mutex;
    std::vector<std::unique_ptr<CThread>> m_stuck;  // joined first, while the allocator lives
};

// An IMemAllocatorNotifyCallbackTemp that counts its calls.
class CNotifyCounter : public IMemAllocatorNotifyCallbackTemp
{
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override { return ULONG(InterlockedIncrement(&m_nRef)); }
    STDMETHOD_(ULONG, Release)() override { return ULONG(InterlockedDecrement(&m_nRef)); }
    STDMETHOD(NotifyRelease)() override
    {
        InterlockedIncrement(&m_nCalls);
        return S_OK;
    }
    volatile LONG m_nRef = 1;
    volatile LONG m_nCalls = 0;
};
}
