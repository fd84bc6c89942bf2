// The output pin's IAMStreamConfig and allocator request: its one capability, a format set
// only while stopped that the filter's settings follow, and 40 ms buffers that no byte rate
// can wrap.
#include <climits>

#include "tone/ToneApiFixture.h"

namespace toneapi
{
namespace
{
class ToneStreamConfig : public ToneApiTest
{
protected:
    Bytes DefaultType()
    {
        CAudioType t = CAudioType::Plain(2, 48000, 16);
        t.mt.lSampleSize = 1;
        return TypeBytes(t.Type());
    }
};

TEST_F(ToneStreamConfig, FreshPinOffersTheDefaultTypeAlone)
{
    EXPECT_EQ(CurrentType(m_spFilter), DefaultType());
    CComPtr<IPin> spPin;
    ASSERT_EQ(m_spFilter->FindPin(L"Out", &spPin), S_OK);
    CComPtr<IEnumMediaTypes> spEnum;
    ASSERT_EQ(spPin->EnumMediaTypes(&spEnum), S_OK);
    CTypeOut first, second;
    ASSERT_EQ(spEnum->Next(1, &first, nullptr), S_OK);
    EXPECT_EQ(TypeBytes(first.p), DefaultType());
    EXPECT_EQ(spEnum->Next(1, &second, nullptr), S_FALSE);
}

TEST_F(ToneStreamConfig, OneCapabilityWhateverTheSettings)
{
    int nCount = 0, nSize = 0;
    ASSERT_EQ(Config()->GetNumberOfCapabilities(&nCount, &nSize), S_OK);
    EXPECT_EQ(nCount, 1);
    EXPECT_EQ(nSize, 52);

    AUDIO_STREAM_CONFIG_CAPS expected = {};
    expected.guid = MEDIATYPE_Audio;
    expected.MinimumChannels = 1;
    expected.MaximumChannels = 32;
    expected.ChannelsGranularity = 1;
    expected.MinimumBitsPerSample = 8;
    expected.MaximumBitsPerSample = 32;
    expected.BitsPerSampleGranularity = 1;
    expected.MinimumSampleFrequency = 1;
    expected.MaximumSampleFrequency = 192000;
    expected.SampleFrequencyGranularity = 1;
    const Bytes expectedCaps(reinterpret_cast<BYTE*>(&expected), reinterpret_cast<BYTE*>(&expected + 1));
    // The example is 16-bit stereo at 48000 Hz even when the filter is set otherwise.
    const Bytes expectedExample = ExpectedType(48000, 2, 16, 16, 0);

    ASSERT_EQ(Tone()->SetParameters(24, 6, 0, 96000), S_OK);
    for (int iIndex : {0, -1, INT_MIN})
    {
        SCOPED_TRACE(iIndex);
        Bytes caps(sizeof(AUDIO_STREAM_CONFIG_CAPS), 0xA5);
        CTypeOut example;
        ASSERT_EQ(Config()->GetStreamCaps(iIndex, &example, caps.data()), S_OK);
        EXPECT_EQ(caps, expectedCaps);
        EXPECT_EQ(TypeBytes(example.p), expectedExample);
    }
}

TEST_F(ToneStreamConfig, SetFormatChangesThePinAndTheSettings)
{
    struct ConsistentCase
    {
        const char* pszWhat;
        CAudioType type;
        std::vector<int> settings;
    };
    const ConsistentCase cases[] = {
        {"extensible six channels", CAudioType::Extensible(6, 48000, 24, 24, 0x3F), {24, 6, 0x3F, 48000}},
        {"extensible, a mask of its own", CAudioType::Extensible(4, 96000, 24, 20, 0x33), {20, 4, 0x33, 96000}},
        // A plain block keeps no mask: the settings hold 0.
        {"plain 24-bit stereo", CAudioType::Plain(2, 44100, 24), {24, 2, 0, 44100}},
        {"plain 8-bit mono", CAudioType::Plain(1, 8000, 8), {8, 1, 0, 8000}},
    };
    for (const ConsistentCase& c : cases)
    {
        SCOPED_TRACE(c.pszWhat);
        CAudioType t = c.type;
        ASSERT_EQ(Config()->SetFormat(t.Type()), S_OK);
        // A consistent type is taken as it is.
        EXPECT_EQ(CurrentType(m_spFilter), TypeBytes(t.Type()));
        int anSettings[4] = {};
        ASSERT_EQ(Tone()->GetParameters(&anSettings[0], &anSettings[1], &anSettings[2], &anSettings[3]), S_OK);
        EXPECT_EQ(std::vector<int>(anSettings, anSettings + 4), c.settings);
    }

    // No type: back to the default.
    ASSERT_EQ(Config()->SetFormat(nullptr), S_OK);
    EXPECT_EQ(CurrentType(m_spFilter), DefaultType());
    CAudioType six = CAudioType::Extensible(6, 48000, 24, 24, 0x3F);

    // The filter's own settings take the pin over again.
    ASSERT_EQ(Config()->SetFormat(six.Type()), S_OK);
    ASSERT_EQ(Tone()->SetParameters(8, 1, 0, 8000), S_OK);
    EXPECT_EQ(CurrentType(m_spFilter), ExpectedType(8000, 1, 8, 8, 0));
}

TEST_F(ToneStreamConfig, SetFormatOnlyWhileStopped)
{
    CNullGraph graph;
    ASSERT_EQ(graph.Build(m_spFilter), S_OK);
    const Bytes connected = CurrentType(m_spFilter);
    CAudioType mono = CAudioType::Plain(1, 48000, 16);

    struct StateCase
    {
        const char* pszState;
        HRESULT (IMediaControl::*pfnEnter)();
    };
    for (const StateCase& c : {StateCase{"paused", &IMediaControl::Pause}, StateCase{"running", &IMediaControl::Run}})
    {
        SCOPED_TRACE(c.pszState);
        ASSERT_TRUE(SUCCEEDED((graph.Control()->*c.pfnEnter)()));
        EXPECT_EQ(Config()->SetFormat(mono.Type()), VFW_E_NOT_STOPPED);
        EXPECT_EQ(Config()->SetFormat(nullptr), VFW_E_NOT_STOPPED);
        EXPECT_EQ(CurrentType(m_spFilter), connected);
    }
    ASSERT_EQ(graph.Control()->Stop(), S_OK);
}

TEST_F(ToneStreamConfig, AllocatorRequestsFortyMillisecondsOfAtLeastOneFrame)
{
    struct RequestCase
    {
        int nBits, nChannels, nRate;
        long cbBuffer;
    };
    const RequestCase cases[] = {
        {16, 2, 48000, 7680},
        {16, 2, 44100, 7056},
        {32, 32, 192000, 983040},
        // 40 ms of these hold less than a frame.
        {16, 2, 1, 4},
        {16, 2, 24, 4},
        {32, 32, 3, 128},
        // A byte rate of 2^32 - 128: times 40 it no longer fits in 32 bits.
        {32, 32, 33554431, 171798686},
    };
    for (const RequestCase& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.nBits << " bits, " << c.nChannels << " channels, " << c.nRate << " Hz");
        ASSERT_EQ(Tone()->SetParameters(c.nBits, c.nChannels, 0, c.nRate), S_OK);
        ALLOCATOR_PROPERTIES props = {-1, -1, -1, -1};
        Filter().m_apOut->AllocatorRequest(&props);
        EXPECT_EQ(props.cBuffers, 8);
        EXPECT_EQ(props.cbBuffer, c.cbBuffer);
        EXPECT_EQ(props.cbAlign, 1);
        EXPECT_EQ(props.cbPrefix, 0);
    }
}
}
}
