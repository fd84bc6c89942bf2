// The log sink is loaded only from a full path, and its own imports are found beside it:
// a bare or relative name in the key loads nothing, even where the host's current folder
// holds a library of that name.
#include <gtest/gtest.h>

#include "diagnostics/DSTrace.h"
#include "diagnostics/SinkTrust.h"
#include "trace/TraceProbeClient.h"

namespace
{
TEST(SinkPaths, OnlyPathsFromARootCount)
{
    struct Case
    {
        const wchar_t* pszPath;
        bool bAbsolute;
    };
    const Case cases[] = {
        {L"C:\\sinks\\log.dll", true},
        {L"z:\\work\\log.dll", true},
        {L"\\\\server\\share\\log.dll", true},
        {L"log.dll", false},
        {L".\\log.dll", false},
        {L"..\\bin\\log.dll", false},
        {L"sinks\\log.dll", false},
        {L"C:log.dll", false},
        {L"\\sinks\\log.dll", false},
        {L"\\\\?\\C:\\sinks\\log.dll", false},
        {L"\\\\.\\C:\\sinks\\log.dll", false},
        {L"\\\\\\log.dll", false},
        {L"C:", false},
        {L"", false},
        {nullptr, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SinkPathIsAbsolute(c.pszPath), c.bAbsolute) << (c.pszPath ? testing::PrintToString(c.pszPath) : "null");
}

// The current folder holds testsink.dll, as the program's own folder does.
class RelativeSinkTest : public TraceSinkTest
{
protected:
    void SetUp() override
    {
        GetCurrentDirectoryW(MAX_PATH, m_szKept);
        ASSERT_TRUE(SetCurrentDirectoryW(testsink::ModuleDir().c_str()));
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(m_szKept);
        TraceSinkTest::TearDown();
    }
    WCHAR m_szKept[MAX_PATH] = {};
};

TEST_F(RelativeSinkTest, NamesThatAreNotFullPathsLoadNothing)
{
    std::wstring dir = testsink::ModuleDir();  // "...\bin\"
    const std::wstring parent = dir.substr(0, dir.find_last_of(L'\\', dir.size() - 2) + 1);
    const std::wstring folder = dir.substr(parent.size());                              // "bin\"
    const std::wstring rootRelative = dir.substr(2) + L"testsink.dll";                   // "\...\bin\testsink.dll"
    for (const std::wstring& value : {std::wstring(L"testsink.dll"), std::wstring(L".|testsink.dll"),
                                      L"..|" + folder + L"testsink.dll", rootRelative})
    {
        testsink::SetRegistryValue(value);
        CProbe probe;
        ASSERT_TRUE(probe.IsLoaded());
        EXPECT_FALSE(probe.HasSink()) << testing::PrintToString(value);
        EXPECT_EQ(GetModuleHandleW(L"testsink.dll"), nullptr) << testing::PrintToString(value);
        probe.Trace(atlTraceGeneral, 8, L"formatted and dropped\n");
    }
    // The same library by its full path is the sink.
    LoadProbeWith(L"testsink.dll");
    EXPECT_TRUE(m_probe->HasSink());
}

TEST_F(TraceSinkTest, SinkImportsResolveBesideIt)
{
    // sinkdeps\ holds the sink and the library it imports; the program's folder does not.
    ASSERT_EQ(GetFileAttributesW((testsink::ModuleDir() + L"sinkdep.dll").c_str()), INVALID_FILE_ATTRIBUTES);
    LoadProbeWith(L"sinkdeps\\testsink_dependent.dll");
    EXPECT_TRUE(m_probe->HasSink());
    WCHAR szLoaded[MAX_PATH] = {};
    GetModuleFileNameW(GetModuleHandleW(L"sinkdep.dll"), szLoaded, MAX_PATH);
    EXPECT_EQ(std::wstring(szLoaded), testsink::ModuleDir() + L"sinkdeps\\sinkdep.dll");
}
}
