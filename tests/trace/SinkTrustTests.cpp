// The log sink is the choice of any program the user runs, so an elevated process loads
// none: this program runs elevated (as every Wine process starts) and compares itself and
// the sink host with the same host run under its limited token.
#include <gtest/gtest.h>

#include "common/LimitedToken.h"
#include "diagnostics/DSTrace.h"
#include "diagnostics/SinkTrust.h"
#include "trace/TraceProbeClient.h"

namespace
{
class ElevatedSinkTest : public TraceSinkTest
{
protected:
    void SetUp() override
    {
        if (!testsink::ProcessIsElevated())
            GTEST_SKIP() << "this process is not elevated";
        m_hLimited = testsink::LimitedTokenOfThisProcess();
        ASSERT_NE(m_hLimited, nullptr) << "an elevated process here has a limited twin of its token";
        testsink::SetRegistryValue(PipedPath(L"testsink.dll"));
    }
    void TearDown() override
    {
        if (m_hLimited != nullptr)
            CloseHandle(m_hLimited);
        TraceSinkTest::TearDown();
    }

    DWORD RunSinkHost(HANDLE hToken)
    {
        const std::wstring exe = testsink::ModuleDir() + L"sinkhost.exe";
        return testsink::RunAndWait(hToken, exe, L"\"" + exe + L"\"");
    }

    HANDLE m_hLimited = nullptr;
};

TEST_F(ElevatedSinkTest, OnlyTheLimitedTokenLoadsTheSink)
{
    {
        CProbe probe;
        ASSERT_TRUE(probe.IsLoaded());
        EXPECT_FALSE(probe.HasSink());
        EXPECT_EQ(GetModuleHandleW(L"testsink.dll"), nullptr);
        probe.Trace(atlTraceGeneral, 8, L"formatted and dropped\n");
    }
    EXPECT_EQ(RunSinkHost(nullptr), 1u) << "the host started with this process's elevated token";
    EXPECT_EQ(RunSinkHost(m_hLimited), 0u) << "the same host under the limited token";
}

// The sink host ends without unloading the module: the loader shuts the sink down before
// the module that loaded it, and the module must not call it from its own shutdown.
TEST_F(ElevatedSinkTest, AnEndingProcessCallsNoSinkAlreadyShutDown)
{
    ASSERT_EQ(RunSinkHost(m_hLimited), 0u);
    wchar_t szCall[64] = {};
    DWORD cbCall = sizeof(szCall);
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\_VTMLLOG64", L"CalledAfterShutdown", RRF_RT_REG_SZ,
                           nullptr, szCall, &cbCall),
              LONG(ERROR_FILE_NOT_FOUND))
        << "the sink was called after its shutdown: " << testing::PrintToString(std::wstring(szCall));
}

TEST_F(ElevatedSinkTest, TokensDecide)
{
    HANDLE hOwn = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hOwn));
    EXPECT_FALSE(SinkAllowedForToken(hOwn));
    CloseHandle(hOwn);
    EXPECT_TRUE(SinkAllowedForToken(m_hLimited));
    EXPECT_FALSE(SinkAllowedForToken(nullptr));
}

// LocalSystem does not come by here: its SID goes through the same test as a token's user.
TEST(SinkTrust, LocalSystemIsRefusedElevatedOrNot)
{
    BYTE abSystem[SECURITY_MAX_SID_SIZE], abUsers[SECURITY_MAX_SID_SIZE];
    DWORD cbSystem = sizeof(abSystem), cbUsers = sizeof(abUsers);
    ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, abSystem, &cbSystem));
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinUsersSid, nullptr, abUsers, &cbUsers));
    EXPECT_FALSE(SinkAllowedFor(FALSE, abSystem));
    EXPECT_FALSE(SinkAllowedFor(TRUE, abSystem));
    EXPECT_TRUE(SinkAllowedFor(FALSE, abUsers));
    EXPECT_FALSE(SinkAllowedFor(TRUE, abUsers));
    EXPECT_FALSE(SinkAllowedFor(FALSE, nullptr));
}
}
