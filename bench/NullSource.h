// A source that does nothing but deliver: the module's own filter and pin templates for the
// connection, and a thread that takes each buffer from the agreed allocator, sets its length
// and time stamps and hands it to the downstream pin through the platform's interfaces. What
// a buffer costs here is the platform graph's share of a buffer's way.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "framework/DSFilters.h"
#include "support/ComBase.h"
#include "support/ComPtr.h"
#include "support/Threads.h"

namespace bench
{
class CNullSource;

class CNullSourceOut : public CComObjectRootEx<CComMultiThreadModel>,
                       public COutputPin<CNullSourceOut, CNullSource>,
                       public CMTSingle
{
public:
    BEGIN_COM_MAP(CNullSourceOut)
        COM_INTERFACE_ENTRY(IPin)
        COM_INTERFACE_ENTRY(IQualityControl)
    END_COM_MAP()

    LPCWSTR ObjectName() override { return L"[Null Out]"; }
    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}

    // The same request as the tone filter's pin: 8 buffers of 40 ms.
    void AllocatorRequest(ALLOCATOR_PROPERTIES* pProps)
    {
        const WAVEFORMATEX* pWF = m_mt.GetWaveFormat();
        pProps->cBuffers = 8;
        pProps->cbBuffer = pWF != nullptr ? LONG(pWF->nAvgBytesPerSec / 25) : 0;
        pProps->cbAlign = 1;
        pProps->cbPrefix = 0;
    }
    HRESULT GetMediaType(LONG iPosition, AM_MEDIA_TYPE** ppmt)
    {
        CComLockGuard<CNullSourceOut> lock(this);
        return CMTSingle::GetMediaType(iPosition, ppmt);
    }

    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
    STDMETHOD_(ULONG, AddRef)() override = 0;
    STDMETHOD_(ULONG, Release)() override = 0;
};

class CNullSource : public CComObjectRootEx<CComMultiThreadModel>,
                    public CSourceFilter<CNullSource, CNullSourceOut>,
                    public IBaseFilterImpl<CNullSource>
{
public:
    BEGIN_COM_MAP(CNullSource)
        COM_INTERFACE_ENTRY2(IPersist, IBaseFilter)
        COM_INTERFACE_ENTRY2(IMediaFilter, IBaseFilter)
        COM_INTERFACE_ENTRY(IBaseFilter)
    END_COM_MAP()

    static const CLSID& GetObjectCLSID()
    {
        static const CLSID s_clsid = {0x5d1c2a7e, 0x3b0f, 0x4c59, {0x9a, 0x61, 0x0e, 0x2d, 0x44, 0x8b, 0x91, 0x13}};
        return s_clsid;
    }
    LPCWSTR ObjectName() override { return L"[Null Source]"; }

    HRESULT FinalConstruct()
    {
        HRESULT hr = CreateOutputPin(nullptr);
        if (SUCCEEDED(hr) && !m_evIdle.Create(true))
            hr = E_FAIL;
        if (SUCCEEDED(hr))
            hr = m_thread.InitThread(this, &CSimpleThread<CNullSource>::StartThread);
        return hr;
    }
    void FinalRelease()
    {
        m_thread.Stop(INFINITE, false);
        DestroyPins();
    }

    // The pin's one type, set before the connection.
    HRESULT SetFormat(const WAVEFORMATEX& wf)
    {
        return m_apOut->m_mt.Set(&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM, &FORMAT_WaveFormatEx, sizeof(wf), &wf);
    }
    BOOL Filter_QueryAcceptMT(int /*nIndex*/, const AM_MEDIA_TYPE* pmt)
    {
        return pmt != nullptr && pmt->majortype == MEDIATYPE_Audio;
    }

    STDMETHOD(Run)(REFERENCE_TIME tStart) override
    {
        HRESULT hr = IBaseFilterImpl<CNullSource>::Run(tStart);
        if (hr == S_OK)
        {
            m_evIdle.Reset();
            m_bStreaming = true;
            m_thread.Wake();
        }
        return hr;
    }
    // A live source: nothing to cue, so the graph does not wait for it while paused.
    STDMETHOD(GetState)(DWORD dwMilliSecsTimeout, FILTER_STATE* pState) override
    {
        HRESULT hr = IBaseFilterImpl<CNullSource>::GetState(dwMilliSecsTimeout, pState);
        return hr == S_OK && *pState == State_Paused ? VFW_S_CANT_CUE : hr;
    }
    // Decommitting the allocator ends a wait for a buffer; the thread is idle on return.
    STDMETHOD(Stop)() override
    {
        const bool bWasStreaming = m_bStreaming.exchange(false);
        HRESULT hr = IBaseFilterImpl<CNullSource>::Stop();
        if (bWasStreaming)
            WaitForSingleObject(m_evIdle.m_h, INFINITE);
        return hr;
    }

    unsigned ThreadProc()
    {
        const HRESULT hrCo = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        while (m_thread.m_bRun)
        {
            WaitForSingleObject(m_thread.m_hEvent, INFINITE);
            if (m_bStreaming)
                Deliver();
            m_evIdle.Set();
        }
        if (SUCCEEDED(hrCo))
            CoUninitialize();
        return 0;
    }

    // Buffers handed downstream since the filter was made.
    std::atomic<LONGLONG> m_llBuffers{0};

    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
    STDMETHOD_(ULONG, AddRef)() override = 0;
    STDMETHOD_(ULONG, Release)() override = 0;

private:
    void Deliver()
    {
        CComPtr<IMemAllocator> spAlloc = m_apOut->m_spAllocOut;
        CComQIPtr<IMemInputPin> spInput(m_apOut->m_spConnected);
        if (!spAlloc || !spInput)
            return;
        REFERENCE_TIME tNext = 0;
        while (m_bStreaming)
        {
            CComPtr<IMediaSample> spSample;
            if (spAlloc->GetBuffer(&spSample, nullptr, nullptr, 0) != S_OK)
                return;
            const LONG cb = spSample->GetSize();
            REFERENCE_TIME tStart = tNext;
            tNext += 400000;
            spSample->SetActualDataLength(cb);
            spSample->SetTime(&tStart, &tNext);
            if (spInput->Receive(spSample) != S_OK)
                return;
            ++m_llBuffers;
        }
    }

    CSimpleThread<CNullSource> m_thread;
    CEvent m_evIdle;
    std::atomic<bool> m_bStreaming{false};
};

inline CNullSource& NullSourceOf(IBaseFilter* pFilter)
{
    return *static_cast<CNullSource*>(static_cast<IBaseFilterImpl<CNullSource>*>(pFilter));
}
}
