// Synthesis throughput: every channel of 40 ms buffers filled with one CAudioHelp::FillBuffer
// call per channel, as the filter does: per sample, through the sine caches, and against a
// constant level and a memset of the same bytes.
// Usage: bench_synthesis [seconds of audio per format, default 60]
#include <windows.h>

#include "bench/BenchClock.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// Seconds taken to fill every channel of nBuffers buffers; channel c gets dwFreq + 10 c Hz
// (or dwFreq itself when it is a constant level), through its cache when caches are given.
// Negative on failure.
double FillAll(const CSetup& s, const WAVEFORMATEXTENSIBLE& wfe, std::vector<BYTE>& buf, DWORD nBuffers, DWORD dwFreq,
               CSineCache* pCaches)
{
    const unsigned cbSample = s.wBits / 8;
    std::vector<DWORD> pos(s.wChannels, 0);
    LONGLONG llStart = Now();
    for (DWORD b = 0; b < nBuffers; ++b)
        for (WORD c = 0; c < s.wChannels; ++c)
        {
            DWORD dwChannelFreq = dwFreq == CAudioHelp::FREQ_CONSTANT ? dwFreq : dwFreq + 10 * c;
            HRESULT hr = CAudioHelp::FillBuffer(buf.data() + c * cbSample, DWORD(buf.size()), &wfe.Format,
                                                dwChannelFreq, &pos[c], 0.5, pCaches != nullptr ? &pCaches[c] : nullptr);
            if (FAILED(hr))
            {
                std::printf("%s: FillBuffer failed 0x%08lX\n", s.pszName, hr);
                return -1;
            }
        }
    return Seconds(Now() - llStart);
}

void Print(const char* pszName, const char* pszWhat, double dblSeconds, double dblAudio, double dblFrames,
           double dblSamples)
{
    std::printf("%-22s %-22s %7.3f s %11.0f frames/s %8.1fx real time %6.2f ns/sample\n", pszName, pszWhat,
                dblSeconds, dblFrames / dblSeconds, dblAudio / dblSeconds, dblSeconds * 1e9 / dblSamples);
}

void Run(const CSetup& s, DWORD dwSeconds)
{
    const WAVEFORMATEXTENSIBLE wfe = MakeFormat(s);
    const DWORD nFrames = s.dwRate / 25;   // 40 ms
    const DWORD cbBuffer = nFrames * wfe.Format.nBlockAlign;
    const DWORD nBuffers = dwSeconds * 25;
    std::vector<BYTE> buf(cbBuffer);
    std::vector<CSineCache> caches(s.wChannels);

    // The per-sample path over one second only: it is the slow one.
    double dblPerSample = FillAll(s, wfe, buf, 25, 1000, nullptr);
    // The first second fills the caches; the following ones read them.
    double dblFirst = FillAll(s, wfe, buf, 25, 1000, caches.data());
    double dblCached = FillAll(s, wfe, buf, nBuffers, 1000, caches.data());
    double dblLevel = FillAll(s, wfe, buf, nBuffers, CAudioHelp::FREQ_CONSTANT, nullptr);
    if (dblPerSample < 0 || dblFirst < 0 || dblCached < 0 || dblLevel < 0)
        return;
    size_t cbCaches = 0;
    for (const CSineCache& cache : caches)
        cbCaches += cache.Bytes();

    volatile BYTE bSink = 0;
    LONGLONG llStart = Now();
    for (DWORD b = 0; b < nBuffers; ++b)
    {
        std::memset(buf.data(), int(b), cbBuffer);
        bSink = bSink + buf[b % cbBuffer];
    }
    double dblSet = Seconds(Now() - llStart);

    const double dblFrames = double(nFrames) * nBuffers, dblSecond = double(nFrames) * 25;
    Print(s.pszName, "sine per sample (1 s)", dblPerSample, 1, dblSecond, dblSecond * s.wChannels);
    Print("", "sine, caches filling", dblFirst, 1, dblSecond, dblSecond * s.wChannels);
    Print("", "sine from the caches", dblCached, dwSeconds, dblFrames, dblFrames * s.wChannels);
    Print("", "constant level", dblLevel, dwSeconds, dblFrames, dblFrames * s.wChannels);
    Print("", "memset of the bytes", dblSet, dwSeconds, dblFrames, dblFrames * s.wChannels);
    std::printf("%-22s cached sine: %.1fx the per-sample speed, %.2fx the constant level's time; caches %.0f KiB\n",
                "", (dblPerSample / dblSecond) / (dblCached / dblFrames), dblCached / dblLevel, cbCaches / 1024.0);
}
}

int main(int argc, char** argv)
{
    DWORD dwSeconds = argc > 1 ? DWORD(std::strtoul(argv[1], nullptr, 10)) : 60;
    if (dwSeconds == 0)
        dwSeconds = 60;
    const CSetup setups[] = {
        {"2 ch 16-bit 48 kHz", 48000, 2, 16},
        {"8 ch 24-bit 96 kHz", 96000, 8, 24},
        {"32 ch 32-bit 192 kHz", 192000, 32, 32},
    };
    std::printf("One FillBuffer call per channel per 40 ms buffer, sines of 1000 + 10 c Hz: one second per\n"
                "sample, one second filling the channels' caches, then %lu s from them; a constant level\n"
                "(the same stores without sin) and memset of the same bytes for comparison\n",
                static_cast<unsigned long>(dwSeconds));
    for (const CSetup& s : setups)
        Run(s, dwSeconds);
    return 0;
}
