// The media sample: a COM object built in place in a block that its allocator owns, over
// one of the allocator's buffers. Its final release gives buffer and block back to the
// allocator instead of freeing anything.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "framework/TraceReport.h"
#include "support/ComBase.h"
#include "support/ComPtr.h"

#include <new>

// Sample flags beside the platform's AM_SAMPLE_* bits.
constexpr DWORD SAMPLE_MEDIATIMEVALID = 0x020;  // private: never reported, never accepted
constexpr DWORD SAMPLE_FLAGS_ACCEPTED = 0x1DF;  // what IMediaSample2::SetProperties may set

// The sample's state and its IMediaSample2 operations. The operations take no lock: a
// sample is used by one thread at a time.
class IMediaSample2Wrapper : public IMediaSample2
{
public:
    IMediaSample2Wrapper() = default;
    ~IMediaSample2Wrapper();
    IMediaSample2Wrapper(const IMediaSample2Wrapper&) = delete;
    IMediaSample2Wrapper& operator=(const IMediaSample2Wrapper&) = delete;

    STDMETHOD(GetPointer)(BYTE** ppBuffer) override;
    STDMETHOD_(LONG, GetSize)() override;
    STDMETHOD(GetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    STDMETHOD(SetTime)(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    STDMETHOD(IsSyncPoint)() override;
    STDMETHOD(SetSyncPoint)(BOOL bIsSyncPoint) override;
    STDMETHOD(IsPreroll)() override;
    STDMETHOD(SetPreroll)(BOOL bIsPreroll) override;
    STDMETHOD_(LONG, GetActualDataLength)() override;
    STDMETHOD(SetActualDataLength)(LONG lLen) override;
    STDMETHOD(GetMediaType)(AM_MEDIA_TYPE** ppMediaType) override;
    STDMETHOD(SetMediaType)(AM_MEDIA_TYPE* pMediaType) override;
    STDMETHOD(IsDiscontinuity)() override;
    STDMETHOD(SetDiscontinuity)(BOOL bDiscontinuity) override;
    STDMETHOD(GetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    STDMETHOD(SetMediaTime)(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    STDMETHOD(GetProperties)(DWORD cbProperties, BYTE* pbProperties) override;
    STDMETHOD(SetProperties)(DWORD cbProperties, const BYTE* pbProperties) override;

    virtual LPCWSTR ObjectName() const { return L"(CMediaSample)"; }

    // Dumps the properties that cbProps bytes of a property block cover.
    void Debug_SampleProps(DWORD cbProps) const;

protected:
    void AttachBuffer(BYTE* pBuffer, LONG cbBuffer);
    // Frees the attached type, if any; the flag is left as it is.
    void FreeMediaType();

    BYTE* m_pBuffer = nullptr;
    LONG m_cbBuffer = 0;
    LONG m_lActual = 0;
    DWORD m_dwFlags = 0;
    DWORD m_dwTypeSpecificFlags = 0;
    AM_MEDIA_TYPE* m_pMediaType = nullptr;  // owned; set exactly when AM_SAMPLE_TYPECHANGED is
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = 0;
    LONGLONG m_llMediaStart = 0;
    LONGLONG m_llMediaStop = 0;
    DWORD m_dwStreamId = 0;

private:
    HRESULT SetFlag(DWORD dwFlag, BOOL bSet, LPCWSTR pszFormat);
    HRESULT TestFlag(DWORD dwFlag, LPCWSTR pszFormat);
};

// The sample's COM identity: IMediaSample and IMediaSample2. Its object lock is never
// taken, so the root has none (a sample then costs no system resource).
class CMediaSample : public IMediaSample2Wrapper, public CComObjectRootEx<CComMultiThreadModelNoCS>
{
public:
    BEGIN_COM_MAP(CMediaSample)
        COM_INTERFACE_ENTRY(IMediaSample)
        COM_INTERFACE_ENTRY(IMediaSample2)
    END_COM_MAP()

    HRESULT FinalConstruct();
    void FinalRelease();
};

// A TSample built in place in a block of TAlloc's sample array. The allocator pointer holds
// no reference: the allocator keeps itself alive while any buffer is out.
template <class TAlloc, class TSample>
class CComSampleObject final : public TSample
{
public:
    // Builds the sample in the raw block pSample over pBuffer and returns its IMediaSample
    // with the only reference. Called by the allocator with its lock held.
    static HRESULT InitInstance(void* pSample, TAlloc* pAlloc, BYTE* pBuffer, LONG cbBuffer,
                                IMediaSample** ppMediaSample)
    {
        DS_ASSERT(pSample != NULL && ppMediaSample != NULL);
        if (pSample == nullptr || ppMediaSample == nullptr)
            return E_POINTER;
        *ppMediaSample = nullptr;
        DS_ASSERT(pAlloc != NULL && pBuffer != NULL && cbBuffer > 0);
        if (pAlloc == nullptr || pBuffer == nullptr || cbBuffer <= 0)
            return E_INVALIDARG;

        auto* p = ::new (pSample) CComSampleObject();
        CComModuleCount::Lock();
        p->m_pAlloc = pAlloc;
        p->AttachBuffer(pBuffer, cbBuffer);

        p->InternalAddRef();
        HRESULT hr = p->FinalConstruct();
        p->InternalRelease();
        if (FAILED(hr))
            DS_REPORT("CComSampleObject::InitInstance(): can't initialize sample object");

        // A failure drops the count to 0 here, which returns buffer and block.
        IUnknown* pUnk = static_cast<IMediaSample*>(p);
        pUnk->AddRef();
        if (SUCCEEDED(hr))
        {
            hr = p->QueryInterface(IID_IMediaSample, reinterpret_cast<void**>(ppMediaSample));
            if (FAILED(hr))
                DS_REPORT("CComSampleObject::InitInstance(): pSample->QueryInterface() FAILED");
        }
        pUnk->Release();
        return hr;
    }

    STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override { return this->_InternalQueryInterface(riid, ppv); }

    // The last release destroys the object in place and hands buffer and block back under
    // the allocator's lock, so that a waiting GetBuffer sees all of it as one step. What
    // is not the allocator's business (the media type, whose pUnk is not ours) goes before
    // that lock; the notify callback and the allocator's own reference go after it.
    STDMETHOD_(ULONG, Release)() override
    {
        ULONG nRef = this->InternalRelease();
        if (nRef != 0)
            return nRef;
        this->FreeMediaType();
        TAlloc* pAlloc = m_pAlloc;
        void* pBlock = this;
        typename TAlloc::TAfterLock after;
        if (pAlloc != nullptr)
        {
            pAlloc->Lock();
            static_cast<IMemAllocator*>(pAlloc)->AddRef();  // outlives this path
        }
        this->FinalRelease();
        if (pAlloc != nullptr)
            pAlloc->ClearSample(static_cast<IMediaSample*>(this), after);
        m_pAlloc = nullptr;
        this->~CComSampleObject();
        CComModuleCount::Unlock();
        if (pAlloc != nullptr)
        {
            pAlloc->ReturnSample(pBlock, after);
            pAlloc->Unlock();
            pAlloc->AfterLock(after);
            static_cast<IMemAllocator*>(pAlloc)->Release();
        }
        return 0;
    }

    // The storage belongs to the allocator: these never free. The object is made with the
    // global placement new, so there is no operator new of its own to pair them with.
    // NOLINTNEXTLINE(cert-dcl54-cpp)
    static void operator delete(void*) { DS_REPORT("CComSampleObject::operator delete 1"); }
    static void operator delete(void*, void*) { DS_REPORT("CComSampleObject::operator delete 2"); }
    static void operator delete(void*, size_t) {}

private:
    CComSampleObject() = default;
    ~CComSampleObject() = default;

    TAlloc* m_pAlloc = nullptr;
};
