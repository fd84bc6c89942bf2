// The allocator as the platform's own users know it: the contracts that hosts rely on,
// checked against the platform's memory allocator (quartz) and this system's alike, and
// a downstream filter driving the allocator through IMemAllocator only.
#include "memory/MemoryTestSupport.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <string.h>

using memtest::CThread;
using memtest::MemoryTest;
using memtest::RunWithWatchdog;

namespace
{
const DWORD kWatchdogMs = 30000;

struct AllocatorSource
{
    const char* pszName;
    HRESULT (*pfnCreate)(IMemAllocator** pp);
    // Threads announced as waiting in GetBuffer; null where the allocator does not show them.
    ULONG (*pfnWaiters)(IMemAllocator* p);
};

void PrintTo(const AllocatorSource& s, std::ostream* os) { *os << s.pszName; }

HRESULT CreatePlatformAllocator(IMemAllocator** pp)
{
    return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                            reinterpret_cast<void**>(pp));
}

ULONG OurWaiters(IMemAllocator* p) { return memtest::Concrete(p)->GetWaiterCount(); }

const AllocatorSource kSources[] = {
    {"Platform", &CreatePlatformAllocator, nullptr},
    {"Tonewell", &CMemoryAllocator::CreateInstance, &OurWaiters},
};

class AllocatorContractTest : public MemoryTest, public ::testing::WithParamInterface<AllocatorSource>
{
protected:
    void SetUp() override
    {
        MemoryTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        ASSERT_EQ(GetParam().pfnCreate(&m_spAlloc), S_OK);
    }
    void TearDown() override
    {
        m_spAlloc.Release();
        CoUninitialize();
        MemoryTest::TearDown();
    }
    void SetProps(LONG cBuffers, LONG cbBuffer)
    {
        ALLOCATOR_PROPERTIES request = {cBuffers, cbBuffer, 1, 0}, actual = {};
        ASSERT_EQ(m_spAlloc->SetProperties(&request, &actual), S_OK);
        EXPECT_GE(actual.cBuffers, cBuffers);
        EXPECT_GE(actual.cbBuffer, cbBuffer);
    }
    HRESULT Get(CComPtr<IMediaSample>& sp, DWORD dwFlags = 0)
    {
        return m_spAlloc->GetBuffer(&sp, nullptr, nullptr, dwFlags);
    }
    // True once a getter is inside its wait, where the allocator shows that. The platform's
    // does not: for it only the outcome is checked, whether its getter was woken or came
    // after the event that would have woken it.
    bool WaitUntilWaiting()
    {
        if (GetParam().pfnWaiters == nullptr)
            return false;
        while (GetParam().pfnWaiters(m_spAlloc) == 0)
            Sleep(1);
        return true;
    }

    CComPtr<IMemAllocator> m_spAlloc;
};

TEST_P(AllocatorContractTest, NoBufferWhileDecommitted)
{
    SetProps(2, 100);
    CComPtr<IMediaSample> sp;
    EXPECT_EQ(Get(sp), VFW_E_NOT_COMMITTED);
    ASSERT_EQ(m_spAlloc->Commit(), S_OK);
    EXPECT_EQ(Get(sp), S_OK);
    sp.Release();
    ASSERT_EQ(m_spAlloc->Decommit(), S_OK);
    EXPECT_EQ(Get(sp), VFW_E_NOT_COMMITTED);
    EXPECT_EQ(sp, nullptr);
}

