// The filter's settings from the command line and from files: ICRVTonewell for the options,
// IPersistStream for saved settings. Each refusal of the filter is explained in terms of
// the options that caused it.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "render/Console.h"
#include "render/Options.h"

ERenderExit ApplyOptions(IBaseFilter* pFilter, const COptions& opt);
ERenderExit LoadSettings(IBaseFilter* pFilter, const std::wstring& path);
ERenderExit SaveSettings(IBaseFilter* pFilter, const std::wstring& path);
