// What the tests of the output pin against the fake downstream filter share: a test source
// and a fake downstream filter, the watchdog, the trace lines read back from the test sink,
// and the checks that nothing of ours outlives a test (COM objects, task memory, handles).
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "common/HandleCount.h"
#include "common/TaskMemorySpy.h"
#include "common/TestSinkClient.h"
#include "common/Watchdog.h"
#include "filters/FakeDownstream.h"
#include "filters/TestSource.h"
#include "support/ComPtr.h"

struct CSeenTraceLine
{
    unsigned nLevel;
    std::wstring text;  // without the module tag
};

// This program's trace lines that reached the sink since the reader was made.
inline std::vector<CSeenTraceLine> ReadTraceLines(const testsink::CSinkReader& sink)
{
    std::vector<CSeenTraceLine> lines;
    for (const std::wstring& e : sink.Events())
    {
        // "L", escape, level + 1, "<MODULE>: ", text
        size_t nTagEnd = e.find(L": ", 3);
        if (e.size() < 3 || e[0] != L'L' || e[1] != 0x1B || nTagEnd == std::wstring::npos)
            continue;
        lines.push_back({unsigned(e[2]) - 1, e.substr(nTagEnd + 2)});
    }
    return lines;
}

// The first line that contains text, or null.
inline const CSeenTraceLine* FindLine(const std::vector<CSeenTraceLine>& lines, const std::wstring& text)
{
    for (const CSeenTraceLine& line : lines)
        if (line.text.find(text) != std::wstring::npos)
            return &line;
    return nullptr;
}

// The rate of a PCM record, 0 for anything else.
inline DWORD RateOf(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr || pmt->formattype != FORMAT_WaveFormatEx || pmt->pbFormat == nullptr ||
        pmt->cbFormat < sizeof(WAVEFORMATEX))
        return 0;
    return reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat)->nSamplesPerSec;
}

// A 16-bit PCM type as our own records hold it.
inline CMType PcmType(DWORD nRate, WORD nChannels = 2)
{
    CMType mt;
    CMTHelp::MTCreatePCMEx(mt, nRate, nChannels, 16, 16, 0);
    return mt;
}

class CPinTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        PrimePlatform();
        CTaskMemorySpy::Instance().Begin();
        m_nLocks = CComModuleCount::GetLockCount();
        m_nHandles = testhandles::ProcessHandleCount();
        ASSERT_GT(m_nHandles, 0) << "the handle count cannot be read";
        ASSERT_EQ(ComCreateReferencedInterface<CTestSource>(nullptr, IID_IBaseFilter,
                                                            reinterpret_cast<void**>(&m_spSource)),
                  S_OK);
        ASSERT_EQ(m_spSource->FindPin(L"Out", &m_spOut), S_OK);
        ASSERT_EQ(CFakeDownstream::Create(&m_pFake), S_OK);
        if (m_bGraph)
        {
            ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                       reinterpret_cast<void**>(&m_spGraph)),
                      S_OK);
            m_nHandles += s_nHandlesPerGraph;
        }
    }

    void TearDown() override
    {
        Shutdown();
        m_spGraph.Release();
        m_spOut.Release();
        m_spSource.Release();
        if (m_pFake != nullptr)
            static_cast<IBaseFilter*>(m_pFake)->Release();
        m_pFake = nullptr;
        EXPECT_EQ(CComModuleCount::GetLockCount(), m_nLocks) << "a COM object of ours is still alive";
        EXPECT_EQ(CTaskMemorySpy::Instance().LiveBlocks(), 0u) << "task memory leaked";
        EXPECT_EQ(CTaskMemorySpy::Instance().DoubleFrees(), 0u) << "task memory freed twice";
        EXPECT_EQ(testhandles::HandlesLeftBeyond(m_nHandles), 0) << "handles leaked";
        CoUninitialize();
    }

    // What a host does before it lets go: lets the downstream pin go on, stops, disconnects.
    void Shutdown()
    {
        if (m_pFake != nullptr)
            Fake()->ReleaseReceive();
        if (m_spSource)
            m_spSource->Stop();
        if (m_spOut)
            m_spOut->Disconnect();
        if (m_pFake != nullptr)
            Fake()->DropKeptSamples();
    }


    CTestSource* Source() { return static_cast<CTestSource*>(static_cast<IBaseFilterImpl<CTestSource>*>(m_spSource.p)); }
    CTestSourcePin* Pin() { return Source()->m_apOut; }
    CFakeInputPin* Fake() { return m_pFake->m_pPin; }
    IPin* FakePin() { return static_cast<IPin*>(Fake()); }
    HRESULT ConnectFake(const AM_MEDIA_TYPE* pmt = nullptr) { return m_spOut->Connect(FakePin(), pmt); }
    FILTER_STATE SourceState()
    {
        FILTER_STATE eState = State_Running;
        m_spSource->GetState(0, &eState);
        return eState;
    }

    testwatch::CWatchdog m_watchdog;
    LONG m_nLocks = 0;
    long m_nHandles = 0;
    CComPtr<IBaseFilter> m_spSource;
    CComPtr<IPin> m_spOut;
    CComObject<CFakeDownstream>* m_pFake = nullptr;  // one reference
    bool m_bGraph = false;                           // set by fixtures that need a graph
    CComPtr<IGraphBuilder> m_spGraph;

