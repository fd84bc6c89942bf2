// The installer as an administrator uses it under Wine: installed silently, the filter is
// found by the system device enumerator and tonewell-render from the installation folder
// renders the right tone; uninstalled silently, nothing of it is left. An earlier version
// is replaced wherever it was installed, and a second uninstall changes nothing.
#include <gtest/gtest.h>

#include "installer/InstallState.h"
#include "render/ToneExpect.h"
#include "render/ToolRunner.h"
#include "render/WavReader.h"
#include "server/ServerTestSupport.h"

using namespace installtest;

namespace
{
const std::vector<std::wstring> kInstalledFiles = {L"LICENSE.txt", L"README.txt", L"Tonewell.dll", L"tonewell-render.exe",
                                                    L"uninstall.exe"};

std::string Names(const std::vector<std::wstring>& names)
{
    std::string text;
    for (const std::wstring& name : names)
    {
        text += ' ';
        text += Narrow(name);
    }
    return text;
}

// Everything a user and the system see of an install in dir, as the release's version.
testing::AssertionResult InstalledIn(const std::wstring& dir)
{
    std::string wrong;
    if (const auto files = FilesIn(dir); files != kInstalledFiles)
        wrong += "\n  files:" + Names(files);
    if (_wcsicmp(RegisteredModule().c_str(), (dir + L"\\Tonewell.dll").c_str()) != 0)
        wrong += "\n  registered module: " + Narrow(RegisteredModule());
    if (const size_t n = ListedAsCaptureSource(); n != 1)
        wrong += "\n  listed " + std::to_string(n) + " times among the audio capture sources";
    if (const std::wstring version = ProductVersion(dir + L"\\Tonewell.dll"); version != TW_VERSION_TEXT)
        wrong += "\n  the installed module's version: " + Narrow(version);
    const struct
    {
        const wchar_t* pszName;
        std::wstring expected;
    } values[] = {
        {L"DisplayName", L"Corvane Tonewell"},
        {L"DisplayVersion", TW_VERSION_TEXT},
        {L"Publisher", L"Corvane"},
        {L"InstallLocation", dir},
        {L"UninstallString", L"\"" + dir + L"\\uninstall.exe\""},
        {L"QuietUninstallString", L"\"" + dir + L"\\uninstall.exe\" /S"},
    };
    for (const auto& v : values)
    {
        if (const std::wstring value = UninstallValue(v.pszName); value != v.expected)
            wrong += "\n  installed programs' entry " + Narrow(v.pszName) + ": " + Narrow(value);
    }
    if (wrong.empty())
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "installed in " << Narrow(dir) << ", but" << wrong;
}

// Nothing of an install: no registration, no entry, none of the folders.
testing::AssertionResult NothingLeft(const std::vector<std::wstring>& dirs)
{
    testing::AssertionResult result = NotRegistered();
    if (!result)
        return result;
    if (UninstallEntryExists())
        return testing::AssertionFailure() << "the installed programs' entry is left";
    for (const std::wstring& dir : dirs)
    {
        if (DirExists(dir))
            return testing::AssertionFailure() << Narrow(dir) << " is left, holding" << Names(FilesIn(dir));
    }
    return testing::AssertionSuccess();
}

class Installer : public testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        // A run cut short may have left an install; other test programs leave the build's
        // DLL registered, and the filter must be found only through the install.
        if (UninstallEntryExists())
            UninstallSilently();
        ASSERT_EQ(servertest::RunRegsvr32(servertest::ModulePath(), true), 0u);
        ASSERT_TRUE(NothingLeft({m_dir}));
    }
    void TearDown() override
    {
        if (UninstallEntryExists())
            UninstallSilently();
        CoUninitialize();
    }

    const std::wstring m_setup = WinePath(TW_SETUP_PATH);
    const std::wstring m_dir = DefaultInstallDir();
};

TEST_F(Installer, SilentInstallRendersAndSilentUninstallLeavesNothing)
{
    ASSERT_EQ(InstallSilently(m_setup), 0u);
    ASSERT_TRUE(InstalledIn(m_dir));

    CScratchDir scratch;
    const CToolRun run = RunProgram(m_dir + L"\\tonewell-render.exe", {L"-q", L"-d", L"1", L"out.wav"}, scratch.Path());
    ASSERT_EQ(run.dwExit, 0u) << run.out << run.err;
    const CWavContent wav = ReadWav(ReadBytes(scratch / L"out.wav"));
    ASSERT_EQ(wav.error, "");
    EXPECT_EQ(wav.wTag, 1);
    EXPECT_EQ(wav.nChannels, 2);
    EXPECT_EQ(wav.wBits, 16);
    EXPECT_EQ(wav.nRate, 48000u);
    EXPECT_EQ(wav.Frames(), 48000u);
    EXPECT_TRUE(SamplesMatch(wav, {kDefaultTone, kDefaultTone}));

    ASSERT_TRUE(UninstallSilently());
    EXPECT_TRUE(NothingLeft({m_dir}));
}

