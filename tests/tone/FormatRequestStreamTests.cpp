// Capture tools' format requests through IAMStreamConfig::SetFormat, streamed: each edited
// start type becomes a connection to Wine's Sample Grabber in the derived format, and every
// byte is the reference's. A request whose reconnection fails changes nothing.
#include <string>

#include "tone/FormatRequestCases.h"
#include "tone/ToneGraph.h"

namespace tonestream
{
namespace
{
using namespace formatrequest;

struct StreamRequestCase
{
    CStart start;
    CRequest request;
};

void PrintTo(const StreamRequestCase& c, std::ostream* os)
{
    *os << c.start.pszName << " to " << c.request.nChannels << " x " << c.request.nBits << " bits at "
        << c.request.nRate << " Hz";
}

// Pairs of the axes rather than their whole product: 21 rows put every start in 7 of them,
// every rate in 3, every channel count in 4 or 5 and every container in 5 or 6.
std::vector<StreamRequestCase> PairwiseCases()
{
    std::vector<StreamRequestCase> cases;
    for (size_t i = 0; i < 21; ++i)
        cases.push_back({kStarts[i % 3], {kChannels[i % 5], kRates[i % 7], kBits[(i + i / 4) % 4]}});
    return cases;
}

class ToneFormatRequestStream : public ToneGraphTest, public testing::WithParamInterface<StreamRequestCase>
{
protected:
    CComQIPtr<IAMStreamConfig> Config() { return CComQIPtr<IAMStreamConfig>(PinOf(m_spSource, PINDIR_OUTPUT)); }
};

TEST_P(ToneFormatRequestStream, EditedTypeStreamsExactlyInTheDerivedFormat)
{
    const CStart& s = GetParam().start;
    const CRequest& r = GetParam().request;
    const CDerived d = Derive(s, r);
    const CToneFormat fmt = {d.nChannels, d.nValid, d.nRate, d.nBits};
    const size_t kBuffers = 6;

    CComQIPtr<IAMStreamConfig> spConfig = Config();
    ASSERT_TRUE(spConfig);
    AM_MEDIA_TYPE* pmt = nullptr;
    ASSERT_EQ(GetStartType(m_spTone, spConfig, s, &pmt), S_OK);
    // A tone above the lower rates' half: the request must lower it.
    ASSERT_EQ(m_spTone->SetFrequency(0, 20000), S_OK);
    Edit(pmt, r);
    const HRESULT hr = spConfig->SetFormat(pmt);
    MTFree(pmt);
    ASSERT_EQ(hr, S_OK);
    int an[4] = {};
    ASSERT_EQ(m_spTone->GetParameters(&an[0], &an[1], &an[2], &an[3]), S_OK);
    EXPECT_EQ(std::vector<int>(an, an + 4), (std::vector<int>{d.nValid, d.nChannels, int(d.nMask), int(d.nRate)}));
    FollowFormat(fmt);
    // The top of the rate on the last channel, another tone on the one before it.
    SetTone(d.nChannels - 1, int((d.nRate - 1) / 2), -1.0);
    if (d.nChannels > 1)
        SetTone(d.nChannels - 2, 997, -3.0);

    Connect(kBuffers);
    CMType mtConnected;
    ASSERT_EQ(m_spGrabber->GetConnectedMediaType(&mtConnected), S_OK);
    EXPECT_TRUE(DescribesFormat(mtConnected, fmt));
    EXPECT_EQ(mtConnected.cbFormat, d.bPlain ? sizeof(WAVEFORMATEX) : sizeof(WAVEFORMATEXTENSIBLE));
    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(kBuffers));
    ASSERT_EQ(Stop(), S_OK);
    const std::vector<CSampleRecord> records = m_spLog->Records();
    EXPECT_EQ(records[0].cbSize, LONG(fmt.BufferBytes()));
    LONGLONG llPos = 0;
    ExpectStream(records, 0, kBuffers, llPos, true);
    EXPECT_EQ(FilterErrors(), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(Graph, ToneFormatRequestStream, testing::ValuesIn(PairwiseCases()),
                         [](const testing::TestParamInfo<StreamRequestCase>& info) {
                             const StreamRequestCase& c = info.param;
                             return std::string(c.start.pszName) + "To" + std::to_string(c.request.nChannels) + "x" +
                                    std::to_string(c.request.nBits) + "at" + std::to_string(c.request.nRate);
                         });

using ToneFormatRequestReconnect = ToneGraphTest;

// The grabber turned to video refuses the reconnection: the call fails, the graph still hears
// that it changed, and the settings and the pin's type are what they were.
TEST_F(ToneFormatRequestReconnect, FailedReconnectionChangesNothing)
{
    Connect();
    CComQIPtr<IAMStreamConfig> spConfig(PinOf(m_spSource, PINDIR_OUTPUT));
    ASSERT_TRUE(spConfig);
    AM_MEDIA_TYPE* pmtBefore = nullptr;
    ASSERT_EQ(spConfig->GetFormat(&pmtBefore), S_OK);
    CMType mtBefore;
    mtBefore = pmtBefore;
    MTFree(pmtBefore);

    AM_MEDIA_TYPE video = {};
    video.majortype = MEDIATYPE_Video;
    ASSERT_EQ(m_spGrabber->SetMediaType(&video), S_OK);
    AM_MEDIA_TYPE* pmt = nullptr;
    ASSERT_EQ(GetStartType(m_spTone, spConfig, kCapsExample, &pmt), S_OK);
    Edit(pmt, {6, 96000, 24});
    const HRESULT hr = spConfig->SetFormat(pmt);
    MTFree(pmt);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;

    int an[4] = {};
    ASSERT_EQ(m_spTone->GetParameters(&an[0], &an[1], &an[2], &an[3]), S_OK);
    EXPECT_EQ(std::vector<int>(an, an + 4), (std::vector<int>{16, 2, 0, 48000}));
    AM_MEDIA_TYPE* pmtAfter = nullptr;
    ASSERT_EQ(spConfig->GetFormat(&pmtAfter), S_OK);
    EXPECT_EQ(pmtAfter->cbFormat, mtBefore.cbFormat);
    EXPECT_EQ(memcmp(pmtAfter->pbFormat, mtBefore.pbFormat, mtBefore.cbFormat), 0);
    MTFree(pmtAfter);

    CComPtr<IMediaEvent> spEvents;
    ASSERT_EQ(m_spGraph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&spEvents)), S_OK);
    bool bChanged = false;
    long lCode;
    LONG_PTR lParam1, lParam2;
    while (!bChanged && spEvents->GetEvent(&lCode, &lParam1, &lParam2, 0) == S_OK)
    {
        bChanged = lCode == EC_GRAPH_CHANGED;
        spEvents->FreeEventParams(lCode, lParam1, lParam2);
    }
    EXPECT_TRUE(bChanged) << "no EC_GRAPH_CHANGED";
    size_t nReconnectErrors = 0;
    for (const std::wstring& e : m_sink.Events())
        if (e.find(L"###Err### [Tonewell Out] IAMStreamConfig::SetFormat(): m_pFilter->ReconnectPin()=0x") !=
            std::wstring::npos)
            ++nReconnectErrors;
    EXPECT_EQ(nReconnectErrors, 1u);
}
}
}
