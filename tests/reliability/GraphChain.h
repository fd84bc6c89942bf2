// A tone filter in Wine's filter graph manager: Tonewell -> Sample Grabber -> Null Renderer,
// every sample the grabber passes counted and (optionally) checked against the reference.
#pragma once
#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <atomic>
#include <mutex>

#include "dumps/PlatformFilters.h"
#include "dumps/TestObject.h"
#include "reliability/FilterRig.h"

namespace campaign
{
// The grabber's callback: every sample through the check (if any), the format the latest
// type change in the stream carried, and an event once the chain has passed the samples
// asked for.
class CGrabbed : public CTestObject<ISampleGrabberCB>
{
public:
    CGrabbed(CStreamCheck* pCheck, LONG nWanted, const CToneFormat& fmt);
    ~CGrabbed() override { CloseHandle(m_hEnough); }
    STDMETHODIMP SampleCB(double, IMediaSample* pSample) override;
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }
    HANDLE Enough() const { return m_hEnough; }
    LONG Seen() const { return m_nSeen; }
    // Channels, significant bits and rate: those of the connection until a sample carries
    // a type of its own.
    CToneFormat Carried();

private:
    CStreamCheck* m_pCheck;
    const LONG m_nWanted;
    std::atomic<LONG> m_nSeen{0};
    HANDLE m_hEnough;
    std::mutex m_mutex;
    CToneFormat m_carried;
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
}
