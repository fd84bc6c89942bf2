// The table of one second of interleaved frames: the decision per buffer, lazily computed
// blocks, and copies that wrap at the end of the second.
#include "filter/FrameTable.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

#include "filter/DSAudio.h"
#include "filter/SampleWord.h"
#include "filter/SineCache.h"

namespace
{
bool SameTones(const CFrameTable::CTones& a, const CFrameTable::CTones& b)
{
    if (a.dwRate != b.dwRate || a.nChannels != b.nChannels || a.wBits != b.wBits || a.wValidBits != b.wValidBits)
        return false;
    for (WORD c = 0; c < a.nChannels; ++c)
    {
        const CFrameTable::CChannelTone &x = a.aChannel[c], &y = b.aChannel[c];
        // The level by its bits: any difference at all gives other words.
        if (x.dwFreq != y.dwFreq || x.dwOffset != y.dwOffset ||
            std::bit_cast<uint64_t>(x.dblLevel) != std::bit_cast<uint64_t>(y.dblLevel))
            return false;
    }
    return true;
}

// Stores words into every nStride-th byte: word(n) for n in [0, nFrames).
template <unsigned cbSample, class TWord>
void StoreColumn(BYTE* pb, DWORD nFrames, unsigned nStride, TWord word)
{
    for (DWORD n = 0; n < nFrames; ++n, pb += nStride)
    {
        const DWORD dw = word(n);
        std::memcpy(pb, &dw, cbSample);
    }
}

template <class TWord>
void StoreColumnAny(unsigned cbSample, BYTE* pb, DWORD nFrames, unsigned nStride, TWord word)
{
    switch (cbSample)
    {
    case 1: StoreColumn<1>(pb, nFrames, nStride, word); break;
    case 2: StoreColumn<2>(pb, nFrames, nStride, word); break;
    case 3: StoreColumn<3>(pb, nFrames, nStride, word); break;
    default: StoreColumn<4>(pb, nFrames, nStride, word); break;
    }
}
}

bool CFrameTable::Use(const CTones& tones, DWORD nFrames)
{
    if (m_bHolds && SameTones(tones, m_tones))
        return true;
    if (m_bHolds)
    {
        // A change under the table: the per-channel path until the new tones have stayed.
        Release();
        m_bWaiting = true;
        m_llSteadyFrames = 0;
    }
    else if (m_bWaiting && !SameTones(tones, m_tonesSeen))
        m_llSteadyFrames = 0;
    if (m_bWaiting && m_llSteadyFrames < tones.dwRate)
    {
        m_tonesSeen = tones;
        m_llSteadyFrames += nFrames;
        return false;
    }
    m_bWaiting = false;
    return Prepare(tones);
}

bool CFrameTable::Prepare(const CTones& tones)
{
    const size_t nBlocks = (size_t(tones.dwRate) + BLOCK - 1) / BLOCK;
    const size_t cbSample = tones.wBits / 8;
    // Each channel's share within the bound of the per-channel cache it stands for.
    if (tones.dwRate == 0 || size_t(tones.dwRate) * cbSample + nBlocks > CSineCache::MAX_BYTES)
    {
        Release();
        return false;
    }
    const size_t cbFrames = size_t(tones.dwRate) * cbSample * tones.nChannels;
    if (cbFrames + nBlocks != m_cbMemory)
    {
        Release();
        m_apMemory.reset(new (std::nothrow) BYTE[cbFrames + nBlocks]);
        if (!m_apMemory)
            return false;
        m_cbMemory = cbFrames + nBlocks;
    }
    m_pbFilled = m_apMemory.get() + cbFrames;
    std::memset(m_pbFilled, 0, nBlocks);
    m_tones = tones;
    m_bHolds = true;
    return true;
}

void CFrameTable::ComputeBlock(DWORD nBlock)
{
    const DWORD dwRate = m_tones.dwRate;
    const unsigned cbSample = m_tones.wBits / 8, nStride = cbSample * m_tones.nChannels;
    const DWORD dwFirst = nBlock * BLOCK;
    const DWORD nFrames = dwRate - dwFirst < BLOCK ? dwRate - dwFirst : BLOCK;
    const CPacker packer(m_tones.wBits, m_tones.wValidBits);
    BYTE* pbFrame = m_apMemory.get() + size_t(dwFirst) * nStride;
    for (WORD c = 0; c < m_tones.nChannels; ++c)
    {
        const CChannelTone& tone = m_tones.aChannel[c];
        BYTE* pb = pbFrame + size_t(c) * cbSample;
        if (tone.dwFreq == CAudioHelp::FREQ_CONSTANT || tone.dwFreq == CAudioHelp::FREQ_SQUARE)
        {
            // A square wave's column is overwritten by the caller; zeros keep the table defined.
            const DWORD dwWord =
                tone.dwFreq == CAudioHelp::FREQ_SQUARE ? 0 : packer.Pack(CPacker::FromLevel(tone.dblLevel));
            StoreColumnAny(cbSample, pb, nFrames, nStride, [dwWord](DWORD) { return dwWord; });
        }
        else
        {
            const double dblStep = CAudioHelp::SineStep(tone.dwFreq, dwRate);
            // The channel's position of the block's first frame; it wraps at most once in a block.
            DWORD dwStart = dwFirst + tone.dwOffset;
            if (dwStart >= dwRate)
                dwStart -= dwRate;
            StoreColumnAny(cbSample, pb, nFrames, nStride, [&, dwStart](DWORD n) {
                DWORD dwPos = dwStart + n;
                if (dwPos >= dwRate)
                    dwPos -= dwRate;
                return packer.SineWord(dblStep, tone.dblLevel, dwPos);
            });
        }
    }
    m_pbFilled[nBlock] = 1;
}

void CFrameTable::Copy(BYTE* pb, DWORD nFrames, DWORD dwFrame)
{
    const size_t cbFrame = size_t(m_tones.wBits / 8) * m_tones.nChannels;
    while (nFrames > 0)
    {
        const DWORD nRun = nFrames < m_tones.dwRate - dwFrame ? nFrames : m_tones.dwRate - dwFrame;
        for (DWORD nBlock = dwFrame / BLOCK; nBlock <= (dwFrame + nRun - 1) / BLOCK; ++nBlock)
            if (!m_pbFilled[nBlock])
                ComputeBlock(nBlock);
        std::memcpy(pb, m_apMemory.get() + size_t(dwFrame) * cbFrame, size_t(nRun) * cbFrame);
        pb += size_t(nRun) * cbFrame;
        nFrames -= nRun;
        dwFrame = 0;
    }
}

void CFrameTable::Release()
{
    m_apMemory.reset();
    m_cbMemory = 0;
    m_pbFilled = nullptr;
    m_bHolds = false;
}

void CFrameTable::Reset()
{
    Release();
    m_bWaiting = false;
    m_llSteadyFrames = 0;
}
