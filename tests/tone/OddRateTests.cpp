// Odd rates: half the rate rounded down, (rate - 1) / 2, lies below half the rate, so
// SetFrequency takes it, the settings loader keeps it, and the stream plays it exactly and
// without an error line. At 1 Hz that is the constant level.
#include "tone/ToneApiFixture.h"
#include "tone/ToneGraph.h"

namespace tonestream
{
namespace
{
class ToneOddRate : public ToneGraphTest, public testing::WithParamInterface<std::tuple<DWORD, bool>>
{
};

TEST_P(ToneOddRate, HalfTheRateRoundedDownPlaysExactly)
{
    const auto [nRate, bStored] = GetParam();
    const int nTop = int(nRate / 2);
    const CToneFormat fmt = {2, 16, nRate};
    if (bStored)
    {
        toneapi::CSavedSettings s;
        s.nSamplesPerSec = nRate;
        s.anFreq[0] = nTop;
        s.anFreq[1] = nTop;
        s.adblLevel[1] = 1.0;
        ASSERT_EQ(toneapi::LoadSettings(m_spSource, s.ToBytes()), S_OK);
        m_ref.SetFormat(fmt);
        m_ref.SetTone(0, nTop, 0.5);
        m_ref.SetTone(1, nTop, 1.0);
    }
    else
    {
        SetFormat(fmt);
        SetTone(0, nTop, -1.0);
        SetTone(1, nTop, 0.0);
    }
    for (int c : {0, 1})
    {
        int nFreq = -2;
        ASSERT_EQ(m_spTone->GetFrequency(c, &nFreq), S_OK);
        EXPECT_EQ(nFreq, nTop) << "channel " << c;
    }
    const size_t kBuffers = 6;
    Connect(kBuffers);
    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(kBuffers));
    ASSERT_EQ(Stop(), S_OK);
    const std::vector<CSampleRecord> records = m_spLog->Records();
    LONGLONG llPos = 0;
    ExpectStream(records, 0, kBuffers, llPos, true);
    EXPECT_EQ(FilterErrors(), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(Graph, ToneOddRate,
                         testing::Combine(testing::Values(DWORD(44101), DWORD(8001), DWORD(3), DWORD(1)),
                                          testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<DWORD, bool>>& info) {
                             return std::to_string(std::get<0>(info.param)) + "Hz" +
                                    (std::get<1>(info.param) ? "Stored" : "Set");
                         });
}
}
