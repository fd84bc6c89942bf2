// The memory allocator: IMemAllocator and IMemAllocatorCallbackTemp over one block of
// buffers, with samples built in place, GetBuffer waiting outside the lock, every returned
// buffer waking all waiters, and a decommit that waits for the last buffer to come back.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "diagnostics/DSParsers.h"
#include "diagnostics/DSTrace.h"
#include "framework/AllocatorBuffers.h"
#include "framework/DSTypes.h"
#include "framework/MediaSample.h"
#include "framework/SampleSnapshot.h"
#include "support/ComBase.h"
#include "support/ComPtr.h"

#include <utility>

// The allocator's own interface: a media type queued for the next sample handed out.
MIDL_INTERFACE("D84E2B17-3C5A-4F09-8E6D-1A7B9C2E5F43")
IMemAllocatorEx : public IUnknown
{
    // A copy of pmt travels with the next sample only; null empties the queue.
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE* pmt) = 0;
};
__CRT_UUID_DECL(IMemAllocatorEx, 0xD84E2B17, 0x3C5A, 0x4F09, 0x8E, 0x6D, 0x1A, 0x7B, 0x9C, 0x2E, 0x5F, 0x43)
inline constexpr IID IID_IMemAllocatorEx = {0xD84E2B17, 0x3C5A, 0x4F09, {0x8E, 0x6D, 0x1A, 0x7B, 0x9C, 0x2E, 0x5F, 0x43}};

enum EAllocState : LONG
{
    AS_Create = 0,  // constructed; no semaphore
    AS_Init,        // semaphore created; no properties
    AS_Prop,        // properties set; not committed
    AS_Commit,      // committed; every buffer free
    AS_Active,      // committed; buffers handed out
    AS_Empty,       // committed; the last GetBuffer found no free buffer
    AS_Decommit,    // decommitted while buffers were out
};

// What a step under the allocator's lock leaves for after it: the callback to notify and
// the allocator's own reference to drop. Neither may run inside the lock: a callback, or
// whatever its release lets go, may take locks of its own, and the own reference may be
// the one that keeps the lock in existence.
struct CAllocatorAfterLock
{
    CComPtr<IMemAllocatorNotifyCallbackTemp> spNotify;
    bool bReleaseSelf = false;
};

// The two platform interfaces over the state machine. T supplies the lock, the buffer
// bookkeeping (IsAllReturn, GetBusyCount, GetFreeBufferCount, AllocMemory, CreateSample) and the
// waiter handling (AddWaiter, WakeAllWaiters).
template <class T>
class IMemAllocatorImpl : public IMemAllocatorCallbackTemp
{
public:
    STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override
    {
        T* pT = static_cast<T*>(this);
        DS_ASSERT(pRequest != NULL);
        if (pRequest == nullptr)
            return E_POINTER;
        DS_ASSERT(pActual != NULL);
        if (pActual == nullptr)
            return E_POINTER;
        *pActual = ALLOCATOR_PROPERTIES{};
        CComLockGuard<T> lock(pT);
        DebugTrace(atlTraceCOM, 8, L"%s IMemAllocator::SetProperties( %i, %i, %i, %i ) State=%d [0x%08X]\n",
                   pT->ObjectName(), pRequest->cBuffers, pRequest->cbBuffer, pRequest->cbAlign, pRequest->cbPrefix,
                   int(m_eState), DWORD(DWORD_PTR(pT)));
        switch (m_eState)
        {
        case AS_Create:
            return E_ABORT;
        case AS_Init:
        case AS_Prop:
        {
            ALLOCATOR_PROPERTIES rgProps = *pRequest;
            HRESULT hr = T::TBuffers::Correct(rgProps);
            if (FAILED(hr))
                return hr;
            m_rgProps = rgProps;
            *pActual = rgProps;
            m_eState = AS_Prop;
            return hr;
        }
        case AS_Decommit:
            return VFW_E_BUFFERS_OUTSTANDING;
        default:
            return VFW_E_ALREADY_COMMITTED;
        }
    }

