#include "tone/ToneGraph.h"

#include <cmath>

#include "common/HandleCount.h"
#include "common/TaskMemorySpy.h"
#include "dumps/PlatformFilters.h"

namespace tonestream
{
// ------------------------------------------------------------------ sample log

STDMETHODIMP CSampleLog::SampleCB(double, IMediaSample* pSample)
{
    CSampleRecord r;
    BYTE* pBuffer = nullptr;
    pSample->GetPointer(&pBuffer);
    LONG cbActual = pSample->GetActualDataLength();
    r.cbSize = pSample->GetSize();
    r.hrTime = pSample->GetTime(&r.tStart, &r.tStop);
    r.hrMediaTime = pSample->GetMediaTime(&r.llStart, &r.llStop);
    r.hrDiscontinuity = pSample->IsDiscontinuity();
    AM_MEDIA_TYPE* pmt = nullptr;
    r.hrMediaType = pSample->GetMediaType(&pmt);
    if (pmt != nullptr)
    {
        r.mt.Assign(pmt);
        MTFree(pmt);
    }
    size_t n;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        n = m_nSeen;
        if (m_records.size() < m_nCapacity)
        {
            if (pBuffer != nullptr && cbActual > 0)
                r.bytes.assign(pBuffer, pBuffer + cbActual);
            m_records.push_back(std::move(r));
        }
        if (m_bKeep)
            m_kept.emplace_back(pSample);
    }
    if (m_fnAfter)
        m_fnAfter(n);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nSeen;
    }
    m_cv.notify_all();
    return S_OK;
}

bool CSampleLog::WaitFor(size_t n, DWORD dwMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(dwMs), [&] { return m_nSeen >= n; });
}

size_t CSampleLog::Seen()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nSeen;
}

std::vector<CSampleRecord> CSampleLog::Records()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

void CSampleLog::Restart()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_records.clear();
    m_nSeen = 0;
}

void CSampleLog::KeepSamples(bool bKeep)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bKeep = bKeep;
}

void CSampleLog::ReleaseKept()
{
    std::vector<CComPtr<IMediaSample>> kept;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        kept.swap(m_kept);
    }
    // Released outside the lock: each release runs the allocator's return path.
}

// ------------------------------------------------------------------ fixture

testing::AssertionResult DescribesFormat(const AM_MEDIA_TYPE& mt, const CToneFormat& fmt)
{
    if (mt.majortype != MEDIATYPE_Audio || mt.subtype != MEDIASUBTYPE_PCM || mt.formattype != FORMAT_WaveFormatEx ||
        mt.pbFormat == nullptr || mt.cbFormat < sizeof(WAVEFORMATEX))
        return testing::AssertionFailure() << "not a PCM type with a wave format block";
    const auto* pWF = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    WORD nValid = pWF->wBitsPerSample;
    if (pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE && mt.cbFormat >= sizeof(WAVEFORMATEXTENSIBLE))
        nValid = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pWF)->Samples.wValidBitsPerSample;
    if (pWF->nChannels != fmt.nChannels || pWF->nSamplesPerSec != fmt.nRate ||
        pWF->wBitsPerSample != fmt.ContainerBits() || nValid != fmt.nValidBits || pWF->nBlockAlign != fmt.BlockAlign())
        return testing::AssertionFailure() << pWF->nChannels << " channels, " << pWF->nSamplesPerSec << " Hz, " << nValid
                                           << " of " << pWF->wBitsPerSample << " bits, frames of " << pWF->nBlockAlign;
    return testing::AssertionSuccess();
}

namespace
{
// One stream through the whole chain, and one refused argument (the first assertion report
// loads the message texts for good).
void WarmUp()
{
    CComPtr<IGraphBuilder> spGraph = NewPlatformGraph();
    CComPtr<IBaseFilter> spSource, spGrabber = NewPlatformFilter(kClsidSampleGrabber),
                                   spNull = NewPlatformFilter(kClsidNullRenderer);
    ComCreateReferencedInterface<CAudioSource>(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&spSource));
    if (!spGraph || !spSource || !spGrabber || !spNull)
        return;
    spGraph->AddFilter(spSource, L"Tonewell");
    spGraph->AddFilter(spGrabber, L"Grabber");
    spGraph->AddFilter(spNull, L"Null");
    spGraph->ConnectDirect(PinOf(spSource, PINDIR_OUTPUT), PinOf(spGrabber, PINDIR_INPUT), nullptr);
    spGraph->ConnectDirect(PinOf(spGrabber, PINDIR_OUTPUT), PinOf(spNull, PINDIR_INPUT), nullptr);
    CComPtr<CSampleLog> spLog;
    spLog.Attach(new CSampleLog(0));
    CComQIPtr<ISampleGrabber>(spGrabber)->SetCallback(spLog, 0);
    CComQIPtr<IMediaFilter>(spGraph)->SetSyncSource(nullptr);
    CComQIPtr<IMediaControl> spControl(spGraph);
    spControl->Run();
    spLog->WaitFor(4);
    spControl->Stop();
    CComQIPtr<ISampleGrabber>(spGrabber)->SetCallback(nullptr, 0);
    CComQIPtr<ICRVTonewell>(spSource)->GetParameters(nullptr, nullptr, nullptr, nullptr);
    spGraph->RemoveFilter(spSource);
    spGraph->RemoveFilter(spGrabber);
    spGraph->RemoveFilter(spNull);
}
}

