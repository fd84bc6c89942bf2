#include "framework/SampleSnapshot.h"

#include "diagnostics/DSParsers.h"
#include "framework/DSTypes.h"
#include "framework/TraceReport.h"
#include "support/ComPtr.h"

#include <stddef.h>
#include <string.h>

namespace
{
// Property block sizes read and written through IMediaSample2.
constexpr DWORD kPropsTypeFlags = offsetof(AM_SAMPLE2_PROPERTIES, dwTypeSpecificFlags) + sizeof(DWORD);
constexpr DWORD kPropsStreamId = offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId) + sizeof(DWORD);

DWORD PropsSize(WORD wMask) { return (wMask & PM_STREAMID) ? kPropsStreamId : kPropsTypeFlags; }

// A call that did not answer as expected: the error line (its one argument the result),
// the assertion, and the result to pass on.
HRESULT CallFailed(HRESULT hr, LPCWSTR pszLine, LPCSTR pszAssert, int nLine)
{
    DebugTrace(atlTraceGeneral, 2, pszLine, hr);
    DebugAssert(false, __FILE_NAME__, nLine, pszAssert);
    return FAILED(hr) ? hr : E_FAIL;
}

// The three flags, each with its query and setter and their failure texts.
struct CFlagProperty
{
    WORD wBit;
    BOOL CSampleT::*pbField;
    HRESULT (STDMETHODCALLTYPE IMediaSample::*pfnQuery)();
    LPCWSTR pszQueryLine;
    LPCSTR pszQueryAssert;
    HRESULT (STDMETHODCALLTYPE IMediaSample::*pfnSet)(BOOL);
    LPCWSTR pszSetLine;
    LPCSTR pszSetAssert;
};

const CFlagProperty kFlags[] = {
    {PM_SYNC, &CSampleT::m_bSyncPoint, &IMediaSample::IsSyncPoint, L"###Err### CSampleT::Load(): IsSyncPoint()=0x%X\n",
     "CSampleT::Load(): IsSyncPoint() FAILED", &IMediaSample::SetSyncPoint,
     L"###Err### CSampleT::Save(): SetSyncPoint()=0x%X\n", "CSampleT::Save(): SetSyncPoint() FAILED"},
    {PM_PREROLL, &CSampleT::m_bPreroll, &IMediaSample::IsPreroll, L"###Err### CSampleT::Load(): IsPreroll()=0x%X\n",
     "CSampleT::Load(): IsPreroll() FAILED", &IMediaSample::SetPreroll,
     L"###Err### CSampleT::Save(): SetPreroll()=0x%X\n", "CSampleT::Save(): SetPreroll() FAILED"},
    {PM_DISCONT, &CSampleT::m_bDiscontinuity, &IMediaSample::IsDiscontinuity,
     L"###Err### CSampleT::Load(): IsDiscontinuity()=0x%X\n", "CSampleT::Load(): IsDiscontinuity() FAILED",
     &IMediaSample::SetDiscontinuity, L"###Err### CSampleT::Save(): SetDiscontinuity()=0x%X\n",
     "CSampleT::Save(): SetDiscontinuity() FAILED"},
};
}

CSampleT::CSampleT() : m_pMediaType(nullptr) { Clear(); }

CSampleT::~CSampleT() { MTFree(m_pMediaType); }

void CSampleT::Clear()
{
    MTFree(m_pMediaType);
    m_pMediaType = nullptr;
    m_wMask = 0;
    m_tS = m_tE = 0;
    m_llMS = m_llME = 0;
    m_bSyncPoint = m_bPreroll = m_bDiscontinuity = FALSE;
    m_dwTypeFlags = 0;
    m_lActual = 0;
    m_pbBuf = nullptr;
    m_cbBuf = 0;
    m_dwStreamId = 0;
}

// ---------------------------------------------------------------- setters

