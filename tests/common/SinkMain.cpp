// A test main for programs whose own trace lines must reach the test log sink. The
// sink is loaded while the program starts, before main, so the program sets the
// registry key and runs itself again as a child, which then starts with the sink.
#include <gtest/gtest.h>

#include "common/LimitedToken.h"
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
    const DWORD dwExit = testsink::RunAndWait(nullptr, testsink::ThisProgram(), GetCommandLineW());
    testsink::ClearRegistry();
    return int(dwExit);
}
