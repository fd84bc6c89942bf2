// One channel's sine as packed sample words over the positions of one second. A sine of whole
// hertz takes the same positions every second, so once they are known a buffer is table reads
// and strided stores instead of a sin per sample. A word is computed when its block of
// positions is first reached, by the same arithmetic as the per-sample path (CPacker::SineWord),
// so the bytes are the same.
//
// Memory per channel: rate x container bytes for the words plus one flag byte per BLOCK
// positions, and never more than MAX_BYTES (32 channels: at most 32 MiB); a second that does
// not fit is synthesized per sample. It does not grow with the stream, a different tone or
// format discards it, and Release or the destructor frees it.
#pragma once
#include <windows.h>

#include <cstddef>
#include <memory>

#include "filter/SampleWord.h"

// What the words depend on.
struct CSineTone
{
    DWORD dwRate;
    DWORD dwFreq;
    double dblLevel;
    WORD wBits;
    WORD wValidBits;
};

class CSineCache
{
public:
    static constexpr DWORD BLOCK = 256;
    static constexpr size_t MAX_BYTES = size_t(1) << 20;

    CSineCache() = default;
    CSineCache(const CSineCache&) = delete;
    CSineCache& operator=(const CSineCache&) = delete;

    // Writes nFrames words of the tone, nStride bytes apart, from position *pdwPos (below the
    // rate) on and stores the position after them. packer and dblStep are the tone's own.
    // False, with nothing written, when the tone's second exceeds MAX_BYTES or memory is short.
    bool Fill(const CSineTone& tone, const CPacker& packer, double dblStep, BYTE* pb, DWORD nFrames, unsigned nStride,
              DWORD* pdwPos);

    void Release();
    // The bytes held now: words and flags.
    size_t Bytes() const { return m_cbMemory; }

private:
    // Whether the cache holds room for tone, discarding what another tone left.
    bool Prepare(const CSineTone& tone);
    // Computes the words of positions [dwFirst, dwLast) whose blocks are not filled yet.
    void Complete(const CPacker& packer, double dblStep, DWORD dwFirst, DWORD dwLast);

    std::unique_ptr<BYTE[]> m_apMemory;
    size_t m_cbMemory = 0;
    BYTE* m_pbFilled = nullptr;  // one flag per block, behind the words
    CSineTone m_tone = {};
};