private:
    static void GraphCycle();
    static void PrimePlatform();
    static inline long s_nHandlesPerGraph = 0;  // what the graph manager keeps of every graph
};

// A thread that makes one call and keeps its result.
class CCallThread
{
public:
    template <class F>
    explicit CCallThread(F fn) : m_fn(fn)
    {
        m_hThread = CreateThread(nullptr, 0, &CCallThread::Proc, this, 0, nullptr);
    }
    ~CCallThread()
    {
        if (m_hThread != nullptr)
        {
            WaitForSingleObject(m_hThread, INFINITE);
            CloseHandle(m_hThread);
        }
    }
    CCallThread(const CCallThread&) = delete;
    CCallThread& operator=(const CCallThread&) = delete;

    bool Started() const { return m_hThread != nullptr; }
    // Waits for the call to return; false after dwMs.
    bool Join(DWORD dwMs = 30000) { return WaitForSingleObject(m_hThread, dwMs) == WAIT_OBJECT_0; }
    HRESULT Result() const { return m_hr; }

private:
    static DWORD WINAPI Proc(void* pv)
    {
        auto* pThis = static_cast<CCallThread*>(pv);
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        pThis->m_hr = pThis->m_fn();
        CoUninitialize();
        return 0;
    }

    std::function<HRESULT()> m_fn;
    HANDLE m_hThread = nullptr;
    volatile HRESULT m_hr = E_PENDING;
};

// One pass through what the tests do, in a graph of the platform's graph manager: a source
// streaming into a fake that blocks in Receive and calls back, a format change while
// running, pause, run, stop and disconnection.
inline void CPinTest::GraphCycle()
{
    CComPtr<IBaseFilter> spSource;
    CComObject<CFakeDownstream>* pFake = nullptr;
    CComPtr<IGraphBuilder> spGraph;
    ComCreateReferencedInterface<CTestSource>(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&spSource));
    CFakeDownstream::Create(&pFake);
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     reinterpret_cast<void**>(&spGraph));
    if (spGraph && spSource && pFake != nullptr)
    {
        CFakeInputPin* pPin = pFake->m_pPin;
        pPin->m_bReceiveCallsBack = true;
        pPin->m_bDisconnectCallsBack = true;
        pPin->BlockReceive();
        CComPtr<IPin> spOut;
        spGraph->AddFilter(spSource, L"Source");
        spGraph->AddFilter(pFake, L"Fake");
        spSource->FindPin(L"Out", &spOut);
        CComQIPtr<IMediaFilter> spMediaFilter(spGraph);
        CComQIPtr<IMediaControl> spControl(spGraph);
        if (spOut && spMediaFilter && spControl && spGraph->ConnectDirect(spOut, pPin, nullptr) == S_OK &&
            spMediaFilter->SetSyncSource(nullptr) == S_OK && SUCCEEDED(spControl->Run()) && pPin->WaitInReceive())
        {
            CMType mt = PcmType(44100);
            static_cast<CTestSource*>(static_cast<IBaseFilterImpl<CTestSource>*>(spSource.p))->ChangeFormat(&mt);
            spControl->Pause();
            spControl->Run();
        }
        if (spControl)
            spControl->Stop();
        if (spOut)
            spOut->Disconnect();
    }
    spGraph.Release();
    if (pFake != nullptr)
        static_cast<IBaseFilter*>(pFake)->Release();
}

// What the platform loads or keeps for good at its first use is not ours: the first test
// joins the apartment for good, makes a thread and a graph cycle before it counts, and
// measures what a second cycle keeps.
inline void CPinTest::PrimePlatform()
{
    static bool s_bPrimed = false;
    if (s_bPrimed)
        return;
    s_bPrimed = true;
    // The apartment lives for the whole program, so that no test sees it made or torn down.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // The task-memory spy guards itself with a std::mutex, which takes a lasting handle when
    // two threads first meet in it: two threads allocate at once here.
    auto allocate = [] {
        for (int i = 0; i < 20000; ++i)
            CoTaskMemFree(CoTaskMemAlloc(16));
        return S_OK;
    };
    CCallThread first(allocate), second(allocate);
    first.Join();
    second.Join();
    GraphCycle();
    long nBefore = testhandles::ProcessHandleCount();
    GraphCycle();
    s_nHandlesPerGraph = testhandles::ProcessHandleCount() - nBefore;
}
