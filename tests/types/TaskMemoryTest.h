// A fixture that watches task memory: each test must end with every block it allocated freed,
// and none freed twice.
#pragma once
#include <gtest/gtest.h>

#include "common/TaskMemorySpy.h"

class CTaskMemoryTest : public testing::Test
{
protected:
    void SetUp() override { Spy().Begin(); }
    void TearDown() override
    {
        EXPECT_EQ(Spy().LiveBlocks(), 0u) << "task-memory blocks leaked";
        EXPECT_EQ(Spy().DoubleFrees(), 0u) << "task-memory blocks freed twice";
    }
    static CTaskMemorySpy& Spy() { return CTaskMemorySpy::Instance(); }
};
