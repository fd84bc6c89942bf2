// Threads against one allocator: waiters woken by a release and by a decommit, and a few
// seconds of getters, a downstream releaser and a committer running at once. Every
// scenario runs under a watchdog, so a deadlock ends the program with a message.
#include "memory/MemoryTestSupport.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <set>
#include <string.h>

using memtest::Concrete;
using memtest::CThread;
using memtest::MemoryTest;
using memtest::NewAllocator;
using memtest::RunWithWatchdog;

namespace
{
const DWORD kWatchdogMs = 30000;

// Returns once nWaiters getters have announced their wait to the allocator: from then on
// they are inside GetBuffer and can leave it only through a wake-up.
void WaitUntilWaiting(IMemAllocator* pAlloc, ULONG nWaiters, const std::atomic<int>& nReturned)
{
    while (Concrete(pAlloc)->GetWaiterCount() < nWaiters)
        Sleep(1);
    ASSERT_EQ(Concrete(pAlloc)->GetWaiterCount(), nWaiters);
    ASSERT_EQ(Concrete(pAlloc)->GetState(), AS_Empty);
    ASSERT_EQ(nReturned.load(), 0) << "the getters must still be waiting";
}

TEST_F(MemoryTest, WaitersAreWokenByAReleaseOneBufferAtATime)
{
    RunWithWatchdog("waiters woken by release", kWatchdogMs, [&] {
        CComPtr<IMemAllocator> spAlloc = NewAllocator(1, 100, true);
        CComPtr<IMediaSample> spHeld;
        ASSERT_EQ(spAlloc->GetBuffer(&spHeld, nullptr, nullptr, 0), S_OK);

        std::atomic<int> nReturned{0};
        std::atomic<int> nGot{0};
        auto getter = [&] {
            CComPtr<IMediaSample> sp;
            HRESULT hr = spAlloc->GetBuffer(&sp, nullptr, nullptr, 0);
            ++nReturned;
            EXPECT_EQ(hr, S_OK);
            if (hr == S_OK)
                ++nGot;
        };
        CThread t1(getter), t2(getter), t3(getter);
        WaitUntilWaiting(spAlloc, 3, nReturned);
        spHeld.Release();
        ASSERT_TRUE(t1.Join(kWatchdogMs) && t2.Join(kWatchdogMs) && t3.Join(kWatchdogMs));
        EXPECT_EQ(nGot.load(), 3) << "each release passed the only buffer on";
        EXPECT_EQ(spAlloc->Decommit(), S_OK);
    });
}

TEST_F(MemoryTest, WaitersAreWokenByADecommitAndFindItNotCommitted)
{
    RunWithWatchdog("waiters woken by decommit", kWatchdogMs, [&] {
        CComPtr<IMemAllocator> spAlloc = NewAllocator(1, 100, true);
        CComPtr<IMediaSample> spHeld;
        ASSERT_EQ(spAlloc->GetBuffer(&spHeld, nullptr, nullptr, 0), S_OK);

        std::atomic<int> nReturned{0};
        std::atomic<int> nNotCommitted{0};
        auto getter = [&] {
            CComPtr<IMediaSample> sp;
            HRESULT hr = spAlloc->GetBuffer(&sp, nullptr, nullptr, 0);
            ++nReturned;
            if (hr == VFW_E_NOT_COMMITTED)
                ++nNotCommitted;
        };
        std::vector<std::unique_ptr<CThread>> threads;
        for (int i = 0; i < 5; ++i)
            threads.push_back(std::make_unique<CThread>(getter));
        WaitUntilWaiting(spAlloc, 5, nReturned);
        EXPECT_EQ(spAlloc->Decommit(), S_OK);
        for (auto& t : threads)
            ASSERT_TRUE(t->Join(kWatchdogMs));
        EXPECT_EQ(nNotCommitted.load(), 5);
        EXPECT_EQ(Concrete(spAlloc)->GetState(), AS_Decommit) << "the held sample keeps it deferred";
        spHeld.Release();
        EXPECT_EQ(Concrete(spAlloc)->GetState(), AS_Prop);
    });
}

// A commit during a deferred decommit with every buffer out goes straight to Empty: a
// getter then waits, and the next release must still reach it.
TEST_F(MemoryTest, WaiterAfterARecommitWithEveryBufferOutIsWokenByARelease)
{
    RunWithWatchdog("waiter after recommit", kWatchdogMs, [&] {
        CComPtr<IMemAllocator> spAlloc = NewAllocator(2, 100, true);
        CComPtr<IMediaSample> a, b;
        ASSERT_EQ(spAlloc->GetBuffer(&a, nullptr, nullptr, 0), S_OK);
        ASSERT_EQ(spAlloc->GetBuffer(&b, nullptr, nullptr, 0), S_OK);
        ASSERT_EQ(spAlloc->Decommit(), S_OK);
        ASSERT_EQ(spAlloc->Commit(), S_OK);
        ASSERT_EQ(Concrete(spAlloc)->GetState(), AS_Empty);

        std::atomic<int> nReturned{0};
        std::atomic<HRESULT> hrGot{E_PENDING};
        CThread getter([&] {
            CComPtr<IMediaSample> sp;
            hrGot = spAlloc->GetBuffer(&sp, nullptr, nullptr, 0);
            ++nReturned;
        });
        WaitUntilWaiting(spAlloc, 1, nReturned);
        b.Release();
        ASSERT_TRUE(getter.Join(kWatchdogMs));
        EXPECT_EQ(hrGot.load(), S_OK);
        a.Release();
        EXPECT_EQ(spAlloc->Decommit(), S_OK);
        EXPECT_EQ(Concrete(spAlloc)->GetState(), AS_Prop);
    });
}

// ---------------------------------------------------------------- stress

// Samples handed to a downstream thread, which releases them after a short while.
class CDownstream
{
public:
    void Deliver(CComPtr<IMediaSample> sp)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(sp));
    }
    // Releases queued samples until told to stop, then the rest.
    void Run(const std::atomic<bool>& bStop)
    {
        for (;;)
        {
            CComPtr<IMediaSample> sp;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_queue.empty())
                {
                    sp = std::move(m_queue.front());
                    m_queue.pop_front();
                }
                else if (bStop)
                {
                    return;
                }
            }
            if (!sp)
                Sleep(1);
            // sp goes here: the final release runs on this thread.
        }
    }

