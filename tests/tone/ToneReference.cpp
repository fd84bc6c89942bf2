#include "tone/ToneReference.h"

#include <cmath>

namespace tonestream
{
namespace
{
const double kTwoPi = 4.0 * std::asin(1.0);
}

CToneReference::CToneReference(const CToneFormat& fmt) : m_fmt(fmt) {}

void CToneReference::SetTone(int c, int nFreq, double dblLevel)
{
    SetFrequency(c, nFreq);
    SetLevel(c, dblLevel);
}

void CToneReference::SetFrequency(int c, int nFreq)
{
    m_aChannels[c].nFreq = DWORD(nFreq);
}

void CToneReference::SetLevel(int c, double dblLevel)
{
    m_aChannels[c].dblLevel = dblLevel;
}

void CToneReference::SetFormat(const CToneFormat& fmt)
{
    m_fmt = fmt;
    for (int c = 0; c < fmt.nChannels; ++c)
        m_aChannels[c].nPos = 0;
}

void CToneReference::ResetPhases()
{
    for (CChannel& ch : m_aChannels)
        ch.nPos = 0;
}

std::vector<BYTE> CToneReference::Render(DWORD nFrames)
{
    std::vector<BYTE> bytes(size_t(nFrames) * m_fmt.BlockAlign(), 0xCD);
    const DWORD cbSample = m_fmt.ContainerBits() / 8;
    for (DWORD c = 0; c < m_fmt.nChannels; ++c)
    {
        CChannel& ch = m_aChannels[c];
        if (ch.nFreqUsed != ch.nFreq)
        {
            // Keep pos * f: the instantaneous phase at the buffer boundary.
            if (ch.nFreq == 0)
                ch.nPos = 0;
            else
            {
                double dbl = std::floor(double(ch.nFreqUsed) * double(ch.nPos) / double(ch.nFreq) + 0.5);
                ch.nPos = DWORD(std::fmod(dbl, double(m_fmt.nRate)));
            }
            ch.nFreqUsed = ch.nFreq;
        }
        // The synthesis refuses a sine at or above half the rate exactly, 2f >= rate (any
        // code but the square wave's counts as one): the channels before have advanced, this
        // one and the rest not.
        if (ch.nFreqUsed != DWORD(kToneSquare) && 2 * ULONGLONG(ch.nFreqUsed) >= m_fmt.nRate)
            return {};
        RenderChannel(ch, bytes.data() + c * cbSample, nFrames);
    }
    return bytes;
}

void CToneReference::RenderChannel(CChannel& ch, BYTE* pFirst, DWORD nFrames) const
{
    const WORD nBits = m_fmt.ContainerBits();
    const DWORD cbStride = m_fmt.BlockAlign();
    if (ch.nFreqUsed == DWORD(kToneConstant))
    {
        const DWORD dw = SampleWord(ch.dblLevel, nBits, m_fmt.nValidBits);
        for (DWORD i = 0; i < nFrames; ++i)
            Store(pFirst + i * cbStride, dw);
        ch.nPos = 0;
        return;
    }
    if (ch.nFreqUsed == DWORD(kToneSquare))
    {
        const double dblFirst = ch.nPos == 0 ? ch.dblLevel : -ch.dblLevel;
        const DWORD dwFirst = SampleWord(dblFirst, nBits, m_fmt.nValidBits);
        const DWORD dwSecond = SampleWord(-dblFirst, nBits, m_fmt.nValidBits);
        for (DWORD i = 0; i < nFrames; ++i)
            Store(pFirst + i * cbStride, i < nFrames / 2 ? dwFirst : dwSecond);
        ch.nPos = ch.nPos == 0 ? 1 : 0;
        return;
    }
    const double w = kTwoPi * double(ch.nFreqUsed) / double(m_fmt.nRate);
    DWORD p = ch.nPos % m_fmt.nRate;
    for (DWORD i = 0; i < nFrames; ++i)
    {
        Store(pFirst + i * cbStride, SampleWord(ch.dblLevel * std::sin(w * double(p)), nBits, m_fmt.nValidBits));
        if (++p == m_fmt.nRate)
            p = 0;
    }
    ch.nPos = p;
}

void CToneReference::Store(BYTE* p, DWORD dwWord) const
{
    for (WORD b = 0; b < m_fmt.ContainerBits() / 8; ++b)
        p[b] = BYTE(dwWord >> (8 * b));
}

DWORD CToneReference::SampleWord(double dblLevel, WORD nBits, WORD nValidBits)
{
    // Full 32-bit scale, rounded half away from zero.
    const double dblScaled = 2147483647.0 * dblLevel + (dblLevel >= 0 ? 0.5 : -0.5);
    const LONG lValue = LONG(dblScaled);
    const DWORD dwStep = nValidBits == 32 ? 1u : 1u << (32 - nValidBits);
    DWORD dwTop = DWORD(lValue) & ~(dwStep - 1);
    // The most negative value stays one step of the significant scale above it.
    if (DWORD(lValue) == 0x80000000u)
        dwTop = 0x80000000u | dwStep;
    const DWORD dwWord = dwTop >> (32 - nBits);
    return nBits == 8 ? (dwWord + 128) & 0xFF : dwWord;
}

REFERENCE_TIME CToneReference::FramesToTime(LONGLONG llFrames, DWORD nRate)
{
    return llFrames / nRate * 10000000 + llFrames % nRate * 10000000 / nRate;
}
}
