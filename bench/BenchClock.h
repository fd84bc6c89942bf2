// Timing pieces shared by the benchmark programs: the performance counter, conversions,
// and a line of order statistics over per-run figures.
#pragma once
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace bench
{
inline LONGLONG Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

inline double Seconds(LONGLONG llTicks)
{
    LARGE_INTEGER freq;
    QueryPerformanceFrequency(&freq);
    return double(llTicks) / double(freq.QuadPart);
}

inline double Microseconds(LONGLONG llTicks) { return Seconds(llTicks) * 1e6; }

// Prints n, median, p90, max and mean of the figures (microseconds); sorts them.
inline void ReportMicroseconds(const char* pszWhat, std::vector<double>& samples)
{
    if (samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    double dSum = 0;
    for (double d : samples)
        dSum += d;
    printf("%-22s n=%zu  median %8.2f us  p90 %8.2f us  max %8.2f us  mean %8.2f us\n", pszWhat, samples.size(),
           samples[samples.size() / 2], samples[samples.size() * 9 / 10], samples.back(), dSum / samples.size());
}
}