private:
    std::mutex m_mutex;
    std::deque<CComPtr<IMediaSample>> m_queue;
};

// Buffers currently held by some thread: a buffer handed out twice is a fault.
class COwnership
{
public:
    bool Take(BYTE* p)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_held.insert(p).second;
    }
    void Give(BYTE* p)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held.erase(p);
    }

private:
    std::mutex m_mutex;
    std::set<BYTE*> m_held;
};

TEST_F(MemoryTest, GettersReleasersAndACommitterTogetherLoseNoBuffer)
{
    const LONG cBuffers = 3;
    const LONG cbBuffer = 512;
    const DWORD dwRunMs = 1500;
    RunWithWatchdog("getters, downstream releaser and committer", kWatchdogMs, [&] {
        CComPtr<IMemAllocator> spAlloc = NewAllocator(cBuffers, cbBuffer, true);
        memtest::CNotifyCounter notify;
        ASSERT_EQ(CComQIPtr<IMemAllocatorCallbackTemp>(spAlloc)->SetNotify(&notify), S_OK);

        std::atomic<bool> bStop{false};
        std::atomic<bool> bDownstreamStop{false};
        std::atomic<LONG> nGot{0}, nNotCommitted{0}, nTimeout{0}, nUnexpected{0}, nCorrupt{0}, nDoubles{0};
        std::atomic<LONG> nExtraBlocks{0};
        COwnership owned;
        CDownstream downstream;

        auto getter = [&](int id) {
            const DWORD dwFlags = id % 2 ? AM_GBF_NOWAIT : 0;
            for (unsigned n = 0; !bStop; ++n)
            {
                CComPtr<IMediaSample> sp;
                HRESULT hr = spAlloc->GetBuffer(&sp, nullptr, nullptr, dwFlags);
                if (hr == VFW_E_NOT_COMMITTED)
                {
                    ++nNotCommitted;
                    Sleep(0);
                    continue;
                }
                if (hr == VFW_E_TIMEOUT && dwFlags)
                {
                    ++nTimeout;
                    Sleep(0);
                    continue;
                }
                if (hr != S_OK || !sp)
                {
                    ++nUnexpected;
                    continue;
                }
                ++nGot;
                BYTE* pb = nullptr;
                sp->GetPointer(&pb);
                if (!owned.Take(pb))
                    ++nDoubles;
                const BYTE b = BYTE(id * 16 + n % 16);
                memset(pb, b, cbBuffer);
                sp->SetActualDataLength(cbBuffer);
                if (n % 7 == 0)
                    Sleep(1);  // hold it a while
                for (LONG i = 0; i < cbBuffer; ++i)
                    if (pb[i] != b)
                    {
                        ++nCorrupt;
                        break;
                    }
                owned.Give(pb);
                if (n % 2 == 0)
                    downstream.Deliver(std::move(sp));
            }
        };
        auto committer = [&] {
            while (!bStop)
            {
                Sleep(3);
                spAlloc->Decommit();
                Sleep(1);
                spAlloc->Commit();
                // A deferred decommit keeps the block; a new commit replaces it.
                LONG nExtra = CBufferOnVirtualAlloc::LiveBlocks() - m_nBlocksBefore - 1;
                if (nExtra > 0)
                    nExtraBlocks = nExtra;
            }
        };

        std::vector<std::unique_ptr<CThread>> threads;
        CThread releaser([&] { downstream.Run(bDownstreamStop); });
        for (int id = 0; id < 4; ++id)
            threads.push_back(std::make_unique<CThread>([&, id] { getter(id); }));
        threads.push_back(std::make_unique<CThread>(committer));
        Sleep(dwRunMs);
        bStop = true;
        // Getters blocked in GetBuffer leave on the decommit.
        spAlloc->Decommit();
        for (auto& t : threads)
            ASSERT_TRUE(t->Join(kWatchdogMs));
        spAlloc->Decommit();
        bDownstreamStop = true;
        ASSERT_TRUE(releaser.Join(kWatchdogMs));

        EXPECT_EQ(nUnexpected.load(), 0);
        EXPECT_EQ(nDoubles.load(), 0) << "a buffer was handed to two holders";
        EXPECT_EQ(nCorrupt.load(), 0) << "a buffer was written by another holder";
        EXPECT_EQ(nExtraBlocks.load(), 0) << "more than one block alive";
        EXPECT_GT(nGot.load(), 0);
        EXPECT_GT(nNotCommitted.load(), 0) << "the decommits reached the getters";
        EXPECT_EQ(notify.m_nCalls, nGot.load()) << "one notification per release";

        // Every buffer came back: the decommit completed, and a new commit has all free.
        EXPECT_EQ(Concrete(spAlloc)->GetState(), AS_Prop);
        EXPECT_EQ(spAlloc->AddRef(), 2u) << "no reference of its own left";
        spAlloc->Release();
        ASSERT_EQ(spAlloc->Commit(), S_OK);
        LONG nFree = 0;
        EXPECT_EQ(CComQIPtr<IMemAllocatorCallbackTemp>(spAlloc)->GetFreeCount(&nFree), S_OK);
        EXPECT_EQ(nFree, cBuffers);
        EXPECT_LE(Concrete(spAlloc)->GetPeak(), ULONG(cBuffers));
        EXPECT_EQ(spAlloc->Decommit(), S_OK);
        CComQIPtr<IMemAllocatorCallbackTemp>(spAlloc)->SetNotify(nullptr);
        fprintf(stderr, "[ stress   ] %ld samples, %ld not committed, %ld timeouts\n", long(nGot.load()),
                long(nNotCommitted.load()), long(nTimeout.load()));
    });
}
}

