// Worker-thread costs the filter pays: one start/stop cycle (its final construction and
// release), and one wake-up handshake (the procedure woken, answering on an event, as the
// filter's Stop waits for the streaming thread's acknowledgement).
// Usage: bench_threads [cycles, default 2000]
#include <windows.h>

#include "bench/BenchClock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/Threads.h"

using namespace bench;

namespace
{
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

    ReportMicroseconds("start+stop cycle", cycles);
    ReportMicroseconds("wake-up handshake", wakes);
    return 0;
}
