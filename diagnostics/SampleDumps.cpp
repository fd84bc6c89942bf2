// Dumps of samples, their lag behind the clock, allocators, pins and delivery results.
#include "diagnostics/DSDumps.h"
#include "diagnostics/DSTrace.h"
#include "diagnostics/DumpPrefix.h"
#include "diagnostics/TextAppend.h"
#include "diagnostics/TextConverters.h"
#include "diagnostics/TextFormat.h"
#include "diagnostics/MediaTypeMemory.h"
#include "support/ComPtr.h"

#include <stddef.h>

namespace
{
// The part of AM_SAMPLE2_PROPERTIES up to and including the stream identifier.
const DWORD SAMPLE_PROPS_TO_STREAM_ID = offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId) + sizeof(DWORD);

UINT FlagOf(HRESULT hr) { return hr == S_OK ? 1 : 0; }

// The difference of reference times without overflow traps: wraps like the clock does.
REFERENCE_TIME TimeSum(REFERENCE_TIME a, REFERENCE_TIME b, REFERENCE_TIME c)
{
    return REFERENCE_TIME(ULONGLONG(a) + ULONGLONG(b) - ULONGLONG(c));
}
}

void Debug_Sample(DWORD dwCategory, UINT nLevel, IMediaSample* pSample, LPCWSTR pszPrefix, bool bBufferDetails)
{
    if (!DumpEnabled(dwCategory, nLevel))
        return;
    CDumpPrefix p(pszPrefix);
    if (pSample == nullptr)
    {
        DebugTrace(dwCategory, nLevel, L"###Err### %sEmpty sample pointer\n", p.Text());
        return;
    }
    // Written for every buffer the filter sends, so put together without printf.
    WCHAR sz1[REFTIME_STR_CCH], sz2[REFTIME_STR_CCH];
    CTraceLine trace(nLevel);
    CTextAppender& line = trace.Text();
    line.Text(p.Text());
    REFERENCE_TIME tS = 0, tE = 0;
    HRESULT hr = pSample->GetTime(&tS, &tE);
    if (hr == S_OK)
        line.Text(L"tS=").Text(RefTime2Str(tS, sz1)).Text(L"  tE=").Text(RefTime2Str(tE, sz2));
    else if (hr == VFW_S_NO_STOP_TIME)
        line.Text(L"tS=").Text(RefTime2Str(tS, sz1)).Text(L"  tE=? (0x").Hex(UINT(hr)).Char(L')');
    else
        line.Text(L"tS/tE=? (0x").Hex(UINT(hr)).Char(L')');

    line.Text(L"  ");
    LONGLONG mS = 0, mE = 0;
    hr = pSample->GetMediaTime(&mS, &mE);
    if (hr == S_OK)
        line.Text(L"mS=").Text(LongLong2Str(mS, sz1)).Text(L"  mE=").Text(LongLong2Str(mE, sz2));
    else
        line.Text(L"mS/mE=? (0x").Hex(UINT(hr)).Char(L')');

    line.Text(L" flags={")
        .Unsigned(FlagOf(pSample->IsSyncPoint()))
        .Unsigned(FlagOf(pSample->IsPreroll()))
        .Unsigned(FlagOf(pSample->IsDiscontinuity()))
        .Char(L'}');

    CComQIPtr<IMediaSample2> spSample2(pSample);
    if (spSample2)
    {
        AM_SAMPLE2_PROPERTIES props = {};
        if (SUCCEEDED(spSample2->GetProperties(SAMPLE_PROPS_TO_STREAM_ID, reinterpret_cast<BYTE*>(&props))))
            line.Text(L" TF=0x").Hex(UINT(props.dwTypeSpecificFlags)).Text(L" sId=0x").Hex(UINT(props.dwStreamId));
    }

    if (bBufferDetails)
    {
        BYTE* pb = nullptr;
        hr = pSample->GetPointer(&pb);
        long cbSize = pSample->GetSize();
        long cbActual = pSample->GetActualDataLength();
        line.Text(L" al=").Signed(int(cbActual)).Text(L" s=").Signed(int(cbSize));
        if (SUCCEEDED(hr))
            line.Text(L" p=0x").Hex(ULONGLONG(reinterpret_cast<UINT_PTR>(pb)), 2 * int(sizeof(void*)));
        else
            line.Text(L" p=? (0x").Hex(UINT(hr)).Char(L')');
    }
    line.Char(L'\n');
    trace.Write();

    AM_MEDIA_TYPE* pmt = nullptr;
    if (pSample->GetMediaType(&pmt) == S_OK && pmt != nullptr)
    {
        DebugTrace(dwCategory, nLevel, L"%sMedia type attached to sample:\n", p.Text());
        Debug_MediaType(dwCategory, nLevel, pmt, nullptr);
    }
    if (pmt != nullptr)
        MediaTypeFree(pmt);
}

