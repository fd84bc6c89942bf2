// The sample word of a level or of one sine position: the packing of one container width and
// significant-bit count, shared by the per-sample synthesis and the sine cache so that both
// produce a word by the very same arithmetic.
#pragma once
#include <windows.h>

#include <cmath>

#include "filter/FastSine.h"

// The packing of one container width and significant-bit count, prepared once per buffer.
struct CPacker
{
    CPacker(WORD wBitsPerSample, WORD wValidBits)
    {
        // Out-of-range widths would make the shifts below undefined.
        unsigned nBits = wBitsPerSample < 1 ? 1 : wBitsPerSample > 32 ? 32 : wBitsPerSample;
        unsigned nValid = wValidBits < 1 ? 1 : wValidBits > 32 ? 32 : wValidBits;
        m_dwKeep = ~((1u << (32 - nValid)) - 1);
        m_dwMostNegative = 0x80000000u | (1u << (32 - nValid));
        m_nShift = 32 - nBits;
        m_dwBias = nBits == 8 ? 128 : 0;
        m_dwMask = nBits == 8 ? 0xFF : 0xFFFFFFFF;
    }

    DWORD Pack(LONG lValue) const
    {
        DWORD dw = DWORD(lValue);
        DWORD dwPattern = dw == 0x80000000u ? m_dwMostNegative : dw & m_dwKeep;
        return ((dwPattern >> m_nShift) + m_dwBias) & m_dwMask;
    }

    // Rounds half away from zero; |dblLevel| <= 1 keeps the result within +-2147483647.
    static LONG FromLevel(double dblLevel)
    {
        return LONG(2147483647.0 * dblLevel + (dblLevel >= 0 ? 0.5 : -0.5));
    }

    // The word of a sine at position dwPos: level x sin(step x position), by the runtime's sin.
    DWORD SineWordBySin(double dblStep, double dblLevel, DWORD dwPos) const
    {
        return Pack(FromLevel(dblLevel * std::sin(dblStep * double(dwPos))));
    }

    // The same word, mostly without the runtime's sin: FromLevel is monotonic, so when it
    // gives one value at both ends of the fast sine's tolerance, the runtime's sin, which lies
    // within that tolerance, gives that value too. Elsewhere (a few in a thousand words, next
    // to a rounding step) the runtime's sin decides.
    DWORD SineWord(double dblStep, double dblLevel, DWORD dwPos) const
    {
        const double x = dblStep * double(dwPos);
        if (x < fastsine::LIMIT)
        {
            const double s = fastsine::Sin(x), d = fastsine::Tolerance(x);
            const LONG lLow = FromLevel(dblLevel * (s - d));
            if (lLow == FromLevel(dblLevel * (s + d)))
                return Pack(lLow);
        }
        return SineWordBySin(dblStep, dblLevel, dwPos);
    }

    DWORD m_dwKeep;
    DWORD m_dwMostNegative;
    unsigned m_nShift;
    DWORD m_dwBias;
    DWORD m_dwMask;
};
