// The tone filter in Wine's filter graph manager: "Out" -> Sample Grabber -> Null Renderer,
// without a clock, so the stream runs as fast as the chain returns buffers. A callback of
// the tests' own records every sample the grabber passes; the recorded stream is checked
// against CToneReference. After every test nothing of ours is alive, and task memory and
// handles are back where they were.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "common/TestSinkClient.h"
#include "common/LeakBaseline.h"
#include "common/Watchdog.h"
#include "dumps/PlatformFilters.h"
#include "dumps/TestObject.h"
#include "filter/AudioSource.h"
#include "support/ComPtr.h"
#include "tone/ToneReference.h"

namespace tonestream
{
// What the grabber's callback saw of one sample.
struct CSampleRecord
{
    std::vector<BYTE> bytes;  // the actual data
    LONG cbSize = 0;
    HRESULT hrTime = E_FAIL;
    REFERENCE_TIME tStart = 0, tStop = 0;
    HRESULT hrMediaTime = E_FAIL;
    LONGLONG llStart = 0, llStop = 0;
    HRESULT hrDiscontinuity = E_FAIL;
    HRESULT hrMediaType = E_FAIL;  // S_OK: the sample carries mt
    CMType mt;
};

// The grabber's callback: records the first samples since the last Restart, wakes waiters
// on every sample, and on request keeps every sample or acts after a given one.
class CSampleLog : public CTestObject<ISampleGrabberCB>
{
public:
    explicit CSampleLog(size_t nCapacity) : m_nCapacity(nCapacity) {}

    STDMETHODIMP SampleCB(double, IMediaSample* pSample) override;
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

    // Waits until n samples were seen since the last Restart; false after dwMs.
    bool WaitFor(size_t n, DWORD dwMs = 30000);
    size_t Seen();
    // A copy of the records so far.
    std::vector<CSampleRecord> Records();
    // Forgets what was seen; the next sample is record 0.
    void Restart();

    // Every sample from now on stays referenced until ReleaseKept.
    void KeepSamples(bool bKeep);
    void ReleaseKept();

    // Called on the streaming thread after sample n (counted from the last Restart) was
    // recorded, before the grabber passes it on. Set it while the graph is stopped.
    std::function<void(size_t n)> m_fnAfter;

private:
    const size_t m_nCapacity;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<CSampleRecord> m_records;
    size_t m_nSeen = 0;
    bool m_bKeep = false;
    std::vector<CComPtr<IMediaSample>> m_kept;
};

// Whether mt is integer PCM of fmt (plain or extensible).
testing::AssertionResult DescribesFormat(const AM_MEDIA_TYPE& mt, const CToneFormat& fmt);

class ToneGraphTest : public testing::Test
{
protected:
    // COM for the whole suite, and one graph run through first, so that what the platform
    // loads once per process is not taken for a leak.
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Sets the filter's format and starts the reference over in it.
    void SetFormat(const CToneFormat& fmt);
    // The reference follows a format change the filter made: every channel of the new count
    // at phase 0, at the frequency the filter kept (a tone that does not fit below half the
    // new rate, the square wave's code included, is lowered to one that does).
    void FollowFormat(const CToneFormat& fmt);
    // Sets one channel's tone through ICRVTonewell (the level in dB) and in the reference,
    // which takes the level the filter derived from the dB value.
    void SetTone(int c, int nFreq, double dblDb);
    // The level the filter stores for dblDb, checked against 10^(dB/20).
    double StoredLevel(int c, double dblDb);

    // "Out" -> Sample Grabber -> Null Renderer; the graph's clock removed.
    void Connect(size_t nCapacity = 64);
    HRESULT Run();
    HRESULT Pause();
    HRESULT Stop();

    // Polls fn until it holds; false after dwMs. For what no event announces, such as a
    // trace line of the streaming thread.
    static bool Eventually(const std::function<bool()>& fn, DWORD dwMs = 30000);

    CAudioSource* Filter() const;
    // The filter's trace lines that report a failure, in order.
    std::vector<std::wstring> FilterErrors() const;

    // Records [nFirst, nLast) are the reference's next buffers: bytes, lengths, times from
    // the stream position llPos (advanced here), media times, the discontinuity flag on
    // nFirst when bDiscontinuity, and a media type only on nFirst when bTypeAtFirst: one
    // that describes the reference's format.
    void ExpectStream(const std::vector<CSampleRecord>& records, size_t nFirst, size_t nLast, LONGLONG& llPos,
                      bool bDiscontinuity, bool bTypeAtFirst = false);
    // One record as the reference's next buffer, starting at stream position llPos.
    testing::AssertionResult MatchesReference(const CSampleRecord& r, LONGLONG llPos);

    testwatch::CWatchdog m_watchdog{120000};
    testsink::CSinkReader m_sink{L"testsink.dll"};
    CComPtr<IGraphBuilder> m_spGraph;
    CComPtr<IMediaControl> m_spControl;
    CComPtr<IBaseFilter> m_spSource, m_spGrabberFilter, m_spNull;
    CComPtr<ISampleGrabber> m_spGrabber;
    CComPtr<ICRVTonewell> m_spTone;
    CComPtr<CSampleLog> m_spLog;
    CToneReference m_ref{CToneFormat{2, 16, 48000}};

private:
    static long s_nHandlesPerGraph;
    CLeakBaseline m_baseline;
};
}
