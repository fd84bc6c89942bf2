// Worker-thread costs the filter pays: one start/stop cycle (its final construction and
// release), and one wake-up handshake (the procedure woken, answering on an event, as the
// filter's Stop waits for the streaming thread's acknowledgement).
// Usage: bench_threads [cycles, default 2000]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/Threads.h"

namespace
{
LONGLONG Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

double Microseconds(LONGLONG llTicks)
{
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    return double(llTicks) * 1e6 / double(freq.QuadPart);
}

class COwner
{
public:
    COwner() { m_evAck.Create(false); }
    unsigned ThreadProc()
    {
        while (m_thread.m_bRun)
        {
            WaitForSingleObject(m_thread.m_hEvent, INFINITE);
            if (!m_thread.m_bRun)
                break;
            m_evAck.Set();
        }
        return 0;
    }
    HRESULT Start() { return m_thread.InitThread(this, &CSimpleThread<COwner>::StartThread); }

    CEvent m_evAck;
    CSimpleThread<COwner> m_thread;
};

void Report(const char* pszWhat, std::vector<double>& samples)
{
    std::sort(samples.begin(), samples.end());
    double dSum = 0;
    for (double d : samples)
        dSum += d;
    printf("%-22s n=%zu  median %8.1f us  p90 %8.1f us  max %8.1f us  mean %8.1f us\n", pszWhat, samples.size(),
           samples[samples.size() / 2], samples[samples.size() * 9 / 10], samples.back(), dSum / samples.size());
}
}

int main(int argc, char** argv)
{
    int nCycles = argc > 1 ? std::max(10, atoi(argv[1])) : 2000;
    COwner owner;

    std::vector<double> cycles;
    for (int i = 0; i < nCycles; ++i)
    {
        LONGLONG llStart = Now();
        if (FAILED(owner.Start()))
            return 1;
        owner.m_thread.Stop(INFINITE, false);
        cycles.push_back(Microseconds(Now() - llStart));
    }

    std::vector<double> wakes;
    if (FAILED(owner.Start()))
        return 1;
    for (int i = 0; i < nCycles; ++i)
    {
        LONGLONG llStart = Now();
        owner.m_thread.Wake();
        WaitForSingleObject(owner.m_evAck.m_h, INFINITE);
        wakes.push_back(Microseconds(Now() - llStart));
    }
    owner.m_thread.Stop(INFINITE, false);

    Report("start+stop cycle", cycles);
    Report("wake-up handshake", wakes);
    return 0;
}
