#include "render/Options.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cwchar>
#include <functional>

#include "render/Console.h"

const char kUsage[] =
    "Usage: tonewell-render [options] [OUTPUT.wav]\n"
    "       tonewell-render --play [options]\n"
    "Renders the tones of the Corvane Tonewell filter into a WAV file (default tonewell.wav),\n"
    "or plays them on the system's default audio device.\n"
    "\n"
    "Format (what is not given stays as the filter has it; it starts at 2 x 16 bits, 48000 Hz):\n"
    "  -c, --channels N        channel count, 1..32\n"
    "  -b, --bits N            significant bits per sample, 8..32 (stored in 8/16/24/32-bit containers)\n"
    "  -r, --rate HZ           sample rate\n"
    "  -m, --mask MASK         speaker channel mask, e.g. 0x3F; 0 gives one bit per channel\n"
    "Tones (channels are numbered from 0; the filter starts at 1000 Hz, -6 dB):\n"
    "  -f, --freq HZ           frequency of every channel: whole hertz below half the rate,\n"
    "                          0 for a constant level, -1 for a square wave\n"
    "  -l, --level DB          level of every channel in dB, at most 0 (full scale)\n"
    "  -t, --tone CH:HZ[:DB]   frequency and level of channel CH; repeatable\n"
    "Output:\n"
    "  -d, --duration SEC      length in seconds (default 5; decimals allowed)\n"
    "  -o, --output FILE       the WAV file (or give it as the last argument)\n"
    "      --realtime          run with the graph's clock instead of as fast as possible\n"
    "      --buffer MS         length of the filter's buffers in milliseconds, 1..1000 (default 40)\n"
    "  -q, --quiet             no progress display\n"
    "      --play              play on the default audio device instead of writing a file, for\n"
    "                          --duration seconds, or until Ctrl+C when no duration is given\n"
    "Settings files (the filter's own saved settings):\n"
    "      --load FILE         start from settings saved earlier; the options above change them\n"
    "      --save FILE         save the settings; with --save and no output file nothing is rendered\n"
    "Other:\n"
    "      --list              list the audio capture sources that the system sees\n"
    "  -h, --help              this text\n";

