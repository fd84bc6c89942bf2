// The output pin's IAMBufferNegotiation: a buffer count and length that a host suggests
// before connecting reach the agreed allocator and the samples in Wine's graph, with every
// byte and time as the reference computes; what the pin refuses, and that none of it
// reaches the saved settings.
#include "tone/ToneApiFixture.h"
#include "tone/ToneGraph.h"

namespace
{
CComPtr<IAMBufferNegotiation> Negotiation(IBaseFilter* pFilter)
{
    return CComQIPtr<IAMBufferNegotiation>(PinOf(pFilter, PINDIR_OUTPUT));
}

ALLOCATOR_PROPERTIES Props(LONG cBuffers, LONG cbBuffer, LONG cbAlign = -1, LONG cbPrefix = -1)
{
    return ALLOCATOR_PROPERTIES{cBuffers, cbBuffer, cbAlign, cbPrefix};
}
}

namespace tonestream
{
namespace
{
struct BufferCase
{
    const char* pszName;
    CToneFormat fmt;
    ALLOCATOR_PROPERTIES suggested;
    LONG cbExpected;       // the length agreed and carried by every sample
    LONG nBuffersAtLeast;  // the count agreed
    size_t nSamples;       // how many samples the test checks
};

void PrintTo(const BufferCase& c, std::ostream* os) { *os << c.pszName; }

class ToneBufferLengths : public ToneGraphTest, public testing::WithParamInterface<BufferCase>
{
};

TEST_P(ToneBufferLengths, SamplesCarryTheSuggestedLengthAndExactTimes)
{
    const BufferCase& c = GetParam();
    SetFormat(c.fmt);
    for (int ch = 0; ch < c.fmt.nChannels; ++ch)
        SetTone(ch, 440 + 97 * ch, -1.0 - ch);
    ASSERT_EQ(Negotiation(m_spSource)->SuggestAllocatorProperties(&c.suggested), S_OK);
    Connect(c.nSamples);

    ALLOCATOR_PROPERTIES agreed = {};
    ASSERT_EQ(Negotiation(m_spSource)->GetAllocatorProperties(&agreed), S_OK);
    EXPECT_EQ(agreed.cbBuffer, c.cbExpected);
    EXPECT_GE(agreed.cBuffers, c.nBuffersAtLeast);

    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(c.nSamples));
    ASSERT_EQ(Stop(), S_OK);
    const std::vector<CSampleRecord> records = m_spLog->Records();
    ASSERT_EQ(records.size(), c.nSamples);
    for (size_t k = 0; k < records.size(); ++k)
        ASSERT_EQ(records[k].bytes.size(), size_t(c.cbExpected)) << "sample " << k;
    LONGLONG llPos = 0;
    ExpectStream(records, 0, records.size(), llPos, true);
    EXPECT_EQ(FilterErrors(), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(
    Graph, ToneBufferLengths,
    testing::Values(
        // 10 ms of the default format, the count left to the pin.
        BufferCase{"Stereo16bit10ms", {2, 16, 48000}, Props(-1, 1920), 1920, 8, 60},
        // 1 ms as a host works it out at 44100 Hz: 44 frames.
        BufferCase{"Mono16bit44100OneMs", {1, 16, 44100}, Props(16, 88), 88, 16, 200},
        // A length between frames goes to the nearest: 1000 bytes of 6-byte frames are 167.
        BufferCase{"Stereo24bitRounded", {2, 24, 44100}, Props(4, 1000), 1002, 4, 60},
        BufferCase{"Six24bit96000QuarterSecond", {6, 24, 96000}, Props(3, 432000), 432000, 3, 10},
        BufferCase{"Mono8bit8000WholeSecond", {1, 8, 8000}, Props(2, 8000), 8000, 2, 6},
        BufferCase{"Eight32bit192000WholeSecond", {8, 32, 192000}, Props(2, 6144000), 6144000, 2, 3},
        // The count alone: 40 ms buffers as without a suggestion.
        BufferCase{"CountOnly", {2, 16, 48000}, Props(3, -1), 7680, 3, 20}),
    [](const testing::TestParamInfo<BufferCase>& info) { return std::string(info.param.pszName); });

TEST_F(ToneGraphTest, ConnectedPinRefusesSuggestionsAndReportsTheAgreement)
{
    Connect();
    const ALLOCATOR_PROPERTIES props = Props(4, 1920);
    EXPECT_EQ(Negotiation(m_spSource)->SuggestAllocatorProperties(&props), VFW_E_ALREADY_CONNECTED);
    ALLOCATOR_PROPERTIES agreed = {};
    ASSERT_EQ(Negotiation(m_spSource)->GetAllocatorProperties(&agreed), S_OK);
    EXPECT_EQ(agreed.cbBuffer, 7680);
    EXPECT_GE(agreed.cBuffers, 8);
    EXPECT_EQ(Negotiation(m_spSource)->GetAllocatorProperties(nullptr), E_POINTER);
}
}
}

namespace toneapi
{
namespace
{
class ToneBufferSuggestions : public ToneApiTest
{
protected:
    ALLOCATOR_PROPERTIES Request()
    {
        ALLOCATOR_PROPERTIES props = {};
        Filter().m_apOut->AllocatorRequest(&props);
        return props;
    }
    HRESULT Suggest(const ALLOCATOR_PROPERTIES& props)
    {
        return Negotiation(m_spFilter)->SuggestAllocatorProperties(&props);
    }
};

void ExpectRequest(const ALLOCATOR_PROPERTIES& actual, const ALLOCATOR_PROPERTIES& expected)
{
    EXPECT_EQ(actual.cBuffers, expected.cBuffers);
    EXPECT_EQ(actual.cbBuffer, expected.cbBuffer);
    EXPECT_EQ(actual.cbAlign, expected.cbAlign);
    EXPECT_EQ(actual.cbPrefix, expected.cbPrefix);
}

TEST_F(ToneBufferSuggestions, RequestFollowsTheSuggestionAndNoPreferenceRestoresTheDefault)
{
    ExpectRequest(Request(), Props(8, 7680, 1, 0));
    ASSERT_EQ(Suggest(Props(5, 960, 16, 8)), S_OK);
    ExpectRequest(Request(), Props(5, 960, 16, 8));
    // Zero alignment and prefix ask for nothing either.
    ASSERT_EQ(Suggest(Props(5, 960, 0, 0)), S_OK);
    ExpectRequest(Request(), Props(5, 960, 1, 0));
    ASSERT_EQ(Suggest(Props(-1, -1, -1, -1)), S_OK);
    ExpectRequest(Request(), Props(8, 7680, 1, 0));
}

TEST_F(ToneBufferSuggestions, RefusedSuggestionsChangeNothing)
{
    ASSERT_EQ(Suggest(Props(6, 1920)), S_OK);
    const ALLOCATOR_PROPERTIES kept = Request();
    struct Bad
    {
        const char* pszWhy;
        ALLOCATOR_PROPERTIES props;
    };
    // 48000 Hz stereo of 16 bits: 1 ms is 48 frames of 4 bytes, 1 s 48000.
    const Bad bad[] = {
        {"no buffers", Props(0, 1920)},
        {"too many buffers", Props(65, 1920)},
        {"no length", Props(4, 0)},
        {"47 frames", Props(4, 188)},
        {"48001 frames", Props(4, 192004)},
        {"the largest length", Props(4, LONG_MAX)},
        {"alignment not a power of two", Props(4, 1920, 3)},
        {"alignment too large", Props(4, 1920, 131072)},
        {"prefix too large", Props(4, 1920, -1, 65537)},
    };
    for (const Bad& b : bad)
    {
        EXPECT_EQ(Suggest(b.props), E_INVALIDARG) << b.pszWhy;
        ExpectRequest(Request(), kept);
    }
    EXPECT_EQ(Negotiation(m_spFilter)->SuggestAllocatorProperties(nullptr), E_POINTER);
    // The limits themselves pass, rounded to whole frames: 190 bytes are 47.5 frames, so 48.
    EXPECT_EQ(Suggest(Props(4, 190)), S_OK);
    EXPECT_EQ(Request().cbBuffer, 192);
    EXPECT_EQ(Suggest(Props(64, 192000)), S_OK);
    EXPECT_EQ(Request().cbBuffer, 192000);
}

TEST_F(ToneBufferSuggestions, LaterFormatKeepsTheLengthWithinItsLimits)
{
    // A second of 48000 Hz stereo is more than a second of 8000 Hz mono of 8 bits.
    ASSERT_EQ(Suggest(Props(4, 192000)), S_OK);
    ASSERT_EQ(Tone()->SetParameters(8, 1, 0, 8000), S_OK);
    EXPECT_EQ(Request().cbBuffer, 8000);
    // A millisecond of 48000 Hz stereo is 1.5 frames of 32 channels of 32 bits: below their
    // 8 frames of 1 ms at 8000 Hz.
    ASSERT_EQ(Tone()->SetParameters(16, 2, 0, 48000), S_OK);
    ASSERT_EQ(Suggest(Props(4, 192)), S_OK);
    ASSERT_EQ(Tone()->SetParameters(32, 32, 0, 8000), S_OK);
    EXPECT_EQ(Request().cbBuffer, 8 * 128);
}

TEST_F(ToneBufferSuggestions, UnconnectedPinHasNoAgreementAndSavesNoSuggestion)
{
    ALLOCATOR_PROPERTIES agreed = Props(1, 2, 3, 4);
    EXPECT_EQ(Negotiation(m_spFilter)->GetAllocatorProperties(&agreed), VFW_E_NOT_CONNECTED);
    const Bytes before = SaveSettings(m_spFilter);
    ASSERT_EQ(Suggest(Props(4, 1920, 8, 8)), S_OK);
    EXPECT_EQ(SaveSettings(m_spFilter), before);
    EXPECT_EQ(before.size(), 414u);
}
}
}
