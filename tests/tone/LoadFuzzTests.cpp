// IPersistStream::Load of random, mutated and truncated data (fixed seed): every load ends
// in S_OK with settings the filter can play or E_FAIL with the defaults, as an independent
// reading of the bytes predicts, and the pin always keeps a type that matches.
#include <climits>
#include <cmath>
#include <cstring>
#include <random>

#include "tone/ToneApiFixture.h"

namespace toneapi
{
namespace
{
const size_t kSettingsBytes = 414;

// What Load must make of the bytes: the kept settings, or nothing when they are refused.
bool Predict(const Bytes& bytes, CSavedSettings& s)
{
    if (bytes.size() < kSettingsBytes)
        return false;
    const BYTE* pb = bytes.data();
    auto read = [&pb](auto& field) {
        memcpy(&field, pb, sizeof(field));
        pb += sizeof(field);
    };
    read(s.clsid);
    read(s.nChannels);
    read(s.nChannelMask);
    read(s.nBitsPerSample);
    read(s.nValidBitsPerSample);
    read(s.nSamplesPerSec);
    read(s.anFreq);
    read(s.adblLevel);

    const ULONGLONG ullByteRate = ULONGLONG(s.nSamplesPerSec) * s.nChannels * s.nBitsPerSample / 8;
    const bool bContainer = s.nBitsPerSample == 8 || s.nBitsPerSample == 16 || s.nBitsPerSample == 24 ||
                            s.nBitsPerSample == 32;
    if (s.clsid != CLSID_Tonewell || s.nChannels < 1 || s.nChannels > 32 || !bContainer ||
        s.nValidBitsPerSample < 8 || s.nValidBitsPerSample > s.nBitsPerSample || s.nSamplesPerSec == 0 ||
        ullByteRate > 0xFFFFFFFF)
        return false;
    if (s.nChannels <= 2)
        s.nChannelMask = 0;
    // The highest frequency the synthesis takes: below half the rate exactly (2f < rate).
    const int nHighest = int((s.nSamplesPerSec - 1) / 2);
    for (int& nFreq : s.anFreq)
        if (2 * ULONGLONG(DWORD(nFreq)) >= s.nSamplesPerSec)
            nFreq = nHighest;
    for (double& dbl : s.adblLevel)
        dbl = dbl > 1.0 ? 1.0 : dbl >= 0.0 ? dbl : 0.0;   // NaN fails both tests: silence
    return true;
}

// Settings near every limit that Load checks, and sometimes far off.
class CGenerator
{
public:
    explicit CGenerator(unsigned nSeed) : m_rng(nSeed) {}

    Bytes RandomBytes()
    {
        size_t cb = Pick<size_t>({0, 16, 413, 414, 414, 414, 415, 500}, Below(600));
        Bytes bytes(cb);
        for (BYTE& b : bytes)
            b = BYTE(m_rng());
        // Mostly our class, or every later check would go unexercised.
        if (cb >= 16 && Below(4) != 0)
            memcpy(bytes.data(), &CLSID_Tonewell, 16);
        return bytes;
    }

    Bytes NearLimits()
    {
        CSavedSettings s;
        if (Below(20) == 0)
            s.clsid.Data1 ^= 1u << Below(32);
        // Each field mostly in range, so that the checks after it are reached.
        s.nChannels = Below(4) ? Choose<WORD>({1, 2, 3, 6, 8, 32}) : Pick<WORD>({0, 33, 0xFFFF}, WORD(m_rng()));
        s.nChannelMask = Pick<DWORD>({0, 0x3, 0x3F, 0xFFFFFFFF}, m_rng());
        s.nBitsPerSample = Below(4) ? Choose<WORD>({8, 16, 24, 32}) : Pick<WORD>({0, 7, 12, 20, 33, 40}, WORD(m_rng()));
        s.nValidBitsPerSample = Below(2) ? s.nBitsPerSample : Pick<WORD>({0, 7, 8, 12, 20, 24, 32, 33}, WORD(m_rng()));
        s.nSamplesPerSec = Pick<DWORD>({0, 1, 2, 3, 8000, 44100, 48000, 192000, 33554431, 0x2000000, 0x40000000,
                                        0xFFFFFFFF},
                                       m_rng());
        const int nHalf = int(s.nSamplesPerSec / 2);
        for (int& nFreq : s.anFreq)
            nFreq = Pick<int>({0, -1, 1000, nHalf - 1, nHalf, nHalf + 1, INT_MIN, INT_MAX}, int(m_rng()));
        for (double& dbl : s.adblLevel)
        {
            ULONGLONG ullBits = (ULONGLONG(m_rng()) << 32) | m_rng();
            double dblRandom;
            memcpy(&dblRandom, &ullBits, sizeof(dblRandom));
            dbl = Pick<double>({0.0, 0.5, 1.0, 1.5, -0.25, std::nan(""), -std::nan(""), HUGE_VAL, -HUGE_VAL,
                                std::uniform_real_distribution<double>(-2.0, 2.0)(m_rng)},
                               dblRandom);
        }
        return s.ToBytes();
    }

private:
    unsigned Below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(m_rng); }
    template <class V>
    V Choose(std::initializer_list<V> choices)
    {
        return choices.begin()[Below(unsigned(choices.size()))];
    }
    // One of the choices, or now and then the wild value.
    template <class V>
    V Pick(std::initializer_list<V> choices, V wild)
    {
        unsigned n = Below(unsigned(choices.size()) + 1);
        return n < choices.size() ? choices.begin()[n] : wild;
    }

