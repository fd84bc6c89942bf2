#include "TestFilter.h"

namespace
{
// Hands out a fixed list of interface pointers, then answers hrAtEnd.
template <class IEnum, class IItem>
class CListEnum : public CTestObject<IEnum>
{
public:
    CListEnum(std::vector<CComPtr<IItem>> items, HRESULT hrAtEnd) : m_items(std::move(items)), m_hrAtEnd(hrAtEnd) {}

    STDMETHODIMP Next(ULONG c, IItem** pp, ULONG* pcFetched) override
    {
        ULONG n = 0;
        while (n < c && m_nPos < m_items.size())
            m_items[m_nPos++].CopyTo(&pp[n++]);
        if (pcFetched != nullptr)
            *pcFetched = n;
        if (n == c)
            return S_OK;
        return n == 0 && FAILED(m_hrAtEnd) ? m_hrAtEnd : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG c) override
    {
        m_nPos += c;
        return m_nPos <= m_items.size() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override
    {
        m_nPos = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnum**) override { return E_NOTIMPL; }

private:
    std::vector<CComPtr<IItem>> m_items;
    HRESULT m_hrAtEnd;
    size_t m_nPos = 0;
};

// The filter's one media type, as often as asked.
class CMediaTypeEnum : public CTestObject<IEnumMediaTypes>
{
public:
    explicit CMediaTypeEnum(CTestFilter* pFilter) : m_spFilter(pFilter) {}

    STDMETHODIMP Next(ULONG c, AM_MEDIA_TYPE** ppmt, ULONG* pcFetched) override
    {
        ULONG n = 0;
        if (c > 0 && !m_bDone)
        {
            ppmt[0] = MTDup(&m_spFilter->mt);
            n = ppmt[0] != nullptr ? 1 : 0;
            m_bDone = true;
        }
        if (pcFetched != nullptr)
            *pcFetched = n;
        return n == c ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG c) override
    {
        m_bDone = m_bDone || c > 0;
        return c <= 1 ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override
    {
        m_bDone = false;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumMediaTypes**) override { return E_NOTIMPL; }

private:
    CComPtr<CTestFilter> m_spFilter;  // its media type is the one handed out
    bool m_bDone = false;
};

LPWSTR TaskText(const std::wstring& text)
{
    auto psz = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (psz != nullptr)
        wcscpy(psz, text.c_str());
    return psz;
}
}

// ---------------------------------------------------------------- pin

STDMETHODIMP CTestPin::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = (riid == IID_IUnknown || riid == IID_IPin) ? static_cast<IPin*>(this) : nullptr;
    if (*ppv == nullptr)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CTestPin::AddRef() { return m_pFilter->AddRef(); }
STDMETHODIMP_(ULONG) CTestPin::Release() { return m_pFilter->Release(); }

STDMETHODIMP CTestPin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE*)
{
    if (pReceivePin == nullptr)
        return E_POINTER;
    if (m_spConnected)
        return VFW_E_ALREADY_CONNECTED;
    HRESULT hr = pReceivePin->ReceiveConnection(this, &m_pFilter->mt);
    if (SUCCEEDED(hr))
    {
        m_spConnected = pReceivePin;
        m_mtConnection = &m_pFilter->mt;
    }
    return hr;
}

STDMETHODIMP CTestPin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt)
{
    if (m_dir != PINDIR_INPUT)
        return E_UNEXPECTED;
    if (m_spConnected)
        return VFW_E_ALREADY_CONNECTED;
    m_spConnected = pConnector;
    m_mtConnection = pmt;
    return S_OK;
}

STDMETHODIMP CTestPin::Disconnect()
{
    if (!m_spConnected)
        return S_FALSE;
    m_spConnected.Release();
    m_mtConnection.Clear();
    return S_OK;
}

STDMETHODIMP CTestPin::ConnectedTo(IPin** ppPin)
{
    *ppPin = nullptr;
    if (FAILED(hrConnectedTo))
        return hrConnectedTo;
    if (!m_spConnected)
        return VFW_E_NOT_CONNECTED;
    return m_spConnected.CopyTo(ppPin);
}

STDMETHODIMP CTestPin::ConnectionMediaType(AM_MEDIA_TYPE* pmt)
{
    if (FAILED(hrConnectionMediaType))
        return hrConnectionMediaType;
    if (!m_spConnected)
    {
        MTInit(pmt);
        return VFW_E_NOT_CONNECTED;
    }
    if (pbSharedFormat == nullptr)
        return MTCopy(pmt, &m_mtConnection);
    *pmt = m_mtConnection;
    pmt->pbFormat = pbSharedFormat;
    pmt->pUnk = nullptr;
    return S_OK;
}

