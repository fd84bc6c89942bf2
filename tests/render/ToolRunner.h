// Running the build's programs as a person would: tonewell-render and Wine's regsvr32 as
// separate processes, their output captured, each test in a scratch directory of its own.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

struct CToolRun
{
    DWORD dwExit = 0xFFFFFFFF;
    std::string out, err;
    ULONGLONG msElapsed = 0;
};

// The directory of this test program, where the build puts the DLL and the tool.
std::wstring BinDir();

// Runs exe with args in dir; fails the test when it does not end within dwTimeoutMs. The
// program has no console, or with fnStarted one of its own, and fnStarted is called once
// it started.
CToolRun RunProgram(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& dir,
                    DWORD dwTimeoutMs = 120000,
                    const std::function<void(const PROCESS_INFORMATION&)>& fnStarted = nullptr);
CToolRun RunRender(const std::vector<std::wstring>& args, const std::wstring& dir,
                   const std::function<void(const PROCESS_INFORMATION&)>& fnStarted = nullptr);
// Ctrl+C to the console of a program started with fnStarted; false when it cannot be sent.
bool SendCtrlC(DWORD dwProcessId);
// regsvr32 /s (or /u /s) on the build's Tonewell.dll; its exit code.
DWORD Regsvr32(bool bRegister);

// A fresh directory under the temporary directory; removed with its files at the end.
class CScratchDir
{
public:
    CScratchDir();
    ~CScratchDir();
    CScratchDir(const CScratchDir&) = delete;
    CScratchDir& operator=(const CScratchDir&) = delete;

    const std::wstring& Path() const { return m_path; }
    std::wstring operator/(const std::wstring& name) const { return m_path + L"\\" + name; }
    // The names of the files in it, sorted.
    std::vector<std::string> Files() const;

private:
    std::wstring m_path;
};

std::string Narrow(const std::wstring& text);
// The names of the files and folders in dir, sorted; empty when it does not exist.
std::vector<std::wstring> FilesIn(const std::wstring& dir);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// Empty when the file cannot be read.
std::string ReadBytes(const std::wstring& path);
