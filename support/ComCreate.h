// Creation of a stand-alone COM object that the caller holds by one reference.
#pragma once
#include "diagnostics/DSTrace.h"
#include "support/ComBase.h"

// *ppObject must be empty; on success it holds the new object with one reference, which the
// caller releases. The object's own failures (FinalConstruct) are passed on.
template <class Base, typename... Args>
HRESULT ComCreateReferenced(CComObject<Base>** ppObject, Args&&... args)
{
    DS_ASSERT(ppObject != NULL);
    if (ppObject == nullptr)
        return E_POINTER;
    DS_ASSERT(*ppObject == NULL);
    *ppObject = nullptr;
    HRESULT hr = CComObject<Base>::CreateUnreferenced(ppObject, static_cast<Args&&>(args)...);
    if (SUCCEEDED(hr))
        (*ppObject)->AddRef();
    return hr;
}
