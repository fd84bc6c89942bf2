// Persistence costs the filter pays: saving and loading its 414-byte settings block
// (eight plain fields) through a platform memory stream, and sizing it.
// Usage: bench_persist [rounds, default 20000]
#include <windows.h>
#include <objidl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/Persist.h"

namespace
{
// The filter's persisted fields, in its map order.
class CSettings : public CPersistObjectImpl<CSettings>
{
public:
    BEGIN_PERSIST_MAP(CSettings)
        PERSIST_ENTRY(m_clsid)
        PERSIST_ENTRY(m_nChannels)
        PERSIST_ENTRY(m_nChannelMask)
        PERSIST_ENTRY(m_nBitsPerSample)
        PERSIST_ENTRY(m_nValidBitsPerSample)
        PERSIST_ENTRY(m_nSamplesPerSec)
        PERSIST_ENTRY(m_anFreq)
        PERSIST_ENTRY(m_adblLevel)
    END_PERSIST_MAP()
    LPCWSTR ObjectName() override { return L"[Bench]"; }

    GUID m_clsid = {};
    WORD m_nChannels = 2;
    DWORD m_nChannelMask = 0;
    WORD m_nBitsPerSample = 16;
    WORD m_nValidBitsPerSample = 16;
    DWORD m_nSamplesPerSec = 48000;
    LONG m_anFreq[32] = {};
    double m_adblLevel[32] = {};
};

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

void Report(const char* pszWhat, std::vector<double>& samples)
{
    std::sort(samples.begin(), samples.end());
    double dSum = 0;
    for (double d : samples)
        dSum += d;
    printf("%-14s n=%zu  median %7.2f us  p90 %7.2f us  max %8.2f us  mean %7.2f us\n", pszWhat, samples.size(),
           samples[samples.size() / 2], samples[samples.size() * 9 / 10], samples.back(), dSum / samples.size());
}
}

int main(int argc, char** argv)
{
    int nRounds = argc > 1 ? atoi(argv[1]) : 20000;
    if (nRounds <= 0)
        nRounds = 20000;
    CSettings settings;
    IStream* pStm = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &pStm)))
        return 1;
    const LARGE_INTEGER liStart = {};
    std::vector<double> save, load, size;
    ULONG cbSize = 0;
    for (int i = 0; i < nRounds; ++i)
    {
        pStm->Seek(liStart, STREAM_SEEK_SET, nullptr);
        LONGLONG t0 = Now();
        HRESULT hrSave = settings.PersistSave(pStm, TRUE);
        LONGLONG t1 = Now();
        pStm->Seek(liStart, STREAM_SEEK_SET, nullptr);
        LONGLONG t2 = Now();
        HRESULT hrLoad = settings.PersistLoad(pStm);
        LONGLONG t3 = Now();
        cbSize = settings.PersistSize();
        LONGLONG t4 = Now();
        if (hrSave != S_OK || hrLoad != S_OK)
        {
            printf("failed: save 0x%lX, load 0x%lX\n", hrSave, hrLoad);
            return 1;
        }
        save.push_back(Microseconds(t1 - t0));
        load.push_back(Microseconds(t3 - t2));
        size.push_back(Microseconds(t4 - t3));
    }
    pStm->Release();
    printf("settings block: %lu bytes\n", cbSize);
    Report("PersistSave", save);
    Report("PersistLoad", load);
    Report("PersistSize", size);
    return 0;
}
