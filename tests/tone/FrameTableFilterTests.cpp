// The frame table inside the filter's FillBuffer against CToneReference: every container and
// significant-bit count, buffers that split blocks and wrap at the end of the second, channels
// at different positions after a tone change, squares and constant levels beside the sines;
// when the table is used, when it waits for the tones to stay, and the memory it holds.
#include <cstdint>
#include <string>
#include <vector>

#include "tone/FillFixture.h"

namespace toneapi
{
namespace
{
using tonestream::CToneFormat;
using tonestream::kToneConstant;
using tonestream::kToneSquare;

class FrameTableFilter : public CFillTest
{
protected:
    // Buffers of the given lengths in turn until nTotal frames have gone, each compared.
    void Stream(DWORD nTotal, std::initializer_list<DWORD> lengths, const std::string& what)
    {
        DWORD nDone = 0;
        for (size_t i = 0; nDone < nTotal; ++i)
        {
            const DWORD n = std::min(lengths.begin()[i % lengths.size()], nTotal - nDone);
            ASSERT_TRUE(NextMatches(n)) << what << ": " << n << " frames after " << nDone;
            nDone += n;
        }
    }
};

// Every container with every significant-bit count it can hold, on a few channels and rates
// in turn (tiny rates among them, where a block holds several seconds' wraps).
std::vector<CToneFormat> AllFormats()
{
    const DWORD rates[] = {8000, 11025, 7, 22050, 9, 16000, 44100, 12000, 48000};
    std::vector<CToneFormat> formats;
    for (WORD wContainer : {8, 16, 24, 32})
        for (WORD wValid = 8; wValid <= wContainer; ++wValid)
        {
            const size_t i = formats.size();
            formats.push_back({WORD(1 + i % 6), wValid, rates[i % std::size(rates)], wContainer});
        }
    return formats;
}

TEST_F(FrameTableFilter, EveryFormatMatchesTheReferenceAcrossBlocksSecondsAndToneChanges)
{
    for (const CToneFormat& fmt : AllFormats())
    {
        const std::string name = std::to_string(fmt.nChannels) + " ch, " + std::to_string(fmt.nValidBits) + "/" +
                                 std::to_string(fmt.ContainerBits()) + " bits, " + std::to_string(fmt.nRate) + " Hz";
        SCOPED_TRACE(name);
        SetFormat(fmt);
        const int nTop = int((fmt.nRate - 1) / 2);
        for (int c = 0; c < fmt.nChannels; ++c)
        {
            // The highest sine, the lowest, one between, a constant level and a square wave.
            const int aFreq[] = {nTop, 1, 1 + nTop / 3, kToneConstant, kToneSquare};
            SetTone(c, aFreq[c % 5], -3.0 * c);
        }
        // Lengths that end inside blocks, on their edges and past the end of the second.
        const DWORD nRate = fmt.nRate;
        Stream(nRate + nRate / 2 + 1, {1, 255, 256, 257, nRate / 3 + 1, 2 * nRate + 3}, "first tones");
        ASSERT_GT(TableBytes(), 0u);

        // A new frequency carries channel 0's phase: its position now differs from the others'.
        SetTone(0, nTop > 2 ? nTop - 1 : 1, -1.0);
        Stream(2 * nRate + 2, {nRate / 25 + 1, nRate / 5 + 1}, "after a frequency change");
        EXPECT_GT(TableBytes(), 0u) << "the table is back after a steady second";
        SetTone(fmt.nChannels - 1, nTop, -20.0);
        Stream(2 * nRate + 3, {nRate / 3 + 1, nRate / 7 + 1}, "after a level and frequency change");
        EXPECT_GT(TableBytes(), 0u);
    }
}

// A change under the table puts the buffers on the channels' caches; the table comes back once
// the tones have stayed a second, and never while they change on every buffer.
TEST_F(FrameTableFilter, WaitsForTheTonesToStayASecondAfterAChange)
{
    const CToneFormat fmt = {2, 16, 48000};
    SetFormat(fmt);
    SetTone(0, 440, -6.0);
    SetTone(1, 550, -6.0);
    ASSERT_TRUE(NextMatches());
    EXPECT_GT(TableBytes(), 0u);
    EXPECT_EQ(CacheBytes(0) + CacheBytes(1), 0u) << "the table stands for the caches";

    SetTone(1, 660, -6.0);
    for (int nBuffer = 0; nBuffer < 25; ++nBuffer)
    {
        ASSERT_TRUE(NextMatches()) << "buffer " << nBuffer;
        ASSERT_EQ(TableBytes(), 0u) << "buffer " << nBuffer << " within a second of the change";
        ASSERT_GT(CacheBytes(1), 0u);
    }
    ASSERT_TRUE(NextMatches());
    EXPECT_GT(TableBytes(), 0u) << "a second after the change";
    EXPECT_EQ(CacheBytes(0) + CacheBytes(1), 0u);

    for (int nBuffer = 0; nBuffer < 60; ++nBuffer)
    {
        SetTone(nBuffer % 2, 300 + nBuffer, -6.0);
        ASSERT_TRUE(NextMatches()) << "buffer " << nBuffer;
        ASSERT_EQ(TableBytes(), 0u) << "buffer " << nBuffer << " of a change on every buffer";
    }
}

// The table holds rate x block align bytes and a flag per 256 frames, only where each channel's
// share fits the per-channel bound; squares and constant levels alone need none.
TEST_F(FrameTableFilter, MemoryStaysWithinTheChannelsBoundAndIsFreedAtStop)
{
    struct MemoryCase
    {
        CToneFormat fmt;
        int nFreq;
        size_t cbExpected;
    };
    const MemoryCase cases[] = {
        {{32, 32, 192000}, 1000, size_t(192000) * 128 + 750},
        {{6, 24, 96000}, 1000, size_t(96000) * 18 + 375},
        // A second of 4-byte words and flags over 1 MiB: the per-sample path, holding nothing.
        {{1, 32, 262144}, 1000, 0},
        {{4, 8, 1044000}, 1000, size_t(1044000) * 4 + 4079},
        {{4, 16, 48000}, kToneConstant, 0},
        {{4, 16, 48000}, kToneSquare, 0},
    };
    for (const MemoryCase& mc : cases)
    {
        SCOPED_TRACE(std::to_string(mc.fmt.nChannels) + " ch " + std::to_string(mc.fmt.nRate) + " Hz, tone " +
                     std::to_string(mc.nFreq));
        SetFormat(mc.fmt);
        for (int c = 0; c < mc.fmt.nChannels; ++c)
            SetTone(c, mc.nFreq == 1000 ? 1000 + c : mc.nFreq, -6.0);
        ASSERT_TRUE(NextMatches(mc.fmt.nRate / 10));
        EXPECT_EQ(Filter().SineMemoryBytes(), mc.cbExpected);
        ASSERT_TRUE(NextMatches(mc.fmt.nRate / 10));
        m_spFilter->Stop();
        EXPECT_EQ(Filter().SineMemoryBytes(), 0u) << "after Stop";
        m_ref.ResetPhases();
    }
}
}
}
