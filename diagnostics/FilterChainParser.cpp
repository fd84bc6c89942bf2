#include "diagnostics/FilterChainParser.h"
#include "diagnostics/DSTrace.h"
#include "diagnostics/GuidNames.h"
#include "diagnostics/TextConverters.h"
#include "diagnostics/MediaTypeMemory.h"
#include "support/ComPtr.h"

namespace
{
// A filter whose connection media types share its own format blocks: they are not freed.
const CLSID CLSID_FormatOwningFilter = {0x88CDBBDC, 0xA73B, 0x4AFA, {0xAC, 0xBF, 0x15, 0xD5, 0xE2, 0xCE, 0x12, 0xC3}};

const WCHAR kOpeningRule[] = L"\r\n[Filter Graph]------------------------------------------------------\r\n";
const WCHAR kClosingRule[] = L"\r\n--------------------------------------------------------------------\r\n\r\n";
}

CFilterChainParser::CFilterChainParser()
{
    m_szClassName[0] = 0;
    GuidNameTables().Sort();
}

HRESULT CFilterChainParser::GetFiltersChain(IFilterGraph* pGraph, LPWSTR* ppszChain)
{
    DS_ASSERT(pGraph != NULL);
    DS_ASSERT(ppszChain != NULL);
    if (ppszChain != nullptr)
        *ppszChain = nullptr;
    if (pGraph == nullptr)
        return E_INVALIDARG;
    if (ppszChain == nullptr)
        return E_POINTER;
    m_Text.Free();
    if (!m_Text.Reserve(CTextBuffer::GROW_STEP) || !m_Text.Append(kOpeningRule))
        return E_OUTOFMEMORY;

    CComPtr<IEnumFilters> spEnum;
    HRESULT hr = pGraph->EnumFilters(&spEnum);
    if (FAILED(hr) || !spEnum)
    {
        if (!m_Text.AppendFormat(L"###Err### CFilterChainParser::GetFiltersChain(): pGraph->EnumFilters()=0x%X\r\n",
                                 UINT(FAILED(hr) ? hr : E_POINTER)))
            return E_OUTOFMEMORY;
        *ppszChain = m_Text.Detach();
        return S_OK;
    }
    spEnum->Reset();
    for (;;)
    {
        CComPtr<IBaseFilter> spFilter;
        ULONG cFetched = 0;
        hr = spEnum->Next(1, &spFilter, &cFetched);
        if (FAILED(hr))
        {
            if (!m_Text.AppendFormat(L"###Err### CFilterChainParser::GetFiltersChain(): spEnum->Next()=0x%X\r\n", UINT(hr)))
                return E_OUTOFMEMORY;
            break;
        }
        if (hr != S_OK)
            break;
        DS_ASSERT(cFetched == 1);
        if (spFilter && !GetFilterData(spFilter))
            return E_OUTOFMEMORY;
    }
    if (!m_Text.Append(kClosingRule))
        return E_OUTOFMEMORY;
    *ppszChain = m_Text.Detach();
    return S_OK;
}

bool CFilterChainParser::GetFilterData(IBaseFilter* pFilter)
{
    FILTER_INFO info = {};
    HRESULT hr = pFilter->QueryFilterInfo(&info);
    if (FAILED(hr))
        return m_Text.AppendFormat(L"###Err### CFilterChainParser::GetFilterData(): pFilter->QueryFilterInfo()=0x%X\r\n\r\n",
                                   UINT(hr));
    if (info.pGraph != nullptr)
        info.pGraph->Release();
    info.achName[ARRAYSIZE(info.achName) - 1] = 0;

    CLSID clsid = GUID_NULL;
    hr = pFilter->GetClassID(&clsid);
    if (FAILED(hr))
    {
        clsid = GUID_NULL;
        bool bOk = hr == E_NOTIMPL
                       ? m_Text.Append(L"\r\n###Err### CFilterChainParser::GetFilterData(): pFilter->GetClassID()=E_NOTIMPL")
                       : m_Text.AppendFormat(L"\r\n###Err### CFilterChainParser::GetFilterData(): pFilter->GetClassID()=0x%X",
                                             UINT(hr));
        if (!bOk || !m_Text.AppendFormat(L"\r\nFilter {### CLSID is unknown} (%s)\r\n", info.achName))
            return false;
    }
    else
    {
        Guid2Name(clsid, m_szClassName, ARRAYSIZE(m_szClassName));
        if (!m_Text.AppendFormat(L"\r\nFilter %s (%s)\r\n", m_szClassName, info.achName))
            return false;
    }

    if (!GetFileName(pFilter))
        return false;

    CComPtr<IEnumPins> spEnum;
    hr = pFilter->EnumPins(&spEnum);
    if (FAILED(hr) || !spEnum)
        return m_Text.AppendFormat(L"###Err### CFilterChainParser::GetFilterData(): pFilter->EnumPins()=0x%X\r\n\r\n",
                                   UINT(FAILED(hr) ? hr : E_POINTER));
    spEnum->Reset();
    for (;;)
    {
        CComPtr<IPin> spPin;
        ULONG cFetched = 0;
        hr = spEnum->Next(1, &spPin, &cFetched);
        if (FAILED(hr))
            return m_Text.AppendFormat(L"###Err### CFilterChainParser::GetFilterData(): spEnum->Next()=0x%X\r\n\r\n",
                                       UINT(hr));
        if (hr != S_OK)
            return true;
        DS_ASSERT(cFetched == 1);
        if (spPin && !GetPinData(spPin, clsid))
            return false;
    }
}

