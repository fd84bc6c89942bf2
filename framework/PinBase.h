// The pin: CPin (direction, name, peer), CPinBase (the link to its filter), CMTSingle (a
// pin's one media type) and IPinImpl (IPin on the concrete pin T).
//
// T supplies its COM object base (whose recursive lock is the pin lock), ObjectName (),
// GetMediaType (nIndex, ppmt) for the media-type enumerator, and the connection steps
// that COutputPin gives it (AgreeMT, AttemptConnection, AgreeAllocator, BreakConnect).
#pragma once
#include <windows.h>
#include <dshow.h>

#include "diagnostics/DSParsers.h"
#include "diagnostics/DSTrace.h"
#include "framework/DSEnums.h"
#include "framework/DSTypes.h"
#include "framework/FilterBase.h"
#include "support/ComPtr.h"

class CPin
{
public:
    explicit CPin(PIN_DIRECTION ePinDir) : m_nIndex(0), m_ePinDir(ePinDir), m_bDisconnecting(FALSE)
    {
        m_wszName[0] = 0;
    }
    virtual ~CPin() { DS_ASSERT(!IsConnected()); }
    CPin(const CPin&) = delete;
    CPin& operator=(const CPin&) = delete;

    virtual LPCWSTR ObjectName() = 0;

    bool IsConnected() const { return m_spConnected != nullptr; }
    LPCWSTR DirectionName() const { return m_ePinDir == PINDIR_OUTPUT ? L"Out" : L"In"; }

    // The name, or "Out %u" / "In %u" with the index when it is empty.
    void SetName(LPCWSTR pszName)
    {
        if (pszName != nullptr && pszName[0] != 0)
            DSCopyName(m_wszName, DS_NAME_CCH, pszName);
        else
            _snwprintf(m_wszName, DS_NAME_CCH - 1, L"%s %u", DirectionName(), unsigned(m_nIndex));
        m_wszName[DS_NAME_CCH - 1] = 0;
    }

    // Whether pPin has the other direction; a pin that cannot tell is none.
    BOOL IsCounterpart(IPin* pPin)
    {
        PIN_DIRECTION ePinDirection = PINDIR_INPUT;
        if (pPin == nullptr || FAILED(pPin->QueryDirection(&ePinDirection)))
            return FALSE;
        DS_ASSERT(ePinDirection == PINDIR_INPUT || ePinDirection == PINDIR_OUTPUT);
        if (ePinDirection != PINDIR_INPUT && ePinDirection != PINDIR_OUTPUT)
            return FALSE;
        return ePinDirection != m_ePinDir;
    }

    // Prepares the pin for its end; a pin still connected is reported, not disconnected.
    void ClearPin()
    {
        if (IsConnected())
            DebugTrace(atlTraceGeneral, 2, L"###Err### %s ClearPin(): Pin not disconnected\n", ObjectName());
        m_bDisconnecting = FALSE;
    }

    int m_nIndex;
    PIN_DIRECTION m_ePinDir;
    WCHAR m_wszName[DS_NAME_CCH];
    CComPtr<IPin> m_spConnected;
    BOOL m_bDisconnecting;
};

template <class TFilter>
class CPinBase : public CPin
{
public:
    explicit CPinBase(PIN_DIRECTION ePinDir) : CPin(ePinDir), m_pFilter(nullptr) {}

    void SetFilter(TFilter* pFilter) { m_pFilter = pFilter; }

    // May the pin use this type? The filter decides.
    BOOL QueryAcceptMT(const AM_MEDIA_TYPE* pmt)
    {
        if (m_pFilter == nullptr)
        {
            DebugTrace(atlTraceGeneral, 2, L"###Err### %s QueryAcceptMT(): link between filter and pin is broken\n",
                       ObjectName());
            return FALSE;
        }
        return m_pFilter->Filter_QueryAcceptMT(m_nIndex, pmt);
    }

    TFilter* m_pFilter;  // not counted: the filter owns the pin
};

// The pin's media-type list of one type: the only type it offers and the type of its
// connection.
class CMTSingle
{
public:
    // A duplicate of the current type at position 0 when it is set; S_FALSE otherwise.
    HRESULT GetMediaType(LONG iPosition, AM_MEDIA_TYPE** ppmt)
    {
        if (ppmt == nullptr)
            return E_POINTER;
        if (iPosition != 0 || !m_mt.IsValid())
            return S_FALSE;
        HRESULT hr = m_mt.CopyTo(ppmt);
        return hr == S_OK && *ppmt == nullptr ? E_FAIL : hr;
    }

