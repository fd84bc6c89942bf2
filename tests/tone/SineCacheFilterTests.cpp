// The filter's own FillBuffer, frame table, sine caches and all, against CToneReference buffer
// by buffer: a second and more of unchanged tones (the table read back), then a tone change
// on every buffer with the phase carried to each new frequency (the caches); and the caches'
// memory, freed by the changes that make it stale, by a new format and by Stop.
#include <cstdint>
#include <string>

#include "tone/FillFixture.h"

namespace toneapi
{
namespace
{
using tonestream::CToneFormat;
using tonestream::CToneReference;

class SineCacheFilter : public CFillTest
{
};

// clang-format off
const CToneFormat kFormats[] = {
    {2, 16, 48000}, {1, 8, 8000}, {6, 20, 44100}, {3, 24, 96000}, {8, 32, 192000}, {4, 17, 22050},
};
// clang-format on

TEST_F(SineCacheFilter, EveryBufferMatchesTheReferenceThroughToneChanges)
{
    for (const CToneFormat& fmt : kFormats)
    {
        SCOPED_TRACE(std::to_string(fmt.nChannels) + " ch, " + std::to_string(fmt.nValidBits) + " bits, " +
                     std::to_string(fmt.nRate) + " Hz");
        SetFormat(fmt);
        uint32_t dwSeed = fmt.nRate;
        auto next = [&dwSeed](uint32_t n) {
            dwSeed = dwSeed * 1664525u + 1013904223u;
            return int((dwSeed >> 8) % n);
        };
        for (int c = 0; c < fmt.nChannels; ++c)
            SetTone(c, 1 + next(fmt.nRate / 2 - 1), -double(next(20)));
        // 26 buffers of 40 ms pass one second: the last ones come from the table.
        for (int nBuffer = 0; nBuffer < 46; ++nBuffer)
        {
            if (nBuffer >= 26)
            {
                // A new frequency (carried at the position reached), level, or both.
                const int c = next(fmt.nChannels), nWhat = next(3);
                const int nFreq = nWhat == 1 ? Filter().m_anFreq[c] : 1 + next(fmt.nRate / 2 - 1);
                const double dblDb = nWhat == 0 ? -6.0 * double(next(4)) : -double(next(40));
                SetTone(c, nFreq, dblDb);
            }
            const std::vector<BYTE> expected = m_ref.Render(fmt.BufferFrames());
            ASSERT_TRUE(FillNext() == expected) << "buffer " << nBuffer;
        }
    }
}

// The buffer is written in runs of frames across the channels; a channel that the synthesis
// refuses still leaves the channels before it whole and advanced, itself and the later ones
// untouched, as one call per channel would.
TEST_F(SineCacheFilter, ARefusedChannelLeavesTheOnesBeforeItWholeAndTheRestUntouched)
{
    const CToneFormat fmt = {8, 32, 192000};
    SetFormat(fmt);
    for (int c = 0; c < 8; ++c)
        SetTone(c, c == 3 ? -1 : c == 6 ? 0 : 1000 + 7 * c, -3.0);
    ASSERT_TRUE(FillNext() == m_ref.Render(fmt.BufferFrames()));

    ASSERT_EQ(Tone()->SetFrequency(5, -5), S_OK);
    m_ref.SetFrequency(5, -5);
    const std::vector<BYTE> refused = FillNext(E_INVALIDARG);
    ASSERT_TRUE(m_ref.Render(fmt.BufferFrames()).empty());
    for (size_t i = 0; i < refused.size(); ++i)
    {
        if (i % fmt.BlockAlign() < 5 * 4)
            continue;
        ASSERT_EQ(refused[i], 0xCD) << "byte " << i << " of a channel from the refused one on";
    }

    SetTone(5, 1000, -3.0);
    EXPECT_TRUE(FillNext() == m_ref.Render(fmt.BufferFrames())) << "the channels before 5 went on a whole buffer";
}

// The caches serve the buffers after a tone change, while the frame table waits for the
// tones to stay.
TEST_F(SineCacheFilter, CachesAreFreedByChangesOfTheirToneByAFormatAndAtStop)
{
    const CToneFormat fmt = {3, 24, 96000};
    SetFormat(fmt);
    for (int c = 0; c < 3; ++c)
        SetTone(c, 1000 + c, -6.0);
    const size_t cbSecond = size_t(96000) * 3 + (96000 + CSineCache::BLOCK - 1) / CSineCache::BLOCK;
    FillNext();
    ASSERT_GT(TableBytes(), 0u);
    ASSERT_EQ(Tone()->SetAmplitude(2, -7.0), S_OK);
    FillNext();
    EXPECT_EQ(TableBytes(), 0u);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(CacheBytes(c), cbSecond) << "channel " << c;
    for (int c = 3; c < TONE_SLOTS; ++c)
        EXPECT_EQ(CacheBytes(c), 0u) << "channel " << c << " is not in the format";

    // The same values again change nothing.
    ASSERT_EQ(Tone()->SetFrequency(0, 1000), S_OK);
    ASSERT_EQ(Tone()->SetAmplitude(0, -6.0), S_OK);
    EXPECT_EQ(CacheBytes(0), cbSecond);

    ASSERT_EQ(Tone()->SetAmplitude(0, -12.0), S_OK);
    ASSERT_EQ(Tone()->SetFrequency(1, 997), S_OK);
    EXPECT_EQ(CacheBytes(0), 0u);
    EXPECT_EQ(CacheBytes(1), 0u);
    EXPECT_EQ(CacheBytes(2), cbSecond);

    ASSERT_EQ(Tone()->SetFrequency(2, 0), S_OK);
    FillNext();
    EXPECT_EQ(CacheBytes(0), cbSecond);
    EXPECT_EQ(CacheBytes(1), cbSecond);
    EXPECT_EQ(CacheBytes(2), 0u) << "a constant level keeps no words";

    SetFormat({3, 16, 96000});
    EXPECT_EQ(Filter().SineMemoryBytes(), 0u) << "after a format change";

    // A new format starts on the table at once.
    FillNext();
    EXPECT_EQ(Filter().SineMemoryBytes(), size_t(96000) * 3 * 2 + 375);
    // Unconnected, the filter answers VFW_E_NOT_CONNECTED and still ends its stream.
    m_spFilter->Stop();
    EXPECT_EQ(Filter().SineMemoryBytes(), 0u) << "after Stop";
}
}
}
