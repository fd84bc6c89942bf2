// The output pin: the connection steps (it always initiates), sample delivery through the
// agreed allocator and the downstream IMemInputPin, and quality control.
//
// TPin is the concrete pin: it derives from COutputPin and CMTSingle (its current media
// type m_mt) and supplies AllocatorRequest (pProps). TFilter is the concrete filter.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "diagnostics/DSParsers.h"
#include "diagnostics/DSTrace.h"
#include "framework/PinAllocator.h"
#include "framework/PinBase.h"
#include "framework/SampleSnapshot.h"
#include "support/ComPtr.h"

// A downstream pin may offer types without end; past this many the list counts as exhausted.
const int DS_MAX_TYPES_TRIED = 256;

// Whether a record from another filter holds the format block it claims: none with a size
// of 0, or a task-memory block of at least cbFormat bytes. A copy reads cbFormat bytes.
inline bool DSFormatBlockHolds(const AM_MEDIA_TYPE* pmt)
{
    if (pmt->pbFormat == nullptr || pmt->cbFormat == 0)
        return pmt->pbFormat == nullptr && pmt->cbFormat == 0;
    IMalloc* pMalloc = nullptr;
    if (FAILED(CoGetMalloc(1, &pMalloc)) || pMalloc == nullptr)
        return false;
    SIZE_T cb = pMalloc->GetSize(pmt->pbFormat);
    pMalloc->Release();
    return cb != SIZE_T(-1) && cb >= pmt->cbFormat;
}

