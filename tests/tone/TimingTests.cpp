// Time stamps and the stream position across Pause and Stop, a downstream that keeps every
// buffer, and a synthesis that refuses a tone.
#include <atomic>
#include <memory>

#include "tone/ToneGraph.h"

namespace tonestream
{
namespace
{
const CToneFormat kFormat = {2, 16, 44100};

// The allocator's lines that say a buffer request found every buffer out, for a request
// that waits ("YES") or not ("NO").
size_t BusyRequests(const testsink::CSinkReader& sink, const std::wstring& waiting)
{
    const std::wstring text = L"IMemAllocator::GetBuffer(): Allocator busy, waiting = " + waiting + L"\n";
    size_t n = 0;
    for (const std::wstring& e : sink.Events())
        n += e.size() >= text.size() && e.compare(e.size() - text.size(), text.size(), text) == 0;
    return n;
}

class ToneTiming : public ToneGraphTest
{
protected:
    void SetUp() override
    {
        ToneGraphTest::SetUp();
        SetFormat(kFormat);
        // 997 Hz is at phase 0 only every whole second, the square wave every other buffer.
        SetTone(0, 997, -6.0);
        SetTone(1, kToneSquare, 0.0);
    }

    // Runs until the downstream holds every buffer of the pin's allocator: the stream stops
    // at exactly that many samples.
    void RunUntilEveryBufferIsKept()
    {
        m_spLog->KeepSamples(true);
        ASSERT_TRUE(SUCCEEDED(Run()));
        m_nBuffers = size_t(Filter()->m_apOut->m_Props.cBuffers);
        ASSERT_GT(m_nBuffers, 0u);
        ASSERT_TRUE(m_spLog->WaitFor(m_nBuffers));
        EXPECT_EQ(Filter()->m_llPosition, LONGLONG(m_nBuffers * kFormat.BufferFrames()));
    }

    void LetBuffersGo()
    {
        m_spLog->KeepSamples(false);
        m_spLog->ReleaseKept();
    }

