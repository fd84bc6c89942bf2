// ICRVTonewell: the output format reaches the pin's type at once, tones read back as set,
// and a new rate leaves every channel a frequency that the synthesis accepts.
#include <cmath>
#include <limits>

#include "tone/ToneApiFixture.h"

namespace toneapi
{
namespace
{
class ToneSettings : public ToneApiTest
{
protected:
    // Fills one buffer of the pin's current type the way the streaming thread does.
    HRESULT FillOneBuffer(IBaseFilter* pFilter)
    {
        CComPtr<IPin> spPin;
        pFilter->FindPin(L"Out", &spPin);
        CTypeOut type;
        HRESULT hr = CComQIPtr<IAMStreamConfig>(spPin)->GetFormat(&type);
        if (FAILED(hr))
            return hr;
        std::vector<BYTE> buffer(size_t(type.Wave()->nBlockAlign) * 64);
        return Concrete(pFilter).FillBuffer(buffer.data(), DWORD(buffer.size()), type.Wave());
    }
};

struct FormatCase
{
    int nValidBits, nChannels, nMask, nRate;
    WORD wContainer;
};

TEST_F(ToneSettings, SetParametersGivesThePinItsTypeAndReadsBackAsSet)
{
    const FormatCase cases[] = {
        {24, 2, 0, 48000, 24},       // extensible, one bit per channel: mask 0x3
        {20, 2, 0, 44100, 24},       // significant bits round up to the container
        {12, 1, 0, 8000, 16},
        {16, 2, 0, 48000, 16},       // plain
        {8, 1, 0, 11025, 8},         // plain
        {16, 2, 0x3, 22050, 16},     // plain: the mask is kept but has no place in the block
        {16, 6, 0x3F, 96000, 16},
        {16, 4, 0x33, 48000, 16},
        {32, 32, 0, 192000, 32},     // every mask bit
        {8, 1, 0, -1, 8},            // a negative rate is an unsigned one, and this one fits
    };
    for (const FormatCase& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.nValidBits << " bits, " << c.nChannels << " channels, mask " << c.nMask
                                        << ", rate " << c.nRate);
        CComPtr<IBaseFilter> spFilter = NewFilter();
        CComQIPtr<ICRVTonewell> spTone(spFilter);
        ASSERT_EQ(spTone->SetParameters(c.nValidBits, c.nChannels, c.nMask, c.nRate), S_OK);
        int anGot[4] = {};
        ASSERT_EQ(spTone->GetParameters(&anGot[0], &anGot[1], &anGot[2], &anGot[3]), S_OK);
        EXPECT_EQ(std::vector<int>(anGot, anGot + 4),
                  (std::vector<int>{c.nValidBits, c.nChannels, c.nMask, c.nRate}));
        EXPECT_EQ(CurrentType(spFilter),
                  ExpectedType(DWORD(c.nRate), WORD(c.nChannels), c.wContainer, WORD(c.nValidBits), DWORD(c.nMask)));
    }
}

TEST_F(ToneSettings, TonesReadBackAsSet)
{
    struct FreqCase
    {
        int nChannel, nFreq;
    };
    // Below half of 48000 Hz, the constant level, the square wave and another negative code.
    for (const FreqCase& c : {FreqCase{0, 23999}, FreqCase{1, 0}, FreqCase{0, -1}, FreqCase{1, -5}, FreqCase{1, 1}})
    {
        SCOPED_TRACE(testing::Message() << "channel " << c.nChannel << ", " << c.nFreq << " Hz");
        ASSERT_EQ(Tone()->SetFrequency(c.nChannel, c.nFreq), S_OK);
        int nFreq = 0;
        ASSERT_EQ(Tone()->GetFrequency(c.nChannel, &nFreq), S_OK);
        EXPECT_EQ(nFreq, c.nFreq);
    }

    struct LevelCase
    {
        double dblDb, dblLevel, dblReadDb;
    };
    const double dblInf = std::numeric_limits<double>::infinity();
    const LevelCase levels[] = {
        {0.0, 1.0, 0.0},
        {-6.0, std::pow(10.0, -0.3), -6.0},
        {-20.0, 0.1, -20.0},
        {-191.9, std::pow(10.0, -191.9 / 20.0), -191.9},   // still audible, just above the floor
        {-192.0, 0.0, -192.0},
        {-200.0, 0.0, -192.0},
        {-dblInf, 0.0, -192.0},
    };
    for (const LevelCase& c : levels)
    {
        SCOPED_TRACE(testing::Message() << c.dblDb << " dB");
        ASSERT_EQ(Tone()->SetAmplitude(1, c.dblDb), S_OK);
        EXPECT_NEAR(Filter().m_adblLevel[1], c.dblLevel, c.dblLevel * 1e-12);
        double dblDb = 1.0;
        ASSERT_EQ(Tone()->GetAmplitude(1, &dblDb), S_OK);
        EXPECT_NEAR(dblDb, c.dblReadDb, 1e-9);
    }
    double dblDefault = 0;
    ASSERT_EQ(Tone()->GetAmplitude(0, &dblDefault), S_OK);
    EXPECT_NEAR(dblDefault, 20.0 * std::log10(0.5), 1e-9);
}

TEST_F(ToneSettings, NewRateLeavesEveryChannelAFrequencyTheSynthesisAccepts)
{
    struct LimitCase
    {
        int nRate, nFreqBefore, nFreqAfter;
    };
    const LimitCase cases[] = {
        {8000, 6000, 3999},
        {8000, 4000, 3999},   // exactly half the rate: the synthesis refuses it
        {8001, 4000, 4000},   // odd rates: (rate - 1) / 2 lies below half the rate
        {8001, 4001, 4000},
        {44101, 23000, 22050},
        {8000, 3999, 3999},
        {8000, -1, 3999},     // the square wave's code counts as above
        {8000, 0, 0},
        {3, 1000, 1},
        {2, 1000, 0},         // room for nothing but the constant level
        {1, 1000, 0},
        {1, -1, 0},
        {1, 0, 0},
    };
    for (const LimitCase& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.nFreqBefore << " Hz, then rate " << c.nRate);
        CComPtr<IBaseFilter> spFilter = NewFilter();
        CComQIPtr<ICRVTonewell> spTone(spFilter);
        ASSERT_EQ(spTone->SetFrequency(0, c.nFreqBefore), S_OK);
        ASSERT_EQ(spTone->SetParameters(16, 2, 0, c.nRate), S_OK);
        int nFreq = 0;
        ASSERT_EQ(spTone->GetFrequency(0, &nFreq), S_OK);
        EXPECT_EQ(nFreq, c.nFreqAfter);
        EXPECT_EQ(spTone->SetFrequency(0, nFreq), S_OK) << "SetFrequency refuses the lowered frequency";
        EXPECT_EQ(FillOneBuffer(spFilter), S_OK) << "the synthesis refuses the lowered frequency";
        EXPECT_EQ(Concrete(spFilter).m_anFreqUsed[0], DWORD(c.nFreqAfter));
    }
}

