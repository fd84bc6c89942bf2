// Pin and media-type enumerators (IEnumPins, IEnumMediaTypes) over any source.
//
// The enumerator never copies the collection: every Next asks the source again for the
// item at the current index, so it always reflects the source's state at the call.
// What it needs of its source is said by an accessor class:
// - Source, Item: the source class and the item type of the enumerator interface;
// - m_pSource: the source, counted (SetSource replaces it; released at destruction);
// - Get (nIndex, ppData): S_OK with a new item the caller owns, S_FALSE when there is no
//   item at nIndex, VFW_E_ENUM_OUT_OF_SYNC when the collection changed since the
//   enumeration (re)started, or another failure;
// - Free (pData): frees one item that Get produced;
// - Sync (): the enumeration (re)starts; an accessor that reports VFW_E_ENUM_OUT_OF_SYNC
//   takes the source's state here.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <climits>

#include "diagnostics/DSTrace.h"
#include "framework/DSTypes.h"
#include "support/ComBase.h"
#include "support/ComCreate.h"

// The common part of the accessors: the counted source (counted through ICounted) and Get,
// which checks its arguments and asks TDerived::Fetch (source, nIndex, ppData).
template <class TDerived, class TSource, class ICounted, class TItem>
class CAccessorBase
{
public:
    using Source = TSource;
    using Item = TItem;

    CAccessorBase() : m_pSource(nullptr) {}
    ~CAccessorBase() { SetSource(nullptr); }
    CAccessorBase(const CAccessorBase&) = delete;
    CAccessorBase& operator=(const CAccessorBase&) = delete;

    void SetSource(TSource* pSource)
    {
        if (pSource != nullptr)
            static_cast<ICounted*>(pSource)->AddRef();
        TSource* pOld = m_pSource;
        m_pSource = pSource;
        if (pOld != nullptr)
            static_cast<ICounted*>(pOld)->Release();
    }
    void Sync() {}

    HRESULT Get(LONG nIndex, TItem* ppData)
    {
        DS_ASSERT(m_pSource != NULL);
        DS_ASSERT(ppData != NULL);
        if (ppData == nullptr)
            return E_POINTER;
        *ppData = nullptr;
        if (m_pSource == nullptr)
            return E_UNEXPECTED;
        return TDerived::Fetch(m_pSource, nIndex, ppData);
    }

    TSource* m_pSource;
};

// The pins of a filter: TFilter::GetPin (nIndex, ppPin).
template <class TFilter>
class CPinAccessor : public CAccessorBase<CPinAccessor<TFilter>, TFilter, IBaseFilter, IPin*>
{
public:
    static HRESULT Fetch(TFilter* pFilter, LONG nIndex, IPin** ppData) { return pFilter->GetPin(nIndex, ppData); }
    static void Free(IPin* pData)
    {
        if (pData != nullptr)
            pData->Release();
    }
};

// The preferred media types of a pin: TPin::GetMediaType (nIndex, ppmt), records that the
// caller frees with MTFree.
template <class TPin>
class CMediaTypesAccessor : public CAccessorBase<CMediaTypesAccessor<TPin>, TPin, IPin, AM_MEDIA_TYPE*>
{
public:
    static HRESULT Fetch(TPin* pPin, LONG nIndex, AM_MEDIA_TYPE** ppData) { return pPin->GetMediaType(nIndex, ppData); }
    static void Free(AM_MEDIA_TYPE* pData)
    {
        DS_ASSERT(pData != NULL);
        if (pData != nullptr)
            MTFree(pData);
    }
};

template <class TAccessor, class IEnum>
class CComDSEnum;

// The enumeration operations; the COM object is CComDSEnum.
template <class TAccessor, class IEnum>
class CComDSEnumImpl : public IEnum, public TAccessor
{
public:
    using Item = typename TAccessor::Item;
    using Source = typename TAccessor::Source;

    CComDSEnumImpl() : m_nPos(0), m_bOutOfSync(FALSE) {}

    // A new enumerator over pSource, at nPos.
    static HRESULT CreateEnum(IEnum** ppEnum, Source* pSource, LONG nPos)
    {
        DS_ASSERT(ppEnum != NULL);
        if (ppEnum == nullptr)
            return E_POINTER;
        *ppEnum = nullptr;
        DS_ASSERT(pSource != NULL);
        if (pSource == nullptr)
            return E_INVALIDARG;
        CComObject<CComDSEnum<TAccessor, IEnum>>* pEnum = nullptr;
        HRESULT hr = ComCreateReferenced(&pEnum);
        if (FAILED(hr))
            return hr;
        hr = pEnum->Init(pSource, nPos);
        if (SUCCEEDED(hr))
            hr = pEnum->QueryInterface(__uuidof(IEnum), reinterpret_cast<void**>(ppEnum));
        pEnum->Release();
        return hr;
    }

