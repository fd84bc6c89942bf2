#include "filters/FakeDownstream.h"

#include <string.h>

#include "support/ComCreate.h"

CFakeType CFakeType::Pcm(DWORD nRate, WORD nChannels)
{
    WAVEFORMATEX wf = {};
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = nChannels;
    wf.nSamplesPerSec = nRate;
    wf.wBitsPerSample = 16;
    wf.nBlockAlign = WORD(nChannels * 2);
    wf.nAvgBytesPerSec = nRate * wf.nBlockAlign;
    CFakeType type;
    type.cbFormat = sizeof(wf);
    type.block.assign(reinterpret_cast<BYTE*>(&wf), reinterpret_cast<BYTE*>(&wf) + sizeof(wf));
    return type;
}

// ---------------------------------------------------------------- allocator

HRESULT CFakeAllocator::FinalConstruct()
{
    m_hNoBuffer = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (m_hNoBuffer == nullptr)
        return E_OUTOFMEMORY;
    return CMemoryAllocator::CreateInstance(&m_spInner);
}

void CFakeAllocator::FinalRelease()
{
    m_spInner.Release();
    if (m_hNoBuffer != nullptr)
        CloseHandle(m_hNoBuffer);
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeAllocator::GetBuffer(IMediaSample** pp, REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd, DWORD dwFlags)
{
    HRESULT hr = m_spInner->GetBuffer(pp, pStart, pEnd, dwFlags);
    if (hr == VFW_E_TIMEOUT)
        SetEvent(m_hNoBuffer);
    return hr;
}

void CFakeAllocator::Bend(ALLOCATOR_PROPERTIES* pProps) const
{
    if (m_nMaxBuffers != 0 && pProps->cBuffers > m_nMaxBuffers)
        pProps->cBuffers = m_nMaxBuffers;
    if (m_cbMaxBuffer != 0 && pProps->cbBuffer > m_cbMaxBuffer)
        pProps->cbBuffer = m_cbMaxBuffer;
    if (m_cbReportAlign != 0)
        pProps->cbAlign = m_cbReportAlign;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual)
{
    if (pRequest == nullptr || pActual == nullptr)
        return E_POINTER;
    ++m_nSetProperties;
    m_propsRequested = *pRequest;
    ALLOCATOR_PROPERTIES request = *pRequest;
    Bend(&request);
    // The inner allocator has no odd alignment: it gets the one asked for.
    request.cbAlign = pRequest->cbAlign;
    HRESULT hr = m_spInner->SetProperties(&request, pActual);
    if (SUCCEEDED(hr))
        Bend(pActual);
    return hr;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps)
{
    HRESULT hr = m_spInner->GetProperties(pProps);
    if (SUCCEEDED(hr))
        Bend(pProps);
    return hr;
}

// ---------------------------------------------------------------- type enumerator

// Hands out the pin's list as m_eTypeList says; each record is new task memory.
class CFakeTypeEnum : public CComObjectRootEx<CComMultiThreadModel>, public IEnumMediaTypes
{
public:
    BEGIN_COM_MAP(CFakeTypeEnum)
        COM_INTERFACE_ENTRY(IEnumMediaTypes)
    END_COM_MAP()

    STDMETHOD(Next)(ULONG cTypes, AM_MEDIA_TYPE** ppTypes, ULONG* pcFetched) override
    {
        if (ppTypes == nullptr || cTypes != 1)
            return E_INVALIDARG;
        *ppTypes = nullptr;
        ULONG cFetched = 0;
        HRESULT hr = S_OK;
        switch (m_spPin->m_eTypeList)
        {
        case EFakeTypeList::NullType:
            cFetched = 1;
            break;
        case EFakeTypeList::NoneFetched:
            break;
        case EFakeTypeList::NextFails:
            hr = E_UNEXPECTED;
            break;
        case EFakeTypeList::Endless:
        {
            CFakeType video;
            video.majortype = MEDIATYPE_Video;
            video.subtype = MEDIASUBTYPE_RGB24;
            video.formattype = FORMAT_None;
            *ppTypes = Build(video);
            cFetched = 1;
            break;
        }
        default:
            if (m_nPos >= m_spPin->m_types.size())
                hr = S_FALSE;
            else
            {
                *ppTypes = Build(m_spPin->m_types[m_nPos++]);
                cFetched = 1;
            }
            break;
        }
        if (*ppTypes != nullptr)
            ++m_spPin->m_nTypesEnumerated;
        if (pcFetched != nullptr)
            *pcFetched = cFetched;
        return hr;
    }
    STDMETHOD(Skip)(ULONG cTypes) override
    {
        m_nPos += cTypes;
        return m_nPos <= m_spPin->m_types.size() ? S_OK : S_FALSE;
    }
    STDMETHOD(Reset)() override
    {
        m_nPos = 0;
        return S_OK;
    }
    STDMETHOD(Clone)(IEnumMediaTypes**) override { return E_NOTIMPL; }

    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
    STDMETHOD_(ULONG, AddRef)() override = 0;
    STDMETHOD_(ULONG, Release)() override = 0;

    CComPtr<CFakeInputPin> m_spPin;

private:
    // The record as the entry says, whatever it claims.
    static AM_MEDIA_TYPE* Build(const CFakeType& type)
    {
        auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (pmt == nullptr)
            return nullptr;
        MTInit(pmt, &type.majortype, &type.subtype);
        pmt->formattype = type.formattype;
        pmt->cbFormat = type.cbFormat;
        if (!type.block.empty())
        {
            pmt->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(type.block.size()));
            if (pmt->pbFormat != nullptr)
                memcpy(pmt->pbFormat, type.block.data(), type.block.size());
        }
        return pmt;
    }

    size_t m_nPos = 0;
};

