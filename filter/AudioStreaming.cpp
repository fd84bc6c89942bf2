// The streaming thread: it fills the allocator's buffers from the tone bank as fast as the
// downstream filter returns them and stamps each from the count of frames since the last stop,
// counted from the stream time of the run's first sample when the graph has a clock.
#include <cmath>

#include "diagnostics/DSParsers.h"
#include "filter/AudioSource.h"
#include "filter/DSAudio.h"

namespace
{
// The poll interval when no buffer is free or the downstream pin did not take a sample:
// the duration of one buffer, at most this (shorter buffers are polled for sooner, so that
// a few short buffers do not run dry while the thread sleeps).
const DWORD kPollMs = 40;

// Channels are written in runs of frames of about this many bytes, every channel of a run
// before the next run, so that the run stays in the processor's data cache: channel by channel
// over a whole buffer, 32 channels would walk a 1 MB buffer 32 times.
const DWORD kRunBytes = 16384;
}

void CAudioSource::CarryTone(DWORD c, DWORD dwRate)
{
    const DWORD dwFreq = DWORD(m_anFreq[c]);
    if (m_anFreqUsed[c] == dwFreq)
        return;
    // The position at the new frequency with the same instantaneous phase p * f.
    DWORD dwPos = 0;
    if (dwFreq != 0 && dwRate != 0)
    {
        const double dbl = std::floor(double(m_anFreqUsed[c]) * double(m_anPos[c]) / double(dwFreq) + 0.5);
        dwPos = DWORD(std::fmod(dbl, double(dwRate)));
    }
    m_anPos[c] = dwPos;
    m_anFreqUsed[c] = dwFreq;
}

HRESULT CAudioSource::FillBuffer(BYTE* pBuf, DWORD cbLen, const WAVEFORMATEX* pWF)
{
    CComLockGuard<CAudioSource> lock(this);
    if (FillFromTable(pBuf, cbLen, pWF))
        return S_OK;
    const DWORD cbSample = pWF->wBitsPerSample / 8;
    const DWORD nChannels = pWF->nChannels < TONE_SLOTS ? pWF->nChannels : TONE_SLOTS;
    // Whole frames per run; a length the synthesis refuses goes as one run, refused whole.
    DWORD cbRun = cbLen;
    const DWORD cbFrame = pWF->nBlockAlign;
    if (cbFrame != 0 && cbLen % cbFrame == 0)
    {
        const DWORD nRunFrames = kRunBytes / cbFrame > 0 ? kRunBytes / cbFrame : 1;
        if (nRunFrames * cbFrame < cbLen)
            cbRun = nRunFrames * cbFrame;
    }
    auto fill = [&](DWORD c, DWORD cbFrom, DWORD cb) {
        return CAudioHelp::FillBuffer(pBuf + cbFrom + size_t(c) * cbSample, cb, pWF, m_anFreqUsed[c], &m_anPos[c],
                                      m_adblLevel[c], &m_aSineCache[c]);
    };
    // The square wave's halves span the buffer: it alone is written in one call.
    auto inRuns = [this](DWORD c) { return m_anFreqUsed[c] != CAudioHelp::FREQ_SQUARE; };

    // The first run carries each channel's phase and meets any refusal: the channels before a
    // refused one are completed, the rest are not touched.
    for (DWORD c = 0; c < nChannels; ++c)
    {
        CarryTone(c, pWF->nSamplesPerSec);
        HRESULT hr = fill(c, 0, inRuns(c) ? cbRun : cbLen);
        if (FAILED(hr))
        {
            DebugTrace(atlTraceGeneral, 2, L"###Err### %s FillBuffer(): CAudioHelp::FillBuffer( %u )=0x%X\n", ObjectName(),
                       c, hr);
            for (DWORD d = 0; d < c; ++d)
                if (inRuns(d) && cbRun < cbLen)
                    fill(d, cbRun, cbLen - cbRun);
            return hr;
        }
    }
    // The later runs repeat accepted calls on whole frames.
    for (DWORD cbFrom = cbRun; cbFrom < cbLen; cbFrom += cbRun)
        for (DWORD c = 0; c < nChannels; ++c)
            if (inRuns(c))
            {
                HRESULT hr = fill(c, cbFrom, cbLen - cbFrom < cbRun ? cbLen - cbFrom : cbRun);
                DS_ASSERT(hr == S_OK);
            }
    return S_OK;
}

