// Two small standard interfaces: IKsPropertySet on a pin, reporting its pin category, and
// IAMFilterMiscFlags on a filter.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "diagnostics/DSParsers.h"
#include "diagnostics/DSTrace.h"

// The pin category property (AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY), read only.
template <class T, const GUID* pPinCategory>
class IKsPropertySetWrapper : public IKsPropertySet
{
public:
    IKsPropertySetWrapper() { DS_ASSERT(pPinCategory != NULL); }

    virtual LPCWSTR ObjectName() = 0;

    STDMETHOD(Set)(REFGUID guidPropSet, DWORD dwPropID, LPVOID, DWORD, LPVOID, DWORD) override
    {
        TraceCall(atlTraceNotImpl, L"Set", guidPropSet, dwPropID);
        return E_NOTIMPL;
    }

    STDMETHOD(Get)(REFGUID guidPropSet, DWORD dwPropID, LPVOID, DWORD, LPVOID pPropData, DWORD cbPropData,
                   DWORD* pcbReturned) override
    {
        TraceCall(atlTraceCOM, L"Get", guidPropSet, dwPropID);
        if (pcbReturned != nullptr)
            *pcbReturned = 0;
        if (!InlineIsEqualGUID(guidPropSet, AMPROPSETID_Pin))
            return E_PROP_SET_UNSUPPORTED;
        if (dwPropID != AMPROPERTY_PIN_CATEGORY)
            return E_PROP_ID_UNSUPPORTED;
        if (pPropData == nullptr && pcbReturned == nullptr)
            return E_POINTER;
        if (pcbReturned != nullptr)
            *pcbReturned = sizeof(GUID);
        if (pPropData == nullptr)
            return S_OK;
        if (cbPropData < sizeof(GUID))
            return E_UNEXPECTED;
        *static_cast<GUID*>(pPropData) = *pPinCategory;
        return S_OK;
    }

    STDMETHOD(QuerySupported)(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) override
    {
        TraceCall(atlTraceCOM, L"QuerySupported", guidPropSet, dwPropID);
        if (pTypeSupport != nullptr)
            *pTypeSupport = 0;
        if (!InlineIsEqualGUID(guidPropSet, AMPROPSETID_Pin))
            return E_PROP_SET_UNSUPPORTED;
        if (dwPropID != AMPROPERTY_PIN_CATEGORY)
            return E_PROP_ID_UNSUPPORTED;
        if (pTypeSupport != nullptr)
            *pTypeSupport = KSPROPERTY_SUPPORT_GET;
        return S_OK;
    }

private:
    void TraceCall(DWORD dwCategory, LPCWSTR pszOperation, REFGUID guidPropSet, DWORD dwPropID)
    {
        WCHAR szSet[GUID_NAME_CCH];
        DebugTrace(dwCategory, 8, L"%s IKsPropertySet::%s( guidPropSet=%s, dwPropID=%u )\n", ObjectName(), pszOperation,
                   Guid2Name(guidPropSet, szSet, GUID_NAME_CCH), dwPropID);
    }
};

template <class T, ULONG nFlags>
class IAMFilterMiscFlagsWrapper : public IAMFilterMiscFlags
{
public:
    virtual LPCWSTR ObjectName() = 0;

    // The flag word itself, not a result code.
    STDMETHOD_(ULONG, GetMiscFlags)() override
    {
        DebugTrace(atlTraceCOM, 8, L"%s IAMFilterMiscFlagsWrapper::GetMiscFlags\n", ObjectName());
        return nFlags;
    }
};
