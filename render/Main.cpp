// tonewell-render: a tone set of the Corvane Tonewell filter as a WAV file, or played on the
// system's audio device. The filter is found as hosts find it (its registered class), set up
// through ICRVTonewell or a saved settings file, and run in the platform's filter graph manager.
#include <windows.h>
#include <dshow.h>

#include "render/Console.h"
#include "render/FindFilter.h"
#include "render/Options.h"
#include "render/Play.h"
#include "render/Render.h"
#include "render/Settings.h"
#include "support/ComPtr.h"

namespace
{
ERenderExit Run(const COptions& opt)
{
    if (opt.bList)
        return ListCaptureSources();
    CComPtr<IBaseFilter> spFilter;
    ERenderExit eExit = CreateToneFilter(spFilter);
    if (eExit == eExit_OK && !opt.load.empty())
        eExit = LoadSettings(spFilter, opt.load);
    if (eExit == eExit_OK)
        eExit = ApplyOptions(spFilter, opt);
    if (eExit == eExit_OK && !opt.save.empty())
    {
        eExit = SaveSettings(spFilter, opt.save);
        if (eExit == eExit_OK)
            Say("Saved the settings to %s\n", Utf8(opt.save).c_str());
    }
    if (eExit == eExit_OK && opt.bPlay)
        eExit = PlayToDevice(spFilter, CPlayJob{opt.bDurationGiven ? std::optional(opt.dblSeconds) : std::nullopt, opt.bQuiet});
    if (eExit == eExit_OK && opt.Renders())
        eExit = RenderToWav(spFilter, CRenderJob{opt.output, opt.dblSeconds, opt.bRealtime, opt.bQuiet});
    return eExit;
}
}

int wmain(int argc, wchar_t** argv)
{
    COptions opt;
    std::string error;
    if (!ParseOptions(argc, argv, opt, error))
    {
        SayError("%s\n  (tonewell-render --help lists the options)", error.c_str());
        return eExit_Usage;
    }
    if (opt.bHelp)
    {
        Say("%s", kUsage);
        return eExit_OK;
    }
    CatchInterrupt();
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr))
    {
        SayError("COM does not start: %s", HResultText(hr).c_str());
        return eExit_Render;
    }
    ERenderExit eExit = Run(opt);
    CoUninitialize();
    return eExit;
}