bool CAudioSource::StopOvertook(HRESULT hr)
{
    // Stop leaves Running before it decommits the allocator, so a request refused for that
    // reason after Send saw the filter running is the stream's end, not a fault.
    return hr == VFW_E_NOT_COMMITTED && FilterState() != State_Running;
}

unsigned CAudioSource::ThreadProc()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DS_ASSERT(hr == S_OK);
    DWORD dwWait = INFINITE;
    while (m_thread.m_bRun)
    {
        DWORD dwRet = WaitForSingleObject(m_thread.m_hEvent, dwWait);
        DS_ASSERT(dwRet == WAIT_OBJECT_0 || dwRet == WAIT_TIMEOUT);
        if (!m_thread.m_bRun)
            break;
        bool bStopped;
        {
            CComLockGuard<CAudioSource> lock(this);
            bStopped = FilterState() == State_Stopped;
            if (bStopped)
                m_evStopped.Set();
        }
        dwWait = bStopped ? INFINITE : Send();
    }
    if (SUCCEEDED(hr))
        CoUninitialize();
    return 0;
}

DWORD CAudioSource::Send()
{
    WCHAR szPrefix[NAME_PREFIX_CCH];
    MakeNamePrefix(ObjectName(), szPrefix, NAME_PREFIX_CCH);
    HRESULT hr = S_OK;
    while (hr == S_OK)
    {
        if (FilterState() != State_Running)
            return INFINITE;
        if (!m_apOut->m_spAllocOut)
            return INFINITE;
        CComPtr<IMediaSample> spSample;
        hr = PrepareSample(&spSample);
        if (hr == VFW_E_TIMEOUT)
            return m_apOut->BufferMs(kPollMs);
        if (FAILED(hr))
        {
            if (!StopOvertook(hr))
                DebugTrace(atlTraceGeneral, 2, L"###Err### %s Send(): PrepareSample()=0x%X\n", ObjectName(), hr);
            return INFINITE;
        }
        Debug_Sample(atlTraceGeneral, 8, spSample, szPrefix, true);
        Debug_SampleLag(atlTraceGeneral, 8, spSample, m_tStart, m_spRefClock);
        hr = m_apOut->SendSample(spSample);
    }
    return m_apOut->BufferMs(kPollMs);
}