    HRESULT Init(Source* pSource, LONG nPos)
    {
        DS_ASSERT(pSource != NULL);
        if (pSource == nullptr)
            return E_INVALIDARG;
        // Sources index from 0; a negative index would reach before any collection.
        DS_ASSERT(nPos >= 0);
        if (nPos < 0)
            return E_INVALIDARG;
        this->SetSource(pSource);
        m_nPos = nPos;
        m_bOutOfSync = FALSE;
        this->Sync();
        return S_OK;
    }

    // Whether an item exists at nIndex: the accessor's result, the item freed at once.
    HRESULT CheckIndex(LONG nIndex)
    {
        Item item = nullptr;
        HRESULT hr = GetItem(nIndex, &item);
        if (hr == S_OK)
            this->Free(item);
        if (hr == VFW_E_ENUM_OUT_OF_SYNC)
            m_bOutOfSync = TRUE;
        return hr;
    }

    STDMETHOD(Next)(ULONG celt, Item* rgelt, ULONG* pceltFetched) override
    {
        DebugTrace(atlTraceCOM, 10, L"CComDSEnumImpl::Next( %u )\n", celt);
        if (rgelt == nullptr)
            return E_POINTER;
        if (pceltFetched == nullptr && celt > 1)
            return E_INVALIDARG;
        if (m_bOutOfSync)
            return VFW_E_ENUM_OUT_OF_SYNC;

        const ULONG celtWanted = celt;
        ULONG nFetched = 0;
        HRESULT hr = S_OK;
        while (celt != 0)
        {
            // No source has an item at LONG_MAX or beyond; the position must not wrap.
            if (m_nPos == LONG_MAX)
            {
                hr = S_FALSE;
                break;
            }
            Item item = nullptr;
            hr = GetItem(m_nPos, &item);
            if (hr != S_OK)
                break;
            ++m_nPos;
            rgelt[nFetched++] = item;
            --celt;
        }
        if (FAILED(hr))
        {
            m_nPos -= LONG(nFetched);
            while (nFetched != 0)
            {
                --nFetched;
                this->Free(rgelt[nFetched]);
                rgelt[nFetched] = nullptr;
            }
            if (hr == VFW_E_ENUM_OUT_OF_SYNC)
                m_bOutOfSync = TRUE;
            return hr;
        }
        if (pceltFetched != nullptr)
            *pceltFetched = nFetched;
        return nFetched == celtWanted ? S_OK : S_FALSE;
    }

    STDMETHOD(Skip)(ULONG celt) override
    {
        DebugTrace(atlTraceCOM, 10, L"CComDSEnumImpl::Skip( %u )\n", celt);
        if (m_bOutOfSync)
            return VFW_E_ENUM_OUT_OF_SYNC;
        // The last item skipped; computed wide so that a large count cannot wrap.
        LONGLONG llLast = LONGLONG(m_nPos) + (celt != 0 ? LONGLONG(celt) - 1 : 0);
        if (llLast >= LONG_MAX)
        {
            m_nPos = LONG_MAX;
            return S_FALSE;
        }
        HRESULT hr = CheckIndex(LONG(llLast));
        if (SUCCEEDED(hr))
            m_nPos = LONG(m_nPos + LONGLONG(celt));
        return hr;
    }

    STDMETHOD(Reset)() override
    {
        DebugTrace(atlTraceCOM, 10, L"CComDSEnumImpl::Reset()\n");
        m_nPos = 0;
        m_bOutOfSync = FALSE;
        this->Sync();
        return S_OK;
    }

    STDMETHOD(Clone)(IEnum** ppEnum) override
    {
        DebugTrace(atlTraceCOM, 10, L"CComDSEnumImpl::Clone()\n");
        if (ppEnum == nullptr)
            return E_POINTER;
        *ppEnum = nullptr;
        if (m_bOutOfSync)
            return VFW_E_ENUM_OUT_OF_SYNC;
        HRESULT hr = CheckIndex(m_nPos);
        if (FAILED(hr))
            return hr;
        return CreateEnum(ppEnum, this->m_pSource, m_nPos);
    }

private:
    // The accessor's Get; a success without an item, which would hand the caller a null
    // slot, is a failure.
    HRESULT GetItem(LONG nIndex, Item* pItem)
    {
        HRESULT hr = this->Get(nIndex, pItem);
        return hr == S_OK && *pItem == nullptr ? E_FAIL : hr;
    }

public:
    LONG m_nPos;        // index of the next item
    BOOL m_bOutOfSync;  // the accessor reported a change of the collection; cleared by Reset
};

// The enumerator as a plain, non-aggregated COM object of the multithreaded model.
template <class TAccessor, class IEnum>
class CComDSEnum : public CComDSEnumImpl<TAccessor, IEnum>, public CComObjectRootEx<CComMultiThreadModel>
{
public:
    BEGIN_COM_MAP(CComDSEnum)
        COM_INTERFACE_ENTRY(IEnum)
    END_COM_MAP()
};

