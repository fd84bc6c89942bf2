#include "render/ToneExpect.h"

#include "synthesis/Reference.h"

namespace
{
// The frames of one buffer: 40 ms of bytes rounded down to whole frames, at least one.
uint64_t BufferFrames(const CWavContent& wav)
{
    const uint64_t cb = uint64_t(wav.nRate) * wav.nBlockAlign * 40 / 1000;
    return cb < wav.nBlockAlign ? 1 : cb / wav.nBlockAlign;
}

double Value(const CTone& tone, const CWavContent& wav, uint64_t n)
{
    if (tone.nFreq == 0)
        return tone.dblLevel;
    if (tone.nFreq == -1)
    {
        const uint64_t N = BufferFrames(wav);
        const double dblFirst = (n / N) % 2 == 0 ? tone.dblLevel : -tone.dblLevel;
        return n % N < N / 2 ? dblFirst : -dblFirst;
    }
    return reference::SineValue(tone.dblLevel, DWORD(tone.nFreq), wav.nRate, n, 0);
}
}

testing::AssertionResult SamplesMatch(const CWavContent& wav, const std::vector<CTone>& tones)
{
    if (tones.size() != wav.nChannels)
        return testing::AssertionFailure() << wav.nChannels << " channels, " << tones.size() << " tones expected";
    for (uint64_t n = 0; n < wav.Frames(); ++n)
        for (unsigned c = 0; c < wav.nChannels; ++c)
        {
            const uint32_t dwExpected = reference::LevelCode(Value(tones[c], wav, n), wav.wBits, wav.wValidBits);
            const uint32_t dwActual = wav.Sample(size_t(n), c);
            if (dwActual != dwExpected)
                return testing::AssertionFailure()
                       << "frame " << n << " channel " << c << " (" << tones[c].nFreq << " Hz, level "
                       << tones[c].dblLevel << ") is " << Hex(dwActual) << ", expected " << Hex(dwExpected);
        }
    return testing::AssertionSuccess();
}
