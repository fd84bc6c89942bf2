#include "filters/PlatformGraph.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <functional>
#include <thread>

#include "common/HandleCount.h"
#include "common/TaskMemorySpy.h"

namespace
{
CComPtr<IBaseFilter> NewSource()
{
    CComPtr<IBaseFilter> spSource;
    ComCreateReferencedInterface<CTestSource>(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&spSource));
    return spSource;
}

// The first contention on a mutex of the test helpers (the log sink's records, the task
// memory spy's blocks) makes an event that lives as long as the process: it must come
// before any test counts handles.
void ContendOnce(const std::function<void()>& work)
{
    const long nBefore = testhandles::ProcessHandleCount();
    for (int nRound = 0; nRound < 50 && testhandles::ProcessHandleCount() <= nBefore; ++nRound)
    {
        std::atomic<bool> bGo{false};
        std::vector<std::thread> threads;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([&] {
                while (!bGo)
                    std::this_thread::yield();
                work();
            });
        bGo = true;
        for (std::thread& t : threads)
            t.join();
    }
}

// Source -> Sample Grabber -> Null Renderer, run on a clock until samples flow, with the
// calls the tests make; the system clock is made and dropped.
void WarmUp()
{
    CComPtr<IGraphBuilder> spGraph = NewPlatformGraph();
    CComPtr<IBaseFilter> spSource = NewSource();
    CComPtr<IBaseFilter> spGrabber = NewPlatformFilter(kClsidSampleGrabber);
    CComPtr<IBaseFilter> spNull = NewPlatformFilter(kClsidNullRenderer);
    if (!spGraph || !spSource || !spGrabber || !spNull)
        return;
    spGraph->AddFilter(spSource, L"Source");
    spGraph->AddFilter(spGrabber, L"Grabber");
    spGraph->AddFilter(spNull, L"Null");
    spGraph->ConnectDirect(PinOf(spSource, PINDIR_OUTPUT), PinOf(spGrabber, PINDIR_INPUT), nullptr);
    spGraph->ConnectDirect(PinOf(spGrabber, PINDIR_OUTPUT), PinOf(spNull, PINDIR_INPUT), nullptr);
    CComQIPtr<ISampleGrabber> spGrab(spGrabber);
    CComPtr<CGrabberCallback> spCallback;
    spCallback.Attach(new CGrabberCallback(2));
    spGrab->SetBufferSamples(TRUE);
    spGrab->SetCallback(spCallback, 0);
    spGraph->SetDefaultSyncSource();
    CComPtr<CTestClock> spClock;
    spClock.Attach(new CTestClock);
    CComQIPtr<IMediaFilter>(spGraph)->SetSyncSource(spClock);
    CComQIPtr<IMediaControl> spControl(spGraph);
    if (SUCCEEDED(spControl->Run()))
        WaitForSingleObject(spCallback->m_hGot, 10000);
    spControl->Stop();
    long cb = 0;
    spGrab->GetCurrentBuffer(&cb, nullptr);
    spGrab->SetCallback(nullptr, 0);
    // The first assertion report loads the message texts for good.
    spSource->GetState(0, nullptr);
    spGraph->RemoveFilter(spSource);
    spGraph->RemoveFilter(spGrabber);
    spGraph->RemoveFilter(spNull);
}
}

long PlatformGraphTest::s_nHandlesPerGraph = 0;

void PlatformGraphTest::SetUpTestSuite()
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CTaskMemorySpy::Instance();
    static bool s_bContended = false;
    if (!s_bContended)
    {
        s_bContended = true;
        ContendOnce([] {
            for (int i = 0; i < 2000; ++i)
                DebugTrace(atlTraceGeneral, 8, L"contention %d\n", i);
        });
        ContendOnce([] {
            for (int i = 0; i < 5000; ++i)
                CoTaskMemFree(CoTaskMemAlloc(16));
        });
    }
    WarmUp();
    // The smaller of two, in case the platform makes a handle of its own meanwhile.
    s_nHandlesPerGraph = LONG_MAX;
    for (int i = 0; i < 2; ++i)
    {
        const long nBefore = testhandles::ProcessHandleCount();
        NewPlatformGraph();
        s_nHandlesPerGraph = std::min(s_nHandlesPerGraph, testhandles::ProcessHandleCount() - nBefore);
    }
}

void PlatformGraphTest::TearDownTestSuite()
{
    CoUninitialize();
}

void PlatformGraphTest::SetUp()
{
    ASSERT_TRUE(m_sink.IsLoaded());
    ASSERT_TRUE(m_baseline.Take());

    m_spGraph = NewGraph();
    ASSERT_TRUE(m_spGraph);
    m_spSource = NewSource();
    ASSERT_TRUE(m_spSource);
    ASSERT_EQ(m_spGraph->AddFilter(m_spSource, L"Source"), S_OK);
    ASSERT_EQ(m_spSource->FindPin(L"Out", &m_spOut), S_OK);
    ASSERT_EQ(CComQIPtr<IMediaFilter>(m_spGraph)->SetSyncSource(nullptr), S_OK);
    m_sink.Clear();
}

void PlatformGraphTest::TearDown()
{
    if (m_spGraph)
        StopAll();
    m_spOut.Release();
    m_spSource.Release();
    m_spGraph.Release();
    m_baseline.ExpectNothingLeft(m_nGraphsMade, s_nHandlesPerGraph);
}

CComPtr<IGraphBuilder> PlatformGraphTest::NewGraph()
{
    CComPtr<IGraphBuilder> spGraph = NewPlatformGraph();
    EXPECT_TRUE(spGraph);
    ++m_nGraphsMade;
    return spGraph;
}

