// The filter's own FillBuffer driven buffer by buffer beside CToneReference: the format and
// tones set through the filter's interface and mirrored in the reference, and the memory the
// filter holds for its sines.
#pragma once
#include <windows.h>
#include <mmreg.h>

#include <vector>

#include "tone/ToneApiFixture.h"
#include "tone/ToneReference.h"

namespace toneapi
{
class CFillTest : public ToneApiTest
{
protected:
    void SetFormat(const tonestream::CToneFormat& fmt)
    {
        ASSERT_EQ(Tone()->SetParameters(fmt.nValidBits, fmt.nChannels, 0, int(fmt.nRate)), S_OK);
        m_ref.SetFormat(fmt);
    }
    // Both the filter (level in dB) and the reference (the level the filter stored).
    void SetTone(int c, int nFreq, double dblDb)
    {
        ASSERT_EQ(Tone()->SetFrequency(c, nFreq), S_OK);
        ASSERT_EQ(Tone()->SetAmplitude(c, dblDb), S_OK);
        m_ref.SetTone(c, nFreq, Filter().m_adblLevel[c]);
    }
    // The filter's next buffer of nFrames frames (0: 40 ms, as the streaming thread asks),
    // in the reference's format, which may have a wider container than the settings.
    std::vector<BYTE> FillNext(HRESULT hrExpected = S_OK, DWORD nFrames = 0)
    {
        const tonestream::CToneFormat& fmt = m_ref.Format();
        WAVEFORMATEXTENSIBLE wfe = {};
        wfe.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
        wfe.Format.nChannels = fmt.nChannels;
        wfe.Format.nSamplesPerSec = fmt.nRate;
        wfe.Format.wBitsPerSample = fmt.ContainerBits();
        wfe.Format.nBlockAlign = fmt.BlockAlign();
        wfe.Format.nAvgBytesPerSec = fmt.nRate * fmt.BlockAlign();
        wfe.Format.cbSize = 22;
        wfe.Samples.wValidBitsPerSample = fmt.nValidBits;
        std::vector<BYTE> buf((nFrames != 0 ? nFrames : fmt.BufferFrames()) * size_t(fmt.BlockAlign()), 0xCD);
        EXPECT_EQ(Filter().FillBuffer(buf.data(), DWORD(buf.size()), &wfe.Format), hrExpected);
        return buf;
    }
    // The next buffer of both, compared whole.
    bool NextMatches(DWORD nFrames = 0)
    {
        const DWORD n = nFrames != 0 ? nFrames : m_ref.Format().BufferFrames();
        return FillNext(S_OK, n) == m_ref.Render(n);
    }
    size_t CacheBytes(int c) { return Filter().m_aSineCache[c].Bytes(); }
    size_t TableBytes() { return Filter().m_frameTable.Bytes(); }

    tonestream::CToneReference m_ref{tonestream::CToneFormat{2, 16, 48000}};
};
}
