// The release archive for those who register by hand: unpacked into a folder whose name has
// blanks and brackets (as "Program Files (x86)" has), install.cmd registers the DLL lying
// there and uninstall.cmd removes the registration; away from the DLL they say so.
#include <gtest/gtest.h>

#include "installer/InstallState.h"
#include "render/ToolRunner.h"
#include "server/ServerTestSupport.h"

using namespace installtest;

namespace
{
CToolRun RunScript(const std::wstring& script, const std::wstring& dir)
{
    WCHAR szSystem[MAX_PATH] = {};
    GetSystemDirectoryW(szSystem, MAX_PATH);
    // Quoted twice, as Explorer does: cmd /c drops the outer quotes of a line with brackets.
    return RunProgram(std::wstring(szSystem) + L"\\cmd.exe", {L"/c", L"\"" + script + L"\""}, dir);
}

class ArchiveScripts : public testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_EQ(servertest::RunRegsvr32(servertest::ModulePath(), true), 0u);
        ASSERT_TRUE(NotRegistered());
    }
    void TearDown() override
    {
        servertest::RunRegsvr32(m_dll, true);
        CoUninitialize();
    }

    const std::wstring m_unpacked = WinePath(TW_UNPACKED_PATH);
    const std::wstring m_dll = m_unpacked + L"\\Tonewell.dll";
    CScratchDir m_scratch;
};

TEST_F(ArchiveScripts, InstallRegistersTheDllBesideItAndUninstallRemovesIt)
{
    EXPECT_EQ(FilesIn(m_unpacked), (std::vector<std::wstring>{L"LICENSE.txt", L"README.txt", L"Tonewell.dll", L"install.cmd",
                                                              L"tonewell-render.exe", L"uninstall.cmd"}));
    EXPECT_EQ(ProductVersion(m_dll), TW_VERSION_TEXT);

    CToolRun run = RunScript(m_unpacked + L"\\install.cmd", m_scratch.Path());
    ASSERT_EQ(run.dwExit, 0u) << run.out << run.err;
    EXPECT_NE(run.out.find("Corvane Tonewell is registered from " + Narrow(m_dll) + "."), std::string::npos) << run.out;
    EXPECT_EQ(_wcsicmp(RegisteredModule().c_str(), m_dll.c_str()), 0) << Narrow(RegisteredModule());
    EXPECT_EQ(ListedAsCaptureSource(), 1u);

    run = RunScript(m_unpacked + L"\\uninstall.cmd", m_scratch.Path());
    ASSERT_EQ(run.dwExit, 0u) << run.out << run.err;
    EXPECT_NE(run.out.find("Corvane Tonewell is no longer registered"), std::string::npos) << run.out;
    EXPECT_TRUE(NotRegistered());
}

TEST_F(ArchiveScripts, AwayFromTheDllTheScriptsSaySoAndRegisterNothing)
{
    for (const wchar_t* pszScript : {L"install.cmd", L"uninstall.cmd"})
    {
        SCOPED_TRACE(Narrow(pszScript));
        const std::wstring script = m_scratch / pszScript;
        ASSERT_TRUE(CopyFileW((m_unpacked + L"\\" + pszScript).c_str(), script.c_str(), FALSE));
        const CToolRun run = RunScript(script, m_scratch.Path());
        EXPECT_EQ(run.dwExit, 2u) << run.out << run.err;
        EXPECT_NE(run.out.find(Narrow(m_scratch / L"Tonewell.dll") + " is missing."), std::string::npos) << run.out;
        EXPECT_TRUE(NotRegistered());
    }
}
}
