#include "render/WavReader.h"

namespace
{
uint32_t Le(const std::string& b, size_t at, unsigned cb)
{
    uint32_t v = 0;
    for (unsigned i = 0; i < cb; ++i)
        v |= uint32_t(uint8_t(b[at + i])) << (8 * i);
    return v;
}
}

uint32_t CWavContent::Sample(size_t nFrame, unsigned nChannel) const
{
    const unsigned cb = wBits / 8;
    const size_t at = nFrame * nBlockAlign + nChannel * cb;
    uint32_t v = 0;
    for (unsigned i = 0; i < cb; ++i)
        v |= uint32_t(data[at + i]) << (8 * i);
    return v;
}

CWavContent ReadWav(const std::string& b)
{
    CWavContent w;
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0)
    {
        w.error = "no RIFF WAVE header";
        return w;
    }
    if (Le(b, 4, 4) != b.size() - 8)
    {
        w.error = "the RIFF size " + std::to_string(Le(b, 4, 4)) + " is not the file size " +
                  std::to_string(b.size()) + " - 8";
        return w;
    }
    bool bFmt = false, bData = false;
    size_t at = 12;
    while (at < b.size())
    {
        if (b.size() - at < 8)
        {
            w.error = "a chunk header is cut at byte " + std::to_string(at);
            return w;
        }
        const std::string id = b.substr(at, 4);
        const uint32_t cb = Le(b, at + 4, 4);
        const size_t body = at + 8;
        // Every chunk, the last one too, is padded to an even length.
        if (b.size() - body < cb + (cb & 1))
        {
            w.error = "chunk '" + id + "' of " + std::to_string(cb) + " bytes runs past the end";
            return w;
        }
        if (id == "fmt ")
        {
            bFmt = true;
            w.cbFmtChunk = cb;
            if (cb < 16)
            {
                w.error = "fmt chunk of " + std::to_string(cb) + " bytes";
                return w;
            }
            w.wTag = uint16_t(Le(b, body, 2));
            w.nChannels = uint16_t(Le(b, body + 2, 2));
            w.nRate = Le(b, body + 4, 4);
            w.nAvgBytes = Le(b, body + 8, 4);
            w.nBlockAlign = uint16_t(Le(b, body + 12, 2));
            w.wBits = uint16_t(Le(b, body + 14, 2));
            w.wValidBits = w.wBits;
            if (cb >= 18)
                w.cbExtra = uint16_t(Le(b, body + 16, 2));
            if (w.wTag == 0xFFFE)
            {
                if (cb < 40 || w.cbExtra < 22)
                {
                    w.error = "extensible fmt chunk too short";
                    return w;
                }
                w.wValidBits = uint16_t(Le(b, body + 18, 2));
                w.dwMask = Le(b, body + 20, 4);
                w.subFormat.Data1 = Le(b, body + 24, 4);
                w.subFormat.Data2 = uint16_t(Le(b, body + 28, 2));
                w.subFormat.Data3 = uint16_t(Le(b, body + 30, 2));
                for (int i = 0; i < 8; ++i)
                    w.subFormat.Data4[i] = uint8_t(b[body + 32 + i]);
            }
        }
        else if (id == "data")
        {
            if (!bFmt)
            {
                w.error = "data before fmt";
                return w;
            }
            bData = true;
            w.data.assign(b.begin() + body, b.begin() + body + cb);
        }
        at = body + cb + (cb & 1);
    }
    if (!bFmt || !bData)
        w.error = bFmt ? "no data chunk" : "no fmt chunk";
    else if (w.nBlockAlign == 0 || w.data.size() % w.nBlockAlign != 0)
        w.error = "data of " + std::to_string(w.data.size()) + " bytes is not whole frames";
    return w;
}
