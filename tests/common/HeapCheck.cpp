// Linked into every test program: once its tests are over, every heap of the process must
// still be whole. Under Wine's heap checking (scripts/check.sh heap) blocks also carry a
// tail pattern, so a write just past the end of a block is found here as well, and the
// heap names the block.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

namespace
{
class CHeapCheck : public testing::Environment
{
public:
    void TearDown() override
    {
        std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 8);
        heaps.resize(GetProcessHeaps(DWORD(heaps.size()), heaps.data()));
        for (HANDLE hHeap : heaps)
            EXPECT_TRUE(HeapValidate(hHeap, 0, nullptr)) << "heap " << hHeap << " is damaged";
    }
};

testing::Environment* const g_pHeapCheck = testing::AddGlobalTestEnvironment(new CHeapCheck);
}
