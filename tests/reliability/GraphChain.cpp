#include "reliability/GraphChain.h"

#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>

#include <string>

#include "support/ComCreate.h"

namespace campaign
{
CGrabbed::CGrabbed(CStreamCheck* pCheck, LONG nWanted, const CToneFormat& fmt)
    : m_pCheck(pCheck), m_nWanted(nWanted), m_hEnough(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_carried(fmt)
{
}

STDMETHODIMP CGrabbed::SampleCB(double, IMediaSample* pSample)
{
    AM_MEDIA_TYPE* pmt = nullptr;
    if (pSample->GetMediaType(&pmt) == S_OK && pmt != nullptr)
    {
        const auto* pwfx = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
        if (pwfx != nullptr && pmt->cbFormat >= sizeof(WAVEFORMATEX))
        {
            WORD nValid = pwfx->wBitsPerSample;
            if (pwfx->wFormatTag == WAVE_FORMAT_EXTENSIBLE && pmt->cbFormat >= sizeof(WAVEFORMATEXTENSIBLE))
                nValid = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pwfx)->Samples.wValidBitsPerSample;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_carried = {pwfx->nChannels, nValid, pwfx->nSamplesPerSec};
        }
        CoTaskMemFree(pmt->pbFormat);
        if (pmt->pUnk != nullptr)
            pmt->pUnk->Release();
        CoTaskMemFree(pmt);
    }
    if (m_pCheck != nullptr)
        m_pCheck->OnSample(pSample);
    if (++m_nSeen == m_nWanted)
        SetEvent(m_hEnough);
    return S_OK;
}

CToneFormat CGrabbed::Carried()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_carried;
}

HRESULT CChain::Build(IGraphBuilder* pGraph, int i, const CToneFormat& fmt, CStreamCheck* pCheck, LONG nWanted,
                      IBaseFilter* pSource)
{
    spGrabber = NewPlatformFilter(kClsidSampleGrabber);
    spNull = NewPlatformFilter(kClsidNullRenderer);
    CComQIPtr<ISampleGrabber> spSampleGrabber(spGrabber);
    spSource = pSource;
    if (!spSource &&
        ComCreateReferencedInterface<CAudioSource>(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&spSource)) != S_OK)
        return E_FAIL;
    spTone = CComQIPtr<ICRVTonewell>(spSource);
    if (!spTone || !spSampleGrabber || !spNull)
        return E_FAIL;
    spGrabbed.Attach(new CGrabbed(pCheck, nWanted, fmt));
    const std::wstring n = std::to_wstring(i);
    HRESULT hr = spTone->SetParameters(fmt.nValidBits, fmt.nChannels, 0, int(fmt.nRate));
    if (hr == S_OK)
        hr = spSampleGrabber->SetCallback(spGrabbed, 0);
    if (hr == S_OK)
        hr = pGraph->AddFilter(spSource, (L"Tonewell " + n).c_str());
    if (hr == S_OK)
        hr = pGraph->AddFilter(spGrabber, (L"Grabber " + n).c_str());
    if (hr == S_OK)
        hr = pGraph->AddFilter(spNull, (L"Null " + n).c_str());
    if (hr == S_OK)
        hr = pGraph->ConnectDirect(PinOf(spSource, PINDIR_OUTPUT), PinOf(spGrabber, PINDIR_INPUT), nullptr);
    if (hr == S_OK)
        hr = pGraph->ConnectDirect(PinOf(spGrabber, PINDIR_OUTPUT), PinOf(spNull, PINDIR_INPUT), nullptr);
    return hr;
}

void CChain::TakeDown(IGraphBuilder* pGraph)
{
    if (CComQIPtr<ISampleGrabber> spSampleGrabber{spGrabber})
        spSampleGrabber->SetCallback(nullptr, 0);
    for (IBaseFilter* pFilter : {spSource.p, spGrabber.p, spNull.p})
        if (pFilter != nullptr)
            pGraph->RemoveFilter(pFilter);
}
}