void CSampleT::SetTime(REFERENCE_TIME tS, REFERENCE_TIME tE)
{
    DS_ASSERT(tE == (REFERENCE_TIME)MINLONGLONG || tE > tS);
    m_tS = tS;
    m_tE = tE;
    m_wMask |= PM_TSTART;
    if (tE == (REFERENCE_TIME)MINLONGLONG)
        m_wMask &= WORD(~PM_TSTOP);
    else
        m_wMask |= PM_TSTOP;
}

void CSampleT::SetMediaTime(LONGLONG llMS, LONGLONG llME)
{
    DS_ASSERT(llME >= llMS);
    m_llMS = llMS;
    m_llME = llME;
    m_wMask |= PM_MTIME;
}

void CSampleT::SetDiscontinuity(BOOL b)
{
    m_bDiscontinuity = b;
    m_wMask |= PM_DISCONT;
}

void CSampleT::SetActualDataLength(LONG l)
{
    m_lActual = l;
    m_wMask |= PM_ACTLEN;
}

HRESULT CSampleT::SetMediaType(const AM_MEDIA_TYPE* pmt)
{
    // Copied before the held record goes: pmt may be that very record.
    AM_MEDIA_TYPE* pNew = pmt != nullptr ? MTDup(pmt) : nullptr;
    MTFree(m_pMediaType);
    m_pMediaType = nullptr;
    m_wMask &= WORD(~PM_MTYPE);
    if (pmt == nullptr)
        return S_OK;
    if (pNew == nullptr)
        return E_OUTOFMEMORY;
    m_pMediaType = pNew;
    m_wMask |= PM_MTYPE;
    return S_OK;
}

// ---------------------------------------------------------------- load

