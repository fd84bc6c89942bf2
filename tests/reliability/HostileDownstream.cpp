// Hostile downstream filters: a pin that refuses every sample, answers S_FALSE, keeps every
// buffer for a while, lets buffers go from its own thread in random order, blocks in
// Receive until it is let go, refuses the allocator or asks for absurd ones. After each,
// Stop returns, the filter is Stopped, and the next Run streams exactly from the start.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "common/HandleCount.h"
#include "reliability/Campaign.h"
#include "reliability/FilterRig.h"

namespace campaign
{
namespace
{
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Samples taken from Receive and let go by a thread of the pin's own, in random order.
class CForeignReleaser
{
public:
    explicit CForeignReleaser(unsigned nSeed) : m_rng(nSeed)
    {
        m_thread = std::thread([this] { Proc(); });
    }
    ~CForeignReleaser()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bEnd = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }
    void Take(IMediaSample* pSample)
    {
        pSample->AddRef();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_samples.push_back(pSample);
        }
        m_cv.notify_all();
    }

private:
    void Proc()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;)
        {
            // Lets go once a few are held, or whatever is left at the end.
            m_cv.wait(lock, [this] { return m_bEnd || m_samples.size() >= 3; });
            std::shuffle(m_samples.begin(), m_samples.end(), m_rng);
            std::vector<IMediaSample*> batch;
            batch.swap(m_samples);
            lock.unlock();
            for (IMediaSample* p : batch)
                p->Release();
            lock.lock();
            if (m_bEnd && m_samples.empty())
                return;
        }
    }

    std::mt19937 m_rng;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<IMediaSample*> m_samples;
    bool m_bEnd = false;
    std::thread m_thread;
};

enum class EHostile
{
    RefuseAll,
    SFalse,
    KeepAll,
    ForeignRelease,
    BlockUntilLetGo,
    RefuseAllocator,
    AbsurdRequirements,
};

const struct
{
    EHostile eKind;
    const char* pszName;
} kHostile[] = {
    {EHostile::RefuseAll, "refuses every sample"},
    {EHostile::SFalse, "answers S_FALSE"},
    {EHostile::KeepAll, "keeps every buffer"},
    {EHostile::ForeignRelease, "lets buffers go from its thread out of order"},
    {EHostile::BlockUntilLetGo, "blocks in Receive until let go"},
    {EHostile::RefuseAllocator, "fails NotifyAllocator"},
    {EHostile::AbsurdRequirements, "absurd allocator requirements"},
};

class HostileDownstream : public CampaignTest
{
protected:
    // A normal run after the hostile one: exact from the first sample. The allocator a
    // hostile pin made the connection agree on stays with it, so that one is made again.
    void ExpectExactRun(CFilterRig& rig, bool bReconnect)
    {
        if (bReconnect)
            rig.Shutdown();
        rig.Fake()->m_hrReceive = S_OK;
        rig.Fake()->m_bKeepSamples = false;
        rig.Fake()->m_hrNotifyOwn = rig.Fake()->m_hrNotifyOther = S_OK;
        rig.Fake()->m_hrRequirements = E_NOTIMPL;
        if (!rig.OutConnected())
        {
            ASSERT_EQ(rig.Connect(), S_OK);
        }
        CStreamCheck check(CToneFormat{2, 16, 48000});
        rig.Watch(&check);
        ASSERT_EQ(rig.Filter()->Run(0), S_OK);
        EXPECT_TRUE(rig.ReceiveMore(6)) << "no stream after the hostile run";
        EXPECT_EQ(rig.Filter()->Stop(), S_OK);
        rig.Watch(nullptr);
        EXPECT_EQ(check.Fault(), "");
        EXPECT_GE(check.Samples(), 6);
    }
};

