// The buffer set: property correction, the layout of the virtual-memory block, the free
// stack, and the stack of sample blocks.
#include "memory/MemoryTestSupport.h"

#include <climits>
#include <set>
#include <string.h>

using memtest::MemoryTest;

namespace
{
using CBuffers = CAllocatorBuffers<CBufferOnVirtualAlloc>;

struct CorrectCase
{
    const char* pszName;
    ALLOCATOR_PROPERTIES request;
    HRESULT hr;
    ALLOCATOR_PROPERTIES corrected;  // when hr is S_OK
};

void PrintTo(const CorrectCase& c, std::ostream* os) { *os << c.pszName; }

const CorrectCase kCorrectCases[] = {
    {"Unchanged", {4, 1000, 1, 0}, S_OK, {4, 1000, 1, 0}},
    {"PrefixPlusBufferFillWholeUnits", {2, 1001, 4, 8}, S_OK, {2, 1004, 4, 8}},
    {"Align3BecomesFour", {3, 1000, 3, 0}, S_OK, {3, 1000, 4, 0}},
    {"Align0BecomesOne", {3, 1000, 0, 0}, S_OK, {3, 1000, 1, 0}},
    {"Align5BecomesEight", {1, 100, 5, 0}, S_OK, {1, 104, 8, 0}},
    {"Align7BecomesEight", {1, 100, 7, 0}, S_OK, {1, 104, 8, 0}},
    {"Align12BecomesSixteen", {1, 100, 12, 0}, S_OK, {1, 112, 16, 0}},
    {"Align100Becomes128", {1, 100, 100, 0}, S_OK, {1, 128, 128, 0}},
    {"PrefixLargerThanAlign", {1, 10, 16, 20}, S_OK, {1, 12, 16, 20}},
    {"LargestAlignment", {1, 100, 1 << 30, 0}, S_OK, {1, 1 << 30, 1 << 30, 0}},
    {"NoBuffers", {0, 1000, 1, 0}, VFW_E_SIZENOTSET, {}},
    {"NegativeBuffers", {-1, 1000, 1, 0}, VFW_E_SIZENOTSET, {}},
    {"EmptyBuffers", {4, 0, 1, 0}, VFW_E_SIZENOTSET, {}},
    {"NegativeAlignment", {1, 100, -4, 0}, VFW_E_BADALIGN, {}},
    {"AlignmentWithoutPowerInRange", {1, 100, (1 << 30) + 1, 0}, VFW_E_BADALIGN, {}},
    {"SizeBeyondRange", {1, LONG_MAX, 16, 0}, VFW_E_SIZENOTSET, {}},
    {"NegativePrefix", {1, 100, 1, -8}, E_INVALIDARG, {}},
};

bool SameProps(const ALLOCATOR_PROPERTIES& a, const ALLOCATOR_PROPERTIES& b)
{
    return a.cBuffers == b.cBuffers && a.cbBuffer == b.cbBuffer && a.cbAlign == b.cbAlign && a.cbPrefix == b.cbPrefix;
}

class CorrectTest : public MemoryTest, public ::testing::WithParamInterface<CorrectCase>
{
};

TEST_P(CorrectTest, CorrectsOrRefusesAndTheAllocatorStoresOnlyCorrectedProperties)
{
    const CorrectCase& c = GetParam();
    ALLOCATOR_PROPERTIES props = c.request;
    HRESULT hr = CBuffers::Correct(props);
    EXPECT_EQ(hr, c.hr);
    if (c.hr == S_OK)
    {
        EXPECT_TRUE(SameProps(props, c.corrected));
    }
    else
    {
        EXPECT_EQ(props.cBuffers, c.request.cBuffers) << "never changed";
        EXPECT_EQ(props.cbPrefix, c.request.cbPrefix) << "never changed";
    }

    CComPtr<IMemAllocator> spAlloc = memtest::NewAllocator();
    ALLOCATOR_PROPERTIES request = c.request;
    ALLOCATOR_PROPERTIES actual = {7, 7, 7, 7};
    EXPECT_EQ(spAlloc->SetProperties(&request, &actual), c.hr);
    ALLOCATOR_PROPERTIES stored = {};
    if (c.hr == S_OK)
    {
        EXPECT_TRUE(SameProps(actual, c.corrected));
        EXPECT_EQ(spAlloc->GetProperties(&stored), S_OK);
        EXPECT_TRUE(SameProps(stored, c.corrected));
    }
    else
    {
        EXPECT_TRUE(SameProps(actual, ALLOCATOR_PROPERTIES{})) << "pActual stays zero-filled";
        EXPECT_EQ(spAlloc->GetProperties(&stored), VFW_E_BUFFER_NOTSET) << "nothing stored";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CorrectTest, ::testing::ValuesIn(kCorrectCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------- block layout

struct LayoutCase
{
    ALLOCATOR_PROPERTIES props;  // already corrected
    LONG cbAlignUsed;            // at least 16
};

class LayoutTest : public MemoryTest, public ::testing::WithParamInterface<LayoutCase>
{
};

std::vector<BYTE*> PopAll(CBuffers& buffers)
{
    std::vector<BYTE*> popped;
    while (BYTE* p = buffers.Pop())
        popped.push_back(p);
    return popped;
}

TEST_P(LayoutTest, BuffersAreAlignedBehindTheirPrefixesInsideOneCommittedBlock)
{
    const LayoutCase& c = GetParam();
    CBuffers buffers;
    ASSERT_TRUE(buffers.Alloc(c.props));
    EXPECT_EQ(CBufferOnVirtualAlloc::LiveBlocks(), m_nBlocksBefore + 1);
    EXPECT_EQ(buffers.GetBufferCount(), ULONG(c.props.cBuffers));
    EXPECT_TRUE(buffers.IsAllReturn());

    std::vector<BYTE*> popped = PopAll(buffers);
    ASSERT_EQ(popped.size(), size_t(c.props.cBuffers));
    EXPECT_EQ(buffers.GetBusyCount(), ULONG(c.props.cBuffers));

    MEMORY_BASIC_INFORMATION mbi = {};
    ASSERT_NE(VirtualQuery(popped.back(), &mbi, sizeof(mbi)), 0u);
    BYTE* pBlock = static_cast<BYTE*>(mbi.AllocationBase);
    const LONG cbUnit = c.props.cbPrefix + c.props.cbBuffer;
    const LONG cbStride = (cbUnit + c.cbAlignUsed - 1) / c.cbAlignUsed * c.cbAlignUsed;
    for (size_t i = 0; i < popped.size(); ++i)
    {
        BYTE* pBuffer = popped[popped.size() - 1 - i];  // the highest address goes out first
        EXPECT_EQ(ULONG_PTR(pBuffer - c.props.cbPrefix) % ULONG_PTR(c.cbAlignUsed), 0u) << "buffer " << i;
        EXPECT_EQ(pBuffer - popped.back(), LONGLONG(i) * cbStride) << "buffer " << i;
        ASSERT_EQ(VirtualQuery(pBuffer, &mbi, sizeof(mbi)), sizeof(mbi));
        EXPECT_EQ(mbi.AllocationBase, pBlock) << "one block for all buffers";
        EXPECT_EQ(mbi.State, DWORD(MEM_COMMIT));
        EXPECT_EQ(mbi.Protect, DWORD(PAGE_READWRITE));
        // Prefix and buffer are writable to their last byte.
        memset(pBuffer - c.props.cbPrefix, 0xA5, size_t(cbUnit));
    }
    BYTE* pEnd = popped.front() + c.props.cbBuffer;
    ASSERT_EQ(VirtualQuery(pEnd - 1, &mbi, sizeof(mbi)), sizeof(mbi));
    EXPECT_EQ(mbi.AllocationBase, pBlock);

    for (BYTE* p : popped)
        EXPECT_TRUE(buffers.Push(p));
    EXPECT_TRUE(buffers.IsAllReturn());
    EXPECT_FALSE(buffers.Push(popped[0])) << "a push beyond the buffer count is refused";
    EXPECT_EQ(buffers.GetFreeCount(), ULONG(c.props.cBuffers));
    buffers.Free();
    EXPECT_EQ(CBufferOnVirtualAlloc::LiveBlocks(), m_nBlocksBefore);
    EXPECT_EQ(VirtualQuery(pBlock, &mbi, sizeof(mbi)), sizeof(mbi));
    EXPECT_EQ(mbi.State, DWORD(MEM_FREE)) << "the block went back to the system";
}

INSTANTIATE_TEST_SUITE_P(Table, LayoutTest,
                         ::testing::Values(LayoutCase{{4, 1000, 1, 0}, 16}, LayoutCase{{3, 1004, 4, 8}, 16},
                                           LayoutCase{{5, 96, 64, 32}, 64}, LayoutCase{{2, 4096, 4096, 0}, 4096},
                                           LayoutCase{{3, 1000, 131072, 24}, 131072}));

TEST_F(MemoryTest, LayoutOfFourBuffersOf1000BytesStartsAtTheBlock)
{
    CBuffers buffers;
    ASSERT_TRUE(buffers.Alloc({4, 1000, 1, 0}));
    std::vector<BYTE*> popped = PopAll(buffers);
    ASSERT_EQ(popped.size(), 4u);
    MEMORY_BASIC_INFORMATION mbi = {};
    ASSERT_EQ(VirtualQuery(popped[3], &mbi, sizeof(mbi)), sizeof(mbi));
    BYTE* pBlock = static_cast<BYTE*>(mbi.AllocationBase);
    EXPECT_EQ(popped[0] - pBlock, 3024);
    EXPECT_EQ(popped[1] - pBlock, 2016);
    EXPECT_EQ(popped[2] - pBlock, 1008);
    EXPECT_EQ(popped[3] - pBlock, 0);
    for (BYTE* p : popped)
        buffers.Push(p);
}

TEST_F(MemoryTest, FreeStackHandsOutTheLastReturnedBufferFirst)
{
    CBuffers buffers;
    EXPECT_EQ(buffers.Pop(), nullptr) << "no stack yet";
    ASSERT_TRUE(buffers.Alloc({3, 64, 1, 0}));
    BYTE* a = buffers.Pop();
    BYTE* b = buffers.Pop();
    BYTE* c = buffers.Pop();
    EXPECT_GT(a, b);
    EXPECT_GT(b, c);
    EXPECT_EQ(buffers.Pop(), nullptr) << "empty stack";
    EXPECT_FALSE(buffers.IsAllReturn());
    buffers.Push(b);
    buffers.Push(c);
    EXPECT_EQ(buffers.Pop(), c);
    EXPECT_EQ(buffers.Pop(), b);
    buffers.Push(a);
    buffers.Push(b);
    buffers.Push(c);
    EXPECT_TRUE(buffers.IsAllReturn());
}

TEST_F(MemoryTest, AllocReplacesThePreviousBlock)
{
    CBuffers buffers;
    ASSERT_TRUE(buffers.Alloc({2, 100, 1, 0}));
    ASSERT_TRUE(buffers.Alloc({5, 300, 16, 0}));
    EXPECT_EQ(CBufferOnVirtualAlloc::LiveBlocks(), m_nBlocksBefore + 1);
    EXPECT_EQ(buffers.GetBufferCount(), 5u);
    // About 200 TB: more than the address space.
    EXPECT_FALSE(buffers.Alloc({100000, 0x7FFFFFF0, 1, 0})) << "a block the system refuses";
    EXPECT_EQ(buffers.GetBufferCount(), 0u);
    EXPECT_EQ(CBufferOnVirtualAlloc::LiveBlocks(), m_nBlocksBefore) << "nothing kept after a failure";
}

// ---------------------------------------------------------------- sample blocks

TEST_F(MemoryTest, SampleBlocksComeZeroFilledAndTheArrayGrowsWhenEmpty)
{
    const size_t cbBlock = 48;
    CSampleArray arr(cbBlock);
    ASSERT_TRUE(arr.Init(2));
    EXPECT_EQ(arr.m_nAll, 2u);
    EXPECT_EQ(arr.m_nBusy, 2u);
    void* p1 = arr.Get();
    void* p2 = arr.Get();
    ASSERT_NE(p1, nullptr);
    ASSERT_NE(p2, nullptr);
    EXPECT_NE(p1, p2);
    memset(p1, 0xEE, cbBlock);
    memset(p2, 0xEE, cbBlock);
    void* p3 = arr.Get();
    ASSERT_NE(p3, nullptr) << "grows by one block";
    EXPECT_EQ(arr.m_nAll, 3u);
    EXPECT_EQ(arr.m_nBusy, 0u);
    memset(p3, 0xEE, cbBlock);
    arr.Put(p3);
    arr.Put(p1);
    arr.Put(p2);
    EXPECT_EQ(arr.m_nBusy, 3u);
    void* pAgain = arr.Get();
    EXPECT_EQ(pAgain, p2) << "a stack";
    const BYTE zero[cbBlock] = {};
    EXPECT_EQ(memcmp(pAgain, zero, cbBlock), 0) << "zero-filled on the way out";
    arr.Put(pAgain);
    arr.Put(pAgain);  // beyond the count owned: refused instead of overrunning the slots
    EXPECT_EQ(arr.m_nBusy, 3u);
    ASSERT_TRUE(arr.Init(0));
    EXPECT_EQ(arr.m_nAll, 0u);
    void* pGrown = arr.Get();
    EXPECT_NE(pGrown, nullptr) << "an empty array grows from nothing";
    arr.Put(pGrown);
}
}
