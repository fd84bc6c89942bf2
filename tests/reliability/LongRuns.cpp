// Long runs without drift: the stream as fast as the fake downstream pin takes it, every
// sample compared with the reference, every time stamp with SamplesToTime of the frames
// before it, so the last one is exactly the count at the end. An hour of audio in the
// default format and in 32 channels of 32 bits at 192 kHz in the full run.
#include <chrono>
#include <sstream>

#include "reliability/Campaign.h"
#include "reliability/FilterRig.h"

namespace campaign
{
namespace
{
class LongRuns : public CampaignTest
{
};

TEST_F(LongRuns, EverySampleExactToTheEnd)
{
    struct Case
    {
        CToneFormat fmt;
        size_t nShortSeconds, nFullSeconds;
    };
    const Case cases[] = {{{2, 16, 48000}, 10, 3600}, {{32, 32, 192000}, 1, 3600}};
    for (const Case& c : cases)
    {
        const size_t nSeconds = Scale(c.nShortSeconds, c.nFullSeconds);
        SCOPED_TRACE(testing::Message() << c.fmt.nChannels << " channels of " << c.fmt.nValidBits << " bits at "
                                        << c.fmt.nRate << " Hz");
        const size_t nParts = FailuresSoFar();
        CFilterRig rig;
        ASSERT_TRUE(rig.Ready());
        ASSERT_EQ(rig.Tone()->SetParameters(c.fmt.nValidBits, c.fmt.nChannels, 0, int(c.fmt.nRate)), S_OK);
        // A tone of its own on each channel, the square wave and a constant level among them.
        CStreamCheck check(c.fmt);
        for (int ch = 0; ch < c.fmt.nChannels; ++ch)
        {
            const int nFreq = ch == 1 ? -1 : ch == 2 ? 0 : 50 + 997 * ch % 20000;
            ASSERT_EQ(rig.Tone()->SetFrequency(ch, nFreq), S_OK);
            check.Reference().SetFrequency(ch, nFreq);
        }
        ASSERT_EQ(rig.Connect(), S_OK);
        rig.Watch(&check);
        // Buffers of 40 ms: 25 a second.
        const LONG nSamples = LONG(nSeconds * 25);
        const auto tStart = std::chrono::steady_clock::now();
        ASSERT_EQ(rig.Filter()->Run(0), S_OK);
        EXPECT_TRUE(rig.Fake()->WaitReceived(nSamples, DWORD(nSeconds * 2000 + 60000))) << "the stream stalled";
        EXPECT_EQ(rig.Filter()->Stop(), S_OK);
        const double dblWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
        rig.Watch(nullptr);
        EXPECT_EQ(check.Fault(), "");
        EXPECT_GE(check.Frames(), LONGLONG(nSeconds) * c.fmt.nRate);
        rig.Shutdown();
        std::ostringstream what, note;
        what << "long run, " << c.fmt.nChannels << " x " << c.fmt.nValidBits << " bits at " << c.fmt.nRate << " Hz";
        note.precision(1);
        note << std::fixed << double(check.Frames()) / c.fmt.nRate << " s of audio in " << dblWall << " s, "
             << check.Samples() << " samples exact";
        Report(what.str(), 1, FailuresSoFar() == nParts ? 1 : 0, note.str());
    }
}
}
}
