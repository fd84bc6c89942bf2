// The tone generator's output pin "Out": one current media type, the allocator request of
// 8 buffers of 40 ms, the capture pin category and IAMStreamConfig.
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
                        public CMTSingle
{
public:
    BEGIN_COM_MAP(CAudioSourceOut)
        COM_INTERFACE_ENTRY(IPin)
        COM_INTERFACE_ENTRY(IQualityControl)
        COM_INTERFACE_ENTRY(IKsPropertySet)
        COM_INTERFACE_ENTRY(IAMStreamConfig)
    END_COM_MAP()

    LPCWSTR ObjectName() override { return L"[Tonewell Out]"; }

    HRESULT FinalConstruct();
    void FinalRelease();

    // 8 buffers of 40 ms of the current type, alignment 1, no prefix.
    void AllocatorRequest(ALLOCATOR_PROPERTIES* pProps);

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

    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
    STDMETHOD_(ULONG, AddRef)() override = 0;
    STDMETHOD_(ULONG, Release)() override = 0;

    CMType m_mtDefault;

private:
    void DumpType(const AM_MEDIA_TYPE* pmt);
};
