// PCM tone synthesis: sample packing, one channel's buffer fill, sample counts to time.
#include "filter/DSAudio.h"

#include <cmath>
#include <cstring>

#include "diagnostics/DSTrace.h"
#include "filter/SampleWord.h"
#include "filter/SineCache.h"

// Stringized here, before NULL and the format tags expand.
#define AUDIO_ASSERT(expr) DebugAssert(!!(expr), "DSAudio", __LINE__, #expr)

namespace
{
double TwoPi()
{
    static const double s_dbl2Pi = 4.0 * std::asin(1.0);
    return s_dbl2Pi;
}

// Little-endian store of a word's low cbSample bytes into every frame.
template <unsigned cbSample>
void FillConstant(BYTE* pb, DWORD nFrames, unsigned nStride, DWORD dwWord)
{
    for (DWORD n = 0; n < nFrames; ++n, pb += nStride)
        std::memcpy(pb, &dwWord, cbSample);
}

template <unsigned cbSample>
DWORD FillSine(BYTE* pb, DWORD nFrames, unsigned nStride, const CPacker& packer, double dblStep, double dblLevel,
               DWORD dwPos, DWORD dwRate)
{
    for (DWORD n = 0; n < nFrames; ++n, pb += nStride)
    {
        DWORD dwWord = packer.SineWord(dblStep, dblLevel, dwPos);
        std::memcpy(pb, &dwWord, cbSample);
        if (++dwPos == dwRate)
            dwPos = 0;
    }
    return dwPos;
}

void FillConstantAny(BYTE* pb, DWORD nFrames, unsigned nStride, unsigned cbSample, DWORD dwWord)
{
    switch (cbSample)
    {
    case 1: FillConstant<1>(pb, nFrames, nStride, dwWord); break;
    case 2: FillConstant<2>(pb, nFrames, nStride, dwWord); break;
    case 3: FillConstant<3>(pb, nFrames, nStride, dwWord); break;
    default: FillConstant<4>(pb, nFrames, nStride, dwWord); break;
    }
}

DWORD FillSineAny(BYTE* pb, DWORD nFrames, unsigned nStride, unsigned cbSample, const CPacker& packer,
                  double dblStep, double dblLevel, DWORD dwPos, DWORD dwRate)
{
    switch (cbSample)
    {
    case 1: return FillSine<1>(pb, nFrames, nStride, packer, dblStep, dblLevel, dwPos, dwRate);
    case 2: return FillSine<2>(pb, nFrames, nStride, packer, dblStep, dblLevel, dwPos, dwRate);
    case 3: return FillSine<3>(pb, nFrames, nStride, packer, dblStep, dblLevel, dwPos, dwRate);
    default: return FillSine<4>(pb, nFrames, nStride, packer, dblStep, dblLevel, dwPos, dwRate);
    }
}
}

double CAudioHelp::SineStep(DWORD dwFreqHz, DWORD dwRate)
{
    return TwoPi() * dwFreqHz / dwRate;
}

