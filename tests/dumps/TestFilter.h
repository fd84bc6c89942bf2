// A small filter of the tests' own for graphs: pins that connect to any input pin with
// one fixed media type, a current file, and switches that make its queries fail.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <memory>
#include <string>
#include <vector>

#include "TestObject.h"
#include "framework/DSTypes.h"
#include "support/ComPtr.h"

class CTestFilter;

// Counted through its filter. As an output pin it connects with the filter's media type;
// as an input pin it takes any.
class CTestPin final : public IPin
{
public:
    CTestPin(CTestFilter* pFilter, const wchar_t* pszName, PIN_DIRECTION dir)
        : m_pFilter(pFilter), m_name(pszName), m_dir(dir)
    {
    }

    HRESULT hrQueryPinInfo = S_OK;
    HRESULT hrConnectedTo = S_OK;         // a failure replaces the answer
    HRESULT hrConnectionMediaType = S_OK; // likewise
    BYTE* pbSharedFormat = nullptr;       // handed out as the connection type's block, not copied

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** ppPin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* pDir) override;
    STDMETHODIMP QueryId(LPWSTR* ppszId) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return S_OK; }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

private:
    CTestFilter* m_pFilter;
    std::wstring m_name;
    PIN_DIRECTION m_dir;
    CComPtr<IPin> m_spConnected;
    CMType m_mtConnection;
};

class CTestFilter : public CTestObject<IBaseFilter, IFileSourceFilter, IFileSinkFilter>
{
public:
    explicit CTestFilter(REFCLSID clsid) : m_clsid(clsid) {}

    CTestPin* AddPin(const wchar_t* pszName, PIN_DIRECTION dir = PINDIR_OUTPUT);
    CTestPin* Pin(size_t i) { return m_pins[i].get(); }

    CMType mt;                    // every output pin connects with it
    bool bReportsName = true;     // false: an empty name whatever the graph gave
    std::wstring file;            // GetCurFile's answer
    bool bOffersFileSink = false; // answers IFileSinkFilter too
    HRESULT hrQueryFilterInfo = S_OK;
    HRESULT hrClassId = S_OK;
    HRESULT hrEnumPins = S_OK;
    HRESULT hrCurFile = S_OK;

    STDMETHODIMP GetClassID(CLSID* pClsid) override;
    STDMETHODIMP Stop() override { return S_OK; }
    STDMETHODIMP Pause() override { return S_OK; }
    STDMETHODIMP Run(REFERENCE_TIME) override { return S_OK; }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* pState) override;
    STDMETHODIMP SetSyncSource(IReferenceClock*) override { return S_OK; }
    STDMETHODIMP GetSyncSource(IReferenceClock** ppClock) override;
    STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
    STDMETHODIMP FindPin(LPCWSTR, IPin** ppPin) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pszName) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP Load(LPCOLESTR, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP SetFileName(LPCOLESTR, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    // For both file interfaces.
    STDMETHODIMP GetCurFile(LPOLESTR* ppszFile, AM_MEDIA_TYPE* pmt) override;

private:
    CLSID m_clsid;
    std::vector<std::unique_ptr<CTestPin>> m_pins;
    IFilterGraph* m_pGraph = nullptr;  // the graph holds the filter, not the other way
    std::wstring m_name;
};

// A graph that only enumerates the filters it is given, then fails as it is told.
class CFakeGraph : public CTestObject<IFilterGraph>
{
public:
    std::vector<CComPtr<IBaseFilter>> filters;
    HRESULT hrEnumFilters = S_OK;
    HRESULT hrNextAtEnd = S_FALSE;  // what Next answers after the last filter

    STDMETHODIMP AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFilters(IEnumFilters** ppEnum) override;
    STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    STDMETHODIMP ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP Reconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP Disconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }
};
