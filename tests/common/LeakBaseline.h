// What a test found when it began, so that it can check it left the process so: no object
// of ours alive, no task memory left or freed twice, no handle beyond those the platform
// keeps for good by then.
#pragma once
#include <gtest/gtest.h>

#include "common/HandleCount.h"
#include "common/TaskMemorySpy.h"
#include "support/ComBase.h"

class CLeakBaseline
{
public:
    // Takes the counts now (task memory is counted from here on); fails when the handle
    // count cannot be read.
    testing::AssertionResult Take()
    {
        CTaskMemorySpy::Instance().Begin();
        m_nLocks = CComModuleCount::GetLockCount();
        m_nHandles = testhandles::ProcessHandleCount();
        if (m_nHandles <= 0)
            return testing::AssertionFailure() << "the handle count failed";
        return testing::AssertionSuccess();
    }

    // nGraphs graphs of Wine's were made, each keeping nPerGraph handles for good.
    void ExpectNothingLeft(long nGraphs, long nPerGraph) const
    {
        EXPECT_EQ(CComModuleCount::GetLockCount(), m_nLocks) << "an object of ours is alive";
        EXPECT_EQ(CTaskMemorySpy::Instance().LiveBlocks(), 0u) << "task memory is left";
        EXPECT_EQ(CTaskMemorySpy::Instance().DoubleFrees(), 0u);
        EXPECT_EQ(testhandles::HandlesLeftBeyond(m_nHandles + nGraphs * nPerGraph), 0)
            << "handles are left (" << nPerGraph << " per graph made)";
    }

private:
    LONG m_nLocks = 0;
    long m_nHandles = 0;
};
