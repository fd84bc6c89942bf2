// Files that tonewell-render writes: their format fields, their length in frames and every
// sample, read back by the tests' own reader; settings saved and loaded again; the capture
// sources it lists; rendering against the clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "render/RenderFixture.h"
#include "render/ToneExpect.h"
#include "render/WavReader.h"

namespace
{
const uint16_t kPcm = 1;
const uint16_t kExtensible = 0xFFFE;
// The integer PCM subformat of an extensible block.
const GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

struct CExpectedFile
{
    uint16_t wTag, nChannels, wBits, wValidBits;
    uint32_t dwMask, nRate;
    size_t nFrames;
    std::vector<CTone> tones;
};

// The header fields, the frames and every sample of the file at path.
testing::AssertionResult FileHolds(const std::wstring& path, const CExpectedFile& e)
{
    const CWavContent wav = ReadWav(ReadBytes(path));
    if (!wav.error.empty())
        return testing::AssertionFailure() << Narrow(path) << ": " << wav.error;
    const uint16_t nBlockAlign = uint16_t(e.nChannels * e.wBits / 8);
    const uint32_t cbFmt = e.wTag == kExtensible ? 40 : 16;
    if (wav.wTag != e.wTag || wav.nChannels != e.nChannels || wav.wBits != e.wBits || wav.wValidBits != e.wValidBits ||
        wav.dwMask != e.dwMask || wav.nRate != e.nRate || wav.nBlockAlign != nBlockAlign ||
        wav.nAvgBytes != e.nRate * nBlockAlign || wav.cbFmtChunk != cbFmt)
        return testing::AssertionFailure()
               << "format: tag " << Hex(wav.wTag) << ", " << wav.nChannels << " channels, " << wav.wBits << " bits ("
               << wav.wValidBits << " valid), mask " << Hex(wav.dwMask) << ", " << wav.nRate << " Hz, block " << wav.nBlockAlign << ", " << wav.nAvgBytes << " bytes/s, fmt chunk "
               << wav.cbFmtChunk;
    if (e.wTag == kExtensible && (wav.cbExtra != 22 || !IsEqualGUID(wav.subFormat, kSubtypePcm)))
        return testing::AssertionFailure() << "extensible part: cbSize " << wav.cbExtra << ", subformat not PCM";
    if (wav.Frames() != e.nFrames)
        return testing::AssertionFailure() << wav.Frames() << " frames, expected " << e.nFrames;
    return SamplesMatch(wav, e.tones);
}

std::vector<CTone> Same(size_t n, const CTone& tone)
{
    return std::vector<CTone>(n, tone);
}

struct CFormatCase
{
    const char* pszName;
    std::vector<std::wstring> args;
    const wchar_t* pszOutput;
    CExpectedFile expected;
};

const CFormatCase kFormatCases[] = {
    {"DefaultsFiveSecondsToTonewellWav", {}, L"tonewell.wav",
     {kPcm, 2, 16, 16, 0, 48000, 240000, Same(2, kDefaultTone)}},
    {"Mono8BitsOddLengthIsPadded",
     {L"-c", L"1", L"-b", L"8", L"-r", L"8000", L"-d", L"0.100125", L"-f", L"440", L"-l", L"-3", L"-o", L"out.wav"},
     L"out.wav",
     {kPcm, 1, 8, 8, 0, 8000, 801, {DbTone(440, -3)}}},
    {"SixChannels24BitsWithToneEach",
     {L"--channels", L"6", L"--bits", L"24", L"-d", L"0.1", L"--tone", L"0:440:-1", L"--tone", L"1:0:-6", L"--tone",
      L"2:-1:-3", L"--tone", L"5:7000", L"out.wav"},
     L"out.wav",
     {kExtensible, 6, 24, 24, 0x3F, 48000, 4800,
      {DbTone(440, -1), DbTone(0, -6), DbTone(-1, -3), kDefaultTone, kDefaultTone, {7000, 0.5}}}},
    {"TwentyValidBitsLastBufferCut",
     {L"-b", L"20", L"-r", L"44100", L"-d", L"0.5", L"-f", L"997", L"--level=-0.5", L"out.wav"},
     L"out.wav",
     {kExtensible, 2, 24, 20, 0x3, 44100, 22050, Same(2, DbTone(997, -0.5))}},
    {"TwelveBitsMonoSquareAtFullScale",
     {L"-c", L"1", L"-b", L"12", L"-r", L"8000", L"-d", L"0.25", L"--tone", L"0:-1:0", L"out.wav"},
     L"out.wav",
     {kExtensible, 1, 16, 12, 0x1, 8000, 2000, {{-1, 1.0}}}},
    {"FourChannels32BitsWithMask",
     {L"-c", L"4", L"-b", L"32", L"-r", L"96000", L"-m", L"0x33", L"-d", L"0.05", L"-f", L"0", L"-l", L"-20", L"--tone",
      L"3:-1:-1", L"out.wav"},
     L"out.wav",
     {kExtensible, 4, 32, 32, 0x33, 96000, 4800, {DbTone(0, -20), DbTone(0, -20), DbTone(0, -20), DbTone(-1, -1)}}},
    {"HighestSineAndSilence",
     {L"-r", L"22050", L"-d", L"0.2", L"--tone", L"0:11024:0", L"--tone", L"1:500:-200", L"out.wav"},
     L"out.wav",
     {kPcm, 2, 16, 16, 0, 22050, 4410, {{11024, 1.0}, {500, 0.0}}}},
};

void PrintTo(const CFormatCase& c, std::ostream* os)
{
    *os << c.pszName;
}

class RenderFormats : public RenderTool, public testing::WithParamInterface<CFormatCase>
{
};

TEST_P(RenderFormats, WritesExactlyTheFramesOfTheTones)
{
    const CFormatCase& c = GetParam();
    const CToolRun run = Render(c.args);
    ASSERT_EQ(run.dwExit, 0u) << Printed(run);
    EXPECT_TRUE(FileHolds(m_dir / c.pszOutput, c.expected));
    // Nothing else is left beside it, no temporary file either.
    EXPECT_EQ(m_dir.Files(), std::vector<std::string>{Narrow(c.pszOutput)});
    // One summary line naming the file and its length.
    std::string frames = "(";
    frames += std::to_string(c.expected.nFrames);
    frames += " frames)";
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    EXPECT_EQ(run.out.rfind("Wrote " + Narrow(m_dir / c.pszOutput) + ":", 0), 0u) << run.out;
    EXPECT_NE(run.out.find(frames), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderFormats, testing::ValuesIn(kFormatCases),
                         [](const testing::TestParamInfo<CFormatCase>& info) { return info.param.pszName; });

TEST_F(RenderTool, ReplacesAnExistingFileOnlyWhenDone)
{
    ASSERT_TRUE(WriteBytes(m_dir / L"out.wav", "an older file"));
    const CToolRun run = Render({L"-d", L"0.04", L"out.wav"});
    ASSERT_EQ(run.dwExit, 0u) << Printed(run);
    EXPECT_TRUE(FileHolds(m_dir / L"out.wav", {kPcm, 2, 16, 16, 0, 48000, 1920, Same(2, kDefaultTone)}));
    EXPECT_EQ(m_dir.Files(), std::vector<std::string>{"out.wav"});
}

TEST_F(RenderTool, SavedSettingsRenderAgainAndOptionsChangeThem)
{
    CToolRun run = Render({L"-c", L"6", L"-b", L"20", L"-r", L"96000", L"--tone", L"1:440:-3", L"--tone", L"4:0:-12",
                           L"--save", L"six.tws"});
    ASSERT_EQ(run.dwExit, 0u) << Printed(run);
    // A save without an output file renders nothing.
    ASSERT_EQ(m_dir.Files(), std::vector<std::string>{"six.tws"});

    run = Render({L"--load", L"six.tws", L"-d", L"0.1", L"six.wav"});
    ASSERT_EQ(run.dwExit, 0u) << Printed(run);
    EXPECT_TRUE(FileHolds(m_dir / L"six.wav",
                          {kExtensible, 6, 24, 20, 0x3F, 96000, 9600,
                           {kDefaultTone, DbTone(440, -3), kDefaultTone, kDefaultTone, DbTone(0, -12), kDefaultTone}}));

    run = Render({L"--load", L"six.tws", L"-c", L"2", L"-r", L"48000", L"-d", L"0.1", L"two.wav"});
    ASSERT_EQ(run.dwExit, 0u) << Printed(run);
    EXPECT_TRUE(
        FileHolds(m_dir / L"two.wav", {kExtensible, 2, 24, 20, 0x3, 48000, 4800, {kDefaultTone, DbTone(440, -3)}}));

    // Through the filter and back, the settings keep every byte.
    run = Render({L"--load", L"six.tws", L"--save", L"copy.tws"});
    ASSERT_EQ(run.dwExit, 0u) << Printed(run);
    const std::string saved = ReadBytes(m_dir / L"six.tws");
    EXPECT_FALSE(saved.empty());
    EXPECT_EQ(ReadBytes(m_dir / L"copy.tws"), saved);
}

// A loaded mask stays while the channel count does; with another count it would name
// speakers that are not there, so it goes back to one bit per channel.
TEST_F(RenderTool, LoadedMaskFollowsTheChannelCount)
{
    CToolRun run = Render({L"-c", L"4", L"-m", L"0x33", L"--save", L"quad.tws"});
    ASSERT_EQ(run.dwExit, 0u) << Printed(run);

    run = Render({L"--load", L"quad.tws", L"-d", L"0.04", L"quad.wav"});
    ASSERT_EQ(run.dwExit, 0u) << Printed(run);
    EXPECT_TRUE(FileHolds(m_dir / L"quad.wav", {kExtensible, 4, 16, 16, 0x33, 48000, 1920, Same(4, kDefaultTone)}));

    run = Render({L"--load", L"quad.tws", L"-c", L"3", L"-d", L"0.04", L"three.wav"});
    ASSERT_EQ(run.dwExit, 0u) << Printed(run);
    EXPECT_TRUE(FileHolds(m_dir / L"three.wav", {kExtensible, 3, 16, 16, 0x7, 48000, 1920, Same(3, kDefaultTone)}));
}

TEST_F(RenderTool, ListsTheFilterAmongCaptureSources)
{
    const CToolRun run = Render({L"--list"});
    ASSERT_EQ(run.dwExit, 0u) << Printed(run);
    size_t nLine = run.out.find("{5B7E0C40-8A2D-4F63-9E1B-6D4C3A2F7E90}");
    ASSERT_NE(nLine, std::string::npos) << run.out;
    nLine = run.out.rfind('\n', nLine) + 1;
    const std::string line = run.out.substr(nLine, run.out.find('\n', nLine) - nLine);
    EXPECT_NE(line.find("Corvane Tonewell"), std::string::npos) << line;
    EXPECT_NE(line.find("(Tonewell)"), std::string::npos) << line;
    EXPECT_EQ(run.out.find("not among them"), std::string::npos) << run.out;
}

// --buffer sets the length of the filter's buffers, in whole frames of the format; the file
// is the same stream, and the summary says what the pin agreed.
TEST_F(RenderTool, BufferOptionSetsTheBufferLength)
{
    struct Case
    {
        std::vector<std::wstring> args;
        const char* pszSays;
        CExpectedFile expected;
    };
    const Case cases[] = {
        {{L"-d", L"0.2", L"out.wav"}, "buffers of 40 ms", {kPcm, 2, 16, 16, 0, 48000, 9600, Same(2, kDefaultTone)}},
        {{L"--buffer", L"10", L"-d", L"0.2", L"out.wav"},
         "buffers of 10 ms",
         {kPcm, 2, 16, 16, 0, 48000, 9600, Same(2, kDefaultTone)}},
        // A millisecond at 44100 Hz is 44 frames.
        {{L"-c", L"1", L"-r", L"44100", L"--buffer=1", L"-d", L"0.1", L"out.wav"},
         "buffers of 1 ms",
         {kPcm, 1, 16, 16, 0, 44100, 4410, {kDefaultTone}}},
        {{L"-c", L"6", L"-b", L"24", L"-r", L"96000", L"--buffer", L"1000", L"-d", L"2.5", L"out.wav"},
         "buffers of 1000 ms",
         {kExtensible, 6, 24, 24, 0x3F, 96000, 240000, Same(6, kDefaultTone)}},
    };
    for (const Case& c : cases)
    {
        const CToolRun run = Render(c.args);
        ASSERT_EQ(run.dwExit, 0u) << Printed(run);
        // The summary line ends with it (10 ms is not 100 ms).
        const size_t nAt = run.out.find(std::string(", ") + c.pszSays);
        ASSERT_NE(nAt, std::string::npos) << run.out;
        const size_t nEnd = nAt + 2 + strlen(c.pszSays);
        EXPECT_TRUE(nEnd < run.out.size() && (run.out[nEnd] == '\r' || run.out[nEnd] == '\n')) << run.out;
        EXPECT_TRUE(FileHolds(m_dir / L"out.wav", c.expected)) << c.pszSays;
    }
}

struct CRealtimeCase
{
    const char* pszName;
    bool bQuiet;
};

void PrintTo(const CRealtimeCase& c, std::ostream* os)
{
    *os << c.pszName;
}

class RenderRealtime : public RenderTool, public testing::WithParamInterface<CRealtimeCase>
{
};

// Against the clock the stream takes about as long as it lasts, and the same samples come;
// a render that long shows its progress unless told to be quiet.
TEST_P(RenderRealtime, TakesTheTimeOfTheAudio)
{
    std::vector<std::wstring> args = {L"--realtime", L"-c", L"1", L"-r", L"8000", L"-d", L"1.5", L"out.wav"};
    if (GetParam().bQuiet)
        args.push_back(L"--quiet");
    const CToolRun run = Render(args);
    ASSERT_EQ(run.dwExit, 0u) << Printed(run);
    EXPECT_GE(run.msElapsed, 1000u);
    EXPECT_TRUE(FileHolds(m_dir / L"out.wav", {kPcm, 1, 16, 16, 0, 8000, 12000, {kDefaultTone}}));
    EXPECT_EQ(run.err.find("100.0%") != std::string::npos, !GetParam().bQuiet) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderRealtime, testing::Values(CRealtimeCase{"WithProgress", false},
                                                                CRealtimeCase{"Quiet", true}),
                         [](const testing::TestParamInfo<CRealtimeCase>& info) { return info.param.pszName; });
}
