// Sample packing of every container and significant-bit count, and sample counts to time.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "filter/DSAudio.h"
#include "synthesis/Reference.h"

namespace
{
struct CWidth
{
    WORD wBits;
    WORD wValid;
};

std::vector<CWidth> AllWidths()
{
    std::vector<CWidth> widths;
    for (WORD wBits : {8, 16, 24, 32})
        for (WORD wValid = 4; wValid <= wBits; ++wValid)
            widths.push_back({wBits, wValid});
    return widths;
}

// Full-scale values: the extremes, values on and next to the step boundaries of every
// width, and a spread of others.
std::vector<LONG> Values()
{
    std::vector<LONG> values = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX, INT32_MAX - 1};
    for (int nShift = 0; nShift < 31; ++nShift)
        for (int64_t d : {-1, 0, 1})
        {
            values.push_back(LONG((int64_t(1) << nShift) + d));
            values.push_back(LONG(-(int64_t(1) << nShift) + d));
        }
    uint32_t dwSeed = 12345;
    for (int i = 0; i < 2000; ++i)
    {
        dwSeed = dwSeed * 1664525u + 1013904223u;
        values.push_back(LONG(dwSeed));
    }
    return values;
}

class Packing : public testing::TestWithParam<CWidth>
{
};

TEST_P(Packing, PackSampleMatchesTheReference)
{
    const CWidth w = GetParam();
    for (LONG l : Values())
        ASSERT_EQ(CAudioHelp::PackSample(l, w.wBits, w.wValid), reference::Code(l, w.wBits, w.wValid))
            << "value " << l;
}

TEST_P(Packing, LevelToSampleMatchesTheReference)
{
    const CWidth w = GetParam();
    for (int i = -1024; i <= 1024; ++i)
    {
        double dblLevel = i / 1024.0;
        ASSERT_EQ(CAudioHelp::LevelToSample(dblLevel, w.wBits, w.wValid),
                  reference::LevelCode(dblLevel, w.wBits, w.wValid))
            << "level " << dblLevel;
    }
    for (double dblLevel : {1e-12, -1e-12, 0.999999999, -0.999999999, 0.3333333333})
        EXPECT_EQ(CAudioHelp::LevelToSample(dblLevel, w.wBits, w.wValid),
                  reference::LevelCode(dblLevel, w.wBits, w.wValid))
            << "level " << dblLevel;
}

TEST_P(Packing, FullScaleAndSilenceReachTheExtremeCodes)
{
    const CWidth w = GetParam();
    const unsigned nLow = w.wBits - w.wValid;
    // Largest positive and most negative code of the significant bits, left-justified.
    uint32_t dwMax = ((1u << (w.wValid - 1)) - 1) << nLow;
    uint32_t dwMin = (1u << (w.wValid - 1)) << nLow;
    if (w.wBits == 8)
    {
        dwMax = (dwMax + 128) & 0xFF;
        dwMin = (dwMin + 128) & 0xFF;
    }
    EXPECT_EQ(CAudioHelp::LevelToSample(1.0, w.wBits, w.wValid), dwMax);
    // Full negative scale is -(2^31 - 1): the most negative code wherever low bits are cut off.
    EXPECT_EQ(CAudioHelp::LevelToSample(-1.0, w.wBits, w.wValid), w.wValid == 32 ? dwMin + 1 : dwMin);
    EXPECT_EQ(CAudioHelp::LevelToSample(0.0, w.wBits, w.wValid), w.wBits == 8 ? 0x80u : 0u);
    // The most negative input is one step above the most negative code.
    uint32_t dwAboveMin = w.wBits == 8 ? ((dwMin + (1u << nLow)) & 0xFF) : dwMin + (1u << nLow);
    EXPECT_EQ(CAudioHelp::PackSample(INT32_MIN, w.wBits, w.wValid), dwAboveMin);
}

INSTANTIATE_TEST_SUITE_P(Widths, Packing, testing::ValuesIn(AllWidths()), [](const auto& info) {
    std::string name = "K";
    name += std::to_string(info.param.wBits);
    name += "_V";
    name += std::to_string(info.param.wValid);
    return name;
});

struct CKnownCode
{
    double dblLevel;
    WORD wBits;
    WORD wValid;
    DWORD dwCode;
};

class KnownCodes : public testing::TestWithParam<CKnownCode>
{
};

