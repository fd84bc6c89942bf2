#include "common/TaskMemorySpy.h"

CTaskMemorySpy& CTaskMemorySpy::Instance()
{
    static CTaskMemorySpy* s_pSpy = []
    {
        auto* pSpy = new CTaskMemorySpy;
        if (FAILED(CoRegisterMallocSpy(pSpy)))
            return static_cast<CTaskMemorySpy*>(nullptr);
        return pSpy;
    }();
    return *s_pSpy;
}

void CTaskMemorySpy::Begin()
{
    std::lock_guard lock(m_mutex);
    m_setLive.clear();
    m_setFreed.clear();
    m_nAllocations = 0;
    m_nDoubleFrees = 0;
    m_nFailIn = 0;
}

size_t CTaskMemorySpy::LiveBlocks() const
{
    std::lock_guard lock(m_mutex);
    return m_setLive.size();
}

size_t CTaskMemorySpy::Allocations() const
{
    std::lock_guard lock(m_mutex);
    return m_nAllocations;
}

size_t CTaskMemorySpy::DoubleFrees() const
{
    std::lock_guard lock(m_mutex);
    return m_nDoubleFrees;
}

void CTaskMemorySpy::FailAllocation(int nth)
{
    std::lock_guard lock(m_mutex);
    m_nFailIn = nth;
}

STDMETHODIMP CTaskMemorySpy::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMallocSpy)
    {
        *ppv = static_cast<IMallocSpy*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(SIZE_T) CTaskMemorySpy::PreAlloc(SIZE_T cbRequest)
{
    std::lock_guard lock(m_mutex);
    // A request of 0 bytes makes the allocator return null.
    if (m_nFailIn > 0 && --m_nFailIn == 0)
        return 0;
    return cbRequest;
}

STDMETHODIMP_(void*) CTaskMemorySpy::PostAlloc(void* pActual)
{
    std::lock_guard lock(m_mutex);
    if (pActual != nullptr)
    {
        ++m_nAllocations;
        m_setLive.insert(pActual);
        m_setFreed.erase(pActual);
    }
    return pActual;
}

void CTaskMemorySpy::Forget(void* p)
{
    if (p == nullptr)
        return;
    if (m_setLive.erase(p) != 0)
        m_setFreed.insert(p);
    else if (m_setFreed.count(p) != 0)
        ++m_nDoubleFrees;
}

STDMETHODIMP_(void*) CTaskMemorySpy::PreFree(void* pRequest, BOOL)
{
    std::lock_guard lock(m_mutex);
    Forget(pRequest);
    return pRequest;
}

STDMETHODIMP_(SIZE_T) CTaskMemorySpy::PreRealloc(void* pRequest, SIZE_T cbRequest, void** ppNewRequest, BOOL)
{
    std::lock_guard lock(m_mutex);
    Forget(pRequest);
    *ppNewRequest = pRequest;
    return cbRequest;
}

STDMETHODIMP_(void*) CTaskMemorySpy::PostRealloc(void* pActual, BOOL)
{
    return PostAlloc(pActual);
}
