#include "framework/AllocatorBuffers.h"

#include <string.h>

HRESULT CorrectAllocatorProperties(ALLOCATOR_PROPERTIES& rgProps)
{
    LONG cbAlign = rgProps.cbAlign;
    // A negative alignment or one above 2^30 has no power of two within a LONG.
    if (cbAlign < 0 || cbAlign > (1L << 30))
    {
        DS_REPORT("CCAllocatorBuffers::Correct(): Invalid alignment");
        return VFW_E_BADALIGN;
    }
    if ((-cbAlign & cbAlign) != cbAlign)
    {
        LONG cbPower = 1;
        for (LONG n = cbAlign; n != 0; n >>= 1)
            cbPower <<= 1;
        DebugTrace(atlTraceGeneral, 4,
                   L"### CAllocatorBuffers::Correct(): Alignment is not a power of 2 (rgProps.cbAlign = 0x%X), "
                   L"corrected alignment = 0x%X\n",
                   cbAlign, cbPower);
        cbAlign = cbPower;
    }
    rgProps.cbAlign = cbAlign;
    if (rgProps.cBuffers <= 0 || rgProps.cbBuffer <= 0)
    {
        DS_REPORT("CAllocatorBuffers::Correct(): Invalid numbers of buffers or buffer size");
        return VFW_E_SIZENOTSET;
    }
    // A negative prefix would place buffers in front of the block.
    if (rgProps.cbPrefix < 0)
    {
        DS_REPORT("CAllocatorBuffers::Correct(): Invalid prefix");
        return E_INVALIDARG;
    }
    if (rgProps.cbAlign == 0)
    {
        DebugTrace(atlTraceGeneral, 4, L"### CAllocatorBuffers::Correct(): rgProps.cbAlign == 0\n");
        rgProps.cbAlign = 1;
    }
    // 64-bit arithmetic: a size that does not fit a LONG is refused instead of wrapping.
    LONGLONG llAlign = rgProps.cbAlign;
    LONGLONG llSize =
        ((LONGLONG(rgProps.cbBuffer) + rgProps.cbPrefix - 1) / llAlign + 1) * llAlign - rgProps.cbPrefix;
    if (llSize > LONG_MAX)
    {
        DS_REPORT("CAllocatorBuffers::Correct(): Buffer size out of range");
        return VFW_E_SIZENOTSET;
    }
    if (llSize != rgProps.cbBuffer)
    {
        DebugTrace(atlTraceGeneral, 4,
                   L"### CAllocatorBuffers::Correct(): input props = { %i, %i, %i, %i }, corrected size of buffer = %i\n",
                   rgProps.cBuffers, rgProps.cbBuffer, rgProps.cbAlign, rgProps.cbPrefix, LONG(llSize));
        rgProps.cbBuffer = LONG(llSize);
    }
    return S_OK;
}

// ---------------------------------------------------------------- virtual memory

namespace
{
// Where the buffers lie in the block: prefix and buffer (unit) every stride bytes from an
// aligned start, all in 64 bits.
struct CBlockLayout
{
    ULONGLONG cbAlign;
    ULONGLONG cbUnit;
    ULONGLONG cbStride;
    ULONGLONG cbTotal;  // including the slack for an aligned start
};

CBlockLayout LayoutOf(const ALLOCATOR_PROPERTIES& rgProps)
{
    CBlockLayout layout;
    layout.cbAlign = rgProps.cbAlign <= 0 ? 1 : ULONGLONG(rgProps.cbAlign);
    if (layout.cbAlign < 16)
        layout.cbAlign = 16;
    layout.cbUnit = ULONGLONG(rgProps.cbPrefix) + ULONGLONG(rgProps.cbBuffer);
    layout.cbStride = (layout.cbUnit + layout.cbAlign - 1) / layout.cbAlign * layout.cbAlign;
    layout.cbTotal = ULONGLONG(rgProps.cBuffers - 1) * layout.cbStride + layout.cbUnit;
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    if (layout.cbAlign > si.dwAllocationGranularity)
        layout.cbTotal += layout.cbAlign - si.dwAllocationGranularity;
    return layout;
}

bool UsableProps(const ALLOCATOR_PROPERTIES& rgProps)
{
    return rgProps.cBuffers > 0 && rgProps.cbBuffer > 0 && rgProps.cbPrefix >= 0 && rgProps.cbAlign >= 0;
}
}

ULONGLONG CBufferOnVirtualAlloc::BlockSize(const ALLOCATOR_PROPERTIES& rgProps)
{
    return UsableProps(rgProps) ? LayoutOf(rgProps).cbTotal : ~0ULL;
}

