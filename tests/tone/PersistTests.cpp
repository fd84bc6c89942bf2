// The settings through IPersistStream on a platform memory stream: the 414 bytes field by
// field, a restore into a fresh filter, and every rule by which Load keeps, corrects or
// refuses what it read.
#include <algorithm>
#include <climits>
#include <functional>
#include <limits>

#include "tone/ToneApiFixture.h"

namespace toneapi
{
namespace
{
class TonePersist : public ToneApiTest
{
};

TEST_F(TonePersist, SavesFourHundredFourteenBytesFieldByField)
{
    ULARGE_INTEGER cbMax = {};
    ASSERT_EQ(Persist()->GetSizeMax(&cbMax), S_OK);
    EXPECT_EQ(cbMax.QuadPart, 414u);
    EXPECT_EQ(SaveSettings(m_spFilter), CSavedSettings().ToBytes());

    // Values that tell every field from its neighbours.
    ASSERT_EQ(Tone()->SetParameters(20, 6, 0x3F, 96000), S_OK);
    CSavedSettings expected;
    expected.nChannels = 6;
    expected.nChannelMask = 0x3F;
    expected.nBitsPerSample = 24;
    expected.nValidBitsPerSample = 20;
    expected.nSamplesPerSec = 96000;
    for (int c = 0; c < 6; ++c)
    {
        ASSERT_EQ(Tone()->SetFrequency(c, 100 * (c + 1)), S_OK);
        expected.anFreq[c] = 100 * (c + 1);
    }
    ASSERT_EQ(Tone()->SetAmplitude(0, 0.0), S_OK);
    expected.adblLevel[0] = 1.0;
    ASSERT_EQ(Tone()->SetAmplitude(1, -200.0), S_OK);
    expected.adblLevel[1] = 0.0;
    EXPECT_EQ(SaveSettings(m_spFilter), expected.ToBytes());
}

TEST_F(TonePersist, RestoresASixChannelFilterIntoAFreshOne)
{
    ASSERT_EQ(Tone()->SetParameters(20, 6, 0x3F, 96000), S_OK);
    for (int c = 0; c < 6; ++c)
    {
        ASSERT_EQ(Tone()->SetFrequency(c, 250 * (c + 1)), S_OK);
        ASSERT_EQ(Tone()->SetAmplitude(c, -2.0 * c), S_OK);
    }
    const Bytes saved = SaveSettings(m_spFilter);

    CComPtr<IBaseFilter> spFresh = NewFilter();
    CComQIPtr<IPersistStream> spPersist(spFresh);
    CComPtr<IStream> spStm = persisttest::StreamFrom(saved);
    ASSERT_EQ(spPersist->Load(spStm), S_OK);
    EXPECT_EQ(persisttest::Position(spStm), 414u);
    EXPECT_EQ(spPersist->IsDirty(), S_FALSE);

    int anSettings[4] = {};
    ASSERT_EQ(CComQIPtr<ICRVTonewell>(spFresh)->GetParameters(&anSettings[0], &anSettings[1], &anSettings[2],
                                                                &anSettings[3]),
              S_OK);
    EXPECT_EQ(std::vector<int>(anSettings, anSettings + 4), (std::vector<int>{20, 6, 0x3F, 96000}));
    EXPECT_EQ(SaveSettings(spFresh), saved);
    const CAudioSource& fresh = Concrete(spFresh);
    for (int i = 0; i < TONE_SLOTS; ++i)
        EXPECT_EQ(fresh.m_anFreqUsed[i], DWORD(fresh.m_anFreq[i])) << "slot " << i;
    EXPECT_EQ(CurrentType(spFresh), ExpectedType(96000, 6, 24, 20, 0x3F));
}

struct LoadCase
{
    const char* pszWhat;
    std::function<void(CSavedSettings&)> store;
    HRESULT hr;
    // For S_OK: how Load corrects what was stored (null: kept as stored).
    std::function<void(CSavedSettings&)> correct = nullptr;
    size_t cbKeep = size_t(-1);
    size_t cbJunk = 0;
};

void Rate(CSavedSettings& s, DWORD dwRate) { s.nSamplesPerSec = dwRate; }
void Format(CSavedSettings& s, WORD wChannels, WORD wBits, WORD wValid, DWORD dwRate, DWORD dwMask = 0)
{
    s.nChannels = wChannels;
    s.nBitsPerSample = wBits;
    s.nValidBitsPerSample = wValid;
    s.nSamplesPerSec = dwRate;
    s.nChannelMask = dwMask;
}
void AllFrequencies(CSavedSettings& s, int nFreq)
{
    for (int& n : s.anFreq)
        n = nFreq;
}

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

const LoadCase kLoads[] = {
    // Refused: defaults and E_FAIL.
    {"another class", [](CSavedSettings& s) { s.clsid = CLSID_TonewellPP; }, E_FAIL},
    {"no channels", [](CSavedSettings& s) { s.nChannels = 0; }, E_FAIL},
    {"33 channels", [](CSavedSettings& s) { s.nChannels = 33; }, E_FAIL},
    {"7-bit container", [](CSavedSettings& s) { Format(s, 2, 7, 7, 48000); }, E_FAIL},
    {"40-bit container", [](CSavedSettings& s) { Format(s, 2, 40, 16, 48000); }, E_FAIL},
    {"12-bit container, which no type describes", [](CSavedSettings& s) { Format(s, 2, 12, 12, 48000); }, E_FAIL},
    {"7 valid bits", [](CSavedSettings& s) { Format(s, 2, 16, 7, 48000); }, E_FAIL},
    {"valid bits above the container", [](CSavedSettings& s) { Format(s, 2, 16, 17, 48000); }, E_FAIL},
    {"no rate", [](CSavedSettings& s) { Rate(s, 0); }, E_FAIL},
    // Byte rates beyond 32 bits; the first wraps to exactly 0.
    {"rate 2^30 in 4-byte frames", [](CSavedSettings& s) { Rate(s, 0x40000000); }, E_FAIL},
    {"rate 2^32 - 1", [](CSavedSettings& s) { Rate(s, 0xFFFFFFFF); }, E_FAIL},
    {"rate 2^25 in 128-byte frames", [](CSavedSettings& s) { Format(s, 32, 32, 32, 0x2000000); }, E_FAIL},
    {"one byte short", [](CSavedSettings&) {}, E_FAIL, nullptr, 413},
    {"the class alone", [](CSavedSettings&) {}, E_FAIL, nullptr, 16},
    {"nothing", [](CSavedSettings&) {}, E_FAIL, nullptr, 0},

    // Kept, or corrected into what the filter can play.
    {"the defaults", [](CSavedSettings&) {}, S_OK},
    {"more data behind", [](CSavedSettings& s) { Format(s, 3, 24, 24, 44100, 0x7); }, S_OK, nullptr, size_t(-1), 10},
    {"8 valid bits in 24", [](CSavedSettings& s) { Format(s, 4, 24, 8, 22050); }, S_OK},
    {"the largest byte rate", [](CSavedSettings& s) { Format(s, 32, 32, 32, 33554431, 0xFFFFFFFF); }, S_OK},
    {"stereo forgets its mask", [](CSavedSettings& s) { s.nChannelMask = 0x3; }, S_OK,
     [](CSavedSettings& s) { s.nChannelMask = 0; }},
    {"mono forgets its mask", [](CSavedSettings& s) { Format(s, 1, 8, 8, 8000, 0x4); }, S_OK,
     [](CSavedSettings& s) { s.nChannelMask = 0; }},
    {"three channels keep theirs", [](CSavedSettings& s) { Format(s, 3, 16, 16, 48000, 0x7); }, S_OK},
    {"levels out of range",
     [](CSavedSettings& s) {
         s.adblLevel[0] = 1.5;
         s.adblLevel[1] = -0.25;
         s.adblLevel[2] = kInf;
         s.adblLevel[3] = -kInf;
         s.adblLevel[31] = 1.0000001;
         s.adblLevel[30] = 4.9e-324;   // the smallest level there is, still a level
     },
     S_OK,
     [](CSavedSettings& s) {
         s.adblLevel[0] = 1.0;
         s.adblLevel[1] = 0.0;
         s.adblLevel[2] = 1.0;
         s.adblLevel[3] = 0.0;
         s.adblLevel[31] = 1.0;
     }},
    {"NaN levels are silence",
     [](CSavedSettings& s) {
         s.adblLevel[0] = kNaN;
         s.adblLevel[17] = -kNaN;
     },
     S_OK,
     [](CSavedSettings& s) {
         s.adblLevel[0] = 0.0;
         s.adblLevel[17] = 0.0;
     }},
    {"frequencies at and above half the rate",
     [](CSavedSettings& s) {
         Rate(s, 8000);
         int anFreq[] = {4000, 6000, 3999, -1, 0, INT_MIN, -5, 4001};
         std::copy(std::begin(anFreq), std::end(anFreq), s.anFreq);
     },
     S_OK,
     [](CSavedSettings& s) {
         int anFreq[] = {3999, 3999, 3999, 3999, 0, 3999, 3999, 3999};
         std::copy(std::begin(anFreq), std::end(anFreq), s.anFreq);
     }},
    {"every slot, whatever the channel count",
     [](CSavedSettings& s) {
         Format(s, 1, 16, 16, 2);
         AllFrequencies(s, 1000);
     },
     S_OK, [](CSavedSettings& s) { AllFrequencies(s, 0); }},
    {"odd rates keep the frequency just below half the rate",
     [](CSavedSettings& s) {
         Rate(s, 8001);
         int anFreq[] = {4000, 4001, -1, 3999};
         std::copy(std::begin(anFreq), std::end(anFreq), s.anFreq);
     },
     S_OK,
     [](CSavedSettings& s) {
         int anFreq[] = {4000, 4000, 4000, 3999};
         std::copy(std::begin(anFreq), std::end(anFreq), s.anFreq);
     }},
    {"at 1 Hz the constant level still fits",
     [](CSavedSettings& s) {
         Format(s, 1, 8, 8, 1);
         AllFrequencies(s, -1);
     },
     S_OK, [](CSavedSettings& s) { AllFrequencies(s, 0); }},
};

TEST_F(TonePersist, LoadKeepsCorrectsOrRefuses)
{
    for (const LoadCase& c : kLoads)
    {
        SCOPED_TRACE(c.pszWhat);
        // A target unlike the defaults with its tones under way, so that a reset shows.
        CComPtr<IBaseFilter> spFilter = NewFilter();
        CComQIPtr<ICRVTonewell> spTone(spFilter);
        ASSERT_EQ(spTone->SetParameters(24, 4, 0x33, 44100), S_OK);
        for (int ch = 0; ch < 4; ++ch)
            ASSERT_EQ(spTone->SetFrequency(ch, 300 + ch), S_OK);
        std::vector<BYTE> buffer(12 * 64);
        CTypeOut type;
        ASSERT_EQ(Concrete(spFilter).m_apOut->GetFormat(&type), S_OK);
        ASSERT_EQ(Concrete(spFilter).FillBuffer(buffer.data(), DWORD(buffer.size()), type.Wave()), S_OK);

        CSavedSettings stored;
        c.store(stored);
        Bytes bytes = stored.ToBytes();
        bytes.resize(std::min(bytes.size(), c.cbKeep));
        bytes.insert(bytes.end(), c.cbJunk, 0xEE);
        const HRESULT hr = LoadSettings(spFilter, bytes);
        EXPECT_EQ(hr, c.hr);
        if (hr != c.hr)
            continue;
        if (c.hr != S_OK)
        {
            ExpectSameState(RefusedLoadState(), StateOf(spFilter));
            continue;
        }
        CSavedSettings expected = stored;
        if (c.correct)
            c.correct(expected);
        EXPECT_EQ(SaveSettings(spFilter), expected.ToBytes());
        for (int i = 0; i < TONE_SLOTS; ++i)
            EXPECT_EQ(Concrete(spFilter).m_anFreqUsed[i], DWORD(expected.anFreq[i])) << "slot " << i;
        EXPECT_EQ(CurrentType(spFilter), ExpectedType(expected.nSamplesPerSec, expected.nChannels, expected.nBitsPerSample,
                                                      expected.nValidBitsPerSample, expected.nChannelMask));
    }
}
}
}
