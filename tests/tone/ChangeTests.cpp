// Tone and format changes while the graph runs and while it is stopped: where they land in
// the stream, and that the phase goes on without a jump.
#include <memory>

#include "tone/ToneGraph.h"

namespace tonestream
{
namespace
{
struct Tone
{
    int nFreq;
    double dblDb;
};

struct ToneChangeCase
{
    const char* pszName;
    Tone before[2];
    Tone after[2];
    size_t nAt = 2;  // the last sample of the old tones
};

void PrintTo(const ToneChangeCase& c, std::ostream* os) { *os << c.pszName; }

class ToneChange : public ToneGraphTest, public testing::WithParamInterface<ToneChangeCase>
{
};

// The change is made on the streaming thread right after sample nAt passed the grabber,
// so sample nAt + 1 is the first of the new tone: the reference applies it there, phase
// carried, and must then agree with every byte.
TEST_P(ToneChange, ToneChangeTakesEffectAtTheNextBuffer)
{
    const size_t kAt = GetParam().nAt, kBuffers = kAt + 6;
    const CToneFormat fmt = {2, 24, 44100};
    SetFormat(fmt);
    for (int c = 0; c < 2; ++c)
        SetTone(c, GetParam().before[c].nFreq, GetParam().before[c].dblDb);
    Connect();
    auto pDone = std::make_shared<bool>(false);
    m_spLog->m_fnAfter = [this, pDone, kAt](size_t n) {
        if (n != kAt || *pDone)
            return;
        *pDone = true;
        for (int c = 0; c < 2; ++c)
        {
            EXPECT_EQ(m_spTone->SetFrequency(c, GetParam().after[c].nFreq), S_OK);
            EXPECT_EQ(m_spTone->SetAmplitude(c, GetParam().after[c].dblDb), S_OK);
        }
    };
    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(kBuffers));
    ASSERT_EQ(Stop(), S_OK);

    const std::vector<CSampleRecord> records = m_spLog->Records();
    LONGLONG llPos = 0;
    ExpectStream(records, 0, kAt + 1, llPos, true);
    for (int c = 0; c < 2; ++c)
        m_ref.SetTone(c, GetParam().after[c].nFreq, StoredLevel(c, GetParam().after[c].dblDb));
    ExpectStream(records, kAt + 1, kBuffers, llPos, false);
}

INSTANTIATE_TEST_SUITE_P(
    Graph, ToneChange,
    testing::Values(ToneChangeCase{"FrequencyDoubles", {{1000, -6.0}, {441, 0.0}}, {{2000, -6.0}, {441, 0.0}}},
                    ToneChangeCase{"FrequencyOddRatio", {{997, -6.0}, {441, 0.0}}, {{1499, -6.0}, {441, 0.0}}},
                    ToneChangeCase{"FrequencyDown", {{12007, 0.0}, {441, 0.0}}, {{5, 0.0}, {441, 0.0}}},
                    ToneChangeCase{"SineToConstant", {{997, -1.0}, {441, 0.0}}, {{kToneConstant, -1.0}, {441, 0.0}}},
                    ToneChangeCase{"ConstantToSine", {{kToneConstant, -3.0}, {441, 0.0}}, {{1000, -3.0}, {441, 0.0}}},
                    ToneChangeCase{"SineToSquare", {{997, 0.0}, {441, 0.0}}, {{kToneSquare, 0.0}, {441, 0.0}}},
                    ToneChangeCase{"LevelsOnly", {{997, 0.0}, {kToneSquare, 0.0}}, {{997, -20.0}, {kToneSquare, -6.0}}},
                    ToneChangeCase{"ToSilence", {{997, -6.0}, {441, 0.0}}, {{997, -200.0}, {441, -192.0}}},
                    ToneChangeCase{"BothChannels", {{440, -6.0}, {kToneConstant, 0.0}}, {{880, -12.0}, {3, -1.0}}},
                    // 25 buffers are one second: the phase has just come round to 0.
                    ToneChangeCase{"AfterAWholeSecond", {{997, -6.0}, {441, 0.0}}, {{1499, -6.0}, {441, 0.0}}, 24}),
    [](const testing::TestParamInfo<ToneChangeCase>& info) { return std::string(info.param.pszName); });

// A change from the host's thread, racing the streaming thread: it lands between two
// buffers, never inside one, with the phase carried. The format is heavy enough that the
// change comes while few buffers are out.
TEST_F(ToneGraphTest, FrequencyChangeFromTheHostLandsBetweenBuffers)
{
    const CToneFormat fmt = {8, 16, 192000};
    const size_t kCapacity = 400, kAfter = 6;
    SetFormat(fmt);
    for (int c = 0; c < fmt.nChannels; ++c)
        SetTone(c, 997 + 1000 * c, -1.0);
    Connect(kCapacity);
    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(3));
    ASSERT_EQ(m_spTone->SetFrequency(0, 1499), S_OK);
    const size_t nSeen = m_spLog->Seen();
    ASSERT_LT(nSeen + kAfter, kCapacity) << "the stream ran too far ahead to be recorded";
    ASSERT_TRUE(m_spLog->WaitFor(nSeen + kAfter));
    ASSERT_EQ(Stop(), S_OK);
    const std::vector<CSampleRecord> records = m_spLog->Records();

