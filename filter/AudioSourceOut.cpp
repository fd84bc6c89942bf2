#include "filter/AudioSourceOut.h"

#include "diagnostics/DSParsers.h"
#include "filter/AudioSource.h"

CAudioSourceOut::CAudioSourceOut()
{
    m_propsSuggested = {-1, -1, -1, -1};
}

HRESULT CAudioSourceOut::FinalConstruct()
{
    DebugTrace(atlTraceGeneral, 2, L"%s FinalConstruct()\n", ObjectName());
    WAVEFORMATEX wf = {};
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = 2;
    wf.nSamplesPerSec = 48000;
    wf.nAvgBytesPerSec = 192000;
    wf.nBlockAlign = 4;
    wf.wBitsPerSample = 16;
    wf.cbSize = 0;
    HRESULT hr = m_mtDefault.Set(&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM, &FORMAT_WaveFormatEx, sizeof(wf), &wf);
    if (FAILED(hr))
        return hr;
    return m_mt.Assign(&m_mtDefault);
}

void CAudioSourceOut::FinalRelease()
{
    DebugTrace(atlTraceGeneral, 2, L"%s FinalRelease\n", ObjectName());
}

HRESULT CAudioSourceOut::SetCurrentType(const AM_MEDIA_TYPE* pmt)
{
    CComLockGuard<CAudioSourceOut> lock(this);
    return m_mt.Assign(pmt);
}

void CAudioSourceOut::DumpType(const AM_MEDIA_TYPE* pmt)
{
    WCHAR szPrefix[NAME_PREFIX_CCH];
    Debug_MediaType(atlTraceGeneral, 2, pmt, MakeNamePrefix(ObjectName(), szPrefix, NAME_PREFIX_CCH));
}

// A type the pin would connect in is taken as it is; otherwise a capture tool's edit of three
// fields is made consistent (FormatRequest.h). The filter's format settings follow the type,
// so the filter lock comes first, then the pin lock.
COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSourceOut::SetFormat(AM_MEDIA_TYPE* pmt)
{
    DebugTrace(atlTraceCOM, 2, L"%s IAMStreamConfig::SetFormat()\n", ObjectName());
    DumpType(pmt);
    if (m_pFilter == nullptr)
        return E_UNEXPECTED;
    CComLockGuard<CAudioSource> filterLock(m_pFilter);
    CComLockGuard<CAudioSourceOut> lock(this);
    if (m_pFilter->FilterState() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    CMType mt;
    HRESULT hr;
    if (pmt == nullptr)
        hr = mt.Assign(&m_mtDefault);
    else if (m_pFilter->Filter_QueryAcceptMT(m_nIndex, pmt))
        hr = mt.Assign(pmt);
    else
        hr = MTFromFormatRequest(pmt, mt);
    CPcmFormat fmt;
    if (hr == VFW_E_INVALIDMEDIATYPE || (SUCCEEDED(hr) && !PcmFormatOf(mt, fmt)))
    {
        DebugTrace(atlTraceGeneral, 2, L"###Err### %s IAMStreamConfig::SetFormat(): m_pFilter->Filter_QueryAcceptMT()=FALSE\n",
                   ObjectName());
        return VFW_E_INVALIDMEDIATYPE;
    }
    if (FAILED(hr))
        return hr;
    CMType mtOld;
    hr = mtOld.Assign(&m_mt);
    if (SUCCEEDED(hr))
        hr = m_mt.Assign(&mt);
    if (FAILED(hr))
        return hr;
    const CPcmFormat old = m_pFilter->FormatSettings();
    m_pFilter->StoreFormat(fmt);
    if (IsConnected())
    {
        hr = m_pFilter->ReconnectPin(static_cast<IPin*>(this), nullptr);
        if (hr != S_OK)
            DebugTrace(atlTraceGeneral, 2, L"###Err### %s IAMStreamConfig::SetFormat(): m_pFilter->ReconnectPin()=0x%X\n",
                       ObjectName(), hr);
        m_pFilter->NotifyGraphChanged();
        // A failed call changes nothing: the settings and the type go back together.
        if (FAILED(hr))
        {
            m_pFilter->StoreFormat(old);
            m_mt.Assign(&mtOld);
            return hr;
        }
    }
    m_pFilter->FormatChanged();
    return hr;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSourceOut::GetFormat(AM_MEDIA_TYPE** ppmt)
{
    DebugTrace(atlTraceGeneral, 2, L"%s IAMStreamConfig::GetFormat()\n", ObjectName());
    DS_ASSERT(ppmt != NULL);
    if (ppmt == nullptr)
        return E_POINTER;
    HRESULT hr;
    {
        // The current type may be replaced on another thread; copy it whole under the pin lock.
        CComLockGuard<CAudioSourceOut> lock(this);
        hr = m_mt.CopyTo(ppmt);
    }
    if (hr == S_OK && *ppmt == nullptr)
        hr = E_FAIL;
    if (hr == S_OK)
        DumpType(*ppmt);
    return hr;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSourceOut::GetNumberOfCapabilities(int* piCount, int* piSize)
{
    DebugTrace(atlTraceCOM, 2, L"%s IAMStreamConfig::GetNumberOfCapabilities()\n", ObjectName());
    DS_ASSERT(piCount != NULL);
    DS_ASSERT(piSize != NULL);
    if (piCount == nullptr || piSize == nullptr)
        return E_POINTER;
    *piCount = 1;
    *piSize = sizeof(AUDIO_STREAM_CONFIG_CAPS);
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSourceOut::GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC)
{
    DebugTrace(atlTraceCOM, 2, L"%s IAMStreamConfig::GetStreamCaps()\n", ObjectName());
    DS_ASSERT(ppmt != NULL);
    DS_ASSERT(pSCC != NULL);
    if (ppmt == nullptr || pSCC == nullptr)
        return E_POINTER;
    if (iIndex >= 1)
        return S_FALSE;
    *ppmt = nullptr;
    auto* pCaps = reinterpret_cast<AUDIO_STREAM_CONFIG_CAPS*>(pSCC);
    ZeroMemory(pCaps, sizeof(*pCaps));
    pCaps->guid = MEDIATYPE_Audio;
    pCaps->MinimumChannels = 1;
    pCaps->MaximumChannels = 32;
    pCaps->ChannelsGranularity = 1;
    pCaps->MinimumBitsPerSample = 8;
    pCaps->MaximumBitsPerSample = 32;
    pCaps->BitsPerSampleGranularity = 1;
    pCaps->MinimumSampleFrequency = 1;
    pCaps->MaximumSampleFrequency = 192000;
    pCaps->SampleFrequencyGranularity = 1;
    CMType mt;
    HRESULT hr = CMTHelp::MTCreatePCM(mt, 48000, 2, 16, 0xFFFFFFFF);
    if (FAILED(hr))
        return hr;
    hr = mt.CopyTo(ppmt);
    return hr == S_OK && *ppmt == nullptr ? E_FAIL : hr;
}
