#include "render/WavSink.h"

#include "framework/DSTypes.h"

CWavSink::CWavSink(CWavWriter& writer, ULONGLONG llFrames, WORD nBlockAlign, HANDLE hDone)
    : m_writer(writer), m_llTarget(llFrames), m_nBlockAlign(nBlockAlign), m_hDone(hDone)
{
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CWavSink::SampleCB(double, IMediaSample* pSample)
{
    CComLockGuard<CWavSink> lock(this);
    if (m_bDone)
        return S_OK;
    m_hr = Take(pSample);
    if (FAILED(m_hr) || m_llFrames == m_llTarget)
    {
        m_bDone = true;
        SetEvent(m_hDone);
    }
    return S_OK;
}

HRESULT CWavSink::Take(IMediaSample* pSample)
{
    if (pSample == nullptr)
        return E_POINTER;
    // The file has one format; a sample that announces another cannot go into it.
    AM_MEDIA_TYPE* pmt = nullptr;
    if (pSample->GetMediaType(&pmt) == S_OK)
    {
        MTFree(pmt);
        return VFW_E_CHANGING_FORMAT;
    }
    BYTE* pData = nullptr;
    HRESULT hr = pSample->GetPointer(&pData);
    if (FAILED(hr))
        return hr;
    const LONG cbActual = pSample->GetActualDataLength();
    if (cbActual < 0 || cbActual % m_nBlockAlign != 0)
        return VFW_E_BADALIGN;
    ULONGLONG llFrames = ULONGLONG(cbActual) / m_nBlockAlign;
    if (llFrames > m_llTarget - m_llFrames)
        llFrames = m_llTarget - m_llFrames;
    hr = m_writer.Write(pData, DWORD(llFrames * m_nBlockAlign));
    if (SUCCEEDED(hr))
        m_llFrames += llFrames;
    return hr;
}

ULONGLONG CWavSink::Frames()
{
    CComLockGuard<CWavSink> lock(this);
    return m_llFrames;
}

HRESULT CWavSink::Result()
{
    CComLockGuard<CWavSink> lock(this);
    return m_hr;
}
