// The filter object: construction, life, state wrappers, property pages, the media-type test
// and the persisted settings.
#include "filter/AudioSource.h"

#include "diagnostics/DSParsers.h"
#include "filter/DSAudio.h"

CAudioSource::CAudioSource()
    : ICvVersionWrapper(__DATE__, __TIME__), m_clsid(CLSID_Tonewell), m_llPosition(0), m_tStampOffset(0), m_bDiscontinuity(true),
      m_bTypeChanged(false)
{
    TraceVersion(CAudioSource::ObjectName());
    SetName(L"Corvane Tonewell");
    SetDefaults();
}

const CFilterSetup& CAudioSource::Setup()
{
    static const REGPINTYPES s_anyType = {&GUID_NULL, &GUID_NULL};
    static WCHAR s_szOut[] = L"Out";
    static const REGFILTERPINS s_pins[] = {
        {s_szOut, FALSE, TRUE, FALSE, FALSE, &GUID_NULL, nullptr, 1, &s_anyType},
    };
    static const CFilterSetup s_setup = {
        []() -> UINT { return UINT(sizeof(s_pins) / sizeof(s_pins[0])); },
        [](UINT nIndex) -> const REGFILTERPINS* { return nIndex < sizeof(s_pins) / sizeof(s_pins[0]) ? &s_pins[nIndex] : nullptr; },
    };
    return s_setup;
}

void CAudioSource::SetDefaults()
{
    m_clsid = CLSID_Tonewell;
    m_nChannels = 2;
    m_nChannelMask = 0;
    m_nBitsPerSample = 16;
    m_nValidBitsPerSample = 16;
    m_nSamplesPerSec = 48000;
    for (int i = 0; i < TONE_SLOTS; ++i)
    {
        m_anFreq[i] = 1000;
        m_anFreqUsed[i] = 1000;
        m_anPos[i] = 0;
        m_adblLevel[i] = 0.5;
    }
}

HRESULT CAudioSource::FinalConstruct()
{
    DebugTrace(atlTraceGeneral, 2, L"%s FinalConstruct\n", ObjectName());
    HRESULT hr = CoCreateFreeThreadedMarshaler(GetControllingUnknown(), &m_pUnkMarshaler);
    if (SUCCEEDED(hr))
        hr = CreateOutputPin(nullptr);
    if (FAILED(hr))
        return hr;
    if (!m_evStopped.Create(false))
        return HResultFromLastError();
    hr = m_thread.InitThread(this, &CSimpleThread<CAudioSource>::StartThread);
    DS_ASSERT(hr == S_OK);
    return hr;
}