TEST_P(KnownCodes, LevelGivesTheCode)
{
    const CKnownCode& c = GetParam();
    EXPECT_EQ(CAudioHelp::LevelToSample(c.dblLevel, c.wBits, c.wValid), c.dwCode);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Examples, KnownCodes, testing::Values(
    CKnownCode{1.0, 16, 16, 0x7FFF},      CKnownCode{-1.0, 16, 16, 0x8000},
    CKnownCode{0.5, 16, 16, 0x4000},      CKnownCode{1.0, 24, 20, 0x7FFFF0},
    CKnownCode{1.0, 8, 8, 0xFF},          CKnownCode{0.0, 8, 8, 0x80},
    CKnownCode{-1.0, 8, 8, 0x00},         CKnownCode{1.0, 32, 32, 0x7FFFFFFF},
    CKnownCode{-1.0, 32, 32, 0x80000001}, CKnownCode{-1.0, 24, 24, 0x800000},
    // Beyond full scale is clamped rather than overflowing; NaN is silence.
    CKnownCode{1.5, 16, 16, 0x7FFF},      CKnownCode{-2.0, 16, 16, 0x8000},
    CKnownCode{std::numeric_limits<double>::quiet_NaN(), 8, 8, 0x80}));
// clang-format on

// Stored levels are limited to a range; NaN fails every range test and becomes silence
// instead of passing through a clamp written as two "outside" tests.
TEST(ClampLevel, LimitsToTheRangeAndSilencesNaN)
{
    const double dblNaN = std::numeric_limits<double>::quiet_NaN();
    const double dblInf = std::numeric_limits<double>::infinity();
    struct
    {
        double dblLevel, dblMin, dblExpected;
    } cases[] = {
        {0.5, 0.0, 0.5},   {1.5, 0.0, 1.0},   {-0.25, 0.0, 0.0}, {dblNaN, 0.0, 0.0}, {-dblNaN, 0.0, 0.0},
        {dblInf, 0.0, 1.0}, {-dblInf, 0.0, 0.0}, {-0.25, -1.0, -0.25}, {-2.0, -1.0, -1.0}, {dblNaN, -1.0, 0.0},
    };
    for (const auto& c : cases)
    {
        double dbl = CAudioHelp::ClampLevel(c.dblLevel, c.dblMin);
        EXPECT_FALSE(std::isnan(dbl)) << c.dblLevel;
        EXPECT_EQ(dbl, c.dblExpected) << c.dblLevel << " in " << c.dblMin << "..1";
    }
}

TEST(PackSample, MostNegativeValue)
{
    EXPECT_EQ(CAudioHelp::PackSample(INT32_MIN, 16, 16), 0x8001u);
    EXPECT_EQ(CAudioHelp::PackSample(INT32_MIN, 32, 32), 0x80000001u);
    EXPECT_EQ(CAudioHelp::PackSample(INT32_MIN, 24, 20), 0x800010u);
    EXPECT_EQ(CAudioHelp::PackSample(INT32_MIN, 8, 8), 0x01u);
}

struct CTimeCase
{
    LONGLONG llSamples;
    DWORD dwRate;
};

class SamplesToTime : public testing::TestWithParam<CTimeCase>
{
};

// Exact floor and ceiling of n x 10^7 / rate in 128-bit arithmetic.
TEST_P(SamplesToTime, IsTheExactQuotientRoundedDownOrUp)
{
    const CTimeCase& c = GetParam();
    WAVEFORMATEX wf = {};
    wf.nSamplesPerSec = c.dwRate;
    __int128 product = __int128(c.llSamples) * 10000000;
    __int128 floor = product / c.dwRate;
    __int128 ceil = floor + (product % c.dwRate != 0);
    EXPECT_EQ(CAudioHelp::SamplesToTime(c.llSamples, &wf, FALSE), REFERENCE_TIME(floor));
    EXPECT_EQ(CAudioHelp::SamplesToTime(c.llSamples, &wf, TRUE), REFERENCE_TIME(ceil));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Counts, SamplesToTime, testing::Values(
    CTimeCase{0, 48000},             CTimeCase{1, 44100},             CTimeCase{48000, 48000},
    CTimeCase{47999, 48000},         CTimeCase{1920, 48000},          CTimeCase{7, 192000},
    CTimeCase{123456789, 96000},     CTimeCase{1, 4294967295u},       CTimeCase{4294967296LL, 4294967295u},
    // A century at 192 kHz: the plain product n x 10^7 would overflow 64 bits.
    CTimeCase{192000LL * 86400 * 36525, 192000}));
// clang-format on

TEST(SamplesToTimeExamples, KnownValues)
{
    WAVEFORMATEX wf = {};
    wf.nSamplesPerSec = 48000;
    EXPECT_EQ(CAudioHelp::SamplesToTime(48000, &wf, FALSE), 10000000);
    wf.nSamplesPerSec = 44100;
    EXPECT_EQ(CAudioHelp::SamplesToTime(1, &wf, FALSE), 226);
    EXPECT_EQ(CAudioHelp::SamplesToTime(1, &wf, TRUE), 227);
    EXPECT_EQ(CAudioHelp::SamplesToTime(1, nullptr, TRUE), 0);
    wf.nSamplesPerSec = 0;
    EXPECT_EQ(CAudioHelp::SamplesToTime(1000, &wf, FALSE), 0);
}
}
