// Playing the filter's stream on the system's default audio device: the graph manager renders
// the filter's "Out" to its audio renderer and runs on that renderer's clock.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <optional>

#include "render/Console.h"

struct CPlayJob
{
    std::optional<double> dblSeconds;  // none: until Ctrl+C
    bool bQuiet;                       // no progress display
};

// Plays until the duration has reached the device, the user presses Ctrl+C or the device
// goes away, then prints a one-line summary.
ERenderExit PlayToDevice(IBaseFilter* pSource, const CPlayJob& job);
