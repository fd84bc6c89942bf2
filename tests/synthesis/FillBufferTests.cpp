// One channel's buffer fill, compared with the reference over a table of formats.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "filter/DSAudio.h"
#include "synthesis/Reference.h"
#include "types/AssertionLog.h"

namespace
{
const BYTE FILLER = 0xA5;

struct CFormat
{
    const char* pszName;
    DWORD dwRate;
    WORD wChannels;
    WORD wBits;
    WORD wValid;   // 0: a plain WAVE_FORMAT_PCM block
};

// clang-format off
const CFormat kFormats[] = {
    {"Mono8",          8000,   1,  8,  0},
    {"Stereo8",        44100,  2,  8,  0},
    {"Mono8Valid4",    22050,  1,  8,  4},
    {"Stereo16",       48000,  2, 16,  0},
    {"Stereo16Valid12",48000,  2, 16, 12},
    {"Mono16Ext",      48000,  1, 16, 16},
    {"Stereo24Valid20",48000,  2, 24, 20},
    {"Six24",          96000,  6, 24, 24},
    {"Three32Valid17", 44100,  3, 32, 17},
    {"Eight32",        192000, 8, 32, 32},
};
// clang-format on

WAVEFORMATEXTENSIBLE MakeFormat(const CFormat& f)
{
    return reference::WaveFormat(f.dwRate, f.wChannels, f.wBits, f.wValid);
}

unsigned ValidBits(const CFormat& f)
{
    return f.wValid == 0 ? f.wBits : f.wValid;
}

// The channel a test writes: one in the middle, so that neighbours on both sides are watched.
unsigned Channel(const CFormat& f)
{
    return f.wChannels / 2;
}

// Whether every byte outside channel c is still the filler.
bool OthersUntouched(const std::vector<BYTE>& buf, const WAVEFORMATEX& wf, unsigned c)
{
    const unsigned cb = wf.wBitsPerSample / 8;
    for (size_t i = 0; i < buf.size(); ++i)
    {
        size_t nOffset = i % wf.nBlockAlign;
        bool bOwn = nOffset >= c * cb && nOffset < (c + 1) * cb;
        if (!bOwn && buf[i] != FILLER)
            return false;
    }
    return true;
}

struct CTone
{
    const char* pszName;
    DWORD dwFreq;
    double dblLevel;
    DWORD dwPos;
    bool bBeforeWrap = false;   // dwPos counts the frames left before the position wraps
};

// Every frequency lies below half of the lowest rate of the table.
// clang-format off
const CTone kTones[] = {
    {"Hz1000Half",        1000,  0.5,     0},
    {"Hz997Inverted",     997,  -0.8,     0xFFFFFFF0},   // a position far beyond the rate wraps
    {"Hz3999Full",        3999,  1.0,     1},
    {"Hz1NegativeFull",   1,    -1.0,     40000},
    {"Hz440Quiet",        440,   0.001,   7},
    {"Hz1000NearTheWrap", 1000,  0.7,     10,   true},
};
// clang-format on

class SineFill : public testing::TestWithParam<std::tuple<CFormat, CTone>>
{
protected:
    const CFormat& Format() const { return std::get<0>(GetParam()); }
    const CTone& Tone() const { return std::get<1>(GetParam()); }
    DWORD StartPos() const { return Tone().bBeforeWrap ? Format().dwRate - Tone().dwPos : Tone().dwPos; }

