// Rendering the filter's stream into a WAV file through Wine's (or Windows') filter graph
// manager: the filter's "Out" -> Sample Grabber -> Null Renderer.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <string>

#include "render/Console.h"

struct CRenderJob
{
    std::wstring path;
    double dblSeconds;
    bool bRealtime;  // with the graph's clock; otherwise as fast as buffers return
    bool bQuiet;     // no progress display
};

// Writes exactly the job's duration of frames, then prints a one-line summary.
ERenderExit RenderToWav(IBaseFilter* pSource, const CRenderJob& job);
