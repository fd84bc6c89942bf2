// PCM tone synthesis: one channel of an interleaved integer PCM buffer at a time.
//
// Sample words: PackSample and LevelToSample return a 32-bit word whose low wBitsPerSample
// bits are the sample exactly as stored (little-endian; 8-bit containers in excess-128, the
// others in two's complement), with the significant bits left-justified and the rest 0.
#pragma once
#include <windows.h>
#include <dshow.h>
#include <mmreg.h>

class CSineCache;

class CAudioHelp
{
public:
    // Frequency codes besides a sine's whole hertz.
    static constexpr DWORD FREQ_CONSTANT = 0;            // a constant level
    static constexpr DWORD FREQ_SQUARE = 0xFFFFFFFF;     // a square wave whose half-period is one buffer

    // The one frequency rule of the filter: a sine or a constant level plays at dwRate when it
    // lies below half the rate exactly (2f < rate), so at odd rates (rate - 1) / 2 still does.
    static bool BelowHalfRate(DWORD dwFreqHz, DWORD dwRate) { return 2 * ULONGLONG(dwFreqHz) < dwRate; }
    // The highest frequency that rule admits at dwRate (1 Hz or more): 0 at 1 and 2 Hz.
    static DWORD HighestFrequency(DWORD dwRate) { return dwRate != 0 ? (dwRate - 1) / 2 : 0; }

    // The angle per frame of a sine of dwFreqHz at dwRate: 2 pi f / rate.
    static double SineStep(DWORD dwFreqHz, DWORD dwRate);

    // Writes one sample per frame of the region (cbLen bytes, whole frames) into the channel
    // whose first sample is at pBuf; other channels' bytes are not touched. *pdwPos is the
    // channel's phase (the index within the current second, or the square wave's toggle):
    // read at entry, written at exit; null starts at 0 and stores nothing. dblLevel in
    // -1.0..1.0; a negative level inverts the waveform. A failure writes nothing. With the
    // channel's pCache a sine is copied from its packed words (the same bytes, see
    // SineCache.h) and any other tone frees them.
    static HRESULT FillBuffer(BYTE* pBuf, DWORD cbLen, const WAVEFORMATEX* pWF, DWORD dwFreqHz, DWORD* pdwPos,
                              double dblLevel, CSineCache* pCache = nullptr);
    // dblLevel limited to dblMin..1.0; NaN, which no comparison admits, becomes silence (0.0).
    static double ClampLevel(double dblLevel, double dblMin);
    // The sample word of a linear level (-1.0..1.0), rounded half away from zero.
    static DWORD LevelToSample(double dblLevel, WORD wBitsPerSample, WORD wValidBits);
    // The sample word of lValue, a signed sample at full 32-bit scale; the low bits below the
    // significant ones are cleared (rounding toward minus infinity).
    static DWORD PackSample(LONG lValue, WORD wBitsPerSample, WORD wValidBits);
    // Reference time of llSamples frames at pWF's rate, rounded down or up; 0 without a rate.
    static REFERENCE_TIME SamplesToTime(LONGLONG llSamples, const WAVEFORMATEX* pWF, BOOL bRoundUp);
};