// ---------------------------------------------------------------- input pin

HRESULT CFakeInputPin::_InternalQueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IPin)
        *ppv = static_cast<IPin*>(this);
    else if (riid == IID_IMemInputPin && !m_bNoMemInput)
        *ppv = static_cast<IMemInputPin*>(this);
    else
        return E_NOINTERFACE;
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

HRESULT CFakeInputPin::FinalConstruct()
{
    m_hInReceive = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_hRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hReceivedOne = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_hInQueryAccept = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (m_hInReceive == nullptr || m_hRelease == nullptr || m_hReceivedOne == nullptr || m_hInQueryAccept == nullptr)
        return E_OUTOFMEMORY;
    return ComCreateReferenced(&m_pAllocator);
}

void CFakeInputPin::FinalRelease()
{
    DropKeptSamples();
    m_spNotified.Release();
    m_spConnected.Release();
    if (m_pAllocator != nullptr)
        m_pAllocator->Release();
    for (HANDLE h : {m_hInReceive, m_hRelease, m_hReceivedOne, m_hInQueryAccept})
        if (h != nullptr)
            CloseHandle(h);
}

bool CFakeInputPin::WaitReceived(LONG nSamples, DWORD dwMs)
{
    while (m_nReceived < nSamples)
        if (WaitForSingleObject(m_hReceivedOne, dwMs) != WAIT_OBJECT_0)
            return false;
    return true;
}

bool CFakeInputPin::IsConnected()
{
    CComLockGuard<CFakeInputPin> lock(this);
    return m_spConnected != nullptr;
}

void CFakeInputPin::DropKeptSamples()
{
    std::vector<CComPtr<IMediaSample>> kept;
    {
        CComLockGuard<CComCriticalSection> lock(m_csRecords);
        kept.swap(m_kept);
    }
}

