// A source filter of the tests' own, made from the framework's templates: one output pin
// with one PCM type, and a streaming thread that fills every buffer it gets with a byte
// pattern and sends it downstream while the filter runs. Like the tone generator, the
// thread holds the filter lock while it fills a buffer and no lock while it waits for a
// buffer or delivers one, and a format change asks the connected pin while the filter runs
// and reconnects through the graph while it is stopped. Switches let a test make the
// filter's hooks refuse.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <atomic>

#include "framework/DSFilters.h"
#include "support/ComBase.h"
#include "support/Threads.h"

// {8E0F3C52-6A1B-4D7E-9C25-3B4A5D6E7F81}
const CLSID CLSID_TestSource = {0x8E0F3C52, 0x6A1B, 0x4D7E, {0x9C, 0x25, 0x3B, 0x4A, 0x5D, 0x6E, 0x7F, 0x81}};

class CTestSource;

class CTestSourcePin : public CComObjectRootEx<CComMultiThreadModel>,
                       public COutputPin<CTestSourcePin, CTestSource>,
                       public IKsPropertySetWrapper<CTestSourcePin, &PIN_CATEGORY_CAPTURE>,
                       public CMTSingle
{
public:
    BEGIN_COM_MAP(CTestSourcePin)
        COM_INTERFACE_ENTRY(IPin)
        COM_INTERFACE_ENTRY(IQualityControl)
        COM_INTERFACE_ENTRY(IKsPropertySet)
    END_COM_MAP()

    // 48 kHz stereo 16-bit PCM.
    HRESULT FinalConstruct();
    LPCWSTR ObjectName() override { return L"[TestSource Out]"; }

    // 4 buffers of 40 ms in the current format, or what a test sets.
    void AllocatorRequest(ALLOCATOR_PROPERTIES* pProps);
    // The framework's own allocator, counted.
    HRESULT AllocatorCreate(IMemAllocator** ppAllocator);

    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
    STDMETHOD_(ULONG, AddRef)() override = 0;
    STDMETHOD_(ULONG, Release)() override = 0;

    ALLOCATOR_PROPERTIES m_propsRequest = {};  // all 0: derive from the current type
    std::atomic<LONG> m_nAllocatorsCreated{0};
};

class CTestSource : public CComObjectRootEx<CComMultiThreadModel>,
                    public CSourceFilter<CTestSource, CTestSourcePin>,
                    public IBaseFilterImpl<CTestSource>,
                    public IAMFilterMiscFlagsWrapper<CTestSource, AM_FILTER_MISC_FLAGS_IS_SOURCE>
{
public:
    BEGIN_COM_MAP(CTestSource)
        COM_INTERFACE_ENTRY(IBaseFilter)
        COM_INTERFACE_ENTRY2(IMediaFilter, IBaseFilter)
        COM_INTERFACE_ENTRY2(IPersist, IBaseFilter)
        COM_INTERFACE_ENTRY(IAMFilterMiscFlags)
    END_COM_MAP()

    CTestSource() { SetName(L"Test Source"); }

    static const CLSID& GetObjectCLSID() { return CLSID_TestSource; }
    LPCWSTR ObjectName() override { return L"[TestSource]"; }

    HRESULT FinalConstruct();
    void FinalRelease();

    // Stream while running: Run starts the sending, Stop waits until the thread is idle.
    STDMETHOD(Run)(REFERENCE_TIME tStart) override;
    STDMETHOD(Stop)() override;
    // A live source: nothing to cue while paused, so the graph does not wait for renderers.
    STDMETHOD(GetState)(DWORD dwMilliSecsTimeout, FILTER_STATE* pState) override;

    // Makes pmt the pin's type: while running or paused only when the connected pin accepts
    // it (the next sample carries it); while stopped the graph reconnects the pin with it.
    HRESULT ChangeFormat(const AM_MEDIA_TYPE* pmt);
    // Set when Stop waits for the streaming thread to become idle.
    HANDLE StopWaitsEvent() const { return m_hStopWaits; }

    BOOL Filter_QueryAcceptMT(int nIndex, const AM_MEDIA_TYPE* pmt);
    HRESULT Filter_CompleteConnect(int nIndex);
    void Filter_Disconnect(int nIndex);

    unsigned ThreadProc();

    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
    STDMETHOD_(ULONG, AddRef)() override = 0;
    STDMETHOD_(ULONG, Release)() override = 0;

    // Switches and counters for the tests.
    bool m_bAcceptAnyAudio = true;          // false: only the pin's current type
    HRESULT m_hrCompleteConnect = S_OK;
    std::atomic<LONG> m_nDisconnectHooks{0};
    std::atomic<LONG> m_nSamplesSent{0};
    std::atomic<LONG> m_nSendFailures{0};
    std::atomic<HRESULT> m_hrLastSend{S_OK};

private:
    bool SendOne();

    CSimpleThread<CTestSource> m_thread;
    std::atomic<bool> m_bStreaming{false};  // the thread sends only while set
    HANDLE m_hIdle = nullptr;               // set while the thread sends nothing
    HANDLE m_hStopWaits = nullptr;          // auto-reset
    LONGLONG m_llSamples = 0;
    bool m_bTypeChanged = false;            // under the filter lock: the next sample carries the type
};
