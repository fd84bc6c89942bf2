// The filter templates: CBaseFilter (state, clock, graph membership, names, the default
// hooks its pins call), IBaseFilterImpl (IBaseFilter on top of it) and CSourceFilter (a
// filter with one output pin, which it creates, owns, enumerates and whose allocator it
// activates on every change of state).
//
// Each template takes the concrete filter class T first and reaches it by a static cast.
// T supplies: its COM object base (CComObjectRootEx with the multithreaded model, whose
// recursive lock is the filter lock), the static GetObjectCLSID (), ObjectName (), and the
// hook Filter_QueryAcceptMT (nIndex, pmt); it may hide the other Filter_ hooks.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "diagnostics/DSParsers.h"
#include "diagnostics/DSTrace.h"
#include "framework/DSEnums.h"
#include "support/ComBase.h"
#include "support/ComPtr.h"

// Bounded wide copy: at most cch - 1 characters and a terminator; null copies nothing.
inline void DSCopyName(LPWSTR pszDst, size_t cch, LPCWSTR pszSrc)
{
    if (pszSrc == nullptr || cch == 0)
        return;
    size_t n = 0;
    for (; n + 1 < cch && pszSrc[n] != 0; ++n)
        pszDst[n] = pszSrc[n];
    pszDst[n] = 0;
}

// A success code other than S_OK where S_OK is required becomes hrInstead.
inline HRESULT DSFailureOf(HRESULT hr, HRESULT hrInstead)
{
    return FAILED(hr) ? hr : hrInstead;
}

const int DS_NAME_CCH = 128;

template <class T>
class CBaseFilter
{
public:
    CBaseFilter()
        : m_pFilterGraphJoin(nullptr), m_pEventSink(nullptr), m_eState(State_Stopped), m_tStart(0),
          m_bParseGraph(TRUE)
    {
        m_wszName[0] = 0;
        m_wszGraphName[0] = 0;
    }
    virtual ~CBaseFilter() { DS_ASSERT(m_eState == State_Stopped); }
    CBaseFilter(const CBaseFilter&) = delete;
    CBaseFilter& operator=(const CBaseFilter&) = delete;

    virtual LPCWSTR ObjectName() = 0;

    FILTER_STATE FilterState() const { return m_eState; }

    void SetName(LPCWSTR pszName) { DSCopyName(m_wszName, DS_NAME_CCH, pszName); }

    // The base step of every change of state; the caller holds the filter lock.
    HRESULT SetState(FILTER_STATE eState, REFERENCE_TIME tStart)
    {
        if (eState != State_Stopped && m_bParseGraph)
            ParseGraphToLogFile();
        m_bParseGraph = eState == State_Stopped;
        m_eState = eState;
        if (eState == State_Running)
            m_tStart = tStart;
        return S_OK;
    }

    // Asks the graph to reconnect pPin; the caller holds what it needs.
    HRESULT ReconnectPin(IPin* pPin, const AM_MEDIA_TYPE* pmt)
    {
        DebugTrace(atlTraceGeneral, 10, L"%s CBaseFilter::ReconnectPin()\n", ObjectName());
        DS_ASSERT(m_pFilterGraphJoin != NULL);
        if (m_pFilterGraphJoin == nullptr)
            return VFW_E_NOT_IN_GRAPH;
        CComQIPtr<IFilterGraph2> spGraph2(m_pFilterGraphJoin);
        if (spGraph2)
            return spGraph2->ReconnectEx(pPin, pmt);
        return m_pFilterGraphJoin->Reconnect(pPin);
    }

    void NotifyGraphChanged()
    {
        if (m_pEventSink != nullptr)
            m_pEventSink->Notify(EC_GRAPH_CHANGED, 0, 0);
    }