void Debug_SampleLag(DWORD dwCategory, UINT nLevel, IMediaSample* pSample, REFERENCE_TIME tStart,
                     IReferenceClock* pRefClock, LPCWSTR pszPrefix)
{
    if (!DumpEnabled(dwCategory, nLevel))
        return;
    CDumpPrefix p(pszPrefix);
    if (pSample == nullptr)
    {
        DebugTrace(dwCategory, nLevel, L"###Err### %sDebug_SampleLag(): Empty pointer to IMediaSample\n", p.Text());
        return;
    }
    if (pRefClock == nullptr)
    {
        // Every buffer's line when the graph runs without a clock.
        CTraceLine trace(nLevel);
        trace.Text().Text(p.Text()).Text(L"Debug_SampleLag(): Reference Clock is not set\n");
        trace.Write();
        return;
    }
    REFERENCE_TIME tS = 0, tE = 0, c = 0;
    HRESULT hrSample = pSample->GetTime(&tS, &tE);
    HRESULT hrClock = pRefClock->GetTime(&c);
    LPCWSTR pszSuffix = (SUCCEEDED(hrClock) && hrClock != S_OK) ? L" (S_FALSE)" : L"";
    WCHAR sz1[REFTIME_STR_CCH], sz2[REFTIME_STR_CCH], sz3[REFTIME_STR_CCH], sz4[REFTIME_STR_CCH];
    if (FAILED(hrSample))
    {
        if (FAILED(hrClock))
            DebugTrace(dwCategory, nLevel, L"###Err### %spSample->GetTime()=0x%X, pRefClock->GetTime()=0x%X\n", p.Text(),
                       UINT(hrSample), UINT(hrClock));
        else
            DebugTrace(dwCategory, nLevel, L"%spSample->GetTime()=0x%X, shift=%s, clock=%s%s, tStart=%s\n", p.Text(),
                       UINT(hrSample), RefTime2Str(TimeSum(c, 0, tStart), sz1), RefTime2Str(c, sz2), pszSuffix,
                       RefTime2Str(tStart, sz3));
    }
    else if (FAILED(hrClock))
        DebugTrace(dwCategory, nLevel, L"###Err### %spRefClock->GetTime()=0x%X, tS=%s, tStart=%s\n", p.Text(),
                   UINT(hrClock), RefTime2Str(tS, sz1), RefTime2Str(tStart, sz2));
    else
    {
        // The line of every buffer sent against a clock: put together without printf.
        CTraceLine trace(nLevel);
        trace.Text()
            .Text(p.Text())
            .Text(L"Diff=").Text(RefTime2Str(TimeSum(tStart, tS, c), sz1))
            .Text(L", tS=").Text(RefTime2Str(tS, sz2))
            .Text(L", tStart=").Text(RefTime2Str(tStart, sz3))
            .Text(L", clock=").Text(RefTime2Str(c, sz4))
            .Text(pszSuffix)
            .Char(L'\n');
        trace.Write();
    }
}

