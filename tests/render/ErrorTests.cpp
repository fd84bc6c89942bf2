// Runs that must fail: each with its own exit code and a message a person can act on, and
// none of them touching the file already under the output name or leaving another behind.
#include <gtest/gtest.h>

#include "render/RenderFixture.h"

namespace
{
const DWORD kUsage = 1, kNotRegistered = 2, kRefused = 3, kOutput = 4, kRender = 5;
const char kOldContent[] = "the file that was here before";
const char kBadSettings[] = "these are not the filter's settings, though as long as them or longer";

struct CErrorCase
{
    const char* pszName;
    std::vector<std::wstring> args;
    DWORD dwExit;
    const char* pszSays;
};

const CErrorCase kErrorCases[] = {
    {"UnknownOption", {L"--colour", L"red", L"out.wav"}, kUsage, "unknown option '--colour'"},
    {"NotANumber", {L"--bits", L"many", L"out.wav"}, kUsage, "--bits needs a whole number, not 'many'"},
    {"ValueMissing", {L"out.wav", L"--rate"}, kUsage, "--rate needs a whole number of hertz"},
    {"SwitchWithValue", {L"--quiet=yes", L"out.wav"}, kUsage, "--quiet takes no value"},
    {"TwoOutputs", {L"out.wav", L"other.wav"}, kUsage, "more than one output file"},
    {"PlayWithOutputFile", {L"--play", L"out.wav"}, kUsage, "--play writes no file, but 'out.wav' was given"},
    {"ZeroDuration", {L"--duration", L"0", L"out.wav"}, kUsage, "--duration needs a number of seconds above 0, not '0'"},
    {"ToneWithoutFrequency", {L"--tone", L"1", L"out.wav"}, kUsage, "--tone needs CHANNEL:HZ or CHANNEL:HZ:DB"},
    {"ShorterThanAFrame", {L"-r", L"8000", L"-d", L"0.00001", L"out.wav"}, kUsage, "shorter than one frame at 8000 Hz"},
    {"BitsAbove32", {L"-b", L"33", L"out.wav"}, kRefused, "--bits 33 is outside 8..32"},
    {"BitsBelow8", {L"-b", L"7", L"out.wav"}, kRefused, "--bits 7 is outside 8..32"},
    {"NoChannels", {L"-c", L"0", L"out.wav"}, kRefused, "--channels 0 is outside 1..32"},
    {"ThirtyThreeChannels", {L"-c", L"33", L"out.wav"}, kRefused, "--channels 33 is outside 1..32"},
    {"RateZero", {L"-r", L"0", L"out.wav"}, kRefused, "--rate must be above 0"},
    {"ByteRateBeyond32Bits", {L"-c", L"32", L"-b", L"32", L"-r", L"2000000000", L"out.wav"}, kRefused,
     "makes more than 4 GiB per second"},
    {"ChannelBeyondCount", {L"--tone", L"2:1000", L"out.wav"}, kRefused,
     "channel 2 does not exist: the format has 2 channels, numbered from 0"},
    {"LevelOnChannelBeyondCount", {L"-c", L"1", L"--tone", L"1:1000:-3", L"out.wav"}, kRefused,
     "channel 1 does not exist: the format has 1 channel, numbered from 0"},
    {"HalfTheRate", {L"-f", L"24000", L"out.wav"}, kRefused, "24000 Hz is not below half the rate (48000 Hz / 2)"},
    {"HalfTheNewRate", {L"-r", L"8000", L"--tone", L"1:4000", L"out.wav"}, kRefused, "4000 Hz is not below half the rate"},
    {"LevelAboveFullScale", {L"-l", L"3", L"out.wav"}, kRefused, "levels are at most 0 dB"},
    {"NoSuchTone", {L"-f", L"-5", L"out.wav"}, kRefused, "there is no tone of -5 Hz"},
    {"BufferNotANumber", {L"--buffer", L"short", L"out.wav"}, kUsage, "--buffer needs a whole number of milliseconds"},
    {"BufferZero", {L"--buffer", L"0", L"out.wav"}, kRefused, "the filter refused buffers of 0 ms"},
    {"BufferOverASecond", {L"--buffer", L"1001", L"out.wav"}, kRefused, "--buffer takes 1..1000 ms"},
    {"SettingsNotTheFilters", {L"--load", L"bad.tws", L"out.wav"}, kRefused, "the filter refused the settings in"},
    {"SettingsFileMissing", {L"--load", L"none.tws", L"out.wav"}, kOutput, "cannot read the settings file"},
    {"SettingsFileUnwritable", {L"--save", L"nowhere\\s.tws"}, kOutput, "cannot write the settings file"},
    {"DirectoryMissing", {L"nowhere\\out.wav"}, kOutput, "cannot write"},
    {"OverFourGiB", {L"-c", L"32", L"-b", L"32", L"-r", L"192000", L"-d", L"200", L"out.wav"}, kOutput,
     "more than a WAV file holds (4 GiB)"},
};

void PrintTo(const CErrorCase& c, std::ostream* os)
{
    *os << c.pszName;
}

class RenderErrors : public RenderTool, public testing::WithParamInterface<CErrorCase>
{
};

TEST_P(RenderErrors, ExplainAndLeaveTheOutputAlone)
{
    ASSERT_TRUE(WriteBytes(m_dir / L"out.wav", kOldContent));
    ASSERT_TRUE(WriteBytes(m_dir / L"bad.tws", kBadSettings));
    const CErrorCase& c = GetParam();
    const CToolRun run = Render(c.args);
    EXPECT_EQ(run.dwExit, c.dwExit) << Printed(run);
    EXPECT_NE(run.err.find(c.pszSays), std::string::npos) << Printed(run);
    EXPECT_EQ(run.out.find("Wrote"), std::string::npos) << run.out;
    EXPECT_EQ(ReadBytes(m_dir / L"out.wav"), kOldContent);
    EXPECT_EQ(m_dir.Files(), (std::vector<std::string>{"bad.tws", "out.wav"}));
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderErrors, testing::ValuesIn(kErrorCases),
                         [](const testing::TestParamInfo<CErrorCase>& info) { return info.param.pszName; });

// Ctrl+C while the graph runs, as it begins or once progress shows: the tool stops the
// graph, removes its unfinished file, and its message stands on a line of its own.
struct CInterruptCase
{
    const char* pszName;
    bool bAfterProgress;
};

void PrintTo(const CInterruptCase& c, std::ostream* os)
{
    *os << c.pszName;
}

class RenderInterrupted : public RenderTool, public testing::WithParamInterface<CInterruptCase>
{
protected:
    // The unfinished file appears beside the output as the render begins; the progress
    // line comes on stderr after a second of it.
    bool ReachedPoint() const
    {
        return GetParam().bAfterProgress ? ReadBytes(m_dir.Path() + L".err").find('%') != std::string::npos
                                         : m_dir.Files().size() == 2;
    }
};

TEST_P(RenderInterrupted, LeavesTheOutputAlone)
{
    ASSERT_TRUE(WriteBytes(m_dir / L"out.wav", kOldContent));
    bool bSent = false;
    const CToolRun run = RunRender({L"--realtime", L"-d", L"60", L"out.wav"}, m_dir.Path(),
                                   [&](const PROCESS_INFORMATION& pi) {
                                       while (!ReachedPoint() && WaitForSingleObject(pi.hProcess, 10) == WAIT_TIMEOUT)
                                       {
                                       }
                                       bSent = ReachedPoint() && SendCtrlC(pi.dwProcessId);
                                   });
    ASSERT_TRUE(bSent) << Printed(run);
    EXPECT_EQ(run.dwExit, kRender) << Printed(run);
    const size_t at = run.err.find("tonewell-render: interrupted after");
    ASSERT_NE(at, std::string::npos) << Printed(run);
    EXPECT_TRUE(at == 0 || run.err[at - 1] == '\n') << Printed(run);
    EXPECT_EQ(ReadBytes(m_dir / L"out.wav"), kOldContent);
    EXPECT_EQ(m_dir.Files(), std::vector<std::string>{"out.wav"});
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderInterrupted,
                         testing::Values(CInterruptCase{"AsItBegins", false}, CInterruptCase{"DuringProgress", true}),
                         [](const testing::TestParamInfo<CInterruptCase>& info) { return info.param.pszName; });

// The filter cannot be created: not registered at all, or registered from a DLL that is gone.
// Either way the message gives the command that registers the build's DLL.
struct CMissingCase
{
    const char* pszName;
    bool bRegisterACopyThatGoes;
    const char* pszSays;
};

void PrintTo(const CMissingCase& c, std::ostream* os)
{
    *os << c.pszName;
}

class RenderWithoutFilter : public RenderTool, public testing::WithParamInterface<CMissingCase>
{
protected:
    void TearDown() override { EXPECT_EQ(Regsvr32(true), 0u) << "the DLL is registered again"; }
};

TEST_P(RenderWithoutFilter, SaysHowToRegisterIt)
{
    ASSERT_EQ(Regsvr32(false), 0u);
    if (GetParam().bRegisterACopyThatGoes)
    {
        CScratchDir copyDir;
        const std::wstring copy = copyDir / L"Tonewell.dll";
        ASSERT_TRUE(CopyFileW((BinDir() + L"\\Tonewell.dll").c_str(), copy.c_str(), FALSE));
        WCHAR szSystem[MAX_PATH] = {};
        GetSystemDirectoryW(szSystem, MAX_PATH);
        ASSERT_EQ(RunProgram(std::wstring(szSystem) + L"\\regsvr32.exe", {L"/s", copy}, copyDir.Path()).dwExit, 0u);
    }
    const CToolRun run = Render({L"out.wav"});
    EXPECT_EQ(run.dwExit, kNotRegistered) << Printed(run);
    EXPECT_NE(run.err.find(GetParam().pszSays), std::string::npos) << Printed(run);
    const std::string command = "regsvr32 \"" + Narrow(BinDir()) + "\\Tonewell.dll\"";
    EXPECT_NE(run.err.find(command), std::string::npos) << Printed(run);
    EXPECT_TRUE(m_dir.Files().empty());
    if (GetParam().bRegisterACopyThatGoes)
        return;

    const CToolRun list = Render({L"--list"});
    EXPECT_EQ(list.dwExit, 0u) << Printed(list);
    EXPECT_NE(list.out.find("The Tonewell filter is not among them; register it with: " + command), std::string::npos)
        << Printed(list);
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderWithoutFilter,
                         testing::Values(CMissingCase{"NotRegistered", false, "the Tonewell filter is not registered"},
                                         CMissingCase{"DllGone", true, "but cannot be created"}),
                         [](const testing::TestParamInfo<CMissingCase>& info) { return info.param.pszName; });
}