HRESULT CAudioHelp::FillBuffer(BYTE* pBuf, DWORD cbLen, const WAVEFORMATEX* pWF, DWORD dwFreqHz, DWORD* pdwPos,
                               double dblLevel, CSineCache* pCache)
{
    AUDIO_ASSERT(pBuf != NULL);
    if (pBuf == nullptr)
        return E_POINTER;
    AUDIO_ASSERT(cbLen != 0);
    if (cbLen == 0)
        return E_POINTER;
    AUDIO_ASSERT(pWF != NULL);
    if (pWF == nullptr)
        return E_POINTER;
    AUDIO_ASSERT(pWF->wFormatTag == WAVE_FORMAT_PCM || pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE);
    if (pWF->wFormatTag != WAVE_FORMAT_PCM && pWF->wFormatTag != WAVE_FORMAT_EXTENSIBLE)
        return E_INVALIDARG;
    WORD wBits = pWF->wBitsPerSample;
    AUDIO_ASSERT(wBits == 8 || wBits == 16 || wBits == 24 || wBits == 32);
    if (!(wBits == 8 || wBits == 16 || wBits == 24 || wBits == 32))
        return E_INVALIDARG;
    WORD wValidBits = wBits;
    if (pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE)
    {
        AUDIO_ASSERT(sizeof(WAVEFORMATEX) + sizeof(WORD) < pWF->cbSize);
        if (pWF->cbSize < sizeof(WAVEFORMATEX) + sizeof(WORD))
            return E_INVALIDARG;
        wValidBits = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pWF)->Samples.wValidBitsPerSample;
        AUDIO_ASSERT(wValidBits <= wBits);
        if (wValidBits > wBits)
            return E_INVALIDARG;
        // No significant bits would leave nothing to write.
        AUDIO_ASSERT(wValidBits > 0);
        if (wValidBits == 0)
            return E_INVALIDARG;
    }
    AUDIO_ASSERT(pWF->nChannels > 0);
    if (pWF->nChannels == 0)
        return E_INVALIDARG;
    AUDIO_ASSERT(pWF->nBlockAlign == (pWF->nChannels * wBits)/8);
    if (pWF->nBlockAlign != (pWF->nChannels * wBits) / 8)
        return E_INVALIDARG;
    AUDIO_ASSERT((cbLen % pWF->nBlockAlign) == 0);
    if ((cbLen % pWF->nBlockAlign) != 0)
        return E_INVALIDARG;
    AUDIO_ASSERT(dwFreqHz == (DWORD)-1 || 2 * ULONGLONG(dwFreqHz) < pWF->nSamplesPerSec);
    if (!(dwFreqHz == FREQ_SQUARE || BelowHalfRate(dwFreqHz, pWF->nSamplesPerSec)))
        return E_INVALIDARG;
    AUDIO_ASSERT(-1.0 <= dblLevel && dblLevel <= 1.0);
    if (!(-1.0 <= dblLevel && dblLevel <= 1.0))
        return E_INVALIDARG;

    const DWORD nFrames = cbLen / pWF->nBlockAlign;
    const unsigned nStride = pWF->nBlockAlign;
    const unsigned cbSample = wBits / 8;
    const CPacker packer(wBits, wValidBits);
    DWORD dwPos = pdwPos != nullptr ? *pdwPos : 0;

    if (dwFreqHz == FREQ_CONSTANT)
    {
        FillConstantAny(pBuf, nFrames, nStride, cbSample, packer.Pack(CPacker::FromLevel(dblLevel)));
        dwPos = 0;
    }
    else if (dwFreqHz == FREQ_SQUARE)
    {
        double dblFirst = dwPos == 0 ? dblLevel : -dblLevel;
        DWORD nHalf = nFrames / 2;
        FillConstantAny(pBuf, nHalf, nStride, cbSample, packer.Pack(CPacker::FromLevel(dblFirst)));
        FillConstantAny(pBuf + size_t(nHalf) * nStride, nFrames - nHalf, nStride, cbSample,
                        packer.Pack(CPacker::FromLevel(-dblFirst)));
        dwPos = dwPos == 0 ? 1 : 0;
    }
    else
    {
        const DWORD dwRate = pWF->nSamplesPerSec;
        const double dblStep = SineStep(dwFreqHz, dwRate);
        if (dwPos >= dwRate)
            dwPos %= dwRate;
        const CSineTone tone = {dwRate, dwFreqHz, dblLevel, wBits, wValidBits};
        if (pCache == nullptr || !pCache->Fill(tone, packer, dblStep, pBuf, nFrames, nStride, &dwPos))
            dwPos = FillSineAny(pBuf, nFrames, nStride, cbSample, packer, dblStep, dblLevel, dwPos, dwRate);
    }
    // Only a sine uses the cache: a channel that left it frees it.
    if (pCache != nullptr && (dwFreqHz == FREQ_CONSTANT || dwFreqHz == FREQ_SQUARE))
        pCache->Release();
    if (pdwPos != nullptr)
        *pdwPos = dwPos;
    return S_OK;
}

DWORD CAudioHelp::LevelToSample(double dblLevel, WORD wBitsPerSample, WORD wValidBits)
{
    AUDIO_ASSERT(-1.0 <= dblLevel && dblLevel <= 1.0);
    // Beyond full scale the conversion to 32 bits would overflow.
    return PackSample(CPacker::FromLevel(ClampLevel(dblLevel, -1.0)), wBitsPerSample, wValidBits);
}

double CAudioHelp::ClampLevel(double dblLevel, double dblMin)
{
    // Each test is written so that NaN fails it and falls through to silence.
    if (dblLevel >= dblMin && dblLevel <= 1.0)
        return dblLevel;
    if (dblLevel > 1.0)
        return 1.0;
    if (dblLevel < dblMin)
        return dblMin;
    return 0.0;
}

DWORD CAudioHelp::PackSample(LONG lValue, WORD wBitsPerSample, WORD wValidBits)
{
    AUDIO_ASSERT(wBitsPerSample == 8 || wBitsPerSample == 16 || wBitsPerSample == 24 || wBitsPerSample == 32);
    AUDIO_ASSERT(4 <= wValidBits && wValidBits <= 32);
    AUDIO_ASSERT(wValidBits <= wBitsPerSample);
    return CPacker(wBitsPerSample, wValidBits).Pack(lValue);
}

REFERENCE_TIME CAudioHelp::SamplesToTime(LONGLONG llSamples, const WAVEFORMATEX* pWF, BOOL bRoundUp)
{
    AUDIO_ASSERT(pWF != NULL);
    if (pWF == nullptr)
        return 0;
    AUDIO_ASSERT(pWF->nSamplesPerSec != 0);
    if (pWF->nSamplesPerSec == 0)
        return 0;
    const LONGLONG llRate = pWF->nSamplesPerSec;
    return (llSamples / llRate) * 10000000 + ((llSamples % llRate) * 10000000 + (bRoundUp ? llRate - 1 : 0)) / llRate;
}
