// The test source's state machine, called directly, with its pin connected to Wine's Null
// Renderer or not; disconnection in every state; FindPin; graph membership.
#include "filters/PlatformGraph.h"

#include "types/AssertionLog.h"

namespace
{
using FilterTest = PlatformGraphTest;

const REFERENCE_TIME kFirstRun = 10000000;
const REFERENCE_TIME kRunAt = 12345678;  // "1.234'5678"

enum class ECommand
{
    Stop,
    Pause,
    Run
};

HRESULT Command(IBaseFilter* pFilter, ECommand eCommand, REFERENCE_TIME tStart)
{
    switch (eCommand)
    {
    case ECommand::Stop:
        return pFilter->Stop();
    case ECommand::Pause:
        return pFilter->Pause();
    default:
        return pFilter->Run(tStart);
    }
}

// Brings our filter from Stopped to eState by its own commands.
void Reach(IBaseFilter* pFilter, FILTER_STATE eState)
{
    if (eState == State_Paused)
    {
        ASSERT_EQ(pFilter->Pause(), S_OK);
    }
    else if (eState == State_Running)
    {
        ASSERT_EQ(pFilter->Run(kFirstRun), S_OK);
    }
}

// ------------------------------------------------------------------ state table

#define LINE(text) L"[TestSource] IBaseFilterImpl::" text L"\n"

struct StateCase
{
    const char* pszName;
    bool bConnected;
    FILTER_STATE eFrom;
    ECommand eCommand;  // Run with kRunAt
    HRESULT hr;
    FILTER_STATE eAfter;
    size_t nDescriptions;  // of the graph, written by this command
    REFERENCE_TIME tStart;
    std::vector<std::wstring> lines;  // the filter's own, in order
};

void PrintTo(const StateCase& c, std::ostream* os) { *os << c.pszName; }

class StateTable : public PlatformGraphTest, public testing::WithParamInterface<StateCase>
{
};

// Each transition: its result, the state after it, the allocator committed exactly while
// not stopped, the graph described once when leaving Stopped, the start time kept by Run
// only, and Run and Stop going through the filter's own Pause where the table says so.
TEST_P(StateTable, TransitionLeavesTheStateTheAllocatorAndTheLogAsTheTableSays)
{
    const StateCase& c = GetParam();
    CComPtr<IBaseFilter> spNull;
    if (c.bConnected)
        spNull = ConnectTo(kClsidNullRenderer, L"Null");
    Reach(m_spSource, c.eFrom);
    m_sink.Clear();

    EXPECT_EQ(Command(m_spSource, c.eCommand, kRunAt), c.hr);
    FILTER_STATE eState = FILTER_STATE(-1);
    EXPECT_TRUE(SUCCEEDED(m_spSource->GetState(INFINITE, &eState)));
    EXPECT_EQ(eState, c.eAfter);
    EXPECT_EQ(AllocatorCommitted(), c.eAfter != State_Stopped);
    EXPECT_EQ(Blocks().size(), c.nDescriptions);
    EXPECT_EQ(Source()->m_tStart, c.tStart);
    EXPECT_EQ(SourceLines(), c.lines);
}

using E = ECommand;
INSTANTIATE_TEST_SUITE_P(
    Filter, StateTable,
    testing::Values(
        StateCase{"StoppedStop", true, State_Stopped, E::Stop, S_OK, State_Stopped, 0, 0, {LINE("Stop")}},
        StateCase{"StoppedPause", true, State_Stopped, E::Pause, S_OK, State_Paused, 1, 0, {LINE("Pause")}},
        StateCase{"StoppedRun", true, State_Stopped, E::Run, S_OK, State_Running, 1, kRunAt,
                  {LINE("Run( 1.234'5678 )"), LINE("Run(): current state is State_Stopped, call Pause() command"),
                   LINE("Pause"), LINE("Run(): run after pause")}},
        StateCase{"PausedStop", true, State_Paused, E::Stop, S_OK, State_Stopped, 0, 0, {LINE("Stop")}},
        StateCase{"PausedPause", true, State_Paused, E::Pause, S_OK, State_Paused, 0, 0, {LINE("Pause")}},
        StateCase{"PausedRun", true, State_Paused, E::Run, S_OK, State_Running, 0, kRunAt, {LINE("Run( 1.234'5678 )")}},
        StateCase{"RunningStop", true, State_Running, E::Stop, S_OK, State_Stopped, 0, kFirstRun,
                  {LINE("Stop"), LINE("Stop(): current state is State_Running, call Pause() command"), LINE("Pause"),
                   LINE("Stop(): stop after pause")}},
        StateCase{"RunningPause", true, State_Running, E::Pause, S_OK, State_Paused, 0, kFirstRun, {LINE("Pause")}},
        StateCase{"RunningRun", true, State_Running, E::Run, S_OK, State_Running, 0, kRunAt, {LINE("Run( 1.234'5678 )")}},
        StateCase{"UnconnectedStop", false, State_Stopped, E::Stop, VFW_E_NOT_CONNECTED, State_Stopped, 0, 0,
                  {LINE("Stop")}},
        StateCase{"UnconnectedPause", false, State_Stopped, E::Pause, VFW_E_WRONG_STATE, State_Stopped, 0, 0,
                  {LINE("Pause")}},
        StateCase{"UnconnectedRun", false, State_Stopped, E::Run, VFW_E_WRONG_STATE, State_Stopped, 0, 0,
                  {LINE("Run( 1.234'5678 )"), LINE("Run(): current state is State_Stopped, call Pause() command"),
                   LINE("Pause"), L"###Err### " LINE("Run(): Pause()=0x80040227")}}),
    [](const testing::TestParamInfo<StateCase>& info) { return std::string(info.param.pszName); });

// A refused start leaves the filter ready to describe the graph at its first real start.
TEST_F(FilterTest, RefusedStartDoesNotUseUpTheGraphDescription)
{
    EXPECT_EQ(m_spSource->Pause(), VFW_E_WRONG_STATE);
    CComPtr<IBaseFilter> spNull = ConnectTo(kClsidNullRenderer, L"Null");
    EXPECT_EQ(m_spSource->Pause(), S_OK);
    EXPECT_EQ(Blocks().size(), 1u);
}

// ------------------------------------------------------------------ disconnection

struct DisconnectCase
{
    const char* pszName;
    bool bConnected;
    FILTER_STATE eState;
    bool bViaGraph;  // IFilterGraph::Disconnect instead of the pin's own
    HRESULT hr;
    bool bConnectedAfter;
};

void PrintTo(const DisconnectCase& c, std::ostream* os) { *os << c.pszName; }

class DisconnectTable : public PlatformGraphTest, public testing::WithParamInterface<DisconnectCase>
{
};

// Only a stopped filter lets its pin go, and then both pins are free, the hook has run once
// and the allocator is gone; otherwise the connection stands, its allocator still committed.
TEST_P(DisconnectTable, PinLetsGoOnlyWhenStopped)
{
    const DisconnectCase& c = GetParam();
    CComPtr<IBaseFilter> spNull;
    if (c.bConnected)
        spNull = ConnectTo(kClsidNullRenderer, L"Null");
    CComPtr<IPin> spIn = PinOf(spNull, PINDIR_INPUT);
    Reach(m_spSource, c.eState);
    const LONG nHooks = Source()->m_nDisconnectHooks;

    EXPECT_EQ(c.bViaGraph ? m_spGraph->Disconnect(m_spOut) : m_spOut->Disconnect(), c.hr);
    EXPECT_EQ(bool(PeerOf(m_spOut)), c.bConnectedAfter);
    EXPECT_EQ(Source()->m_nDisconnectHooks - nHooks, c.bConnected && !c.bConnectedAfter ? 1 : 0);
    auto* pPin = Source()->m_apOut;
    if (c.bConnectedAfter)
    {
        EXPECT_TRUE(SameObject(PeerOf(spIn), m_spOut));
        EXPECT_TRUE(AllocatorCommitted());
    }
    else
    {
        if (spIn)
        {
            EXPECT_FALSE(PeerOf(spIn)) << "the peer was left connected";
        }
        EXPECT_FALSE(pPin->m_spAllocOut);
        EXPECT_FALSE(pPin->m_spMemInput);
    }
    EXPECT_EQ(SourceState(), c.eState);
}

INSTANTIATE_TEST_SUITE_P(
    Filter, DisconnectTable,
    testing::Values(DisconnectCase{"Stopped", true, State_Stopped, false, S_OK, false},
                    DisconnectCase{"Paused", true, State_Paused, false, VFW_E_NOT_STOPPED, true},
                    DisconnectCase{"Running", true, State_Running, false, VFW_E_NOT_STOPPED, true},
                    DisconnectCase{"Unconnected", false, State_Stopped, false, S_FALSE, false},
                    DisconnectCase{"StoppedViaGraph", true, State_Stopped, true, S_OK, false},
                    DisconnectCase{"PausedViaGraph", true, State_Paused, true, VFW_E_NOT_STOPPED, true},
                    DisconnectCase{"RunningViaGraph", true, State_Running, true, VFW_E_NOT_STOPPED, true}),
    [](const testing::TestParamInfo<DisconnectCase>& info) { return std::string(info.param.pszName); });

// ------------------------------------------------------------------ FindPin

struct FindCase
{
    const char* pszName;
    LPCWSTR pszId;
    bool bOut;  // false: no place for the pin
    HRESULT hr;
    const char* pszAsserted;  // null: no assertion
};

void PrintTo(const FindCase& c, std::ostream* os) { *os << c.pszName; }

class FindPinTable : public PlatformGraphTest, public testing::WithParamInterface<FindCase>
{
};

// Only the exact identifier finds the pin, which comes with one reference for the caller;
// a miss leaves the caller's pointer null.
TEST_P(FindPinTable, ExactIdentifierFindsTheOutputPin)
{
    const FindCase& c = GetParam();
    const ULONG nRefs = References(m_spOut);
    IPin* pPin = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(m_spSource->FindPin(c.pszId, c.bOut ? &pPin : nullptr), c.hr);
    if (c.hr == S_OK)
    {
        EXPECT_EQ(pPin, m_spOut.p);
        EXPECT_EQ(References(m_spOut), nRefs + 1);
        pPin->Release();
    }
    else if (c.hr == VFW_E_NOT_FOUND)
    {
        EXPECT_EQ(pPin, nullptr);
    }
    EXPECT_EQ(References(m_spOut), nRefs);
    std::vector<std::string> asserted;
    if (c.pszAsserted != nullptr)
        asserted.push_back(c.pszAsserted);
    EXPECT_EQ(testsink::AssertedConditions(m_sink, L"FilterBase.h"), asserted);
}

INSTANTIATE_TEST_SUITE_P(
    Filter, FindPinTable,
    testing::Values(FindCase{"Out", L"Out", true, S_OK, nullptr},
                    FindCase{"LowerCase", L"out", true, VFW_E_NOT_FOUND, nullptr},
                    FindCase{"TrailingBlank", L"Out ", true, VFW_E_NOT_FOUND, nullptr},
                    FindCase{"Prefix", L"Ou", true, VFW_E_NOT_FOUND, nullptr},
                    FindCase{"Empty", L"", true, VFW_E_NOT_FOUND, nullptr},
                    FindCase{"NullId", nullptr, true, E_POINTER, "ppPin != NULL && Id != NULL"},
                    FindCase{"NullOut", L"Out", false, E_POINTER, "ppPin != NULL && Id != NULL"}),
    [](const testing::TestParamInfo<FindCase>& info) { return std::string(info.param.pszName); });

// ------------------------------------------------------------------ graph membership

// The filter's name from QueryFilterInfo, which must name pGraph (or no graph) and hand out
// one reference on it.
std::wstring NameIn(IBaseFilter* pFilter, IUnknown* pGraph)
{
    const ULONG nRefs = pGraph != nullptr ? References(pGraph) : 0;
    FILTER_INFO info = {};
    EXPECT_EQ(pFilter->QueryFilterInfo(&info), S_OK);
    EXPECT_TRUE(SameObject(info.pGraph, pGraph));
    if (info.pGraph != nullptr)
    {
        EXPECT_EQ(References(info.pGraph), nRefs + 1) << "QueryFilterInfo gave no reference on the graph";
        info.pGraph->Release();
    }
    return info.achName;
}

// The filter belongs to one graph at a time: Wine's second graph cannot take it while the
// first has it, leaving clears the graph and its name, and a join names the filter as the
// graph asks, within 127 characters.
TEST_F(FilterTest, JoinsOneGraphAtATimeUnderTheGraphsName)
{
    EXPECT_EQ(NameIn(m_spSource, m_spGraph), L"Source");

    CComPtr<IGraphBuilder> spOther = NewGraph();
    EXPECT_EQ(spOther->AddFilter(m_spSource, L"Other"), E_FAIL);
    EXPECT_EQ(testsink::AssertedConditions(m_sink, L"FilterBase.h"),
              std::vector<std::string>{"pT->m_pFilterGraphJoin == NULL || pGraph == NULL"});
    EXPECT_EQ(NameIn(m_spSource, m_spGraph), L"Source");

    ASSERT_EQ(m_spGraph->RemoveFilter(m_spSource), S_OK);
    EXPECT_EQ(NameIn(m_spSource, nullptr), L"Test Source");

    ASSERT_EQ(spOther->AddFilter(m_spSource, L"Other"), S_OK);
    EXPECT_EQ(NameIn(m_spSource, spOther), L"Other");
    ASSERT_EQ(spOther->RemoveFilter(m_spSource), S_OK);

    CComQIPtr<IFilterGraph> spOtherGraph(spOther);
    const std::wstring longName(200, L'n');
    EXPECT_EQ(m_spSource->JoinFilterGraph(spOtherGraph, nullptr), S_OK);
    EXPECT_EQ(NameIn(m_spSource, spOther), L"Test Source");
    EXPECT_EQ(m_spSource->JoinFilterGraph(nullptr, nullptr), S_OK);
    EXPECT_EQ(m_spSource->JoinFilterGraph(spOtherGraph, longName.c_str()), S_OK);
    EXPECT_EQ(NameIn(m_spSource, spOther), longName.substr(0, 127));
    EXPECT_EQ(m_spSource->JoinFilterGraph(nullptr, L"ignored"), S_OK);
    EXPECT_EQ(NameIn(m_spSource, nullptr), L"Test Source");
}
}