template <class TPin, class TFilter>
class COutputPin : public CPinBase<TFilter>,
                   public IPinImpl<TPin>,
                   public IQualityControl,
                   public CStdAllocator<TPin, 0>
{
public:
    COutputPin() : CPinBase<TFilter>(PINDIR_OUTPUT), m_pQualitySink(nullptr) {}

    // The one implementation answers every base's name.
    LPCWSTR ObjectName() override = 0;

    // ---------------------------------------------------------------- connection steps
    // All run with the pin lock held by Connect or Disconnect.

    // The receiving pin's types first, then the pin's own.
    HRESULT AgreeMT(IPin* pReceivePin)
    {
        DS_ASSERT(pReceivePin != NULL);
        if (pReceivePin == nullptr)
            return E_POINTER;
        if (AgreeExternMT(pReceivePin) == S_OK)
            return S_OK;
        return AgreeInnerMT(pReceivePin);
    }

    HRESULT AgreeExternMT(IPin* pReceivePin)
    {
        DS_ASSERT(pReceivePin != NULL);
        if (pReceivePin == nullptr)
            return E_POINTER;
        CComPtr<IEnumMediaTypes> spEnum;
        HRESULT hr = pReceivePin->EnumMediaTypes(&spEnum);
        if (SUCCEEDED(hr))
            hr = spEnum ? TryMediaTypes(pReceivePin, spEnum) : E_POINTER;
        return AgreeResult(L"AgreeExternMT", hr);
    }

    HRESULT AgreeInnerMT(IPin* pReceivePin)
    {
        CComPtr<IEnumMediaTypes> spEnum;
        HRESULT hr = static_cast<IPin*>(Pin())->EnumMediaTypes(&spEnum);
        if (SUCCEEDED(hr))
            hr = spEnum ? TryMediaTypes(pReceivePin, spEnum) : E_POINTER;
        return AgreeResult(L"AgreeInnerMT", hr);
    }

    HRESULT TryMediaTypes(IPin* pReceivePin, IEnumMediaTypes* pEnum)
    {
        DebugTrace(atlTraceGeneral, 10, L"%s TryMediaTypes\n", ObjectName());
        DS_ASSERT(pEnum != NULL);
        if (pEnum == nullptr)
            return E_POINTER;
        HRESULT hr = pEnum->Reset();
        if (FAILED(hr))
            return hr;
        for (int nTried = 0; nTried < DS_MAX_TYPES_TRIED; ++nTried)
        {
            AM_MEDIA_TYPE* pmt = nullptr;
            ULONG ulMediaCount = 0;
            hr = pEnum->Next(1, &pmt, &ulMediaCount);
            if (hr != S_OK)
            {
                if (pmt != nullptr)
                    MTFree(pmt);
                return DSFailureOf(hr, VFW_E_NO_ACCEPTABLE_TYPES);
            }
            DS_ASSERT(ulMediaCount == 1);
            DS_ASSERT(pmt != NULL);
            // An enumerator that claims a type and hands none over has nothing more to offer.
            if (pmt == nullptr)
                return VFW_E_NO_ACCEPTABLE_TYPES;
            hr = DSFormatBlockHolds(pmt) ? AttemptConnection(pReceivePin, pmt) : VFW_E_INVALIDMEDIATYPE;
            MTFree(pmt);
            if (hr == S_OK)
                return S_OK;
        }
        return VFW_E_NO_ACCEPTABLE_TYPES;
    }

    HRESULT AttemptConnection(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt)
    {
        DebugTrace(atlTraceGeneral, 10, L"%s AttemptConnection\n", ObjectName());
        DebugTrace(atlTraceGeneral, 10, L"%s AttemptConnection(): connection with media type ------------------\n",
                   ObjectName());
        Debug_MediaType(atlTraceGeneral, 10, pmt);
        DS_ASSERT(pmt != NULL);
        if (pmt == nullptr)
            return E_POINTER;
        HRESULT hr = S_OK;
        if (this->QueryAcceptMT(pmt))
        {
            CMType mtKept(Pin()->m_mt);
            hr = Pin()->m_mt.Assign(pmt);
            if (SUCCEEDED(hr))
            {
                hr = ExecConnection(pReceivePin);
                if (hr == S_OK)
                {
                    DebugTrace(atlTraceGeneral, 10, L"%s AttemptConnection(): Connection succeeded --------------------\n",
                               ObjectName());
                    return S_OK;
                }
            }
            Pin()->m_mt.Assign(&mtKept);
        }
        DebugTrace(atlTraceGeneral, 10, L"%s AttemptConnection(): Connection failed, hr=0x%X --------------------\n",
                   ObjectName(), hr);
        return DSFailureOf(hr, VFW_E_TYPE_NOT_ACCEPTED);
    }

    HRESULT ExecConnection(IPin* pReceivePin)
    {
        DebugTrace(atlTraceGeneral, 10, L"%s ExecConnection\n", ObjectName());
        DS_ASSERT(this->m_pFilter != NULL);
        DS_ASSERT(pReceivePin != NULL);
        DS_ASSERT(this->IsCounterpart(pReceivePin));
        if (this->m_pFilter == nullptr || pReceivePin == nullptr)
            return E_UNEXPECTED;
        CMType mt(Pin()->m_mt);
        HRESULT hr = S_OK;
        if (mt.IsValid())
        {
            this->m_spConnected = pReceivePin;
            hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(Pin()), &mt);
            // A peer that answers S_FALSE has not taken the connection.
            if (hr != S_OK)
                DebugTrace(atlTraceGeneral, 8, L"%s ExecConnection(): m_spConnected->ReceiveConnection()=0x%X\n",
                           ObjectName(), hr);
            else
            {
                DebugTrace(atlTraceGeneral, 8, L"%s ExecConnection(): connection accepted, mediatype:\n", ObjectName());
                Debug_MediaType(atlTraceGeneral, 8, &Pin()->m_mt, L"    MT:");
                hr = this->m_pFilter->Filter_CompleteConnect(this->m_nIndex);
                if (hr == S_OK)
                    return S_OK;
                DebugTrace(atlTraceGeneral, 8, L"%s ExecConnection(): m_pFilter->Filter_CompleteConnect()=0x%X\n",
                           ObjectName(), hr);
                pReceivePin->Disconnect();
            }
            this->m_spConnected.Release();
        }
        return DSFailureOf(hr, VFW_E_TYPE_NOT_ACCEPTED);
    }

    // Tears the connection down: allocator and input pin under the delivery lock, then the peer.
    void BreakConnect()
    {
        if (!this->IsConnected())
            return;
        IMemAllocator* pAllocator;
        CComPtr<IMemInputPin> spMemInput;
        {
            CComLockGuard<CComCriticalSection> lock(m_csDelivery);
            pAllocator = this->AllocatorRelease();
            spMemInput.Attach(m_spMemInput.Detach());
        }
        if (pAllocator != nullptr)
            pAllocator->Release();
        spMemInput.Release();
        // Detached first: a peer that calls back into Disconnect finds the pin unconnected.
        CComPtr<IPin> spPeer;
        spPeer.Attach(this->m_spConnected.Detach());
        spPeer->Disconnect();
    }

    // The allocator step of Connect, after the peer accepted the media type.
    HRESULT AgreeAllocator()
    {
        DS_ASSERT(!m_spMemInput);
        CComPtr<IMemInputPin> spMemInput;
        HRESULT hr = GetMemInput(&spMemInput);
        if (hr == S_OK && !spMemInput)
            hr = E_NOINTERFACE;
        if (hr == S_OK)
            hr = this->AllocatorAgree(spMemInput);
        if (hr != S_OK)
        {
            DebugTrace(atlTraceGeneral, 8, L"%s Allocator agreement FAILED, hr=0x%X\n", ObjectName(), hr);
            return DSFailureOf(hr, E_FAIL);
        }
        CComLockGuard<CComCriticalSection> lock(m_csDelivery);
        m_spMemInput = spMemInput;
        DebugTrace(atlTraceGeneral, 8, L"%s Allocator agreement successful\n", ObjectName());
        return S_OK;
    }

    HRESULT GetMemInput(IMemInputPin** pp)
    {
        DS_ASSERT(pp != NULL);
        if (pp == nullptr)
            return E_POINTER;
        *pp = nullptr;
        if (!this->IsConnected())
            return VFW_E_NOT_CONNECTED;
        return this->m_spConnected->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(pp));
    }

    // ---------------------------------------------------------------- delivery
    // The streaming thread's calls: no lock is held while the allocator or the peer runs.

    HRESULT GetSample(IMediaSample** ppSample, DWORD dwFlags)
    {
        DS_ASSERT(ppSample != NULL);
        if (ppSample == nullptr)
            return E_POINTER;
        *ppSample = nullptr;
        CComPtr<IMemAllocator> spMemAlloc;
        {
            CComLockGuard<CComCriticalSection> lock(m_csDelivery);
            spMemAlloc = this->m_spAllocOut;
        }
        if (!spMemAlloc)
            return VFW_E_NO_ALLOCATOR;
        HRESULT hr = spMemAlloc->GetBuffer(ppSample, nullptr, nullptr, dwFlags);
        if (hr == S_OK && *ppSample == nullptr)
            hr = E_POINTER;
        if (hr == S_OK)
            return S_OK;
        if (*ppSample != nullptr)
        {
            (*ppSample)->Release();
            *ppSample = nullptr;
        }
        if ((dwFlags & AM_GBF_NOWAIT) != 0 && hr == VFW_E_TIMEOUT)
            DebugTrace(atlTraceGeneral, 10, L"###Err### %s COutputPin::GetSample(): spMemAlloc->GetBuffer()=VFW_E_TIMEOUT\n",
                       ObjectName());
        else if (hr == VFW_E_NOT_COMMITTED)
            DebugTrace(atlTraceGeneral, 2, L"%s COutputPin::GetSample(): spMemAlloc->GetBuffer()=VFW_E_NOT_COMMITTED\n",
                       ObjectName());
        else
            DebugTrace(atlTraceGeneral, 2, L"###Err### %s COutputPin::GetSample(): spMemAlloc->GetBuffer()=0x%X\n",
                       ObjectName(), hr);
        return DSFailureOf(hr, E_FAIL);
    }

    // The same, and the sample's buffer, media type and type flags loaded into pSmp.
    HRESULT GetSample(IMediaSample** ppSample, CSampleT* pSmp, DWORD dwFlags)
    {
        HRESULT hr = GetSample(ppSample, dwFlags);
        if (hr != S_OK || pSmp == nullptr)
            return hr;
        hr = pSmp->Load(*ppSample, PM_BUFF | PM_MTYPE | PM_TYPEFLAGS);
        if (hr == S_FALSE)
            hr = S_OK;
        if (FAILED(hr))
        {
            // NOLINTNEXTLINE(clang-analyzer-core.CallAndMessage): GetSample answers S_OK only with a sample
            (*ppSample)->Release();
            *ppSample = nullptr;
        }
        return hr;
    }

    // Hands pSample to the downstream pin; its answer, S_FALSE included, goes back unchanged.
    HRESULT SendSample(IMediaSample* pSample)
    {
        DS_ASSERT(pSample != NULL);
        if (pSample == nullptr)
            return E_POINTER;
        CComPtr<IMemInputPin> spMemInput;
        {
            CComLockGuard<CComCriticalSection> lock(m_csDelivery);
            spMemInput = m_spMemInput;
        }
        if (!spMemInput)
            return VFW_E_NOT_SAMPLE_CONNECTION;
        HRESULT hr = spMemInput->Receive(pSample);
        if (hr != S_OK)
            Debug_HResult(hr, ObjectName(), L"COutputPin::SendSample(): spMemInput->Receive()");
        return hr;
    }

    // ---------------------------------------------------------------- IQualityControl

    STDMETHOD(Notify)(IBaseFilter* pSelf, Quality q) override
    {
        WCHAR szLate[REFTIME_STR_CCH], szTime[REFTIME_STR_CCH];
        DebugTrace(atlTraceCOM, 10, L"%s IQualityControl::Notify( 0x%X, %s, %i, %s, %s )\n", ObjectName(),
                   unsigned(reinterpret_cast<UINT_PTR>(pSelf)), q.Type == Famine ? L"Famine" : L"Flood", q.Proportion,
                   RefTime2Str(q.Late, szLate), RefTime2Str(q.TimeStamp, szTime));
        CComPtr<IQualityControl> spSink;
        {
            CComLockGuard<TPin> lock(Pin());
            spSink = m_pQualitySink;
        }
        if (spSink)
            return spSink->Notify(pSelf, q);
        DS_ASSERT(this->m_pFilter != NULL);
        if (this->m_pFilter == nullptr)
            return E_UNEXPECTED;
        return this->m_pFilter->Filter_QualityNotify(this->m_nIndex, pSelf, q);
    }

    STDMETHOD(SetSink)(IQualityControl* piqc) override
    {
        DebugTrace(atlTraceCOM, 8, L"%s IQualityControl::SetSink\n", ObjectName());
        CComLockGuard<TPin> lock(Pin());
        m_pQualitySink = piqc;
        return S_OK;
    }

    CComCriticalSection m_csDelivery;  // only to copy or tear down m_spAllocOut and m_spMemInput
    CComPtr<IMemInputPin> m_spMemInput;
    IQualityControl* m_pQualitySink;   // not counted

private:
    TPin* Pin() { return static_cast<TPin*>(this); }

    HRESULT AgreeResult(LPCWSTR pszStep, HRESULT hr)
    {
        if (hr == S_OK)
        {
            DebugTrace(atlTraceGeneral, 10, L"%s %s() successful\n", ObjectName(), pszStep);
            return S_OK;
        }
        DebugTrace(atlTraceGeneral, 8, L"%s %s() FAILED, hr=0x%X\n", ObjectName(), pszStep, hr);
        return DSFailureOf(hr, VFW_E_NO_ACCEPTABLE_TYPES);
    }
};
