// The tone filter streams through Wine's graph: every delivered byte is what the reference
// computes, over formats of 1 to 32 channels, 8- to 32-bit containers with and without
// spare bits and rates from 8000 to 192000 Hz, with a different tone on every channel.
#include "tone/ToneGraph.h"

namespace tonestream
{
namespace
{
// The reference's packing against words worked out by hand: scale ends, rounding, spare
// low bits and the 8-bit excess-128 code. A reference wrong here would pass a filter
// that is wrong the same way.
struct WordCase
{
    double dblLevel;
    WORD nBits, nValidBits;
    DWORD dwWord;
};

TEST(ToneReferenceWords, PackLevelsAsStored)
{
    const WordCase cases[] = {
        {1.0, 16, 16, 0x7FFF},       {-1.0, 16, 16, 0x8000},     {0.5, 16, 16, 0x4000},
        {0.0, 16, 16, 0x0000},       {1.0, 24, 20, 0x7FFFF0},    {-1.0, 24, 20, 0x800000},
        {1.0, 8, 8, 0xFF},           {0.0, 8, 8, 0x80},          {-1.0, 8, 8, 0x00},
        {1.0, 32, 32, 0x7FFFFFFF},   {-1.0, 32, 32, 0x80000001}, {-1.0, 32, 28, 0x80000000},
        {0.5, 8, 8, 0xC0},           {-0.5, 16, 12, 0xC000},     {1e-9, 32, 32, 0x00000002},
        {-1e-9, 32, 32, 0xFFFFFFFE}, {-1e-9, 16, 16, 0xFFFF},    {-1e-9, 8, 8, 0x7F},
    };
    for (const WordCase& c : cases)
        EXPECT_EQ(CToneReference::SampleWord(c.dblLevel, c.nBits, c.nValidBits), c.dwWord)
            << c.dblLevel << " in " << c.nValidBits << " of " << c.nBits << " bits";
}

TEST(ToneReferenceWords, TimesTruncate)
{
    EXPECT_EQ(CToneReference::FramesToTime(48000, 48000), 10000000);
    EXPECT_EQ(CToneReference::FramesToTime(1, 44100), 226);
    EXPECT_EQ(CToneReference::FramesToTime(1920, 44100), 435374);
    EXPECT_EQ(CToneReference::FramesToTime(1280, 32001), 399987);
    // A day of 192 kHz: whole seconds and the rest apart, nothing wraps.
    EXPECT_EQ(CToneReference::FramesToTime(86400LL * 192000 + 1, 192000), 864000000000LL + 52);
}

struct FormatCase
{
    const char* pszName;
    CToneFormat fmt;
    size_t nBuffers;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.pszName; }

// The tone of channel c: sines from 1 Hz to the highest the rate allows, constant levels,
// square waves; full scale, attenuated and silent.
struct Tone
{
    int nFreq;
    double dblDb;
};

Tone ToneOf(int c, DWORD nRate)
{
    const int nHighest = int((nRate - 1) / 2);
    const int nShift = 113 * (c / 7);
    switch (c % 7)
    {
    case 0: return {1000 + nShift, -6.0};
    case 1: return {nHighest - nShift, 0.0};
    case 2: return {kToneConstant, -3.0 - c};
    case 3: return {kToneSquare, c < 7 ? 0.0 : -1.5 * c};
    case 4: return {1 + nShift, -20.0};
    case 5: return {997 + nShift, -200.0};
    default: return {441 + nShift, -0.5};
    }
}

class ToneFormats : public ToneGraphTest, public testing::WithParamInterface<FormatCase>
{
};

TEST_P(ToneFormats, EveryByteAsTheReferenceComputes)
{
    const CToneFormat& fmt = GetParam().fmt;
    const size_t nBuffers = GetParam().nBuffers;
    SetFormat(fmt);
    for (int c = 0; c < fmt.nChannels; ++c)
        SetTone(c, ToneOf(c, fmt.nRate).nFreq, ToneOf(c, fmt.nRate).dblDb);
    Connect(nBuffers);
    CMType mtConnected;
    ASSERT_EQ(m_spGrabber->GetConnectedMediaType(&mtConnected), S_OK);
    EXPECT_TRUE(DescribesFormat(mtConnected, fmt));

    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(nBuffers));
    ASSERT_EQ(Stop(), S_OK);

    const std::vector<CSampleRecord> records = m_spLog->Records();
    ASSERT_EQ(records.size(), nBuffers);
    EXPECT_EQ(records[0].cbSize, LONG(fmt.BufferBytes()));
    LONGLONG llPos = 0;
    ExpectStream(records, 0, nBuffers, llPos, true);
    EXPECT_EQ(FilterErrors(), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(
    Graph, ToneFormats,
    testing::Values(FormatCase{"Mono8bit8000", {1, 8, 8000}, 30}, FormatCase{"Stereo16bit44100", {2, 16, 44100}, 30},
                    FormatCase{"Stereo12of16bit48000", {2, 12, 48000}, 30},
                    FormatCase{"Stereo8bit192000", {2, 8, 192000}, 12},
                    FormatCase{"Six20of24bit48000", {6, 20, 48000}, 20},
                    FormatCase{"Six24bit192000", {6, 24, 192000}, 10},
                    FormatCase{"Six16bit11025OddFrames", {6, 16, 11025}, 30},
                    FormatCase{"Mono32bit44100", {1, 32, 44100}, 30},
                    FormatCase{"Stereo16bit32001", {2, 16, 32001}, 30},
                    FormatCase{"ThirtyTwo28of32bit8000", {32, 28, 8000}, 30},
                    FormatCase{"ThirtyTwo13of16bit44100", {32, 13, 44100}, 8},
                    FormatCase{"ThirtyTwo32bit192000", {32, 32, 192000}, 4}),
    [](const testing::TestParamInfo<FormatCase>& info) { return std::string(info.param.pszName); });
}
}
