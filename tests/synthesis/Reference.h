// An independent reference of the synthesis, evaluated the plain way in double precision and
// 64-bit integers: the expected bytes of every sample, for comparison with the real thing.
#pragma once
#include <windows.h>
#include <mmreg.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace reference
{
// The integer at full 32-bit scale of a level, rounded half away from zero.
inline int64_t FullScale(double dblLevel)
{
    double v = 2147483647.0 * dblLevel;
    return int64_t(v >= 0 ? std::floor(v + 0.5) : std::ceil(v - 0.5));
}

// The container's bytes (little-endian, cbSample of them) of a full-scale value.
inline uint32_t Code(int64_t llValue, unsigned nBits, unsigned nValid)
{
    const int64_t llStep = int64_t(1) << (32 - nValid);
    // The V-bit code: floor division; the most negative input counts as one step more.
    int64_t llCode = llValue == INT32_MIN ? -(int64_t(1) << (nValid - 1)) + 1
                                          : (llValue - ((llValue % llStep) + llStep) % llStep) / llStep;
    // Left-justified in the container.
    int64_t llContainer = llCode * (int64_t(1) << (nBits - nValid));
    if (nBits == 8)
        return uint32_t(llContainer + 128);
    return uint32_t(llContainer & ((int64_t(1) << nBits) - 1));
}

inline uint32_t LevelCode(double dblLevel, unsigned nBits, unsigned nValid)
{
    return Code(FullScale(dblLevel), nBits, nValid);
}

// The value of frame n of a sine that starts at position dwPos (wrapping at the rate).
inline double SineValue(double dblLevel, DWORD dwFreq, DWORD dwRate, uint64_t llFrame, DWORD dwPos)
{
    const double dblStep = 2.0 * std::numbers::pi * dwFreq / dwRate;
    uint64_t p = (dwPos % dwRate + llFrame) % dwRate;
    return dblLevel * std::sin(dblStep * double(p));
}

// A PCM format block: plain WAVE_FORMAT_PCM when wValid is 0, else extensible with wValid
// significant bits.
inline WAVEFORMATEXTENSIBLE WaveFormat(DWORD dwRate, WORD wChannels, WORD wBits, WORD wValid)
{
    WAVEFORMATEXTENSIBLE wfe = {};
    wfe.Format.wFormatTag = wValid == 0 ? WAVE_FORMAT_PCM : WAVE_FORMAT_EXTENSIBLE;
    wfe.Format.nChannels = wChannels;
    wfe.Format.nSamplesPerSec = dwRate;
    wfe.Format.nBlockAlign = WORD(wChannels * wBits / 8);
    wfe.Format.nAvgBytesPerSec = dwRate * wfe.Format.nBlockAlign;
    wfe.Format.wBitsPerSample = wBits;
    if (wValid != 0)
    {
        wfe.Format.cbSize = 22;
        wfe.Samples.wValidBitsPerSample = wValid;
    }
    return wfe;
}

// Reads the sample of one channel at a frame back from a buffer, as an unsigned code.
inline uint32_t ReadSample(const std::vector<BYTE>& buf, const WAVEFORMATEX& wf, size_t nFrame, unsigned nChannel)
{
    const unsigned cb = wf.wBitsPerSample / 8;
    const BYTE* p = buf.data() + nFrame * wf.nBlockAlign + nChannel * cb;
    uint32_t dw = 0;
    for (unsigned i = 0; i < cb; ++i)
        dw |= uint32_t(p[i]) << (8 * i);
    return dw;
}
}