    // Fills channel Channel() of a filler-initialised buffer of nFrames from *pdwPos.
    std::vector<BYTE> Fill(size_t nFrames, DWORD* pdwPos) const
    {
        WAVEFORMATEXTENSIBLE wfe = MakeFormat(Format());
        std::vector<BYTE> buf(nFrames * wfe.Format.nBlockAlign, FILLER);
        const unsigned cb = wfe.Format.wBitsPerSample / 8;
        EXPECT_EQ(CAudioHelp::FillBuffer(buf.data() + Channel(Format()) * cb, DWORD(buf.size()), &wfe.Format,
                                         Tone().dwFreq, pdwPos, Tone().dblLevel),
                  S_OK);
        return buf;
    }
};

TEST_P(SineFill, MatchesTheReferenceInItsOwnBytesOnly)
{
    const CFormat& f = Format();
    const WAVEFORMATEXTENSIBLE wfe = MakeFormat(f);
    const size_t nFrames = f.dwRate / 25 + 3;
    DWORD dwPos = StartPos();
    std::vector<BYTE> buf = Fill(nFrames, &dwPos);

    size_t nMismatches = 0;
    const unsigned nLowBits = f.wBits - ValidBits(f);
    for (size_t n = 0; n < nFrames; ++n)
    {
        double v = reference::SineValue(Tone().dblLevel, Tone().dwFreq, f.dwRate, n, StartPos());
        uint32_t dwExpected = reference::LevelCode(v, f.wBits, ValidBits(f));
        uint32_t dwActual = reference::ReadSample(buf, wfe.Format, n, Channel(f));
        if (dwActual != dwExpected && nMismatches++ < 5)
            ADD_FAILURE() << "frame " << n << ": 0x" << std::hex << dwActual << " instead of 0x" << dwExpected;
        if (f.wBits > 8 && (dwActual & ((1u << nLowBits) - 1)) != 0 && nMismatches++ < 5)
            ADD_FAILURE() << "frame " << n << ": bits below the significant ones are set";
    }
    EXPECT_EQ(nMismatches, 0u);
    EXPECT_TRUE(OthersUntouched(buf, wfe.Format, Channel(f)));
    EXPECT_EQ(dwPos, DWORD((StartPos() % f.dwRate + nFrames) % f.dwRate));
}

TEST_P(SineFill, ConsecutiveBuffersEqualOneBufferOfTheirJoinedLength)
{
    const CFormat& f = Format();
    const size_t nBuffer = f.dwRate / 25;
    for (size_t nFirst : {nBuffer, size_t(7)})
    {
        DWORD dwWhole = StartPos();
        std::vector<BYTE> whole = Fill(2 * nBuffer, &dwWhole);
        DWORD dwPos = StartPos();
        std::vector<BYTE> joined = Fill(nFirst, &dwPos);
        std::vector<BYTE> second = Fill(2 * nBuffer - nFirst, &dwPos);
        joined.insert(joined.end(), second.begin(), second.end());
        EXPECT_TRUE(joined == whole) << "split after " << nFirst << " frames";
        EXPECT_EQ(dwPos, dwWhole);
    }
}

TEST_P(SineFill, NullPositionStartsAtZero)
{
    DWORD dwPos = 0;
    EXPECT_TRUE(Fill(100, nullptr) == Fill(100, &dwPos));
}

// Below half the rate exactly: at odd rates the top frequency (rate - 1) / 2 plays, over a
// whole second and into the next, and the constant level plays at 1 Hz.
TEST(ToneFill, TopFrequencyOfOddRatesMatchesTheReference)
{
    for (DWORD dwRate : {DWORD(1), DWORD(3), DWORD(5), DWORD(8001), DWORD(44101)})
    {
        SCOPED_TRACE(testing::Message() << dwRate << " Hz");
        const DWORD dwFreq = dwRate / 2;
        const WAVEFORMATEXTENSIBLE wfe = reference::WaveFormat(dwRate, 2, 16, 0);
        const size_t nFrames = dwRate + 7;
        std::vector<BYTE> buf(nFrames * wfe.Format.nBlockAlign, FILLER);
        DWORD dwPos = 0;
        ASSERT_EQ(CAudioHelp::FillBuffer(buf.data(), DWORD(buf.size()), &wfe.Format, dwFreq, &dwPos, -0.9), S_OK);
        size_t nMismatches = 0;
        for (size_t n = 0; n < nFrames; ++n)
        {
            const double v = dwFreq == 0 ? -0.9 : reference::SineValue(-0.9, dwFreq, dwRate, n, 0);
            if (reference::ReadSample(buf, wfe.Format, n, 0) != reference::LevelCode(v, 16, 16))
                ++nMismatches;
        }
        EXPECT_EQ(nMismatches, 0u);
        EXPECT_TRUE(OthersUntouched(buf, wfe.Format, 0));
        EXPECT_EQ(dwPos, dwFreq == 0 ? 0 : DWORD(7 % dwRate));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, SineFill, testing::Combine(testing::ValuesIn(kFormats), testing::ValuesIn(kTones)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).pszName) + "_" +
                                    std::get<1>(info.param).pszName;
                         });

