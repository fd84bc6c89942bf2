// A media sample for the answers that the system's own sample never gives (a failing
// pointer or property query, no IMediaSample2), and a reference clock that fails on demand.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "TestObject.h"

class CFakeSample : public CTestObject<IMediaSample2>
{
public:
    bool bOffersSample2 = true;
    HRESULT hrTime = S_OK;          // the times themselves are 0
    HRESULT hrMediaTime = S_OK;
    HRESULT hrDiscontinuity = S_FALSE;
    HRESULT hrProperties = S_OK;
    DWORD dwTypeSpecificFlags = 0, dwStreamId = 0;
    DWORD cbPropertiesAsked = 0;
    HRESULT hrPointer = S_OK;       // a success hands out a null pointer
    long cbSize = 0, cbActual = 0;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IMediaSample2 && !bOffersSample2)
        {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return CTestObject::QueryInterface(riid, ppv);
    }

    STDMETHODIMP GetPointer(BYTE** ppBuffer) override
    {
        *ppBuffer = nullptr;
        return hrPointer;
    }
    STDMETHODIMP_(long) GetSize() override { return cbSize; }
    STDMETHODIMP GetTime(REFERENCE_TIME* ptS, REFERENCE_TIME* ptE) override
    {
        *ptS = 0;
        *ptE = 0;
        return hrTime;
    }
    STDMETHODIMP SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    STDMETHODIMP IsSyncPoint() override { return S_FALSE; }
    STDMETHODIMP SetSyncPoint(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP IsPreroll() override { return S_FALSE; }
    STDMETHODIMP SetPreroll(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP_(long) GetActualDataLength() override { return cbActual; }
    STDMETHODIMP SetActualDataLength(long) override { return E_NOTIMPL; }
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppmt) override
    {
        *ppmt = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP IsDiscontinuity() override { return hrDiscontinuity; }
    STDMETHODIMP SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetMediaTime(LONGLONG* pS, LONGLONG* pE) override
    {
        *pS = 0;
        *pE = 0;
        return hrMediaTime;
    }
    STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    // Fills as many bytes as asked, like the platform's samples do.
    STDMETHODIMP GetProperties(DWORD cb, BYTE* pb) override
    {
        cbPropertiesAsked = cb;
        if (FAILED(hrProperties))
            return hrProperties;
        AM_SAMPLE2_PROPERTIES props = {};
        props.cbData = sizeof(props);
        props.dwTypeSpecificFlags = dwTypeSpecificFlags;
        props.dwStreamId = dwStreamId;
        props.pMediaType = reinterpret_cast<AM_MEDIA_TYPE*>(0x1);  // must never be read
        memcpy(pb, &props, cb < sizeof(props) ? cb : sizeof(props));
        return S_OK;
    }
    STDMETHODIMP SetProperties(DWORD, const BYTE*) override { return E_NOTIMPL; }

protected:
    bool QueryMore(REFIID riid, void** ppv) override
    {
        if (riid != IID_IMediaSample)
            return false;
        *ppv = static_cast<IMediaSample*>(this);
        return true;
    }
};

class CFakeClock : public CTestObject<IReferenceClock>
{
public:
    HRESULT hrTime = S_OK;
    REFERENCE_TIME tNow = 0;

    STDMETHODIMP GetTime(REFERENCE_TIME* pTime) override
    {
        *pTime = tNow;
        return hrTime;
    }
    STDMETHODIMP AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override { return E_NOTIMPL; }
    STDMETHODIMP AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD_PTR) override { return E_NOTIMPL; }
};