    // The first sample unlike the unchanged tone is where the change landed.
    CToneReference unchanged = m_ref;
    size_t nAt = 0;
    while (nAt < records.size() && unchanged.Render(DWORD(records[nAt].bytes.size() / fmt.BlockAlign())) == records[nAt].bytes)
        ++nAt;
    ASSERT_GE(nAt, 3u);
    // The sample after those seen when the call returned may have been made before it.
    ASSERT_LE(nAt, nSeen + 1) << "the change came after the call returned";
    LONGLONG llPos = 0;
    ExpectStream(records, 0, nAt, llPos, true);
    m_ref.SetFrequency(0, 1499);
    ExpectStream(records, nAt, nSeen + kAfter, llPos, false);
}

// A format change from the host's thread, racing the streaming thread: exactly one sample
// carries the new type, every byte before it is in the old format and every byte from it
// on in the new one.
TEST_F(ToneGraphTest, FormatChangeFromTheHostLandsBetweenBuffers)
{
    const CToneFormat from = {8, 16, 192000}, to = {8, 24, 96000};
    const size_t kCapacity = 400, kAfter = 6;
    SetFormat(from);
    for (int c = 0; c < from.nChannels; ++c)
        SetTone(c, 997 + 1000 * c, -1.0);
    Connect(kCapacity);
    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(3));
    ASSERT_EQ(m_spTone->SetParameters(to.nValidBits, to.nChannels, 0, int(to.nRate)), S_OK);
    const size_t nSeen = m_spLog->Seen();
    ASSERT_LT(nSeen + kAfter, kCapacity) << "the stream ran too far ahead to be recorded";
    ASSERT_TRUE(m_spLog->WaitFor(nSeen + kAfter));
    ASSERT_EQ(Stop(), S_OK);
    const std::vector<CSampleRecord> records = m_spLog->Records();

    size_t nAt = 0;
    while (nAt < records.size() && records[nAt].hrMediaType != S_OK)
        ++nAt;
    ASSERT_GE(nAt, 3u);
    ASSERT_LE(nAt, nSeen + 1) << "no sample after the call carries the new type";
    LONGLONG llPos = 0;
    ExpectStream(records, 0, nAt, llPos, true);
    FollowFormat(to);
    ExpectStream(records, nAt, nSeen + kAfter, llPos, false, true);
}

// A sine and a square wave; the square wave's code does not fit below half of any rate, so
// a format set through ICRVTonewell lowers it.
class ToneSineAndSquare : public ToneGraphTest
{
protected:
    void SetUp() override
    {
        ToneGraphTest::SetUp();
        SetTone(0, 997, -6.0);
        SetTone(1, kToneSquare, -1.0);
    }
};

struct FormatChangeCase
{
    const char* pszName;
    CToneFormat to;
};

void PrintTo(const FormatChangeCase& c, std::ostream* os) { *os << c.pszName; }

class ToneFormatChange : public ToneSineAndSquare, public testing::WithParamInterface<FormatChangeCase>
{
};

