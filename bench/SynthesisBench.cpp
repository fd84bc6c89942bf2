// Synthesis throughput of 40 ms buffers: the landed per-sample path, one CAudioHelp::FillBuffer
// call per channel; the filter's own FillBuffer while its sine caches fill and once they are
// filled; against the filter at a constant level and a memset of the same bytes.
// Usage: bench_synthesis [seconds of audio per format, default 60]
#include <windows.h>

#include "bench/BenchClock.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/ToneFilter.h"
#include "filter/DSAudio.h"

using namespace bench;

namespace
{
struct CSetup
{
    const char* pszName;
    DWORD dwRate;
    WORD wChannels;
    WORD wBits;
};

WAVEFORMATEXTENSIBLE MakeFormat(const CSetup& s)
{
    WAVEFORMATEXTENSIBLE wfe = {};
    wfe.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    wfe.Format.nChannels = s.wChannels;
    wfe.Format.nSamplesPerSec = s.dwRate;
    wfe.Format.nBlockAlign = WORD(s.wChannels * s.wBits / 8);
    wfe.Format.nAvgBytesPerSec = s.dwRate * wfe.Format.nBlockAlign;
    wfe.Format.wBitsPerSample = s.wBits;
    wfe.Format.cbSize = 22;
    wfe.Samples.wValidBitsPerSample = s.wBits;
    return wfe;
}

// Seconds taken by the landed per-sample path: one CAudioHelp::FillBuffer call per channel
// per buffer without a cache, channel c at 1000 + 10 c Hz. Negative on failure.
double FillPerSample(const CSetup& s, const WAVEFORMATEXTENSIBLE& wfe, std::vector<BYTE>& buf, DWORD nBuffers)
{
    const unsigned cbSample = s.wBits / 8;
    std::vector<DWORD> pos(s.wChannels, 0);
    LONGLONG llStart = Now();
    for (DWORD b = 0; b < nBuffers; ++b)
        for (WORD c = 0; c < s.wChannels; ++c)
            if (FAILED(CAudioHelp::FillBuffer(buf.data() + c * cbSample, DWORD(buf.size()), &wfe.Format, 1000 + 10 * c,
                                              &pos[c], 0.5)))
                return -1;
    return Seconds(Now() - llStart);
}

// Seconds taken by the filter's own FillBuffer, as the streaming thread calls it. Negative on
// failure.
double FillFilter(CAudioSource& filter, const WAVEFORMATEXTENSIBLE& wfe, std::vector<BYTE>& buf, DWORD nBuffers)
{
    LONGLONG llStart = Now();
    for (DWORD b = 0; b < nBuffers; ++b)
        if (FAILED(filter.FillBuffer(buf.data(), DWORD(buf.size()), &wfe.Format)))
            return -1;
    return Seconds(Now() - llStart);
}

void Print(const char* pszName, const char* pszWhat, double dblSeconds, double dblAudio, double dblFrames,
           double dblSamples)
{
    std::printf("%-22s %-24s %7.3f s %11.0f frames/s %8.1fx real time %6.2f ns/sample\n", pszName, pszWhat,
                dblSeconds, dblFrames / dblSeconds, dblAudio / dblSeconds, dblSeconds * 1e9 / dblSamples);
}

void Run(const CSetup& s, DWORD dwSeconds)
{
    const WAVEFORMATEXTENSIBLE wfe = MakeFormat(s);
    const DWORD nFrames = s.dwRate / 25;   // 40 ms
    const DWORD cbBuffer = nFrames * wfe.Format.nBlockAlign;
    const DWORD nBuffers = dwSeconds * 25;
    std::vector<BYTE> buf(cbBuffer);

    CComPtr<IBaseFilter> spSine, spConstant;
    if (FAILED(NewToneFilter(s.wBits, s.wChannels, s.dwRate, 1000, spSine)) ||
        FAILED(NewToneFilter(s.wBits, s.wChannels, s.dwRate, 0, spConstant)))
    {
        std::printf("%s: the filter refused the format\n", s.pszName);
        return;
    }
    // The per-sample path over one second only: it is the slow one.
    const double dblPerSample = FillPerSample(s, wfe, buf, 25);
    // The first second fills the caches; the following ones read them.
    const double dblFirst = FillFilter(Concrete(spSine), wfe, buf, 25);
    const double dblCached = FillFilter(Concrete(spSine), wfe, buf, nBuffers);
    const double dblLevel = FillFilter(Concrete(spConstant), wfe, buf, nBuffers);
    if (dblPerSample < 0 || dblFirst < 0 || dblCached < 0 || dblLevel < 0)
    {
        std::printf("%s: FillBuffer failed\n", s.pszName);
        return;
    }
    size_t cbCaches = 0;
    for (const CSineCache& cache : Concrete(spSine).m_aSineCache)
        cbCaches += cache.Bytes();

    volatile BYTE bSink = 0;
    LONGLONG llStart = Now();
    for (DWORD b = 0; b < nBuffers; ++b)
    {
        std::memset(buf.data(), int(b), cbBuffer);
        bSink = bSink + buf[b % cbBuffer];
    }
    const double dblSet = Seconds(Now() - llStart);

    const double dblFrames = double(nFrames) * nBuffers, dblSecond = double(nFrames) * 25;
    Print(s.pszName, "sine per sample (1 s)", dblPerSample, 1, dblSecond, dblSecond * s.wChannels);
    Print("", "filter, caches filling", dblFirst, 1, dblSecond, dblSecond * s.wChannels);
    Print("", "filter, sine from caches", dblCached, dwSeconds, dblFrames, dblFrames * s.wChannels);
    Print("", "filter, constant level", dblLevel, dwSeconds, dblFrames, dblFrames * s.wChannels);
    Print("", "memset of the bytes", dblSet, dwSeconds, dblFrames, dblFrames * s.wChannels);
    std::printf("%-22s sine from caches: %.1fx the per-sample speed, %.2fx the constant level's time;\n"
                "%-22s caches %.0f KiB\n",
                "", (dblPerSample / dblSecond) / (dblCached / dblFrames), dblCached / dblLevel, "", cbCaches / 1024.0);
}
}

int main(int argc, char** argv)
{
    DWORD dwSeconds = argc > 1 ? DWORD(std::strtoul(argv[1], nullptr, 10)) : 60;
    if (dwSeconds == 0)
        dwSeconds = 60;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    const CSetup setups[] = {
        {"2 ch 16-bit 48 kHz", 48000, 2, 16},
        {"8 ch 24-bit 96 kHz", 96000, 8, 24},
        {"32 ch 32-bit 192 kHz", 192000, 32, 32},
    };
    std::printf("40 ms buffers, sines of 1000 + 10 c Hz: one second by the per-sample path (a FillBuffer\n"
                "call per channel without cache), one second by the filter's FillBuffer while its caches\n"
                "fill, then %lu s from them; the filter at a constant level (the same stores without sin)\n"
                "and memset of the same bytes for comparison\n",
                static_cast<unsigned long>(dwSeconds));
    for (const CSetup& s : setups)
        Run(s, dwSeconds);
    CoUninitialize();
    return 0;
}