    // Writes the whole graph to the log as one block.
    void ParseGraphToLogFile()
    {
        CComPtr<IFilterGraph> spGraph(m_pFilterGraphJoin);
        if (!spGraph)
        {
            DebugTrace(atlTraceGeneral, 2, L"###Err### %s CBaseFilter::ParseGraphToLogFile(): empty graph pointer\n",
                       ObjectName());
            return;
        }
        LPWSTR pszChain = nullptr;
        CFilterChainParser parser;
        HRESULT hr = parser.GetFiltersChain(spGraph, &pszChain);
        if (FAILED(hr))
        {
            DebugTrace(atlTraceGeneral, 2, L"###Err### %s CBaseFilter::ParseGraphToLogFile(): GetFiltersChain()=0x%X\n",
                       ObjectName(), hr);
            return;
        }
        DebugTraceBlock(pszChain);
        CoTaskMemFree(pszChain);
    }

    // Default hooks; the concrete filter hides those it needs to.
    HRESULT Filter_AgreeMT(int /*nIndex*/, IPin* /*pReceivePin*/) { return VFW_E_NO_ACCEPTABLE_TYPES; }
    HRESULT Filter_CompleteConnect(int /*nIndex*/) { return S_OK; }
    void Filter_Disconnect(int /*nIndex*/) {}
    HRESULT Filter_QualityNotify(int /*nIndex*/, IBaseFilter* /*pSelf*/, Quality /*q*/) { return S_OK; }

    WCHAR m_wszName[DS_NAME_CCH];
    WCHAR m_wszGraphName[DS_NAME_CCH];
    IFilterGraph* m_pFilterGraphJoin;   // not counted: the graph owns the filter
    IMediaEventSink* m_pEventSink;      // not counted, as the graph it belongs to
    CComPtr<IReferenceClock> m_spRefClock;
    FILTER_STATE m_eState;
    REFERENCE_TIME m_tStart;
    BOOL m_bParseGraph;
};

// IBaseFilter (with IMediaFilter and IPersist) on the concrete filter T.
template <class T>
class IBaseFilterImpl : public IBaseFilter
{
public:
    virtual LPCWSTR ObjectName() = 0;

    STDMETHOD(GetClassID)(CLSID* pClassID) override
    {
        DebugTrace(atlTraceCOM, 10, L"%s IBaseFilterImpl::GetClassID\n", ObjectName());
        DS_ASSERT(pClassID != NULL);
        if (pClassID == nullptr)
            return E_INVALIDARG;
        *pClassID = T::GetObjectCLSID();
        return S_OK;
    }