long ToneGraphTest::s_nHandlesPerGraph = 0;

void ToneGraphTest::SetUpTestSuite()
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CTaskMemorySpy::Instance();
    WarmUp();
    long nBefore = testhandles::ProcessHandleCount();
    NewPlatformGraph();
    s_nHandlesPerGraph = testhandles::ProcessHandleCount() - nBefore;
}

void ToneGraphTest::TearDownTestSuite()
{
    CoUninitialize();
}

void ToneGraphTest::SetUp()
{
    ASSERT_TRUE(m_sink.IsLoaded());
    ASSERT_TRUE(m_baseline.Take());

    m_spGraph = NewPlatformGraph();
    ASSERT_TRUE(m_spGraph);
    m_spControl = CComQIPtr<IMediaControl>(m_spGraph);
    ASSERT_EQ(ComCreateReferencedInterface<CAudioSource>(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&m_spSource)),
              S_OK);
    m_spTone = CComQIPtr<ICRVTonewell>(m_spSource);
    ASSERT_TRUE(m_spTone);
    m_spGrabberFilter = NewPlatformFilter(kClsidSampleGrabber);
    m_spNull = NewPlatformFilter(kClsidNullRenderer);
    ASSERT_TRUE(m_spGrabberFilter && m_spNull);
    m_spGrabber = CComQIPtr<ISampleGrabber>(m_spGrabberFilter);
    ASSERT_TRUE(m_spGrabber);
    ASSERT_EQ(m_spGraph->AddFilter(m_spSource, L"Tonewell"), S_OK);
    ASSERT_EQ(m_spGraph->AddFilter(m_spGrabberFilter, L"Grabber"), S_OK);
    ASSERT_EQ(m_spGraph->AddFilter(m_spNull, L"Null"), S_OK);
    m_sink.Clear();
}

void ToneGraphTest::TearDown()
{
    if (m_spControl)
        m_spControl->Stop();
    if (m_spGrabber)
        m_spGrabber->SetCallback(nullptr, 0);
    if (m_spLog)
        m_spLog->ReleaseKept();
    m_spLog.Release();
    m_spTone.Release();
    m_spGrabber.Release();
    m_spControl.Release();
    m_spSource.Release();
    m_spGrabberFilter.Release();
    m_spNull.Release();
    m_spGraph.Release();
    m_baseline.ExpectNothingLeft(1, s_nHandlesPerGraph);
}

void ToneGraphTest::SetFormat(const CToneFormat& fmt)
{
    ASSERT_EQ(m_spTone->SetParameters(fmt.nValidBits, fmt.nChannels, 0, int(fmt.nRate)), S_OK);
    FollowFormat(fmt);
}

void ToneGraphTest::FollowFormat(const CToneFormat& fmt)
{
    m_ref.SetFormat(fmt);
    for (int c = 0; c < fmt.nChannels; ++c)
    {
        int nFreq = 0;
        ASSERT_EQ(m_spTone->GetFrequency(c, &nFreq), S_OK);
        EXPECT_TRUE(nFreq >= 0 && 2 * LONGLONG(nFreq) < LONGLONG(fmt.nRate))
            << "channel " << c << " keeps " << nFreq << " Hz at " << fmt.nRate << " Hz";
        m_ref.SetFrequency(c, nFreq);
    }
}

double ToneGraphTest::StoredLevel(int c, double dblDb)
{
    const double dblLevel = Filter()->m_adblLevel[c];
    if (dblDb <= -192.0)
    {
        EXPECT_EQ(dblLevel, 0.0) << "channel " << c;
    }
    else
    {
        EXPECT_NEAR(dblLevel, std::pow(10.0, dblDb / 20.0), 1e-12) << "channel " << c;
    }
    return dblLevel;
}

void ToneGraphTest::SetTone(int c, int nFreq, double dblDb)
{
    ASSERT_EQ(m_spTone->SetFrequency(c, nFreq), S_OK) << "channel " << c << " at " << nFreq << " Hz";
    ASSERT_EQ(m_spTone->SetAmplitude(c, dblDb), S_OK) << "channel " << c << " at " << dblDb << " dB";
    m_ref.SetTone(c, nFreq, StoredLevel(c, dblDb));
}

