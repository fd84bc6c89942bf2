// The settings page's frequency scale: slider positions 0 to 39, nine steps per decade, and
// the steps of the frequency spin button.
#pragma once

const int FREQ_SLIDER_MAX = 39;

// 0..10 give 0..10 Hz, then 20, 30, ... 100, 200, ... so 19 is 100 Hz, 28 1000 Hz, 37 10000 Hz.
int PosToFreq(int nPos);
// The nearest step within the frequency's decade; near nMaxFreq it may be the first step above it.
int FreqToPos(int nFreq, int nMaxFreq);
// The highest frequency a channel keeps at nSamplesPerSec: the filter's own (below half the
// rate exactly, which the filter and its synthesis both accept); 0 for rates below 3 Hz.
int TopFrequency(int nSamplesPerSec);
// The spin button's step from position nPos for a requested step nDelta: 1, 10, 100 or 1000
// by decade, so that a click moves by one digit of the number's own size.
int SpinStep(int nPos, int nDelta);
