// What a rendered file must hold, from the waveform formulas of the synthesis reference:
// every channel from phase 0 at the first frame, sines continuing across buffers, square
// waves turning in the middle of each 40 ms buffer.
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "render/WavReader.h"

struct CTone
{
    int nFreq;
    double dblLevel;  // linear, as the filter stores it
};

// The filter's own tone until one is set.
const CTone kDefaultTone = {1000, 0.5};

// A tone set in decibels, at the level the filter derives from them.
inline CTone DbTone(int nFreq, double dblDb)
{
    return {nFreq, std::pow(10.0, dblDb / 20.0)};
}

// "0x1F" (an assertion message takes no stream manipulators).
inline std::string Hex(uint32_t v)
{
    char sz[16];
    snprintf(sz, sizeof(sz), "0x%X", unsigned(v));
    return sz;
}

// Every sample of every channel against the channel's tone; names the first that differs.
testing::AssertionResult SamplesMatch(const CWavContent& wav, const std::vector<CTone>& tones);