    STDMETHOD(GetProperties)(ALLOCATOR_PROPERTIES* pProps) override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 10, L"%s IMemAllocator::GetProperties\n", pT->ObjectName());
        DS_ASSERT(pProps != NULL);
        if (pProps == nullptr)
            return E_POINTER;
        CComLockGuard<T> lock(pT);
        switch (m_eState)
        {
        case AS_Create:
            return E_ABORT;
        case AS_Init:
            return VFW_E_BUFFER_NOTSET;
        default:
            *pProps = m_rgProps;
            return S_OK;
        }
    }

    STDMETHOD(Commit)() override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 8, L"%s IMemAllocator::Commit [0x%08X]\n", pT->ObjectName(), DWORD(DWORD_PTR(pT)));
        CComLockGuard<T> lock(pT);
        switch (m_eState)
        {
        case AS_Create:
            return E_ABORT;
        case AS_Init:
            return E_FAIL;
        case AS_Prop:
            DS_ASSERT(m_eState == AS_Prop);
            if (!pT->AllocMemory(m_rgProps))
                return E_OUTOFMEMORY;
            // Held until the last buffer is back after a decommit.
            pT->AddRefSelf();
            m_eState = AS_Commit;
            return S_OK;
        case AS_Decommit:
            m_eState = pT->GetFreeBufferCount() != 0 ? AS_Active : AS_Empty;
            return S_OK;
        default:
            return S_OK;
        }
    }

    STDMETHOD(Decommit)() override
    {
        T* pT = static_cast<T*>(this);
        CAllocatorAfterLock after;
        HRESULT hr;
        {
            CComLockGuard<T> lock(pT);
            hr = DecommitLocked(after);
        }
        AfterLock(after);
        return hr;
    }

    STDMETHOD(GetBuffer)(IMediaSample** ppSample, REFERENCE_TIME* /*pStartTime*/, REFERENCE_TIME* /*pEndTime*/,
                         DWORD dwFlags) override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 10, L"%s IMemAllocator::GetBuffer()\n", pT->ObjectName());
        DS_ASSERT(ppSample != NULL);
        if (ppSample == nullptr)
            return E_POINTER;
        *ppSample = nullptr;
        for (;;)
        {
            CMType mtQueued;
            pT->Lock();
            HRESULT hr = TakeOrAnnounceWait(ppSample, dwFlags, mtQueued);
            pT->Unlock();
            // The queued type moved out under the lock; its copy's pUnk is not ours to
            // call while holding it.
            if (hr == S_OK && mtQueued.IsValid())
            {
                HRESULT hrT = (*ppSample)->SetMediaType(&mtQueued);
                DS_ASSERT(hrT == S_OK);
            }
            if (hr != S_FALSE)
                return hr;
            DWORD dwWait = WaitForSingleObject(m_hSem, INFINITE);
            if (dwWait != WAIT_OBJECT_0)
            {
                DebugTrace(atlTraceGeneral, 2, L"###Err### %s IMemAllocator::GetBuffer(): WaitForSingleObject()=0x%X\n",
                           pT->ObjectName(), dwWait);
                return E_FAIL;
            }
            DebugTrace(atlTraceCOM, 10, L"%s IMemAllocator::GetBuffer(): Semaphore is signaled\n", pT->ObjectName());
        }
    }

    // Called from the sample's final release once its buffer is back on the free stack.
    STDMETHOD(ReleaseBuffer)(IMediaSample* pSample) override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 10, L"%s IMemAllocator::ReleaseBuffer\n", pT->ObjectName());
        DS_ASSERT(pSample != NULL);
        if (pSample == nullptr)
            return E_POINTER;
        CAllocatorAfterLock after;
        HRESULT hr;
        {
            CComLockGuard<T> lock(pT);
            hr = BufferReturned(after);
        }
        AfterLock(after);
        return hr;
    }

    STDMETHOD(SetNotify)(IMemAllocatorNotifyCallbackTemp* pNotify) override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 8, L"%s IMemAllocatorCallbackTemp::SetNotify( 0x%08X ) [0x%p]\n", pT->ObjectName(),
                   DWORD(DWORD_PTR(pNotify)), pT);
        // The new callback's reference is taken before the lock and the old one's dropped
        // after it: neither object is ours.
        CComPtr<IMemAllocatorNotifyCallbackTemp> spSwap(pNotify);
        {
            CComLockGuard<T> lock(pT);
            std::swap(m_spNotify.p, spSwap.p);
        }
        return S_OK;
    }

    STDMETHOD(GetFreeCount)(LONG* plBuffersFree) override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 8, L"%s IMemAllocatorCallbackTemp::GetFreeCount\n", pT->ObjectName());
        DS_ASSERT(plBuffersFree != NULL);
        if (plBuffersFree == nullptr)
            return E_POINTER;
        CComLockGuard<T> lock(pT);
        HRESULT hr = CommittedOrWhyNot();
        *plBuffersFree = hr == S_OK ? LONG(pT->GetFreeBufferCount()) : 0;
        return hr;
    }

    virtual LPCWSTR ObjectName() const { return L"(CMemoryAllocatorT<>)"; }

    EAllocState GetState() const { return m_eState; }

    // Once the lock is left: notifies and drops the callback, then the own reference.
    void AfterLock(CAllocatorAfterLock& after)
    {
        if (after.spNotify)
        {
            after.spNotify->NotifyRelease();
            after.spNotify.Release();
        }
        if (after.bReleaseSelf)
        {
            after.bReleaseSelf = false;
            static_cast<T*>(this)->ReleaseSelf();
        }
    }

