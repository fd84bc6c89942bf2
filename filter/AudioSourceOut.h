// The tone generator's output pin "Out": one current media type, the allocator request of
// 8 buffers of 40 ms unless the host suggests otherwise (IAMBufferNegotiation), the capture
// pin category and IAMStreamConfig.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "framework/DSFilters.h"
#include "support/ComBase.h"

class CAudioSource;

class CAudioSourceOut : public CComObjectRootEx<CComMultiThreadModel>,
                        public COutputPin<CAudioSourceOut, CAudioSource>,
                        public IKsPropertySetWrapper<CAudioSourceOut, &PIN_CATEGORY_CAPTURE>,
                        public IAMStreamConfig,
                        public IAMBufferNegotiation,
                        public CMTSingle
{
public:
    BEGIN_COM_MAP(CAudioSourceOut)
        COM_INTERFACE_ENTRY(IPin)
        COM_INTERFACE_ENTRY(IQualityControl)
        COM_INTERFACE_ENTRY(IKsPropertySet)
        COM_INTERFACE_ENTRY(IAMStreamConfig)
        COM_INTERFACE_ENTRY(IAMBufferNegotiation)
    END_COM_MAP()

    LPCWSTR ObjectName() override { return L"[Tonewell Out]"; }

    HRESULT FinalConstruct();
    void FinalRelease();

    CAudioSourceOut();

    // 8 buffers of 40 ms of the current type, alignment 1, no prefix; what the host
    // suggested instead, where it did.
    void AllocatorRequest(ALLOCATOR_PROPERTIES* pProps);
    // The duration of one agreed buffer in milliseconds, at most dwMost and at least 1;
    // dwMost while no allocator is agreed.
    DWORD BufferMs(DWORD dwMost);

    // The media-type enumerator's source: the current type, copied under the pin lock since
    // another thread may replace it.
    HRESULT GetMediaType(LONG iPosition, AM_MEDIA_TYPE** ppmt)
    {
        CComLockGuard<CAudioSourceOut> lock(this);
        return CMTSingle::GetMediaType(iPosition, ppmt);
    }

    // Replaces the current type under the pin lock.
    HRESULT SetCurrentType(const AM_MEDIA_TYPE* pmt);

    // IAMStreamConfig
    STDMETHOD(SetFormat)(AM_MEDIA_TYPE* pmt) override;
    STDMETHOD(GetFormat)(AM_MEDIA_TYPE** ppmt) override;
    STDMETHOD(GetNumberOfCapabilities)(int* piCount, int* piSize) override;
    STDMETHOD(GetStreamCaps)(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) override;

    // IAMBufferNegotiation: a host's buffer count and length for the next connections.
    STDMETHOD(SuggestAllocatorProperties)(const ALLOCATOR_PROPERTIES* pprop) override;
    STDMETHOD(GetAllocatorProperties)(ALLOCATOR_PROPERTIES* pprop) override;

    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
    STDMETHOD_(ULONG, AddRef)() override = 0;
    STDMETHOD_(ULONG, Release)() override = 0;

    CMType m_mtDefault;
    // The host's suggestion; a negative member means no preference.
    ALLOCATOR_PROPERTIES m_propsSuggested;

private:
    void DumpType(const AM_MEDIA_TYPE* pmt);
};