TEST_F(Installer, UninstallRemovesOnlyWhatItAdded)
{
    ASSERT_EQ(InstallSilently(m_setup), 0u);
    const std::wstring notes = m_dir + L"\\notes.txt";
    ASSERT_TRUE(WriteBytes(notes, "the user's own file"));

    ASSERT_TRUE(UninstallSilently());
    EXPECT_TRUE(NotRegistered());
    EXPECT_FALSE(UninstallEntryExists());
    EXPECT_EQ(FilesIn(m_dir), std::vector<std::wstring>{L"notes.txt"});
    EXPECT_EQ(ReadBytes(notes), "the user's own file");
    DeleteFileW(notes.c_str());
    RemoveDirectoryW(m_dir.c_str());
}

TEST_F(Installer, SecondUninstallChangesNothingAndInstallingAgainWorks)
{
    ASSERT_EQ(InstallSilently(m_setup), 0u);
    CScratchDir scratch;
    const std::wstring copy = scratch / L"uninstall.exe";
    ASSERT_TRUE(CopyFileW((m_dir + L"\\uninstall.exe").c_str(), copy.c_str(), TRUE));
    ASSERT_TRUE(UninstallSilently());
    ASSERT_TRUE(NothingLeft({m_dir}));

    // The same uninstaller once more on the emptied folder: _?= runs it in place, so its
    // exit code is the uninstall's own.
    EXPECT_EQ(RunToTheEnd(L"\"" + copy + L"\" /S _?=" + m_dir), 0u);
    EXPECT_TRUE(NothingLeft({m_dir}));

    ASSERT_EQ(InstallSilently(m_setup), 0u);
    EXPECT_TRUE(InstalledIn(m_dir));
}

// An earlier version installed in one folder, this one installed over it.
struct CUpgradeCase
{
    const char* pszName;
    const wchar_t* pszOlderDir;    // under Program Files
    const wchar_t* pszNewerDir;    // /D= under Program Files; null: not given
    const wchar_t* pszExpectedDir; // where this version ends up
};

const CUpgradeCase kUpgradeCases[] = {
    {"SameFolder", L"Corvane Tonewell", nullptr, L"Corvane Tonewell"},
    // Without /D the installer goes where the earlier version is.
    {"EarlierFolderKept", L"Tonewell 1.0", nullptr, L"Tonewell 1.0"},
    // With /D elsewhere, the earlier folder goes.
    {"MovedElsewhere", L"Tonewell 1.0", L"Corvane Tonewell", L"Corvane Tonewell"},
};

void PrintTo(const CUpgradeCase& c, std::ostream* pOut)
{
    *pOut << c.pszName;
}

class InstallerUpgrade : public Installer, public testing::WithParamInterface<CUpgradeCase>
{
};

TEST_P(InstallerUpgrade, ReplacesTheEarlierVersion)
{
    const CUpgradeCase& c = GetParam();
    const std::wstring olderDir = ProgramFiles() + L"\\" + c.pszOlderDir;
    const std::wstring expectedDir = ProgramFiles() + L"\\" + c.pszExpectedDir;
    ASSERT_EQ(InstallSilently(WinePath(TW_OLDER_SETUP_PATH), olderDir), 0u);
    ASSERT_EQ(UninstallValue(L"DisplayVersion"), L"1.0.0.0");
    ASSERT_EQ(UninstallValue(L"InstallLocation"), olderDir);

    ASSERT_EQ(InstallSilently(m_setup, c.pszNewerDir ? ProgramFiles() + L"\\" + c.pszNewerDir : L""), 0u);
    EXPECT_TRUE(InstalledIn(expectedDir));
    if (olderDir != expectedDir)
    {
        EXPECT_FALSE(DirExists(olderDir)) << "holding" << Names(FilesIn(olderDir));
    }

    ASSERT_TRUE(UninstallSilently());
    EXPECT_TRUE(NothingLeft({olderDir, expectedDir}));
}

INSTANTIATE_TEST_SUITE_P(Cases, InstallerUpgrade, testing::ValuesIn(kUpgradeCases),
                         [](const testing::TestParamInfo<CUpgradeCase>& info) { return info.param.pszName; });
}
