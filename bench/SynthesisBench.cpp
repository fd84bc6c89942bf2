// Synthesis throughput of 40 ms buffers: the per-sample path, one CAudioHelp::FillBuffer call per
// channel; the first second through the channels' sine caches (the path after a tone change);
// the filter's own FillBuffer over its first second, while its frame table fills, and later;
// against the filter at a constant level and a memset of the same bytes.
// Usage: bench_synthesis [seconds of audio per format and figure, default 60]
#include <windows.h>

#include "bench/BenchClock.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/ToneFilter.h"
#include "filter/DSAudio.h"
#include "filter/SineCache.h"

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

// Seconds taken by the first second through one sine cache per channel: every word computed
// once. Negative on failure.
double FillCachesFirstSecond(const CSetup& s, const WAVEFORMATEXTENSIBLE& wfe, std::vector<BYTE>& buf)
{
    const unsigned cbSample = s.wBits / 8;
    std::vector<DWORD> pos(s.wChannels, 0);
    std::vector<CSineCache> caches(s.wChannels);
    LONGLONG llStart = Now();
    for (DWORD b = 0; b < 25; ++b)
        for (WORD c = 0; c < s.wChannels; ++c)
            if (FAILED(CAudioHelp::FillBuffer(buf.data() + c * cbSample, DWORD(buf.size()), &wfe.Format, 1000 + 10 * c,
                                              &pos[c], 0.5, &caches[c])))
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

// The median of the figures; sorts them.
double Median(std::vector<double>& v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// One second of audio at a time, nSeconds times: the median, so that a moment of another
// process on the machine does not count. Negative when a run failed.
template <typename Fn>
double MedianSecond(DWORD nSeconds, Fn fnOneSecond)
{
    std::vector<double> v;
    for (DWORD i = 0; i < nSeconds; ++i)
    {
        double d = fnOneSecond();
        if (d < 0)
            return -1;
        v.push_back(d);
    }
    return Median(v);
}

void Print(const char* pszName, const char* pszWhat, double dblSeconds, double dblFramesPerSecond, WORD wChannels)
{
    std::printf("%-22s %-24s %9.3f ms %11.0f frames/s %8.1fx real time %6.2f ns/sample\n", pszName, pszWhat,
                dblSeconds * 1000, dblFramesPerSecond / dblSeconds, 1 / dblSeconds,
                dblSeconds * 1e9 / (dblFramesPerSecond * wChannels));
}

void Run(const CSetup& s, DWORD dwSeconds)
{
    const WAVEFORMATEXTENSIBLE wfe = MakeFormat(s);
    const DWORD nFrames = s.dwRate / 25;   // 40 ms
    const DWORD cbBuffer = nFrames * wfe.Format.nBlockAlign;
    std::vector<BYTE> buf(cbBuffer);

    CComPtr<IBaseFilter> spSine, spConstant;
    if (FAILED(NewToneFilter(s.wBits, s.wChannels, s.dwRate, 1000, spSine)) ||
        FAILED(NewToneFilter(s.wBits, s.wChannels, s.dwRate, 0, spConstant)))
    {
        std::printf("%s: the filter refused the format\n", s.pszName);
        return;
    }
    // The per-sample path over three seconds only: it is the slow one.
    const double dblPerSample = MedianSecond(3, [&] { return FillPerSample(s, wfe, buf, 25); });
    // First seconds: the median of five, each with fresh caches or a fresh filter.
    const double dblCachesFirst = MedianSecond(5, [&] { return FillCachesFirstSecond(s, wfe, buf); });
    const double dblFirst = MedianSecond(5, [&] {
        CComPtr<IBaseFilter> spFresh;
        if (FAILED(NewToneFilter(s.wBits, s.wChannels, s.dwRate, 1000, spFresh)))
            return -1.0;
        return FillFilter(Concrete(spFresh), wfe, buf, 25);
    });
    // The first second fills the frame table; the following ones read it.
    if (FillFilter(Concrete(spSine), wfe, buf, 25) < 0)
    {
        std::printf("%s: FillBuffer failed\n", s.pszName);
        return;
    }
    const double dblCached = MedianSecond(dwSeconds, [&] { return FillFilter(Concrete(spSine), wfe, buf, 25); });
    const double dblLevel = MedianSecond(dwSeconds, [&] { return FillFilter(Concrete(spConstant), wfe, buf, 25); });
    if (dblPerSample < 0 || dblCachesFirst < 0 || dblFirst < 0 || dblCached < 0 || dblLevel < 0)
    {
        std::printf("%s: FillBuffer failed\n", s.pszName);
        return;
    }
    const size_t cbHeld = Concrete(spSine).SineMemoryBytes();

    volatile BYTE bSink = 0;
    const double dblSet = MedianSecond(dwSeconds, [&] {
        LONGLONG llStart = Now();
        for (DWORD b = 0; b < 25; ++b)
        {
            std::memset(buf.data(), int(b), cbBuffer);
            bSink = bSink + buf[b];
        }
        return Seconds(Now() - llStart);
    });

    const double dblFrames = double(nFrames) * 25;
    Print(s.pszName, "sine per sample", dblPerSample, dblFrames, s.wChannels);
    Print("", "channel caches filling", dblCachesFirst, dblFrames, s.wChannels);
    Print("", "filter, first second", dblFirst, dblFrames, s.wChannels);
    Print("", "filter, later seconds", dblCached, dblFrames, s.wChannels);
    Print("", "filter, constant level", dblLevel, dblFrames, s.wChannels);
    Print("", "memset of the bytes", dblSet, dblFrames, s.wChannels);
    std::printf("%-22s later seconds: %.1fx the per-sample speed, %.2fx the constant level's time;\n"
                "%-22s frame table %.0f KiB\n",
                "", dblPerSample / dblCached, dblCached / dblLevel, "", cbHeld / 1024.0);
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
    std::printf("Milliseconds per second of audio in 40 ms buffers, sines of 1000 + 10 c Hz: the per-sample path\n"
                "(a FillBuffer call per channel without cache; median of 3 s), the first second through the\n"
                "channels' sine caches, the filter's FillBuffer over its first second while its frame table\n"
                "fills (medians of 5 fresh starts), then later, the filter at a constant level (the same stores without sin) and memset\n"
                "of the same bytes (medians of %lu s)\n",
                static_cast<unsigned long>(dwSeconds));
    for (const CSetup& s : setups)
        Run(s, dwSeconds);
    CoUninitialize();
    return 0;
}
