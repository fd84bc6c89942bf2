// Synthesis throughput: every channel of 40 ms buffers filled with one CAudioHelp::FillBuffer
// call per channel, as the filter does, against a memset of the same bytes.
// Usage: bench_synthesis [seconds of audio per format, default 60]
#include <windows.h>

#include "bench/BenchClock.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// Seconds taken to fill every channel of nBuffers buffers; channel c gets dwFreq + 10 c Hz
// (or dwFreq itself when it is a constant level). Negative on failure.
double FillAll(const CSetup& s, const WAVEFORMATEXTENSIBLE& wfe, std::vector<BYTE>& buf, DWORD nBuffers, DWORD dwFreq)
{
    const unsigned cbSample = s.wBits / 8;
    std::vector<DWORD> pos(s.wChannels, 0);
    LONGLONG llStart = Now();
    for (DWORD b = 0; b < nBuffers; ++b)
        for (WORD c = 0; c < s.wChannels; ++c)
        {
            DWORD dwChannelFreq = dwFreq == CAudioHelp::FREQ_CONSTANT ? dwFreq : dwFreq + 10 * c;
            HRESULT hr = CAudioHelp::FillBuffer(buf.data() + c * cbSample, DWORD(buf.size()), &wfe.Format,
                                                dwChannelFreq, &pos[c], 0.5);
            if (FAILED(hr))
            {
                std::printf("%s: FillBuffer failed 0x%08lX\n", s.pszName, hr);
                return -1;
            }
        }
    return Seconds(Now() - llStart);
}

void Run(const CSetup& s, DWORD dwSeconds)
{
    const WAVEFORMATEXTENSIBLE wfe = MakeFormat(s);
    const DWORD nFrames = s.dwRate / 25;   // 40 ms
    const DWORD cbBuffer = nFrames * wfe.Format.nBlockAlign;
    const DWORD nBuffers = dwSeconds * 25;
    std::vector<BYTE> buf(cbBuffer);

    double dblFill = FillAll(s, wfe, buf, nBuffers, 1000);
    double dblLevel = FillAll(s, wfe, buf, nBuffers, CAudioHelp::FREQ_CONSTANT);
    if (dblFill < 0 || dblLevel < 0)
        return;

    volatile BYTE bSink = 0;
    LONGLONG llStart = Now();
    for (DWORD b = 0; b < nBuffers; ++b)
    {
        std::memset(buf.data(), int(b), cbBuffer);
        bSink = bSink + buf[b % cbBuffer];
    }
    double dblSet = Seconds(Now() - llStart);

    const double dblFrames = double(nFrames) * nBuffers;
    const double dblSamples = dblFrames * s.wChannels;
    const double dblBytes = double(cbBuffer) * nBuffers;
    std::printf("%-22s %3u s audio: sine %7.3f s  %12.0f frames/s  %7.1fx real time  %6.1f ns/sample\n", s.pszName,
                unsigned(dwSeconds), dblFill, dblFrames / dblFill, dwSeconds / dblFill, dblFill * 1e9 / dblSamples);
    std::printf("%-22s constant level:   %7.3f s  %12.0f frames/s  %7.1fx real time  %6.1f ns/sample\n", "",
                dblLevel, dblFrames / dblLevel, dwSeconds / dblLevel, dblLevel * 1e9 / dblSamples);
    std::printf("%-22s memset ceiling:   %7.3f s  %12.0f frames/s  %7.0fx real time  %6.2f GB/s\n", "", dblSet,
                dblFrames / dblSet, dwSeconds / dblSet, dblBytes / dblSet / 1e9);
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
    std::printf("One FillBuffer call per channel per 40 ms buffer: sines of 1000 + 10 c Hz, then a constant\n"
                "level (the same work without sin), then memset of the same bytes\n");
    for (const CSetup& s : setups)
        Run(s, dwSeconds);
    return 0;
}
