#include "persist/LimitedStream.h"

namespace persisttest
{
CLimitedStream::CLimitedStream(IStream* pInner, ULONG cbWriteBudget, HRESULT hrSuccess)
    : m_spInner(pInner), m_cbWriteBudget(cbWriteBudget), m_hrSuccess(hrSuccess)
{
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CLimitedStream::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (!InlineIsEqualGUID(riid, IID_IUnknown) && !InlineIsEqualGUID(riid, IID_IStream) &&
        !InlineIsEqualGUID(riid, IID_ISequentialStream))
        return E_NOINTERFACE;
    *ppv = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP_(ULONG) CLimitedStream::AddRef() { return ULONG(InterlockedIncrement(&m_nRef)); }

COM_DECLSPEC_NOTHROW STDMETHODIMP_(ULONG) CLimitedStream::Release()
{
    LONG nRef = InterlockedDecrement(&m_nRef);
    if (nRef == 0)
        delete this;
    return ULONG(nRef);
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CLimitedStream::Read(void* pv, ULONG cb, ULONG* pcbRead)
{
    HRESULT hr = m_spInner->Read(pv, cb, pcbRead);
    return hr == S_OK ? m_hrSuccess : hr;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CLimitedStream::Write(const void* pv, ULONG cb, ULONG* pcbWritten)
{
    ULONG cbAccepted = cb < m_cbWriteBudget ? cb : m_cbWriteBudget;
    ULONG cbDone = 0;
    HRESULT hr = m_spInner->Write(pv, cbAccepted, &cbDone);
    m_cbWriteBudget -= cbDone;
    if (pcbWritten)
        *pcbWritten = cbDone;
    return hr == S_OK ? m_hrSuccess : hr;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CLimitedStream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition)
{
    return m_spInner->Seek(dlibMove, dwOrigin, plibNewPosition);
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CLimitedStream::SetSize(ULARGE_INTEGER libNewSize) { return m_spInner->SetSize(libNewSize); }

COM_DECLSPEC_NOTHROW STDMETHODIMP CLimitedStream::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                    ULARGE_INTEGER* pcbWritten)
{
    return m_spInner->CopyTo(pstm, cb, pcbRead, pcbWritten);
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CLimitedStream::Commit(DWORD grfCommitFlags) { return m_spInner->Commit(grfCommitFlags); }

COM_DECLSPEC_NOTHROW STDMETHODIMP CLimitedStream::Revert() { return m_spInner->Revert(); }

COM_DECLSPEC_NOTHROW STDMETHODIMP CLimitedStream::LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType)
{
    return m_spInner->LockRegion(libOffset, cb, dwLockType);
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CLimitedStream::UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType)
{
    return m_spInner->UnlockRegion(libOffset, cb, dwLockType);
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CLimitedStream::Stat(STATSTG* pstatstg, DWORD grfStatFlag) { return m_spInner->Stat(pstatstg, grfStatFlag); }

COM_DECLSPEC_NOTHROW STDMETHODIMP CLimitedStream::Clone(IStream**) { return E_NOTIMPL; }
}
