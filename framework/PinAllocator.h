// Allocator agreement of an output pin: the downstream pin's allocator when it covers the
// request, otherwise one of our own; its activation with the filter's state.
//
// TPin supplies IsConnected (), its pin lock (Lock/Unlock), ObjectName () and
// AllocatorRequest (pProps), its own buffer needs; it may hide AllocatorCreate and
// AllocatorTestProps.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "diagnostics/DSParsers.h"
#include "diagnostics/DSTrace.h"
#include "framework/DSAllocators.h"
#include "framework/FilterBase.h"
#include "support/ComPtr.h"

enum EAllocSrc : LONG
{
    eAS_None = 0,
    eAS_Upstream = 1,
    eAS_Internal = 2,    // created by this pin
    eAS_Downstream = 3,  // provided by the downstream pin
};

template <class TPin>
class CAllocatorMatch
{
public:
    CAllocatorMatch() : m_bActive(FALSE), m_eAllocSrc(eAS_None) { ZeroMemory(&m_Props, sizeof(m_Props)); }

    // Default: the module's own memory allocator.
    HRESULT AllocatorCreate(IMemAllocator** ppAllocator) { return CMemoryAllocator::CreateInstance(ppAllocator); }

    // S_OK when the actual properties cover the request.
    HRESULT AllocatorTestProps(const ALLOCATOR_PROPERTIES* pRequested, const ALLOCATOR_PROPERTIES* pActual)
    {
        if (pActual->cBuffers < pRequested->cBuffers || pActual->cbBuffer < pRequested->cbBuffer)
            return E_FAIL;
        if (pActual->cbAlign < pRequested->cbAlign || (pActual->cbAlign & -pActual->cbAlign) != pActual->cbAlign)
            return E_FAIL;
        if (pActual->cbPrefix < pRequested->cbPrefix)
            return E_FAIL;
        return S_OK;
    }

    HRESULT MatchExternAllocator(IMemInputPin* pMemInput, ALLOCATOR_PROPERTIES* pProps, BOOL bReadOnly)
    {
        DS_ASSERT(pMemInput != NULL);
        if (pMemInput == nullptr)
            return E_POINTER;
        CComPtr<IMemAllocator> spMemAlloc;
        HRESULT hr = pMemInput->GetAllocator(&spMemAlloc);
        // A success without an allocator offers nothing.
        if (hr == S_OK && !spMemAlloc)
            hr = VFW_E_NO_ALLOCATOR;
        if (hr != S_OK)
        {
            TraceMatchStep(L"MatchExternAllocator()", L"pMemInput->GetAllocator()", hr);
            return DSFailureOf(hr, E_FAIL);
        }
        return UseAllocator(spMemAlloc, pMemInput, pProps, bReadOnly, eAS_Downstream);
    }

    HRESULT MatchOurAllocator(IMemInputPin* pMemInput, ALLOCATOR_PROPERTIES* pProps, BOOL bReadOnly)
    {
        DS_ASSERT(pMemInput != NULL);
        if (pMemInput == nullptr)
            return E_POINTER;
        CComPtr<IMemAllocator> spMemAlloc;
        HRESULT hr = Pin()->AllocatorCreate(&spMemAlloc);
        if (hr == S_OK && !spMemAlloc)
            hr = E_FAIL;
        if (hr != S_OK)
        {
            TraceMatchStep(L"MatchOurAllocator()", L"pOutPin->AllocatorCreate()", hr);
            return DSFailureOf(hr, E_FAIL);
        }
        return UseAllocator(spMemAlloc, pMemInput, pProps, bReadOnly, eAS_Internal);
    }

    // Makes pAllocator the agreed allocator, with its actual properties.
    HRESULT AttachAllocator(IMemAllocator* pAllocator, EAllocSrc eAllocSrc)
    {
        DS_ASSERT(pAllocator != NULL);
        DS_ASSERT(eAllocSrc != eAS_None);
        if (pAllocator == nullptr || eAllocSrc == eAS_None)
            return E_INVALIDARG;
        ALLOCATOR_PROPERTIES props;
        ZeroMemory(&props, sizeof(props));
        HRESULT hr = pAllocator->GetProperties(&props);
        DebugAssert(hr == S_OK, __FILE_NAME__, __LINE__,
                    "hr == S_OK && _T(\"CAllocatorMatch::AttachAllocator(): GetProperties() != S_OK\")");
        if (hr != S_OK)
            return DSFailureOf(hr, E_FAIL);
        m_Props = props;
        m_spAllocOut = pAllocator;
        m_eAllocSrc = eAllocSrc;
        DebugTrace(atlTraceGeneral, 8, L"@@@@ %s CAllocatorMatch::AttachAllocator(): use %s allocator\n",
                   Pin()->ObjectName(),
                   eAllocSrc == eAS_Upstream ? L"upstream" : eAllocSrc == eAS_Downstream ? L"downstream" : L"internal");
        Debug_Allocator(atlTraceGeneral, 8, pAllocator);
        return S_OK;
    }