// The downstream pin accepts the new format while the graph runs: the sample after the
// change carries the new type, the ones after it none; the buffers keep their size and are
// filled with whole frames of the new format from phase 0; the count goes on and the times
// follow it at the new rate (at 44100 Hz they no longer fall on whole units).
TEST_P(ToneFormatChange, AcceptedFormatChangeRidesOnTheNextSample)
{
    const size_t kAt = 2, kBuffers = 8;
    const CToneFormat to = GetParam().to;
    Connect();
    auto pDone = std::make_shared<bool>(false);
    m_spLog->m_fnAfter = [this, pDone, to](size_t n) {
        if (n != kAt || *pDone)
            return;
        *pDone = true;
        EXPECT_EQ(m_spTone->SetParameters(to.nValidBits, to.nChannels, 0, int(to.nRate)), S_OK);
    };
    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(kBuffers));
    ASSERT_EQ(Stop(), S_OK);

    const std::vector<CSampleRecord> records = m_spLog->Records();
    LONGLONG llPos = 0;
    ExpectStream(records, 0, kAt + 1, llPos, true);
    FollowFormat(to);
    ExpectStream(records, kAt + 1, kBuffers, llPos, false, true);
    int nValid = 0, nChannels = 0, nMask = -1, nRate = 0;
    ASSERT_EQ(m_spTone->GetParameters(&nValid, &nChannels, &nMask, &nRate), S_OK);
    EXPECT_EQ(nValid, to.nValidBits);
    EXPECT_EQ(nChannels, to.nChannels);
    EXPECT_EQ(nMask, 0);
    EXPECT_EQ(DWORD(nRate), to.nRate);
    EXPECT_EQ(FilterErrors(), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(Graph, ToneFormatChange,
                         testing::Values(FormatChangeCase{"To44100Hz", {2, 16, 44100}},
                                         FormatChangeCase{"ToSixChannels24bit", {6, 24, 48000}},
                                         FormatChangeCase{"ToMono8bit8000Hz", {1, 8, 8000}},
                                         FormatChangeCase{"To20of24bit192000Hz", {2, 20, 192000}}),
                         [](const testing::TestParamInfo<FormatChangeCase>& info) {
                             return std::string(info.param.pszName);
                         });

// The downstream pin refuses the new format while the graph runs: SetParameters answers
// with the refusal, the settings and the pin's type stay, and the stream goes on as if
// nothing was asked: no type on any sample, no phase reset.
TEST_F(ToneSineAndSquare, RefusedFormatChangeLeavesTheStreamAlone)
{
    Connect();
    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(3));
    // From now on the grabber takes video only; it answers S_FALSE for audio.
    AM_MEDIA_TYPE mtVideo = {};
    mtVideo.majortype = MEDIATYPE_Video;
    ASSERT_EQ(m_spGrabber->SetMediaType(&mtVideo), S_OK);
    EXPECT_EQ(m_spTone->SetParameters(24, 6, 0, 44100), VFW_E_CHANGING_FORMAT);
    const size_t nSeen = m_spLog->Seen();
    ASSERT_TRUE(m_spLog->WaitFor(nSeen + 6));
    ASSERT_EQ(Stop(), S_OK);

    int nValid = 0, nChannels = 0, nMask = -1, nRate = 0;
    ASSERT_EQ(m_spTone->GetParameters(&nValid, &nChannels, &nMask, &nRate), S_OK);
    EXPECT_EQ(nValid, 16);
    EXPECT_EQ(nChannels, 2);
    EXPECT_EQ(nMask, 0);
    EXPECT_EQ(nRate, 48000);
    CComQIPtr<IAMStreamConfig> spConfig(PinOf(m_spSource, PINDIR_OUTPUT));
    ASSERT_TRUE(spConfig);
    AM_MEDIA_TYPE* pmt = nullptr;
    ASSERT_EQ(spConfig->GetFormat(&pmt), S_OK);
    EXPECT_TRUE(DescribesFormat(*pmt, m_ref.Format()));
    MTFree(pmt);
    EXPECT_EQ(FilterErrors(),
              std::vector<std::wstring>{L"###Err### [Tonewell] SetParameters(): m_spConnected->QueryAcceptMT()=0x1\n"});

    const std::vector<CSampleRecord> records = m_spLog->Records();
    LONGLONG llPos = 0;
    ExpectStream(records, 0, records.size(), llPos, true);
}

struct StoppedChangeCase
{
    const char* pszName;
    CToneFormat to;
    bool bStreamConfig;  // as a capture tool does: the caps' example with three fields changed,
                         // through the pin's IAMStreamConfig::SetFormat; otherwise SetParameters
};

void PrintTo(const StoppedChangeCase& c, std::ostream* os) { *os << c.pszName; }

