// A test main for programs whose own trace lines must reach the test log sink. The
// sink is loaded while the program starts, before main, so the program sets the
// registry key and runs itself again as a child, which then starts with the sink.
#include <gtest/gtest.h>

#include "common/TestSinkClient.h"

namespace
{
const wchar_t kChildVariable[] = L"TW_TEST_SINK_CHILD";
}

int main(int argc, char** argv)
{
    if (GetEnvironmentVariableW(kChildVariable, nullptr, 0) != 0)
    {
        testing::InitGoogleTest(&argc, argv);
        return RUN_ALL_TESTS();
    }
    testsink::SetRegistryValue(testsink::ModuleDir() + L"testsink.dll");
    SetEnvironmentVariableW(kChildVariable, L"1");
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    DWORD dwExit = 1;
    if (CreateProcessW(nullptr, GetCommandLineW(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
    {
        WaitForSingleObject(pi.hProcess, INFINITE);
        GetExitCodeProcess(pi.hProcess, &dwExit);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    testsink::ClearRegistry();
    return int(dwExit);
}