    // Commits or decommits the agreed allocator; the filter's state changes call it.
    HRESULT AllocatorActivate(BOOL bActivate)
    {
        TPin* pPin = Pin();
        if (!pPin->IsConnected())
            return VFW_E_NOT_CONNECTED;
        CComLockGuard<TPin> lock(pPin);
        DS_ASSERT(m_spAllocOut != NULL);
        if (!m_spAllocOut)
            return VFW_E_NO_ALLOCATOR;
        if (!bActivate == !m_bActive)
            return S_OK;
        HRESULT hr;
        if (bActivate)
        {
            hr = m_spAllocOut->Commit();
            if (hr == S_OK)
            {
                ALLOCATOR_PROPERTIES props;
                ZeroMemory(&props, sizeof(props));
                HRESULT hrProps = m_spAllocOut->GetProperties(&props);
                DebugAssert(hrProps == S_OK, __FILE_NAME__, __LINE__,
                            "hr == S_OK && _T(\"CAllocatorMatch::AllocatorActivate(): GetProperties() != S_OK\")");
                if (hrProps == S_OK)
                    m_Props = props;
            }
        }
        else
            hr = m_spAllocOut->Decommit();
        if (hr != S_OK)
            return DSFailureOf(hr, E_FAIL);
        m_bActive = bActivate;
        return S_OK;
    }

    // Decommits and forgets the agreed allocator; the caller holds the delivery lock, and
    // releases the returned reference once it has left it.
    IMemAllocator* AllocatorRelease()
    {
        IMemAllocator* pAllocator = m_spAllocOut.Detach();
        if (pAllocator != nullptr)
            pAllocator->Decommit();
        ZeroMemory(&m_Props, sizeof(m_Props));
        m_bActive = FALSE;
        m_eAllocSrc = eAS_None;
        return pAllocator;
    }

    ALLOCATOR_PROPERTIES m_Props;
    CComPtr<IMemAllocator> m_spAllocOut;
    BOOL m_bActive;
    EAllocSrc m_eAllocSrc;

private:
    TPin* Pin() { return static_cast<TPin*>(this); }

    // Steps 3 to 6 of both matches: properties, their test, the peer's consent, attachment.
    HRESULT UseAllocator(IMemAllocator* pMemAlloc, IMemInputPin* pMemInput, ALLOCATOR_PROPERTIES* pProps,
                         BOOL bReadOnly, EAllocSrc eAllocSrc)
    {
        LPCWSTR pszMatch = eAllocSrc == eAS_Downstream ? L"MatchExternAllocator()" : L"MatchOurAllocator()";
        ALLOCATOR_PROPERTIES actual;
        ZeroMemory(&actual, sizeof(actual));
        HRESULT hr = pMemAlloc->SetProperties(pProps, &actual);
        if (hr != S_OK)
        {
            TraceMatchStep(pszMatch, L"spMemAlloc->SetProperties()", hr);
            return DSFailureOf(hr, E_FAIL);
        }
        hr = Pin()->AllocatorTestProps(pProps, &actual);
        if (FAILED(hr))
        {
            TraceMatchStep(pszMatch, L"pOutPin->AllocatorTestProps()", hr);
            return hr;
        }
        hr = pMemInput->NotifyAllocator(pMemAlloc, bReadOnly);
        if (hr != S_OK)
        {
            TraceMatchStep(pszMatch, L"pMemInput->NotifyAllocator()", hr);
            return DSFailureOf(hr, E_FAIL);
        }
        return AttachAllocator(pMemAlloc, eAllocSrc);
    }

    void TraceMatchStep(LPCWSTR pszMatch, LPCWSTR pszCall, HRESULT hr)
    {
        DebugTrace(atlTraceGeneral, 2, L"###Err### %s CAllocatorMatch::%s: %s=0x%X\n", Pin()->ObjectName(), pszMatch,
                   pszCall, hr);
    }
};

// The agreement strategy: downstream first, our own allocator otherwise.
template <class TPin, int nFlags>
class CStdAllocator : public CAllocatorMatch<TPin>
{
public:
    HRESULT AllocatorAgree(IMemInputPin* pMemInput)
    {
        DS_ASSERT(!this->m_spAllocOut);
        DS_ASSERT(pMemInput != NULL);
        if (pMemInput == nullptr)
            return E_POINTER;
        ALLOCATOR_PROPERTIES props;
        ZeroMemory(&props, sizeof(props));
        AllocatorGetProps(pMemInput, &props);
        HRESULT hr = this->MatchExternAllocator(pMemInput, &props, FALSE);
        if (FAILED(hr))
            hr = this->MatchOurAllocator(pMemInput, &props, FALSE);
        if (FAILED(hr))
            DebugTrace(atlTraceGeneral, 8,
                       L"###Err### %s CStdAllocator::AllocatorAgree() - allocator agreement failed, hr=0x%X\n",
                       static_cast<TPin*>(this)->ObjectName(), hr);
        return hr;
    }

    // The larger of the downstream pin's requirements and the pin's own needs, field by field.
    void AllocatorGetProps(IMemInputPin* pMemInput, ALLOCATOR_PROPERTIES* pProps)
    {
        DS_ASSERT(pMemInput != NULL);
        ZeroMemory(pProps, sizeof(*pProps));
        if (pMemInput == nullptr || FAILED(pMemInput->GetAllocatorRequirements(pProps)))
            ZeroMemory(pProps, sizeof(*pProps));
        ALLOCATOR_PROPERTIES own;
        ZeroMemory(&own, sizeof(own));
        static_cast<TPin*>(this)->AllocatorRequest(&own);
        pProps->cBuffers = max(pProps->cBuffers, own.cBuffers);
        pProps->cbBuffer = max(pProps->cbBuffer, own.cbBuffer);
        pProps->cbAlign = max(pProps->cbAlign, own.cbAlign);
        pProps->cbPrefix = max(pProps->cbPrefix, own.cbPrefix);
        if (pProps->cBuffers <= 0)
            pProps->cBuffers = 1;
        if (pProps->cbBuffer <= 0)
            pProps->cbBuffer = 1;
        if (pProps->cbAlign == 0)
            pProps->cbAlign = 1;
    }

private:
    static LONG max(LONG a, LONG b) { return a > b ? a : b; }
};