HRESULT CSampleT::Load(IMediaSample* pSrc, WORD wMask)
{
    DS_ASSERT(pSrc != NULL);
    DS_ASSERT(wMask != 0);
    if (pSrc == nullptr || wMask == 0)
        return E_INVALIDARG;
    Clear();
    HRESULT hr;

    if (wMask & (PM_TSTART | PM_TSTOP))
    {
        hr = pSrc->GetTime(&m_tS, &m_tE);
        if (hr == S_OK)
        {
            m_wMask |= wMask & (PM_TSTART | PM_TSTOP);
            // A stop not after the start is repaired: consumers divide by the duration.
            WCHAR szS[REFTIME_STR_CCH], szE[REFTIME_STR_CCH];
            if (m_tE == m_tS)
            {
                DebugTrace(atlTraceGeneral, 8, L"### CSampleT::Load(): GetTime(): m_tE==m_tS=%s\n",
                           RefTime2Str(m_tS, szS));
                m_tE = m_tS + 1;
            }
            else if (m_tE < m_tS)
            {
                DebugTrace(atlTraceGeneral, 2, L"###Err### CSampleT::Load(): GetTime(): m_tS > m_tE,  m_tS=%s  m_tE=%s\n",
                           RefTime2Str(m_tS, szS), RefTime2Str(m_tE, szE));
                DS_REPORT("CSampleT::Load(): GetTime(): start time > end time ");
                m_tE = m_tS + 1;
            }
        }
        else if (hr == VFW_S_NO_STOP_TIME)
        {
            m_wMask |= wMask & PM_TSTART;
        }
        else
        {
            DebugTrace(atlTraceGeneral, 10, L"### CSampleT::Load(): GetTime()=0x%X\n", hr);
        }
    }

    if (wMask & PM_MTIME)
    {
        hr = pSrc->GetMediaTime(&m_llMS, &m_llME);
        if (hr == S_OK)
        {
            m_wMask |= PM_MTIME;
            WCHAR szS[REFTIME_STR_CCH], szE[REFTIME_STR_CCH];
            if (m_llME == m_llMS)
                DebugTrace(atlTraceGeneral, 8, L"### CSampleT::Load(): GetMediaTime(): m_llME==m_llMS=%s\n",
                           LongLong2Str(m_llMS, szS));
            else if (m_llME < m_llMS)
                DebugTrace(atlTraceGeneral, 2, L"###Err### CSampleT::Load(): GetMediaTime(): m_llMS=%s > m_llME=%s\n",
                           LongLong2Str(m_llMS, szS), LongLong2Str(m_llME, szE));
        }
        else
            DebugTrace(atlTraceGeneral, 10, L"### CSampleT::Load(): GetMediaTime()=0x%X\n", hr);
    }

    for (const CFlagProperty& f : kFlags)
    {
        if (!(wMask & f.wBit))
            continue;
        hr = (pSrc->*f.pfnQuery)();
        if (hr != S_OK && hr != S_FALSE)
            return CallFailed(hr, f.pszQueryLine, f.pszQueryAssert, __LINE__);
        this->*f.pbField = hr == S_OK;
        m_wMask |= f.wBit;
    }

    if (wMask & (PM_TYPEFLAGS | PM_STREAMID))
    {
        CComQIPtr<IMediaSample2> spMS2(pSrc);
        if (spMS2)
        {
            AM_SAMPLE2_PROPERTIES rgProps = {};
            DWORD cbData = PropsSize(wMask);
            rgProps.cbData = cbData;
            hr = spMS2->GetProperties(cbData, reinterpret_cast<BYTE*>(&rgProps));
            if (FAILED(hr) || rgProps.cbData < cbData)
            {
                DebugTrace(atlTraceGeneral, 2,
                           L"###Err### CSampleT::Load(): spMS2->GetProperties()=0x%X, cbData=%u, rgProps.cbData=%u\n", hr,
                           cbData, rgProps.cbData);
                DS_REPORT("CSampleT::Load(): spMS2->GetProperties() FAILED");
                return FAILED(hr) ? hr : E_FAIL;
            }
            if (wMask & PM_TYPEFLAGS)
            {
                m_dwTypeFlags = rgProps.dwTypeSpecificFlags;
                m_wMask |= PM_TYPEFLAGS;
            }
            if (wMask & PM_STREAMID)
            {
                m_dwStreamId = rgProps.dwStreamId;
                m_wMask |= PM_STREAMID;
            }
        }
    }

    if (wMask & PM_MTYPE)
    {
        AM_MEDIA_TYPE* pmt = nullptr;
        hr = pSrc->GetMediaType(&pmt);
        if (hr == S_OK && pmt != nullptr)
        {
            m_pMediaType = pmt;
            m_wMask |= PM_MTYPE;
        }
        else if (hr == S_OK)
        {
            DebugTrace(atlTraceGeneral, 2, L"###Err### CSampleT::Load(): GetMediaType()=S_OK, pMT=NULL\n");
            DS_REPORT("CSampleT::Load(): GetMediaType()=S_OK, pMT=NULL");
            return E_FAIL;
        }
    }

    if (wMask & (PM_BUFF | PM_ACTLEN))
    {
        LONG lActual = pSrc->GetActualDataLength();
        if (wMask & PM_BUFF)
        {
            hr = pSrc->GetPointer(&m_pbBuf);
            if (hr == S_OK && m_pbBuf != nullptr)
            {
                m_cbBuf = pSrc->GetSize();
                if (m_cbBuf > 0)
                {
                    m_wMask |= PM_BUFF;
                }
                else
                {
                    DebugTrace(atlTraceGeneral, 2, L"###Err### CSampleT::Load(): GetPointer()/GetSize(), pbBuf=0x%X, cbBuf==0\n",
                               DWORD(DWORD_PTR(m_pbBuf)));
                    m_pbBuf = nullptr;
                }
            }
            else if (hr == S_OK)
            {
                if (lActual != 0)
                    DebugTrace(atlTraceGeneral, 2, L"###Err### CSampleT::Load(): GetPointer()=S_OK, pbBuf==NULL\n");
            }
            else
            {
                DebugTrace(atlTraceGeneral, 2, L"###Err### CSampleT::Load(): GetPointer()=0x%X\n", hr);
                m_pbBuf = nullptr;
            }
        }
        if (wMask & PM_ACTLEN)
        {
            if (Has(PM_BUFF) && lActual > m_cbBuf)
            {
                DebugTrace(atlTraceGeneral, 2, L"###Err### CSampleT::Load(): GetActualDataLength()=%i, cbBuf=%i\n", lActual,
                           m_cbBuf);
                DS_REPORT("CSampleT::Load(): GetActualDataLength() > buffer size");
                return E_FAIL;
            }
            m_lActual = lActual;
            m_wMask |= PM_ACTLEN;
        }
    }

    if (m_wMask == 0)
    {
        DebugTrace(atlTraceGeneral, 2, L"###Err### CSampleT::Load(): Can't load wanted (0x%x) properties\n", wMask);
        return E_FAIL;
    }
    if (wMask == PM_ALL || wMask == m_wMask)
        return S_OK;
    DebugTrace(atlTraceGeneral, 10, L"CSampleT::Load(): Not all wanted properties was loaded: wanted 0x%X, loaded 0x%X\n",
               wMask, m_wMask);
    return S_FALSE;
}

