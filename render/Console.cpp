#include "render/Console.h"

#include <dshow.h>
#include <audioclient.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

namespace
{
std::string Format(const char* pszFormat, va_list args)
{
    char sz[2048];
    int cch = vsnprintf(sz, sizeof(sz), pszFormat, args);
    return cch < 0 ? std::string() : std::string(sz, size_t(cch) < sizeof(sz) ? size_t(cch) : sizeof(sz) - 1);
}

HANDLE s_hInterrupt = nullptr;

BOOL WINAPI OnConsoleCtrl(DWORD)
{
    SetEvent(s_hInterrupt);
    return TRUE;
}

// Trailing line breaks, spaces and the final full stop of a system message.
std::wstring Trimmed(std::wstring text)
{
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    return text;
}
}

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int cb = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(cb > 0 ? cb : 0), '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), cb, nullptr, nullptr);
    return out;
}

void Say(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    std::string text = Format(pszFormat, args);
    va_end(args);
    fputs(text.c_str(), stdout);
    fflush(stdout);
}

void SayError(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    std::string text = Format(pszFormat, args);
    va_end(args);
    fprintf(stderr, "tonewell-render: %s\n", text.c_str());
    fflush(stderr);
}

std::string HResultText(HRESULT hr)
{
    // COM codes that the system's message table may lack.
    static const struct
    {
        HRESULT hr;
        const wchar_t* pszText;
    } s_names[] = {
        {REGDB_E_CLASSNOTREG, L"Class not registered"},
        {CLASS_E_CLASSNOTAVAILABLE, L"Class not available from its DLL"},
        {E_FAIL, L"Unspecified error"},
        {E_NOINTERFACE, L"No such interface supported"},
        {AUDCLNT_E_DEVICE_INVALIDATED, L"The audio device is no longer available"},
        {AUDCLNT_E_SERVICE_NOT_RUNNING, L"The audio service is not running"},
    };
    WCHAR sz[512] = {};
    std::wstring text;
    if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(hr), 0, sz,
                       ARRAYSIZE(sz), nullptr) != 0)
        text = Trimmed(sz);
    for (const auto& name : s_names)
        if (text.empty() && name.hr == hr)
            text = name.pszText;
    // DirectShow's own codes; its answer for a code it does not know is only the number.
    if (text.empty() && AMGetErrorTextW(hr, sz, ARRAYSIZE(sz)) != 0 && wcsncmp(sz, L"Error: 0x", 9) != 0)
        text = Trimmed(sz);
    char szCode[16];
    snprintf(szCode, sizeof(szCode), "0x%08lX", static_cast<unsigned long>(hr));
    return (text.empty() ? std::string("error") : Utf8(text)) + " (" + szCode + ")";
}

HANDLE CatchInterrupt()
{
    if (s_hInterrupt == nullptr)
    {
        s_hInterrupt = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (s_hInterrupt != nullptr)
            SetConsoleCtrlHandler(&OnConsoleCtrl, TRUE);
    }
    return s_hInterrupt;
}
