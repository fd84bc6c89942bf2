// The frame table inside the filter's FillBuffer against CToneReference: every container and
// significant-bit count, buffers that split blocks and wrap at the end of the second, channels
// at different positions after a tone change, squares and constant levels beside the sines;
// when the table is used, when it waits for the tones to stay, and the memory it holds.
#include <cstdint>
#include <string>

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

// clang-format off
const CToneFormat kFormats[] = {
    {2, 8, 8000},     {3, 9, 11025},    {1, 10, 7},       {4, 11, 22050},   {2, 12, 44100},  {5, 13, 8000},
    {2, 14, 16000},   {3, 15, 12000},   {2, 16, 48000},   {6, 17, 8000},    {2, 18, 11025},  {3, 19, 22050},
    {2, 20, 44100},   {4, 21, 8000},    {2, 22, 16000},   {3, 23, 9},       {2, 24, 48000},  {5, 25, 8000},
    {2, 26, 11025},   {3, 27, 22050},   {2, 28, 24000},   {4, 29, 8000},    {2, 30, 16000},  {3, 31, 12000},
    {8, 32, 44100},
    // Containers wider than the significant bits need.
    {2, 8, 8000, 32}, {3, 12, 11025, 24}, {2, 20, 8000, 32}, {2, 8, 22050, 16},
};
// clang-format on

TEST_F(FrameTableFilter, EveryFormatMatchesTheReferenceAcrossBlocksSecondsAndToneChanges)
{
    for (const CToneFormat& fmt : kFormats)
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
