// Small sources for the enumerators: a filter with a list of pins and a pin with a list of
// media types, each able to fail at one index or to change its collection.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <vector>

#include "framework/DSEnums.h"
#include "framework/DSTypes.h"
#include "support/ComBase.h"
#include "support/ComPtr.h"

namespace enumtest
{
// What a test does to a source.
struct CSourceControl
{
    LONG m_nFailIndex = -1;       // the index at which the source gives m_hrFail
    HRESULT m_hrFail = E_FAIL;    // S_OK here means "success without an item"
    LONG m_nVersion = 0;          // changes when the collection "changes"
    bool m_bNegativeIndex = false;
    bool* m_pbDestroyed = nullptr;

    // Item nIndex of items through copy (item, ppOut), or the failure asked for.
    template <class TItems, class TOut, class TCopy>
    HRESULT Fetch(const TItems& items, LONG nIndex, TOut* ppOut, TCopy copy)
    {
        if (nIndex < 0)
            m_bNegativeIndex = true;
        if (nIndex == m_nFailIndex)
            return m_hrFail;
        if (nIndex < 0 || size_t(nIndex) >= items.size())
            return S_FALSE;
        return copy(items[nIndex], ppOut);
    }
    ~CSourceControl()
    {
        if (m_pbDestroyed != nullptr)
            *m_pbDestroyed = true;
    }
};

class CTestFilter : public CComObjectRoot, public IBaseFilter, public CSourceControl
{
public:
    BEGIN_COM_MAP(CTestFilter)
        COM_INTERFACE_ENTRY(IBaseFilter)
    END_COM_MAP()

    HRESULT GetPin(LONG nIndex, IPin** ppPin)
    {
        return Fetch(m_pins, nIndex, ppPin, [](IPin* pPin, IPin** ppOut) {
            return pPin->QueryInterface(IID_IPin, reinterpret_cast<void**>(ppOut));
        });
    }

    STDMETHOD(EnumPins)(IEnumPins** ppEnum) override
    {
        return CComDSEnum<CPinAccessor<CTestFilter>, IEnumPins>::CreateEnum(ppEnum, this, 0);
    }
    STDMETHOD(GetClassID)(CLSID*) override { return E_NOTIMPL; }
    STDMETHOD(Stop)() override { return E_NOTIMPL; }
    STDMETHOD(Pause)() override { return E_NOTIMPL; }
    STDMETHOD(Run)(REFERENCE_TIME) override { return E_NOTIMPL; }
    STDMETHOD(GetState)(DWORD, FILTER_STATE*) override { return E_NOTIMPL; }
    STDMETHOD(SetSyncSource)(IReferenceClock*) override { return E_NOTIMPL; }
    STDMETHOD(GetSyncSource)(IReferenceClock**) override { return E_NOTIMPL; }
    STDMETHOD(FindPin)(LPCWSTR, IPin**) override { return E_NOTIMPL; }
    STDMETHOD(QueryFilterInfo)(FILTER_INFO*) override { return E_NOTIMPL; }
    STDMETHOD(JoinFilterGraph)(IFilterGraph*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHOD(QueryVendorInfo)(LPWSTR*) override { return E_NOTIMPL; }

    std::vector<CComPtr<IPin>> m_pins;
};

class CTestPin : public CComObjectRoot, public IPin, public CSourceControl
{
public:
    BEGIN_COM_MAP(CTestPin)
        COM_INTERFACE_ENTRY(IPin)
    END_COM_MAP()

    HRESULT GetMediaType(LONG nIndex, AM_MEDIA_TYPE** ppmt)
    {
        return Fetch(m_types, nIndex, ppmt, [](const CMType& mt, AM_MEDIA_TYPE** ppOut) { return mt.CopyTo(ppOut); });
    }

    STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** ppEnum) override
    {
        return CComDSEnum<CMediaTypesAccessor<CTestPin>, IEnumMediaTypes>::CreateEnum(ppEnum, this, 0);
    }
    STDMETHOD(Connect)(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHOD(ReceiveConnection)(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHOD(Disconnect)() override { return E_NOTIMPL; }
    STDMETHOD(ConnectedTo)(IPin**) override { return E_NOTIMPL; }
    STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHOD(QueryPinInfo)(PIN_INFO*) override { return E_NOTIMPL; }
    STDMETHOD(QueryDirection)(PIN_DIRECTION*) override { return E_NOTIMPL; }
    STDMETHOD(QueryId)(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHOD(QueryInternalConnections)(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHOD(EndOfStream)() override { return E_NOTIMPL; }
    STDMETHOD(BeginFlush)() override { return E_NOTIMPL; }
    STDMETHOD(EndFlush)() override { return E_NOTIMPL; }
    STDMETHOD(NewSegment)(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_NOTIMPL; }

    std::vector<CMType> m_types;
};

// An accessor that reports VFW_E_ENUM_OUT_OF_SYNC once its source's version moved on
// since the enumeration (re)started.
template <class TAccessor>
class CVersioned : public TAccessor
{
public:
    void Sync() { m_nSeen = this->m_pSource->m_nVersion; }
    HRESULT Get(LONG nIndex, typename TAccessor::Item* ppData)
    {
        if (this->m_pSource->m_nVersion != m_nSeen)
        {
            *ppData = nullptr;
            return VFW_E_ENUM_OUT_OF_SYNC;
        }
        return TAccessor::Get(nIndex, ppData);
    }

private:
    LONG m_nSeen = 0;
};
}
