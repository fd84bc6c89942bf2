// ICRVTonewell: the output format and the tone of each channel.
#include <cmath>

#include "filter/AudioSource.h"
#include "filter/DSAudio.h"

// Reports a refused argument under the condition's customary text.
#define SETTINGS_ASSERT(expr, text) DebugAssert(!!(expr), __FILE_NAME__, __LINE__, text)

namespace
{
// Levels at or below this many decibels are silence.
const double kSilenceDb = -192.0;
}

HRESULT CAudioSource::CarryFormatToPin(const CMType& mt)
{
    CAudioSourceOut* pPin = m_apOut;
    if (pPin == nullptr)
        return E_UNEXPECTED;
    if (!pPin->IsConnected())
        return pPin->SetCurrentType(&mt);
    if (FilterState() != State_Stopped)
    {
        CComPtr<IPin> spConnected;
        static_cast<IPin*>(pPin)->ConnectedTo(&spConnected);
        HRESULT hr = spConnected ? spConnected->QueryAccept(&mt) : VFW_E_NOT_CONNECTED;
        if (hr != S_OK)
        {
            DebugTrace(atlTraceGeneral, 2, L"###Err### %s SetParameters(): m_spConnected->QueryAcceptMT()=0x%X\n",
                       ObjectName(), hr);
            return hr;
        }
        hr = pPin->SetCurrentType(&mt);
        if (hr == S_OK)
            m_bTypeChanged = true;
        return hr;
    }
    HRESULT hr = pPin->SetCurrentType(&mt);
    if (FAILED(hr))
        return hr;
    hr = ReconnectPin(static_cast<IPin*>(pPin), nullptr);
    if (hr == S_OK)
        NotifyGraphChanged();
    else
        DebugTrace(atlTraceGeneral, 2, L"###Err### %s SetParameters(): ReconnectPin()=0x%X\n", ObjectName(), hr);
    return hr;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSource::SetParameters(int nValidBitsPerSample, int nChannels, int nChannelMask, int nSamplesPerSec)
{
    DebugTrace(atlTraceGeneral, 8, L"%s ICRVTonewell::SetParameters( valid bits=%i, chan=%i, mask=0x%X, freq=%i )\n",
               ObjectName(), nValidBitsPerSample, nChannels, nChannelMask, nSamplesPerSec);
    SETTINGS_ASSERT(8 <= nValidBitsPerSample && nValidBitsPerSample <= 32,
                    "8 <= nValidBitsPerSample && nValidBitsPerSample <= 32");
    if (!(8 <= nValidBitsPerSample && nValidBitsPerSample <= 32))
        return E_INVALIDARG;
    SETTINGS_ASSERT(1 <= nChannels && nChannels <= 32, "1 <= nChannels && nChannels <= 32");
    if (!(1 <= nChannels && nChannels <= 32))
        return E_INVALIDARG;
    // A negative rate passes and is read as an unsigned one.
    SETTINGS_ASSERT(nSamplesPerSec != 0, "nSamplesPerSec > 0");
    if (nSamplesPerSec == 0)
        return E_INVALIDARG;

    CComLockGuard<CAudioSource> lock(this);
    WORD wBits = WORD((nValidBitsPerSample + 7) & ~7);
    CMType mt;
    HRESULT hr = CMTHelp::MTCreatePCMEx(mt, DWORD(nSamplesPerSec), WORD(nChannels), wBits, WORD(nValidBitsPerSample),
                                        nChannelMask != 0 ? DWORD(nChannelMask) : 0xFFFFFFFF);
    if (FAILED(hr))
    {
        DebugAssert(false, __FILE_NAME__, __LINE__, "CAudioSource::SetParameters(): CMTHelp::MTCreatePCMEx() FAILED");
        return hr;
    }
    const CPcmFormat old = FormatSettings();
    StoreFormat({WORD(nChannels), DWORD(nChannelMask), wBits, WORD(nValidBitsPerSample), DWORD(nSamplesPerSec)});
    hr = CarryFormatToPin(mt);
    if (hr != S_OK)
    {
        StoreFormat(old);
        return FAILED(hr) ? hr : VFW_E_CHANGING_FORMAT;
    }
    FormatChanged();
    return S_OK;
}

CPcmFormat CAudioSource::FormatSettings() const
{
    return {m_nChannels, m_nChannelMask, m_nBitsPerSample, m_nValidBitsPerSample, m_nSamplesPerSec};
}

void CAudioSource::StoreFormat(const CPcmFormat& fmt)
{
    m_nChannels = fmt.nChannels;
    m_nChannelMask = fmt.nChannelMask;
    m_nBitsPerSample = fmt.nBitsPerSample;
    m_nValidBitsPerSample = fmt.nValidBitsPerSample;
    m_nSamplesPerSec = fmt.nSamplesPerSec;
}

void CAudioSource::FormatChanged()
{
    LimitFrequencies(m_nChannels, true);
    ReleaseSineCaches();
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSource::GetParameters(int* pnValidBitsPerSample, int* pnChannels, int* pnChannelMask,
                                         int* pnSamplesPerSec)
{
    DebugTrace(atlTraceGeneral, 10, L"%s ICRVTonewell::GetParameters()\n", ObjectName());
    SETTINGS_ASSERT(pnValidBitsPerSample != NULL, "pnValidBitsPerSample != NULL");
    SETTINGS_ASSERT(pnChannels != NULL, "pnChannels != NULL");
    SETTINGS_ASSERT(pnChannelMask != NULL, "pnChannelMask != NULL");
    SETTINGS_ASSERT(pnSamplesPerSec != NULL, "pnSamplesPerSec != NULL");
    if (pnValidBitsPerSample == nullptr || pnChannels == nullptr || pnChannelMask == nullptr ||
        pnSamplesPerSec == nullptr)
        return E_POINTER;
    *pnValidBitsPerSample = m_nValidBitsPerSample;
    *pnChannels = m_nChannels;
    *pnChannelMask = int(m_nChannelMask);
    *pnSamplesPerSec = int(m_nSamplesPerSec);
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSource::SetFrequency(int nChannel, int nFreq)
{
    DebugTrace(atlTraceGeneral, 8, L"%s ICRVTonewell::SetFrequency( chan %i, freq %i )\n", ObjectName(), nChannel, nFreq);
    SETTINGS_ASSERT(0 <= nChannel && nChannel < m_nChannels, "nChannel < m_nChannels");
    if (!(0 <= nChannel && nChannel < m_nChannels))
        return E_INVALIDARG;
    // Computed wide: 2 * nFreq must not wrap into the accepted range.
    SETTINGS_ASSERT(2 * LONGLONG(nFreq) < LONGLONG(int(m_nSamplesPerSec)), "2 * nFreq < (int)m_nSamplesPerSec");
    if (!(2 * LONGLONG(nFreq) < LONGLONG(int(m_nSamplesPerSec))))
        return E_INVALIDARG;
    CComLockGuard<CAudioSource> lock(this);
    if (m_anFreq[nChannel] != nFreq)
        m_aSineCache[nChannel].Release();
    m_anFreq[nChannel] = nFreq;
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSource::GetFrequency(int nChannel, int* pnFreq)
{
    DebugTrace(atlTraceGeneral, 10, L"%s ICRVTonewell::GetFrequency()\n", ObjectName());
    SETTINGS_ASSERT(pnFreq != NULL, "pnFreq != NULL");
    if (pnFreq == nullptr)
        return E_POINTER;
    SETTINGS_ASSERT(0 <= nChannel && nChannel < m_nChannels, "nChannel < m_nChannels");
    if (!(0 <= nChannel && nChannel < m_nChannels))
        return E_INVALIDARG;
    *pnFreq = m_anFreq[nChannel];
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSource::SetAmplitude(int nChannel, double dAmplitude)
{
    DebugTrace(atlTraceGeneral, 10, L"%s ICRVTonewell::SetAmplitude( chan %i, amp %g )\n", ObjectName(), nChannel,
               dAmplitude);
    SETTINGS_ASSERT(0 <= nChannel && nChannel < m_nChannels, "nChannel < m_nChannels");
    if (!(0 <= nChannel && nChannel < m_nChannels))
        return E_INVALIDARG;
    // Written so that NaN fails it.
    const double dblAmplitude = dAmplitude;
    SETTINGS_ASSERT(dblAmplitude <= 0.0, "dblAmplitude <= 0.0");
    if (!(dblAmplitude <= 0.0))
        return E_INVALIDARG;
    double dblLevel = dblAmplitude > kSilenceDb ? std::pow(10.0, dblAmplitude / 20.0) : 0.0;
    CComLockGuard<CAudioSource> lock(this);
    if (m_adblLevel[nChannel] != dblLevel)
    {
        m_adblLevel[nChannel] = dblLevel;
        m_aSineCache[nChannel].Release();
    }
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSource::GetAmplitude(int nChannel, double* pdAmplitude)
{
    DebugTrace(atlTraceGeneral, 10, L"%s ICRVTonewell::GetAmplitude()\n", ObjectName());
    SETTINGS_ASSERT(0 <= nChannel && nChannel < m_nChannels, "nChannel < m_nChannels");
    if (!(0 <= nChannel && nChannel < m_nChannels))
        return E_INVALIDARG;
    SETTINGS_ASSERT(pdAmplitude != NULL, "pdblAmplitude != NULL");
    if (pdAmplitude == nullptr)
        return E_POINTER;
    double dblLevel = m_adblLevel[nChannel];
    double dblDb = dblLevel > 2.5e-10 ? 20.0 * std::log10(dblLevel) : kSilenceDb;
    *pdAmplitude = dblDb > kSilenceDb ? dblDb : kSilenceDb;
    return S_OK;
}