TEST_F(ToneSettings, NewFormatResetsTheChannelsItKeepsAndSparesTheOthers)
{
    ASSERT_EQ(Tone()->SetParameters(16, 4, 0, 48000), S_OK);
    for (int c = 0; c < 4; ++c)
        ASSERT_EQ(Tone()->SetFrequency(c, 6000 + c), S_OK);
    ASSERT_EQ(FillOneBuffer(m_spFilter), S_OK);
    for (int c = 0; c < 4; ++c)
        ASSERT_NE(Filter().m_anPos[c], 0u) << "channel " << c << " did not advance";

    ASSERT_EQ(Tone()->SetParameters(16, 2, 0, 8000), S_OK);
    EXPECT_EQ(Filter().m_anFreq[0], 3999);
    EXPECT_EQ(Filter().m_anFreq[1], 3999);
    EXPECT_EQ(Filter().m_anPos[0], 0u);
    EXPECT_EQ(Filter().m_anPos[1], 0u);
    // Above the channel count everything stays, to come back when the count rises again.
    EXPECT_EQ(Filter().m_anFreq[2], 6002);
    EXPECT_EQ(Filter().m_anFreq[3], 6003);
    EXPECT_NE(Filter().m_anPos[2], 0u);
    EXPECT_NE(Filter().m_anPos[3], 0u);

    ASSERT_EQ(Tone()->SetParameters(16, 4, 0, 48000), S_OK);
    int nFreq = 0;
    ASSERT_EQ(Tone()->GetFrequency(3, &nFreq), S_OK);
    EXPECT_EQ(nFreq, 6003);
    EXPECT_EQ(Filter().m_anPos[3], 0u);
}
}
}
