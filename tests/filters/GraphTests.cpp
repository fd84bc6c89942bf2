// The test source inside Wine's filter graph manager, with the platform's own downstream
// filters: connection, state changes driven by the graph, clocks, reconnection with its
// event, the graph description once per start, and real samples in the Sample Grabber.
#include "filters/PlatformGraph.h"

#include <functional>
#include <set>

#include "types/AssertionLog.h"

namespace
{
using GraphTest = PlatformGraphTest;

// 40 ms of 48 kHz stereo 16-bit PCM: the test source's buffer.
const LONG kBufferBytes = 7680;
const LONG kFrameBytes = 4;

CComPtr<IMediaEvent> EventsOf(IGraphBuilder* pGraph)
{
    CComPtr<IMediaEvent> spEvents;
    pGraph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&spEvents));
    return spEvents;
}

// The next event waiting in the graph's queue, or E_ABORT when there is none.
HRESULT NextEvent(IMediaEvent* pEvents, long* plCode, LONG_PTR* pl1, LONG_PTR* pl2)
{
    HRESULT hr = pEvents->GetEvent(plCode, pl1, pl2, 0);
    if (hr == S_OK)
        pEvents->FreeEventParams(*plCode, *pl1, *pl2);
    return hr;
}

size_t FilterCount(IGraphBuilder* pGraph)
{
    CComPtr<IEnumFilters> spEnum;
    if (FAILED(pGraph->EnumFilters(&spEnum)))
        return 0;
    size_t n = 0;
    for (CComPtr<IBaseFilter> spFilter; spEnum->Next(1, &spFilter, nullptr) == S_OK; spFilter.Release())
        ++n;
    return n;
}

// ------------------------------------------------------------------ connection

enum class EConnect
{
    Direct,        // IFilterGraph::ConnectDirect without a type
    DirectTyped,   // IFilterGraph::ConnectDirect with 44.1 kHz mono
    Intelligent,   // IGraphBuilder::Connect
};

struct ConnectCase
{
    const char* pszName;
    const CLSID* pClsid;
    EConnect eHow;
    DWORD dwRate;  // of the connection that results
    WORD wChannels;
};

void PrintTo(const ConnectCase& c, std::ostream* os) { *os << c.pszName; }

class GraphConnect : public PlatformGraphTest, public testing::WithParamInterface<ConnectCase>
{
};

// The connection names both pins, carries the agreed type and puts no filter in between.
// Wine's input pins have no allocator to offer (GetAllocator answers VFW_E_NO_ALLOCATOR
// until they are told of one), so the pin brings its own and the peer is told of it. The
// graph's disconnection of our pin undoes all of it.
TEST_P(GraphConnect, PinAgreesTypeAndAllocatorWithThePlatformFilter)
{
    const ConnectCase& c = GetParam();
    CComPtr<IBaseFilter> spPeer = AddPlatformFilter(*c.pClsid, L"Peer");
    CComPtr<IPin> spIn = PinOf(spPeer, PINDIR_INPUT);
    ASSERT_TRUE(spIn);
    CMType mtGiven = Pcm16(44100, 1);
    HRESULT hr = c.eHow == EConnect::Intelligent ? m_spGraph->Connect(m_spOut, spIn)
                 : m_spGraph->ConnectDirect(m_spOut, spIn, c.eHow == EConnect::DirectTyped ? &mtGiven : nullptr);
    ASSERT_EQ(hr, S_OK);

    EXPECT_TRUE(SameObject(PeerOf(m_spOut), spIn));
    EXPECT_TRUE(SameObject(PeerOf(spIn), m_spOut));
    CMType mtExpected = Pcm16(c.dwRate, c.wChannels);
    for (IPin* pPin : {m_spOut.p, spIn.p})
    {
        CMType mt;
        ASSERT_EQ(pPin->ConnectionMediaType(&mt), S_OK);
        EXPECT_TRUE(SameType(mt, mtExpected)) << "connection type seen by the pin of " << (pPin == m_spOut ? "ours" : "theirs");
    }
    EXPECT_EQ(FilterCount(m_spGraph), 2u);

    auto* pPin = Source()->m_apOut;
    EXPECT_EQ(pPin->m_eAllocSrc, eAS_Internal);
    CComQIPtr<IMemInputPin> spMemInput(spIn);
    CComPtr<IMemAllocator> spTheirs;
    ASSERT_EQ(spMemInput->GetAllocator(&spTheirs), S_OK);
    EXPECT_TRUE(SameObject(spTheirs, pPin->m_spAllocOut)) << "the peer was not told of the allocator we use";
    ALLOCATOR_PROPERTIES props = {};
    ASSERT_EQ(spTheirs->GetProperties(&props), S_OK);
    const LONG cbExpected = LONG(c.dwRate) * c.wChannels * 2 * 40 / 1000;
    EXPECT_GE(props.cBuffers, 4);
    EXPECT_GE(props.cbBuffer, cbExpected);
    EXPECT_EQ(pPin->m_Props.cBuffers, props.cBuffers);
    EXPECT_EQ(pPin->m_Props.cbBuffer, props.cbBuffer);

    EXPECT_EQ(m_spGraph->Disconnect(m_spOut), S_OK);
    EXPECT_FALSE(PeerOf(m_spOut));
    EXPECT_FALSE(PeerOf(spIn)) << "the peer was left connected";
    EXPECT_FALSE(pPin->m_spAllocOut);
    EXPECT_FALSE(pPin->m_spMemInput);
    EXPECT_EQ(pPin->m_eAllocSrc, eAS_None);
}