class LevelFill : public testing::TestWithParam<CFormat>
{
protected:
    // Fills channel Channel() of nFrames with a constant or square tone; checks the neighbours.
    std::vector<BYTE> Fill(size_t nFrames, DWORD dwFreq, DWORD* pdwPos, double dblLevel) const
    {
        WAVEFORMATEXTENSIBLE wfe = MakeFormat(GetParam());
        std::vector<BYTE> buf(nFrames * wfe.Format.nBlockAlign, FILLER);
        const unsigned cb = wfe.Format.wBitsPerSample / 8;
        EXPECT_EQ(CAudioHelp::FillBuffer(buf.data() + Channel(GetParam()) * cb, DWORD(buf.size()), &wfe.Format,
                                         dwFreq, pdwPos, dblLevel),
                  S_OK);
        EXPECT_TRUE(OthersUntouched(buf, wfe.Format, Channel(GetParam())));
        return buf;
    }
    // The frames [nFrom, nTo) of channel Channel() that differ from the code of dblLevel.
    size_t CountOther(const std::vector<BYTE>& buf, size_t nFrom, size_t nTo, double dblLevel) const
    {
        const CFormat& f = GetParam();
        WAVEFORMATEXTENSIBLE wfe = MakeFormat(f);
        uint32_t dwCode = reference::LevelCode(dblLevel, f.wBits, ValidBits(f));
        size_t n = 0;
        for (size_t i = nFrom; i < nTo; ++i)
            n += reference::ReadSample(buf, wfe.Format, i, Channel(f)) != dwCode;
        return n;
    }
};

TEST_P(LevelFill, ConstantLevelFillsEveryFrameAndResetsThePosition)
{
    for (double dblLevel : {0.5, -1.0, 0.0, 1.0, -0.3})
    {
        DWORD dwPos = 1234;
        std::vector<BYTE> buf = Fill(101, CAudioHelp::FREQ_CONSTANT, &dwPos, dblLevel);
        EXPECT_EQ(CountOther(buf, 0, 101, dblLevel), 0u) << "level " << dblLevel;
        EXPECT_EQ(dwPos, 0u);
    }
}

TEST_P(LevelFill, SquareWaveHalvesAlternateAcrossBuffers)
{
    for (size_t nFrames : {size_t(1920), size_t(7), size_t(1)})
    {
        for (double dblLevel : {1.0, -0.25})
        {
            DWORD dwPos = 0;
            for (int nBuffer = 0; nBuffer < 3; ++nBuffer)
            {
                double dblFirst = nBuffer % 2 == 0 ? dblLevel : -dblLevel;
                std::vector<BYTE> buf = Fill(nFrames, CAudioHelp::FREQ_SQUARE, &dwPos, dblLevel);
                EXPECT_EQ(CountOther(buf, 0, nFrames / 2, dblFirst), 0u)
                    << nFrames << " frames, level " << dblLevel << ", buffer " << nBuffer;
                EXPECT_EQ(CountOther(buf, nFrames / 2, nFrames, -dblFirst), 0u)
                    << nFrames << " frames, level " << dblLevel << ", buffer " << nBuffer;
                EXPECT_EQ(dwPos, nBuffer % 2 == 0 ? 1u : 0u);
            }
        }
    }
}