    STDMETHOD(Stop)() override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 8, L"%s IBaseFilterImpl::Stop\n", ObjectName());
        bool bRunning;
        {
            CComLockGuard<T> lock(pT);
            bRunning = pT->m_eState == State_Running;
        }
        if (bRunning)
        {
            DebugTrace(atlTraceGeneral, 8,
                       L"%s IBaseFilterImpl::Stop(): current state is State_Running, call Pause() command\n",
                       ObjectName());
            HRESULT hr = static_cast<IBaseFilter*>(pT)->Pause();
            if (FAILED(hr))
            {
                DebugTrace(atlTraceGeneral, 2, L"###Err### %s IBaseFilterImpl::Stop(): Pause()=0x%X\n", ObjectName(), hr);
                return hr;
            }
            DebugTrace(atlTraceCOM, 8, L"%s IBaseFilterImpl::Stop(): stop after pause\n", ObjectName());
        }
        CComLockGuard<T> lock(pT);
        return pT->SetState(State_Stopped, 0);
    }

    STDMETHOD(Pause)() override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 8, L"%s IBaseFilterImpl::Pause\n", ObjectName());
        CComLockGuard<T> lock(pT);
        return pT->SetState(State_Paused, 0);
    }

    STDMETHOD(Run)(REFERENCE_TIME tStart) override
    {
        T* pT = static_cast<T*>(this);
        WCHAR szStart[REFTIME_STR_CCH];
        DebugTrace(atlTraceCOM, 8, L"%s IBaseFilterImpl::Run( %s )\n", ObjectName(), RefTime2Str(tStart, szStart));
        bool bStopped;
        {
            CComLockGuard<T> lock(pT);
            bStopped = pT->m_eState == State_Stopped;
        }
        if (bStopped)
        {
            DebugTrace(atlTraceGeneral, 8,
                       L"%s IBaseFilterImpl::Run(): current state is State_Stopped, call Pause() command\n",
                       ObjectName());
            HRESULT hr = static_cast<IBaseFilter*>(pT)->Pause();
            if (FAILED(hr))
            {
                DebugTrace(atlTraceGeneral, 2, L"###Err### %s IBaseFilterImpl::Run(): Pause()=0x%X\n", ObjectName(), hr);
                return hr;
            }
            DebugTrace(atlTraceCOM, 8, L"%s IBaseFilterImpl::Run(): run after pause\n", ObjectName());
        }
        CComLockGuard<T> lock(pT);
        return pT->SetState(State_Running, tStart);
    }

    // The state at once: a source has nothing to wait for.
    STDMETHOD(GetState)(DWORD /*dwMilliSecsTimeout*/, FILTER_STATE* State) override
    {
        DebugTrace(atlTraceCOM, 10, L"%s IBaseFilterImpl::GetState\n", ObjectName());
        DS_ASSERT(State != NULL);
        if (State == nullptr)
            return E_POINTER;
        *State = static_cast<T*>(this)->m_eState;
        return S_OK;
    }

    STDMETHOD(SetSyncSource)(IReferenceClock* pClock) override
    {
        T* pT = static_cast<T*>(this);
        CComLockGuard<T> lock(pT);
        pT->m_spRefClock = pClock;
        TraceClock(pClock);
        return S_OK;
    }

    STDMETHOD(GetSyncSource)(IReferenceClock** ppClock) override
    {
        DebugTrace(atlTraceCOM, 10, L"%s IBaseFilterImpl::GetSyncSource\n", ObjectName());
        if (ppClock == nullptr)
            return E_POINTER;
        T* pT = static_cast<T*>(this);
        CComLockGuard<T> lock(pT);
        *ppClock = pT->m_spRefClock;
        if (*ppClock != nullptr)
            (*ppClock)->AddRef();
        return S_OK;
    }

    STDMETHOD(EnumPins)(IEnumPins** ppEnum) override
    {
        DebugTrace(atlTraceCOM, 10, L"%s IBaseFilterImpl::EnumPins\n", ObjectName());
        T* pT = static_cast<T*>(this);
        CComLockGuard<T> lock(pT);
        return CComDSEnumImpl<CPinAccessor<T>, IEnumPins>::CreateEnum(ppEnum, pT, 0);
    }

    STDMETHOD(FindPin)(LPCWSTR Id, IPin** ppPin) override
    {
        DebugTrace(atlTraceCOM, 8, L"%s IBaseFilterImpl::FindPin\n", ObjectName());
        DS_ASSERT(ppPin != NULL && Id != NULL);
        if (ppPin == nullptr || Id == nullptr)
            return E_POINTER;
        *ppPin = nullptr;
        CComPtr<IEnumPins> spEnum;
        HRESULT hr = static_cast<IBaseFilter*>(static_cast<T*>(this))->EnumPins(&spEnum);
        if (FAILED(hr))
            return hr;
        if (!spEnum)
            return E_FAIL;
        spEnum->Reset();
        CComPtr<IPin> spPin;
        for (;;)
        {
            spPin.Release();
            ULONG cFetched = 0;
            hr = spEnum->Next(1, &spPin, &cFetched);
            if (hr != S_OK)
                break;
            DS_ASSERT(cFetched == 1);
            DS_ASSERT(spPin != NULL);
            if (cFetched != 1 || !spPin)
            {
                hr = E_FAIL;
                break;
            }
            LPWSTR pszId = nullptr;
            hr = spPin->QueryId(&pszId);
            if (hr != S_OK)
                break;
            hr = pszId != nullptr && wcscmp(pszId, Id) == 0 ? S_OK : VFW_E_NOT_FOUND;
            CoTaskMemFree(pszId);
            if (hr == S_OK)
                break;
        }
        if (hr == S_OK)
        {
            *ppPin = spPin.Detach();
            return S_OK;
        }
        if (hr == S_FALSE)
            return VFW_E_NOT_FOUND;
        return DSFailureOf(hr, E_FAIL);
    }

    STDMETHOD(QueryFilterInfo)(FILTER_INFO* pInfo) override
    {
        DebugTrace(atlTraceCOM, 10, L"%s IBaseFilterImpl::QueryFilterInfo\n", ObjectName());
        DS_ASSERT(pInfo != NULL);
        if (pInfo == nullptr)
            return E_INVALIDARG;
        T* pT = static_cast<T*>(this);
        DSCopyName(pInfo->achName, DS_NAME_CCH, pT->m_wszGraphName[0] != 0 ? pT->m_wszGraphName : pT->m_wszName);
        pInfo->pGraph = pT->m_pFilterGraphJoin;
        if (pInfo->pGraph != nullptr)
            pInfo->pGraph->AddRef();
        return S_OK;
    }

    STDMETHOD(JoinFilterGraph)(IFilterGraph* pGraph, LPCWSTR pName) override
    {
        DebugTrace(atlTraceCOM, 8, L"%s IBaseFilterImpl::JoinFilterGraph( 0x%08X, '%s' )\n", ObjectName(),
                   unsigned(reinterpret_cast<UINT_PTR>(pGraph)), pName != nullptr ? pName : L"null");
        T* pT = static_cast<T*>(this);
        CComLockGuard<T> lock(pT);
        DS_ASSERT(pT->m_pFilterGraphJoin == NULL || pGraph == NULL);
        if (pT->m_pFilterGraphJoin != nullptr && pGraph != nullptr)
            return E_FAIL;
        LeaveGraph();
        if (pGraph != nullptr)
        {
            pT->m_pFilterGraphJoin = pGraph;
            IMediaEventSink* pSink = nullptr;
            if (SUCCEEDED(pGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&pSink))) &&
                pSink != nullptr)
            {
                pT->m_pEventSink = pSink;
                pSink->Release();  // the graph keeps it alive as long as it holds us
            }
            DSCopyName(pT->m_wszGraphName, DS_NAME_CCH, pName);
        }
        HRESULT hr = pT->Filter_JoinGraph(pGraph != nullptr);
        if (pGraph != nullptr && FAILED(hr))
            LeaveGraph();
        return hr;
    }

    STDMETHOD(QueryVendorInfo)(LPWSTR* /*ppVendorInfo*/) override
    {
        DebugTrace(atlTraceNotImpl, 0, L"ATL: %s not implemented.\n", L"IBaseFilterImpl::QueryVendorInfo");
        return E_NOTIMPL;
    }

