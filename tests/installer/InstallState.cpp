#include "installer/InstallState.h"

#include <gtest/gtest.h>
#include <dshow.h>
#include <shlobj.h>

#include <algorithm>

#include "framework/FilterRegistration.h"
#include "render/ToolRunner.h"
#include "server/ServerTestSupport.h"
#include "support/Threads.h"

namespace installtest
{
namespace
{
const CLSID kFilter = {0x5B7E0C40, 0x8A2D, 0x4F63, {0x9E, 0x1B, 0x6D, 0x4C, 0x3A, 0x2F, 0x7E, 0x90}};
const wchar_t kFilterKey[] = L"CLSID\\{5B7E0C40-8A2D-4F63-9E1B-6D4C3A2F7E90}";
const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Corvane Tonewell";
}

std::wstring WinePath(const char* pszLinuxPath)
{
    std::wstring path = L"Z:";
    for (const char* p = pszLinuxPath; *p != '\0'; ++p)
        path += *p == '/' ? L'\\' : wchar_t(*p);
    return path;
}

std::wstring ProgramFiles()
{
    PWSTR pszDir = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramFilesX64, 0, nullptr, &pszDir)))
        return L"";
    std::wstring dir = pszDir;
    CoTaskMemFree(pszDir);
    return dir;
}

std::wstring DefaultInstallDir()
{
    return ProgramFiles() + L"\\Corvane Tonewell";
}

DWORD RunToTheEnd(const std::wstring& commandLine, DWORD dwTimeoutMs)
{
    // The job's completion port says when its last process has ended; processes started by
    // the first one belong to the job too.
    CHandle2 job(CreateJobObjectW(nullptr, nullptr));
    CHandle2 port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {job.m_h, port.m_h};
    if (job.m_h == nullptr || port.m_h == nullptr ||
        !SetInformationJobObject(job.m_h, JobObjectAssociateCompletionPortInformation, &association, sizeof(association)))
    {
        ADD_FAILURE() << "no job object with a completion port: error " << GetLastError();
        return DWORD(-1);
    }
    std::wstring cmd = commandLine;
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi))
    {
        ADD_FAILURE() << "cannot start the command: error " << GetLastError();
        return DWORD(-1);
    }
    CHandle2 process(pi.hProcess), thread(pi.hThread);
    if (!AssignProcessToJobObject(job.m_h, pi.hProcess))
    {
        ADD_FAILURE() << "cannot put the process into the job: error " << GetLastError();
        TerminateProcess(pi.hProcess, 1);
        return DWORD(-1);
    }
    ResumeThread(pi.hThread);
    const ULONGLONG tEnd = GetTickCount64() + dwTimeoutMs;
    for (;;)
    {
        const ULONGLONG tNow = GetTickCount64();
        DWORD dwMessage = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* pOverlapped = nullptr;
        if (tNow >= tEnd || !GetQueuedCompletionStatus(port.m_h, &dwMessage, &key, &pOverlapped, DWORD(tEnd - tNow)))
        {
            ADD_FAILURE() << "the command and its processes did not end within " << dwTimeoutMs << " ms";
            TerminateJobObject(job.m_h, 0xDEAD);
            WaitForSingleObject(pi.hProcess, INFINITE);
            break;
        }
        if (dwMessage == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO)
            break;
    }
    DWORD dwExit = DWORD(-1);
    GetExitCodeProcess(pi.hProcess, &dwExit);
    return dwExit;
}

DWORD InstallSilently(const std::wstring& setup, const std::wstring& dir)
{
    // NSIS takes /D= last and unquoted, spaces and all.
    return RunToTheEnd(L"\"" + setup + L"\" /S" + (dir.empty() ? L"" : L" /D=" + dir));
}

bool UninstallSilently()
{
    const std::wstring command = UninstallValue(L"QuietUninstallString");
    return command != L"<none>" && RunToTheEnd(command) == 0;
}

std::wstring UninstallValue(const wchar_t* pszName)
{
    return servertest::StringValue(HKEY_LOCAL_MACHINE, kUninstallKey, pszName);
}

bool UninstallEntryExists()
{
    return servertest::KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey);
}

bool DirExists(const std::wstring& dir)
{
    const DWORD dwAttributes = GetFileAttributesW(dir.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring ProductVersion(const std::wstring& path)
{
    DWORD dwHandle = 0;
    std::vector<BYTE> block(GetFileVersionInfoSizeW(path.c_str(), &dwHandle));
    VS_FIXEDFILEINFO* pInfo = nullptr;
    UINT cb = 0;
    if (block.empty() || !GetFileVersionInfoW(path.c_str(), 0, DWORD(block.size()), block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&pInfo), &cb) || cb < sizeof(*pInfo))
        return L"";
    return std::to_wstring(HIWORD(pInfo->dwProductVersionMS)) + L"." + std::to_wstring(LOWORD(pInfo->dwProductVersionMS)) +
           L"." + std::to_wstring(HIWORD(pInfo->dwProductVersionLS)) + L"." +
           std::to_wstring(LOWORD(pInfo->dwProductVersionLS));
}

size_t ListedAsCaptureSource()
{
    const std::vector<std::wstring> names = servertest::CategoryNames(CLSID_AudioInputDeviceCategory);
    return size_t(std::count(names.begin(), names.end(), L"Corvane Tonewell"));
}

std::wstring RegisteredModule()
{
    return servertest::StringValue(HKEY_CLASSES_ROOT, std::wstring(kFilterKey) + L"\\InprocServer32");
}

testing::AssertionResult NotRegistered()
{
    std::string left;
    for (const wchar_t* pszKey : {kFilterKey, L"Tonewell.TonewellFilter", L"Tonewell.TonewellFilter.1",
                                  L"TypeLib\\{2F6A9D13-E4B7-4C58-A1D3-7E9B05C4F2A8}"})
    {
        if (servertest::KeyExists(HKEY_CLASSES_ROOT, pszKey))
            left += " HKCR\\" + Narrow(pszKey) + ";";
    }
    if (servertest::CategoryHolds(CLSID_AudioInputDeviceCategory, kFilter))
        left += " the mapper entry among the audio capture sources;";
    if (servertest::CategoryHolds(CLSID_CorvaneFilterCategory, kFilter))
        left += " the mapper entry in Corvane Filters;";
    if (const size_t n = ListedAsCaptureSource(); n != 0)
        left += " listed " + std::to_string(n) + " times by the device enumerator;";
    if (left.empty())
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "still registered:" << left;
}
}
