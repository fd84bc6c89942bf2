// Integer PCM media types: the builders of CMTHelp and the audio format tests.
#include "framework/DSTypes.h"

#include "diagnostics/DSTrace.h"

// Stringized here, before NULL and the format tags expand.
#define MT_ASSERT(expr) DebugAssert(!!(expr), "DSTypes", __LINE__, #expr)

namespace
{
bool IsContainerWidth(WORD wBits)
{
    return wBits == 8 || wBits == 16 || wBits == 24 || wBits == 32;
}

DWORD DeriveChannelMask(WORD wChannels, DWORD dwChannelMask)
{
    if (dwChannelMask != 0xFFFFFFFF)
        return dwChannelMask;
    return wChannels >= 32 ? 0xFFFFFFFF : (1u << wChannels) - 1;
}

// Arguments already checked; wContainer is 8, 16, 24 or 32.
HRESULT BuildPCM(CMType& mt, DWORD dwFreq, WORD wChannels, WORD wContainer, WORD wValidBits, DWORD dwChannelMask,
                 bool bPlain)
{
    WORD nBlockAlign = WORD(wChannels * wContainer / 8);
    // nAvgBytesPerSec is a 32-bit field: a rate whose byte rate does not fit cannot be described.
    ULONGLONG ullAvg = ULONGLONG(dwFreq) * nBlockAlign;
    if (ullAvg > 0xFFFFFFFF)
        return E_INVALIDARG;

    WAVEFORMATEXTENSIBLE wfe = {};
    wfe.Format.wFormatTag = bPlain ? WAVE_FORMAT_PCM : WAVE_FORMAT_EXTENSIBLE;
    wfe.Format.nChannels = wChannels;
    wfe.Format.nSamplesPerSec = dwFreq;
    wfe.Format.nAvgBytesPerSec = DWORD(ullAvg);
    wfe.Format.nBlockAlign = nBlockAlign;
    wfe.Format.wBitsPerSample = wContainer;
    ULONG cb = sizeof(WAVEFORMATEX);
    if (!bPlain)
    {
        wfe.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
        wfe.Samples.wValidBitsPerSample = wValidBits;
        wfe.dwChannelMask = DeriveChannelMask(wChannels, dwChannelMask);
        wfe.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
        cb = sizeof(WAVEFORMATEXTENSIBLE);
    }
    HRESULT hr = mt.Set(&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM, &FORMAT_WaveFormatEx, cb, &wfe);
    if (SUCCEEDED(hr))
        mt.lSampleSize = nBlockAlign;
    return hr;
}

// The arguments both builders share.
bool CheckRateAndChannels(DWORD dwFreq, WORD wChannels)
{
    MT_ASSERT(dwFreq != 0);
    if (dwFreq == 0)
        return false;
    MT_ASSERT(0 < wChannels && wChannels <= 32);
    return 0 < wChannels && wChannels <= 32;
}
}

HRESULT CMTHelp::MTCreatePCMEx(CMType& mt, DWORD dwFreq, WORD wChannels, WORD wBitsPerSample, WORD wValidBits,
                               DWORD dwChannelMask)
{
    if (!CheckRateAndChannels(dwFreq, wChannels))
        return E_INVALIDARG;
    MT_ASSERT(wBitsPerSample == 8 || wBitsPerSample == 16 || wBitsPerSample == 24 || wBitsPerSample == 32);
    if (!IsContainerWidth(wBitsPerSample))
        return E_INVALIDARG;
    MT_ASSERT(8 <= wValidBits && wValidBits <= wBitsPerSample);
    if (!(8 <= wValidBits && wValidBits <= wBitsPerSample))
        return E_INVALIDARG;
    bool bPlain = wChannels <= 2 && (wBitsPerSample == 8 || wBitsPerSample == 16) && wValidBits == wBitsPerSample;
    return BuildPCM(mt, dwFreq, wChannels, wBitsPerSample, wValidBits, dwChannelMask, bPlain);
}

HRESULT CMTHelp::MTCreatePCM(CMType& mt, DWORD dwFreq, WORD wChannels, WORD wBits, DWORD dwChannelMask)
{
    if (!CheckRateAndChannels(dwFreq, wChannels))
        return E_INVALIDARG;
    MT_ASSERT(4 <= wBits && wBits <= 32);
    if (!(4 <= wBits && wBits <= 32))
        return E_INVALIDARG;
    bool bPlain = wChannels <= 2 && (wBits == 8 || wBits == 16);
    WORD wContainer = WORD((wBits + 7) & ~7);
    return BuildPCM(mt, dwFreq, wChannels, wContainer, wBits, dwChannelMask, bPlain);
}

