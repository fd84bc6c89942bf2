// A graph of Wine's filter graph manager holding the test source as "Source", to which a
// test adds the platform filters it needs. After every test nothing of ours is alive, and
// task memory and handles are back where they were.
#pragma once
#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "common/TestSinkClient.h"
#include "common/LeakBaseline.h"
#include "common/Watchdog.h"
#include "dumps/PlatformFilters.h"
#include "dumps/TestObject.h"
#include "filters/TestSource.h"
#include "support/ComPtr.h"

// The graph runs without a clock unless a test sets one: Wine's system clock can hang in
// its final release when its advise thread has just begun to serve a renderer, as when a
// graph is stopped and released at once.
class PlatformGraphTest : public testing::Test
{
protected:
    // COM for the whole suite, and one graph run through first, so that what the platform
    // loads once per process is not taken for a leak.
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Wine's graph manager keeps one handle of every graph made for good: graphs made by the
    // fixture are allowed for in the handle count.
    CComPtr<IGraphBuilder> NewGraph();
    CComPtr<IBaseFilter> AddPlatformFilter(REFCLSID clsid, LPCWSTR pszName);
    // A platform filter added to the graph, with our pin connected straight to its input.
    CComPtr<IBaseFilter> ConnectTo(REFCLSID clsid, LPCWSTR pszName);

    CTestSource* Source() const;
    FILTER_STATE SourceState() const;
    // Whether our pin's agreed allocator hands out buffers (a decommitted one refuses).
    bool AllocatorCommitted() const;
    // Stops the graph and our filter, whichever a test drove.
    void StopAll();

    // What reached the log sink since it was last cleared: the graph descriptions, and the
    // texts of the filter's own trace lines, those that name "[TestSource]".
    std::vector<std::wstring> Blocks() const;
    std::vector<std::wstring> SourceLines() const;

    testwatch::CWatchdog m_watchdog;
    testsink::CSinkReader m_sink{L"testsink.dll"};
    CComPtr<IGraphBuilder> m_spGraph;
    CComPtr<IBaseFilter> m_spSource;
    CComPtr<IPin> m_spOut;

private:
    static long s_nHandlesPerGraph;
    CLeakBaseline m_baseline;
    long m_nGraphsMade = 0;
};

// The peer of pPin, or null.
CComPtr<IPin> PeerOf(IPin* pPin);
// The current reference count of an object (one AddRef and one Release).
ULONG References(IUnknown* pUnk);
// The same object, compared through IUnknown.
bool SameObject(IUnknown* pA, IUnknown* pB);
// 16-bit PCM as the test source makes it; its own type is 48 kHz stereo.
CMType Pcm16(DWORD dwRate = 48000, WORD wChannels = 2);
// Types, subtypes, format types and format blocks equal.
bool SameType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b);

// Records what the Sample Grabber sees: the first samples in full, and the last one.
class CGrabberCallback : public CTestObject<ISampleGrabberCB>
{
public:
    struct Record
    {
        HRESULT hrTime = E_FAIL;
        REFERENCE_TIME tStart = 0, tStop = 0;
        LONG cbActual = 0, cbSize = 0;
        BYTE* pBuffer = nullptr;
        std::vector<BYTE> bytes;
    };

    explicit CGrabberCallback(size_t nWanted);
    ~CGrabberCallback() override;

    STDMETHODIMP SampleCB(double, IMediaSample* pSample) override;
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

    const size_t m_nWanted;
    const HANDLE m_hGot;  // set once the wanted samples are recorded
    std::mutex m_mutex;
    std::vector<Record> m_records;
    Record m_last;
};

// A reference clock on the performance counter whose every advise is due at once, so that
// a renderer on it renders without waiting.
class CTestClock : public CTestObject<IReferenceClock>
{
public:
    STDMETHODIMP GetTime(REFERENCE_TIME* pTime) override;
    STDMETHODIMP AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT hEvent, DWORD_PTR* pdwCookie) override;
    STDMETHODIMP AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD_PTR) override { return S_OK; }

    std::atomic<LONG> m_nAdvises{0};
};