HRESULT CAudioSource::PrepareSample(IMediaSample** ppSample)
{
    DS_ASSERT(ppSample != NULL);
    if (ppSample == nullptr)
        return E_POINTER;
    *ppSample = nullptr;
    if (FilterState() == State_Stopped)
        return VFW_E_WRONG_STATE;

    CSampleT smp;
    CComPtr<IMediaSample> spSample;
    HRESULT hr = m_apOut->GetSample(&spSample, &smp, AM_GBF_NOWAIT);
    if (FAILED(hr))
    {
        if (hr != VFW_E_TIMEOUT && !StopOvertook(hr))
            DebugTrace(atlTraceGeneral, 2, L"###Err### %s PrepareSample(): smp.GetSample()=0x%X\n", ObjectName(), hr);
        return hr;
    }
    DS_ASSERT(smp.Has(PM_BUFF));
    if (!smp.Has(PM_BUFF) || smp.m_pbBuf == nullptr)
        return E_UNEXPECTED;

    // The format and the synthesis under the filter lock: a settings change lands between
    // buffers, never inside one. The pin's type is copied under the pin lock.
    CComLockGuard<CAudioSource> lock(this);
    WAVEFORMATEXTENSIBLE wfx = {};
    CMType mtChanged;
    {
        CComLockGuard<CAudioSourceOut> pinLock(m_apOut);
        const WAVEFORMATEX* pWF = m_apOut->m_mt.GetWaveFormat();
        DS_ASSERT(pWF != NULL);
        if (pWF == nullptr)
            return E_UNEXPECTED;
        memcpy(&wfx, pWF, m_apOut->m_mt.cbFormat < sizeof(wfx) ? m_apOut->m_mt.cbFormat : sizeof(wfx));
        if (m_bTypeChanged)
        {
            hr = mtChanged.Assign(&m_apOut->m_mt);
            if (FAILED(hr))
                return hr;
        }
    }
    const WAVEFORMATEX* pWF = &wfx.Format;
    DS_ASSERT(pWF->nBlockAlign > 0);
    DS_ASSERT(smp.m_cbBuf >= pWF->nBlockAlign);
    if (pWF->nBlockAlign == 0 || smp.m_cbBuf < pWF->nBlockAlign)
        return E_UNEXPECTED;

    // A live source's sample belongs to the stream time at which it is made. Stamped from 0, the
    // first samples made before the graph's start time would be held back that long by a
    // renderer on the clock, and a run ended after so many seconds would play that much less.
    if (m_llPosition == 0)
        m_tStampOffset = StreamTimeNow();
    const DWORD cbLen = DWORD(smp.m_cbBuf) - DWORD(smp.m_cbBuf) % pWF->nBlockAlign;
    const LONGLONG llFrames = cbLen / pWF->nBlockAlign;
    hr = FillBuffer(smp.m_pbBuf, cbLen, pWF);
    if (FAILED(hr))
        return hr;

    smp.Remove(PM_BUFF);
    smp.SetActualDataLength(LONG(cbLen));
    smp.SetDiscontinuity(m_bDiscontinuity);
    smp.SetMediaTime(m_llPosition, m_llPosition + llFrames);
    smp.SetTime(m_tStampOffset + CAudioHelp::SamplesToTime(m_llPosition, pWF, FALSE),
                m_tStampOffset + CAudioHelp::SamplesToTime(m_llPosition + llFrames, pWF, FALSE));
    if (m_bTypeChanged)
    {
        hr = smp.SetMediaType(&mtChanged);
        if (FAILED(hr))
            return hr;
    }
    hr = smp.Save(spSample, PM_ALL);
    if (FAILED(hr))
    {
        DebugTrace(atlTraceGeneral, 2, L"###Err### %s: PrepareSample(): sample.Save()=0x%X\n", ObjectName(), hr);
        return hr;
    }
    m_bTypeChanged = false;
    *ppSample = spSample.Detach();
    m_llPosition += llFrames;
    m_bDiscontinuity = false;
    return S_OK;
}

REFERENCE_TIME CAudioSource::StreamTimeNow()
{
    CComLockGuard<CAudioSource> lock(this);
    REFERENCE_TIME tNow = 0;
    if (!m_spRefClock || FAILED(m_spRefClock->GetTime(&tNow)))
        return 0;
    return tNow - m_tStart;
}

HRESULT CAudioSource::StartStreaming()
{
    DS_ASSERT(m_apOut->IsConnected());
    m_thread.Wake();
    return S_OK;
}

void CAudioSource::StopStreaming()
{
    // The thread acknowledges only a stopped filter; a Stop that left the filter paused or
    // running has nothing to wait for.
    {
        CComLockGuard<CAudioSource> lock(this);
        if (FilterState() != State_Stopped)
            return;
        m_evStopped.Reset();
    }
    // Stopped from the streaming thread itself (a downstream filter that stops the graph
    // inside Receive): it is not in Send once this returns, so there is nothing to wait for.
    if (GetCurrentThreadId() != m_thread.GetThreadId())
    {
        m_thread.Wake();
        DWORD dwRet = WaitForSingleObject(m_evStopped.m_h, INFINITE);
        DS_ASSERT(dwRet == WAIT_OBJECT_0);
    }
    CComLockGuard<CAudioSource> lock(this);
    m_llPosition = 0;
    m_tStampOffset = 0;
    m_bDiscontinuity = true;
    for (DWORD& dwPos : m_anPos)
        dwPos = 0;
    ReleaseSineCaches();
}

void CAudioSource::ReleaseSineCaches()
{
    for (CSineCache& cache : m_aSineCache)
        cache.Release();
    m_frameTable.Reset();
}

size_t CAudioSource::SineMemoryBytes() const
{
    size_t cb = m_frameTable.Bytes();
    for (const CSineCache& cache : m_aSineCache)
        cb += cache.Bytes();
    return cb;
}
