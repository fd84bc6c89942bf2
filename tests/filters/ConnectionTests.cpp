// The output pin's connection protocol against the fake downstream pin: what is refused
// before any type is tried, the order in which types are tried, what breaks a connection
// after the peer accepted it, and disconnection in every state.
#include "filters/PinFixture.h"

namespace
{
// A second fake downstream filter, for tests that need a pin besides the fixture's.
class CExtraFake
{
public:
    CExtraFake() { CFakeDownstream::Create(&m_pFilter); }
    ~CExtraFake()
    {
        if (m_pFilter != nullptr)
            static_cast<IBaseFilter*>(m_pFilter)->Release();
    }
    CFakeInputPin* operator->() { return m_pFilter->m_pPin; }
    IPin* Pin() { return static_cast<IPin*>(m_pFilter->m_pPin); }

private:
    CComObject<CFakeDownstream>* m_pFilter = nullptr;
};

// ---------------------------------------------------------------- refusals before negotiation

struct RefusalCase
{
    const char* pszName;
    bool bConnectedFirst;         // connected to the fixture's fake before the call
    bool bPaused;                 // paused for real when connected, else the state is forced
    PIN_DIRECTION eTargetDir;
    HRESULT hrTargetDirection;    // the target's QueryDirection
    HRESULT hrExpected;
};

const RefusalCase kRefusals[] = {
    {"AlreadyConnected", true, false, PINDIR_INPUT, S_OK, VFW_E_ALREADY_CONNECTED},
    {"AlreadyConnectedComesFirst", true, true, PINDIR_OUTPUT, S_OK, VFW_E_ALREADY_CONNECTED},
    {"OutputPeer", false, false, PINDIR_OUTPUT, S_OK, VFW_E_INVALID_DIRECTION},
    {"PeerWithoutDirection", false, false, PINDIR_INPUT, E_NOTIMPL, VFW_E_INVALID_DIRECTION},
    {"DirectionComesBeforeState", false, true, PINDIR_OUTPUT, S_OK, VFW_E_INVALID_DIRECTION},
    {"NotStopped", false, true, PINDIR_INPUT, S_OK, VFW_E_NOT_STOPPED},
};

class ConnectRefusal : public CPinTest, public testing::WithParamInterface<RefusalCase>
{
};

TEST_P(ConnectRefusal, ChangesNothingAndAsksTheTargetForNoType)
{
    const RefusalCase& c = GetParam();
    CExtraFake target;
    target->m_eDirection = c.eTargetDir;
    target->m_hrQueryDirection = c.hrTargetDirection;
    if (c.bConnectedFirst)
    {
        ASSERT_EQ(ConnectFake(), S_OK);
        if (c.bPaused)
        {
            ASSERT_EQ(m_spSource->Pause(), S_OK);
        }
    }
    else if (c.bPaused)
    {
        // An unconnected source cannot pause; the state is set as a concurrent change would.
        CComLockGuard<CTestSource> lock(Source());
        Source()->m_eState = State_Paused;
    }
    testsink::CSinkReader sink(L"testsink.dll");

    HRESULT hr = m_spOut->Connect(target.Pin(), nullptr);

    EXPECT_EQ(hr, c.hrExpected);
    EXPECT_TRUE(target->m_typesReceived.empty());
    EXPECT_EQ(target->m_nTypesEnumerated.load(), 0);
    EXPECT_FALSE(target->IsConnected());
    CComPtr<IPin> spPeer;
    m_spOut->ConnectedTo(&spPeer);
    EXPECT_EQ(spPeer.p, c.bConnectedFirst ? FakePin() : nullptr);
    EXPECT_EQ(RateOf(&Pin()->m_mt), 48000u);
    wchar_t szLine[128];
    swprintf(szLine, 128, L"[TestSource Out] Connect(): connection not accepted, hr=0x%X", unsigned(c.hrExpected));
    // The lines outlive the search: the line found points into them.
    const std::vector<CSeenTraceLine> lines = ReadTraceLines(sink);
    const CSeenTraceLine* pLine = FindLine(lines, szLine);
    ASSERT_NE(pLine, nullptr);
    EXPECT_EQ(pLine->nLevel, 8u);

    if (!c.bConnectedFirst && c.bPaused)
    {
        CComLockGuard<CTestSource> lock(Source());
        Source()->m_eState = State_Stopped;
    }
}

INSTANTIATE_TEST_SUITE_P(Order, ConnectRefusal, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------- the order of types

enum class EGiven
{
    None,        // Connect with no type
    NullMajor,   // a type whose major type is GUID_NULL
    Pcm44100,    // a complete type
    Video,       // a complete type the filter refuses
};

struct OrderCase
{
    const char* pszName;
    EGiven eGiven;
    std::vector<DWORD> listRates;      // the peer's own list, PCM at these rates; 1 is a video type
    DWORD nPeerAccepts;                // 0: any audio
    HRESULT hrPeerRefusal;
    HRESULT hrExpected;
    std::vector<DWORD> offeredRates;   // what ReceiveConnection saw, in order (0: not audio)
    DWORD nConnectedRate;              // the pin's type afterwards
};

const OrderCase kOrders[] = {
    {"PeerListFirstFilterRefusalSkipped", EGiven::None, {1, 44100, 22050}, 22050, VFW_E_TYPE_NOT_ACCEPTED, S_OK,
     {44100, 22050}, 22050},
    {"OwnTypeAfterThePeerList", EGiven::None, {44100, 22050}, 48000, VFW_E_TYPE_NOT_ACCEPTED, S_OK,
     {44100, 22050, 48000}, 48000},
    {"NullMajorTypeIsNoType", EGiven::NullMajor, {44100}, 0, VFW_E_TYPE_NOT_ACCEPTED, S_OK, {44100}, 44100},
    {"GivenTypeAlone", EGiven::Pcm44100, {22050}, 0, VFW_E_TYPE_NOT_ACCEPTED, S_OK, {44100}, 44100},
    {"GivenTypeTheFilterRefuses", EGiven::Video, {22050}, 0, VFW_E_TYPE_NOT_ACCEPTED, VFW_E_TYPE_NOT_ACCEPTED, {}, 48000},
    {"NoTypeAcceptable", EGiven::None, {44100}, 8000, E_ACCESSDENIED, VFW_E_NO_ACCEPTABLE_TYPES, {44100, 48000}, 48000},
    {"GivenTypeRefusedWithItsCode", EGiven::Pcm44100, {}, 8000, E_ACCESSDENIED, E_ACCESSDENIED, {44100}, 48000},
};

class ConnectOrder : public CPinTest, public testing::WithParamInterface<OrderCase>
{
};

TEST_P(ConnectOrder, TriesThePeerListThenItsOwnType)
{
    const OrderCase& c = GetParam();
    for (DWORD nRate : c.listRates)
    {
        CFakeType type = CFakeType::Pcm(nRate == 1 ? 44100 : nRate);
        if (nRate == 1)
            type.majortype = MEDIATYPE_Video;
        Fake()->m_types.push_back(type);
    }
    Fake()->m_nAcceptRate = c.nPeerAccepts;
    Fake()->m_hrRefuse = c.hrPeerRefusal;
    CMType mtGiven;
    const AM_MEDIA_TYPE* pmtGiven = nullptr;
    if (c.eGiven == EGiven::NullMajor)
    {
        mtGiven = PcmType(44100);
        mtGiven.majortype = GUID_NULL;
        pmtGiven = &mtGiven;
    }
    else if (c.eGiven != EGiven::None)
    {
        mtGiven = PcmType(44100);
        if (c.eGiven == EGiven::Video)
            mtGiven.majortype = MEDIATYPE_Video;
        pmtGiven = &mtGiven;
    }

    EXPECT_EQ(ConnectFake(pmtGiven), c.hrExpected);

    std::vector<DWORD> offered;
    for (const CMType& mt : Fake()->m_typesReceived)
        offered.push_back(RateOf(&mt));
    EXPECT_EQ(offered, c.offeredRates);
    EXPECT_EQ(RateOf(&Pin()->m_mt), c.nConnectedRate);
    CComPtr<IPin> spPeer;
    EXPECT_EQ(m_spOut->ConnectedTo(&spPeer), c.hrExpected == S_OK ? S_OK : VFW_E_NOT_CONNECTED);
    EXPECT_EQ(Fake()->IsConnected(), c.hrExpected == S_OK);
    CMType mtConnection;
    if (c.hrExpected == S_OK)
    {
        ASSERT_EQ(m_spOut->ConnectionMediaType(&mtConnection), S_OK);
        EXPECT_EQ(RateOf(&mtConnection), c.nConnectedRate);
    }
    else
    {
        EXPECT_EQ(m_spOut->ConnectionMediaType(&mtConnection), VFW_E_NOT_CONNECTED);
        EXPECT_FALSE(Pin()->m_spAllocOut);
        EXPECT_FALSE(Pin()->m_spMemInput);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, ConnectOrder, testing::ValuesIn(kOrders),
                         [](const testing::TestParamInfo<OrderCase>& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------- failures after acceptance

struct LateFailureCase
{
    const char* pszName;
    HRESULT hrCompleteConnect;  // the filter's hook
    bool bNoMemInput;
    HRESULT hrExpected;
    LONG nDisconnectHooks;      // the filter's Filter_Disconnect
    DWORD nRateAfter;           // a type the peer accepted stays once the filter completed
};

const LateFailureCase kLateFailures[] = {
    {"FilterRefusesToComplete", E_ABORT, false, E_ABORT, 0, 48000},
    {"PeerHasNoMemInput", S_OK, true, E_NOINTERFACE, 1, 44100},
};

class ConnectLateFailure : public CPinTest, public testing::WithParamInterface<LateFailureCase>
{
};

TEST_P(ConnectLateFailure, DisconnectsThePeerAndKeepsNothing)
{
    const LateFailureCase& c = GetParam();
    Source()->m_hrCompleteConnect = c.hrCompleteConnect;
    Fake()->m_bNoMemInput = c.bNoMemInput;
    CMType mt44100 = PcmType(44100);

    EXPECT_EQ(ConnectFake(&mt44100), c.hrExpected);

    EXPECT_EQ(Fake()->m_nDisconnects.load(), 1);
    EXPECT_FALSE(Fake()->IsConnected());
    EXPECT_FALSE(Pin()->IsConnected());
    EXPECT_FALSE(Pin()->m_spAllocOut);
    EXPECT_FALSE(Pin()->m_spMemInput);
    EXPECT_EQ(Source()->m_nDisconnectHooks.load(), c.nDisconnectHooks);
    EXPECT_EQ(RateOf(&Pin()->m_mt), c.nRateAfter);
    EXPECT_EQ(m_spSource->Pause(), VFW_E_WRONG_STATE);
}

INSTANTIATE_TEST_SUITE_P(AfterAcceptance, ConnectLateFailure, testing::ValuesIn(kLateFailures),
                         [](const testing::TestParamInfo<LateFailureCase>& info) {
                             return std::string(info.param.pszName);
                         });

// ---------------------------------------------------------------- disconnection

enum class EStateBefore
{
    Unconnected,
    Stopped,
    Paused,
    Running,
    StoppedAfterRunning,
};

struct DisconnectCase
{
    const char* pszName;
    EStateBefore eState;
    bool bPeerCallsBack;   // the peer's Disconnect calls ours
    HRESULT hrExpected;
};

const DisconnectCase kDisconnects[] = {
    {"Unconnected", EStateBefore::Unconnected, false, S_FALSE},
    {"Stopped", EStateBefore::Stopped, false, S_OK},
    {"Paused", EStateBefore::Paused, false, VFW_E_NOT_STOPPED},
    {"Running", EStateBefore::Running, false, VFW_E_NOT_STOPPED},
    {"StoppedAfterRunning", EStateBefore::StoppedAfterRunning, false, S_OK},
    {"PeerCallsBack", EStateBefore::Stopped, true, S_OK},
};

class Disconnection : public CPinTest, public testing::WithParamInterface<DisconnectCase>
{
};

TEST_P(Disconnection, InEveryState)
{
    const DisconnectCase& c = GetParam();
    Fake()->m_bDisconnectCallsBack = c.bPeerCallsBack;
    if (c.eState != EStateBefore::Unconnected)
    {
        ASSERT_EQ(ConnectFake(), S_OK);
    }
    CComPtr<IMemAllocator> spAllocator(Pin()->m_spAllocOut);
    if (c.eState == EStateBefore::Paused)
    {
        ASSERT_EQ(m_spSource->Pause(), S_OK);
    }
    if (c.eState == EStateBefore::Running || c.eState == EStateBefore::StoppedAfterRunning)
    {
        ASSERT_EQ(m_spSource->Run(0), S_OK);
        ASSERT_TRUE(Fake()->WaitReceived(1));
    }
    if (c.eState == EStateBefore::StoppedAfterRunning)
    {
        ASSERT_EQ(m_spSource->Stop(), S_OK);
    }
    LONG nDisconnectsBefore = Fake()->m_nDisconnects;

    EXPECT_EQ(m_spOut->Disconnect(), c.hrExpected);

    bool bBroken = c.hrExpected == S_OK;
    EXPECT_EQ(Fake()->m_nDisconnects.load() - nDisconnectsBefore, bBroken ? 1 : 0);
    EXPECT_EQ(Pin()->IsConnected(), c.eState != EStateBefore::Unconnected && !bBroken);
    EXPECT_EQ(Source()->m_nDisconnectHooks.load(), bBroken ? 1 : 0);
    if (bBroken)
    {
        EXPECT_FALSE(Pin()->m_spAllocOut);
        EXPECT_FALSE(Pin()->m_spMemInput);
        EXPECT_FALSE(Pin()->m_bActive);
        EXPECT_EQ(Pin()->m_eAllocSrc, eAS_None);
        // The allocator let go of its buffers: it takes new properties again.
        ALLOCATOR_PROPERTIES props = {2, 100, 1, 0}, actual = {};
        EXPECT_EQ(spAllocator->SetProperties(&props, &actual), S_OK);
    }
    if (c.bPeerCallsBack)
    {
        EXPECT_EQ(Fake()->m_hrCallBack.load(), S_FALSE);
    }
    if (c.hrExpected == VFW_E_NOT_STOPPED)
    {
        EXPECT_EQ(SourceState(), c.eState == EStateBefore::Paused ? State_Paused : State_Running);
    }
}

INSTANTIATE_TEST_SUITE_P(States, Disconnection, testing::ValuesIn(kDisconnects),
                         [](const testing::TestParamInfo<DisconnectCase>& info) {
                             return std::string(info.param.pszName);
                         });
}
