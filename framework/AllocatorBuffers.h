// Storage of the memory allocator: the buffer set with its memory policy, and the stack
// of raw blocks in which sample objects are built in place. None of these classes locks:
// the allocator calls them with its own lock held.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "framework/TraceReport.h"

// The corrections that hold for every memory policy: alignment to the next power of two
// (0 becomes 1), buffer size rounded so that prefix plus buffer fill whole alignment units.
// S_OK, VFW_E_BADALIGN, VFW_E_SIZENOTSET, or E_INVALIDARG for a negative prefix.
HRESULT CorrectAllocatorProperties(ALLOCATOR_PROPERTIES& rgProps);

// The most buffers one allocator holds: besides its memory each costs a sample block and
// two slots, all made at commit, so a count far beyond any real stream is refused first.
constexpr LONG kMaxAllocatorBuffers = 0x10000;
// The largest buffer block: sizes and offsets inside it are LONG, like the properties.
constexpr ULONGLONG kMaxAllocatorBlock = 0x7FFFFFFF;

// Memory policy: one block of virtual memory carved into equal buffers, each behind its
// prefix and with the prefix on an alignment boundary (16 bytes at least).
class CBufferOnVirtualAlloc
{
public:
    CBufferOnVirtualAlloc() : m_pMemory(nullptr) {}
    ~CBufferOnVirtualAlloc() { ReleaseMemory(); }
    CBufferOnVirtualAlloc(const CBufferOnVirtualAlloc&) = delete;
    CBufferOnVirtualAlloc& operator=(const CBufferOnVirtualAlloc&) = delete;

    // Every alignment suits virtual memory.
    static bool AcceptAlign(LONG /*cbAlign*/) { return true; }
    // Bytes of the block for corrected properties, in 64 bits so that no request wraps.
    static ULONGLONG BlockSize(const ALLOCATOR_PROPERTIES& rgProps);
    // Obtains the block for corrected properties and writes the cBuffers buffer pointers
    // in address order; false when the system refuses the block.
    bool Alloc(const ALLOCATOR_PROPERTIES& rgProps, BYTE** ppBuffers);
    void ReleaseMemory();

    // Blocks obtained from the system and not yet returned, over all allocators.
    static LONG LiveBlocks() { return s_nLiveBlocks; }

protected:
    BYTE* m_pMemory;

private:
    static inline volatile LONG s_nLiveBlocks = 0;
};

// The buffer set: corrected properties, the memory of TMemory and a stack of free buffers
// (the last one returned is the first handed out again).
template <class TMemory>
class CAllocatorBuffers : public TMemory
{
public:
    CAllocatorBuffers() : m_nBuffers(0), m_stackFree(nullptr), m_nFree(0) {}
    ~CAllocatorBuffers() { Free(); }

    static HRESULT Correct(ALLOCATOR_PROPERTIES& rgProps)
    {
        if (!TMemory::AcceptAlign(rgProps.cbAlign))
        {
            DS_REPORT("CAllocatorBuffers::Correct(): Alignment \u0441heck failed in base class");
            return VFW_E_BADALIGN;
        }
        return CorrectAllocatorProperties(rgProps);
    }

    // Whether corrected properties ask for no more buffers and bytes than one set holds.
    static bool Fits(const ALLOCATOR_PROPERTIES& rgProps)
    {
        return rgProps.cBuffers > 0 && rgProps.cBuffers <= kMaxAllocatorBuffers &&
               TMemory::BlockSize(rgProps) <= kMaxAllocatorBlock;
    }

    // Allocates the stack and the memory for corrected properties and fills the stack;
    // false, with nothing held, when memory runs out or the set would not fit.
    bool Alloc(const ALLOCATOR_PROPERTIES& rgPropsIn)
    {
        ALLOCATOR_PROPERTIES rgProps = rgPropsIn;
        DS_ASSERT(rgProps.cBuffers > 0 && rgProps.cbBuffer > 0 && rgProps.cbAlign >= 0);
        if (rgProps.cBuffers <= 0 || rgProps.cbBuffer <= 0)
            return false;
        if (rgProps.cbAlign < 1)
            rgProps.cbAlign = 1;
        Free();
        // Refused before anything per buffer is made: a huge count would otherwise page
        // for minutes before the block itself failed.
        if (!Fits(rgProps))
            return false;
        m_stackFree = static_cast<BYTE**>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                    sizeof(BYTE*) * size_t(rgProps.cBuffers)));
        if (m_stackFree == nullptr)
            return false;
        m_nBuffers = m_nFree = ULONG(rgProps.cBuffers);
        if (!TMemory::Alloc(rgProps, m_stackFree))
        {
            Free();
            return false;
        }
        return true;
    }

    void Free()
    {
        DS_ASSERT(IsAllReturn());
        if (m_stackFree != nullptr)
        {
            TMemory::ReleaseMemory();
            HeapFree(GetProcessHeap(), 0, m_stackFree);
            m_stackFree = nullptr;
        }
        m_nBuffers = m_nFree = 0;
    }

    // The buffer on top of the stack, or null when none is free.
    BYTE* Pop()
    {
        DS_ASSERT(m_stackFree != NULL);
        if (m_stackFree == nullptr || m_nFree == 0)
            return nullptr;
        return m_stackFree[--m_nFree];
    }
    // A push beyond the buffer count would write past the stack: it is refused (false).
    bool Push(BYTE* pBuffer)
    {
        DS_ASSERT(m_stackFree != NULL && !IsAllReturn());
        if (m_stackFree == nullptr || IsAllReturn())
            return false;
        m_stackFree[m_nFree++] = pBuffer;
        return true;
    }

    bool IsAllReturn() const { return m_nFree == m_nBuffers; }
    ULONG GetBufferCount() const { return m_nBuffers; }
    ULONG GetFreeCount() const { return m_nFree; }
    ULONG GetBusyCount() const { return m_nBuffers - m_nFree; }

private:
    ULONG m_nBuffers;
    BYTE** m_stackFree;
    ULONG m_nFree;
};

// A stack of raw, equally sized blocks for sample objects. Blocks out of the stack belong
// to live samples and come back through Put.
class CSampleArray
{
public:
    explicit CSampleArray(size_t cbBlock) : m_cbBlock(cbBlock) {}
    ~CSampleArray() { Release(); }
    CSampleArray(const CSampleArray&) = delete;
    CSampleArray& operator=(const CSampleArray&) = delete;

    // Replaces the blocks by n new ones; false (and nothing held) when memory runs out.
    bool Init(ULONG n);
    // A zero-filled block, or null when none can be had.
    void* Get();
    void Put(void* pSample);
    // Frees the stored blocks and the slot array.
    void Release();

    ULONG m_nAll = 0;   // blocks owned
    ULONG m_nBusy = 0;  // blocks stored in m_ppArr; samples outstanding = m_nAll - m_nBusy

private:
    bool Grow();

    size_t m_cbBlock;
    void** m_ppArr = nullptr;
    ULONG m_nCapacity = 0;
};