INSTANTIATE_TEST_SUITE_P(
    Platform, GraphConnect,
    testing::Values(ConnectCase{"NullDirect", &kClsidNullRenderer, EConnect::Direct, 48000, 2},
                    ConnectCase{"NullDirectTyped", &kClsidNullRenderer, EConnect::DirectTyped, 44100, 1},
                    ConnectCase{"NullIntelligent", &kClsidNullRenderer, EConnect::Intelligent, 48000, 2},
                    ConnectCase{"GrabberDirect", &kClsidSampleGrabber, EConnect::Direct, 48000, 2},
                    ConnectCase{"GrabberDirectTyped", &kClsidSampleGrabber, EConnect::DirectTyped, 44100, 1},
                    ConnectCase{"GrabberIntelligent", &kClsidSampleGrabber, EConnect::Intelligent, 48000, 2}),
    [](const testing::TestParamInfo<ConnectCase>& info) { return std::string(info.param.pszName); });

// ------------------------------------------------------------------ graph-driven states

enum class ECommand
{
    Pause,
    Run,
    Stop
};

struct ControlCase
{
    const char* pszName;
    std::vector<std::pair<ECommand, FILTER_STATE>> steps;  // command, our state after it
    size_t nDescriptions;                                  // graph descriptions in the log
};

void PrintTo(const ControlCase& c, std::ostream* os) { *os << c.pszName; }

class GraphControl : public PlatformGraphTest, public testing::WithParamInterface<ControlCase>
{
};

// IMediaControl reaches our state machine: after each command our filter is in the state
// the graph asked for, its allocator committed exactly while it is not stopped, and the
// graph is written to the log once each time the filter leaves Stopped.
TEST_P(GraphControl, CommandsDriveTheSourceAndDescribeTheGraphOncePerStart)
{
    CComPtr<IBaseFilter> spNull = ConnectTo(kClsidNullRenderer, L"Null");
    CComQIPtr<IMediaControl> spControl(m_spGraph);
    for (const auto& [eCommand, eState] : GetParam().steps)
    {
        HRESULT hr = eCommand == ECommand::Pause ? spControl->Pause()
                     : eCommand == ECommand::Run ? spControl->Run()
                                                 : spControl->Stop();
        ASSERT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
        FILTER_STATE eOurs;
        EXPECT_TRUE(SUCCEEDED(m_spSource->GetState(0, &eOurs)));
        EXPECT_EQ(eOurs, eState);
        EXPECT_EQ(AllocatorCommitted(), eState != State_Stopped);
    }
    std::vector<std::wstring> blocks = Blocks();
    EXPECT_EQ(blocks.size(), GetParam().nDescriptions);
    for (const std::wstring& block : blocks)
    {
        EXPECT_NE(block.find(L" (Source)\r\n\tOUTPUT: [Out] -> [Null] "), std::wstring::npos) << block;
        EXPECT_NE(block.find(L" (Null)\r\n\tINPUT: [In] -> [Source] "), std::wstring::npos) << block;
    }
}