void CAudioSource::FinalRelease()
{
    DebugTrace(atlTraceGeneral, 2, L"%s FinalRelease\n", ObjectName());
    m_thread.Stop(INFINITE, false);
    DestroyPins();
    m_pUnkMarshaler.Release();
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSource::Run(REFERENCE_TIME tStart)
{
    HRESULT hr = IBaseFilterImpl<CAudioSource>::Run(tStart);
    return hr == S_OK ? StartStreaming() : hr;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSource::Stop()
{
    HRESULT hr = IBaseFilterImpl<CAudioSource>::Stop();
    StopStreaming();
    return hr;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSource::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* pState)
{
    HRESULT hr = IBaseFilterImpl<CAudioSource>::GetState(dwMilliSecsTimeout, pState);
    return hr == S_OK && *pState == State_Paused ? VFW_S_CANT_CUE : hr;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSource::GetPages(CAUUID* pPages)
{
    DebugTrace(atlTraceCOM, 2, L"ISpecifyPropertyPagesImpl::GetPages\n");
    if (pPages == nullptr)
        return E_POINTER;
    pPages->cElems = 0;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(2 * sizeof(GUID)));
    if (pPages->pElems == nullptr)
        return E_OUTOFMEMORY;
    pPages->pElems[0] = CLSID_TonewellPP;
    pPages->pElems[1] = CLSID_TonewellAbout;
    pPages->cElems = 2;
    return S_OK;
}

BOOL CAudioSource::Filter_QueryAcceptMT(int /*nIndex*/, const AM_MEDIA_TYPE* pmt)
{
    // The synthesis writes integer PCM only: a type of another subtype would label these
    // bytes as something they are not. MTCheckAudio checks the block's size and consistency.
    if (pmt == nullptr || MTCheckAudio(pmt, MT_ANY_FORMAT_TAG) != S_OK || pmt->subtype != MEDIASUBTYPE_PCM)
        return FALSE;
    auto* pWF = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
    if (pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
        reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pWF)->SubFormat != KSDATAFORMAT_SUBTYPE_PCM)
        return FALSE;
    bool bContainer = pWF->wBitsPerSample == 8 || pWF->wBitsPerSample == 16 || pWF->wBitsPerSample == 24 ||
                      pWF->wBitsPerSample == 32;
    // The synthesis writes frames of exactly the channels' samples; MTCheckAudio lets a
    // padded frame pass, which the stream would then refuse buffer after buffer.
    return 1 <= pWF->nChannels && pWF->nChannels <= 32 && bContainer &&
           pWF->nBlockAlign == pWF->nChannels * pWF->wBitsPerSample / 8;
}

HRESULT CAudioSource::BuildFormatType(CMType& mt) const
{
    return CMTHelp::MTCreatePCMEx(mt, m_nSamplesPerSec, m_nChannels, m_nBitsPerSample, m_nValidBitsPerSample,
                                  m_nChannelMask != 0 ? m_nChannelMask : 0xFFFFFFFF);
}

void CAudioSource::LimitFrequencies(int nChannels, bool bResetPositions)
{
    const DWORD dwHighest = CAudioHelp::HighestFrequency(m_nSamplesPerSec);
    for (int i = 0; i < nChannels && i < TONE_SLOTS; ++i)
    {
        // Taken as unsigned, so the square wave's -1 counts as above half the rate too.
        if (!CAudioHelp::BelowHalfRate(DWORD(m_anFreq[i]), m_nSamplesPerSec))
        {
            m_anFreq[i] = int(dwHighest);
            m_anFreqUsed[i] = dwHighest;
        }
        if (bResetPositions)
            m_anPos[i] = 0;
    }
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSource::Load(IStream* pStm)
{
    CComLockGuard<CAudioSource> lock(this);
    HRESULT hr = IPersistStreamImpl<CAudioSource>::Load(pStm);
    bool bValid = hr == S_OK && InlineIsEqualGUID(m_clsid, CLSID_Tonewell) && 1 <= m_nChannels &&
                  m_nChannels <= 32 && 8 <= m_nBitsPerSample && m_nBitsPerSample <= 32 && m_nValidBitsPerSample >= 8 &&
                  m_nValidBitsPerSample <= m_nBitsPerSample && m_nSamplesPerSec != 0;
    if (m_nChannels <= 2)
        m_nChannelMask = 0;
    // Only settings that describe a stream are kept: a container that is no whole number of
    // bytes, or a byte rate beyond 32 bits, has no media type.
    CMType mt;
    if (bValid && FAILED(BuildFormatType(mt)))
        bValid = false;
    if (bValid)
    {
        LimitFrequencies(TONE_SLOTS, false);
        for (int i = 0; i < TONE_SLOTS; ++i)
        {
            m_anFreqUsed[i] = DWORD(m_anFreq[i]);
            m_adblLevel[i] = CAudioHelp::ClampLevel(m_adblLevel[i], 0.0);
        }
    }
    else
    {
        SetDefaults();
        HRESULT hrDefault = BuildFormatType(mt);
        DS_ASSERT(hrDefault == S_OK);
    }
    ReleaseSineCaches();
    if (m_apOut != nullptr)
    {
        HRESULT hrPin = m_apOut->SetCurrentType(&mt);
        DS_ASSERT(hrPin == S_OK);
    }
    return bValid ? S_OK : E_FAIL;
}