protected:
    HRESULT DecommitLocked(CAllocatorAfterLock& after)
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 8, L"%s IMemAllocator::Decommit(): busy %u buffers [0x%08X]\n", pT->ObjectName(),
                   pT->GetBusyCount(), DWORD(DWORD_PTR(pT)));
        switch (m_eState)
        {
        case AS_Create:
            return E_ABORT;
        case AS_Init:
            return E_FAIL;
        case AS_Prop:
            return S_OK;
        case AS_Commit:
            DS_ASSERT(pT->IsAllReturn());
            [[fallthrough]];
        default:
            m_eState = AS_Decommit;
            EndDeferredDecommit(after);
            pT->WakeAllWaiters();
            return S_OK;
        }
    }

    // Under the lock: S_OK while buffers can be had, else why not.
    HRESULT CommittedOrWhyNot() const
    {
        switch (m_eState)
        {
        case AS_Create:
            return E_ABORT;
        case AS_Init:
            return VFW_E_BUFFER_NOTSET;
        case AS_Prop:
        case AS_Decommit:
            return VFW_E_NOT_COMMITTED;
        default:
            return S_OK;
        }
    }

    // Under the lock, one pass of GetBuffer: a result to return, or S_FALSE after the
    // caller was announced as a waiter. A new sample comes with the queued type moved into
    // mtQueued, for the caller to attach once the lock is left.
    HRESULT TakeOrAnnounceWait(IMediaSample** ppSample, DWORD dwFlags, CMType& mtQueued)
    {
        T* pT = static_cast<T*>(this);
        HRESULT hrState = CommittedOrWhyNot();
        if (hrState != S_OK)
            return hrState;
        if (m_eState != AS_Empty)
        {
            HRESULT hr = pT->CreateSample(ppSample, mtQueued);
            if (FAILED(hr))
            {
                DS_REPORT("IMemAllocatorImpl::GetBuffer(): CreateSample() FAILED");
                return hr;
            }
            if (hr == S_OK)
            {
                m_eState = AS_Active;
                return S_OK;
            }
            DS_ASSERT(hr == S_FALSE);
            // Every buffer is free in AS_Commit: no buffer there means a broken count.
            if (m_eState == AS_Commit)
                return E_FAIL;
            m_eState = AS_Empty;
            DebugTrace(atlTraceCOM, 8, L"%s IMemAllocator::GetBuffer(): Allocator busy, waiting = %s\n",
                       pT->ObjectName(), (dwFlags & AM_GBF_NOWAIT) ? L"NO" : L"YES");
        }
        if (dwFlags & AM_GBF_NOWAIT)
            return VFW_E_TIMEOUT;
        pT->AddWaiter();
        return S_FALSE;
    }

    // Under the lock: the state after a buffer came back to the free stack, and what to
    // do once the lock is left.
    HRESULT BufferReturned(CAllocatorAfterLock& after)
    {
        T* pT = static_cast<T*>(this);
        switch (m_eState)
        {
        case AS_Commit:
            DS_ASSERT(pT->IsAllReturn());
            return S_OK;
        case AS_Empty:
            m_eState = AS_Active;
            [[fallthrough]];
        case AS_Active:
            if (pT->IsAllReturn())
                m_eState = AS_Commit;
            after.spNotify = m_spNotify;
            return S_OK;
        case AS_Decommit:
            DebugTrace(atlTraceCOM, 8, L"%s IMemAllocator::ReleaseBuffer(): Decommit state, busy %u buffers [0x%p]\n",
                       pT->ObjectName(), pT->GetBusyCount(), pT);
            EndDeferredDecommit(after);
            after.spNotify = m_spNotify;
            return S_OK;
        default:
            return E_ABORT;
        }
    }

    // Under the lock: ends a deferred decommit when every buffer is back; the reference
    // that Commit took goes once the lock is left.
    void EndDeferredDecommit(CAllocatorAfterLock& after)
    {
        T* pT = static_cast<T*>(this);
        if (m_eState == AS_Decommit && pT->IsAllReturn())
        {
            m_eState = AS_Prop;
            after.bReleaseSelf = true;
        }
    }

    EAllocState m_eState = AS_Create;
    ALLOCATOR_PROPERTIES m_rgProps = {0, 0, 1, 0};
    HANDLE m_hSem = nullptr;
    CComPtr<IMemAllocatorNotifyCallbackTemp> m_spNotify;
};

