// Linked into the test programs that point the log-sink key at a test sink: an elevated
// program runs itself again, before anything else, with its limited token, where the
// module loads the sink, and ends with that run's exit code.
#include "common/LimitedToken.h"

namespace
{
const wchar_t kLimitedVariable[] = L"TW_TEST_LIMITED";

struct CRunLimited
{
    CRunLimited()
    {
        if (GetEnvironmentVariableW(kLimitedVariable, nullptr, 0) != 0)
            return;
        HANDLE hToken = testsink::LimitedTokenOfThisProcess();
        if (hToken == nullptr)
            return;
        SetEnvironmentVariableW(kLimitedVariable, L"1");
        const DWORD dwExit = testsink::RunAndWait(hToken, testsink::ThisProgram(), GetCommandLineW());
        CloseHandle(hToken);
        ExitProcess(dwExit);
    }
} s_runLimited;
}
