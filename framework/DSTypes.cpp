// Media-type records: initialisation, deep copies and freeing in task memory.
#include "framework/DSTypes.h"

#include <cstring>

#include "diagnostics/DSTrace.h"
#include "diagnostics/MediaTypeMemory.h"

// Stringized here, before NULL and the format tags expand.
#define MT_ASSERT(expr) DebugAssert(!!(expr), "DSTypes", __LINE__, #expr)

void MTInit(AM_MEDIA_TYPE* pmt, const GUID* pMajor, const GUID* pSub)
{
    MT_ASSERT(pmt != NULL);
    if (pmt == nullptr)
        return;
    std::memset(pmt, 0, sizeof(*pmt));
    pmt->majortype = pMajor != nullptr ? *pMajor : GUID_NULL;
    pmt->subtype = pSub != nullptr ? *pSub : GUID_NULL;
    pmt->bFixedSizeSamples = TRUE;
    pmt->lSampleSize = 1;
}

BYTE* MTAllocFormat(ULONG cb, const void* pSrc)
{
    MT_ASSERT(cb > 0);
    if (cb == 0)
        return nullptr;
    BYTE* pb = static_cast<BYTE*>(CoTaskMemAlloc(cb));
    if (pb == nullptr)
    {
        DebugAssert(false, "DSTypes", __LINE__, "MTAllocFormat() : CoTaskMemAlloc() == NULL");
        return nullptr;
    }
    if (pSrc != nullptr)
        std::memcpy(pb, pSrc, cb);
    else
        std::memset(pb, 0, cb);
    return pb;
}

HRESULT MTCopyFormat(const AM_MEDIA_TYPE* pmt, BYTE** ppbFormat)
{
    MT_ASSERT(pmt != NULL);
    if (pmt == nullptr)
        return E_INVALIDARG;
    MT_ASSERT(ppbFormat != NULL);
    if (ppbFormat == nullptr)
        return E_POINTER;
    *ppbFormat = nullptr;
    if (pmt->pbFormat != nullptr)
    {
        MT_ASSERT(pmt->cbFormat != 0);
        if (pmt->cbFormat == 0)
            return E_UNEXPECTED;
        *ppbFormat = MTAllocFormat(pmt->cbFormat, pmt->pbFormat);
        return *ppbFormat != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    MT_ASSERT(pmt->cbFormat == 0);
    return pmt->cbFormat == 0 ? S_OK : E_UNEXPECTED;
}

HRESULT MTCopy(AM_MEDIA_TYPE* pDst, const AM_MEDIA_TYPE* pSrc)
{
    MT_ASSERT(pDst != NULL);
    if (pDst == nullptr)
        return E_INVALIDARG;
    BYTE* pbFormat = nullptr;
    HRESULT hr = MTCopyFormat(pSrc, &pbFormat);
    if (FAILED(hr))
        return hr;
    *pDst = *pSrc;
    pDst->pbFormat = pbFormat;
    if (pDst->pUnk != nullptr)
        pDst->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* MTDup(const AM_MEDIA_TYPE* pSrc)
{
    if (pSrc == nullptr)
        return nullptr;
    auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (pmt == nullptr)
    {
        DebugAssert(false, "DSTypes", __LINE__, "MTDup() : CoTaskMemAlloc() == NULL");
        return nullptr;
    }
    if (FAILED(MTCopy(pmt, pSrc)))
    {
        CoTaskMemFree(pmt);
        return nullptr;
    }
    return pmt;
}

void MTReset(AM_MEDIA_TYPE* pmt, const GUID* pMajor, const GUID* pSub)
{
    if (pmt == nullptr)
        return;
    MediaTypeFreeContents(pmt);
    MTInit(pmt, pMajor, pSub);
}

void MTFree(AM_MEDIA_TYPE* pmt)
{
    MediaTypeFree(pmt);
}

CMType::CMType(const GUID* pMajor, const GUID* pSub)
{
    MTInit(this, pMajor, pSub);
}

// The base holds owned pointers: it starts empty and Assign makes the deep copy.
CMType::CMType(const CMType& mt)  // NOLINT(bugprone-copy-constructor-init)
{
    MTInit(this);
    DebugAssert(SUCCEEDED(Assign(&mt)), "DSTypes", __LINE__, "CMType(const CMType& mt) FAILED");
}

CMType::~CMType()
{
    MediaTypeFreeContents(this);
}

CMType& CMType::operator=(const CMType& mt)
{
    if (this != &mt)
        Assign(&mt);
    return *this;
}

CMType& CMType::operator=(const AM_MEDIA_TYPE* pmt)
{
    Assign(pmt);
    return *this;
}

HRESULT CMType::Assign(const AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr)
    {
        Clear();
        return S_OK;
    }
    if (pmt == this)
        return S_OK;
    BYTE* pbCopy = nullptr;
    HRESULT hr = MTCopyFormat(pmt, &pbCopy);
    if (FAILED(hr))
        return hr;
    // The new reference first: the source may share our pUnk.
    if (pmt->pUnk != nullptr)
        pmt->pUnk->AddRef();
    MediaTypeFreeContents(this);
    *static_cast<AM_MEDIA_TYPE*>(this) = *pmt;
    pbFormat = pbCopy;
    return S_OK;
}

HRESULT CMType::Set(const GUID* pMajor, const GUID* pSub, const GUID* pFormatType, ULONG cb, const void* pb)
{
    BYTE* pbNew = nullptr;
    if (cb != 0)
    {
        pbNew = MTAllocFormat(cb, pb);
        if (pbNew == nullptr)
            return E_OUTOFMEMORY;
    }
    MTReset(this, pMajor, pSub);
    formattype = pFormatType != nullptr ? *pFormatType : GUID_NULL;
    cbFormat = cb;
    pbFormat = pbNew;
    return S_OK;
}

void CMType::Clear()
{
    MTReset(this);
}

HRESULT CMType::CopyTo(AM_MEDIA_TYPE** ppmt) const
{
    MT_ASSERT(ppmt != NULL);
    if (ppmt == nullptr)
        return E_POINTER;
    *ppmt = MTDup(this);
    return *ppmt != nullptr ? S_OK : E_FAIL;
}

WAVEFORMATEX* CMType::GetWaveFormat() const
{
    if (formattype != FORMAT_WaveFormatEx || pbFormat == nullptr)
        return nullptr;
    MT_ASSERT(cbFormat >= sizeof(WAVEFORMATEX));
    // A shorter block would be read past its end by every user of the result.
    if (cbFormat < sizeof(WAVEFORMATEX))
        return nullptr;
    return reinterpret_cast<WAVEFORMATEX*>(pbFormat);
}

BOOL CMType::IsValid() const
{
    return majortype != GUID_NULL;
}
