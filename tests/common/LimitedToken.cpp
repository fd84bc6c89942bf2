#include "common/LimitedToken.h"

namespace testsink
{
namespace
{
// One piece of information about this process's token.
template <class T>
bool ReadProcessToken(TOKEN_INFORMATION_CLASS eClass, T& value)
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return false;
    DWORD cb = 0;
    const BOOL bRead = GetTokenInformation(hToken, eClass, &value, sizeof(value), &cb);
    CloseHandle(hToken);
    return bRead != FALSE;
}
}

bool ProcessIsElevated()
{
    TOKEN_ELEVATION elevation = {};
    return ReadProcessToken(TokenElevation, elevation) && elevation.TokenIsElevated;
}

HANDLE LimitedTokenOfThisProcess()
{
    TOKEN_LINKED_TOKEN linked = {};
    if (!ProcessIsElevated() || !ReadProcessToken(TokenLinkedToken, linked))
        return nullptr;
    HANDLE hPrimary = nullptr;
    if (!DuplicateTokenEx(linked.LinkedToken, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                          &hPrimary))
        hPrimary = nullptr;
    CloseHandle(linked.LinkedToken);
    return hPrimary;
}

std::wstring ThisProgram()
{
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    return szPath;
}

DWORD RunAndWait(HANDLE hToken, const std::wstring& exe, const std::wstring& commandLine)
{
    // The child is ended with this process: a test run that times out leaves nothing behind.
    HANDLE hJob = CreateJobObjectW(nullptr, nullptr);
    if (hJob != nullptr)
    {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(hJob, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    }
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring line = commandLine;
    const BOOL bStarted =
        hToken != nullptr
            ? CreateProcessAsUserW(hToken, exe.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                                   nullptr, &si, &pi)
            : CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                             &pi);
    DWORD dwExit = 0xFFFFFFFF;
    if (bStarted)
    {
        if (hJob != nullptr)
            AssignProcessToJobObject(hJob, pi.hProcess);
        ResumeThread(pi.hThread);
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &dwExit);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    if (hJob != nullptr)
        CloseHandle(hJob);
    return dwExit;
}
}
