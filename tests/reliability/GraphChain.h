// A tone filter in Wine's filter graph manager: Tonewell -> Sample Grabber -> Null Renderer,
// every sample the grabber passes counted and (optionally) checked against the reference.
#pragma once
#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <atomic>

#include "dumps/TestObject.h"
#include "reliability/FilterRig.h"

namespace campaign
{
// The grabber's callback: every sample through the check (if any), and an event once the
// chain has passed the samples asked for.
class CGrabbed : public CTestObject<ISampleGrabberCB>
{
public:
    CGrabbed(CStreamCheck* pCheck, LONG nWanted)
        : m_pCheck(pCheck), m_nWanted(nWanted), m_hEnough(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~CGrabbed() override { CloseHandle(m_hEnough); }
    STDMETHODIMP SampleCB(double, IMediaSample* pSample) override
    {
        if (m_pCheck != nullptr)
            m_pCheck->OnSample(pSample);
        if (++m_nSeen == m_nWanted)
            SetEvent(m_hEnough);
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }
    HANDLE Enough() const { return m_hEnough; }
    LONG Seen() const { return m_nSeen; }

private:
    CStreamCheck* m_pCheck;
    const LONG m_nWanted;
    std::atomic<LONG> m_nSeen{0};
    HANDLE m_hEnough;
};

struct CChain
{
    CComPtr<IBaseFilter> spSource, spGrabber, spNull;
    CComPtr<ICRVTonewell> spTone;
    CComPtr<CGrabbed> spGrabbed;

    // Adds the three filters (the source given, or a new one of this program's) to the graph
    // as number i and connects them, the source set to fmt first.
    HRESULT Build(IGraphBuilder* pGraph, int i, const CToneFormat& fmt, CStreamCheck* pCheck, LONG nWanted,
                  IBaseFilter* pSource = nullptr);
    void TakeDown(IGraphBuilder* pGraph);
};

CComPtr<IGraphBuilder> NewGraph();
}
