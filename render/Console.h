// What tonewell-render says: UTF-8 text on stdout and stderr, readable texts of result
// codes, and the exit codes a script can tell apart.
#pragma once
#include <windows.h>

#include <string>

// 0 on success; each kind of failure has its own code.
enum ERenderExit
{
    eExit_OK = 0,
    eExit_Usage = 1,          // the command line cannot be understood
    eExit_NotRegistered = 2,  // the filter cannot be created
    eExit_Refused = 3,        // the filter refused a setting or a settings file
    eExit_Output = 4,         // a file cannot be read or written
    eExit_Render = 5,         // the graph failed, stalled or was interrupted
};

std::string Utf8(const std::wstring& text);

// printf-style output; the error form prefixes the program's name and ends the line.
void Say(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));
void SayError(const char* pszFormat, ...) __attribute__((format(printf, 1, 2)));

// "Class not registered (0x80040154)": the system's or DirectShow's text and the code.
std::string HResultText(HRESULT hr);

// From here on Ctrl+C and Ctrl+Break set the returned event instead of ending the process,
// so that a render can stop its graph and remove its unfinished file.
HANDLE CatchInterrupt();