using C = ECommand;
INSTANTIATE_TEST_SUITE_P(
    Platform, GraphControl,
    testing::Values(
        ControlCase{"Pause", {{C::Pause, State_Paused}}, 1},
        ControlCase{"Run", {{C::Run, State_Running}}, 1},
        ControlCase{"StopOnly", {{C::Stop, State_Stopped}}, 0},
        ControlCase{"PauseRun", {{C::Pause, State_Paused}, {C::Run, State_Running}}, 1},
        ControlCase{"RunPauseRun", {{C::Run, State_Running}, {C::Pause, State_Paused}, {C::Run, State_Running}}, 1},
        ControlCase{"RunStop", {{C::Run, State_Running}, {C::Stop, State_Stopped}}, 1},
        ControlCase{"PauseStopPause", {{C::Pause, State_Paused}, {C::Stop, State_Stopped}, {C::Pause, State_Paused}}, 2},
        ControlCase{"RunStopRunStop",
                    {{C::Run, State_Running}, {C::Stop, State_Stopped}, {C::Run, State_Running}, {C::Stop, State_Stopped}},
                    2}),
    [](const testing::TestParamInfo<ControlCase>& info) { return std::string(info.param.pszName); });

// ------------------------------------------------------------------ clocks

// {8E0F3C53-6A1B-4D7E-9C25-3B4A5D6E7F82}
const CLSID kClsidTestClock = {0x8E0F3C53, 0x6A1B, 0x4D7E, {0x9C, 0x25, 0x3B, 0x4A, 0x5D, 0x6E, 0x7F, 0x82}};

// A clock that names its class through IPersist, or fails to.
class CPersistClock : public CTestClock, public IPersist
{
public:
    explicit CPersistClock(HRESULT hr) : m_hr(hr) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return CTestClock::QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return CTestClock::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return CTestClock::Release(); }
    STDMETHODIMP GetClassID(CLSID* pClassID) override
    {
        if (SUCCEEDED(m_hr))
            *pClassID = kClsidTestClock;
        return m_hr;
    }

protected:
    bool QueryMore(REFIID riid, void** ppv) override
    {
        if (riid != IID_IPersist)
            return false;
        *ppv = static_cast<IPersist*>(this);
        return true;
    }

private:
    HRESULT m_hr;
};

struct ClockCase
{
    const char* pszName;
    std::function<CComPtr<IReferenceClock>(IGraphBuilder*)> makeClock;  // null: none
    std::wstring lineAfterPointer;  // of the SetSyncSource line, after "( 0x%X )"
    std::wstring head = L"";        // before the filter's name
};

void PrintTo(const ClockCase& c, std::ostream* os) { *os << c.pszName; }

class GraphClock : public PlatformGraphTest, public testing::WithParamInterface<ClockCase>
{
};

