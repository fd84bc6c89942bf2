// Pieces that the file render and the play share: finding a filter's pin and naming a PCM
// format for the summary line.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <string>

#include "support/ComPtr.h"

// The filter's first pin of that direction; null when it has none.
CComPtr<IPin> FirstPin(IBaseFilter* pFilter, PIN_DIRECTION eDir);
// "16-bit PCM", "20-bit PCM in 24-bit containers (extensible, mask 0x3)".
std::string FormatText(const WAVEFORMATEX* pWF);
