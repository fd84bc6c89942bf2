// Watches the process's task memory through IMallocSpy: which blocks are alive, which were
// freed twice, and fails a chosen allocation on request.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <mutex>
#include <set>

class CTaskMemorySpy : public IMallocSpy
{
public:
    // The process-wide spy, registered with COM at first use and never revoked (COM keeps it
    // while any block it saw is alive).
    static CTaskMemorySpy& Instance();

    // Forgets every block seen so far and any pending failure.
    void Begin();
    // Blocks allocated since Begin and not freed yet.
    size_t LiveBlocks() const;
    size_t Allocations() const;
    // Frees of a block that was already freed since Begin.
    size_t DoubleFrees() const;
    // Makes the nth allocation from now (1 = the next one) fail.
    void FailAllocation(int nth);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    // IMallocSpy
    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T cbRequest) override;
    STDMETHODIMP_(void*) PostAlloc(void* pActual) override;
    STDMETHODIMP_(void*) PreFree(void* pRequest, BOOL fSpyed) override;
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T) PreRealloc(void* pRequest, SIZE_T cbRequest, void** ppNewRequest, BOOL fSpyed) override;
    STDMETHODIMP_(void*) PostRealloc(void* pActual, BOOL fSpyed) override;
    STDMETHODIMP_(void*) PreGetSize(void* pRequest, BOOL) override { return pRequest; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T cbActual, BOOL) override { return cbActual; }
    STDMETHODIMP_(void*) PreDidAlloc(void* pRequest, BOOL) override { return pRequest; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int fActual) override { return fActual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

private:
    CTaskMemorySpy() = default;
    void Forget(void* p);

    mutable std::mutex m_mutex;
    std::set<void*> m_setLive;
    std::set<void*> m_setFreed;
    size_t m_nAllocations = 0;
    size_t m_nDoubleFrees = 0;
    int m_nFailIn = 0;
};
