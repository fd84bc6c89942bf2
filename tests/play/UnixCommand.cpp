#include "play/UnixCommand.h"

#include <cstdlib>

#include "render/ToolRunner.h"

std::string UnixPath(const std::wstring& winPath)
{
    using FnUnixName = char*(CDECL*)(LPCWSTR);
    static const auto s_fn =
        reinterpret_cast<FnUnixName>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    if (s_fn == nullptr)
        return std::string();
    char* psz = s_fn(winPath.c_str());
    if (psz == nullptr)
        return std::string();
    std::string path = psz;
    HeapFree(GetProcessHeap(), 0, psz);
    return path;
}

int RunUnix(const std::wstring& dir, const std::string& name, const std::string& script, DWORD dwTimeoutMs)
{
    const std::string unixDir = UnixPath(dir);
    const std::wstring wname(name.begin(), name.end());
    const std::wstring statusPath = dir + L"\\" + wname + L".status";
    DeleteFileW(statusPath.c_str());
    const std::string text = "cd '" + unixDir + "' || exit 1\nexec >>'" + name + ".log' 2>&1\n( " + script +
                             "\n)\necho $? > '" + name + ".status.tmp'\nmv '" + name + ".status.tmp' '" + name +
                             ".status'\n";
    if (unixDir.empty() || !WriteBytes(dir + L"\\" + wname + L".sh", text))
        return -1;
    std::wstring cmd = L"sh \"" + std::wstring(unixDir.begin(), unixDir.end()) + L"/" + wname + L".sh\"";
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(L"Z:\\bin\\sh", cmd.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr, &si, &pi))
        return -1;
    if (pi.hProcess != nullptr)
        CloseHandle(pi.hProcess);
    if (pi.hThread != nullptr)
        CloseHandle(pi.hThread);
    const ULONGLONG tEnd = GetTickCount64() + dwTimeoutMs;
    while (GetTickCount64() < tEnd)
    {
        const std::string status = ReadBytes(statusPath);
        if (!status.empty())
            return atoi(status.c_str());
        Sleep(20);
    }
    return -1;
}