TEST_P(LevelFill, SquareWaveTakesAnyNonZeroPositionAsTheSecondPhase)
{
    DWORD dwPos = 5;
    std::vector<BYTE> buf = Fill(10, CAudioHelp::FREQ_SQUARE, &dwPos, 0.75);
    EXPECT_EQ(CountOther(buf, 0, 5, -0.75), 0u);
    EXPECT_EQ(CountOther(buf, 5, 10, 0.75), 0u);
    EXPECT_EQ(dwPos, 0u);
}

INSTANTIATE_TEST_SUITE_P(Formats, LevelFill, testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST(ToneFill, StereoToneAt1kHzStartsAtZeroAndRepeatsEvery48Frames)
{
    WAVEFORMATEXTENSIBLE wfe = MakeFormat({"Stereo16", 48000, 2, 16, 0});
    std::vector<BYTE> buf(1920 * 4, FILLER);
    DWORD dwPos = 0;
    ASSERT_EQ(CAudioHelp::FillBuffer(buf.data(), DWORD(buf.size()), &wfe.Format, 1000, &dwPos, 0.5), S_OK);
    EXPECT_EQ(reference::ReadSample(buf, wfe.Format, 0, 0), 0u);
    EXPECT_NE(reference::ReadSample(buf, wfe.Format, 12, 0), 0u);
    for (size_t n = 0; n + 48 < 1920; ++n)
        ASSERT_EQ(reference::ReadSample(buf, wfe.Format, n, 0), reference::ReadSample(buf, wfe.Format, n + 48, 0));
    EXPECT_TRUE(OthersUntouched(buf, wfe.Format, 0));
    EXPECT_EQ(dwPos, 1920u);
}

// Arguments of one call, spoiled one at a time from a sound stereo 16-bit call.
struct CCall
{
    std::vector<BYTE> buf = std::vector<BYTE>(40, FILLER);
    BYTE* pBuf = buf.data();
    DWORD cbLen = 40;
    WAVEFORMATEXTENSIBLE wfe = MakeFormat({"Stereo16", 48000, 2, 16, 0});
    const WAVEFORMATEX* pWF = &wfe.Format;
    DWORD dwFreq = 1000;
    double dblLevel = 0.5;
};

void MakeExtensible(CCall& c)
{
    c.wfe = MakeFormat({"Stereo16Valid12", 48000, 2, 16, 12});
}

struct CRejection
{
    const char* pszName;
    void (*pfnSpoil)(CCall&);
    HRESULT hr;
    const char* pszAssertion;
};

class FillRejection : public testing::TestWithParam<CRejection>
{
};

TEST_P(FillRejection, ReturnsItsErrorAndWritesNothing)
{
    testsink::CSinkReader sink(L"testsink.dll");
    ASSERT_TRUE(sink.IsLoaded());
    CCall call;
    GetParam().pfnSpoil(call);
    sink.Clear();
    DWORD dwPos = 17;
    EXPECT_EQ(CAudioHelp::FillBuffer(call.pBuf, call.cbLen, call.pWF, call.dwFreq, &dwPos, call.dblLevel),
              GetParam().hr);
    EXPECT_EQ(dwPos, 17u);
    EXPECT_TRUE(call.buf == std::vector<BYTE>(40, FILLER));
    EXPECT_EQ(testsink::AssertedConditions(sink, L"DSAudio"), std::vector<std::string>{GetParam().pszAssertion});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Arguments, FillRejection, testing::Values(
    CRejection{"NoBuffer",          [](CCall& c) { c.pBuf = nullptr; }, E_POINTER, "pBuf != NULL"},
    CRejection{"NoLength",          [](CCall& c) { c.cbLen = 0; }, E_POINTER, "cbLen != 0"},
    CRejection{"NoLengthNoFormat",  [](CCall& c) { c.cbLen = 0; c.pWF = nullptr; }, E_POINTER, "cbLen != 0"},
    CRejection{"NoFormat",          [](CCall& c) { c.pWF = nullptr; }, E_POINTER, "pWF != NULL"},
    CRejection{"FloatTag",          [](CCall& c) { c.wfe.Format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT; }, E_INVALIDARG,
               "pWF->wFormatTag == WAVE_FORMAT_PCM || pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE"},
    CRejection{"Bits12",            [](CCall& c) { c.wfe.Format.wBitsPerSample = 12; }, E_INVALIDARG,
               "wBits == 8 || wBits == 16 || wBits == 24 || wBits == 32"},
    CRejection{"NoBits",            [](CCall& c) { c.wfe.Format.wBitsPerSample = 0; }, E_INVALIDARG,
               "wBits == 8 || wBits == 16 || wBits == 24 || wBits == 32"},
    CRejection{"ExtensibleShort",   [](CCall& c) { MakeExtensible(c); c.wfe.Format.cbSize = 19; }, E_INVALIDARG,
               "sizeof(WAVEFORMATEX) + sizeof(WORD) < pWF->cbSize"},
    CRejection{"ValidAboveContainer", [](CCall& c) { MakeExtensible(c); c.wfe.Samples.wValidBitsPerSample = 17; },
               E_INVALIDARG, "wValidBits <= wBits"},
    CRejection{"NoValidBits",       [](CCall& c) { MakeExtensible(c); c.wfe.Samples.wValidBitsPerSample = 0; },
               E_INVALIDARG, "wValidBits > 0"},
    CRejection{"NoChannels",        [](CCall& c) { c.wfe.Format.nChannels = 0; }, E_INVALIDARG, "pWF->nChannels > 0"},
    CRejection{"BlockAlignDisagrees", [](CCall& c) { c.wfe.Format.nBlockAlign = 8; c.wfe.Format.nChannels = 2; },
               E_INVALIDARG, "pWF->nBlockAlign == (pWF->nChannels * wBits)/8"},
    CRejection{"PartFrame",         [](CCall& c) { c.cbLen = 38; }, E_INVALIDARG, "(cbLen % pWF->nBlockAlign) == 0"},
    CRejection{"HalfTheRate",       [](CCall& c) { c.dwFreq = 24000; }, E_INVALIDARG,
               "dwFreqHz == (DWORD)-1 || 2 * ULONGLONG(dwFreqHz) < pWF->nSamplesPerSec"},
    CRejection{"HalfAnOddRateRoundedUp", [](CCall& c) { c.wfe.Format.nSamplesPerSec = 44101;
                                                      c.wfe.Format.nAvgBytesPerSec = 44101 * 4; c.dwFreq = 22051; },
               E_INVALIDARG, "dwFreqHz == (DWORD)-1 || 2 * ULONGLONG(dwFreqHz) < pWF->nSamplesPerSec"},
    CRejection{"ConstantAtNoRate",  [](CCall& c) { c.wfe.Format.nSamplesPerSec = 0; c.dwFreq = 0; },
               E_INVALIDARG, "dwFreqHz == (DWORD)-1 || 2 * ULONGLONG(dwFreqHz) < pWF->nSamplesPerSec"},
    CRejection{"AlmostSquareCode",  [](CCall& c) { c.dwFreq = 0xFFFFFFFE; }, E_INVALIDARG,
               "dwFreqHz == (DWORD)-1 || 2 * ULONGLONG(dwFreqHz) < pWF->nSamplesPerSec"},
    CRejection{"LevelAboveFull",    [](CCall& c) { c.dblLevel = 1.0000001; }, E_INVALIDARG, "-1.0 <= dblLevel && dblLevel <= 1.0"},
    CRejection{"LevelBelowFull",    [](CCall& c) { c.dblLevel = -1.5; }, E_INVALIDARG, "-1.0 <= dblLevel && dblLevel <= 1.0"},
    CRejection{"LevelNaN",          [](CCall& c) { c.dblLevel = std::nan(""); }, E_INVALIDARG, "-1.0 <= dblLevel && dblLevel <= 1.0"}),
    [](const auto& info) { return std::string(info.param.pszName); });
// clang-format on
}
