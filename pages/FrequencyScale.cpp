#include "pages/FrequencyScale.h"

#include "filter/DSAudio.h"

#include <cmath>

int PosToFreq(int nPos)
{
    int nFactor = 1;
    while (nPos > 10)
    {
        nFactor *= 10;
        nPos -= 9;
    }
    return nFactor * nPos;
}

int FreqToPos(int nFreq, int nMaxFreq)
{
    int nPos = 0;
    double x = nFreq;
    while (x > 10)
    {
        x /= 10;
        nPos += 9;
    }
    nPos += int(std::lround(x));
    if (PosToFreq(nPos + 1) <= nMaxFreq)
        return nPos;
    if (PosToFreq(nPos) < nMaxFreq && nFreq >= (PosToFreq(nPos) + nMaxFreq) / 2)
        return nPos + 1;
    return nPos;
}

int TopFrequency(int nSamplesPerSec)
{
    return nSamplesPerSec >= 1 ? int(CAudioHelp::HighestFrequency(DWORD(nSamplesPerSec))) : 0;
}

int SpinStep(int nPos, int nDelta)
{
    if (nDelta > 0)
        return nPos >= 10000 ? 1000 : nPos > 999 ? 100 : nPos > 99 ? 10 : nDelta;
    if (nDelta < 0)
        return nPos >= 10001 ? -1000 : nPos > 1000 ? -100 : nPos > 100 ? -10 : nDelta;
    return nDelta;
}
