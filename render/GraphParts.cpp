#include "render/GraphParts.h"

#include <cstdio>

#include "framework/DSTypes.h"

CComPtr<IPin> FirstPin(IBaseFilter* pFilter, PIN_DIRECTION eDir)
{
    CComPtr<IEnumPins> spEnum;
    if (FAILED(pFilter->EnumPins(&spEnum)))
        return nullptr;
    for (CComPtr<IPin> spPin; spEnum->Next(1, &spPin, nullptr) == S_OK; spPin.Release())
    {
        PIN_DIRECTION ePinDir;
        if (SUCCEEDED(spPin->QueryDirection(&ePinDir)) && ePinDir == eDir)
            return spPin;
    }
    return nullptr;
}

std::string FormatText(const WAVEFORMATEX* pWF)
{
    char sz[160];
    if (pWF->wFormatTag != WAVE_FORMAT_EXTENSIBLE)
    {
        snprintf(sz, sizeof(sz), "%u-bit PCM", unsigned(pWF->wBitsPerSample));
        return sz;
    }
    auto* pWfx = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pWF);
    const unsigned nValid = pWfx->Samples.wValidBitsPerSample;
    if (nValid == pWF->wBitsPerSample)
        snprintf(sz, sizeof(sz), "%u-bit PCM (extensible, mask 0x%lX)", nValid, (unsigned long)pWfx->dwChannelMask);
    else
        snprintf(sz, sizeof(sz), "%u-bit PCM in %u-bit containers (extensible, mask 0x%lX)", nValid,
                 unsigned(pWF->wBitsPerSample), (unsigned long)pWfx->dwChannelMask);
    return sz;
}
