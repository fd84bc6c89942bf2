// The statistic's clock: the invariant time-stamp counter, or the performance counter.
#include "diagnostics/StatClock.h"

#include <cpuid.h>

#include <cmath>

namespace
{
// CPUID 8000_0007h, EDX bit 8: the time-stamp counter's rate is invariant.
bool InvariantTsc()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    // The highest leaf comes as int from one compiler's header and as unsigned from the other's.
    if (unsigned(__get_cpuid_max(0x80000000u, nullptr)) < 0x80000007u)
        return false;
    __cpuid(0x80000007u, a, b, c, d);
    return (d & (1u << 8)) != 0;
}
}

CStatClock::CStatClock() : m_bTsc(false), m_llCounterFreq(0), m_llCounter0(0), m_llTicks0(0), m_llFreq(0)
{
    LARGE_INTEGER li;
    m_llCounterFreq = QueryPerformanceFrequency(&li) ? li.QuadPart : 0;
    m_bTsc = m_llCounterFreq > 0 && InvariantTsc();
    if (!m_bTsc)
    {
        m_llFreq = m_llCounterFreq;
        return;
    }
    m_llCounter0 = Counter();
    m_llTicks0 = LONGLONG(__rdtsc());
}

LONGLONG CStatClock::Frequency() const
{
    if (m_llFreq != 0)
        return m_llFreq;
    // The longer the span, the closer the rate; a clock asked at once waits 1 ms.
    LONGLONG llCounter = Counter();
    while (llCounter - m_llCounter0 < m_llCounterFreq / 1000)
        llCounter = Counter();
    const LONGLONG llTicks = LONGLONG(__rdtsc());
    const double dblSeconds = double(llCounter - m_llCounter0) / double(m_llCounterFreq);
    const LONGLONG llFreq = std::llround(double(llTicks - m_llTicks0) / dblSeconds);
    // Threads that meet here store nearly the same rate; the first one stays.
    InterlockedCompareExchange64(&m_llFreq, llFreq > 0 ? llFreq : m_llCounterFreq, 0);
    return m_llFreq;
}
