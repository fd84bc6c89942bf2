// Stored settings into a live filter: random, mutated and truncated 414-byte blocks through
// IPersistStream::Load while the filter streams to the fake downstream pin. Each load keeps
// settings that describe a stream or gives the defaults with E_FAIL; the pin always holds
// the type of the settings, every tone fits the rate, and the stream goes on.
#include <cmath>
#include <cstring>
#include <random>

#include "common/HandleCount.h"
#include "persist/StreamHelpers.h"
#include "reliability/Campaign.h"
#include "reliability/FilterRig.h"

namespace campaign
{
namespace
{
using persisttest::Bytes;

const size_t kSettingsBytes = 414;
// Offsets of the fields in the block.
const size_t kChannelsAt = 16, kMaskAt = 18, kBitsAt = 22, kValidAt = 24, kRateAt = 26, kFreqAt = 30, kLevelAt = 158;

class CSettingsGenerator
{
public:
    CSettingsGenerator(unsigned nSeed, Bytes valid) : m_rng(nSeed), m_valid(std::move(valid)) {}

    Bytes Next(std::string& what)
    {
        Bytes b = m_valid;
        switch (Below(5))
        {
        case 0:  // noise behind our class identifier, or all noise
            for (size_t i = Below(3) == 0 ? 0 : 16; i < b.size(); ++i)
                b[i] = BYTE(m_rng());
            what = "random";
            break;
        case 1:  // a few bytes flipped anywhere
            for (unsigned n = 1 + Below(6); n > 0; --n)
                b[Below(unsigned(b.size()))] ^= BYTE(1u << Below(8));
            what = "bits flipped";
            break;
        case 2:  // the format fields near their limits
            Put<WORD>(b, kChannelsAt, Pick<WORD>({0, 1, 2, 3, 32, 33, 0xFFFF}));
            Put<DWORD>(b, kMaskAt, Pick<DWORD>({0, 3, 0x3F, 0xFFFFFFFF}));
            Put<WORD>(b, kBitsAt, Pick<WORD>({0, 7, 8, 12, 16, 24, 32, 33}));
            Put<WORD>(b, kValidAt, Pick<WORD>({0, 7, 8, 12, 16, 20, 24, 32, 33}));
            Put<DWORD>(b, kRateAt, Pick<DWORD>({0, 1, 2, 3, 8000, 48000, 192000, 0x40000000, 0xFFFFFFFF}));
            what = "format near its limits";
            break;
        case 3:  // tones beyond what the rate carries, levels beyond full scale and NaN
            for (size_t c = 0; c < 32; ++c)
            {
                Put<int>(b, kFreqAt + 4 * c, Pick<int>({0, -1, 1000, 23999, 24000, 24001, INT_MIN, INT_MAX}));
                Put<double>(b, kLevelAt + 8 * c, Pick<double>({0.0, 0.5, 1.0, 1.5, -0.25, std::nan(""), HUGE_VAL, -HUGE_VAL}));
            }
            what = "tones and levels beyond their limits";
            break;
        default:  // a stream that ends early
            b.resize(Below(unsigned(kSettingsBytes)));
            what = "truncated to " + std::to_string(b.size()) + " bytes";
            break;
        }
        return b;
    }

private:
    unsigned Below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(m_rng); }
    template <class V> V Pick(std::initializer_list<V> choices)
    {
        unsigned n = Below(unsigned(choices.size()) + 1);
        if (n < choices.size())
            return choices.begin()[n];
        V v;
        for (size_t i = 0; i < sizeof(v); ++i)
            reinterpret_cast<BYTE*>(&v)[i] = BYTE(m_rng());
        return v;
    }
    template <class V> static void Put(Bytes& b, size_t at, V v) { memcpy(b.data() + at, &v, sizeof(v)); }

