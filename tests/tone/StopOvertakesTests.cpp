// A Stop that comes between the streaming thread's state test and its buffer request: Stop
// leaves Running, then decommits the allocator, so the request is refused with
// VFW_E_NOT_COMMITTED. That is the end of the stream and no error; the same refusal while the
// filter still runs remains one. A fast synthesis makes the thread sit in that window often.
#include "tone/ToneGraph.h"

namespace tonestream
{
namespace
{
class ToneStopOvertakes : public ToneGraphTest
{
protected:
    // What Stop does after leaving Running and before the state Stopped.
    HRESULT Decommit() { return Filter()->m_apOut->AllocatorActivate(FALSE); }
    HRESULT Recommit() { return Filter()->m_apOut->AllocatorActivate(TRUE); }
};

TEST_F(ToneStopOvertakes, ARequestRefusedAfterTheFilterLeftRunningIsNoError)
{
    Connect();
    ASSERT_TRUE(SUCCEEDED(Pause())) << "a live source cannot cue: S_FALSE";
    ASSERT_EQ(Decommit(), S_OK);
    CComPtr<IMediaSample> spSample;
    EXPECT_EQ(Filter()->PrepareSample(&spSample), VFW_E_NOT_COMMITTED);
    EXPECT_FALSE(spSample);
    EXPECT_EQ(FilterErrors(), std::vector<std::wstring>{});
    EXPECT_EQ(Filter()->m_llPosition, 0);
    ASSERT_EQ(Recommit(), S_OK);
    ASSERT_EQ(Stop(), S_OK);
}

TEST_F(ToneStopOvertakes, TheSameRefusalWhileRunningIsReported)
{
    Connect();
    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(2));
    ASSERT_EQ(Decommit(), S_OK);
    ASSERT_TRUE(Eventually([this] { return FilterErrors().size() >= 2; }));
    const std::vector<std::wstring> expected = {
        L"###Err### [Tonewell] PrepareSample(): smp.GetSample()=0x80040211\n",
        L"###Err### [Tonewell] Send(): PrepareSample()=0x80040211\n"};
    EXPECT_EQ(FilterErrors(), expected);
    ASSERT_EQ(Recommit(), S_OK);
    ASSERT_EQ(Stop(), S_OK);
}
}
}
