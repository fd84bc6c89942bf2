#include "render/Buffers.h"

#include <climits>
#include <cmath>
#include <cstdio>

#include "framework/DSTypes.h"
#include "support/ComPtr.h"

ERenderExit SuggestBuffer(IBaseFilter* pFilter, int nMs)
{
    CComPtr<IPin> spOut;
    HRESULT hr = pFilter->FindPin(L"Out", &spOut);
    CComQIPtr<IAMStreamConfig> spConfig(spOut);
    CComQIPtr<IAMBufferNegotiation> spBuffers(spOut);
    AM_MEDIA_TYPE* pmt = nullptr;
    if (SUCCEEDED(hr))
        hr = spConfig && spBuffers ? spConfig->GetFormat(&pmt) : E_NOINTERFACE;
    if (FAILED(hr))
    {
        SayError("the filter's pin takes no buffer length: %s", HResultText(hr).c_str());
        return eExit_Refused;
    }
    const WAVEFORMATEX* pWF = pmt->cbFormat >= sizeof(WAVEFORMATEX) ? reinterpret_cast<WAVEFORMATEX*>(pmt->pbFormat)
                                                                    : nullptr;
    const double dblFrames = pWF ? std::round(double(pWF->nSamplesPerSec) * nMs / 1000.0) : 0;
    const double dblBytes = pWF ? dblFrames * pWF->nBlockAlign : 0;
    MTFree(pmt);
    ALLOCATOR_PROPERTIES props = {-1, dblBytes < LONG_MAX ? LONG(dblBytes) : LONG_MAX, -1, -1};
    hr = spBuffers->SuggestAllocatorProperties(&props);
    if (FAILED(hr))
    {
        SayError("the filter refused buffers of %d ms: %s\n  --buffer takes 1..1000 ms", nMs, HResultText(hr).c_str());
        return eExit_Refused;
    }
    return eExit_OK;
}

std::string AgreedBufferText(IBaseFilter* pFilter, const WAVEFORMATEX* pWF)
{
    CComPtr<IPin> spOut;
    ALLOCATOR_PROPERTIES props = {};
    if (FAILED(pFilter->FindPin(L"Out", &spOut)) || pWF->nAvgBytesPerSec == 0)
        return std::string();
    CComQIPtr<IAMBufferNegotiation> spBuffers(spOut);
    if (!spBuffers || FAILED(spBuffers->GetAllocatorProperties(&props)))
        return std::string();
    char sz[64];
    snprintf(sz, sizeof(sz), "buffers of %g ms", std::round(props.cbBuffer * 1e5 / pWF->nAvgBytesPerSec) / 100);
    return sz;
}