// Buffers, sample blocks, waiters, the queued media type and the peak, over
// IMemAllocatorImpl; TSample is the sample's state class, built in place as
// CComSampleObject<T, TSample>.
template <class T, class TBuffersT, class TSample>
class CMemAllocBase : public IMemAllocatorImpl<T>, public IMemAllocatorEx
{
public:
    using TBuffers = TBuffersT;
    using TSampleObject = CComSampleObject<T, TSample>;
    using TAfterLock = CAllocatorAfterLock;

    CMemAllocBase() : m_arrSamples(sizeof(TSampleObject)) {}

protected:
    using IMemAllocatorImpl<T>::m_eState;
    using IMemAllocatorImpl<T>::m_rgProps;
    using IMemAllocatorImpl<T>::m_hSem;
    using IMemAllocatorImpl<T>::m_spNotify;

public:

    STDMETHOD(SetMediaType)(const AM_MEDIA_TYPE* pmt) override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 8, L"%s IMemAllocatorEx::SetMediaType [0x%p]\n", pT->ObjectName(), pT);
        Debug_MediaType(atlTraceGeneral, 8, pmt);
        // Copied before the lock and swapped in under it, so that the old type (whose pUnk
        // is not ours) goes after it.
        CMType mtSwap;
        HRESULT hr = mtSwap.Assign(pmt);
        DS_ASSERT(hr == S_OK);
        if (FAILED(hr))
            return hr;
        CComLockGuard<T> lock(pT);
        std::swap(static_cast<AM_MEDIA_TYPE&>(m_mtQueued), static_cast<AM_MEDIA_TYPE&>(mtSwap));
        return hr;
    }

    // Threads announced as waiting on the semaphore since the last wake-up.
    ULONG GetWaiterCount()
    {
        CComLockGuard<T> lock(static_cast<T*>(this));
        return m_nWaiters;
    }

    // The sample's buffer goes back on the free stack; from the sample's final release,
    // which holds the lock and finishes after with AfterLock.
    void ClearSample(IMediaSample* pSample, CAllocatorAfterLock& after)
    {
        T* pT = static_cast<T*>(this);
        CComLockGuard<T> lock(pT);
        BYTE* pBuffer = nullptr;
        if (pSample->GetPointer(&pBuffer) == S_OK)
            m_Buffers.Push(pBuffer);
        else
            DS_REPORT("CMemAllocBase::ClearSample(): pSample->GetPointer() != S_OK");
        if (this->BufferReturned(after) != S_OK)
            DS_REPORT("CMemAllocBase::ClearSample(): pT->ReleaseBuffer() != S_OK");
    }

    // The sample's block goes back; waiters see buffer and block together.
    void ReturnSample(void* pBlock, CAllocatorAfterLock& after)
    {
        T* pT = static_cast<T*>(this);
        CComLockGuard<T> lock(pT);
        m_arrSamples.Put(pBlock);
        this->EndDeferredDecommit(after);
        WakeAllWaiters();
    }

    // Under the lock: a new sample over a free buffer, S_FALSE when none is free. The
    // queued type moves into mtQueued: the caller attaches it once the lock is left.
    HRESULT CreateSample(IMediaSample** ppSample, CMType& mtQueued)
    {
        T* pT = static_cast<T*>(this);
        DS_ASSERT(ppSample != NULL);
        if (ppSample == nullptr)
            return E_POINTER;
        *ppSample = nullptr;
        CComLockGuard<T> lock(pT);
        BYTE* pBuffer = m_Buffers.Pop();
        if (pBuffer == nullptr)
            return S_FALSE;
        void* pBlock = m_arrSamples.Get();
        if (pBlock == nullptr)
        {
            m_Buffers.Push(pBuffer);
            return E_OUTOFMEMORY;
        }
        HRESULT hr = TSampleObject::InitInstance(pBlock, pT, pBuffer, m_rgProps.cbBuffer, ppSample);
        if (SUCCEEDED(hr) && m_mtQueued.IsValid())
            std::swap(static_cast<AM_MEDIA_TYPE&>(m_mtQueued), static_cast<AM_MEDIA_TYPE&>(mtQueued));
        ULONG nOutstanding = m_arrSamples.m_nAll - m_arrSamples.m_nBusy;
        if (nOutstanding > m_nPeak)
        {
            m_nPeak = nOutstanding;
            DebugTrace(atlTraceGeneral, 8, L"%s Allocator [0x%p]: max outstanding buffers %u\n", pT->ObjectName(), pT,
                       nOutstanding);
        }
        return hr;
    }

    // The buffer set first: it refuses a set it cannot hold before the sample blocks are made.
    bool AllocMemory(const ALLOCATOR_PROPERTIES& rgProps)
    {
        if (!m_Buffers.Alloc(rgProps))
            return false;
        if (m_arrSamples.Init(ULONG(rgProps.cBuffers)))
            return true;
        m_Buffers.Free();
        return false;
    }

    bool IsAllReturn() const { return m_Buffers.IsAllReturn(); }
    ULONG GetBusyCount() const { return m_Buffers.GetBusyCount(); }
    ULONG GetFreeBufferCount() const { return m_Buffers.GetFreeCount(); }
    ULONG GetPeak() const { return m_nPeak; }

    // Under the lock: the caller will wait on the semaphore once the lock is released.
    void AddWaiter() { ++m_nWaiters; }

    // Under the lock: every announced waiter passes the semaphore once.
    void WakeAllWaiters()
    {
        if (m_nWaiters == 0)
            return;
        DS_ASSERT(m_hSem != NULL);
        ReleaseSemaphore(m_hSem, LONG(m_nWaiters), nullptr);
        m_nWaiters = 0;
    }

