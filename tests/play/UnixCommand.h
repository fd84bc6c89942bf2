// Linux programs from the Wine test process. Wine starts a Linux executable through
// CreateProcess but hands back no handle to wait on, so each command is a shell script in a
// folder of the test's, which writes its exit status to a file when it is done.
#pragma once
#include <windows.h>

#include <string>

// The Linux path of a Windows path (Wine's own conversion); empty when there is none.
std::string UnixPath(const std::wstring& winPath);

// Runs script with /bin/sh in dir (a Windows path); its output goes to name.log there.
// The script's exit status, or -1 when it cannot start or does not end within dwTimeoutMs.
int RunUnix(const std::wstring& dir, const std::string& name, const std::string& script, DWORD dwTimeoutMs = 20000);
