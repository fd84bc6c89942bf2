#include "render/ToolRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace
{
std::wstring Quoted(const std::wstring& arg)
{
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    return L"\"" + arg + L"\"";
}

HANDLE InheritableFile(const std::wstring& path)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Wine's CreateProcessW has once refused a start with ERROR_INTERNAL_ERROR, before the program
// ran at all; such a start is tried again, a few times.
bool StartProcess(const std::wstring& exe, std::wstring& cmd, const std::wstring& dir, STARTUPINFOW& si, bool bConsole,
                  PROCESS_INFORMATION& pi)
{
    const int kStarts = 3;
    for (int nTry = 1;; ++nTry)
    {
        if (CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, bConsole ? CREATE_NEW_CONSOLE : DETACHED_PROCESS,
                           nullptr, dir.c_str(), &si, &pi))
            return true;
        if (GetLastError() != ERROR_INTERNAL_ERROR || nTry == kStarts)
            return false;
        Sleep(200);
    }
}
}

std::string Narrow(const std::wstring& text)
{
    int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(cb > 0 ? cb : 0), '\0');
    if (cb > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), out.data(), cb, nullptr, nullptr);
    return out;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream file(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    return bool(file);
}

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream file(std::filesystem::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::wstring BinDir()
{
    WCHAR sz[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, sz, ARRAYSIZE(sz));
    std::wstring path = sz;
    return path.substr(0, path.find_last_of(L"\\/"));
}

CToolRun RunProgram(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& dir,
                    DWORD dwTimeoutMs, const std::function<void(const PROCESS_INFORMATION&)>& fnStarted)
{
    CToolRun run;
    // The output goes to files beside the scratch directory, not into it.
    const std::wstring outPath = dir + L".out", errPath = dir + L".err";
    HANDLE hOut = InheritableFile(outPath), hErr = InheritableFile(errPath);
    std::wstring cmd = Quoted(exe);
    for (const std::wstring& arg : args)
        cmd += L" " + Quoted(arg);
    STARTUPINFOW si = {sizeof(si)};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nullptr;
    si.hStdOutput = hOut;
    si.hStdError = hErr;
    PROCESS_INFORMATION pi = {};
    const ULONGLONG tStart = GetTickCount64();
    if (hOut == INVALID_HANDLE_VALUE || hErr == INVALID_HANDLE_VALUE || !StartProcess(exe, cmd, dir, si, fnStarted != nullptr, pi))
    {
        ADD_FAILURE() << "cannot start " << Narrow(cmd) << ": error " << GetLastError();
    }
    else
    {
        if (fnStarted)
            fnStarted(pi);
        if (WaitForSingleObject(pi.hProcess, dwTimeoutMs) != WAIT_OBJECT_0)
        {
            ADD_FAILURE() << Narrow(cmd) << " did not end within " << dwTimeoutMs << " ms";
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, INFINITE);
        }
        run.msElapsed = GetTickCount64() - tStart;
        GetExitCodeProcess(pi.hProcess, &run.dwExit);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    if (hOut != INVALID_HANDLE_VALUE)
        CloseHandle(hOut);
    if (hErr != INVALID_HANDLE_VALUE)
        CloseHandle(hErr);
    run.out = ReadBytes(outPath);
    run.err = ReadBytes(errPath);
    DeleteFileW(outPath.c_str());
    DeleteFileW(errPath.c_str());
    return run;
}

CToolRun RunRender(const std::vector<std::wstring>& args, const std::wstring& dir,
                   const std::function<void(const PROCESS_INFORMATION&)>& fnStarted)
{
    return RunProgram(BinDir() + L"\\tonewell-render.exe", args, dir, 120000, fnStarted);
}

bool SendCtrlC(DWORD dwProcessId)
{
    // The event goes to every process of the console, this one too once attached; it may
    // arrive after the detach, so this process swallows Ctrl+C from now on. (Ignoring it
    // instead would be inherited by the programs started later.)
    static const BOOL s_bSwallowing = SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE);
    if (!s_bSwallowing)
        return false;
    FreeConsole();
    if (!AttachConsole(dwProcessId))
        return false;
    const BOOL bSent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    FreeConsole();
    return bSent != FALSE;
}

DWORD Regsvr32(bool bRegister)
{
    WCHAR szSystem[MAX_PATH] = {};
    GetSystemDirectoryW(szSystem, MAX_PATH);
    std::vector<std::wstring> args;
    if (!bRegister)
        args.push_back(L"/u");
    args.push_back(L"/s");
    args.push_back(BinDir() + L"\\Tonewell.dll");
    CScratchDir dir;
    return RunProgram(std::wstring(szSystem) + L"\\regsvr32.exe", args, dir.Path()).dwExit;
}

CScratchDir::CScratchDir()
{
    static LONG s_nCount = 0;
    WCHAR szTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, szTemp);
    // Process ids repeat from one Wine session to the next; a name left by a run that was
    // killed is skipped.
    for (;;)
    {
        m_path = std::wstring(szTemp) + L"tonewell-render-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(InterlockedIncrement(&s_nCount));
        if (CreateDirectoryW(m_path.c_str(), nullptr))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
        {
            ADD_FAILURE() << "cannot create " << Narrow(m_path) << ": error " << GetLastError();
            break;
        }
    }
}

CScratchDir::~CScratchDir()
{
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW((m_path + L"\\*").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE)
    {
        do
        {
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                DeleteFileW((*this / fd.cFileName).c_str());
            else if (wcscmp(fd.cFileName, L".") != 0 && wcscmp(fd.cFileName, L"..") != 0)
                RemoveDirectoryW((*this / fd.cFileName).c_str());
        } while (FindNextFileW(hFind, &fd));
        FindClose(hFind);
    }
    RemoveDirectoryW(m_path.c_str());
}

std::vector<std::string> CScratchDir::Files() const
{
    std::vector<std::string> names;
    for (const std::wstring& name : FilesIn(m_path))
        names.push_back(Narrow(name));
    return names;
}

std::vector<std::wstring> FilesIn(const std::wstring& dir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        if (wcscmp(fd.cFileName, L".") != 0 && wcscmp(fd.cFileName, L"..") != 0)
            names.push_back(fd.cFileName);
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
    std::sort(names.begin(), names.end());
    return names;
}