protected:
    HRESULT InitAllocator()
    {
        DS_ASSERT(m_eState == AS_Create);
        DS_ASSERT(m_hSem == NULL);
        m_hSem = CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, nullptr);
        if (m_hSem == nullptr)
            return E_OUTOFMEMORY;
        m_eState = AS_Init;
        return S_OK;
    }

    void ReleaseAllocator()
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceGeneral, 4, L"### %s CMemAllocBase::ReleaseAllocator [0x%p]\n", pT->ObjectName(), pT);
        DS_ASSERT(m_eState == AS_Create || m_eState == AS_Init || m_eState == AS_Prop);
        CloseSemaphore();
        m_eState = AS_Create;
        m_arrSamples.Release();
        m_Buffers.Free();
        m_spNotify.Release();
    }

    void CloseSemaphore()
    {
        if (m_hSem != nullptr)
            CloseHandle(m_hSem);
        m_hSem = nullptr;
    }

    ~CMemAllocBase()
    {
        DS_ASSERT(m_eState == AS_Create);
        CloseSemaphore();
    }

    TBuffers m_Buffers;
    CSampleArray m_arrSamples;
    ULONG m_nWaiters = 0;
    CMType m_mtQueued;
    ULONG m_nPeak = 0;
};

// The system's allocator over TMemory (CBufferOnVirtualAlloc).
template <class TMemory>
class CMemoryAllocatorT
    : public CMemAllocBase<CMemoryAllocatorT<TMemory>, CAllocatorBuffers<TMemory>, CMediaSample>,
      public CComObjectRootEx<CComMultiThreadModel>
{
public:
    BEGIN_COM_MAP(CMemoryAllocatorT<TMemory>)
        COM_INTERFACE_ENTRY(IMemAllocator)
        COM_INTERFACE_ENTRY(IMemAllocatorCallbackTemp)
        COM_INTERFACE_ENTRY(IMemAllocatorEx)
    END_COM_MAP()

    // A new allocator whose only reference the caller holds.
    static HRESULT CreateInstance(IMemAllocator** ppAllocator)
    {
        DS_ASSERT(ppAllocator != NULL);
        if (ppAllocator == nullptr)
            return E_POINTER;
        *ppAllocator = nullptr;
        CComObject<CMemoryAllocatorT>* p = nullptr;
        HRESULT hr = CComObject<CMemoryAllocatorT>::CreateUnreferenced(&p);
        if (FAILED(hr))
            return hr;
        p->AddRef();
        hr = p->QueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(ppAllocator));
        p->Release();
        return hr;
    }

    HRESULT FinalConstruct()
    {
        DebugTrace(atlTraceGeneral, 2, L"%s FinalConstruct [0x%p]\n", this->ObjectName(), this);
        return this->InitAllocator();
    }

    void FinalRelease()
    {
        DebugTrace(atlTraceGeneral, 2, L"%s FinalRelease [0x%p]\n", this->ObjectName(), this);
        this->ReleaseAllocator();
    }

    // Every decrement: a count left at 1 while committed is the allocator's own reference,
    // so nobody will decommit it any more. Nothing of the object is read after the
    // decrement: by then another thread may drop the last reference and destroy it.
    ULONG InternalRelease()
    {
        const EAllocState eState = this->m_eState;
        LPCWSTR pszName = this->ObjectName();
        ULONG nRef = CComObjectRootEx<CComMultiThreadModel>::InternalRelease();
        if (nRef == 1 && eState == AS_Commit)
            DebugTrace(atlTraceGeneral, 2,
                       L"###Err### %s InternalRelease [0x%p]: IMemAllocator::Decommit() is not called, memory is not "
                       L"freed\n",
                       pszName, this);
        return nRef;
    }

    void AddRefSelf() { static_cast<IMemAllocator*>(this)->AddRef(); }
    void ReleaseSelf() { static_cast<IMemAllocator*>(this)->Release(); }

    using CComObjectRootEx<CComMultiThreadModel>::Lock;
    using CComObjectRootEx<CComMultiThreadModel>::Unlock;
};

using CMemoryAllocator = CMemoryAllocatorT<CBufferOnVirtualAlloc>;
