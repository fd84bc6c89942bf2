// A capture tool's format request made into the consistent type it means.
#include "filter/FormatRequest.h"

#include <bit>

namespace
{
bool IsContainer(WORD wBits)
{
    return wBits == 8 || wBits == 16 || wBits == 24 || wBits == 32;
}
}

HRESULT MTFromFormatRequest(const AM_MEDIA_TYPE* pmt, CMType& mt)
{
    if (pmt == nullptr || pmt->majortype != MEDIATYPE_Audio || pmt->subtype != MEDIASUBTYPE_PCM ||
        pmt->formattype != FORMAT_WaveFormatEx || pmt->pbFormat == nullptr || pmt->cbFormat < sizeof(WAVEFORMATEX))
        return VFW_E_INVALIDMEDIATYPE;
    const auto* pWF = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
    const WAVEFORMATEXTENSIBLE* pWFE = nullptr;
    if (pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE)
    {
        // The extensible fields must be there, claimed by cbSize, and describe integer PCM.
        if (pmt->cbFormat < sizeof(WAVEFORMATEXTENSIBLE) ||
            pWF->cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX))
            return VFW_E_INVALIDMEDIATYPE;
        pWFE = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pWF);
        if (pWFE->SubFormat != KSDATAFORMAT_SUBTYPE_PCM)
            return VFW_E_INVALIDMEDIATYPE;
    }
    else if (pWF->wFormatTag != WAVE_FORMAT_PCM)
        return VFW_E_INVALIDMEDIATYPE;
    const WORD wChannels = pWF->nChannels, wBits = pWF->wBitsPerSample;
    if (wChannels < 1 || wChannels > 32 || pWF->nSamplesPerSec == 0 || !IsContainer(wBits))
        return VFW_E_INVALIDMEDIATYPE;

    WORD wValid = wBits;
    DWORD dwMask = 0xFFFFFFFF;
    if (pWFE != nullptr)
    {
        // A count left from a wider container no longer fits; a count below 8 the filter
        // cannot make.
        if (pWFE->Samples.wValidBitsPerSample <= wBits)
            wValid = pWFE->Samples.wValidBitsPerSample;
        if (wValid < 8)
            return VFW_E_INVALIDMEDIATYPE;
        if (std::popcount(pWFE->dwChannelMask) == wChannels)
            dwMask = pWFE->dwChannelMask;
    }
    // Fails only for a byte rate beyond 32 bits.
    CMType mtNew;
    if (FAILED(CMTHelp::MTCreatePCMEx(mtNew, pWF->nSamplesPerSec, wChannels, wBits, wValid, dwMask)))
        return VFW_E_INVALIDMEDIATYPE;
    return mt.Assign(&mtNew);
}

bool PcmFormatOf(const AM_MEDIA_TYPE& mt, CPcmFormat& fmt)
{
    if (mt.pbFormat == nullptr || mt.cbFormat < sizeof(WAVEFORMATEX))
        return false;
    const auto* pWF = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    CPcmFormat f = {pWF->nChannels, 0, pWF->wBitsPerSample, pWF->wBitsPerSample, pWF->nSamplesPerSec};
    if (pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE)
    {
        if (mt.cbFormat < sizeof(WAVEFORMATEXTENSIBLE))
            return false;
        const auto* pWFE = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pWF);
        f.nValidBitsPerSample = pWFE->Samples.wValidBitsPerSample;
        f.nChannelMask = pWFE->dwChannelMask;
    }
    if (f.nValidBitsPerSample < 8 || f.nValidBitsPerSample > f.nBitsPerSample)
        return false;
    fmt = f;
    return true;
}