// ---------------------------------------------------------------- save

HRESULT CSampleT::Save(IMediaSample* pDst, WORD wMask)
{
    DS_ASSERT(pDst != NULL);
    if (pDst == nullptr)
        return E_INVALIDARG;
    const WORD w = wMask & m_wMask;
    if (w == 0)
    {
        if (m_wMask != 0)
        {
            DebugTrace(atlTraceGeneral, 8, L"CSampleT::Save(): Can't save wanted properties: wanted 0x%X, exist 0x%X\n",
                       wMask, m_wMask);
            return S_FALSE;
        }
        DebugTrace(atlTraceGeneral, 2, L"###Err### CSampleT::Save(): sample not loaded yet\n");
        DS_REPORT("CSampleT::Save(): sample not loaded yet");
        return E_FAIL;
    }
    HRESULT hr;

    if (w & (PM_TYPEFLAGS | PM_STREAMID))
    {
        CComQIPtr<IMediaSample2> spMS2(pDst);
        if (!spMS2)
        {
            DebugTrace(atlTraceGeneral, 2, L"###Err### CSampleT::Save(): QI( IMediaSample2 ) FAILED\n");
            DS_REPORT("CSampleT::Save(): QI( IMediaSample2 ) FAILED");
            return E_NOINTERFACE;
        }
        // The other fields of the block go back as read.
        const DWORD cbData = PropsSize(w);
        AM_SAMPLE2_PROPERTIES rgProps = {};
        hr = spMS2->GetProperties(cbData, reinterpret_cast<BYTE*>(&rgProps));
        if (hr != S_OK)
            return CallFailed(hr, L"###Err### CSampleT::Save(): spMS2->GetProperties()=0x%X\n",
                              "CSampleT::Save(): spMS2->GetProperties() FAILED", __LINE__);
        rgProps.cbData = cbData;
        if (w & PM_TYPEFLAGS)
            rgProps.dwTypeSpecificFlags = m_dwTypeFlags;
        if (w & PM_STREAMID)
            rgProps.dwStreamId = m_dwStreamId;
        hr = spMS2->SetProperties(cbData, reinterpret_cast<const BYTE*>(&rgProps));
        if (hr != S_OK)
            return CallFailed(hr, L"###Err### CSampleT::Save(): spMS2->SetProperties()=0x%X\n",
                              "CSampleT::Save(): spMS2->SetProperties() FAILED", __LINE__);
    }

    if (w & PM_TSTART)
    {
        hr = pDst->SetTime(&m_tS, (w & PM_TSTOP) ? &m_tE : nullptr);
        if (hr != S_OK)
            return CallFailed(hr, L"###Err### CSampleT::Save(): SetTime()=0x%X\n", "CSampleT::Save(): SetTime() FAILED",
                              __LINE__);
    }
    if (w & PM_MTIME)
    {
        hr = pDst->SetMediaTime(&m_llMS, &m_llME);
        if (hr != S_OK)
            return CallFailed(hr, L"###Err### CSampleT::Save(): SetMediaTime()=0x%X\n",
                              "CSampleT::Save(): SetMediaTime() FAILED", __LINE__);
    }
    for (const CFlagProperty& f : kFlags)
    {
        if (!(w & f.wBit))
            continue;
        hr = (pDst->*f.pfnSet)(this->*f.pbField);
        if (hr != S_OK)
            return CallFailed(hr, f.pszSetLine, f.pszSetAssert, __LINE__);
    }
    if (w & PM_MTYPE)
    {
        hr = pDst->SetMediaType(m_pMediaType);
        if (hr != S_OK)
            return CallFailed(hr, L"###Err### CSampleT::Save(): SetMediaType()=0x%X\n",
                              "CSampleT::Save(): SetMediaType() FAILED", __LINE__);
    }
    if (w & (PM_BUFF | PM_ACTLEN))
    {
        // The copy reads m_lActual bytes of the loaded buffer: never more than it holds.
        if ((w & PM_BUFF) && (m_lActual < 0 || m_lActual > m_cbBuf))
        {
            DebugTrace(atlTraceGeneral, 2, L"###Err### CSampleT::Save(): actual length %i, cbBuf=%i\n", m_lActual,
                       m_cbBuf);
            DS_REPORT("CSampleT::Save(): actual length > buffer size");
            return E_INVALIDARG;
        }
        return CSampleCopier::CopyBuffer(pDst, m_pbBuf, m_lActual, w);
    }
    return S_OK;
}