class ToneStoppedChange : public ToneSineAndSquare, public testing::WithParamInterface<StoppedChangeCase>
{
};

// While stopped the pin is reconnected through the graph, which then hears that it
// changed; the next run streams the new format from 0 in buffers of its own size. A type
// set on the pin becomes the filter's settings too, and lowers the tones the rate cannot play.
TEST_P(ToneStoppedChange, StoppedFormatChangeReconnects)
{
    const CToneFormat to = GetParam().to;
    const size_t kBuffers = 6;
    Connect(kBuffers);
    CComPtr<IMediaEvent> spEvents;
    ASSERT_EQ(m_spGraph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&spEvents)), S_OK);
    if (GetParam().bStreamConfig)
    {
        CComQIPtr<IAMStreamConfig> spConfig(PinOf(m_spSource, PINDIR_OUTPUT));
        ASSERT_TRUE(spConfig);
        AM_MEDIA_TYPE* pmt = nullptr;
        AUDIO_STREAM_CONFIG_CAPS caps;
        ASSERT_EQ(spConfig->GetStreamCaps(0, &pmt, reinterpret_cast<BYTE*>(&caps)), S_OK);
        auto* pWF = reinterpret_cast<WAVEFORMATEX*>(pmt->pbFormat);
        pWF->nChannels = to.nChannels;
        pWF->nSamplesPerSec = to.nRate;
        pWF->wBitsPerSample = to.ContainerBits();
        const HRESULT hr = spConfig->SetFormat(pmt);
        MTFree(pmt);
        ASSERT_EQ(hr, S_OK);
    }
    else
        ASSERT_EQ(m_spTone->SetParameters(to.nValidBits, to.nChannels, 0, int(to.nRate)), S_OK);
    FollowFormat(to);
    bool bChanged = false;
    long lCode;
    LONG_PTR lParam1, lParam2;
    while (!bChanged && spEvents->GetEvent(&lCode, &lParam1, &lParam2, 10000) == S_OK)
    {
        bChanged = lCode == EC_GRAPH_CHANGED;
        spEvents->FreeEventParams(lCode, lParam1, lParam2);
    }
    EXPECT_TRUE(bChanged) << "no EC_GRAPH_CHANGED";
    CMType mtConnected;
    ASSERT_EQ(m_spGrabber->GetConnectedMediaType(&mtConnected), S_OK);
    EXPECT_TRUE(DescribesFormat(mtConnected, to));
    int nValid = 0, nChannels = 0, nMask = -1, nRate = 0;
    ASSERT_EQ(m_spTone->GetParameters(&nValid, &nChannels, &nMask, &nRate), S_OK);
    EXPECT_EQ(nValid, to.nValidBits);
    EXPECT_EQ(nChannels, to.nChannels);
    EXPECT_EQ(DWORD(nRate), to.nRate);

    ASSERT_TRUE(SUCCEEDED(Run()));
    ASSERT_TRUE(m_spLog->WaitFor(kBuffers));
    ASSERT_EQ(Stop(), S_OK);
    const std::vector<CSampleRecord> records = m_spLog->Records();
    EXPECT_EQ(records[0].cbSize, LONG(to.BufferBytes()));
    LONGLONG llPos = 0;
    ExpectStream(records, 0, kBuffers, llPos, true);
    EXPECT_EQ(FilterErrors(), std::vector<std::wstring>{});
}

INSTANTIATE_TEST_SUITE_P(Graph, ToneStoppedChange,
                         testing::Values(StoppedChangeCase{"To44100Hz", {2, 16, 44100}, false},
                                         StoppedChangeCase{"ToSixChannels24bit", {6, 24, 48000}, false},
                                         StoppedChangeCase{"ToMono8bit8000Hz", {1, 8, 8000}, false},
                                         StoppedChangeCase{"To20of24bit192000Hz", {2, 20, 192000}, false},
                                         StoppedChangeCase{"PinTypeSixChannels24bit", {6, 24, 48000}, true},
                                         StoppedChangeCase{"PinTypeMono8bit8000Hz", {1, 8, 8000}, true},
                                         StoppedChangeCase{"PinTypeEight32bit22050Hz", {8, 32, 22050}, true}),
                         [](const testing::TestParamInfo<StoppedChangeCase>& info) {
                             return std::string(info.param.pszName);
                         });
}
}