void ToneGraphTest::Connect(size_t nCapacity)
{
    m_spLog.Attach(new CSampleLog(nCapacity));
    ASSERT_EQ(m_spGrabber->SetCallback(m_spLog, 0), S_OK);
    ASSERT_EQ(m_spGraph->ConnectDirect(PinOf(m_spSource, PINDIR_OUTPUT), PinOf(m_spGrabberFilter, PINDIR_INPUT), nullptr),
              S_OK);
    ASSERT_EQ(m_spGraph->ConnectDirect(PinOf(m_spGrabberFilter, PINDIR_OUTPUT), PinOf(m_spNull, PINDIR_INPUT), nullptr),
              S_OK);
    ASSERT_EQ(CComQIPtr<IMediaFilter>(m_spGraph)->SetSyncSource(nullptr), S_OK);
    m_sink.Clear();
}

HRESULT ToneGraphTest::Run()
{
    return m_spControl->Run();
}

HRESULT ToneGraphTest::Pause()
{
    return m_spControl->Pause();
}

HRESULT ToneGraphTest::Stop()
{
    return m_spControl->Stop();
}

bool ToneGraphTest::Eventually(const std::function<bool()>& fn, DWORD dwMs)
{
    const ULONGLONG ullEnd = GetTickCount64() + dwMs;
    while (!fn())
    {
        if (GetTickCount64() > ullEnd)
            return false;
        Sleep(2);
    }
    return true;
}

CAudioSource* ToneGraphTest::Filter() const
{
    return static_cast<CAudioSource*>(static_cast<IBaseFilterImpl<CAudioSource>*>(m_spSource.p));
}


std::vector<std::wstring> ToneGraphTest::FilterErrors() const
{
    std::vector<std::wstring> errors;
    for (const std::wstring& e : m_sink.Events())
        if (e.size() > 3 && e[0] == L'L' && e[1] == 0x1B && e.find(L"###Err### [Tonewell]") != std::wstring::npos)
            errors.push_back(e.substr(e.find(L"###Err###")));
    return errors;
}

testing::AssertionResult ToneGraphTest::MatchesReference(const CSampleRecord& r, LONGLONG llPos)
{
    const CToneFormat& fmt = m_ref.Format();
    const DWORD cbFrame = fmt.BlockAlign();
    const DWORD nFrames = DWORD(r.cbSize) / cbFrame;
    if (r.bytes.size() != size_t(nFrames) * cbFrame)
        return testing::AssertionFailure() << "actual length " << r.bytes.size() << " in a buffer of " << r.cbSize
                                           << " bytes, frames of " << cbFrame;
    const std::vector<BYTE> expected = m_ref.Render(nFrames);
    size_t i = 0;
    while (i < expected.size() && expected[i] == r.bytes[i])
        ++i;
    if (i < expected.size())
    {
        const DWORD cbSample = fmt.ContainerBits() / 8;
        return testing::AssertionFailure() << "byte " << i << " (frame " << i / cbFrame << ", channel "
                                           << i % cbFrame / cbSample << ") is " << int(r.bytes[i]) << ", expected "
                                           << int(expected[i]);
    }
    const REFERENCE_TIME tStart = CToneReference::FramesToTime(llPos, fmt.nRate);
    const REFERENCE_TIME tStop = CToneReference::FramesToTime(llPos + nFrames, fmt.nRate);
    if (r.hrTime != S_OK || r.tStart != tStart || r.tStop != tStop)
        return testing::AssertionFailure() << "times " << r.tStart << ".." << r.tStop << " (result " << r.hrTime
                                           << "), expected " << tStart << ".." << tStop;
    if (r.hrMediaTime != S_OK || r.llStart != llPos || r.llStop != llPos + nFrames)
        return testing::AssertionFailure() << "media times " << r.llStart << ".." << r.llStop << " (result "
                                           << r.hrMediaTime << "), expected " << llPos << ".." << llPos + nFrames;
    return testing::AssertionSuccess();
}

void ToneGraphTest::ExpectStream(const std::vector<CSampleRecord>& records, size_t nFirst, size_t nLast,
                                 LONGLONG& llPos, bool bDiscontinuity, bool bTypeAtFirst)
{
    ASSERT_LE(nLast, records.size());
    for (size_t k = nFirst; k < nLast; ++k)
    {
        const CSampleRecord& r = records[k];
        ASSERT_TRUE(MatchesReference(r, llPos)) << "sample " << k;
        EXPECT_EQ(r.hrDiscontinuity, k == nFirst && bDiscontinuity ? S_OK : S_FALSE) << "sample " << k;
        if (k == nFirst && bTypeAtFirst)
        {
            EXPECT_EQ(r.hrMediaType, S_OK) << "sample " << k;
            EXPECT_TRUE(DescribesFormat(r.mt, m_ref.Format())) << "sample " << k;
        }
        else
        {
            EXPECT_EQ(r.hrMediaType, S_FALSE) << "sample " << k;
        }
        llPos += LONGLONG(r.bytes.size() / m_ref.Format().BlockAlign());
    }
}
}