void Debug_Allocator(DWORD dwCategory, UINT nLevel, IMemAllocator* pAllocator, LPCWSTR pszPrefix)
{
    if (!DumpEnabled(dwCategory, nLevel))
        return;
    CDumpPrefix p(pszPrefix);
    if (pAllocator == nullptr)
    {
        DebugTrace(dwCategory, nLevel, L"###Err### %sDebug_Allocator(): Empty allocator pointer\n", p.Text());
        return;
    }
    ALLOCATOR_PROPERTIES props = {};
    HRESULT hr = pAllocator->GetProperties(&props);
    if (FAILED(hr))
        DebugTrace(dwCategory, nLevel, L"###Err### %sDebug_Allocator(): pAllocator->GetProperties()=0x%X\n", p.Text(),
                   UINT(hr));
    else
        DebugTrace(dwCategory, nLevel, L"%sIMemAllocator=0x%p, props = { %i, %i, %i, %i }\n", p.Text(), pAllocator,
                   int(props.cBuffers), int(props.cbBuffer), int(props.cbAlign), int(props.cbPrefix));
}

void Debug_FilterFromPin(DWORD dwCategory, UINT nLevel, LPCWSTR pszPrefix, IPin* pPin)
{
    if (!DumpEnabled(dwCategory, nLevel))
        return;
    LPCWSTR p = pszPrefix != nullptr ? pszPrefix : L"";
    if (pPin == nullptr)
    {
        DebugTrace(dwCategory, nLevel, L"###Err### %sDebug_FilterFromPin(): Empty pin pointer\n", p);
        return;
    }
    PIN_INFO info = {};
    HRESULT hr = pPin->QueryPinInfo(&info);
    if (FAILED(hr))
    {
        DebugTrace(dwCategory, nLevel, L"###Err### %sDebug_FilterFromPin(): pPin->QueryPinInfo()=0x%X\n", p, UINT(hr));
        return;
    }
    CComPtr<IBaseFilter> spFilter;
    spFilter.Attach(info.pFilter);
    if (!spFilter)
    {
        DebugTrace(dwCategory, nLevel, L"###Err### %sDebug_FilterFromPin(): rgPinInfo.pFilter == NULL\n", p);
        return;
    }
    CLSID clsid = GUID_NULL;
    hr = spFilter->GetClassID(&clsid);
    if (FAILED(hr))
    {
        DebugTrace(dwCategory, nLevel, L"###Err### %sDebug_FilterFromPin(): pFilter->GetClassID()=0x%X\n", p, UINT(hr));
        return;
    }
    WCHAR szName[GUID_NAME_CCH];
    DebugTrace(dwCategory, nLevel, L"%sfilter [%s]\n", p, Guid2Name(clsid, szName, GUID_NAME_CCH));
}

void Debug_HResult(HRESULT hr, LPCWSTR pszObjectName, LPCWSTR pszCall)
{
    if (hr == S_OK)
        return;
    WCHAR szName[TRACE_LINE_CCH];
    int cch = 0;
    if (pszObjectName != nullptr)
        cch += FormatText(szName + cch, ARRAYSIZE(szName) - cch, L"%s ", pszObjectName);
    if (pszCall != nullptr)
        cch += FormatText(szName + cch, ARRAYSIZE(szName) - cch, L"%s=", pszCall);
    szName[cch] = 0;
    LPCWSTR pszCode = nullptr;
    switch (hr)
    {
    case S_FALSE: pszCode = L"S_FALSE"; break;
    case VFW_E_WRONG_STATE: pszCode = L"VFW_E_WRONG_STATE"; break;
    case VFW_E_NOT_COMMITTED: pszCode = L"VFW_E_NOT_COMMITTED"; break;
    case VFW_E_NOT_RUNNING: pszCode = L"VFW_E_NOT_RUNNING"; break;
    default: break;
    }
    if (pszCode != nullptr)
        DebugTrace(atlTraceGeneral, 4, L"### %s%s\n", szName, pszCode);
    else
        DebugTrace(atlTraceGeneral, 2, L"###Err### %s0x%X\n", szName, UINT(hr));
}
