// Capture tools' format requests: a type from GetStreamCaps or GetFormat with only nChannels,
// nSamplesPerSec and wBitsPerSample changed. Where the type comes from, the edit, and what
// the filter must make of it, worked out from the rules of the wave format alone.
#pragma once
#include <windows.h>
#include <dshow.h>
#include <mmreg.h>

#include <bit>

#include "TonewellIdl.h"

namespace formatrequest
{
// The type a tool starts from: the caps' example, or the pin's type after SetParameters.
struct CStart
{
    const char* pszName;
    bool bFromCaps;
    int nValid, nChannels, nMask, nRate;  // SetParameters' arguments when not from the caps
};

const CStart kCapsExample = {"Caps", true, 16, 2, 0, 48000};
const CStart kExtensible24x6 = {"Ext24x6", false, 24, 6, 0, 48000};
const CStart kExtensible20x6Side = {"Ext20x6Side", false, 20, 6, 0x60F, 44100};

struct CRequest
{
    WORD nChannels;
    DWORD nRate;
    WORD nBits;
};

// What the pin must carry and the settings must say.
struct CDerived
{
    bool bPlain;
    WORD nChannels, nBits, nValid;
    DWORD nRate;
    DWORD nMask;  // the extensible block's; 0 for a plain type
};

inline DWORD OneBitPerChannel(WORD nChannels)
{
    return nChannels >= 32 ? 0xFFFFFFFF : (1u << nChannels) - 1;
}

// The block that the start type carries, before the edit.
inline WAVEFORMATEXTENSIBLE StartBlock(const CStart& s)
{
    WAVEFORMATEXTENSIBLE wfe = {};
    const WORD nBits = WORD((s.nValid + 7) / 8 * 8);
    wfe.Format.nChannels = WORD(s.nChannels);
    wfe.Format.nSamplesPerSec = DWORD(s.nRate);
    wfe.Format.wBitsPerSample = nBits;
    wfe.Format.nBlockAlign = WORD(s.nChannels * nBits / 8);
    wfe.Format.nAvgBytesPerSec = DWORD(s.nRate) * wfe.Format.nBlockAlign;
    wfe.Format.wFormatTag = s.bFromCaps ? WAVE_FORMAT_PCM : WAVE_FORMAT_EXTENSIBLE;
    wfe.Samples.wValidBitsPerSample = WORD(s.nValid);
    wfe.dwChannelMask = s.nMask != 0 ? DWORD(s.nMask) : OneBitPerChannel(WORD(s.nChannels));
    return wfe;
}

// Whether the edited block already adds up, so that the pin takes it as it is.
inline bool AlreadyConsistent(const CStart& s, const CRequest& r)
{
    const WAVEFORMATEXTENSIBLE wfe = StartBlock(s);
    const WORD nAlign = WORD(r.nChannels * r.nBits / 8);
    return wfe.Format.nBlockAlign == nAlign && ULONGLONG(r.nRate) * nAlign == wfe.Format.nAvgBytesPerSec &&
           (s.bFromCaps || wfe.Samples.wValidBitsPerSample <= r.nBits);
}

inline CDerived Derive(const CStart& s, const CRequest& r)
{
    const WAVEFORMATEXTENSIBLE wfe = StartBlock(s);
    if (AlreadyConsistent(s, r))
        return {s.bFromCaps, r.nChannels, r.nBits, s.bFromCaps ? r.nBits : wfe.Samples.wValidBitsPerSample, r.nRate,
                s.bFromCaps ? 0 : wfe.dwChannelMask};
    const WORD nValid = !s.bFromCaps && wfe.Samples.wValidBitsPerSample <= r.nBits ? wfe.Samples.wValidBitsPerSample
                                                                                   : r.nBits;
    const bool bPlain = r.nChannels <= 2 && (r.nBits == 8 || r.nBits == 16) && nValid == r.nBits;
    DWORD nMask = OneBitPerChannel(r.nChannels);
    if (!s.bFromCaps && std::popcount(wfe.dwChannelMask) == r.nChannels)
        nMask = wfe.dwChannelMask;
    return {bPlain, r.nChannels, r.nBits, nValid, r.nRate, bPlain ? 0 : nMask};
}

// The start type as the tool gets it from the filter; the caller frees it with MTFree.
inline HRESULT GetStartType(ICRVTonewell* pTone, IAMStreamConfig* pConfig, const CStart& s, AM_MEDIA_TYPE** ppmt)
{
    if (s.bFromCaps)
    {
        AUDIO_STREAM_CONFIG_CAPS caps;
        return pConfig->GetStreamCaps(0, ppmt, reinterpret_cast<BYTE*>(&caps));
    }
    HRESULT hr = pTone->SetParameters(s.nValid, s.nChannels, s.nMask, s.nRate);
    return FAILED(hr) ? hr : pConfig->GetFormat(ppmt);
}

// The tool's edit: three fields, nothing else.
inline void Edit(AM_MEDIA_TYPE* pmt, const CRequest& r)
{
    auto* pWF = reinterpret_cast<WAVEFORMATEX*>(pmt->pbFormat);
    pWF->nChannels = r.nChannels;
    pWF->nSamplesPerSec = r.nRate;
    pWF->wBitsPerSample = r.nBits;
}

const CStart kStarts[] = {kCapsExample, kExtensible24x6, kExtensible20x6Side};
const DWORD kRates[] = {8000, 11025, 22050, 44100, 48000, 96000, 192000};
const WORD kChannels[] = {1, 2, 6, 8, 32};
const WORD kBits[] = {8, 16, 24, 32};
}
