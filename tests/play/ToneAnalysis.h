// What a recording of the sound server holds of a play: where the tone begins and ends, and
// in every 10 ms block of it whether each channel carries its sine at its level, continuing
// the phase of the block before. A gap, a repeated or a skipped stretch breaks the phase; a
// wrong frequency or level misses the fit.
#pragma once
#include <string>
#include <vector>

#include "render/ToneExpect.h"
#include "render/WavReader.h"

struct CToneFinding
{
    bool bFound = false;
    double dblStart = 0, dblSeconds = 0;  // where the tone is in the recording
    std::vector<double> levels;            // each channel's median level
    // "1.230 s: channel 0 at level 0.02" ...; none in a clean tone.
    std::vector<std::string> faults;
};

// 16-bit recordings only. Blocks that start within dblSettleSeconds of the tone's start are
// measured but not held against it.
CToneFinding FindTone(const CWavContent& wav, const std::vector<CTone>& tones, double dblSettleSeconds);