    size_t m_nBuffers = 0;
};

struct ResumeCase
{
    const char* pszName;
    bool bStop;  // Stop before running again; otherwise Pause
};

void PrintTo(const ResumeCase& c, std::ostream* os) { *os << c.pszName; }

class ToneResume : public ToneTiming, public testing::WithParamInterface<ResumeCase>
{
};

// After Pause the stream goes on where it was: times, media times, phases, no
// discontinuity. After Stop it starts again at 0 with a discontinuity and every tone at
// phase 0, although the first run ended mid-period.
TEST_P(ToneResume, RunAgainContinuesOrRestarts)
{
    const bool bStop = GetParam().bStop;
    Connect();
    RunUntilEveryBufferIsKept();
    // A paused graph may still be completing its change (S_FALSE); the filter is paused at once.
    ASSERT_TRUE(SUCCEEDED(bStop ? Stop() : Pause()));
    FILTER_STATE eState;
    EXPECT_EQ(m_spSource->GetState(0, &eState), bStop ? S_OK : VFW_S_CANT_CUE);
    EXPECT_EQ(eState, bStop ? State_Stopped : State_Paused);
    EXPECT_EQ(Filter()->m_llPosition, bStop ? 0 : LONGLONG(m_nBuffers * kFormat.BufferFrames()));
    LetBuffersGo();
    EXPECT_EQ(m_spLog->Seen(), m_nBuffers) << "delivered while not running";

    std::vector<CSampleRecord> first = m_spLog->Records();
    LONGLONG llPos = 0;
    ExpectStream(first, 0, m_nBuffers, llPos, true);
    if (bStop)
    {
        m_spLog->Restart();
        m_ref.ResetPhases();
        llPos = 0;
    }
    const size_t nFrom = m_spLog->Seen();
    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(nFrom + 8));
    ASSERT_EQ(Stop(), S_OK);
    ExpectStream(m_spLog->Records(), nFrom, nFrom + 8, llPos, bStop);
    EXPECT_EQ(FilterErrors(), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(Graph, ToneResume, testing::Values(ResumeCase{"Pause", false}, ResumeCase{"Stop", true}),
                         [](const testing::TestParamInfo<ResumeCase>& info) { return std::string(info.param.pszName); });

// With every buffer kept downstream the thread asks for a buffer without waiting, finds
// none (the allocator says so once) and polls: no sample, no error of the filter, and the
// count stays where the last sample left it. Nothing wakes it when the buffers come back,
// yet the next poll goes on with the stream, without a gap.
TEST_F(ToneTiming, KeptBuffersMakeTheThreadPollWithoutAdvancing)
{
    Connect();
    RunUntilEveryBufferIsKept();
    // Several poll intervals with every buffer out.
    EXPECT_FALSE(m_spLog->WaitFor(m_nBuffers + 1, 300)) << "a sample came while every buffer was held";
    EXPECT_EQ(Filter()->m_llPosition, LONGLONG(m_nBuffers * kFormat.BufferFrames()));
    EXPECT_EQ(BusyRequests(m_sink, L"NO"), 1u);
    EXPECT_EQ(BusyRequests(m_sink, L"YES"), 0u);
    EXPECT_EQ(FilterErrors(), std::vector<std::wstring>{});

    // Still keeping: the stream stops again once the returned buffers are all out.
    m_spLog->ReleaseKept();
    ASSERT_TRUE(m_spLog->WaitFor(2 * m_nBuffers));
    ASSERT_EQ(Stop(), S_OK);
    EXPECT_EQ(m_spLog->Seen(), 2 * m_nBuffers);
    LONGLONG llPos = 0;
    ExpectStream(m_spLog->Records(), 0, 2 * m_nBuffers, llPos, true);
}

struct RefusedCase
{
    const char* pszName;
    bool bStop;  // resumed by Stop and Run; otherwise by Pause and Run
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.pszName; }

class ToneRefused : public ToneTiming, public testing::WithParamInterface<RefusedCase>
{
};

// A negative frequency other than the square wave's passes SetFrequency and is refused by
// the synthesis: one pair of error lines, no sample, the count kept; the thread sleeps
// until it is run or stopped again, even once the tone is valid again.
TEST_P(ToneRefused, RefusedToneStopsDeliveryUntilRunOrStop)
{
    const size_t kBefore = 4;
    Connect();
    auto pSet = std::make_shared<std::atomic<bool>>(false);
    m_spLog->m_fnAfter = [this, pSet](size_t n) {
        if (n == kBefore - 1 && !pSet->exchange(true))
        {
            EXPECT_EQ(m_spTone->SetFrequency(0, -5), S_OK);
        }
    };
    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(kBefore));
    ASSERT_TRUE(Eventually([this] { return FilterErrors().size() >= 2; }));
    const std::vector<std::wstring> expected = {
        L"###Err### [Tonewell] FillBuffer(): CAudioHelp::FillBuffer( 0 )=0x80070057\n",
        L"###Err### [Tonewell] Send(): PrepareSample()=0x80070057\n"};
    EXPECT_EQ(FilterErrors(), expected);
    EXPECT_EQ(Filter()->m_llPosition, LONGLONG(kBefore * kFormat.BufferFrames()));

    ASSERT_EQ(m_spTone->SetFrequency(0, 997), S_OK);
    // Nothing wakes the thread: no poll brings a sample or another error.
    EXPECT_FALSE(m_spLog->WaitFor(kBefore + 1, 400)) << "delivery resumed by itself";
    EXPECT_EQ(FilterErrors(), expected);

    LONGLONG llPos = 0;
    ExpectStream(m_spLog->Records(), 0, kBefore, llPos, true);
    m_ref.SetFrequency(0, -5);
    ASSERT_TRUE(m_ref.Render(kFormat.BufferFrames()).empty());
    m_ref.SetFrequency(0, 997);
    if (GetParam().bStop)
    {
        ASSERT_EQ(Stop(), S_OK);
        m_spLog->Restart();
        m_ref.ResetPhases();
        llPos = 0;
    }
    else
    {
        ASSERT_TRUE(SUCCEEDED(Pause()));
    }
    const size_t nFrom = m_spLog->Seen();
    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(nFrom + 6));
    ASSERT_EQ(Stop(), S_OK);
    // The refused buffer took no place in the stream.
    ExpectStream(m_spLog->Records(), nFrom, nFrom + 6, llPos, GetParam().bStop);
    EXPECT_EQ(FilterErrors(), expected);
}

INSTANTIATE_TEST_SUITE_P(Graph, ToneRefused,
                         testing::Values(RefusedCase{"PauseRun", false}, RefusedCase{"StopRun", true}),
                         [](const testing::TestParamInfo<RefusedCase>& info) { return std::string(info.param.pszName); });
}
}