bool CBufferOnVirtualAlloc::Alloc(const ALLOCATOR_PROPERTIES& rgProps, BYTE** ppBuffers)
{
    DS_ASSERT(rgProps.cBuffers > 0 && rgProps.cbBuffer > 0 && rgProps.cbAlign >= 0);
    DS_ASSERT(ppBuffers != NULL);
    DS_ASSERT(m_pMemory == NULL);
    const LONG cbAlign = rgProps.cbAlign;
    DS_ASSERT((-cbAlign & cbAlign) == cbAlign);
    if (!UsableProps(rgProps) || ppBuffers == nullptr || m_pMemory != nullptr)
        return false;

    // A block too large for the system is refused by VirtualAlloc.
    const CBlockLayout layout = LayoutOf(rgProps);
    m_pMemory =
        static_cast<BYTE*>(VirtualAlloc(nullptr, SIZE_T(layout.cbTotal), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (m_pMemory == nullptr)
        return false;
    InterlockedIncrement(&s_nLiveBlocks);

    ULONG_PTR uStart = (ULONG_PTR(m_pMemory) + layout.cbAlign - 1) / layout.cbAlign * layout.cbAlign;
    BYTE* pBuffer = reinterpret_cast<BYTE*>(uStart) + rgProps.cbPrefix;
    for (LONG i = 0; i < rgProps.cBuffers; ++i, pBuffer += layout.cbStride)
        ppBuffers[i] = pBuffer;
    return true;
}

void CBufferOnVirtualAlloc::ReleaseMemory()
{
    if (m_pMemory == nullptr)
        return;
    VirtualFree(m_pMemory, 0, MEM_RELEASE);
    m_pMemory = nullptr;
    InterlockedDecrement(&s_nLiveBlocks);
}

// ---------------------------------------------------------------- sample blocks

bool CSampleArray::Init(ULONG n)
{
    Release();
    if (n == 0)
        return true;
    m_ppArr = static_cast<void**>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(void*) * size_t(n)));
    if (m_ppArr == nullptr)
        return false;
    m_nCapacity = n;
    for (ULONG i = 0; i < n; ++i)
    {
        m_ppArr[i] = HeapAlloc(GetProcessHeap(), 0, m_cbBlock);
        if (m_ppArr[i] == nullptr)
        {
            m_nAll = m_nBusy = i;
            Release();
            return false;
        }
    }
    m_nAll = m_nBusy = n;
    return true;
}

bool CSampleArray::Grow()
{
    DS_ASSERT(m_nBusy == 0);
    if (m_nBusy != 0)
        return false;
    if (m_nCapacity == m_nAll)
    {
        ULONG nCapacity = m_nCapacity == 0 ? 1 : m_nCapacity * 2;
        void** ppArr = static_cast<void**>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(void*) * nCapacity));
        if (ppArr == nullptr)
            return false;
        if (m_ppArr != nullptr)
            HeapFree(GetProcessHeap(), 0, m_ppArr);
        m_ppArr = ppArr;
        m_nCapacity = nCapacity;
    }
    m_ppArr[0] = HeapAlloc(GetProcessHeap(), 0, m_cbBlock);
    if (m_ppArr[0] == nullptr)
        return false;
    ++m_nAll;
    m_nBusy = 1;
    return true;
}

void* CSampleArray::Get()
{
    if (m_nBusy == 0 && !Grow())
        return nullptr;
    void* p = m_ppArr[--m_nBusy];
    DebugAssert(p != nullptr, __FILE_NAME__, __LINE__, "p != NULL && _T(\"CSampleArray::Get()\")");
    if (p != nullptr)
        memset(p, 0, m_cbBlock);
    return p;
}

void CSampleArray::Put(void* pSample)
{
    DS_ASSERT(pSample != NULL);
    DS_ASSERT(m_ppArr != NULL);
    DS_ASSERT(m_nBusy < m_nAll);
    // A block beyond the count owned is not one of ours: storing it would overrun the slots.
    if (pSample == nullptr || m_ppArr == nullptr || m_nBusy >= m_nAll)
        return;
    m_ppArr[m_nBusy++] = pSample;
}

void CSampleArray::Release()
{
    DS_ASSERT(m_nBusy == m_nAll);
    // Only stored blocks are freed: a block still out is a live sample's storage.
    for (ULONG i = 0; i < m_nBusy; ++i)
        HeapFree(GetProcessHeap(), 0, m_ppArr[i]);
    if (m_ppArr != nullptr)
        HeapFree(GetProcessHeap(), 0, m_ppArr);
    m_ppArr = nullptr;
    m_nCapacity = m_nAll = m_nBusy = 0;
}
