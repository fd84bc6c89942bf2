// Format requests through IAMStreamConfig::SetFormat. Capture tools take the pin's caps
// example or current type, change only nChannels, nSamplesPerSec and wBitsPerSample, and
// hand it back with the rest as it was; the pin derives the consistent type from those three
// fields. Connections stay strict (Filter_QueryAcceptMT): a peer's type is taken only exact.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "framework/DSTypes.h"

// The filter's format settings as a media type of the pin describes them.
struct CPcmFormat
{
    WORD nChannels;
    DWORD nChannelMask;  // 0 for a plain type, the block's mask for an extensible one
    WORD nBitsPerSample;
    WORD nValidBitsPerSample;
    DWORD nSamplesPerSec;
};

// The consistent integer PCM type for a request whose channels (1..32), rate (not 0) and
// container (8, 16, 24, 32) the filter can make, built as the filter builds its own types:
// block align and byte rate from those, plain for 1-2 channels of 8 or 16 bits, extensible
// otherwise; the block's valid bits when an extensible block carries them and they are not
// above the container (else the container's), its mask when it has one bit per channel (else
// one bit per channel). VFW_E_INVALIDMEDIATYPE for a type that is wrong in itself: not audio
// PCM over a WAVEFORMATEX, a block shorter than its tag claims, another tag or sub-format,
// or fields outside those ranges.
HRESULT MTFromFormatRequest(const AM_MEDIA_TYPE* pmt, CMType& mt);

// The settings of an integer PCM type that Filter_QueryAcceptMT admits; false when they
// cannot be held as settings (fewer than 8 significant bits).
bool PcmFormatOf(const AM_MEDIA_TYPE& mt, CPcmFormat& fmt);
