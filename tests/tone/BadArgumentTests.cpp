// Refused arguments of ICRVTonewell and IAMStreamConfig: each call returns its error, reports
// the condition it found false, writes none of its out parameters and changes nothing.
#include <climits>
#include <functional>
#include <limits>

#include "tone/ToneApiFixture.h"
#include "types/AssertionLog.h"

namespace toneapi
{
namespace
{
const int kUntouchedInt = 0x5A5A5A5A;
const double kUntouchedDouble = 12345.0;
const BYTE kUntouchedByte = 0xA5;

// Every out parameter a case may hand to a call, preset to values no call stores.
struct Outs
{
    int an[4] = {kUntouchedInt, kUntouchedInt, kUntouchedInt, kUntouchedInt};
    double dbl = kUntouchedDouble;
    CTypeOut type;
    BYTE caps[sizeof(AUDIO_STREAM_CONFIG_CAPS)];
    Outs()
    {
        type.p = CTypeOut::kUntouched;
        memset(caps, kUntouchedByte, sizeof(caps));
    }
    bool Untouched() const
    {
        for (int n : an)
            if (n != kUntouchedInt)
                return false;
        for (BYTE b : caps)
            if (b != kUntouchedByte)
                return false;
        return dbl == kUntouchedDouble && type.p == CTypeOut::kUntouched;
    }
};

struct BadCall
{
    const char* pszCall;
    std::function<HRESULT(ICRVTonewell*, IAMStreamConfig*, Outs&)> call;
    HRESULT hrExpected;
    const wchar_t* pszSource;
    const char* pszCondition;   // null: no report expected
};

const wchar_t kSettings[] = L"AudioSettings.cpp";
const wchar_t kPin[] = L"AudioSourceOut.cpp";

using T = ICRVTonewell*;
using C = IAMStreamConfig*;

const BadCall kBadCalls[] = {
    {"SetParameters(7, 4, 0, 44100)", [](T t, C, Outs&) { return t->SetParameters(7, 4, 0, 44100); }, E_INVALIDARG,
     kSettings, "8 <= nValidBitsPerSample && nValidBitsPerSample <= 32"},
    {"SetParameters(33, 4, 0, 44100)", [](T t, C, Outs&) { return t->SetParameters(33, 4, 0, 44100); }, E_INVALIDARG,
     kSettings, "8 <= nValidBitsPerSample && nValidBitsPerSample <= 32"},
    {"SetParameters(INT_MIN, 4, 0, 44100)", [](T t, C, Outs&) { return t->SetParameters(INT_MIN, 4, 0, 44100); },
     E_INVALIDARG, kSettings, "8 <= nValidBitsPerSample && nValidBitsPerSample <= 32"},
    {"SetParameters(16, 0, 0, 44100)", [](T t, C, Outs&) { return t->SetParameters(16, 0, 0, 44100); }, E_INVALIDARG,
     kSettings, "1 <= nChannels && nChannels <= 32"},
    {"SetParameters(16, 33, 0, 44100)", [](T t, C, Outs&) { return t->SetParameters(16, 33, 0, 44100); },
     E_INVALIDARG, kSettings, "1 <= nChannels && nChannels <= 32"},
    {"SetParameters(16, -1, 0, 44100)", [](T t, C, Outs&) { return t->SetParameters(16, -1, 0, 44100); },
     E_INVALIDARG, kSettings, "1 <= nChannels && nChannels <= 32"},
    {"SetParameters(16, 2, 0, 0)", [](T t, C, Outs&) { return t->SetParameters(16, 2, 0, 0); }, E_INVALIDARG,
     kSettings, "nSamplesPerSec > 0"},
    // Rates whose byte rate does not fit in 32 bits; the second one wraps to exactly 0.
    {"SetParameters(16, 2, 0, -1)", [](T t, C, Outs&) { return t->SetParameters(16, 2, 0, -1); }, E_INVALIDARG,
     kSettings, "CAudioSource::SetParameters(): CMTHelp::MTCreatePCMEx() FAILED"},
    {"SetParameters(32, 32, 0, 0x2000000)", [](T t, C, Outs&) { return t->SetParameters(32, 32, 0, 0x2000000); },
     E_INVALIDARG, kSettings, "CAudioSource::SetParameters(): CMTHelp::MTCreatePCMEx() FAILED"},

    {"GetParameters(null, ...)", [](T t, C, Outs& o) { return t->GetParameters(nullptr, &o.an[1], &o.an[2], &o.an[3]); },
     E_POINTER, kSettings, "pnValidBitsPerSample != NULL"},
    {"GetParameters(., null, ...)", [](T t, C, Outs& o) { return t->GetParameters(&o.an[0], nullptr, &o.an[2], &o.an[3]); },
     E_POINTER, kSettings, "pnChannels != NULL"},
    {"GetParameters(., ., null, .)", [](T t, C, Outs& o) { return t->GetParameters(&o.an[0], &o.an[1], nullptr, &o.an[3]); },
     E_POINTER, kSettings, "pnChannelMask != NULL"},
    {"GetParameters(..., null)", [](T t, C, Outs& o) { return t->GetParameters(&o.an[0], &o.an[1], &o.an[2], nullptr); },
     E_POINTER, kSettings, "pnSamplesPerSec != NULL"},

    {"SetFrequency(4, 100)", [](T t, C, Outs&) { return t->SetFrequency(4, 100); }, E_INVALIDARG, kSettings,
     "nChannel < m_nChannels"},
    {"SetFrequency(-1, 100)", [](T t, C, Outs&) { return t->SetFrequency(-1, 100); }, E_INVALIDARG, kSettings,
     "nChannel < m_nChannels"},
    {"SetFrequency(INT_MIN, 100)", [](T t, C, Outs&) { return t->SetFrequency(INT_MIN, 100); }, E_INVALIDARG,
     kSettings, "nChannel < m_nChannels"},
    {"SetFrequency(0, 22050)", [](T t, C, Outs&) { return t->SetFrequency(0, 22050); }, E_INVALIDARG, kSettings,
     "2 * nFreq < (int)m_nSamplesPerSec"},
    // Twice these wraps below the rate in 32 bits.
    {"SetFrequency(0, 0x40000000)", [](T t, C, Outs&) { return t->SetFrequency(0, 0x40000000); }, E_INVALIDARG,
     kSettings, "2 * nFreq < (int)m_nSamplesPerSec"},
    {"SetFrequency(0, INT_MAX)", [](T t, C, Outs&) { return t->SetFrequency(0, INT_MAX); }, E_INVALIDARG, kSettings,
     "2 * nFreq < (int)m_nSamplesPerSec"},

    {"GetFrequency(0, null)", [](T t, C, Outs&) { return t->GetFrequency(0, nullptr); }, E_POINTER, kSettings,
     "pnFreq != NULL"},
    // The pointer is checked before the channel.
    {"GetFrequency(4, null)", [](T t, C, Outs&) { return t->GetFrequency(4, nullptr); }, E_POINTER, kSettings,
     "pnFreq != NULL"},
    {"GetFrequency(4, .)", [](T t, C, Outs& o) { return t->GetFrequency(4, &o.an[0]); }, E_INVALIDARG, kSettings,
     "nChannel < m_nChannels"},
    {"GetFrequency(-1, .)", [](T t, C, Outs& o) { return t->GetFrequency(-1, &o.an[0]); }, E_INVALIDARG, kSettings,
     "nChannel < m_nChannels"},

    {"SetAmplitude(4, -6)", [](T t, C, Outs&) { return t->SetAmplitude(4, -6.0); }, E_INVALIDARG, kSettings,
     "nChannel < m_nChannels"},
    {"SetAmplitude(-1, -6)", [](T t, C, Outs&) { return t->SetAmplitude(-1, -6.0); }, E_INVALIDARG, kSettings,
     "nChannel < m_nChannels"},
    {"SetAmplitude(0, 0.5)", [](T t, C, Outs&) { return t->SetAmplitude(0, 0.5); }, E_INVALIDARG, kSettings,
     "dblAmplitude <= 0.0"},
    {"SetAmplitude(0, +inf)",
     [](T t, C, Outs&) { return t->SetAmplitude(0, std::numeric_limits<double>::infinity()); }, E_INVALIDARG,
     kSettings, "dblAmplitude <= 0.0"},
    {"SetAmplitude(0, NaN)", [](T t, C, Outs&) { return t->SetAmplitude(0, std::numeric_limits<double>::quiet_NaN()); },
     E_INVALIDARG, kSettings, "dblAmplitude <= 0.0"},

    {"GetAmplitude(0, null)", [](T t, C, Outs&) { return t->GetAmplitude(0, nullptr); }, E_POINTER, kSettings,
     "pdblAmplitude != NULL"},
    // The channel is checked before the pointer.
    {"GetAmplitude(4, null)", [](T t, C, Outs&) { return t->GetAmplitude(4, nullptr); }, E_INVALIDARG, kSettings,
     "nChannel < m_nChannels"},
    {"GetAmplitude(4, .)", [](T t, C, Outs& o) { return t->GetAmplitude(4, &o.dbl); }, E_INVALIDARG, kSettings,
     "nChannel < m_nChannels"},
    {"GetAmplitude(-1, .)", [](T t, C, Outs& o) { return t->GetAmplitude(-1, &o.dbl); }, E_INVALIDARG, kSettings,
     "nChannel < m_nChannels"},

    {"GetFormat(null)", [](T, C c, Outs&) { return c->GetFormat(nullptr); }, E_POINTER, kPin, "ppmt != NULL"},
    {"GetNumberOfCapabilities(null, .)", [](T, C c, Outs& o) { return c->GetNumberOfCapabilities(nullptr, &o.an[1]); },
     E_POINTER, kPin, "piCount != NULL"},
    {"GetNumberOfCapabilities(., null)", [](T, C c, Outs& o) { return c->GetNumberOfCapabilities(&o.an[0], nullptr); },
     E_POINTER, kPin, "piSize != NULL"},
    {"GetStreamCaps(0, null, .)", [](T, C c, Outs& o) { return c->GetStreamCaps(0, nullptr, o.caps); }, E_POINTER,
     kPin, "ppmt != NULL"},
    {"GetStreamCaps(0, ., null)", [](T, C c, Outs& o) { return c->GetStreamCaps(0, &o.type, nullptr); }, E_POINTER,
     kPin, "pSCC != NULL"},
    // Past the one capability: nothing stored, nothing reported.
    {"GetStreamCaps(1, ., .)", [](T, C c, Outs& o) { return c->GetStreamCaps(1, &o.type, o.caps); }, S_FALSE, kPin,
     nullptr},
    {"GetStreamCaps(INT_MAX, ., .)", [](T, C c, Outs& o) { return c->GetStreamCaps(INT_MAX, &o.type, o.caps); },
     S_FALSE, kPin, nullptr},
};

class ToneBadArguments : public ToneApiTest
{
};

TEST_F(ToneBadArguments, AreRefusedWithNothingChanged)
{
    testsink::CSinkReader sink(L"testsink.dll");
    ASSERT_TRUE(sink.IsLoaded());
    // Settings unlike the defaults, with tones under way, so that a stray change shows.
    ASSERT_EQ(Tone()->SetParameters(24, 4, 0x33, 44100), S_OK);
    for (int c = 0; c < 4; ++c)
    {
        ASSERT_EQ(Tone()->SetFrequency(c, 440 * (c + 1)), S_OK);
        ASSERT_EQ(Tone()->SetAmplitude(c, -3.0 * c), S_OK);
    }
    std::vector<BYTE> buffer(12 * 100);
    CTypeOut type;
    ASSERT_EQ(Config()->GetFormat(&type), S_OK);
    ASSERT_EQ(Filter().FillBuffer(buffer.data(), DWORD(buffer.size()), type.Wave()), S_OK);

    for (const BadCall& c : kBadCalls)
    {
        SCOPED_TRACE(c.pszCall);
        const CState before = StateOf(m_spFilter);
        sink.Clear();
        Outs outs;
        EXPECT_EQ(c.call(Tone(), Config(), outs), c.hrExpected);
        EXPECT_TRUE(outs.Untouched());
        ExpectSameState(before, StateOf(m_spFilter));
        std::vector<std::string> expected;
        if (c.pszCondition != nullptr)
            expected.push_back(c.pszCondition);
        EXPECT_EQ(testsink::AssertedConditions(sink, c.pszSource), expected);
    }
}
}
}