bool CFakeInputPin::Acceptable(const AM_MEDIA_TYPE* pmt) const
{
    if (pmt == nullptr || pmt->majortype != MEDIATYPE_Audio || pmt->formattype != FORMAT_WaveFormatEx ||
        pmt->pbFormat == nullptr || pmt->cbFormat < sizeof(WAVEFORMATEX))
        return false;
    auto* pWF = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
    return m_nAcceptRate == 0 || pWF->nSamplesPerSec == m_nAcceptRate;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt)
{
    if (pConnector == nullptr || pmt == nullptr)
        return E_POINTER;
    CComLockGuard<CFakeInputPin> lock(this);
    m_typesReceived.emplace_back();
    m_typesReceived.back().Assign(pmt);
    if (m_spConnected)
        return VFW_E_ALREADY_CONNECTED;
    if (!Acceptable(pmt))
        return m_hrRefuse;
    HRESULT hr = m_mtConnection.Assign(pmt);
    if (FAILED(hr))
        return hr;
    m_spConnected = pConnector;
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::Disconnect()
{
    CComPtr<IPin> spPeer;
    {
        CComLockGuard<CFakeInputPin> lock(this);
        ++m_nDisconnects;
        if (!m_spConnected)
            return S_FALSE;
        spPeer.Attach(m_spConnected.Detach());
        m_mtConnection.Clear();
        m_spNotified.Release();
    }
    if (m_bDisconnectCallsBack)
        m_hrCallBack = spPeer->Disconnect();
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::ConnectedTo(IPin** ppPin)
{
    if (ppPin == nullptr)
        return E_POINTER;
    CComLockGuard<CFakeInputPin> lock(this);
    *ppPin = m_spConnected;
    if (*ppPin == nullptr)
        return VFW_E_NOT_CONNECTED;
    (*ppPin)->AddRef();
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::ConnectionMediaType(AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr)
        return E_POINTER;
    CComLockGuard<CFakeInputPin> lock(this);
    if (!m_spConnected)
        return VFW_E_NOT_CONNECTED;
    return MTCopy(pmt, &m_mtConnection);
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::QueryPinInfo(PIN_INFO* pInfo)
{
    if (pInfo == nullptr)
        return E_POINTER;
    pInfo->pFilter = m_pFilter;
    if (pInfo->pFilter != nullptr)
        pInfo->pFilter->AddRef();
    pInfo->dir = m_eDirection;
    lstrcpynW(pInfo->achName, L"In", MAX_PIN_NAME);
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::QueryDirection(PIN_DIRECTION* pPinDir)
{
    if (pPinDir == nullptr)
        return E_POINTER;
    if (FAILED(m_hrQueryDirection))
        return m_hrQueryDirection;
    *pPinDir = m_eDirection;
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::QueryId(LPWSTR* Id)
{
    if (Id == nullptr)
        return E_POINTER;
    *Id = static_cast<LPWSTR>(CoTaskMemAlloc(3 * sizeof(WCHAR)));
    if (*Id == nullptr)
        return E_OUTOFMEMORY;
    lstrcpyW(*Id, L"In");
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::QueryAccept(const AM_MEDIA_TYPE* pmt)
{
    SetEvent(m_hInQueryAccept);
    if (m_bQueryAcceptWaitsForReceive)
    {
        CComLockGuard<CComCriticalSection> lock(m_csReceive);
    }
    return Acceptable(pmt) ? m_hrQueryAccept : S_FALSE;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::EnumMediaTypes(IEnumMediaTypes** ppEnum)
{
    if (ppEnum == nullptr)
        return E_POINTER;
    *ppEnum = nullptr;
    if (m_eTypeList == EFakeTypeList::EnumFails)
        return E_OUTOFMEMORY;
    if (m_eTypeList == EFakeTypeList::NoEnumerator)
        return S_OK;
    CComObject<CFakeTypeEnum>* pEnum = nullptr;
    HRESULT hr = ComCreateReferenced(&pEnum);
    if (FAILED(hr))
        return hr;
    pEnum->m_spPin = this;
    *ppEnum = pEnum;
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::GetAllocator(IMemAllocator** ppAllocator)
{
    if (ppAllocator == nullptr)
        return E_POINTER;
    *ppAllocator = nullptr;
    if (m_hrGetAllocator != S_OK || m_bGetAllocatorGivesNull)
        return m_hrGetAllocator;
    *ppAllocator = m_pAllocator;
    m_pAllocator->AddRef();
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly)
{
    if (pAllocator == nullptr)
        return E_POINTER;
    CComLockGuard<CFakeInputPin> lock(this);
    ++m_nNotifyCalls;
    CComPtr<IMemAllocator> spOwn(static_cast<IMemAllocator*>(m_pAllocator));
    HRESULT hr = pAllocator == spOwn ? m_hrNotifyOwn : m_hrNotifyOther;
    if (hr == S_OK)
    {
        m_spNotified = pAllocator;
        m_bNotifiedReadOnly = bReadOnly;
    }
    return hr;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps)
{
    if (pProps == nullptr)
        return E_POINTER;
    // Written also when failing: the caller must not use it then.
    *pProps = m_propsRequirements;
    return m_hrRequirements;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::Receive(IMediaSample* pSample)
{
    if (pSample == nullptr)
        return E_POINTER;
    CComLockGuard<CComCriticalSection> lock(m_csReceive);
    if (m_fnOnReceive)
        m_fnOnReceive(pSample);
    LONG nSample = ++m_nReceived;
    SetEvent(m_hReceivedOne);
    AM_MEDIA_TYPE* pmt = nullptr;
    if (pSample->GetMediaType(&pmt) == S_OK && pmt != nullptr)
    {
        CComLockGuard<CComCriticalSection> lockRecord(m_csRecords);
        m_sampleTypes.emplace_back();
        m_sampleTypes.back().Assign(pmt);
        m_sampleTypeAt.push_back(nSample);
    }
    if (pmt != nullptr)
        MTFree(pmt);
    if (m_bKeepSamples)
    {
        CComLockGuard<CComCriticalSection> lockRecord(m_csRecords);
        m_kept.emplace_back(pSample);
    }
    if (m_bBlock)
    {
        SetEvent(m_hInReceive);
        WaitForSingleObject(m_hRelease, INFINITE);
    }
    if (m_bReceiveCallsBack)
    {
        // What a downstream filter may ask the upstream pin while it receives.
        CComPtr<IPin> spPeer, spSelf;
        ConnectedTo(&spPeer);
        HRESULT hr = spPeer ? spPeer->ConnectedTo(&spSelf) : VFW_E_NOT_CONNECTED;
        CMType mt;
        if (hr == S_OK)
            hr = spPeer->ConnectionMediaType(&mt);
        if (hr != S_OK)
            m_hrCallBack = hr;
    }
    return m_hrReceive;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeInputPin::ReceiveMultiple(IMediaSample** ppSamples, long nSamples, long* pnProcessed)
{
    if (ppSamples == nullptr || pnProcessed == nullptr)
        return E_POINTER;
    *pnProcessed = 0;
    HRESULT hr = S_OK;
    for (long i = 0; i < nSamples && hr == S_OK; ++i)
    {
        hr = Receive(ppSamples[i]);
        if (hr == S_OK)
            ++*pnProcessed;
    }
    return hr;
}

// ---------------------------------------------------------------- filter

HRESULT CFakeDownstream::Create(CComObject<CFakeDownstream>** pp)
{
    if (pp == nullptr)
        return E_POINTER;
    *pp = nullptr;
    return ComCreateReferenced(pp);
}

HRESULT CFakeDownstream::FinalConstruct()
{
    HRESULT hr = ComCreateReferenced(&m_pPin);
    if (SUCCEEDED(hr))
        m_pPin->m_pFilter = this;
    return hr;
}

void CFakeDownstream::FinalRelease()
{
    if (m_pPin != nullptr)
    {
        m_pPin->m_pFilter = nullptr;
        static_cast<IPin*>(m_pPin)->Release();
        m_pPin = nullptr;
    }
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeDownstream::GetClassID(CLSID* pClassID)
{
    if (pClassID == nullptr)
        return E_POINTER;
    *pClassID = CLSID_FakeDownstream;
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeDownstream::Stop()
{
    m_eState = State_Stopped;
    m_pPin->ReleaseReceive();
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeDownstream::Pause()
{
    m_eState = State_Paused;
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeDownstream::Run(REFERENCE_TIME)
{
    m_eState = State_Running;
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeDownstream::GetState(DWORD, FILTER_STATE* pState)
{
    if (pState == nullptr)
        return E_POINTER;
    *pState = m_eState;
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeDownstream::GetSyncSource(IReferenceClock** ppClock)
{
    if (ppClock == nullptr)
        return E_POINTER;
    *ppClock = nullptr;
    return S_OK;
}

HRESULT CFakeDownstream::GetPin(LONG nIndex, IPin** ppPin)
{
    if (ppPin == nullptr)
        return E_POINTER;
    if (nIndex != 0)
        return S_FALSE;
    *ppPin = m_pPin;
    (*ppPin)->AddRef();
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeDownstream::EnumPins(IEnumPins** ppEnum)
{
    return CComDSEnumImpl<CPinAccessor<CFakeDownstream>, IEnumPins>::CreateEnum(ppEnum, this, 0);
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeDownstream::FindPin(LPCWSTR Id, IPin** ppPin)
{
    if (Id == nullptr || ppPin == nullptr)
        return E_POINTER;
    *ppPin = nullptr;
    if (lstrcmpW(Id, L"In") != 0)
        return VFW_E_NOT_FOUND;
    return GetPin(0, ppPin);
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeDownstream::QueryFilterInfo(FILTER_INFO* pInfo)
{
    if (pInfo == nullptr)
        return E_POINTER;
    lstrcpynW(pInfo->achName, L"Fake Downstream", MAX_FILTER_NAME);
    pInfo->pGraph = m_pGraph;
    if (pInfo->pGraph != nullptr)
        pInfo->pGraph->AddRef();
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CFakeDownstream::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR)
{
    m_pGraph = pGraph;
    return S_OK;
}
