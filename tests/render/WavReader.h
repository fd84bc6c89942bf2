// A WAV reader of the tests' own, written from the RIFF layout and sharing nothing with the
// tool's writer: it walks the chunks, checks every size against the file, and keeps the
// format fields and the sample bytes.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct CWavContent
{
    std::string error;  // empty when the file is well-formed
    uint32_t cbFmtChunk = 0;
    uint16_t wTag = 0, nChannels = 0, nBlockAlign = 0, wBits = 0, cbExtra = 0;
    uint32_t nRate = 0, nAvgBytes = 0;
    // From the extensible part; for plain PCM the valid bits are wBits and the mask 0.
    uint16_t wValidBits = 0;
    uint32_t dwMask = 0;
    GUID subFormat = {};
    std::vector<BYTE> data;

    size_t Frames() const { return nBlockAlign != 0 ? data.size() / nBlockAlign : 0; }
    // The stored sample of a channel, as an unsigned code of wBits bits.
    uint32_t Sample(size_t nFrame, unsigned nChannel) const;
};

CWavContent ReadWav(const std::string& bytes);
