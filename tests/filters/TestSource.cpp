#include "filters/TestSource.h"

HRESULT CTestSourcePin::FinalConstruct()
{
    return CMTHelp::MTCreatePCMEx(m_mt, 48000, 2, 16, 16, 0);
}

void CTestSourcePin::AllocatorRequest(ALLOCATOR_PROPERTIES* pProps)
{
    if (m_propsRequest.cBuffers != 0 || m_propsRequest.cbBuffer != 0)
    {
        *pProps = m_propsRequest;
        return;
    }
    const WAVEFORMATEX* pWF = m_mt.GetWaveFormat();
    pProps->cBuffers = 4;
    pProps->cbBuffer = pWF != nullptr ? LONG(pWF->nAvgBytesPerSec * 40 / 1000) : 4096;
    pProps->cbAlign = 1;
    pProps->cbPrefix = 0;
}

HRESULT CTestSourcePin::AllocatorCreate(IMemAllocator** ppAllocator)
{
    ++m_nAllocatorsCreated;
    return CAllocatorMatch<CTestSourcePin>::AllocatorCreate(ppAllocator);
}

HRESULT CTestSource::FinalConstruct()
{
    m_hIdle = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    m_hStopWaits = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (m_hIdle == nullptr || m_hStopWaits == nullptr)
        return E_OUTOFMEMORY;
    HRESULT hr = CreateOutputPin(nullptr);
    if (FAILED(hr))
        return hr;
    return m_thread.InitThread(this, &CSimpleThread<CTestSource>::StartThread);
}

void CTestSource::FinalRelease()
{
    m_bStreaming = false;
    m_thread.Stop(INFINITE, false);
    DestroyPins();
    if (m_hIdle != nullptr)
        CloseHandle(m_hIdle);
    if (m_hStopWaits != nullptr)
        CloseHandle(m_hStopWaits);
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CTestSource::Run(REFERENCE_TIME tStart)
{
    HRESULT hr = IBaseFilterImpl<CTestSource>::Run(tStart);
    if (hr == S_OK)
    {
        ResetEvent(m_hIdle);
        m_bStreaming = true;
        m_thread.Wake();
    }
    return hr;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CTestSource::Stop()
{
    HRESULT hr = IBaseFilterImpl<CTestSource>::Stop();
    // The allocator is decommitted by now, so a buffer request under way returns.
    m_bStreaming = false;
    m_thread.Wake();
    SetEvent(m_hStopWaits);
    WaitForSingleObject(m_hIdle, INFINITE);
    m_llSamples = 0;
    return hr;
}

HRESULT CTestSource::ChangeFormat(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr)
        return E_POINTER;
    CComLockGuard<CTestSource> lock(this);
    CComPtr<IPin> spPeer;
    {
        CComLockGuard<CTestSourcePin> lockPin(m_apOut);
        spPeer = m_apOut->m_spConnected;
        if (!spPeer)
            return m_apOut->m_mt.Assign(pmt);
    }
    HRESULT hr;
    if (FilterState() != State_Stopped)
    {
        // No pin lock while the peer answers: it may call back into the pin.
        hr = spPeer->QueryAccept(pmt);
        if (hr != S_OK)
            return DSFailureOf(hr, VFW_E_CHANGING_FORMAT);
        CComLockGuard<CTestSourcePin> lockPin(m_apOut);
        hr = m_apOut->m_mt.Assign(pmt);
        m_bTypeChanged = SUCCEEDED(hr);
        return hr;
    }
    {
        CComLockGuard<CTestSourcePin> lockPin(m_apOut);
        hr = m_apOut->m_mt.Assign(pmt);
        if (FAILED(hr))
            return hr;
    }
    hr = ReconnectPin(static_cast<IPin*>(m_apOut), nullptr);
    if (hr == S_OK)
        NotifyGraphChanged();
    return hr;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CTestSource::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* pState)
{
    HRESULT hr = IBaseFilterImpl<CTestSource>::GetState(dwMilliSecsTimeout, pState);
    return hr == S_OK && *pState == State_Paused ? VFW_S_CANT_CUE : hr;
}

BOOL CTestSource::Filter_QueryAcceptMT(int, const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr)
        return FALSE;
    if (!m_bAcceptAnyAudio)
    {
        const CMType& mt = m_apOut->m_mt;
        return mt.IsValid() && InlineIsEqualGUID(pmt->majortype, mt.majortype) &&
               InlineIsEqualGUID(pmt->subtype, mt.subtype) && pmt->cbFormat == mt.cbFormat &&
               pmt->pbFormat != nullptr && memcmp(pmt->pbFormat, mt.pbFormat, mt.cbFormat) == 0;
    }
    return MTCheckAudio(pmt, WAVE_FORMAT_PCM) == S_OK || MTCheckAudio(pmt, WAVE_FORMAT_EXTENSIBLE) == S_OK;
}

HRESULT CTestSource::Filter_CompleteConnect(int)
{
    return m_hrCompleteConnect;
}

void CTestSource::Filter_Disconnect(int)
{
    ++m_nDisconnectHooks;
}

// Fills one buffer and sends it; false when there was no buffer to fill.
bool CTestSource::SendOne()
{
    CComPtr<IMediaSample> spSample;
    HRESULT hr = m_apOut->GetSample(&spSample, AM_GBF_NOWAIT);
    if (hr != S_OK)
        return false;
    {
        // The format and the type-change mark hold still while the buffer is filled.
        CComLockGuard<CTestSource> lock(this);
        BYTE* pb = nullptr;
        spSample->GetPointer(&pb);
        LONG cb = spSample->GetSize();
        const WAVEFORMATEX* pWF = m_apOut->m_mt.GetWaveFormat();
        LONG cbFrame = pWF != nullptr && pWF->nBlockAlign != 0 ? pWF->nBlockAlign : 1;
        cb -= cb % cbFrame;
        for (LONG i = 0; i < cb; ++i)
            pb[i] = BYTE(m_nSamplesSent + i);
        spSample->SetActualDataLength(cb);
        LONGLONG llFrames = cb / cbFrame;
        REFERENCE_TIME tStart = pWF != nullptr ? m_llSamples * 10000000 / pWF->nSamplesPerSec : 0;
        REFERENCE_TIME tStop = pWF != nullptr ? (m_llSamples + llFrames) * 10000000 / pWF->nSamplesPerSec : 0;
        spSample->SetTime(&tStart, &tStop);
        m_llSamples += llFrames;
        if (m_bTypeChanged && spSample->SetMediaType(&m_apOut->m_mt) == S_OK)
            m_bTypeChanged = false;
    }
    hr = m_apOut->SendSample(spSample);
    m_hrLastSend = hr;
    if (hr == S_OK)
        ++m_nSamplesSent;
    else
        ++m_nSendFailures;
    return true;
}

unsigned CTestSource::ThreadProc()
{
    for (;;)
    {
        WaitForSingleObject(m_thread.m_hEvent, INFINITE);
        if (!m_thread.m_bRun)
            break;
        while (m_bStreaming && m_thread.m_bRun)
        {
            if (FilterState() != State_Running || !SendOne())
                WaitForSingleObject(m_thread.m_hEvent, 5);
        }
        SetEvent(m_hIdle);
    }
    SetEvent(m_hIdle);
    return 0;
}
