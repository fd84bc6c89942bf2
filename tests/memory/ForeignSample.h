// A sample of another allocator as the snapshot may meet it: IMediaSample only (no
// IMediaSample2), answering through a real sample except for one operation whose answer
// the test chooses. The platform has no such sample, hence this fake.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "support/ComPtr.h"

namespace memtest
{
class CForeignSample : public IMediaSample
{
public:
    enum EOp
    {
        None,
        GetPointerOp,
        GetPointerNull,  // S_OK with a null pointer
        GetSizeOp,
        GetActualDataLengthOp,
        SetTimeOp,
        SetMediaTimeOp,
        IsPrerollOp,
        IsSyncPointOp,
        GetMediaTypeNull,  // S_OK with no record
        SetActualDataLengthOp,
    };

    CForeignSample(IMediaSample* pInner, EOp eOp = None, LONG lAnswer = 0) : m_sp(pInner), m_eOp(eOp), m_lAnswer(lAnswer) {}

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (!InlineIsEqualGUID(riid, IID_IUnknown) && !InlineIsEqualGUID(riid, IID_IMediaSample))
            return E_NOINTERFACE;
        *ppv = static_cast<IMediaSample*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return 2; }
    STDMETHOD_(ULONG, Release)() override { return 1; }

    STDMETHOD(GetPointer)(BYTE** pp) override
    {
        if (m_eOp == GetPointerNull)
        {
            *pp = nullptr;
            return S_OK;
        }
        return m_eOp == GetPointerOp ? HRESULT(m_lAnswer) : m_sp->GetPointer(pp);
    }
    STDMETHOD_(LONG, GetSize)() override { return m_eOp == GetSizeOp ? m_lAnswer : m_sp->GetSize(); }
    STDMETHOD(GetTime)(REFERENCE_TIME* pS, REFERENCE_TIME* pE) override { return m_sp->GetTime(pS, pE); }
    STDMETHOD(SetTime)(REFERENCE_TIME* pS, REFERENCE_TIME* pE) override
    {
        return m_eOp == SetTimeOp ? HRESULT(m_lAnswer) : m_sp->SetTime(pS, pE);
    }
    STDMETHOD(IsSyncPoint)() override { return m_eOp == IsSyncPointOp ? HRESULT(m_lAnswer) : m_sp->IsSyncPoint(); }
    STDMETHOD(SetSyncPoint)(BOOL b) override { return m_sp->SetSyncPoint(b); }
    STDMETHOD(IsPreroll)() override { return m_eOp == IsPrerollOp ? HRESULT(m_lAnswer) : m_sp->IsPreroll(); }
    STDMETHOD(SetPreroll)(BOOL b) override { return m_sp->SetPreroll(b); }
    STDMETHOD_(LONG, GetActualDataLength)() override
    {
        return m_eOp == GetActualDataLengthOp ? m_lAnswer : m_sp->GetActualDataLength();
    }
    STDMETHOD(SetActualDataLength)(LONG l) override
    {
        return m_eOp == SetActualDataLengthOp ? HRESULT(m_lAnswer) : m_sp->SetActualDataLength(l);
    }
    STDMETHOD(GetMediaType)(AM_MEDIA_TYPE** pp) override
    {
        if (m_eOp == GetMediaTypeNull)
        {
            *pp = nullptr;
            return S_OK;
        }
        return m_sp->GetMediaType(pp);
    }
    STDMETHOD(SetMediaType)(AM_MEDIA_TYPE* pmt) override { return m_sp->SetMediaType(pmt); }
    STDMETHOD(IsDiscontinuity)() override { return m_sp->IsDiscontinuity(); }
    STDMETHOD(SetDiscontinuity)(BOOL b) override { return m_sp->SetDiscontinuity(b); }
    STDMETHOD(GetMediaTime)(LONGLONG* pS, LONGLONG* pE) override { return m_sp->GetMediaTime(pS, pE); }
    STDMETHOD(SetMediaTime)(LONGLONG* pS, LONGLONG* pE) override
    {
        return m_eOp == SetMediaTimeOp ? HRESULT(m_lAnswer) : m_sp->SetMediaTime(pS, pE);
    }

private:
    CComPtr<IMediaSample> m_sp;
    EOp m_eOp;
    LONG m_lAnswer;
};
}
