// A stream over a platform memory stream whose writes stop after a byte budget while
// still answering S_OK, or whose calls answer a success code other than S_OK: the
// platform has no stream that misbehaves like this.
#pragma once
#include <windows.h>
#include <objidl.h>

#include "support/ComPtr.h"

namespace persisttest
{
class CLimitedStream final : public IStream
{
public:
    // cbWriteBudget: bytes accepted before writes come back short. hrSuccess: what Read
    // and Write answer when they succeed (S_OK or another success code).
    CLimitedStream(IStream* pInner, ULONG cbWriteBudget, HRESULT hrSuccess = S_OK);

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override;
    STDMETHOD_(ULONG, AddRef)() override;
    STDMETHOD_(ULONG, Release)() override;

    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) override;
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) override;

    STDMETHOD(Seek)(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override;
    STDMETHOD(SetSize)(ULARGE_INTEGER libNewSize) override;
    STDMETHOD(CopyTo)(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override;
    STDMETHOD(Commit)(DWORD grfCommitFlags) override;
    STDMETHOD(Revert)() override;
    STDMETHOD(LockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) override;
    STDMETHOD(Clone)(IStream** ppstm) override;

private:
    LONG m_nRef = 1;
    CComPtr<IStream> m_spInner;
    ULONG m_cbWriteBudget;
    HRESULT m_hrSuccess;
};
}