    std::mt19937 m_rng;
    Bytes m_valid;
};

Bytes Saved(IPersistStream* pPersist)
{
    CComPtr<IStream> spStm = persisttest::EmptyStream();
    EXPECT_EQ(pPersist->Save(spStm, FALSE), S_OK);
    return persisttest::AllBytes(spStm);
}

class StoredSettings : public CampaignTest
{
};

TEST_F(StoredSettings, LoadsIntoAStreamingFilter)
{
    const long nHandlesBefore = testhandles::ProcessHandleCount();
    CFilterRig rig;
    ASSERT_TRUE(rig.Ready());
    const long nRigHandles = testhandles::ProcessHandleCount() - nHandlesBefore;
    // A saved block of settings away from the defaults is what the mutations start from.
    ASSERT_EQ(rig.Tone()->SetParameters(20, 6, 0x3F, 96000), S_OK);
    ASSERT_EQ(rig.Tone()->SetFrequency(3, 440), S_OK);
    const Bytes valid = Saved(rig.Persist());
    ASSERT_EQ(valid.size(), kSettingsBytes);
    ASSERT_EQ(rig.Tone()->SetParameters(16, 2, 0, 48000), S_OK);
    ASSERT_EQ(rig.Connect(), S_OK);
    ASSERT_EQ(rig.Filter()->Run(0), S_OK);
    ASSERT_TRUE(rig.ReceiveMore(2));

    CSettingsGenerator gen(Seed() + 2, valid);
    const size_t nCases = Scale(2000, 50000);
    size_t nHeld = 0, nKept = 0;
    for (size_t i = 0; i < nCases; ++i)
    {
        std::string what;
        const Bytes bytes = gen.Next(what);
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << what);
        const size_t nParts = FailuresSoFar();
        const HRESULT hr = rig.Persist()->Load(persisttest::StreamFrom(bytes));
        EXPECT_TRUE(hr == S_OK || hr == E_FAIL) << std::hex << hr;
        int nValid = 0, nChannels = 0, nMask = 0, nRate = 0;
        ASSERT_EQ(rig.Tone()->GetParameters(&nValid, &nChannels, &nMask, &nRate), S_OK);
        if (hr == S_OK)
        {
            ++nKept;
            WORD wChannels, wValid;
            DWORD dwRate;
            memcpy(&wChannels, &bytes[kChannelsAt], 2);
            memcpy(&wValid, &bytes[kValidAt], 2);
            memcpy(&dwRate, &bytes[kRateAt], 4);
            EXPECT_TRUE(nChannels == wChannels && nValid == wValid && DWORD(nRate) == dwRate) << "kept other settings";
        }
        else
            EXPECT_TRUE(nValid == 16 && nChannels == 2 && nMask == 0 && nRate == 48000) << "not the defaults";

        AM_MEDIA_TYPE* pmt = nullptr;
        ASSERT_EQ(rig.Config()->GetFormat(&pmt), S_OK) << "the pin has no type";
        ASSERT_NE(pmt, nullptr);
        const auto* pWF = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
        EXPECT_TRUE(pWF != nullptr && pWF->nChannels == nChannels && pWF->nSamplesPerSec == DWORD(nRate) &&
                    pWF->wBitsPerSample % 8 == 0 && pWF->wBitsPerSample >= nValid && pWF->wBitsPerSample <= 32 &&
                    pWF->nBlockAlign == pWF->nChannels * pWF->wBitsPerSample / 8)
            << "the pin's type does not describe the settings";
        MTFree(pmt);
        for (int c = 0; c < nChannels; ++c)
        {
            int nFreq = 0;
            double dblDb = 0;
            ASSERT_EQ(rig.Tone()->GetFrequency(c, &nFreq), S_OK);
            ASSERT_EQ(rig.Tone()->GetAmplitude(c, &dblDb), S_OK);
            // A sine below half the rate exactly or a constant level, which fits every rate.
            EXPECT_TRUE(nFreq >= 0 && 2 * LONGLONG(nFreq) < LONGLONG(DWORD(nRate)))
                << "channel " << c << " keeps " << nFreq << " Hz";
            EXPECT_TRUE(dblDb <= 0.0 && dblDb >= -192.0) << "channel " << c << " at " << dblDb << " dB";
        }
        EXPECT_TRUE(rig.ReceiveMore(1)) << "the stream stopped";
        if (FailuresSoFar() == nParts)
            ++nHeld;
        if (HasFatalFailure())
            break;
        if (i == 0)
            RebaseHandles(nRigHandles, nCases);
    }
    rig.Shutdown();
    Report("stored settings into a running filter", nCases, nHeld, std::to_string(nKept) + " kept, the rest refused");
}
}
}
