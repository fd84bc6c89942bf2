#include "support/ComBase.h"

#include "diagnostics/DSTrace.h"

HRESULT CComObjectRootBase::InternalQueryInterface(void* pThis, const CComInterfaceEntry* pEntries, REFIID riid,
                                                   void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (pThis == nullptr || pEntries == nullptr || pEntries->piid == nullptr)
        return E_NOINTERFACE;
    if (InlineIsEqualGUID(riid, IID_IUnknown))
    {
        DS_ASSERT(pEntries->pfn == NULL);
        if (pEntries->pfn != nullptr)
            return E_UNEXPECTED;
        // The first entry is a plain interface of the object and stands for its identity.
        IUnknown* pUnk = reinterpret_cast<IUnknown*>(static_cast<char*>(pThis) + pEntries->dw);
        pUnk->AddRef();
        *ppv = pUnk;
        return S_OK;
    }
    for (const CComInterfaceEntry* pEntry = pEntries; pEntry->piid != nullptr; ++pEntry)
    {
        if (!InlineIsEqualGUID(riid, *pEntry->piid))
            continue;
        if (pEntry->pfn != nullptr)
            return pEntry->pfn(pThis, pEntry, riid, ppv);
        IUnknown* pUnk = reinterpret_cast<IUnknown*>(static_cast<char*>(pThis) + pEntry->dw);
        pUnk->AddRef();
        *ppv = pUnk;
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT ComDelegateToMember(void* pThis, const CComInterfaceEntry* pEntry, REFIID riid, void** ppv)
{
    IUnknown* pInner = *reinterpret_cast<IUnknown**>(static_cast<char*>(pThis) + pEntry->dw);
    if (pInner == nullptr)
        return E_NOINTERFACE;
    return pInner->QueryInterface(riid, ppv);
}
