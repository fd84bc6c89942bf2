// The synthesis's fast sine against the runtime's sin: within the tolerance the sample words
// rely on over the whole argument range, and sample words equal to those of the runtime's sin
// over whole seconds of many rates, frequencies and levels, past the fast range too.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "filter/FastSine.h"
#include "filter/SampleWord.h"

namespace
{
TEST(FastSine, StaysWithinHalfItsToleranceOfTheRuntimesSin)
{
    std::mt19937_64 rng(7);
    // Uniform over the range and uniform in the exponent, so that small arguments count too.
    std::uniform_real_distribution<double> uniform(0.0, fastsine::LIMIT), exponent(-20.0, 22.0);
    for (int i = 0; i < 400000; ++i)
    {
        const double x = i % 2 == 0 ? uniform(rng) : std::exp2(exponent(rng));
        ASSERT_LE(std::fabs(fastsine::Sin(x) - std::sin(x)), fastsine::Tolerance(x) / 2) << "x = " << x;
    }
    // Next to the reduction's quadrant boundaries, where r changes sign.
    for (int k = 1; k < 2000000; k += 997)
        for (double dx : {-1e-9, 0.0, 1e-9})
        {
            const double x = k * (std::numbers::pi / 2) + dx;
            ASSERT_LE(std::fabs(fastsine::Sin(x) - std::sin(x)), fastsine::Tolerance(x) / 2) << "x = " << x;
        }
}

struct CSecond
{
    DWORD dwRate;
    DWORD dwFreq;
};

TEST(FastSine, WordsOfWholeSecondsEqualThoseOfTheRuntimesSin)
{
    // Arguments reach pi x rate: the last rate goes past the fast range.
    const CSecond seconds[] = {{3, 1},         {8000, 1},       {8000, 3999},   {11025, 440},
                               {44100, 997},   {44100, 22049}, {48000, 12000},  {96000, 1000},  {192000, 47999},
                               {192000, 95999}, {384000, 191999}, {1000000, 333333}, {2000000, 999999}};
    const double levels[] = {1.0, -1.0, 0.5, -0.3333333333333333, 1e-9};
    const CPacker packers[] = {CPacker(32, 32), CPacker(16, 12), CPacker(8, 8)};
    for (const CSecond& sec : seconds)
    {
        const double dblStep = 2.0 * std::numbers::pi * sec.dwFreq / sec.dwRate;
        // The longest rates with fewer levels, to keep the run short.
        const size_t nLevels = sec.dwRate > 500000 ? 2 : std::size(levels);
        for (size_t l = 0; l < nLevels; ++l)
            for (DWORD dwPos = 0; dwPos < sec.dwRate; ++dwPos)
                for (const CPacker& packer : packers)
                    ASSERT_EQ(packer.SineWord(dblStep, levels[l], dwPos), packer.SineWordBySin(dblStep, levels[l], dwPos))
                        << sec.dwRate << " Hz, " << sec.dwFreq << " Hz tone, level " << levels[l] << ", position "
                        << dwPos;
    }
}
}