namespace
{
// A callback that asks the allocator something from another thread, as a downstream
// filter whose callback takes its own lock would meet a thread of its own holding that
// lock and calling the allocator: the allocator's lock must be free by then.
class CCrossThreadNotify : public memtest::CNotifyCounter
{
public:
    explicit CCrossThreadNotify(IMemAllocatorCallbackTemp* pCallback) : m_probe(pCallback) {}
    STDMETHOD(NotifyRelease)() override
    {
        memtest::CNotifyCounter::NotifyRelease();
        m_probe.Check();
        return S_OK;
    }
    memtest::CAllocatorLockProbe m_probe;
};

TEST_F(MemoryTest, NotifyCallbackRunsOutsideTheAllocatorsLock)
{
    RunWithWatchdog("notify callback calling back from another thread", kWatchdogMs, [&] {
        CComPtr<IMemAllocator> spAlloc = NewAllocator(2, 100, true);
        CComQIPtr<IMemAllocatorCallbackTemp> spCallback(spAlloc);
        CCrossThreadNotify notify(spCallback);
        ASSERT_EQ(spCallback->SetNotify(&notify), S_OK);
        CComPtr<IMediaSample> sp;
        ASSERT_EQ(spAlloc->GetBuffer(&sp, nullptr, nullptr, 0), S_OK);
        sp.Release();
        EXPECT_EQ(notify.m_nCalls, 1);
        EXPECT_EQ(notify.m_probe.HeldChecks(), 0) << "the release still held the allocator's lock";
        EXPECT_EQ(notify.m_probe.LastAnswer(), S_OK);
        spCallback->SetNotify(nullptr);
        EXPECT_EQ(spAlloc->Decommit(), S_OK);
    });
}
}