private:
    void LeaveGraph()
    {
        T* pT = static_cast<T*>(this);
        pT->m_pFilterGraphJoin = nullptr;
        pT->m_pEventSink = nullptr;
        pT->m_wszGraphName[0] = 0;
    }

    // One line that identifies the clock by its class.
    void TraceClock(IReferenceClock* pClock)
    {
        if (pClock == nullptr)
        {
            DebugTrace(atlTraceGeneral, 8, L"%s IBaseFilterImpl::SetSyncSource( NULL )\n", ObjectName());
            return;
        }
        unsigned uClock = unsigned(reinterpret_cast<UINT_PTR>(pClock));
        CComQIPtr<IPersist> spPersist(pClock);
        if (!spPersist)
        {
            DebugTrace(atlTraceGeneral, 8, L"%s IBaseFilterImpl::SetSyncSource( 0x%X ): clock hasn't CLSID\n",
                       ObjectName(), uClock);
            return;
        }
        CLSID clsid = GUID_NULL;
        HRESULT hr = spPersist->GetClassID(&clsid);
        if (FAILED(hr))
        {
            DebugTrace(atlTraceGeneral, 2, L"###Err### %s IBaseFilterImpl::SetSyncSource( 0x%X ): spPersist->GetClassID()=0x%X\n",
                       ObjectName(), uClock, hr);
            return;
        }
        WCHAR szName[GUID_NAME_CCH];
        DebugTrace(atlTraceGeneral, 8, L"%s IBaseFilterImpl::SetSyncSource( 0x%X ): CLSID = %s\n", ObjectName(), uClock,
                   Guid2Name(clsid, szName, GUID_NAME_CCH));
    }
};

