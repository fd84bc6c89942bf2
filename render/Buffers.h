// The length of the filter's buffers: suggested to its pin before the graph connects it
// (IAMBufferNegotiation), and read back once the pin agreed one with its peer.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <string>

#include "render/Console.h"

// Asks for buffers of nMs milliseconds of the filter's current format, in whole frames.
ERenderExit SuggestBuffer(IBaseFilter* pFilter, int nMs);
// "buffers of 40 ms" for the connected pin's agreement; empty when the pin does not say.
std::string AgreedBufferText(IBaseFilter* pFilter, const WAVEFORMATEX* pWF);
