// The settings page's frequency scale and spin steps, as plain functions.
#include <gtest/gtest.h>

#include "pages/AudioSourcePP.h"
#include "pages/FrequencyScale.h"

namespace
{
TEST(FrequencyScale, PositionsGiveNineStepsPerDecade)
{
    const struct
    {
        int nPos;
        int nFreq;
    } cases[] = {{0, 0}, {1, 1}, {9, 9}, {10, 10}, {11, 20}, {18, 90}, {19, 100}, {20, 200},
                 {28, 1000}, {29, 2000}, {37, 10000}, {38, 20000}, {39, 30000}};
    for (const auto& c : cases)
        EXPECT_EQ(PosToFreq(c.nPos), c.nFreq) << "position " << c.nPos;
}

TEST(FrequencyScale, FrequencyGoesToTheNearestStepOfItsDecade)
{
    const struct
    {
        int nFreq;
        int nMaxFreq;
        int nPos;
    } cases[] = {
        {0, 24000, 0},      {1, 24000, 1},       {10, 24000, 10},    {14, 24000, 10},   {15, 24000, 11},
        {149, 24000, 19},   {150, 24000, 20},    {1000, 24000, 28},  {1499, 24000, 28}, {1500, 24000, 29},
        {10000, 24000, 37}, {24000, 24000, 39},  {23999, 24000, 39},
        // Near the top: the first step above the highest frequency once past the middle.
        {16000, 16000, 38}, {15999, 16000, 38},  {10999, 16000, 37}, {13000, 16000, 38},
        {12000, 12000, 38}, {10999, 12000, 37},  {11000, 12000, 38},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FreqToPos(c.nFreq, c.nMaxFreq), c.nPos) << c.nFreq << " Hz, highest " << c.nMaxFreq;
}

// The highest usable position is where half of each offered rate lies, and the highest
// frequency the filter keeps lands on that same position, so the thumb stays where it was put.
TEST(FrequencyScale, TopOfEveryOfferedRate)
{
    const struct
    {
        int nRate;
        int nTopPos;
        int nTopFreq;
    } cases[] = {{48000, 39, 23999}, {44100, 39, 22049}, {32000, 38, 15999}, {24000, 38, 11999},
                 {22050, 38, 11024}, {16000, 35, 7999},  {11025, 33, 5512},  {8000, 31, 3999}};
    ASSERT_EQ(std::size(cases), std::size(CAudioSourcePP::s_arrFreq));
    for (size_t i = 0; i < std::size(cases); ++i)
    {
        const auto& c = cases[i];
        EXPECT_EQ(CAudioSourcePP::s_arrFreq[i], c.nRate);
        int nMaxFreq = c.nRate / 2;
        EXPECT_EQ(FreqToPos(nMaxFreq, nMaxFreq), c.nTopPos) << c.nRate;
        EXPECT_EQ(TopFrequency(c.nRate), c.nTopFreq) << c.nRate;
        EXPECT_LT(2 * TopFrequency(c.nRate), c.nRate) << "the filter refuses twice the rate";
        EXPECT_EQ(FreqToPos(TopFrequency(c.nRate), nMaxFreq), c.nTopPos) << c.nRate;
    }
}

TEST(FrequencyScale, SpinStepsByTheNumbersDecade)
{
    const struct
    {
        int nPos;
        int nDelta;
        int nStep;
    } cases[] = {
        {0, 1, 1},         {99, 1, 1},       {100, 1, 10},     {999, 1, 10},     {1000, 1, 100},
        {9999, 1, 100},    {10000, 1, 1000}, {23000, 1, 1000}, {1, -1, -1},      {100, -1, -1},
        {101, -1, -10},    {1000, -1, -10},  {1001, -1, -100}, {10000, -1, -100}, {10001, -1, -1000},
        {0, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SpinStep(c.nPos, c.nDelta), c.nStep) << c.nPos << " by " << c.nDelta;
}
}