// A filter with exactly one output pin of class TPin (a COM object of its own that the
// filter owns by one reference; the pin keeps an uncounted pointer back).
template <class T, class TPin>
class CSourceFilter : public CBaseFilter<T>
{
public:
    CSourceFilter() : m_apOut(nullptr) {}
    ~CSourceFilter() override
    {
        if (m_apOut != nullptr)
            static_cast<IPin*>(m_apOut)->Release();
    }

    // Hook: a source filter cannot work without its pin.
    HRESULT Filter_JoinGraph(BOOL /*bJoined*/)
    {
        DS_ASSERT(m_apOut != NULL);
        return m_apOut != nullptr ? S_OK : E_FAIL;
    }

    bool IsOutputConnected() const { return m_apOut != nullptr && m_apOut->IsConnected(); }

    // Activates the pin's allocator for every state but Stopped, then takes the base step.
    HRESULT SetState(FILTER_STATE eState, REFERENCE_TIME tStart)
    {
        if (eState != State_Stopped && !IsOutputConnected())
        {
            CBaseFilter<T>::SetState(State_Stopped, 0);
            return VFW_E_WRONG_STATE;
        }
        DS_ASSERT(m_apOut != NULL);
        if (m_apOut == nullptr)
            return VFW_E_NOT_CONNECTED;
        HRESULT hr = m_apOut->AllocatorActivate(eState != State_Stopped);
        if (hr == S_OK)
            hr = CBaseFilter<T>::SetState(eState, tStart);
        return hr;
    }

    HRESULT CreateOutputPin(LPCWSTR pszName)
    {
        if (pszName == nullptr || pszName[0] == 0)
            pszName = L"Out";
        DestroyPins();
        HRESULT hr = CreatePinObject(&m_apOut, 0, pszName);
        if (FAILED(hr))
            return hr;
        DS_ASSERT(m_apOut->m_ePinDir == PINDIR_OUTPUT);
        m_apOut->SetFilter(static_cast<T*>(this));
        return S_OK;
    }

    HRESULT CreatePinObject(CComObject<TPin>** ppPinObject, int nIndex, LPCWSTR pszName)
    {
        DS_ASSERT(ppPinObject != NULL);
        if (ppPinObject == nullptr)
            return E_POINTER;
        *ppPinObject = nullptr;
        auto* pPin = new (std::nothrow) CComObject<TPin>();
        if (pPin == nullptr)
            return E_OUTOFMEMORY;
        pPin->m_nIndex = nIndex;
        // A guard reference through FinalConstruct, so that a reference taken and dropped
        // there cannot free the pin.
        static_cast<IPin*>(pPin)->AddRef();
        HRESULT hr = pPin->FinalConstruct();
        if (hr != S_OK)
        {
            static_cast<IPin*>(pPin)->Release();
            return DSFailureOf(hr, E_FAIL);
        }
        pPin->SetName(pszName);
        *ppPinObject = pPin;
        return S_OK;
    }

    // The filter must be stopped and the pin disconnected by now.
    void DestroyPins()
    {
        DS_ASSERT(static_cast<T*>(this)->FilterState() == State_Stopped);
        if (m_apOut == nullptr)
            return;
        DS_ASSERT(!m_apOut->IsConnected());
        m_apOut->SetSink(nullptr);
        m_apOut->ClearPin();
        CComObject<TPin>* pPin = m_apOut;
        m_apOut = nullptr;
        // A host may keep the pin beyond the filter: it must not reach a filter that is gone.
        pPin->SetFilter(nullptr);
        static_cast<IPin*>(pPin)->Release();
    }

    // The pin enumerator's source.
    HRESULT GetPin(LONG nIndex, IPin** ppPin)
    {
        if (ppPin == nullptr)
            return E_POINTER;
        if (nIndex != 0 || m_apOut == nullptr)
            return S_FALSE;
        DebugAssert(m_apOut->m_pFilter != NULL, __FILE_NAME__, __LINE__,
                    "m_apOut->m_pFilter != NULL && _T(\"m_apOut->SetFilter() is not called\")");
        return static_cast<IPin*>(m_apOut)->QueryInterface(IID_IPin, reinterpret_cast<void**>(ppPin));
    }

    CComObject<TPin>* m_apOut;
};