bool CFilterChainParser::GetFileName(IBaseFilter* pFilter)
{
    return AppendCurFile<IFileSourceFilter>(
               pFilter, L"\tINPUT FILE: \"",
               L"###Err### CFilterChainParser::GetFileName(): spFileSourceFilter->GetCurFile()=0x%X\r\n\r\n") &&
           AppendCurFile<IFileSinkFilter>(
               pFilter, L"\tOUTPUT FILE: \"",
               L"###Err### CFilterChainParser::GetFileName(): spFileSinkFilter->GetCurFile()=0x%X\r\n\r\n");
}

template <class IFile>
bool CFilterChainParser::AppendCurFile(IBaseFilter* pFilter, LPCWSTR pszHead, LPCWSTR pszError)
{
    CComQIPtr<IFile> spFile(pFilter);
    if (!spFile)
        return true;
    LPOLESTR pszFile = nullptr;
    AM_MEDIA_TYPE mt = {};
    HRESULT hr = spFile->GetCurFile(&pszFile, &mt);
    bool bOk = FAILED(hr) ? m_Text.AppendFormat(pszError, UINT(hr))
                          : m_Text.Append(pszHead) && m_Text.Append(pszFile != nullptr ? pszFile : L"") &&
                                m_Text.Append(L"\"\r\n");
    CoTaskMemFree(pszFile);
    MediaTypeFreeContents(&mt);
    return bOk;
}

bool CFilterChainParser::GetPinData(IPin* pPin, REFCLSID clsidFilter)
{
    PIN_INFO rgInfo = {};
    HRESULT hr = pPin->QueryPinInfo(&rgInfo);
    if (FAILED(hr))
        return m_Text.AppendFormat(L"###Err### CFilterChainParser::GetPinData(): pPin->QueryPinInfo()=0x%X\r\n\r\n",
                                   UINT(hr));
    DS_ASSERT(rgInfo.pFilter != NULL);
    if (rgInfo.pFilter != nullptr)
        rgInfo.pFilter->Release();
    rgInfo.achName[ARRAYSIZE(rgInfo.achName) - 1] = 0;
    LPCWSTR pszDir = rgInfo.dir == PINDIR_INPUT ? L"INPUT" : rgInfo.dir == PINDIR_OUTPUT ? L"OUTPUT" : L"UNKNOWN";
    if (!m_Text.AppendFormat(L"\t%s: [%s]", pszDir, rgInfo.achName))
        return false;

    CComPtr<IPin> spPinConnected;
    hr = pPin->ConnectedTo(&spPinConnected);
    if (hr == VFW_E_NOT_CONNECTED)
        return m_Text.Append(L"    NOT CONNECTED\r\n");
    if (FAILED(hr) || !spPinConnected)
        return m_Text.AppendFormat(L"\r\n###Err### CFilterChainParser::GetPinData(): pPin->ConnectedTo()=0x%X\r\n",
                                   UINT(FAILED(hr) ? hr : E_POINTER));

    PIN_INFO rgPinInfo = {};
    hr = spPinConnected->QueryPinInfo(&rgPinInfo);
    if (FAILED(hr))
        return m_Text.AppendFormat(
            L"\r\n###Err### CFilterChainParser::GetPinData(): spPinConnected->QueryPinInfo()=0x%X\r\n", UINT(hr));
    CComPtr<IBaseFilter> spConnectedFilter;
    spConnectedFilter.Attach(rgPinInfo.pFilter);
    FILTER_INFO rgFilterInfo = {};
    hr = spConnectedFilter ? spConnectedFilter->QueryFilterInfo(&rgFilterInfo) : E_POINTER;
    if (FAILED(hr))
        return m_Text.AppendFormat(
            L"\r\n###Err### CFilterChainParser::GetPinData(): spConnectedFilter->QueryFilterInfo()=0x%X\r\n", UINT(hr));
    DS_ASSERT(rgFilterInfo.pGraph != NULL);
    if (rgFilterInfo.pGraph != nullptr)
        rgFilterInfo.pGraph->Release();
    rgFilterInfo.achName[ARRAYSIZE(rgFilterInfo.achName) - 1] = 0;
    if (!m_Text.AppendFormat(L" -> [%s] ", rgFilterInfo.achName))
        return false;
    return GetPinMediaType(pPin, clsidFilter);
}

bool CFilterChainParser::GetPinMediaType(IPin* pPin, REFCLSID clsidFilter)
{
    AM_MEDIA_TYPE mt = {};
    HRESULT hr = pPin->ConnectionMediaType(&mt);
    // Disconnected since ConnectedTo: the line still ends.
    if (hr == VFW_E_NOT_CONNECTED)
        return m_Text.Append(L"\r\n");
    if (FAILED(hr))
        return m_Text.AppendFormat(
            L"\r\n###Err### CFilterChainParser::GetPinMediaType(): pPin->ConnectionMediaType()=0x%X\r\n", UINT(hr));
    WCHAR szType[256];
    ParseMediaType(&mt, szType, ARRAYSIZE(szType), true);
    if (clsidFilter == CLSID_FormatOwningFilter)
    {
        mt.pbFormat = nullptr;
        mt.cbFormat = 0;
    }
    MediaTypeFreeContents(&mt);
    return m_Text.Append(szType);
}