namespace
{
// Whole number; bSigned allows a leading minus.
bool ParseInt(const std::wstring& text, bool bSigned, int& nValue)
{
    if (text.empty() || (!bSigned && text[0] == L'-'))
        return false;
    wchar_t* pEnd = nullptr;
    errno = 0;
    long long ll = wcstoll(text.c_str(), &pEnd, 10);
    if (errno != 0 || *pEnd != 0 || ll < INT_MIN || ll > INT_MAX)
        return false;
    nValue = int(ll);
    return true;
}

// Hexadecimal after 0x, decimal otherwise (a leading 0 is not octal).
bool ParseMask(const std::wstring& text, DWORD& dwValue)
{
    if (text.empty() || text[0] == L'-')
        return false;
    const bool bHex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    wchar_t* pEnd = nullptr;
    errno = 0;
    unsigned long long ull = wcstoull(text.c_str() + (bHex ? 2 : 0), &pEnd, bHex ? 16 : 10);
    if (errno != 0 || *pEnd != 0 || ull > 0xFFFFFFFFull)
        return false;
    dwValue = DWORD(ull);
    return true;
}

bool ParseNumber(const std::wstring& text, double& dblValue)
{
    if (text.empty())
        return false;
    wchar_t* pEnd = nullptr;
    double dbl = wcstod(text.c_str(), &pEnd);
    if (*pEnd != 0 || !std::isfinite(dbl))
        return false;
    dblValue = dbl;
    return true;
}

// CH:HZ[:DB]
bool ParseTone(const std::wstring& text, CChannelTone& tone)
{
    size_t nColon1 = text.find(L':');
    if (nColon1 == std::wstring::npos)
        return false;
    size_t nColon2 = text.find(L':', nColon1 + 1);
    std::wstring freq = text.substr(nColon1 + 1, nColon2 == std::wstring::npos ? std::wstring::npos : nColon2 - nColon1 - 1);
    if (!ParseInt(text.substr(0, nColon1), false, tone.nChannel) || !ParseInt(freq, true, tone.nFreq))
        return false;
    tone.dblLevelDb.reset();
    if (nColon2 != std::wstring::npos)
    {
        double dblDb;
        if (!ParseNumber(text.substr(nColon2 + 1), dblDb))
            return false;
        tone.dblLevelDb = dblDb;
    }
    return true;
}

struct COptionSpec
{
    const wchar_t* pszShort;  // null when there is none
    const wchar_t* pszLong;
    const char* pszExpects;   // null for a switch; else what the value must be
    std::function<bool(COptions&, const std::wstring&)> fnSet;
};

const COptionSpec* FindOption(const std::wstring& name)
{
    static const COptionSpec s_options[] = {
        {L"-c", L"--channels", "a whole number",
         [](COptions& o, const std::wstring& v) { int n; return ParseInt(v, false, n) && (o.nChannels = n, true); }},
        {L"-b", L"--bits", "a whole number",
         [](COptions& o, const std::wstring& v) { int n; return ParseInt(v, false, n) && (o.nValidBits = n, true); }},
        {L"-r", L"--rate", "a whole number of hertz",
         [](COptions& o, const std::wstring& v) { int n; return ParseInt(v, false, n) && (o.nRate = n, true); }},
        {L"-m", L"--mask", "a number up to 0xFFFFFFFF",
         [](COptions& o, const std::wstring& v) { DWORD dw; return ParseMask(v, dw) && (o.dwMask = dw, true); }},
        {L"-f", L"--freq", "a whole number of hertz",
         [](COptions& o, const std::wstring& v) { int n; return ParseInt(v, true, n) && (o.nFreq = n, true); }},
        {L"-l", L"--level", "a number of decibels",
         [](COptions& o, const std::wstring& v) { double d; return ParseNumber(v, d) && (o.dblLevelDb = d, true); }},
        {L"-t", L"--tone", "CHANNEL:HZ or CHANNEL:HZ:DB",
         [](COptions& o, const std::wstring& v) {
             CChannelTone tone;
             return ParseTone(v, tone) && (o.tones.push_back(tone), true);
         }},
        {L"-d", L"--duration", "a number of seconds above 0",
         [](COptions& o, const std::wstring& v) {
             double d;
             return ParseNumber(v, d) && d > 0 && (o.dblSeconds = d, o.bDurationGiven = true);
         }},
        {L"-o", L"--output", "a file name",
         [](COptions& o, const std::wstring& v) { return !v.empty() && (o.output = v, o.bOutputGiven = true); }},
        {nullptr, L"--load", "a file name", [](COptions& o, const std::wstring& v) { return !v.empty() && (o.load = v, true); }},
        {nullptr, L"--save", "a file name", [](COptions& o, const std::wstring& v) { return !v.empty() && (o.save = v, true); }},
        {nullptr, L"--buffer", "a whole number of milliseconds",
         [](COptions& o, const std::wstring& v) { int n; return ParseInt(v, false, n) && (o.nBufferMs = n, true); }},
        {nullptr, L"--realtime", nullptr, [](COptions& o, const std::wstring&) { return o.bRealtime = true; }},
        {nullptr, L"--play", nullptr, [](COptions& o, const std::wstring&) { return o.bPlay = true; }},
        {L"-q", L"--quiet", nullptr, [](COptions& o, const std::wstring&) { return o.bQuiet = true; }},
        {nullptr, L"--list", nullptr, [](COptions& o, const std::wstring&) { return o.bList = true; }},
        {L"-h", L"--help", nullptr, [](COptions& o, const std::wstring&) { return o.bHelp = true; }},
    };
    for (const COptionSpec& spec : s_options)
        if ((spec.pszShort != nullptr && name == spec.pszShort) || name == spec.pszLong)
            return &spec;
    return nullptr;
}
}

bool ParseOptions(int argc, wchar_t** argv, COptions& opt, std::string& error)
{
    for (int i = 1; i < argc; ++i)
    {
        std::wstring arg = argv[i];
        // Anything that does not look like an option is the output file.
        if (arg.size() < 2 || arg[0] != L'-')
        {
            if (opt.bOutputGiven)
            {
                error = "more than one output file: '" + Utf8(opt.output) + "' and '" + Utf8(arg) + "'";
                return false;
            }
            opt.output = arg;
            opt.bOutputGiven = true;
            continue;
        }
        std::wstring name = arg, value;
        bool bInlineValue = false;
        size_t nEquals = arg.find(L'=');
        if (arg.compare(0, 2, L"--") == 0 && nEquals != std::wstring::npos)
        {
            name = arg.substr(0, nEquals);
            value = arg.substr(nEquals + 1);
            bInlineValue = true;
        }
        const COptionSpec* pSpec = FindOption(name);
        if (pSpec == nullptr)
        {
            error = "unknown option '" + Utf8(name) + "'";
            return false;
        }
        if (pSpec->pszExpects == nullptr && bInlineValue)
        {
            error = Utf8(name) + " takes no value";
            return false;
        }
        if (pSpec->pszExpects != nullptr && !bInlineValue)
        {
            if (i + 1 >= argc)
            {
                error = Utf8(name) + " needs " + pSpec->pszExpects;
                return false;
            }
            value = argv[++i];
        }
        if (!pSpec->fnSet(opt, value))
        {
            error = Utf8(name) + " needs " + pSpec->pszExpects + ", not '" + Utf8(value) + "'";
            return false;
        }
    }
    if (opt.bPlay && opt.bOutputGiven)
    {
        error = "--play writes no file, but '" + Utf8(opt.output) + "' was given as the output";
        return false;
    }
    return true;
}
