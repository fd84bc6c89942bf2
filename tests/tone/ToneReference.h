// What the tone generator must deliver, computed on its own from the waveform formulas: one
// sine, constant or square wave per channel, packed into interleaved integer PCM, with the
// phase carried across buffers and across frequency changes. It shares no code with the
// filter's synthesis, so a fault there shows as a byte that differs from here.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <vector>

namespace tonestream
{
// Frequency codes of a channel besides a sine's whole hertz.
const int kToneConstant = 0;
const int kToneSquare = -1;

struct CToneFormat
{
    WORD nChannels;
    WORD nValidBits;
    DWORD nRate;
    WORD nContainerBits = 0;  // 0: the significant bits rounded up to whole bytes

    WORD ContainerBits() const { return nContainerBits != 0 ? nContainerBits : WORD((nValidBits + 7) / 8 * 8); }
    WORD BlockAlign() const { return WORD(nChannels * ContainerBits() / 8); }
    // The buffer the pin asks for: 40 ms, and the whole frames of it that get filled.
    DWORD BufferBytes() const { return nRate * BlockAlign() * 40 / 1000; }
    DWORD BufferFrames() const { return BufferBytes() / BlockAlign(); }
};

class CToneReference
{
public:
    explicit CToneReference(const CToneFormat& fmt);

    // The tone of channel c from the next buffer on; a new frequency keeps the phase.
    void SetTone(int c, int nFreq, double dblLevel);
    void SetFrequency(int c, int nFreq);
    void SetLevel(int c, double dblLevel);
    // A new format starts every channel below its count at phase 0.
    void SetFormat(const CToneFormat& fmt);
    // After a stop: every channel at phase 0.
    void ResetPhases();

    // The next buffer of nFrames frames; empty when a channel's tone is refused.
    std::vector<BYTE> Render(DWORD nFrames);

    const CToneFormat& Format() const { return m_fmt; }

    // The stored word of a level in -1.0..1.0: low nBits bits as in the buffer.
    static DWORD SampleWord(double dblLevel, WORD nBits, WORD nValidBits);
    // Reference time of llFrames frames at nRate, truncated.
    static REFERENCE_TIME FramesToTime(LONGLONG llFrames, DWORD nRate);

private:
    // Every channel starts as the filter's: 1000 Hz at half scale.
    struct CChannel
    {
        DWORD nFreq = 1000;      // requested
        DWORD nFreqUsed = 1000;  // applied
        DWORD nPos = 0;
        double dblLevel = 0.5;
    };

    void RenderChannel(CChannel& ch, BYTE* pFirst, DWORD nFrames) const;
    void Store(BYTE* p, DWORD dwWord) const;

    CToneFormat m_fmt;
    CChannel m_aChannels[32];
};
}