STDMETHODIMP CTestPin::QueryAccept(const AM_MEDIA_TYPE* pmt)
{
    const AM_MEDIA_TYPE& mt = m_pFilter->mt;
    return pmt != nullptr && pmt->majortype == mt.majortype && pmt->subtype == mt.subtype &&
                   pmt->formattype == mt.formattype
               ? S_OK
               : S_FALSE;
}

STDMETHODIMP CTestPin::EnumMediaTypes(IEnumMediaTypes** ppEnum)
{
    *ppEnum = new CMediaTypeEnum(m_pFilter);
    return S_OK;
}

STDMETHODIMP CTestPin::QueryPinInfo(PIN_INFO* pInfo)
{
    if (FAILED(hrQueryPinInfo))
        return hrQueryPinInfo;
    pInfo->pFilter = m_pFilter;
    m_pFilter->AddRef();
    pInfo->dir = m_dir;
    lstrcpynW(pInfo->achName, m_name.c_str(), MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP CTestPin::QueryDirection(PIN_DIRECTION* pDir)
{
    *pDir = m_dir;
    return S_OK;
}

STDMETHODIMP CTestPin::QueryId(LPWSTR* ppszId)
{
    *ppszId = TaskText(m_name);
    return *ppszId != nullptr ? S_OK : E_OUTOFMEMORY;
}

// ---------------------------------------------------------------- filter

CTestPin* CTestFilter::AddPin(const wchar_t* pszName, PIN_DIRECTION dir)
{
    m_pins.push_back(std::make_unique<CTestPin>(this, pszName, dir));
    return m_pins.back().get();
}

STDMETHODIMP CTestFilter::GetClassID(CLSID* pClsid)
{
    if (FAILED(hrClassId))
        return hrClassId;
    *pClsid = m_clsid;
    return S_OK;
}

STDMETHODIMP CTestFilter::GetState(DWORD, FILTER_STATE* pState)
{
    *pState = State_Stopped;
    return S_OK;
}

STDMETHODIMP CTestFilter::GetSyncSource(IReferenceClock** ppClock)
{
    *ppClock = nullptr;
    return S_OK;
}

STDMETHODIMP CTestFilter::EnumPins(IEnumPins** ppEnum)
{
    *ppEnum = nullptr;
    if (FAILED(hrEnumPins))
        return hrEnumPins;
    std::vector<CComPtr<IPin>> pins;
    for (auto& pin : m_pins)
        pins.emplace_back(pin.get());
    *ppEnum = new CListEnum<IEnumPins, IPin>(std::move(pins), S_FALSE);
    return S_OK;
}

STDMETHODIMP CTestFilter::FindPin(LPCWSTR pszId, IPin** ppPin)
{
    *ppPin = nullptr;
    for (auto& pin : m_pins)
    {
        LPWSTR pszPinId = nullptr;
        pin->QueryId(&pszPinId);
        bool bMatch = pszPinId != nullptr && wcscmp(pszPinId, pszId) == 0;
        CoTaskMemFree(pszPinId);
        if (bMatch)
        {
            *ppPin = pin.get();
            pin->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

STDMETHODIMP CTestFilter::QueryFilterInfo(FILTER_INFO* pInfo)
{
    if (FAILED(hrQueryFilterInfo))
        return hrQueryFilterInfo;
    lstrcpynW(pInfo->achName, bReportsName ? m_name.c_str() : L"", MAX_FILTER_NAME);
    pInfo->pGraph = m_pGraph;
    if (m_pGraph != nullptr)
        m_pGraph->AddRef();
    return S_OK;
}

STDMETHODIMP CTestFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pszName)
{
    m_pGraph = pGraph;
    m_name = pszName != nullptr ? pszName : L"";
    return S_OK;
}

STDMETHODIMP CTestFilter::QueryInterface(REFIID riid, void** ppv)
{
    if (riid == IID_IFileSinkFilter && !bOffersFileSink)
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    return CTestObject::QueryInterface(riid, ppv);
}

STDMETHODIMP CTestFilter::GetCurFile(LPOLESTR* ppszFile, AM_MEDIA_TYPE* pmt)
{
    *ppszFile = nullptr;
    if (FAILED(hrCurFile))
        return hrCurFile;
    *ppszFile = TaskText(file);
    if (pmt != nullptr)
        MTCopy(pmt, &mt);
    return S_OK;
}

// ---------------------------------------------------------------- graph

STDMETHODIMP CFakeGraph::EnumFilters(IEnumFilters** ppEnum)
{
    *ppEnum = nullptr;
    if (FAILED(hrEnumFilters))
        return hrEnumFilters;
    *ppEnum = new CListEnum<IEnumFilters, IBaseFilter>(filters, hrNextAtEnd);
    return S_OK;
}
