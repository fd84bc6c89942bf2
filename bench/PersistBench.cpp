// Persistence costs the filter pays: saving and loading its 414-byte settings block
// (eight plain fields) through a platform memory stream, and sizing it.
// Usage: bench_persist [rounds, default 20000]
#include <windows.h>

#include "bench/BenchClock.h"
#include <objidl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/Persist.h"

using namespace bench;

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
    ReportMicroseconds("PersistSave", save);
    ReportMicroseconds("PersistLoad", load);
    ReportMicroseconds("PersistSize", size);
    return 0;
}