// ---------------------------------------------------------------- payload

HRESULT CSampleCopier::CopyBuffer(IMediaSample* pDst, const BYTE* pbSrc, LONG lActual, WORD wMask)
{
    WORD w = wMask & (PM_BUFF | PM_ACTLEN);
    if (w & PM_BUFF)
    {
        DS_ASSERT(pbSrc != NULL);
        DS_ASSERT(wMask & PM_ACTLEN);
        if (pbSrc == nullptr || !(w & PM_ACTLEN))
            return E_INVALIDARG;
    }
    if ((w & PM_ACTLEN) && lActual == 0)
        w &= WORD(~PM_BUFF);
    if (w == 0)
        return S_OK;
    DS_ASSERT(pDst != NULL);
    DS_ASSERT(lActual >= 0);
    if (pDst == nullptr || lActual < 0)
        return E_INVALIDARG;

    BYTE* pbDst = nullptr;
    HRESULT hr;
    if (lActual != 0)
    {
        hr = pDst->GetPointer(&pbDst);
        if (FAILED(hr))
            return CallFailed(hr, L"###Err### CSampleCopier::CopyBuffer(): GetPointer()=0x%X\n",
                              "CSampleCopier::CopyBuffer(): GetPointer() FAILED", __LINE__);
        if (pbDst == nullptr)
            return CallFailed(hr, L"###Err### CSampleCopier::CopyBuffer(): GetPointer()=S_OK, pbDst==NULL\n",
                              "CSampleCopier::CopyBuffer(): GetPointer()=S_OK, pbDst==NULL", __LINE__);
        LONG cbDst = pDst->GetSize();
        if (cbDst < lActual)
        {
            DebugTrace(atlTraceGeneral, 2, L"###Err### CSampleCopier::CopyBuffer(): GetSize()=%i, lActual=%i\n", cbDst,
                       lActual);
            DS_REPORT("CSampleCopier::CopyBuffer(): GetSize() < actual data length");
            return E_FAIL;
        }
    }
    hr = pDst->SetActualDataLength(lActual);
    if (hr != S_OK)
    {
        DebugTrace(atlTraceGeneral, 2, L"###Err### CSampleCopier::CopyBuffer(): SetActualDataLength( %i )=0x%X\n", lActual,
                   hr);
        DS_REPORT("CSampleCopier::CopyBuffer(): SetActualDataLength() FAILED");
        return FAILED(hr) ? hr : E_FAIL;
    }
    // Filled in place when source and destination are the same buffer.
    if ((w & PM_BUFF) && pbDst != pbSrc)
        memcpy(pbDst, pbSrc, size_t(lActual));
    return S_OK;
}
