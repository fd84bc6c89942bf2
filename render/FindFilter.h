// Finding the Tonewell filter as hosts do: by its registered class, and among the audio
// capture sources of the system device enumerator.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "render/Console.h"
#include "support/ComPtr.h"

// CoCreateInstance of the registered class; a failure is explained with what to do about it.
ERenderExit CreateToneFilter(CComPtr<IBaseFilter>& spFilter);
// Prints every audio capture source with its class, marking the Tonewell filter.
ERenderExit ListCaptureSources();
