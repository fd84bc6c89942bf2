// Wine's qedit filters, whose class identifiers the SDK headers here do not carry, and
// what tests do with the platform's filters.
#pragma once
#include <windows.h>
#include <dshow.h>

#include "support/ComPtr.h"

const CLSID kClsidNullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const CLSID kClsidSampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// A filter of the platform's by its class, or null.
inline CComPtr<IBaseFilter> NewPlatformFilter(REFCLSID clsid)
{
    CComPtr<IBaseFilter> spFilter;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&spFilter));
    return spFilter;
}

// A graph of the platform's filter graph manager, or null.
inline CComPtr<IGraphBuilder> NewPlatformGraph()
{
    CComPtr<IGraphBuilder> spGraph;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     reinterpret_cast<void**>(&spGraph));
    return spGraph;
}

// The filter's first pin of the direction, or null.
inline CComPtr<IPin> PinOf(IBaseFilter* pFilter, PIN_DIRECTION eDir)
{
    CComPtr<IEnumPins> spEnum;
    if (pFilter == nullptr || FAILED(pFilter->EnumPins(&spEnum)))
        return nullptr;
    for (;;)
    {
        CComPtr<IPin> spPin;
        if (spEnum->Next(1, &spPin, nullptr) != S_OK)
            return nullptr;
        PIN_DIRECTION ePinDir;
        if (SUCCEEDED(spPin->QueryDirection(&ePinDir)) && ePinDir == eDir)
            return spPin;
    }
}