TEST_F(HostileDownstream, StopReturnsAndTheNextRunIsExact)
{
    const long nHandlesBefore = testhandles::ProcessHandleCount();
    CFilterRig rig;
    ASSERT_TRUE(rig.Ready());
    const long nRigHandles = testhandles::ProcessHandleCount() - nHandlesBefore;
    bool bRebased = false;
    std::mt19937 rng(Seed() + 3);
    const size_t nRounds = Scale(2, 40);
    for (const auto& h : kHostile)
    {
        size_t nHeld = 0;
        double dblStopMax = 0, dblLagMax = 0;
        for (size_t r = 0; r < nRounds; ++r)
        {
            SCOPED_TRACE(testing::Message() << h.pszName << ", round " << r);
            const size_t nParts = FailuresSoFar();
            CFakeInputPin* pFake = rig.Fake();
            std::unique_ptr<CForeignReleaser> releaser;
            const DWORD dwHoldMs = 20 + rng() % 200;
            bool bConnects = true;
            switch (h.eKind)
            {
            case EHostile::RefuseAll: pFake->m_hrReceive = E_FAIL; break;
            case EHostile::SFalse: pFake->m_hrReceive = S_FALSE; break;
            case EHostile::KeepAll: pFake->m_bKeepSamples = true; break;
            case EHostile::ForeignRelease:
                releaser = std::make_unique<CForeignReleaser>(unsigned(rng()));
                pFake->m_fnOnReceive = [p = releaser.get()](IMediaSample* pSample) { p->Take(pSample); };
                break;
            case EHostile::BlockUntilLetGo: pFake->BlockReceive(); break;
            case EHostile::RefuseAllocator:
                pFake->m_hrNotifyOwn = pFake->m_hrNotifyOther = E_FAIL;
                bConnects = false;
                break;
            case EHostile::AbsurdRequirements:
                pFake->m_hrRequirements = S_OK;
                pFake->m_propsRequirements = {LONG(rng() % 2 ? 0x7FFFFFFF : 100000), LONG(rng() % 2 ? 0x7FFFFFFF : -5),
                                              LONG(rng() % 2 ? -1 : 0x40000000), LONG(rng() % 2 ? 0x7FFFFFFF : -1)};
                bConnects = false;
                break;
            }
            const HRESULT hrConnect = rig.Connect();
            const LONG nReceived = pFake->m_nReceived;
            if (!bConnects)
            {
                // Refused or not, nothing of a connection may be left half made; buffers
                // that cannot be had make Run fail and leave the filter stopped.
                EXPECT_EQ(rig.OutConnected(), hrConnect == S_OK);
                if (hrConnect == S_OK && rig.Filter()->Run(0) == S_OK)
                {
                    EXPECT_TRUE(pFake->WaitReceived(nReceived + 2));
                }
            }
            else
            {
                ASSERT_EQ(hrConnect, S_OK);
                ASSERT_EQ(rig.Filter()->Run(0), S_OK);
                if (h.eKind == EHostile::BlockUntilLetGo)
                    ASSERT_TRUE(pFake->WaitInReceive());
                else
                    EXPECT_TRUE(pFake->WaitReceived(nReceived + (h.eKind == EHostile::KeepAll ? 8 : 3)));
            }
            const bool bConnected = rig.OutConnected();

            // Stop from the host's thread; a pin that blocks is let go after the hold, and
            // Stop may take until then, plus the thread's way out.
            const Clock::time_point tStop = Clock::now();
            std::atomic<bool> bStopped{false};
            HRESULT hrStop = E_PENDING;
            std::thread host([&] {
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                hrStop = rig.Filter()->Stop();
                bStopped = true;
                CoUninitialize();
            });
            Clock::time_point tLetGo = tStop;
            if (h.eKind == EHostile::BlockUntilLetGo)
            {
                Sleep(dwHoldMs);  // how long the pin holds on, not a wait for the other thread
                tLetGo = Clock::now();
                pFake->ReleaseReceive();
            }
            if (h.eKind == EHostile::KeepAll)
            {
                // Stop must not wait for buffers the pin keeps.
                for (int i = 0; i < 1000 && !bStopped; ++i)
                    Sleep(10);
                EXPECT_TRUE(bStopped) << "Stop waits for the buffers downstream keeps";
                pFake->DropKeptSamples();
            }
            host.join();
            const double dblLag = std::chrono::duration<double, std::milli>(Clock::now() - tLetGo).count();
            dblStopMax = std::max(dblStopMax, MsSince(tStop));
            if (h.eKind == EHostile::BlockUntilLetGo)
                dblLagMax = std::max(dblLagMax, dblLag);
            EXPECT_EQ(hrStop, bConnected ? S_OK : VFW_E_NOT_CONNECTED);
            FILTER_STATE eState = State_Running;
            EXPECT_EQ(rig.Filter()->GetState(0, &eState), S_OK);
            EXPECT_EQ(eState, State_Stopped);
            pFake->m_fnOnReceive = nullptr;
            releaser.reset();
            pFake->DropKeptSamples();
            ExpectExactRun(rig, !bConnects);
            rig.Shutdown();
            if (FailuresSoFar() == nParts)
                ++nHeld;
            if (HasFatalFailure())
                return;
            if (!bRebased)
                RebaseHandles(nRigHandles, nRounds * std::size(kHostile));
            bRebased = true;
        }
        std::ostringstream note;
        note.precision(1);
        note << std::fixed << "Stop at most " << dblStopMax << " ms";
        if (h.eKind == EHostile::BlockUntilLetGo)
            note << ", at most " << dblLagMax << " ms after Receive was let go";
        Report(std::string("downstream ") + h.pszName, nRounds, nHeld, note.str());
    }
}
}
}
