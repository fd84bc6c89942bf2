#include "framework/MediaSample.h"

#include "diagnostics/DSParsers.h"
#include "framework/DSTypes.h"

#include <stddef.h>
#include <string.h>

namespace
{
LPCWSTR BoolText(BOOL b) { return b ? L"TRUE" : L"FALSE"; }

// Low 32 bits of an address, as the entry lines print it.
DWORD AddressText(const void* p) { return DWORD(DWORD_PTR(p)); }

// A time or media time for an entry line; pszAbsent when there is none. Only lines above the
// build's trace level use them, and those lines are left out of the build.
[[maybe_unused]] LPCWSTR TimeText(bool bPresent, REFERENCE_TIME t, LPWSTR psz, LPCWSTR pszAbsent = L"???")
{
    return bPresent ? RefTime2Str(t, psz) : pszAbsent;
}
[[maybe_unused]] LPCWSTR CountText(bool bPresent, LONGLONG ll, LPWSTR psz, LPCWSTR pszAbsent = L"???")
{
    return bPresent ? LongLong2Str(ll, psz) : pszAbsent;
}

// Whether the first cb bytes of a property block hold the field ending at cbEnd.
constexpr bool Takes(DWORD cb, size_t cbEnd) { return cb >= cbEnd; }

constexpr size_t kEndTypeFlags = offsetof(AM_SAMPLE2_PROPERTIES, dwTypeSpecificFlags) + sizeof(DWORD);
constexpr size_t kEndFlags = offsetof(AM_SAMPLE2_PROPERTIES, dwSampleFlags) + sizeof(DWORD);
constexpr size_t kEndActual = offsetof(AM_SAMPLE2_PROPERTIES, lActual) + sizeof(LONG);
constexpr size_t kEndStart = offsetof(AM_SAMPLE2_PROPERTIES, tStart) + sizeof(REFERENCE_TIME);
constexpr size_t kEndStop = offsetof(AM_SAMPLE2_PROPERTIES, tStop) + sizeof(REFERENCE_TIME);
constexpr size_t kEndStreamId = offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId) + sizeof(DWORD);
constexpr size_t kEndMediaType = offsetof(AM_SAMPLE2_PROPERTIES, pMediaType) + sizeof(void*);
constexpr size_t kEndBuffer = offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer) + sizeof(void*);
constexpr size_t kEndSize = offsetof(AM_SAMPLE2_PROPERTIES, cbBuffer) + sizeof(LONG);
static_assert(sizeof(AM_SAMPLE2_PROPERTIES) == 64 && kEndMediaType == 48 && kEndSize == 60);
}

IMediaSample2Wrapper::~IMediaSample2Wrapper()
{
    FreeMediaType();
}

void IMediaSample2Wrapper::FreeMediaType()
{
    MTFree(m_pMediaType);
    m_pMediaType = nullptr;
}

void IMediaSample2Wrapper::AttachBuffer(BYTE* pBuffer, LONG cbBuffer)
{
    DS_ASSERT((m_pBuffer != NULL && m_cbBuffer != 0) || (m_pBuffer == NULL && m_cbBuffer == 0));
    m_pBuffer = pBuffer;
    m_cbBuffer = cbBuffer;
}

