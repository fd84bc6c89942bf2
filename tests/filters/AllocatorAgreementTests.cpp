// Allocator agreement of the output pin with the fake downstream pin (whose allocator, when
// it offers one, wraps ours and can report less than asked), and the results of the
// delivery calls.
#include "filters/PinFixture.h"

// Beside the platform's type, where the comparison and the printer look for them.
static bool operator==(const ALLOCATOR_PROPERTIES& a, const ALLOCATOR_PROPERTIES& b)
{
    return a.cBuffers == b.cBuffers && a.cbBuffer == b.cbBuffer && a.cbAlign == b.cbAlign && a.cbPrefix == b.cbPrefix;
}

static void PrintTo(const ALLOCATOR_PROPERTIES& p, std::ostream* os)
{
    *os << "{" << p.cBuffers << ", " << p.cbBuffer << ", " << p.cbAlign << ", " << p.cbPrefix << "}";
}

namespace
{
std::wstring Hex(HRESULT hr)
{
    wchar_t sz[16];
    swprintf(sz, 16, L"0x%X", unsigned(hr));
    return sz;
}

// ---------------------------------------------------------------- which allocator

struct AgreementCase
{
    const char* pszName;
    // The downstream allocator's answers (0: as asked).
    LONG nMaxBuffers, cbMaxBuffer, cbReportAlign;
    HRESULT hrGetAllocator;
    HRESULT hrNotifyOwn, hrNotifyOther;  // NotifyAllocator for the downstream allocator, for ours
    HRESULT hrExpected;
    EAllocSrc eSrc;
    LONG nCreated;                        // allocators the pin made
    const wchar_t* pszDownstreamFailure;  // the level-2 line of the downstream try
};

const AgreementCase kAgreements[] = {
    {"DownstreamCovers", 0, 0, 0, S_OK, S_OK, S_OK, S_OK, eAS_Downstream, 0, nullptr},
    {"TooFewBuffers", 2, 0, 0, S_OK, S_OK, S_OK, S_OK, eAS_Internal, 1,
     L"MatchExternAllocator(): pOutPin->AllocatorTestProps()=0x80004005"},
    {"TooSmallBuffers", 0, 100, 0, S_OK, S_OK, S_OK, S_OK, eAS_Internal, 1,
     L"MatchExternAllocator(): pOutPin->AllocatorTestProps()=0x80004005"},
    {"AlignmentOf3", 0, 0, 3, S_OK, S_OK, S_OK, S_OK, eAS_Internal, 1,
     L"MatchExternAllocator(): pOutPin->AllocatorTestProps()=0x80004005"},
    {"NoDownstreamAllocator", 0, 0, 0, VFW_E_NO_ALLOCATOR, S_OK, S_OK, S_OK, eAS_Internal, 1,
     L"MatchExternAllocator(): pMemInput->GetAllocator()=0x8004020A"},
    {"DownstreamNotifyAnswersSFalse", 0, 0, 0, S_OK, S_FALSE, S_OK, S_OK, eAS_Internal, 1,
     L"MatchExternAllocator(): pMemInput->NotifyAllocator()=0x1"},
    {"OursRefused", 0, 0, 0, VFW_E_NO_ALLOCATOR, S_OK, E_ACCESSDENIED, E_ACCESSDENIED, eAS_None, 1,
     L"MatchExternAllocator(): pMemInput->GetAllocator()=0x8004020A"},
    {"BothRefused", 0, 0, 0, S_OK, VFW_E_WRONG_STATE, E_ACCESSDENIED, E_ACCESSDENIED, eAS_None, 1,
     L"MatchExternAllocator(): pMemInput->NotifyAllocator()=0x80040227"},
    {"BothAnswerSFalse", 0, 0, 0, S_OK, S_FALSE, S_FALSE, E_FAIL, eAS_None, 1,
     L"MatchExternAllocator(): pMemInput->NotifyAllocator()=0x1"},
};

class AllocatorAgreement : public CPinTest, public testing::WithParamInterface<AgreementCase>
{
};

TEST_P(AllocatorAgreement, PrefersTheDownstreamAllocatorWhenItCovers)
{
    const AgreementCase& c = GetParam();
    CFakeAllocator* pDownstream = Fake()->m_pAllocator;
    pDownstream->m_nMaxBuffers = c.nMaxBuffers;
    pDownstream->m_cbMaxBuffer = c.cbMaxBuffer;
    pDownstream->m_cbReportAlign = c.cbReportAlign;
    Fake()->m_hrGetAllocator = c.hrGetAllocator;
    Fake()->m_hrNotifyOwn = c.hrNotifyOwn;
    Fake()->m_hrNotifyOther = c.hrNotifyOther;
    testsink::CSinkReader sink(L"testsink.dll");

    EXPECT_EQ(ConnectFake(), c.hrExpected);

    std::vector<CSeenTraceLine> lines = ReadTraceLines(sink);
    EXPECT_EQ(Pin()->m_eAllocSrc, c.eSrc);
    EXPECT_EQ(Pin()->m_nAllocatorsCreated.load(), c.nCreated);
    if (c.pszDownstreamFailure != nullptr)
    {
        const CSeenTraceLine* pLine = FindLine(lines, std::wstring(L"###Err### [TestSource Out] CAllocatorMatch::") +
                                                      c.pszDownstreamFailure);
        ASSERT_NE(pLine, nullptr) << "no line of the downstream try";
        EXPECT_EQ(pLine->nLevel, 2u);
    }
    if (c.hrExpected == S_OK)
    {
        const wchar_t* pszSource = c.eSrc == eAS_Downstream ? L"downstream" : L"internal";
        const CSeenTraceLine* pLine = FindLine(
            lines, std::wstring(L"@@@@ [TestSource Out] CAllocatorMatch::AttachAllocator(): use ") + pszSource + L" allocator");
        ASSERT_NE(pLine, nullptr);
        EXPECT_EQ(pLine->nLevel, 8u);
        ASSERT_TRUE(Pin()->m_spAllocOut);
        EXPECT_EQ(Fake()->m_spNotified.p, Pin()->m_spAllocOut.p) << "the peer was told of another allocator";
        EXPECT_FALSE(Fake()->m_bNotifiedReadOnly);
        EXPECT_EQ(Pin()->m_spAllocOut.p == static_cast<IMemAllocator*>(pDownstream), c.eSrc == eAS_Downstream);
        // What the pin reads back covers its own request of 4 buffers of 40 ms.
        EXPECT_GE(Pin()->m_Props.cBuffers, 4);
        EXPECT_GE(Pin()->m_Props.cbBuffer, 7680);
        EXPECT_TRUE(Pin()->IsConnected());
        EXPECT_EQ(m_spSource->Pause(), S_OK);
    }
    else
    {
        const CSeenTraceLine* pLine = FindLine(
            lines, L"###Err### [TestSource Out] CStdAllocator::AllocatorAgree() - allocator agreement failed, hr=" +
                       Hex(c.hrExpected));
        EXPECT_NE(pLine, nullptr);
        EXPECT_FALSE(Pin()->IsConnected());
        EXPECT_FALSE(Pin()->m_spAllocOut);
        EXPECT_FALSE(Fake()->IsConnected());
        EXPECT_EQ(Fake()->m_nDisconnects.load(), 1);
        EXPECT_EQ(Source()->m_nDisconnectHooks.load(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, AllocatorAgreement, testing::ValuesIn(kAgreements),
                         [](const testing::TestParamInfo<AgreementCase>& info) {
                             return std::string(info.param.pszName);
                         });

// ---------------------------------------------------------------- what is requested

struct RequestCase
{
    const char* pszName;
    HRESULT hrRequirements;
    ALLOCATOR_PROPERTIES requirements;  // written by the peer whatever it answers
    ALLOCATOR_PROPERTIES own;           // all 0: 4 buffers of 40 ms of the pin's type
    ALLOCATOR_PROPERTIES expected;
};

const RequestCase kRequests[] = {
    {"RequirementsFailOwnNeedsAlone", E_NOTIMPL, {100, 100000, 64, 32}, {}, {4, 7680, 1, 0}},
    {"MergedFieldByField", S_OK, {16, 100, 4, 8}, {}, {16, 7680, 4, 8}},
    {"OwnNeedsWhereLarger", S_OK, {2, 20000, 0, 0}, {}, {4, 20000, 1, 0}},
    {"NothingAskedBecomesOne", E_FAIL, {}, {0, -5, 0, 0}, {1, 1, 1, 0}},
};

class AllocatorRequest : public CPinTest, public testing::WithParamInterface<RequestCase>
{
};

TEST_P(AllocatorRequest, IsTheLargerOfBothNeeds)
{
    const RequestCase& c = GetParam();
    Fake()->m_hrRequirements = c.hrRequirements;
    Fake()->m_propsRequirements = c.requirements;
    Pin()->m_propsRequest = c.own;

    ASSERT_EQ(ConnectFake(), S_OK);

    EXPECT_EQ(Fake()->m_pAllocator->m_nSetProperties, 1);
    EXPECT_EQ(Fake()->m_pAllocator->m_propsRequested, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Merge, AllocatorRequest, testing::ValuesIn(kRequests),
                         [](const testing::TestParamInfo<RequestCase>& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------- delivery without a connection

class Delivery : public CPinTest, public testing::WithParamInterface<bool>
{
};

TEST_P(Delivery, WithoutConnectionHasNoAllocatorAndNoPeer)
{
    if (GetParam())
    {
        ASSERT_EQ(ConnectFake(), S_OK);
        ASSERT_EQ(m_spOut->Disconnect(), S_OK);
    }
    // A sample of an allocator of its own, as a stray caller could hand in.
    CComPtr<IMemAllocator> spAllocator;
    ASSERT_EQ(CMemoryAllocator::CreateInstance(&spAllocator), S_OK);
    ALLOCATOR_PROPERTIES props = {1, 100, 1, 0}, actual = {};
    ASSERT_EQ(spAllocator->SetProperties(&props, &actual), S_OK);
    ASSERT_EQ(spAllocator->Commit(), S_OK);
    CComPtr<IMediaSample> spStray;
    ASSERT_EQ(spAllocator->GetBuffer(&spStray, nullptr, nullptr, 0), S_OK);

    IMediaSample* pSample = spStray;
    EXPECT_EQ(Pin()->GetSample(&pSample, 0), VFW_E_NO_ALLOCATOR);
    EXPECT_EQ(pSample, nullptr);
    EXPECT_EQ(Pin()->SendSample(spStray), VFW_E_NOT_SAMPLE_CONNECTION);
    EXPECT_EQ(Fake()->m_nReceived.load(), 0);

    spStray.Release();
    spAllocator->Decommit();
}

INSTANTIATE_TEST_SUITE_P(Pin, Delivery, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Disconnected" : "NeverConnected");
                         });

// ---------------------------------------------------------------- GetSample

TEST_F(CPinTest, GetSampleAfterStopIsNotCommittedAndNoError)
{
    ASSERT_EQ(ConnectFake(), S_OK);
    ASSERT_EQ(m_spSource->Pause(), S_OK);
    ASSERT_EQ(m_spSource->Stop(), S_OK);
    testsink::CSinkReader sink(L"testsink.dll");

    CComPtr<IMediaSample> spSample;
    EXPECT_EQ(Pin()->GetSample(&spSample, 0), VFW_E_NOT_COMMITTED);

    std::vector<CSeenTraceLine> lines = ReadTraceLines(sink);
    const CSeenTraceLine* pLine =
        FindLine(lines, L"[TestSource Out] COutputPin::GetSample(): spMemAlloc->GetBuffer()=VFW_E_NOT_COMMITTED");
    ASSERT_NE(pLine, nullptr);
    EXPECT_EQ(pLine->nLevel, 2u);
    EXPECT_EQ(pLine->text.find(L"###Err###"), std::wstring::npos) << "an expected event reported as an error";
}

TEST_F(CPinTest, GetSampleWithoutWaitWritesNothingWhenEveryBufferIsOut)
{
    ASSERT_EQ(ConnectFake(), S_OK);
    ASSERT_EQ(m_spSource->Pause(), S_OK);
    std::vector<CComPtr<IMediaSample>> held(size_t(Pin()->m_Props.cBuffers));
    for (CComPtr<IMediaSample>& sp : held)
        ASSERT_EQ(Pin()->GetSample(&sp, AM_GBF_NOWAIT), S_OK);
    testsink::CSinkReader sink(L"testsink.dll");

    CComPtr<IMediaSample> spMore;
    EXPECT_EQ(Pin()->GetSample(&spMore, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

    EXPECT_EQ(FindLine(ReadTraceLines(sink), L"[TestSource Out] COutputPin::GetSample()"), nullptr);
}

// ---------------------------------------------------------------- SendSample

struct SendCase
{
    const char* pszName;
    HRESULT hrReceive;
    unsigned nLevel;          // of the line that reports it
    const wchar_t* pszLine;   // null: no line
};

const SendCase kSends[] = {
    {"Accepted", S_OK, 0, nullptr},
    {"SFalse", S_FALSE, 4, L"### [TestSource Out] COutputPin::SendSample(): spMemInput->Receive()=S_FALSE"},
    {"NotRunning", VFW_E_NOT_RUNNING, 4,
     L"### [TestSource Out] COutputPin::SendSample(): spMemInput->Receive()=VFW_E_NOT_RUNNING"},
    {"Failure", E_FAIL, 2, L"###Err### [TestSource Out] COutputPin::SendSample(): spMemInput->Receive()=0x80004005"},
};

class SendSample : public CPinTest, public testing::WithParamInterface<SendCase>
{
};

TEST_P(SendSample, ReturnsTheAnswerUnchangedAfterItsLine)
{
    const SendCase& c = GetParam();
    Fake()->m_hrReceive = c.hrReceive;
    ASSERT_EQ(ConnectFake(), S_OK);
    ASSERT_EQ(m_spSource->Pause(), S_OK);
    CComPtr<IMediaSample> spSample;
    ASSERT_EQ(Pin()->GetSample(&spSample, 0), S_OK);
    testsink::CSinkReader sink(L"testsink.dll");

    EXPECT_EQ(Pin()->SendSample(spSample), c.hrReceive);

    EXPECT_EQ(Fake()->m_nReceived.load(), 1);
    std::vector<CSeenTraceLine> lines = ReadTraceLines(sink);
    if (c.pszLine == nullptr)
    {
        EXPECT_EQ(FindLine(lines, L"COutputPin::SendSample()"), nullptr);
        return;
    }
    const CSeenTraceLine* pLine = FindLine(lines, c.pszLine);
    ASSERT_NE(pLine, nullptr);
    EXPECT_EQ(pLine->nLevel, c.nLevel);
}

INSTANTIATE_TEST_SUITE_P(Answers, SendSample, testing::ValuesIn(kSends),
                         [](const testing::TestParamInfo<SendCase>& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------- a peer that keeps every buffer

TEST_F(CPinTest, PeerKeepingEveryBufferStallsTheStreamWithoutErrors)
{
    Fake()->m_bKeepSamples = true;
    ASSERT_EQ(ConnectFake(), S_OK);
    LONG nBuffers = Pin()->m_Props.cBuffers;
    testsink::CSinkReader sink(L"testsink.dll");

    ASSERT_EQ(m_spSource->Run(0), S_OK);
    ASSERT_TRUE(Fake()->WaitReceived(nBuffers));
    // The thread has asked again and found every buffer kept.
    ASSERT_TRUE(Fake()->m_pAllocator->WaitNoBuffer());

    EXPECT_EQ(Fake()->m_nReceived.load(), nBuffers);
    EXPECT_EQ(Source()->m_nSendFailures.load(), 0);
    for (const CSeenTraceLine& line : ReadTraceLines(sink))
        EXPECT_TRUE(line.text.find(L"###Err###") == std::wstring::npos ||
                    line.text.find(L"[TestSource Out]") == std::wstring::npos)
            << std::string(line.text.begin(), line.text.end());
    // Stop does not wait for the kept buffers; they return when the peer lets them go.
    EXPECT_EQ(m_spSource->Stop(), S_OK);
    EXPECT_EQ(SourceState(), State_Stopped);
    Fake()->DropKeptSamples();
    EXPECT_EQ(m_spSource->Run(0), S_OK);
    EXPECT_TRUE(Fake()->WaitReceived(nBuffers + 1));
}
}
