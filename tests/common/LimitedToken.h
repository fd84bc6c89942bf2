// Running test programs as a user without administrator rights. The module loads the log
// sink only in such processes, and under Wine every process starts elevated, with a limited
// twin of its token at hand (TokenLinkedToken).
#pragma once
#include <windows.h>

#include <string>

namespace testsink
{
// Whether the process token is elevated.
bool ProcessIsElevated();
// The limited twin of this process's elevated token as a primary token, or null when the
// process is not elevated or has none. The caller closes it.
HANDLE LimitedTokenOfThisProcess();
// The path of this program.
std::wstring ThisProgram();
// Runs exe with the command line under hToken (this process's own token when null), with
// this process's standard handles and environment, and waits for it; its exit code, or
// 0xFFFFFFFF when it does not start. It dies with this process.
DWORD RunAndWait(HANDLE hToken, const std::wstring& exe, const std::wstring& commandLine);
}
