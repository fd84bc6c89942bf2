// Costs of the buffer round trip the streaming loop pays per 40 ms buffer: GetBuffer and
// the sample's final release on one thread, the same with a downstream thread releasing
// (a waiting GetBuffer woken by each release), and the snapshot's load and save. The
// platform's own memory allocator (quartz) runs the same loops for comparison.
// Usage: bench_allocator [cycles, default 200000]
#include <windows.h>

#include "bench/BenchClock.h"
#include <dshow.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "framework/DSAllocators.h"

using namespace bench;

namespace
{
double Nanoseconds(LONGLONG llTicks, long nCycles) { return Seconds(llTicks) * 1e9 / double(nCycles); }

CComPtr<IMemAllocator> Committed(bool bOurs, LONG cBuffers, LONG cbBuffer)
{
    CComPtr<IMemAllocator> sp;
    HRESULT hr = bOurs ? CMemoryAllocator::CreateInstance(&sp)
                       : CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                          reinterpret_cast<void**>(&sp));
    ALLOCATOR_PROPERTIES request = {cBuffers, cbBuffer, 1, 0}, actual = {};
    if (FAILED(hr) || FAILED(sp->SetProperties(&request, &actual)) || FAILED(sp->Commit()))
    {
        std::fprintf(stderr, "allocator setup failed (0x%lX)\n", static_cast<unsigned long>(hr));
        std::exit(1);
    }
    return sp;
}

double OneThread(IMemAllocator* pAlloc, long nCycles)
{
    LONGLONG llStart = Now();
    for (long i = 0; i < nCycles; ++i)
    {
        IMediaSample* pSample = nullptr;
        if (pAlloc->GetBuffer(&pSample, nullptr, nullptr, AM_GBF_NOWAIT) != S_OK)
            std::exit(2);
        pSample->Release();
    }
    return Nanoseconds(Now() - llStart, nCycles);
}

// The producer waits for buffers that a downstream thread releases.
double WithDownstream(IMemAllocator* pAlloc, long nCycles)
{
    std::mutex mutex;
    std::deque<IMediaSample*> queue;
    bool bDone = false;
    std::thread downstream([&] {
        for (;;)
        {
            IMediaSample* pSample = nullptr;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (!queue.empty())
                {
                    pSample = queue.front();
                    queue.pop_front();
                }
                else if (bDone)
                {
                    return;
                }
            }
            if (pSample)
                pSample->Release();
            else
                SwitchToThread();
        }
    });
    LONGLONG llStart = Now();
    for (long i = 0; i < nCycles; ++i)
    {
        IMediaSample* pSample = nullptr;
        if (pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0) != S_OK)
            std::exit(3);
        std::lock_guard<std::mutex> lock(mutex);
        queue.push_back(pSample);
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        bDone = true;
    }
    downstream.join();
    return Nanoseconds(Now() - llStart, nCycles);
}

double SnapshotRoundTrip(IMemAllocator* pAlloc, long nCycles)
{
    IMediaSample* pSample = nullptr;
    pAlloc->GetBuffer(&pSample, nullptr, nullptr, 0);
    LONGLONG llStart = Now();
    for (long i = 0; i < nCycles; ++i)
    {
        CSampleT smp;
        smp.Load(pSample, 0x1180);
        smp.Remove(PM_BUFF);
        smp.SetActualDataLength(7680);
        smp.SetTime(i * 400000LL, (i + 1) * 400000LL);
        smp.SetMediaTime(i * 1920LL, (i + 1) * 1920LL);
        smp.SetDiscontinuity(FALSE);
        smp.Save(pSample, 0xFFFF);
    }
    double dbl = Nanoseconds(Now() - llStart, nCycles);
    pSample->Release();
    return dbl;
}
}

int main(int argc, char** argv)
{
    long nCycles = argc > 1 ? std::atol(argv[1]) : 200000;
    if (nCycles <= 0)
        nCycles = 200000;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::printf("Buffer round trip, 8 buffers of 7680 bytes (40 ms of 48 kHz stereo 16-bit), %ld cycles\n", nCycles);
    std::printf("%-34s %12s %12s\n", "", "Tonewell", "platform");
    for (int i = 0; i < 3; ++i)
    {
        double dbl[2];
        for (int k = 0; k < 2; ++k)
        {
            CComPtr<IMemAllocator> spAlloc = Committed(k == 0, 8, 7680);
            dbl[k] = i == 0   ? OneThread(spAlloc, nCycles)
                     : i == 1 ? WithDownstream(spAlloc, nCycles / 4)
                              : (k == 0 ? SnapshotRoundTrip(spAlloc, nCycles) : 0.0);
            spAlloc->Decommit();
        }
        const char* pszName = i == 0   ? "GetBuffer + Release, one thread"
                              : i == 1 ? "GetBuffer, release downstream"
                                       : "CSampleT Load 0x1180 + Save 0xFFFF";
        if (i < 2)
            std::printf("%-34s %9.0f ns %9.0f ns\n", pszName, dbl[0], dbl[1]);
        else
            std::printf("%-34s %9.0f ns %12s\n", pszName, dbl[0], "-");
    }
    CoUninitialize();
    return 0;
}
