// A channel filled through its sine cache against the per-sample reference: the same bytes
// for every container and significant-bit count, rate, frequency, level, start position and
// buffer split, with tone and format changes between buffers; the cache's memory within its
// bound, freed when the channel leaves the sine, and never growing with the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "filter/DSAudio.h"
#include "filter/SineCache.h"
#include "synthesis/Reference.h"

namespace
{
const BYTE FILLER = 0x5A;

// One FillBuffer call: its format, length and tone.
struct CStep
{
    DWORD dwRate;
    WORD wBits;
    WORD wValid;
    WORD wChannels;
    DWORD nFrames;
    DWORD dwFreq;
    double dblLevel;
};

// Calls on one channel with one cache, the position carried from each call to the next.
struct CScript
{
    std::string name;
    DWORD dwStartPos;
    std::vector<CStep> steps;
};

std::string Describe(const CStep& s)
{
    std::ostringstream os;
    os << s.wChannels << " ch " << s.wBits << "/" << s.wValid << " bits " << s.dwRate << " Hz, " << s.nFrames
       << " frames, freq " << s.dwFreq << ", level " << s.dblLevel;
    return os.str();
}

// The expected buffer of one step from position *pdwPos (advanced): the channel in the
// middle by the per-sample formula, every other byte the filler.
std::vector<BYTE> Expected(const CStep& s, DWORD* pdwPos)
{
    const unsigned cb = s.wBits / 8, nStride = cb * s.wChannels, c = s.wChannels / 2;
    std::vector<BYTE> buf(size_t(s.nFrames) * nStride, FILLER);
    const DWORD dwPos = *pdwPos;
    for (DWORD n = 0; n < s.nFrames; ++n)
    {
        double dblValue;
        if (s.dwFreq == CAudioHelp::FREQ_CONSTANT)
            dblValue = s.dblLevel;
        else if (s.dwFreq == CAudioHelp::FREQ_SQUARE)
            dblValue = (dwPos == 0) == (n < s.nFrames / 2) ? s.dblLevel : -s.dblLevel;
        else
            dblValue = reference::SineValue(s.dblLevel, s.dwFreq, s.dwRate, n, dwPos);
        const uint32_t dwWord = reference::LevelCode(dblValue, s.wBits, s.wValid);
        for (unsigned b = 0; b < cb; ++b)
            buf[size_t(n) * nStride + c * cb + b] = BYTE(dwWord >> (8 * b));
    }
    if (s.dwFreq == CAudioHelp::FREQ_CONSTANT)
        *pdwPos = 0;
    else if (s.dwFreq == CAudioHelp::FREQ_SQUARE)
        *pdwPos = dwPos == 0 ? 1 : 0;
    else
        *pdwPos = DWORD((uint64_t(dwPos % s.dwRate) + s.nFrames) % s.dwRate);
    return buf;
}

// Runs the script through one cache; every buffer, position and cache size must be right.
void RunScript(const CScript& script)
{
    SCOPED_TRACE(script.name);
    CSineCache cache;
    DWORD dwPos = script.dwStartPos, dwExpectedPos = script.dwStartPos;
    for (size_t i = 0; i < script.steps.size(); ++i)
    {
        const CStep& s = script.steps[i];
        SCOPED_TRACE("buffer " + std::to_string(i) + ": " + Describe(s));
        const WAVEFORMATEXTENSIBLE wfe = reference::WaveFormat(s.dwRate, s.wChannels, s.wBits, s.wValid);
        const unsigned cb = s.wBits / 8;
        std::vector<BYTE> buf(size_t(s.nFrames) * wfe.Format.nBlockAlign, FILLER);
        ASSERT_EQ(CAudioHelp::FillBuffer(buf.data() + s.wChannels / 2 * cb, DWORD(buf.size()), &wfe.Format, s.dwFreq,
                                         &dwPos, s.dblLevel, &cache),
                  S_OK);
        const std::vector<BYTE> expected = Expected(s, &dwExpectedPos);
        if (buf != expected)
        {
            size_t nAt = 0;
            while (buf[nAt] == expected[nAt])
                ++nAt;
            FAIL() << "first difference in frame " << nAt / wfe.Format.nBlockAlign << ", byte "
                   << nAt % wfe.Format.nBlockAlign;
        }
        ASSERT_EQ(dwPos, dwExpectedPos);

        const size_t cbSecond = size_t(s.dwRate) * cb + (s.dwRate + CSineCache::BLOCK - 1) / CSineCache::BLOCK;
        const bool bSine = s.dwFreq != CAudioHelp::FREQ_CONSTANT && s.dwFreq != CAudioHelp::FREQ_SQUARE;
        if (bSine && cbSecond <= CSineCache::MAX_BYTES)
            EXPECT_EQ(cache.Bytes(), cbSecond) << "the cache holds one second of words and flags";
        else
            EXPECT_EQ(cache.Bytes(), 0u) << "no cache for a tone that is no sine or whose second is too large";
    }
}

// clang-format off
const DWORD kRates[] = {1, 2, 3, 4, 5, 8, 11, 97, 1000, 8000, 11025, 22050, 44100, 48000, 88200, 96000, 176400, 192000};
const double kLevels[] = {0.0, 1.0, -1.0, 0.5, -0.3, 1e-9, -0.999999};
// clang-format on

// Frequencies from 1 Hz to just below half the rate (2f < rate, so (rate - 1) / 2 at odd
// rates): the ends, one sharing a large divisor with the rate, and an odd one; the constant
// level and the square wave, which free the cache.
std::vector<DWORD> FrequenciesFor(DWORD dwRate)
{
    std::vector<DWORD> freqs = {CAudioHelp::FREQ_SQUARE, CAudioHelp::FREQ_CONSTANT};
    for (DWORD f : {DWORD(1), (dwRate - 1) / 2, dwRate / 4, dwRate / 7 + 3, DWORD(997)})
        if (f >= 1 && 2 * f < dwRate && std::find(freqs.begin(), freqs.end(), f) == freqs.end())
            freqs.push_back(f);
    return freqs;
}

// Every container width with every significant-bit count.
std::vector<std::pair<WORD, WORD>> AllWidths()
{
    std::vector<std::pair<WORD, WORD>> widths;
    for (WORD wBits : {8, 16, 24, 32})
        for (WORD wValid = 1; wValid <= wBits; ++wValid)
            widths.push_back({wBits, wValid});
    return widths;
}

// One rate: every frequency, level and start position (0, near the wrap, at the rate and far
// beyond it), each over buffers of 1, 7 and 40 ms + 1 frames and one of more than a second
// (at most 60000 frames at the high rates); widths and channel counts taken in turn.
std::vector<CScript> ScriptsAtRate(DWORD dwRate)
{
    static const std::vector<std::pair<WORD, WORD>> s_widths = AllWidths();
    static const WORD s_channels[] = {1, 2, 3, 6};
    std::vector<CScript> scripts;
    size_t nTurn = dwRate;
    for (DWORD dwFreq : FrequenciesFor(dwRate))
        for (double dblLevel : kLevels)
            for (DWORD dwStart : {DWORD(0), dwRate - 1, dwRate - 3, dwRate, DWORD(0xFFFFFFFF)})
            {
                const auto [wBits, wValid] = s_widths[nTurn % s_widths.size()];
                const WORD wChannels = s_channels[nTurn % 4];
                ++nTurn;
                CScript script{"rate " + std::to_string(dwRate) + ", start " + std::to_string(dwStart), dwStart, {}};
                for (DWORD nFrames : {DWORD(1), DWORD(7), dwRate / 25 + 1, dwRate + 5 < 60000 ? dwRate + 5 : 60000})
                    script.steps.push_back({dwRate, wBits, wValid, wChannels, nFrames, dwFreq, dblLevel});
                scripts.push_back(script);
            }
    return scripts;
}

class SineCacheEquality : public testing::TestWithParam<DWORD>
{
};

TEST_P(SineCacheEquality, EveryBufferMatchesThePerSampleFormula)
{
    for (const CScript& script : ScriptsAtRate(GetParam()))
    {
        RunScript(script);
        if (HasFatalFailure())
            return;
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, SineCacheEquality, testing::ValuesIn(kRates),
                         [](const auto& info) { return "Rate" + std::to_string(info.param); });

// A seeded walk in which every buffer changes something the words depend on: frequency,
// level (sign and zero included), the rate, the container or the significant bits, or the
// channel leaves the sine for a constant level or the square wave and comes back. A cache
// that kept words of an earlier buffer shows as a wrong byte.
std::vector<CScript> ChangingScripts()
{
    struct CFormat
    {
        DWORD dwRate;
        WORD wBits, wValid, wChannels;
    };
    const CFormat formats[] = {{48000, 16, 16, 2}, {44100, 24, 20, 3}, {8000, 8, 8, 1},
                               {96000, 32, 17, 6}, {11025, 16, 12, 2}, {97, 24, 24, 1}};
    std::vector<CScript> scripts;
    uint32_t dwSeed = 2026;
    auto next = [&dwSeed](uint32_t n) {
        dwSeed = dwSeed * 1664525u + 1013904223u;
        return (dwSeed >> 8) % n;
    };
    for (int nScript = 0; nScript < 24; ++nScript)
    {
        CScript script{"walk " + std::to_string(nScript), next(200000), {}};
        CFormat f = formats[nScript % 6];
        DWORD dwFreq = 1 + next(f.dwRate / 2 - 1);
        double dblLevel = 0.5;
        for (int nStep = 0; nStep < 16; ++nStep)
        {
            switch (next(6))
            {
            case 0: f = formats[next(6)]; break;
            case 1: dwFreq = 1 + next(f.dwRate / 2 - 1); break;
            case 2: dblLevel = next(4) == 0 ? 0.0 : (double(next(2000001)) - 1000000.0) / 1000000.0; break;
            case 3: dblLevel = -dblLevel; break;
            case 4: dwFreq = next(2) == 0 ? CAudioHelp::FREQ_CONSTANT : CAudioHelp::FREQ_SQUARE; break;
            default: dwFreq = dwFreq + 1; break;
            }
            if (dwFreq != CAudioHelp::FREQ_SQUARE && dwFreq >= f.dwRate / 2)
                dwFreq = 1 + next(f.dwRate / 2 - 1);
            const DWORD nFrames = next(3) == 0 ? 1 + next(16) : f.dwRate / 25 + next(f.dwRate / 10 + 1);
            script.steps.push_back({f.dwRate, f.wBits, f.wValid, f.wChannels, nFrames, dwFreq, dblLevel});
        }
        scripts.push_back(script);
    }
    return scripts;
}

TEST(SineCacheChanges, AChangeOnEveryBufferGivesTheNewTonesBytes)
{
    for (const CScript& script : ChangingScripts())
    {
        RunScript(script);
        if (HasFatalFailure())
            return;
    }
}

// clang-format off
const CScript kStaleCases[] = {
    // Each second buffer reuses the first one's positions under a different key.
    {"level changes only", 0, {{48000, 16, 16, 2, 48000, 1000, 0.5}, {48000, 16, 16, 2, 48000, 1000, 0.25}}},
    {"level turns negative", 0, {{48000, 16, 16, 2, 48000, 1000, 0.5}, {48000, 16, 16, 2, 48000, 1000, -0.5}}},
    {"frequency changes only", 0, {{48000, 24, 24, 2, 48000, 1000, 0.5}, {48000, 24, 24, 2, 48000, 1001, 0.5}}},
    {"rate changes only", 0, {{48000, 16, 16, 2, 48000, 1000, 0.5}, {44100, 16, 16, 2, 44100, 1000, 0.5}}},
    {"significant bits change", 0, {{48000, 24, 24, 1, 48000, 440, 1.0}, {48000, 24, 20, 1, 48000, 440, 1.0}}},
    {"container changes", 0, {{48000, 16, 16, 1, 48000, 440, 1.0}, {48000, 32, 16, 1, 48000, 440, 1.0}}},
    {"constant level between", 0, {{8000, 8, 8, 1, 8000, 100, 0.5}, {8000, 8, 8, 1, 10, 0, 0.5},
                                   {8000, 8, 8, 1, 8000, 100, -0.5}}},
    // A second beyond the bound is synthesized per sample and holds nothing.
    {"second too large", 0, {{300000, 32, 32, 2, 1920, 1000, 0.5}, {48000, 32, 32, 2, 48001, 1000, 0.5},
                             {300000, 32, 32, 2, 300003, 1000, 0.5}}},
};
// clang-format on

TEST(SineCacheChanges, AChangedKeyNeverReadsTheOldWords)
{
    for (const CScript& script : kStaleCases)
        RunScript(script);
}

TEST(SineCacheMemory, StaysOneSecondOverALongStreamAndReleaseFreesIt)
{
    const WAVEFORMATEXTENSIBLE wfe = reference::WaveFormat(192000, 32, 32, 32);
    std::vector<BYTE> buf(7680 * wfe.Format.nBlockAlign);
    CSineCache cache;
    DWORD dwPos = 0;
    for (int nBuffer = 0; nBuffer < 100; ++nBuffer)
        ASSERT_EQ(CAudioHelp::FillBuffer(buf.data() + 4, DWORD(buf.size()), &wfe.Format, 19997, &dwPos, -0.75, &cache),
                  S_OK);
    EXPECT_EQ(cache.Bytes(), 192000u * 4 + 750) << "four seconds of stream, one second of words and flags";
    EXPECT_LE(cache.Bytes(), CSineCache::MAX_BYTES);
    cache.Release();
    EXPECT_EQ(cache.Bytes(), 0u);
}
}