    CMType m_mt;
};

template <class T>
class IPinImpl : public IPin
{
public:
    virtual LPCWSTR ObjectName() = 0;

    STDMETHOD(Connect)(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override
    {
        T* pT = static_cast<T*>(this);
        WCHAR szPrefix[260];
        _snwprintf(szPrefix, 259, L"*************** %s start of connection to ", ObjectName());
        szPrefix[259] = 0;
        Debug_FilterFromPin(atlTraceGeneral, 8, szPrefix, pReceivePin);
        if (pmt != nullptr)
            Debug_MediaType(atlTraceGeneral, 8, pmt);
        else
            DebugTrace(atlTraceGeneral, 8, L"Empty media type\n");

        DS_ASSERT(pT->m_ePinDir == PINDIR_OUTPUT);
        DS_ASSERT(pT->m_pFilter != NULL);
        DS_ASSERT(pReceivePin != NULL);
        if (pReceivePin == nullptr)
            return E_POINTER;

        CComLockGuard<T> lock(pT);
        HRESULT hr;
        if (pT->IsConnected())
            hr = VFW_E_ALREADY_CONNECTED;
        else if (pT->m_ePinDir != PINDIR_OUTPUT || pT->m_pFilter == nullptr)
            hr = E_UNEXPECTED;
        else if (!pT->IsCounterpart(pReceivePin))
            hr = VFW_E_INVALID_DIRECTION;
        else if (pT->m_pFilter->FilterState() != State_Stopped)
            hr = VFW_E_NOT_STOPPED;
        else
        {
            if (pmt != nullptr && !InlineIsEqualGUID(pmt->majortype, GUID_NULL))
                hr = pT->AttemptConnection(pReceivePin, pmt);
            else
            {
                hr = pT->AgreeMT(pReceivePin);
                if (hr != S_OK)
                    hr = pT->m_pFilter->Filter_AgreeMT(pT->m_nIndex, pReceivePin);
            }
            if (hr == S_OK)
            {
                hr = pT->AgreeAllocator();
                if (hr == S_OK)
                {
                    DebugTrace(atlTraceGeneral, 8, L"*************** %s connection established\n", ObjectName());
                    return S_OK;
                }
                pT->m_pFilter->Filter_Disconnect(pT->m_nIndex);
                pT->BreakConnect();
            }
            else if (pT->IsConnected())
            {
                // A hook that reported failure with a connection in place must not leave it.
                pT->BreakConnect();
            }
        }
        DebugTrace(atlTraceGeneral, 8, L"%s Connect(): connection not accepted, hr=0x%X\n", ObjectName(), hr);
        return DSFailureOf(hr, VFW_E_NO_ACCEPTABLE_TYPES);
    }

    STDMETHOD(ReceiveConnection)(IPin* /*pConnector*/, const AM_MEDIA_TYPE* /*pmt*/) override
    {
        return NotImplemented(L"IPinImpl::ReceiveConnection");
    }

    STDMETHOD(Disconnect)() override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 8, L"%s IPinImpl::Disconnect() [%s]\n", ObjectName(), pT->DirectionName());
        CComLockGuard<T> lock(pT);
        DS_ASSERT(!pT->m_bDisconnecting);
        if (!pT->IsConnected())
            return S_FALSE;
        DS_ASSERT(pT->m_pFilter != NULL);
        if (pT->m_pFilter != nullptr && pT->m_pFilter->FilterState() != State_Stopped)
            return VFW_E_NOT_STOPPED;
        pT->m_bDisconnecting = TRUE;
        if (pT->m_pFilter != nullptr)
            pT->m_pFilter->Filter_Disconnect(pT->m_nIndex);
        pT->BreakConnect();
        pT->m_bDisconnecting = FALSE;
        return S_OK;
    }

    STDMETHOD(ConnectedTo)(IPin** ppPin) override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 10, L"%s IPinImpl::ConnectedTo() [%s]\n", ObjectName(), pT->DirectionName());
        DS_ASSERT(ppPin != NULL);
        if (ppPin == nullptr)
            return E_POINTER;
        // A copy, so that a disconnection on another thread cannot free the peer under us.
        CComPtr<IPin> spPeer;
        {
            CComLockGuard<T> lock(pT);
            spPeer = pT->m_spConnected;
        }
        *ppPin = spPeer.Detach();
        return *ppPin != nullptr ? S_OK : VFW_E_NOT_CONNECTED;
    }

    STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* pmt) override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 10, L"%s IPinImpl::ConnectionMediaType() [%s]\n", ObjectName(), pT->DirectionName());
        DS_ASSERT(pmt != NULL);
        if (pmt == nullptr)
            return E_POINTER;
        CComLockGuard<T> lock(pT);
        if (!pT->IsConnected())
            return VFW_E_NOT_CONNECTED;
        return MTCopy(pmt, &pT->m_mt);
    }

    STDMETHOD(QueryPinInfo)(PIN_INFO* pInfo) override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 10, L"%s IPinImpl::QueryPinInfo() [%s]\n", ObjectName(), pT->DirectionName());
        DS_ASSERT(pInfo != NULL);
        if (pInfo == nullptr)
            return E_POINTER;
        pInfo->pFilter = nullptr;
        if (pT->m_pFilter != nullptr)
            static_cast<IBaseFilter*>(pT->m_pFilter)
                ->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&pInfo->pFilter));
        else
            DebugTrace(atlTraceGeneral, 2,
                       L"###Err### %s IPinImpl::QueryPinInfo(): link between filter and pin is broken, pPin->m_pFilter==NULL\n",
                       ObjectName());
        pInfo->dir = pT->m_ePinDir;
        DSCopyName(pInfo->achName, DS_NAME_CCH, pT->m_wszName);
        return S_OK;
    }

    STDMETHOD(QueryDirection)(PIN_DIRECTION* pPinDir) override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 10, L"%s IPinImpl::QueryDirection() [%s]\n", ObjectName(), pT->DirectionName());
        DS_ASSERT(pPinDir != NULL);
        if (pPinDir == nullptr)
            return E_POINTER;
        *pPinDir = pT->m_ePinDir;
        return S_OK;
    }

    STDMETHOD(QueryId)(LPWSTR* Id) override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 10, L"%s IPinImpl::QueryId() [%s]\n", ObjectName(), pT->DirectionName());
        DS_ASSERT(Id != NULL);
        if (Id == nullptr)
            return E_POINTER;
        size_t cch = wcslen(pT->m_wszName) + 1;
        auto* psz = static_cast<LPWSTR>(CoTaskMemAlloc(cch * sizeof(WCHAR)));
        if (psz == nullptr)
            return E_OUTOFMEMORY;
        memcpy(psz, pT->m_wszName, cch * sizeof(WCHAR));
        *Id = psz;
        return S_OK;
    }

    STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* pmt) override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 10, L"%s IPinImpl::QueryAccept() [%s]\n", ObjectName(), pT->DirectionName());
        HRESULT hr = pT->QueryAcceptMT(pmt) ? S_OK : S_FALSE;
        DebugTrace(atlTraceCOM, 8, L"%s IPinImpl::QueryAccept()=%s [%s]\n", ObjectName(),
                   hr == S_OK ? L"S_OK" : L"S_FALSE", pT->DirectionName());
        return hr;
    }

    STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** ppEnum) override
    {
        T* pT = static_cast<T*>(this);
        DebugTrace(atlTraceCOM, 10, L"%s IPinImpl::EnumMediaTypes() [%s]\n", ObjectName(), pT->DirectionName());
        CComLockGuard<T> lock(pT);
        return CComDSEnumImpl<CMediaTypesAccessor<T>, IEnumMediaTypes>::CreateEnum(ppEnum, pT, 0);
    }

    STDMETHOD(QueryInternalConnections)(IPin** /*apPin*/, ULONG* /*nPin*/) override
    {
        DebugTrace(atlTraceCOM, 10, L"%s IPinImpl::QueryInternalConnections not implemented\n", ObjectName());
        return E_NOTIMPL;
    }

    STDMETHOD(EndOfStream)() override { return NotImplemented(L"IPinImpl::EndOfStream"); }
    STDMETHOD(BeginFlush)() override { return NotImplemented(L"IPinImpl::BeginFlush"); }
    STDMETHOD(EndFlush)() override { return NotImplemented(L"IPinImpl::EndFlush"); }
    STDMETHOD(NewSegment)(REFERENCE_TIME, REFERENCE_TIME, double) override
    {
        return NotImplemented(L"IPinImpl::NewSegment");
    }

private:
    static HRESULT NotImplemented(LPCWSTR pszWhat)
    {
        DebugTrace(atlTraceNotImpl, 0, L"ATL: %s not implemented.\n", pszWhat);
        return E_NOTIMPL;
    }
};
