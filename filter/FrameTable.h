// One second of whole interleaved frames of every channel's tone. Sines of whole hertz take
// the same positions every second and constant levels never change, so while the tones stay
// the frames repeat after `rate` frames, and a buffer is one or two copies out of the table.
// The channels' positions need not be equal: each sine channel keeps its offset from the
// first one, and the table is read at the first one's position.
//
// Frames are computed a block at a time when the stream first reaches them, every word by
// CPacker::SineWord as the per-channel path computes it, so the bytes are the same. Square
// waves follow the buffer, not the second: their columns are left to the caller.
//
// Memory: rate x block align bytes plus a flag per BLOCK frames, and only where each channel's
// share stays within CSineCache::MAX_BYTES, the bound of the per-channel caches it replaces.
// A change of any tone discards the table; as rebuilding costs a second's words, the table
// returns only after the tones have stayed unchanged for a second of frames, the buffers in
// between coming from the per-channel path.
#pragma once
#include <windows.h>

#include <cstddef>
#include <memory>

class CFrameTable
{
public:
    static constexpr DWORD BLOCK = 256;
    static constexpr WORD MAX_CHANNELS = 32;

    // One channel: a sine (dwFreq in hertz, dwOffset its position less the first sine's), a
    // constant level (CAudioHelp::FREQ_CONSTANT) or a square wave, which the table skips.
    struct CChannelTone
    {
        DWORD dwFreq;
        DWORD dwOffset;
        double dblLevel;
    };
    struct CTones
    {
        DWORD dwRate;
        WORD nChannels;
        WORD wBits;
        WORD wValidBits;
        CChannelTone aChannel[MAX_CHANNELS];
    };

    CFrameTable() = default;
    CFrameTable(const CFrameTable&) = delete;
    CFrameTable& operator=(const CFrameTable&) = delete;

    // Whether the next buffer, of nFrames frames of these tones, comes from the table, which
    // is then ready for Copy; false leaves the buffer to the per-channel path.
    bool Use(const CTones& tones, DWORD nFrames);
    // Copies nFrames frames from table frame dwFrame (below the rate) on, wrapping at the end
    // of the second.
    void Copy(BYTE* pb, DWORD nFrames, DWORD dwFrame);
    // Frees the frames and forgets the tones: the next buffer may build a table at once.
    void Reset();
    // The bytes held now: frames and flags.
    size_t Bytes() const { return m_cbMemory; }

private:
    bool Prepare(const CTones& tones);
    void Release();
    void ComputeBlock(DWORD nBlock);

    std::unique_ptr<BYTE[]> m_apMemory;
    size_t m_cbMemory = 0;
    BYTE* m_pbFilled = nullptr;  // one flag per block, behind the frames
    bool m_bHolds = false;       // the frames are those of m_tones
    CTones m_tones = {};
    // After a change: the tones of the last buffer and how long they have stayed.
    bool m_bWaiting = false;
    ULONGLONG m_llSteadyFrames = 0;
    CTones m_tonesSeen = {};
};
