#include "play/ToneAnalysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace
{
const double kPi = 3.14159265358979323846;
// A sample above this share of full scale belongs to the tone.
const double kPresent = 0.05;
// A block whose level is off by more than this share, or whose phase moved by more than this
// part of a cycle beyond its frequency's advance, is a fault.
const double kLevelTolerance = 0.03;
const double kPhaseTolerance = 0.02;

double Value(const CWavContent& wav, size_t nFrame, unsigned c)
{
    return double(int16_t(uint16_t(wav.Sample(nFrame, c)))) / 32768.0;
}

// Least squares of a sine at dblFreq over the block: its level and phase in cycles.
void Fit(const CWavContent& wav, size_t nFirst, size_t n, unsigned c, double dblFreq, double& dblLevel, double& dblPhase)
{
    double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0;
    for (size_t i = 0; i < n; ++i)
    {
        const double w = 2 * kPi * dblFreq * double(nFirst + i) / wav.nRate;
        const double s = std::sin(w), k = std::cos(w), x = Value(wav, nFirst + i, c);
        ss += s * s;
        sc += s * k;
        cc += k * k;
        xs += x * s;
        xc += x * k;
    }
    const double det = ss * cc - sc * sc;
    const double a = (xs * cc - xc * sc) / det, b = (xc * ss - xs * sc) / det;
    dblLevel = std::hypot(a, b);
    dblPhase = std::atan2(b, a) / (2 * kPi);
}
}

CToneFinding FindTone(const CWavContent& wav, const std::vector<CTone>& tones, double dblSettleSeconds)
{
    CToneFinding f;
    if (wav.wBits != 16 || wav.nChannels != tones.size() || wav.nRate == 0)
    {
        f.faults.push_back("not a 16-bit recording of " + std::to_string(tones.size()) + " channels");
        return f;
    }
    const size_t nFrames = wav.Frames();
    size_t nFirst = nFrames, nLast = 0;
    for (size_t n = 0; n < nFrames; ++n)
        for (unsigned c = 0; c < wav.nChannels; ++c)
            if (std::fabs(Value(wav, n, c)) > kPresent)
            {
                nFirst = std::min(nFirst, n);
                nLast = n;
            }
    if (nFirst >= nLast)
        return f;
    f.bFound = true;
    f.dblStart = double(nFirst) / wav.nRate;
    f.dblSeconds = double(nLast + 1 - nFirst) / wav.nRate;

    // The fit is made on absolute positions, so a continuous sine keeps its phase from block
    // to block; a break of the stream shows as a phase that moved.
    const size_t nBlock = wav.nRate / 100;
    std::vector<std::vector<double>> levels(tones.size());
    std::vector<double> prevPhase(tones.size(), NAN);
    for (size_t nAt = nFirst; nAt + nBlock <= nLast; nAt += nBlock)
    {
        const double dblAt = double(nAt - nFirst) / wav.nRate;
        const bool bCounts = dblAt >= dblSettleSeconds;
        for (unsigned c = 0; c < tones.size(); ++c)
        {
            double dblLevel = 0, dblPhase = 0;
            Fit(wav, nAt, nBlock, c, tones[c].nFreq, dblLevel, dblPhase);
            levels[c].push_back(dblLevel);
            char sz[160];
            sz[0] = 0;
            if (std::fabs(dblLevel - tones[c].dblLevel) > kLevelTolerance * tones[c].dblLevel)
                snprintf(sz, sizeof(sz), "%.3f s: channel %u at level %.3f, expected %.3f", dblAt, c, dblLevel,
                         tones[c].dblLevel);
            else if (!std::isnan(prevPhase[c]))
            {
                double d = dblPhase - prevPhase[c];
                d -= std::floor(d + 0.5);
                if (std::fabs(d) > kPhaseTolerance)
                    snprintf(sz, sizeof(sz), "%.3f s: channel %u jumps by %.3f of a cycle", dblAt, c, d);
            }
            prevPhase[c] = dblPhase;
            if (sz[0] != 0 && bCounts)
                f.faults.push_back(sz);
        }
    }
    for (auto& v : levels)
    {
        std::sort(v.begin(), v.end());
        f.levels.push_back(v.empty() ? 0.0 : v[v.size() / 2]);
    }
    return f;
}
