// The lock order under threads: while the streaming thread is blocked in the downstream
// Receive, the host's calls on the filter and the pin return, format changes ask the peer
// and reconnect, and the calls that must wait for the thread complete once it returns.
// Every wait is on a point the fake or the source signals; the watchdog ends a deadlock.
#include "filters/PinFixture.h"

namespace
{
// The filter's own part of Stop is done; the rest waits for the streaming thread.
bool WaitStopWaits(CTestSource* pSource)
{
    return WaitForSingleObject(pSource->StopWaitsEvent(), 30000) == WAIT_OBJECT_0;
}

TEST_F(CPinTest, HostCallsReturnWhileReceiveBlocks)
{
    ASSERT_EQ(ConnectFake(), S_OK);
    Fake()->BlockReceive();
    ASSERT_EQ(m_spSource->Run(0), S_OK);
    ASSERT_TRUE(Fake()->WaitInReceive());

    EXPECT_EQ(m_spSource->Pause(), S_OK);
    EXPECT_EQ(SourceState(), State_Paused);
    EXPECT_EQ(m_spSource->Run(0), S_OK);
    EXPECT_EQ(SourceState(), State_Running);
    CMType mt;
    EXPECT_EQ(m_spOut->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(m_spOut->QueryAccept(&mt), S_OK);
    CComPtr<IEnumMediaTypes> spEnum;
    EXPECT_EQ(m_spOut->EnumMediaTypes(&spEnum), S_OK);
    CComPtr<IPin> spPeer;
    EXPECT_EQ(m_spOut->ConnectedTo(&spPeer), S_OK);
    CComPtr<IEnumPins> spPins;
    EXPECT_EQ(m_spSource->EnumPins(&spPins), S_OK);
    CMType mt44100 = PcmType(44100);
    EXPECT_EQ(Source()->ChangeFormat(&mt44100), S_OK);
    EXPECT_EQ(Fake()->m_nReceived.load(), 1) << "the first Receive has not returned yet";

    CCallThread stop([this] { return m_spSource->Stop(); });
    ASSERT_TRUE(stop.Started());
    ASSERT_TRUE(WaitStopWaits(Source()));
    EXPECT_EQ(SourceState(), State_Stopped);
    EXPECT_FALSE(Pin()->m_bActive);
    // The connection goes while the thread still holds the peer and a sample.
    EXPECT_EQ(m_spOut->Disconnect(), S_OK);
    EXPECT_FALSE(Fake()->IsConnected());
    EXPECT_FALSE(stop.Join(0)) << "Stop returned before the streaming thread did";

    Fake()->ReleaseReceive();
    ASSERT_TRUE(stop.Join());
    EXPECT_EQ(stop.Result(), S_OK);
    EXPECT_EQ(Fake()->m_nReceived.load(), 1);
}

// ---------------------------------------------------------------- format change while running

struct FormatChangeCase
{
    const char* pszName;
    HRESULT hrPeer;          // the peer's QueryAccept of the new type
    HRESULT hrExpected;
    DWORD nRateAfter;        // the pin's type afterwards
};

const FormatChangeCase kFormatChanges[] = {
    {"Accepted", S_OK, S_OK, 44100},
    {"AnsweredSFalse", S_FALSE, VFW_E_CHANGING_FORMAT, 48000},
    {"Refused", E_ACCESSDENIED, E_ACCESSDENIED, 48000},
};

class FormatChangeWhileRunning : public CPinTest, public testing::WithParamInterface<FormatChangeCase>
{
};

TEST_P(FormatChangeWhileRunning, AsksThePeerAndMarksExactlyTheNextSample)
{
    const FormatChangeCase& c = GetParam();
    Fake()->m_hrQueryAccept = c.hrPeer;
    ASSERT_EQ(ConnectFake(), S_OK);
    Fake()->BlockReceive();
    ASSERT_EQ(m_spSource->Run(0), S_OK);
    ASSERT_TRUE(Fake()->WaitInReceive());

    CMType mt44100 = PcmType(44100);
    EXPECT_EQ(Source()->ChangeFormat(&mt44100), c.hrExpected);
    Fake()->ReleaseReceive();
    ASSERT_TRUE(Fake()->WaitReceived(3));
    ASSERT_EQ(m_spSource->Stop(), S_OK);

    EXPECT_EQ(RateOf(&Pin()->m_mt), c.nRateAfter);
    CComLockGuard<CComCriticalSection> lock(Fake()->m_csRecords);
    if (c.hrExpected != S_OK)
    {
        EXPECT_TRUE(Fake()->m_sampleTypes.empty());
        return;
    }
    ASSERT_EQ(Fake()->m_sampleTypeAt, std::vector<LONG>{2}) << "not exactly the sample after the change";
    EXPECT_EQ(RateOf(&Fake()->m_sampleTypes[0]), 44100u);
}

INSTANTIATE_TEST_SUITE_P(Peer, FormatChangeWhileRunning, testing::ValuesIn(kFormatChanges),
                         [](const testing::TestParamInfo<FormatChangeCase>& info) {
                             return std::string(info.param.pszName);
                         });

// The filter lock is held while the peer's QueryAccept waits for the peer's own receive
// lock; the blocked Receive, once let go, calls back into the pin, which must not need
// anything the format change holds.
TEST_F(CPinTest, ReceiveCallsBackWhileFormatChangeWaitsForIt)
{
    Fake()->m_bReceiveCallsBack = true;
    Fake()->m_bQueryAcceptWaitsForReceive = true;
    ASSERT_EQ(ConnectFake(), S_OK);
    Fake()->BlockReceive();
    ASSERT_EQ(m_spSource->Run(0), S_OK);
    ASSERT_TRUE(Fake()->WaitInReceive());

    CMType mt44100 = PcmType(44100);
    CCallThread change([this, &mt44100] { return Source()->ChangeFormat(&mt44100); });
    ASSERT_TRUE(change.Started());
    ASSERT_TRUE(Fake()->WaitInQueryAccept());
    Fake()->ReleaseReceive();

    ASSERT_TRUE(change.Join());
    EXPECT_EQ(change.Result(), S_OK);
    EXPECT_EQ(Fake()->m_hrCallBack.load(), S_OK);
    ASSERT_TRUE(Fake()->WaitReceived(3));
    EXPECT_EQ(m_spSource->Stop(), S_OK);
}

// State changes and format changes while the thread streams into a peer that calls back.
TEST_F(CPinTest, StateCyclesWhileStreamingWithCallbacks)
{
    Fake()->m_bReceiveCallsBack = true;
    ASSERT_EQ(ConnectFake(), S_OK);
    CMType types[2] = {PcmType(44100), PcmType(48000)};
    for (int i = 0; i < 20; ++i)
    {
        LONG nReceived = Fake()->m_nReceived;
        ASSERT_EQ(m_spSource->Run(0), S_OK) << "cycle " << i;
        ASSERT_TRUE(Fake()->WaitReceived(nReceived + 1)) << "cycle " << i;
        ASSERT_EQ(Source()->ChangeFormat(&types[i % 2]), S_OK) << "cycle " << i;
        ASSERT_EQ(m_spSource->Pause(), S_OK) << "cycle " << i;
        ASSERT_EQ(m_spSource->Run(0), S_OK) << "cycle " << i;
        ASSERT_TRUE(Fake()->WaitReceived(nReceived + 2)) << "cycle " << i;
        ASSERT_EQ(m_spSource->Stop(), S_OK) << "cycle " << i;
    }
    EXPECT_EQ(Fake()->m_hrCallBack.load(), S_OK);
    EXPECT_EQ(Source()->m_nSendFailures.load(), 0);
}

// ---------------------------------------------------------------- inside the platform's graph

class GraphLockOrder : public CPinTest
{
protected:
    GraphLockOrder() { m_bGraph = true; }

    void SetUp() override
    {
        CPinTest::SetUp();
        ASSERT_EQ(m_spGraph->AddFilter(m_spSource, L"Source"), S_OK);
        ASSERT_EQ(m_spGraph->AddFilter(m_pFake, L"Fake"), S_OK);
        ASSERT_EQ(m_spGraph->ConnectDirect(m_spOut, FakePin(), nullptr), S_OK);
        CComQIPtr<IMediaFilter> spMediaFilter(m_spGraph);
        ASSERT_EQ(spMediaFilter->SetSyncSource(nullptr), S_OK);
    }
};

TEST_F(GraphLockOrder, GraphStopsWhileReceiveBlocks)
{
    CComQIPtr<IMediaControl> spControl(m_spGraph);
    Fake()->BlockReceive();
    ASSERT_TRUE(SUCCEEDED(spControl->Run()));
    ASSERT_TRUE(Fake()->WaitInReceive());

    EXPECT_TRUE(SUCCEEDED(spControl->Pause()));
    EXPECT_EQ(SourceState(), State_Paused);
    EXPECT_TRUE(SUCCEEDED(spControl->Run()));
    // The graph stops the downstream filter first, which lets the blocked Receive go.
    EXPECT_EQ(spControl->Stop(), S_OK);
    EXPECT_EQ(SourceState(), State_Stopped);
    EXPECT_EQ(Fake()->m_nReceived.load(), 1);
}

// A format change while stopped reconnects through the graph; here the streaming thread is
// still inside the old connection's Receive, with a sample of the old allocator.
TEST_F(GraphLockOrder, ReconnectWhileStopWaitsForTheThread)
{
    Fake()->BlockReceive();
    ASSERT_EQ(m_spSource->Run(0), S_OK);
    ASSERT_TRUE(Fake()->WaitInReceive());
    CComPtr<IMemAllocator> spOld(Pin()->m_spAllocOut);
    CCallThread stop([this] { return m_spSource->Stop(); });
    ASSERT_TRUE(stop.Started());
    ASSERT_TRUE(WaitStopWaits(Source()));

    CMType mt44100 = PcmType(44100);
    EXPECT_EQ(Source()->ChangeFormat(&mt44100), S_OK);

    CMType mt;
    ASSERT_EQ(m_spOut->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(RateOf(&mt), 44100u);
    ASSERT_FALSE(Fake()->m_typesReceived.empty());
    EXPECT_EQ(RateOf(&Fake()->m_typesReceived.back()), 44100u);
    EXPECT_TRUE(Fake()->IsConnected());
    EXPECT_TRUE(Pin()->m_spAllocOut);
    EXPECT_TRUE(Pin()->m_spMemInput);
    EXPECT_FALSE(stop.Join(0)) << "Stop returned before the streaming thread did";

    Fake()->ReleaseReceive();
    ASSERT_TRUE(stop.Join());
    EXPECT_EQ(stop.Result(), S_OK);
    spOld.Release();
    // The new connection streams.
    ASSERT_EQ(m_spSource->Run(0), S_OK);
    EXPECT_TRUE(Fake()->WaitReceived(2));
}
}
