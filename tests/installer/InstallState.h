// Installing and uninstalling the way an administrator does, and reading what it left: the
// NSIS installer and uninstaller run silently, the files, the installed programs' entry and
// the registration are read back.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace installtest
{
// A path the build gave as a Linux path, as Wine reaches it (drive Z:).
std::wstring WinePath(const char* pszLinuxPath);
// The 64-bit Program Files folder, and in it the installer's own choice, Corvane Tonewell.
std::wstring ProgramFiles();
std::wstring DefaultInstallDir();

// Runs a command line and waits until it and every process it started have ended, at most
// dwTimeoutMs (a test failure after that); the first process's exit code.
DWORD RunToTheEnd(const std::wstring& commandLine, DWORD dwTimeoutMs = 180000);
// setup.exe /S, with /D=dir when a folder is given.
DWORD InstallSilently(const std::wstring& setup, const std::wstring& dir = L"");
// Runs the installed programs' QuietUninstallString to the end; false without an entry.
// The uninstaller hands its work to a copy of itself and returns at once, hence the wait
// for every process it starts.
bool UninstallSilently();

// A value of the installed programs' entry of Corvane Tonewell; "<none>" when it is missing.
std::wstring UninstallValue(const wchar_t* pszName);
bool UninstallEntryExists();

bool DirExists(const std::wstring& dir);
// "a.b.c.d" from a module's version resource; empty when it has none.
std::wstring ProductVersion(const std::wstring& path);
// How often the system device enumerator lists "Corvane Tonewell" among the audio capture
// sources.
size_t ListedAsCaptureSource();
// The filter's class key, its programmatic identifiers, its type library and its filter
// mapper entries are all gone, and no enumerator lists it; the failure names what is left.
testing::AssertionResult NotRegistered();
// Where the filter's class key says its module is; "<none>" without one.
std::wstring RegisteredModule();
}
