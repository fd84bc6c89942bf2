// tonewell-render run as a separate process under Wine, against the build's Tonewell.dll
// registered with Wine's regsvr32, in a scratch directory of each test's own.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render/ToolRunner.h"

class RenderTool : public testing::Test
{
protected:
    static void SetUpTestSuite() { s_dwRegistered = Regsvr32(true); }
    void SetUp() override { ASSERT_EQ(s_dwRegistered, 0u) << "regsvr32 of Tonewell.dll failed"; }

    CToolRun Render(const std::vector<std::wstring>& args) { return RunRender(args, m_dir.Path()); }

    static inline DWORD s_dwRegistered = 0xFFFFFFFF;
    CScratchDir m_dir;
};

// What a failed run printed, for the failure message of a check.
inline std::string Printed(const CToolRun& run)
{
    return "exit " + std::to_string(run.dwExit) + "\n--- stdout:\n" + run.out + "--- stderr:\n" + run.err;
}