CComPtr<IBaseFilter> PlatformGraphTest::AddPlatformFilter(REFCLSID clsid, LPCWSTR pszName)
{
    CComPtr<IBaseFilter> spFilter = NewPlatformFilter(clsid);
    EXPECT_TRUE(spFilter);
    if (spFilter)
    {
        EXPECT_EQ(m_spGraph->AddFilter(spFilter, pszName), S_OK);
    }
    return spFilter;
}

CComPtr<IBaseFilter> PlatformGraphTest::ConnectTo(REFCLSID clsid, LPCWSTR pszName)
{
    CComPtr<IBaseFilter> spFilter = AddPlatformFilter(clsid, pszName);
    if (spFilter)
    {
        EXPECT_EQ(m_spGraph->ConnectDirect(m_spOut, PinOf(spFilter, PINDIR_INPUT), nullptr), S_OK);
    }
    m_sink.Clear();
    return spFilter;
}

CTestSource* PlatformGraphTest::Source() const
{
    return static_cast<CTestSource*>(static_cast<IBaseFilterImpl<CTestSource>*>(m_spSource.p));
}

FILTER_STATE PlatformGraphTest::SourceState() const
{
    return Source()->FilterState();
}

bool PlatformGraphTest::AllocatorCommitted() const
{
    const CComPtr<IMemAllocator>& spAllocator = Source()->m_apOut->m_spAllocOut;
    if (!spAllocator)
        return false;
    CComPtr<IMediaSample> spSample;
    return spAllocator->GetBuffer(&spSample, nullptr, nullptr, AM_GBF_NOWAIT) != VFW_E_NOT_COMMITTED;
}

void PlatformGraphTest::StopAll()
{
    CComQIPtr<IMediaControl> spControl(m_spGraph);
    if (spControl)
        spControl->Stop();
    if (m_spSource && SourceState() != State_Stopped)
        m_spSource->Stop();
}

std::vector<std::wstring> PlatformGraphTest::Blocks() const
{
    std::vector<std::wstring> blocks;
    for (const std::wstring& e : m_sink.Events())
        if (!e.empty() && e[0] == L'B')
            blocks.push_back(e.substr(e.find(L':') + 1));
    return blocks;
}

std::vector<std::wstring> PlatformGraphTest::SourceLines() const
{
    const std::wstring head = L"L\x1B";
    const std::wstring tag = L"TEST_FILTERS: ";
    std::vector<std::wstring> lines;
    for (const std::wstring& e : m_sink.Events())
        if (e.size() > 3 + tag.size() && e.compare(0, head.size(), head) == 0 && e.compare(3, tag.size(), tag) == 0 &&
            e.find(L"[TestSource] ") != std::wstring::npos)
            lines.push_back(e.substr(3 + tag.size()));
    return lines;
}

CComPtr<IPin> PeerOf(IPin* pPin)
{
    CComPtr<IPin> spPeer;
    pPin->ConnectedTo(&spPeer);
    return spPeer;
}

ULONG References(IUnknown* pUnk)
{
    pUnk->AddRef();
    return pUnk->Release();
}

bool SameObject(IUnknown* pA, IUnknown* pB)
{
    if (pA == nullptr || pB == nullptr)
        return pA == pB;
    CComPtr<IUnknown> spA, spB;
    pA->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&spA));
    pB->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&spB));
    return spA == spB;
}

CMType Pcm16(DWORD dwRate, WORD wChannels)
{
    CMType mt;
    CMTHelp::MTCreatePCMEx(mt, dwRate, wChannels, 16, 16, 0);
    return mt;
}

bool SameType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b)
{
    return InlineIsEqualGUID(a.majortype, b.majortype) && InlineIsEqualGUID(a.subtype, b.subtype) &&
           InlineIsEqualGUID(a.formattype, b.formattype) && a.cbFormat == b.cbFormat &&
           (a.cbFormat == 0 || memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
}

CGrabberCallback::CGrabberCallback(size_t nWanted)
    : m_nWanted(nWanted), m_hGot(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

CGrabberCallback::~CGrabberCallback()
{
    CloseHandle(m_hGot);
}

STDMETHODIMP CGrabberCallback::SampleCB(double, IMediaSample* pSample)
{
    Record r;
    r.hrTime = pSample->GetTime(&r.tStart, &r.tStop);
    r.cbActual = pSample->GetActualDataLength();
    r.cbSize = pSample->GetSize();
    pSample->GetPointer(&r.pBuffer);
    if (r.pBuffer != nullptr && r.cbActual > 0)
        r.bytes.assign(r.pBuffer, r.pBuffer + r.cbActual);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_records.size() < m_nWanted)
    {
        m_records.push_back(r);
        if (m_records.size() == m_nWanted)
            SetEvent(m_hGot);
    }
    m_last = std::move(r);
    return S_OK;
}

STDMETHODIMP CTestClock::GetTime(REFERENCE_TIME* pTime)
{
    if (pTime == nullptr)
        return E_POINTER;
    LARGE_INTEGER li, liFreq;
    QueryPerformanceCounter(&li);
    QueryPerformanceFrequency(&liFreq);
    *pTime = REFERENCE_TIME(double(li.QuadPart) * 10000000.0 / double(liFreq.QuadPart));
    return S_OK;
}

STDMETHODIMP CTestClock::AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT hEvent, DWORD_PTR* pdwCookie)
{
    if (pdwCookie == nullptr)
        return E_POINTER;
    *pdwCookie = DWORD_PTR(++m_nAdvises);
    SetEvent(reinterpret_cast<HANDLE>(hEvent));
    return S_OK;
}