HRESULT MTCheckAudio(const AM_MEDIA_TYPE* pmt, WORD wFormatTag)
{
    MT_ASSERT(pmt != NULL);
    if (pmt == nullptr)
        return E_POINTER;
    if (pmt->majortype != MEDIATYPE_Audio)
        return VFW_E_INVALIDMEDIATYPE;
    if (pmt->subtype == GUID_NULL)
        return VFW_E_INVALIDSUBTYPE;
    // The tag must at least be readable before anything looks at it.
    if (pmt->formattype != FORMAT_WaveFormatEx || pmt->pbFormat == nullptr || pmt->cbFormat < sizeof(WORD))
        return VFW_E_INVALIDMEDIATYPE;
    auto* pWF = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
    if (pmt->subtype != MEDIASUBTYPE_PCM)
        return pWF->wFormatTag == wFormatTag || wFormatTag == MT_ANY_FORMAT_TAG ? S_OK : VFW_E_INVALIDSUBTYPE;
    if (wFormatTag != MT_ANY_FORMAT_TAG && wFormatTag != WAVE_FORMAT_PCM && wFormatTag != WAVE_FORMAT_EXTENSIBLE)
        return VFW_E_INVALIDMEDIATYPE;
    if (pmt->cbFormat < sizeof(WAVEFORMATEX))
        return VFW_E_INVALIDMEDIATYPE;
    if (wFormatTag != MT_ANY_FORMAT_TAG && pWF->wFormatTag != wFormatTag)
        return VFW_E_INVALIDMEDIATYPE;
    if (pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE && pmt->cbFormat < sizeof(WAVEFORMATEXTENSIBLE))
        return VFW_E_INVALIDMEDIATYPE;
    return MTCheckWaveFormat(pWF);
}

HRESULT MTCheckWaveFormat(const WAVEFORMATEX* pWF)
{
    MT_ASSERT(pWF != NULL);
    if (pWF == nullptr)
        return E_POINTER;
    if (pWF->wFormatTag != WAVE_FORMAT_PCM && pWF->wFormatTag != WAVE_FORMAT_EXTENSIBLE)
        return VFW_E_INVALIDMEDIATYPE;
    MT_ASSERT(pWF->nChannels != 0);
    MT_ASSERT(pWF->nSamplesPerSec != 0);
    MT_ASSERT(pWF->nAvgBytesPerSec != 0);
    MT_ASSERT(pWF->nBlockAlign != 0);
    MT_ASSERT(pWF->wBitsPerSample != 0);
    if (pWF->nChannels == 0 || pWF->nSamplesPerSec == 0 || pWF->nAvgBytesPerSec == 0 || pWF->nBlockAlign == 0)
        return VFW_E_INVALIDMEDIATYPE;
    WORD wBits = pWF->wBitsPerSample;
    MT_ASSERT(wBits == 8 || wBits == 16 || wBits == 24 || wBits == 32);
    if (!IsContainerWidth(wBits))
        return E_INVALIDARG;
    MT_ASSERT((pWF->nChannels * wBits)/8 <= pWF->nBlockAlign);
    if ((pWF->nChannels * wBits) / 8 > pWF->nBlockAlign)
        return VFW_E_INVALIDMEDIATYPE;
    // In 64 bits, so that a byte rate that wrapped around 32 bits is not taken as consistent.
    bool bRate = ULONGLONG(pWF->nSamplesPerSec) * pWF->nBlockAlign == pWF->nAvgBytesPerSec;
    DebugAssert(bRate, "DSTypes", __LINE__, "pWF->nSamplesPerSec * pWF->nBlockAlign == pWF->nAvgBytesPerSec");
    if (!bRate)
        return VFW_E_INVALIDMEDIATYPE;
    if (pWF->wFormatTag == WAVE_FORMAT_PCM)
        return S_OK;
    // The extensible fields lie behind cbSize; a block that does not claim them has none.
    if (pWF->cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX))
        return VFW_E_INVALIDMEDIATYPE;
    auto* pWFE = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pWF);
    MT_ASSERT(pWFE->Samples.wValidBitsPerSample > 0);
    MT_ASSERT(pWFE->Samples.wValidBitsPerSample <= wBits);
    if (pWFE->Samples.wValidBitsPerSample == 0 || pWFE->Samples.wValidBitsPerSample > wBits)
        return VFW_E_INVALIDMEDIATYPE;
    return S_OK;
}