// ---------------------------------------------------------------- buffer

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::GetPointer(BYTE** ppBuffer)
{
    DebugTrace(atlTraceCOM, 12, L"%s IMediaSample::GetPointer(): pBuffer=0x%X\n", ObjectName(),
               AddressText(m_pBuffer));
    DS_ASSERT(ppBuffer != NULL);
    if (ppBuffer == nullptr)
        return E_POINTER;
    *ppBuffer = m_pBuffer;
    DS_ASSERT(m_pBuffer != NULL);
    return m_pBuffer != nullptr ? S_OK : E_FAIL;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP_(LONG) IMediaSample2Wrapper::GetSize()
{
    DebugTrace(atlTraceCOM, 12, L"%s IMediaSample::GetSize(): cbBuffer=%u (0x%X)\n", ObjectName(), m_cbBuffer,
               m_cbBuffer);
    return m_cbBuffer;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP_(LONG) IMediaSample2Wrapper::GetActualDataLength()
{
    DebugTrace(atlTraceCOM, 12, L"%s IMediaSample::GetActualDataLength(): cbActual=%u\n", ObjectName(), m_lActual);
    return m_lActual;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::SetActualDataLength(LONG lLen)
{
    DebugTrace(atlTraceCOM, 10, L"%s IMediaSample::SetActualDataLength( %u )\n", ObjectName(), lLen);
    if (lLen > m_cbBuffer)
    {
        DS_REPORT("Actual sample's data length greater then buffer size");
        return VFW_E_BUFFER_OVERFLOW;
    }
    // A negative length would read as a huge one to any consumer.
    DS_ASSERT(lLen >= 0);
    if (lLen < 0)
        return E_INVALIDARG;
    m_lActual = lLen;
    return S_OK;
}

// ---------------------------------------------------------------- times

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd)
{
    if constexpr (TraceLevelOn(12))
    {
        WCHAR szS[REFTIME_STR_CCH], szE[REFTIME_STR_CCH];
        const bool bStart = (m_dwFlags & AM_SAMPLE_TIMEVALID) != 0;
        const bool bStop = (m_dwFlags & AM_SAMPLE_STOPVALID) != 0;
        DebugTrace(atlTraceCOM, 12, L"%s IMediaSample::GetTime(), tS=%s  tE=%s\n", ObjectName(),
                   TimeText(bStart, m_tStart, szS), TimeText(bStop || bStart, bStop ? m_tStop : m_tStart + 1, szE));
    }
    DS_ASSERT(pTimeStart != NULL);
    DS_ASSERT(pTimeEnd != NULL);
    if (pTimeStart == nullptr || pTimeEnd == nullptr)
        return E_INVALIDARG;
    if (m_dwFlags & AM_SAMPLE_STOPVALID)
    {
        *pTimeStart = m_tStart;
        *pTimeEnd = m_tStop;
        return S_OK;
    }
    if (m_dwFlags & AM_SAMPLE_TIMEVALID)
    {
        *pTimeStart = m_tStart;
        *pTimeEnd = m_tStart + 1;
        return VFW_S_NO_STOP_TIME;
    }
    return VFW_E_SAMPLE_TIME_NOT_SET;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd)
{
    WCHAR szS[REFTIME_STR_CCH], szE[REFTIME_STR_CCH];
    if constexpr (TraceLevelOn(12))
        DebugTrace(atlTraceCOM, 12, L"%s IMediaSample::SetTime( tS=%s  tE=%s )\n", ObjectName(),
                   TimeText(pTimeStart != nullptr, pTimeStart ? *pTimeStart : 0, szS),
                   TimeText(pTimeEnd != nullptr, pTimeEnd ? *pTimeEnd : 0, szE));
    if (pTimeStart == nullptr)
    {
        DS_ASSERT(pTimeEnd == NULL);
        m_dwFlags &= ~(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
        m_tStart = m_tStop = 0;
        return S_OK;
    }
    if (pTimeEnd == nullptr)
    {
        m_dwFlags &= ~AM_SAMPLE_STOPVALID;
        m_tStop = 0;
        m_tStart = *pTimeStart;
        m_dwFlags |= AM_SAMPLE_TIMEVALID;
        return S_OK;
    }
    if (*pTimeEnd < *pTimeStart)
    {
        DebugTrace(atlTraceGeneral, 2, L"###Err### %s IMediaSample::SetTime( tS=%s, tE=%s )\n", ObjectName(),
                   RefTime2Str(*pTimeStart, szS), RefTime2Str(*pTimeEnd, szE));
        return E_INVALIDARG;
    }
    m_tStop = *pTimeEnd;
    m_dwFlags |= AM_SAMPLE_STOPVALID;
    m_tStart = *pTimeStart;
    m_dwFlags |= AM_SAMPLE_TIMEVALID;
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd)
{
    if constexpr (TraceLevelOn(12))
    {
        WCHAR szS[REFTIME_STR_CCH], szE[REFTIME_STR_CCH];
        const bool bValid = (m_dwFlags & SAMPLE_MEDIATIMEVALID) != 0;
        DebugTrace(atlTraceCOM, 12, L"%s IMediaSample::GetMediaTime(): mS=%s, mE=%s\n", ObjectName(),
                   CountText(bValid, m_llMediaStart, szS), CountText(bValid, m_llMediaStop, szE));
    }
    DS_ASSERT(pTimeStart != NULL);
    DS_ASSERT(pTimeEnd != NULL);
    if (pTimeStart == nullptr || pTimeEnd == nullptr)
        return E_INVALIDARG;
    if (m_dwFlags & SAMPLE_MEDIATIMEVALID)
    {
        *pTimeStart = m_llMediaStart;
        *pTimeEnd = m_llMediaStop;
        return S_OK;
    }
    *pTimeStart = *pTimeEnd = 0;
    return VFW_E_MEDIA_TIME_NOT_SET;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd)
{
    WCHAR szS[REFTIME_STR_CCH], szE[REFTIME_STR_CCH];
    if constexpr (TraceLevelOn(12))
        DebugTrace(atlTraceCOM, 12, L"%s IMediaSample::SetMediaTime( mS=%s, mE=%s )\n", ObjectName(),
                   CountText(pTimeStart != nullptr, pTimeStart ? *pTimeStart : 0, szS, L"NULL"),
                   CountText(pTimeStart && pTimeEnd, pTimeEnd ? *pTimeEnd : 0, szE, L"NULL"));
    if (pTimeStart == nullptr)
    {
        DS_ASSERT(pTimeEnd == NULL);
        m_dwFlags &= ~SAMPLE_MEDIATIMEVALID;
        m_llMediaStart = m_llMediaStop = 0;
        return S_OK;
    }
    DS_ASSERT(pTimeEnd != NULL);
    if (pTimeEnd == nullptr)
        return E_INVALIDARG;
    if (*pTimeEnd == *pTimeStart)
        DebugTrace(atlTraceGeneral, 8, L"### %s SetMediaTime(): *pTimeEnd == *pTimeStart = %s\n", ObjectName(),
                   LongLong2Str(*pTimeStart, szS));
    else if (*pTimeEnd < *pTimeStart)
        DebugTrace(atlTraceGeneral, 2, L"###Err### %s SetMediaTime(): *pTimeEnd=%s < *pTimeStart=%s\n", ObjectName(),
                   LongLong2Str(*pTimeEnd, szE), LongLong2Str(*pTimeStart, szS));
    // A reversed pair is kept as given: media times are the stream's own business.
    m_llMediaStart = *pTimeStart;
    m_llMediaStop = *pTimeEnd;
    m_dwFlags |= SAMPLE_MEDIATIMEVALID;
    return S_OK;
}

// ---------------------------------------------------------------- flags

HRESULT IMediaSample2Wrapper::TestFlag(DWORD dwFlag, LPCWSTR pszFormat)
{
    BOOL bSet = (m_dwFlags & dwFlag) != 0;
    DebugTrace(atlTraceCOM, 12, pszFormat, ObjectName(), BoolText(bSet));
    return bSet ? S_OK : S_FALSE;
}

HRESULT IMediaSample2Wrapper::SetFlag(DWORD dwFlag, BOOL bSet, LPCWSTR pszFormat)
{
    DebugTrace(atlTraceCOM, 10, pszFormat, ObjectName(), BoolText(bSet));
    if (bSet)
        m_dwFlags |= dwFlag;
    else
        m_dwFlags &= ~dwFlag;
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::IsSyncPoint()
{
    return TestFlag(AM_SAMPLE_SPLICEPOINT, L"%s IMediaSample::IsSyncPoint(): %s\n");
}

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::SetSyncPoint(BOOL bIsSyncPoint)
{
    return SetFlag(AM_SAMPLE_SPLICEPOINT, bIsSyncPoint, L"%s IMediaSample::SetSyncPoint( %s )\n");
}

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::IsPreroll()
{
    return TestFlag(AM_SAMPLE_PREROLL, L"%s IMediaSample::IsPreroll(): %s\n");
}

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::SetPreroll(BOOL bIsPreroll)
{
    return SetFlag(AM_SAMPLE_PREROLL, bIsPreroll, L"%s IMediaSample::SetPreroll( %s )\n");
}

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::IsDiscontinuity()
{
    return TestFlag(AM_SAMPLE_DATADISCONTINUITY, L"%s IMediaSample::IsDiscontinuity(): current is %s\n");
}

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::SetDiscontinuity(BOOL bDiscontinuity)
{
    return SetFlag(AM_SAMPLE_DATADISCONTINUITY, bDiscontinuity, L"%s IMediaSample::SetDiscontinuity( %s )\n");
}

// ---------------------------------------------------------------- media type

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::GetMediaType(AM_MEDIA_TYPE** ppMediaType)
{
    DebugTrace(atlTraceCOM, 12, L"%s IMediaSample::GetMediaType()\n", ObjectName());
    DS_ASSERT(ppMediaType != NULL);
    if (ppMediaType == nullptr)
        return E_POINTER;
    if (m_dwFlags & AM_SAMPLE_TYPECHANGED)
    {
        DS_ASSERT(m_pMediaType != NULL);
        *ppMediaType = MTDup(m_pMediaType);
        return *ppMediaType != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    DS_ASSERT(m_pMediaType == NULL);
    *ppMediaType = nullptr;
    return S_FALSE;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::SetMediaType(AM_MEDIA_TYPE* pMediaType)
{
    if (pMediaType != nullptr)
    {
        DebugTrace(atlTraceCOM, 8, L"%s IMediaSample::SetMediaType()\n", ObjectName());
        Debug_MediaType(atlTraceGeneral, 8, pMediaType);
    }
    else if (m_pMediaType != nullptr)
        DebugTrace(atlTraceCOM, 8, L"%s IMediaSample::SetMediaType( NULL )\n", ObjectName());
    // Copied before the attached record goes: the caller may pass that very record, as
    // IMediaSample2::GetProperties hands it out.
    AM_MEDIA_TYPE* pNew = pMediaType != nullptr ? MTDup(pMediaType) : nullptr;
    MTFree(m_pMediaType);
    m_pMediaType = nullptr;
    m_dwFlags &= ~AM_SAMPLE_TYPECHANGED;
    if (pMediaType == nullptr)
        return S_OK;
    if (pNew == nullptr)
        return E_OUTOFMEMORY;
    m_pMediaType = pNew;
    m_dwFlags |= AM_SAMPLE_TYPECHANGED;
    return S_OK;
}

// ---------------------------------------------------------------- property block

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::GetProperties(DWORD cbProperties, BYTE* pbProperties)
{
    DebugTrace(atlTraceCOM, 12, L"%s IMediaSample2::GetProperties( cbProps=%u )\n", ObjectName(), cbProperties);
    if (cbProperties == 0)
        return S_OK;
    DS_ASSERT(pbProperties != NULL);
    if (pbProperties == nullptr)
        return E_POINTER;
    AM_SAMPLE2_PROPERTIES props = {};
    DWORD cb = cbProperties < sizeof(props) ? cbProperties : DWORD(sizeof(props));
    props.cbData = cb;
    props.dwTypeSpecificFlags = m_dwTypeSpecificFlags;
    props.dwSampleFlags = m_dwFlags & ~SAMPLE_MEDIATIMEVALID;
    props.lActual = m_lActual;
    props.tStart = m_tStart;
    props.tStop = m_tStop;
    props.dwStreamId = m_dwStreamId;
    props.pMediaType = (m_dwFlags & AM_SAMPLE_TYPECHANGED) ? m_pMediaType : nullptr;
    props.pbBuffer = m_pBuffer;
    props.cbBuffer = m_cbBuffer;
    memcpy(pbProperties, &props, cb);
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP IMediaSample2Wrapper::SetProperties(DWORD cbProperties, const BYTE* pbProperties)
{
    DebugTrace(atlTraceCOM, 12, L"%s IMediaSample2::SetProperties( cbProps=%u, pbProps=0x%X )\n", ObjectName(),
               cbProperties, AddressText(pbProperties));
    if (cbProperties < kEndTypeFlags)
        return S_OK;
    DS_ASSERT(pbProperties != NULL);
    if (pbProperties == nullptr)
        return E_POINTER;
    // Only the bytes the caller declared are read.
    AM_SAMPLE2_PROPERTIES props = {};
    memcpy(&props, pbProperties, cbProperties < sizeof(props) ? cbProperties : sizeof(props));
    DWORD cb = cbProperties < props.cbData ? cbProperties : props.cbData;
    if (cb > sizeof(props))
        return E_INVALIDARG;

    DWORD dwFlags = Takes(cb, kEndFlags) ? props.dwSampleFlags : 0;
    if (Takes(cb, kEndFlags) && (dwFlags & ~SAMPLE_FLAGS_ACCEPTED))
        return E_INVALIDARG;
    if (!Takes(cb, kEndStop) && (dwFlags & AM_SAMPLE_TIMEVALID) && !(m_dwFlags & AM_SAMPLE_STOPVALID))
        return E_INVALIDARG;
    // The length is held to the buffer here as in SetActualDataLength.
    if (Takes(cb, kEndActual) && (props.lActual < 0 || props.lActual > m_cbBuffer))
        return E_INVALIDARG;
    if (Takes(cb, kEndBuffer) && props.pbBuffer != nullptr && props.pbBuffer != m_pBuffer)
        return E_INVALIDARG;
    if (Takes(cb, kEndSize) && props.cbBuffer != 0 && props.cbBuffer != m_cbBuffer)
        return E_INVALIDARG;
    if (Takes(cb, kEndSize) && props.cbBuffer < props.lActual)
        return E_INVALIDARG;

    if (Takes(cb, kEndMediaType))
    {
        if (dwFlags & AM_SAMPLE_TYPECHANGED)
        {
            // Copied before the attached record goes: the block may carry that very record.
            AM_MEDIA_TYPE* pNew = nullptr;
            if (props.pMediaType != nullptr)
            {
                DebugTrace(atlTraceGeneral, 8, L"%s IMediaSample2::SetProperties(): received new media type\n",
                           ObjectName());
                Debug_MediaType(atlTraceGeneral, 8, props.pMediaType);
                pNew = MTDup(props.pMediaType);
            }
            MTFree(m_pMediaType);
            m_pMediaType = pNew;
            if (props.pMediaType != nullptr && pNew == nullptr)
            {
                m_dwFlags &= ~AM_SAMPLE_TYPECHANGED;
                return E_OUTOFMEMORY;
            }
            if (props.pMediaType == nullptr)
            {
                DebugTrace(atlTraceGeneral, 2,
                           L"###Err### %s IMediaSample2::SetProperties(): AM_SAMPLE_TYPECHANGED flag is set for "
                           L"pProps->pMediaType = NULL, clear flag\n",
                           ObjectName());
                dwFlags &= ~AM_SAMPLE_TYPECHANGED;
            }
        }
        else if (props.pMediaType != nullptr)
        {
            DebugTrace(atlTraceGeneral, 4,
                       L"### %s IMediaSample2::SetProperties(): mediatype without AM_SAMPLE_TYPECHANGED flag is set - "
                       L"ignore it\n",
                       ObjectName());
            Debug_MediaType(atlTraceGeneral, 8, props.pMediaType);
        }
    }
    else if ((dwFlags & AM_SAMPLE_TYPECHANGED) && m_pMediaType == nullptr)
    {
        dwFlags &= ~AM_SAMPLE_TYPECHANGED;
    }
    if (m_pMediaType != nullptr)
        dwFlags |= AM_SAMPLE_TYPECHANGED;

    if (Takes(cb, kEndTypeFlags))
        m_dwTypeSpecificFlags = props.dwTypeSpecificFlags;
    if (Takes(cb, kEndFlags))
        m_dwFlags = dwFlags | (m_dwFlags & SAMPLE_MEDIATIMEVALID);
    if (Takes(cb, kEndActual))
        m_lActual = props.lActual;
    if (Takes(cb, kEndStart))
        m_tStart = props.tStart;
    if (Takes(cb, kEndStop))
        m_tStop = props.tStop;
    if (Takes(cb, kEndStreamId))
        m_dwStreamId = props.dwStreamId;
    Debug_SampleProps(cb);
    return S_OK;
}

void IMediaSample2Wrapper::Debug_SampleProps(DWORD cbProps) const
{
    if constexpr (!TraceLevelOn(12))
        return;
    WCHAR szText[256] = L"";
    WCHAR szTime[REFTIME_STR_CCH];
    size_t cch = 0;
    auto append = [&](LPCWSTR pszFormat, auto value) {
        int n = _snwprintf(szText + cch, 255 - cch, pszFormat, value);
        if (n > 0)
            cch += size_t(n);
    };
    if (Takes(cbProps, kEndTypeFlags))
        append(L"TypeFlags=0x%X", m_dwTypeSpecificFlags);
    if (Takes(cbProps, kEndFlags))
        append(L", SampleFlags=0x%X", m_dwFlags);
    if (Takes(cbProps, kEndActual))
        append(L", cbActual=0x%X", m_lActual);
    if (Takes(cbProps, kEndStart))
        append(L", tS=%s", RefTime2Str(m_tStart, szTime));
    if (Takes(cbProps, kEndStop))
        append(L", tE=%s", RefTime2Str(m_tStop, szTime));
    if (Takes(cbProps, kEndStreamId))
        append(L", StreamId=0x%X", m_dwStreamId);
    DebugTrace(atlTraceCOM, 12, L"Properties: %s\n", szText);
    if (Takes(cbProps, kEndMediaType))
        Debug_MediaType(atlTraceCOM, 12, m_pMediaType);
}

// ---------------------------------------------------------------- COM identity

HRESULT CMediaSample::FinalConstruct()
{
    DebugTrace(atlTraceGeneral, 10, L"%s FinalConstruct\n", ObjectName());
    return S_OK;
}

void CMediaSample::FinalRelease()
{
    DebugTrace(atlTraceGeneral, 10, L"%s FinalRelease\n", ObjectName());
}
