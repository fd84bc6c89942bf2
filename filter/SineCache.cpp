// The per-channel cache of packed sine words: lazily computed blocks, per-width copy loops.
#include "filter/SineCache.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

namespace
{
bool SameTone(const CSineTone& a, const CSineTone& b)
{
    // The level by its bits: any difference at all gives other words.
    return a.dwRate == b.dwRate && a.dwFreq == b.dwFreq && a.wBits == b.wBits && a.wValidBits == b.wValidBits &&
           std::bit_cast<uint64_t>(a.dblLevel) == std::bit_cast<uint64_t>(b.dblLevel);
}

// cbSample-byte words from consecutive cache entries into every nStride-th byte.
template <unsigned cbSample>
void CopyWords(BYTE* pb, DWORD nFrames, unsigned nStride, const BYTE* pWords)
{
    for (DWORD n = 0; n < nFrames; ++n, pb += nStride, pWords += cbSample)
        std::memcpy(pb, pWords, cbSample);
}

void CopyWordsAny(unsigned cbSample, BYTE* pb, DWORD nFrames, unsigned nStride, const BYTE* pWords)
{
    switch (cbSample)
    {
    case 1: CopyWords<1>(pb, nFrames, nStride, pWords); break;
    case 2: CopyWords<2>(pb, nFrames, nStride, pWords); break;
    case 3: CopyWords<3>(pb, nFrames, nStride, pWords); break;
    default: CopyWords<4>(pb, nFrames, nStride, pWords); break;
    }
}
}

bool CSineCache::Prepare(const CSineTone& tone)
{
    const size_t nBlocks = (size_t(tone.dwRate) + BLOCK - 1) / BLOCK;
    const size_t cbWords = size_t(tone.dwRate) * (tone.wBits / 8);
    if (cbWords + nBlocks > MAX_BYTES)
    {
        Release();
        return false;
    }
    if (m_apMemory && SameTone(tone, m_tone))
        return true;
    if (cbWords + nBlocks != m_cbMemory)
    {
        Release();
        m_apMemory.reset(new (std::nothrow) BYTE[cbWords + nBlocks]);
        if (!m_apMemory)
            return false;
        m_cbMemory = cbWords + nBlocks;
    }
    m_pbFilled = m_apMemory.get() + cbWords;
    std::memset(m_pbFilled, 0, nBlocks);
    m_tone = tone;
    return true;
}

void CSineCache::Complete(const CPacker& packer, double dblStep, DWORD dwFirst, DWORD dwLast)
{
    const unsigned cbSample = m_tone.wBits / 8;
    for (DWORD nBlock = dwFirst / BLOCK; nBlock <= (dwLast - 1) / BLOCK; ++nBlock)
    {
        if (m_pbFilled[nBlock])
            continue;
        const DWORD dwEnd = nBlock * BLOCK + BLOCK < m_tone.dwRate ? nBlock * BLOCK + BLOCK : m_tone.dwRate;
        BYTE* pWord = m_apMemory.get() + size_t(nBlock) * BLOCK * cbSample;
        for (DWORD dwPos = nBlock * BLOCK; dwPos < dwEnd; ++dwPos, pWord += cbSample)
        {
            const DWORD dwWord = packer.SineWord(dblStep, m_tone.dblLevel, dwPos);
            std::memcpy(pWord, &dwWord, cbSample);
        }
        m_pbFilled[nBlock] = 1;
    }
}

bool CSineCache::Fill(const CSineTone& tone, const CPacker& packer, double dblStep, BYTE* pb, DWORD nFrames,
                      unsigned nStride, DWORD* pdwPos)
{
    if (!Prepare(tone))
        return false;
    const unsigned cbSample = tone.wBits / 8;
    DWORD dwPos = *pdwPos;
    while (nFrames > 0)
    {
        // Up to the end of the second, where the position wraps.
        const DWORD nRun = nFrames < tone.dwRate - dwPos ? nFrames : tone.dwRate - dwPos;
        Complete(packer, dblStep, dwPos, dwPos + nRun);
        CopyWordsAny(cbSample, pb, nRun, nStride, m_apMemory.get() + size_t(dwPos) * cbSample);
        pb += size_t(nRun) * nStride;
        nFrames -= nRun;
        dwPos += nRun;
        if (dwPos == tone.dwRate)
            dwPos = 0;
    }
    *pdwPos = dwPos;
    return true;
}

void CSineCache::Release()
{
    m_apMemory.reset();
    m_cbMemory = 0;
    m_pbFilled = nullptr;
}