// The graph hands its clock, or none, to our filter, which names the clock in one line and
// holds one reference on it until it is given another.
TEST_P(GraphClock, GraphClockReachesTheSourceAndIsReleasedWithIt)
{
    CComPtr<IReferenceClock> spClock = GetParam().makeClock(m_spGraph);
    m_sink.Clear();
    CComQIPtr<IMediaFilter> spGraphFilter(m_spGraph);
    ASSERT_EQ(spGraphFilter->SetSyncSource(spClock), S_OK);

    CComPtr<IReferenceClock> spOurs;
    ASSERT_EQ(m_spSource->GetSyncSource(&spOurs), S_OK);
    EXPECT_TRUE(SameObject(spOurs, spClock));
    spOurs.Release();
    std::wstring expected = L"[TestSource] IBaseFilterImpl::SetSyncSource( NULL )\n";
    if (spClock)
    {
        wchar_t sz[32];
        swprintf(sz, 32, L"0x%X", unsigned(reinterpret_cast<UINT_PTR>(spClock.p)));
        expected = GetParam().head + L"[TestSource] IBaseFilterImpl::SetSyncSource( " + std::wstring(sz) + L" )" +
                   GetParam().lineAfterPointer;
    }
    EXPECT_EQ(SourceLines(), std::vector<std::wstring>{expected});
    if (spClock)
    {
        const ULONG nHeld = References(spClock);
        ASSERT_EQ(m_spSource->SetSyncSource(nullptr), S_OK);
        EXPECT_EQ(References(spClock), nHeld - 1) << "the filter held no reference of its own";
    }

    ASSERT_EQ(spGraphFilter->SetSyncSource(nullptr), S_OK);
    ASSERT_EQ(m_spSource->GetSyncSource(&spOurs), S_OK);
    EXPECT_FALSE(spOurs);
    if (spClock)
    {
        EXPECT_EQ(References(spClock), 1u) << "a reference on the clock is left";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Platform, GraphClock,
    testing::Values(
        ClockCase{"None", [](IGraphBuilder*) { return CComPtr<IReferenceClock>(); }, L""},
        // Wine's system clock has no IPersist.
        ClockCase{"GraphDefault",
                  [](IGraphBuilder* pGraph) {
                      CComPtr<IReferenceClock> spClock;
                      EXPECT_EQ(pGraph->SetDefaultSyncSource(), S_OK);
                      CComQIPtr<IMediaFilter>(pGraph)->GetSyncSource(&spClock);
                      EXPECT_TRUE(spClock);
                      return spClock;
                  },
                  L": clock hasn't CLSID\n"},
        ClockCase{"NoPersist",
                  [](IGraphBuilder*) {
                      CComPtr<IReferenceClock> spClock;
                      spClock.Attach(new CTestClock);
                      return spClock;
                  },
                  L": clock hasn't CLSID\n"},
        ClockCase{"NamedClass",
                  [](IGraphBuilder*) {
                      CComPtr<IReferenceClock> spClock;
                      spClock.Attach(new CPersistClock(S_OK));
                      return spClock;
                  },
                  L": CLSID = {8E0F3C53-6A1B-4D7E-9C25-3B4A5D6E7F82}\n"},
        ClockCase{"ClassQueryFails",
                  [](IGraphBuilder*) {
                      CComPtr<IReferenceClock> spClock;
                      spClock.Attach(new CPersistClock(E_FAIL));
                      return spClock;
                  },
                  L": spPersist->GetClassID()=0x80004005\n", L"###Err### "}),
    [](const testing::TestParamInfo<ClockCase>& info) { return std::string(info.param.pszName); });

// ------------------------------------------------------------------ reconnection

// A format change while stopped: the graph reconnects our pin with its new type, and the
// graph's event queue receives EC_GRAPH_CHANGED. Out of the graph, neither reaches it.
TEST_F(GraphTest, ReconnectPinGoesThroughTheGraphAndItsEventIsReadBack)
{
    CComPtr<IBaseFilter> spNull = ConnectTo(kClsidNullRenderer, L"Null");
    CComPtr<IPin> spIn = PinOf(spNull, PINDIR_INPUT);
    CComPtr<IMediaEvent> spEvents = EventsOf(m_spGraph);
    ASSERT_TRUE(spEvents);
    long lCode = 0;
    LONG_PTR l1 = -1, l2 = -1;
    // The graph's own events so far (the fixture took the clock away).
    while (NextEvent(spEvents, &lCode, &l1, &l2) == S_OK)
        ;

    Source()->m_bAcceptAnyAudio = false;
    const CMType mtNew = Pcm16(44100, 1);
    ASSERT_EQ(Source()->m_apOut->m_mt.Assign(&mtNew), S_OK);
    const LONG nHooks = Source()->m_nDisconnectHooks;
    ASSERT_EQ(Source()->ReconnectPin(m_spOut, nullptr), S_OK);
    EXPECT_EQ(Source()->m_nDisconnectHooks - nHooks, 1) << "the old connection was not broken";
    EXPECT_TRUE(SameObject(PeerOf(m_spOut), spIn));
    CMType mt;
    ASSERT_EQ(spIn->ConnectionMediaType(&mt), S_OK);
    EXPECT_TRUE(SameType(mt, mtNew));
    EXPECT_GE(Source()->m_apOut->m_Props.cbBuffer, 44100 * 2 * 40 / 1000);
    ASSERT_EQ(NextEvent(spEvents, &lCode, &l1, &l2), E_ABORT) << "the graph queued 0x" << std::hex << lCode;

    Source()->NotifyGraphChanged();
    ASSERT_EQ(NextEvent(spEvents, &lCode, &l1, &l2), S_OK);
    EXPECT_EQ(lCode, EC_GRAPH_CHANGED);
    EXPECT_EQ(l1, 0);
    EXPECT_EQ(l2, 0);
    EXPECT_EQ(NextEvent(spEvents, &lCode, &l1, &l2), E_ABORT) << "more than one event: 0x" << std::hex << lCode;

    ASSERT_EQ(m_spGraph->RemoveFilter(m_spSource), S_OK);
    EXPECT_EQ(Source()->ReconnectPin(m_spOut, nullptr), VFW_E_NOT_IN_GRAPH);
    EXPECT_EQ(testsink::AssertedConditions(m_sink, L"FilterBase.h"),
              std::vector<std::string>{"m_pFilterGraphJoin != NULL"});
    Source()->NotifyGraphChanged();
    EXPECT_EQ(NextEvent(spEvents, &lCode, &l1, &l2), E_ABORT) << "a filter out of the graph reached it";
}

// ------------------------------------------------------------------ streaming

struct StreamCase
{
    const char* pszName;
    bool bClock;  // false: no clock, as fast as the chain goes
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.pszName; }

class GraphStream : public PlatformGraphTest, public testing::WithParamInterface<StreamCase>
{
};

// Source -> Sample Grabber -> Null Renderer, run by the graph with a clock or none: the
// grabber sees our buffers from the agreed allocator, in order, with our bytes and gapless
// time stamps from 0.
TEST_P(GraphStream, SampleGrabberSeesOurBuffersBytesAndTimes)
{
    const size_t kSamples = 6;
    CComPtr<IBaseFilter> spGrabberFilter = ConnectTo(kClsidSampleGrabber, L"Grabber");
    CComPtr<IBaseFilter> spNull = AddPlatformFilter(kClsidNullRenderer, L"Null");
    ASSERT_EQ(m_spGraph->ConnectDirect(PinOf(spGrabberFilter, PINDIR_OUTPUT), PinOf(spNull, PINDIR_INPUT), nullptr),
              S_OK);
    CComQIPtr<ISampleGrabber> spGrabber(spGrabberFilter);
    ASSERT_TRUE(spGrabber);
    CComPtr<CGrabberCallback> spCallback;
    spCallback.Attach(new CGrabberCallback(kSamples));
    ASSERT_EQ(spGrabber->SetBufferSamples(TRUE), S_OK);
    ASSERT_EQ(spGrabber->SetCallback(spCallback, 0), S_OK);
    CComPtr<CTestClock> spClock;
    if (GetParam().bClock)
    {
        spClock.Attach(new CTestClock);
        ASSERT_EQ(CComQIPtr<IMediaFilter>(m_spGraph)->SetSyncSource(spClock), S_OK);
    }

    CComQIPtr<IMediaControl> spControl(m_spGraph);
    ASSERT_TRUE(SUCCEEDED(spControl->Run()));
    ASSERT_EQ(WaitForSingleObject(spCallback->m_hGot, INFINITE), WAIT_OBJECT_0);
    CComPtr<IReferenceClock> spOurClock;
    EXPECT_EQ(m_spSource->GetSyncSource(&spOurClock), S_OK);
    EXPECT_TRUE(SameObject(spOurClock, spClock));
    ASSERT_EQ(spControl->Stop(), S_OK);
    EXPECT_EQ(SourceState(), State_Stopped);
    if (spClock)
    {
        EXPECT_GT(spClock->m_nAdvises, 0) << "the renderer did not run on the clock";
    }

    CMType mtConnected;
    ASSERT_EQ(spGrabber->GetConnectedMediaType(&mtConnected), S_OK);
    EXPECT_TRUE(SameType(mtConnected, Pcm16()));
    const ALLOCATOR_PROPERTIES& props = Source()->m_apOut->m_Props;
    std::set<BYTE*> buffers;
    REFERENCE_TIME tNext = 0;
    for (size_t k = 0; k < spCallback->m_records.size(); ++k)
    {
        const CGrabberCallback::Record& r = spCallback->m_records[k];
        // No SCOPED_TRACE: at its first use on a thread the test framework keeps handles for good.
        EXPECT_EQ(r.cbSize, props.cbBuffer) << "sample " << k;
        EXPECT_EQ(r.cbActual, kBufferBytes) << "sample " << k;
        buffers.insert(r.pBuffer);
        ASSERT_EQ(r.hrTime, S_OK) << "sample " << k;
        EXPECT_EQ(r.tStart, tNext) << "sample " << k;
        EXPECT_EQ(r.tStop - r.tStart, REFERENCE_TIME(r.cbActual / kFrameBytes) * 10000000 / 48000) << "sample " << k;
        tNext = r.tStop;
        size_t nWrong = 0;
        for (size_t i = 0; i < r.bytes.size(); ++i)
            nWrong += r.bytes[i] != BYTE(k + i);
        EXPECT_EQ(nWrong, 0u) << "sample " << k << ": bytes not as the source wrote them";
    }
    EXPECT_LE(LONG(buffers.size()), props.cBuffers) << "buffers from outside the agreed allocator";

    // With buffering on, the grabber keeps a copy of the last sample it passed.
    long cbCurrent = 0;
    ASSERT_EQ(spGrabber->GetCurrentBuffer(&cbCurrent, nullptr), S_OK);
    std::vector<BYTE> current(size_t(cbCurrent > 0 ? cbCurrent : 0));
    ASSERT_EQ(spGrabber->GetCurrentBuffer(&cbCurrent, reinterpret_cast<long*>(current.data())), S_OK);
    EXPECT_EQ(current, spCallback->m_last.bytes);
    spGrabber->SetCallback(nullptr, 0);
}

INSTANTIATE_TEST_SUITE_P(Platform, GraphStream,
                         testing::Values(StreamCase{"Clock", true}, StreamCase{"NoClock", false}),
                         [](const testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.pszName); });

// Streams into the Null Renderer, then stops.
TEST_F(GraphTest, StreamsIntoTheNullRenderer)
{
    CComPtr<IBaseFilter> spRenderer = AddPlatformFilter(kClsidNullRenderer, L"Null");
    ASSERT_EQ(m_spGraph->Connect(m_spOut, PinOf(spRenderer, PINDIR_INPUT)), S_OK);
    CComQIPtr<IMediaFilter> spMediaFilter(m_spGraph);
    ASSERT_EQ(spMediaFilter->SetSyncSource(nullptr), S_OK);
    CComQIPtr<IMediaControl> spControl(m_spGraph);
    ASSERT_TRUE(SUCCEEDED(spControl->Run()));
    // Bounded by the watchdog.
    while (Source()->m_nSamplesSent < 20)
        Sleep(1);
    EXPECT_EQ(Source()->m_nSendFailures, 0);
    EXPECT_EQ(spControl->Stop(), S_OK);
    FILTER_STATE eState;
    EXPECT_EQ(m_spSource->GetState(0, &eState), S_OK);
    EXPECT_EQ(eState, State_Stopped);
    EXPECT_EQ(m_spGraph->RemoveFilter(spRenderer), S_OK);
}
}
