// The command line of tonewell-render. Values are only parsed here: whether a number is
// in range is for the filter to say (Settings.cpp explains its refusals).
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// --tone CH:HZ[:DB]
struct CChannelTone
{
    int nChannel;
    int nFreq;
    std::optional<double> dblLevelDb;
};

struct COptions
{
    // Format; what is not given stays as the filter has it.
    std::optional<int> nChannels, nValidBits, nRate;
    std::optional<DWORD> dwMask;
    // Tones: every channel first, then single channels in the given order.
    std::optional<int> nFreq;
    std::optional<double> dblLevelDb;
    std::vector<CChannelTone> tones;

    double dblSeconds = 5.0;
    bool bDurationGiven = false;
    std::wstring output = L"tonewell.wav";
    bool bOutputGiven = false;
    std::wstring load, save;
    // Buffer length suggested to the filter's pin; the pin's own 40 ms otherwise.
    std::optional<int> nBufferMs;
    bool bRealtime = false;
    bool bPlay = false;  // to the system's audio renderer instead of a file
    bool bQuiet = false;
    bool bList = false;
    bool bHelp = false;

    // A --save alone only saves; an output file (or no --save) renders. --play plays instead.
    bool Renders() const { return !bPlay && (save.empty() || bOutputGiven); }
};

// false with the reason in error.
bool ParseOptions(int argc, wchar_t** argv, COptions& opt, std::string& error);
extern const char kUsage[];
