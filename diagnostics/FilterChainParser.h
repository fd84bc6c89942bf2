// The description of a whole filter graph as one wide text with "\r\n" line ends: every
// filter with its class name, its name, its files, and each pin with its connection and
// the connection's media type. Failures of the graph's objects are written into the text.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "diagnostics/TextBuffer.h"

class CFilterChainParser
{
public:
    // Sorts the GUID name tables if nothing has yet.
    CFilterChainParser();

    // *ppszChain receives the text in task memory (free it with CoTaskMemFree).
    // E_INVALIDARG for a null graph, E_POINTER for a null out, E_OUTOFMEMORY when the
    // text cannot grow; S_OK otherwise, also when the text records failures.
    HRESULT GetFiltersChain(IFilterGraph* pGraph, LPWSTR* ppszChain);

private:
    // Each appends to the text and returns false only when the text cannot grow.
    bool GetFilterData(IBaseFilter* pFilter);
    bool GetFileName(IBaseFilter* pFilter);
    bool GetPinData(IPin* pPin, REFCLSID clsidFilter);
    bool GetPinMediaType(IPin* pPin, REFCLSID clsidFilter);
    template <class IFile>
    bool AppendCurFile(IBaseFilter* pFilter, LPCWSTR pszHead, LPCWSTR pszError);

    CTextBuffer m_Text;
    WCHAR m_szClassName[256];
};