    std::mt19937 m_rng;
};

class ToneLoadFuzz : public ToneApiTest
{
protected:
    // Loads the bytes and checks the outcome against the prediction.
    void LoadAndCheck(const Bytes& bytes)
    {
        CSavedSettings predicted;
        const bool bKeep = Predict(bytes, predicted);
        HRESULT hr = LoadSettings(m_spFilter, bytes);
        ASSERT_EQ(hr, bKeep ? S_OK : E_FAIL);
        if (!bKeep)
        {
            ExpectSameState(RefusedLoadState(), StateOf(m_spFilter));
            return;
        }
        SCOPED_TRACE(testing::Message() << "kept " << predicted.nChannels << " channels, " << predicted.nValidBitsPerSample
                                        << " bits in " << predicted.nBitsPerSample << ", " << predicted.nSamplesPerSec
                                        << " Hz, mask 0x" << std::hex << predicted.nChannelMask);
        EXPECT_EQ(SaveSettings(m_spFilter), predicted.ToBytes());
        for (int i = 0; i < TONE_SLOTS; ++i)
            ASSERT_EQ(Filter().m_anFreqUsed[i], DWORD(predicted.anFreq[i])) << "slot " << i;
        CTypeOut type;
        ASSERT_EQ(Config()->GetFormat(&type), S_OK);
        EXPECT_EQ(TypeBytes(type.p),
                  ExpectedType(predicted.nSamplesPerSec, predicted.nChannels, predicted.nBitsPerSample,
                               predicted.nValidBitsPerSample, predicted.nChannelMask));
        // The synthesis takes every channel as loaded.
        std::vector<BYTE> buffer(size_t(type.Wave()->nBlockAlign) * 4);
        EXPECT_EQ(Filter().FillBuffer(buffer.data(), DWORD(buffer.size()), type.Wave()), S_OK);
    }
};

TEST_F(ToneLoadFuzz, EveryLoadEndsValidOrInTheDefaults)
{
    CGenerator gen(0x70E5EED);
    int nKept = 0, nRefused = 0;
    for (int i = 0; i < 6000 && !HasFailure(); ++i)
    {
        Bytes bytes = i % 3 == 0 ? gen.RandomBytes() : gen.NearLimits();
        SCOPED_TRACE(testing::Message() << "case " << i);
        CSavedSettings unused;
        (Predict(bytes, unused) ? nKept : nRefused)++;
        LoadAndCheck(bytes);
    }
    // Both outcomes must have come up often, or the generator tests little.
    EXPECT_GT(nKept, 500);
    EXPECT_GT(nRefused, 500);
}

TEST_F(ToneLoadFuzz, EveryTruncationIsRefused)
{
    CSavedSettings s;
    s.nChannels = 6;
    s.nBitsPerSample = 24;
    s.nValidBitsPerSample = 20;
    s.nSamplesPerSec = 96000;
    const Bytes whole = s.ToBytes();
    for (size_t cb = 0; cb < whole.size() && !HasFailure(); ++cb)
    {
        SCOPED_TRACE(testing::Message() << cb << " bytes");
        // The filter holds the whole settings before each cut, so that the reset shows.
        ASSERT_EQ(LoadSettings(m_spFilter, whole), S_OK);
        LoadAndCheck(Bytes(whole.begin(), whole.begin() + cb));
    }
}
}
}