TEST_P(AllocatorContractTest, NoWaitWithoutAFreeBufferTimesOut)
{
    SetProps(1, 100);
    ASSERT_EQ(m_spAlloc->Commit(), S_OK);
    CComPtr<IMediaSample> a, b;
    ASSERT_EQ(Get(a, AM_GBF_NOWAIT), S_OK);
    EXPECT_EQ(Get(b, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    EXPECT_EQ(b, nullptr);
    a.Release();
    EXPECT_EQ(Get(b, AM_GBF_NOWAIT), S_OK) << "free again after the release";
    b.Release();
    EXPECT_EQ(m_spAlloc->Decommit(), S_OK);
}

TEST_P(AllocatorContractTest, PropertiesAreRefusedWhileCommittedOrWithBuffersOut)
{
    SetProps(2, 100);
    ASSERT_EQ(m_spAlloc->Commit(), S_OK);
    ALLOCATOR_PROPERTIES request = {4, 200, 1, 0}, actual = {};
    EXPECT_EQ(m_spAlloc->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);
    CComPtr<IMediaSample> sp;
    ASSERT_EQ(Get(sp), S_OK);
    ASSERT_EQ(m_spAlloc->Decommit(), S_OK);
    EXPECT_EQ(m_spAlloc->SetProperties(&request, &actual), VFW_E_BUFFERS_OUTSTANDING);
    sp.Release();
    EXPECT_EQ(m_spAlloc->SetProperties(&request, &actual), S_OK);
}

TEST_P(AllocatorContractTest, DecommitWithASampleOutKeepsItsBufferUsable)
{
    SetProps(2, 4096);
    ASSERT_EQ(m_spAlloc->Commit(), S_OK);
    CComPtr<IMediaSample> sp;
    ASSERT_EQ(Get(sp), S_OK);
    BYTE* pb = nullptr;
    ASSERT_EQ(sp->GetPointer(&pb), S_OK);
    ASSERT_EQ(m_spAlloc->Decommit(), S_OK);
    memset(pb, 0x3C, 4096);  // the holder may still fill it
    EXPECT_EQ(sp->SetActualDataLength(4096), S_OK);
    EXPECT_EQ(pb[4095], 0x3C);
    sp.Release();
}

TEST_P(AllocatorContractTest, WaiterIsWokenByAReleaseOnAnotherThread)
{
    SetProps(1, 100);
    ASSERT_EQ(m_spAlloc->Commit(), S_OK);
    RunWithWatchdog("platform contract: wake on release", kWatchdogMs, [&] {
        CComPtr<IMediaSample> spHeld;
        ASSERT_EQ(Get(spHeld), S_OK);
        std::atomic<HRESULT> hrWaiter{E_PENDING};
        CThread waiter([&] {
            CComPtr<IMediaSample> sp;
            hrWaiter = Get(sp);
        });
        if (WaitUntilWaiting())
        {
            EXPECT_EQ(hrWaiter.load(), E_PENDING) << "blocked while the only buffer is out";
        }
        CThread releaser([&] { spHeld.Release(); });
        ASSERT_TRUE(releaser.Join(kWatchdogMs));
        ASSERT_TRUE(waiter.Join(kWatchdogMs));
        EXPECT_EQ(hrWaiter.load(), S_OK);
    });
    EXPECT_EQ(m_spAlloc->Decommit(), S_OK);
}

TEST_P(AllocatorContractTest, WaiterIsWokenByADecommit)
{
    SetProps(1, 100);
    ASSERT_EQ(m_spAlloc->Commit(), S_OK);
    CComPtr<IMediaSample> spHeld;
    ASSERT_EQ(Get(spHeld), S_OK);
    RunWithWatchdog("platform contract: wake on decommit", kWatchdogMs, [&] {
        std::atomic<HRESULT> hrWaiter{E_PENDING};
        CThread waiter([&] {
            CComPtr<IMediaSample> sp;
            hrWaiter = Get(sp);
        });
        if (WaitUntilWaiting())
        {
            EXPECT_EQ(hrWaiter.load(), E_PENDING);
        }
        EXPECT_EQ(m_spAlloc->Decommit(), S_OK);
        ASSERT_TRUE(waiter.Join(kWatchdogMs));
        // Wine's allocator answers VFW_E_TIMEOUT here; ours says why: VFW_E_NOT_COMMITTED.
        EXPECT_TRUE(FAILED(hrWaiter.load()));
        if (GetParam().pfnCreate == &CMemoryAllocator::CreateInstance)
        {
            EXPECT_EQ(hrWaiter.load(), VFW_E_NOT_COMMITTED);
        }
    });
    spHeld.Release();
}

INSTANTIATE_TEST_SUITE_P(Both, AllocatorContractTest, ::testing::ValuesIn(kSources),
                         [](const auto& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------- a downstream filter

// What a downstream filter does with the allocator it was given through
// IMemInputPin::NotifyAllocator: it knows only IMemAllocator. Its streaming thread takes
// buffers, fills and stamps them and hands them to a worker thread (as Receive would),
// which checks and releases them; a stop decommits while samples are still out.
TEST_F(MemoryTest, DownstreamFilterUsesTheAllocatorThroughIMemAllocatorOnly)
{
    const LONG cBuffers = 4;
    const LONG cbWanted = 3840;
    RunWithWatchdog("downstream filter", kWatchdogMs, [&] {
        IMemAllocator* pAlloc = nullptr;
        ASSERT_EQ(CMemoryAllocator::CreateInstance(&pAlloc), S_OK);

        ALLOCATOR_PROPERTIES request = {cBuffers, cbWanted, 1, 0}, actual = {};
        ASSERT_EQ(pAlloc->SetProperties(&request, &actual), S_OK);
        ASSERT_GE(actual.cBuffers, cBuffers);
        ASSERT_GE(actual.cbBuffer, cbWanted);
        ASSERT_EQ(pAlloc->Commit(), S_OK);

        std::mutex mutex;
        std::deque<IMediaSample*> delivered;
        std::atomic<bool> bStreaming{true};
        std::atomic<LONG> nReceived{0}, nBad{0};
        HANDLE hHoldLast = CreateEventW(nullptr, TRUE, FALSE, nullptr);

        CThread worker([&] {
            for (;;)
            {
                IMediaSample* pSample = nullptr;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (!delivered.empty())
                    {
                        pSample = delivered.front();
                        delivered.pop_front();
                    }
                }
                if (pSample == nullptr)
                {
                    if (!bStreaming)
                        return;
                    Sleep(1);
                    continue;
                }
                REFERENCE_TIME tS = 0, tE = 0;
                BYTE* pb = nullptr;
                LONG n = nReceived++;
                if (pSample->GetTime(&tS, &tE) != S_OK || tS != n * 400000LL || tE != tS + 400000 ||
                    pSample->GetPointer(&pb) != S_OK || pSample->GetActualDataLength() != cbWanted ||
                    pb[0] != BYTE(n) || pb[cbWanted - 1] != BYTE(n))
                    ++nBad;
                // The last sample is held across the stop, as a renderer holds its frame.
                if (n == 19)
                    WaitForSingleObject(hHoldLast, INFINITE);
                pSample->Release();
            }
        });

        HRESULT hrStop = S_OK;
        CThread streaming([&] {
            for (LONG n = 0;; ++n)
            {
                IMediaSample* pSample = nullptr;
                HRESULT hr = pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0);
                if (hr != S_OK)
                {
                    hrStop = hr;
                    return;
                }
                BYTE* pb = nullptr;
                pSample->GetPointer(&pb);
                memset(pb, BYTE(n), size_t(cbWanted));
                pSample->SetActualDataLength(cbWanted);
                REFERENCE_TIME tS = n * 400000LL, tE = tS + 400000;
                pSample->SetTime(&tS, &tE);
                std::lock_guard<std::mutex> lock(mutex);
                delivered.push_back(pSample);
            }
        });

        while (nReceived < 20)
            Sleep(1);
        // Stop: the worker holds one sample; the streaming thread is in or near GetBuffer.
        ASSERT_EQ(pAlloc->Decommit(), S_OK);
        ASSERT_TRUE(streaming.Join(kWatchdogMs));
        EXPECT_EQ(hrStop, VFW_E_NOT_COMMITTED) << "the buffer request under way ends with the stop";
        bStreaming = false;
        SetEvent(hHoldLast);
        ASSERT_TRUE(worker.Join(kWatchdogMs));
        CloseHandle(hHoldLast);
        EXPECT_EQ(nBad.load(), 0);

        EXPECT_EQ(pAlloc->Release(), 0u) << "every sample came back, so nothing else holds it";
    });
}
}
