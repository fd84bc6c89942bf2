// The host lets go of a graph that is still streaming: the filter is stopped, its thread
// ends and everything of ours is freed (the fixture's tear-down counts objects, task memory
// and handles).
#include "tone/ToneGraph.h"

namespace tonestream
{
namespace
{
struct ReleaseCase
{
    const char* pszName;
    bool bPause;      // paused before the release; otherwise running
    bool bKeepSamples;  // the downstream still holds every buffer while the graph goes
};

void PrintTo(const ReleaseCase& c, std::ostream* os) { *os << c.pszName; }

class ToneRelease : public ToneGraphTest, public testing::WithParamInterface<ReleaseCase>
{
};

TEST_P(ToneRelease, ReleasingTheGraphStopsAndFreesEverything)
{
    Connect();
    m_spLog->KeepSamples(GetParam().bKeepSamples);
    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(4));
    if (GetParam().bPause)
    {
        ASSERT_TRUE(SUCCEEDED(Pause()));
    }
    HANDLE hThread = OpenThread(SYNCHRONIZE, FALSE, Filter()->m_thread.GetThreadId());
    ASSERT_NE(hThread, nullptr);
    EXPECT_EQ(WaitForSingleObject(hThread, 0), DWORD(WAIT_TIMEOUT));

    m_spTone.Release();
    m_spControl.Release();
    m_spSource.Release();
    m_spGraph.Release();
    m_spGrabber.Release();
    m_spGrabberFilter.Release();
    m_spNull.Release();
    EXPECT_EQ(WaitForSingleObject(hThread, 0), DWORD(WAIT_OBJECT_0)) << "the streaming thread outlived the filter";
    CloseHandle(hThread);
    m_spLog->ReleaseKept();

    for (const std::wstring& e : m_sink.Events())
        EXPECT_EQ(e.find(L"###Err###"), std::wstring::npos) << std::string(e.begin(), e.end());
}

INSTANTIATE_TEST_SUITE_P(Graph, ToneRelease,
                         testing::Values(ReleaseCase{"Running", false, false}, ReleaseCase{"Paused", true, false},
                                         ReleaseCase{"RunningWithBuffersHeld", false, true}),
                         [](const testing::TestParamInfo<ReleaseCase>& info) { return std::string(info.param.pszName); });
}
}
