// The clock of the trace output statistic. Every trace line reads it twice, and the
// performance counter can cost a system call (about 0.15 us under Wine, more than the
// formatting of a whole line). Where the processor's time-stamp counter runs at a constant
// rate in every power state (the "invariant" flag), the statistic reads that instead, a few
// nanoseconds, and measures its rate against the performance counter over the time from the
// clock's creation to the first question for it (at least 1 ms). Elsewhere it is the
// performance counter with the platform's frequency.
#pragma once
#include <windows.h>

#include <x86intrin.h>

class CStatClock
{
public:
    CStatClock();
    LONGLONG Now() const { return m_bTsc ? LONGLONG(__rdtsc()) : Counter(); }
    // Ticks per second; 0 only when the platform has no performance counter.
    LONGLONG Frequency() const;
    bool UsesTimeStampCounter() const { return m_bTsc; }

private:
    static LONGLONG Counter()
    {
        LARGE_INTEGER li;
        return QueryPerformanceCounter(&li) ? li.QuadPart : 0;
    }

    bool m_bTsc;
    LONGLONG m_llCounterFreq;  // the performance counter's
    LONGLONG m_llCounter0;
    LONGLONG m_llTicks0;
    mutable volatile LONGLONG m_llFreq;  // measured once; 0 until then
};
