// Media-type records (AM_MEDIA_TYPE) with their ownership rules, and PCM format helpers.
//
// Ownership, binding for every user of these records:
// - pbFormat is null with cbFormat 0, or a CoTaskMemAlloc block of exactly cbFormat bytes
//   that the record owns; copying a record that breaks this fails.
// - a non-null pUnk is a counted reference: a copy adds one, freeing or overwriting releases it.
// - a record handed out to a caller is itself a CoTaskMemAlloc block (MTDup); MTFree frees it.
// The empty record is all zero except bFixedSizeSamples TRUE and lSampleSize 1.
#pragma once
#include <windows.h>
#include <dshow.h>
#include <mmreg.h>

// MTCheckAudio's tag that accepts any format tag.
constexpr WORD MT_ANY_FORMAT_TAG = 0xFFFF;

// Makes *pmt the empty record with the given types (null means GUID_NULL); frees nothing.
void MTInit(AM_MEDIA_TYPE* pmt, const GUID* pMajor = &GUID_NULL, const GUID* pSub = &GUID_NULL);
// A new task-memory block of cb bytes, copied from pSrc or zero-filled; null for cb 0 or
// when the allocation fails.
BYTE* MTAllocFormat(ULONG cb, const void* pSrc = nullptr);
// *ppbFormat = a duplicate of pmt's format block (null when it has none).
HRESULT MTCopyFormat(const AM_MEDIA_TYPE* pmt, BYTE** ppbFormat);
// Deep copy into caller storage; pDst is overwritten without freeing what it held, and is
// left untouched when the copy fails.
HRESULT MTCopy(AM_MEDIA_TYPE* pDst, const AM_MEDIA_TYPE* pSrc);
// A new task-memory record holding a deep copy of pSrc; null on any failure.
AM_MEDIA_TYPE* MTDup(const AM_MEDIA_TYPE* pSrc);
// Frees the format block and releases pUnk, then MTInit.
void MTReset(AM_MEDIA_TYPE* pmt, const GUID* pMajor = &GUID_NULL, const GUID* pSub = &GUID_NULL);
// Frees the format block, releases pUnk and frees the record itself (the caller's side of MTDup).
void MTFree(AM_MEDIA_TYPE* pmt);

// Whether pmt is audio with a usable format block; wFormatTag is the tag wanted
// (MT_ANY_FORMAT_TAG for any). S_OK, E_POINTER, VFW_E_INVALIDMEDIATYPE, VFW_E_INVALIDSUBTYPE
// or the result of MTCheckWaveFormat.
HRESULT MTCheckAudio(const AM_MEDIA_TYPE* pmt, WORD wFormatTag);
// Consistency of a PCM WAVEFORMATEX or WAVEFORMATEXTENSIBLE block.
// S_OK, E_POINTER, E_INVALIDARG or VFW_E_INVALIDMEDIATYPE.
HRESULT MTCheckWaveFormat(const WAVEFORMATEX* pWF);

// The owning record: adds no data and nothing virtual, so it passes as an AM_MEDIA_TYPE*.
class CMType : public AM_MEDIA_TYPE
{
public:
    explicit CMType(const GUID* pMajor = &GUID_NULL, const GUID* pSub = &GUID_NULL);
    CMType(const CMType& mt);
    ~CMType();

    // Failures leave the object unchanged; use Assign to see them.
    CMType& operator=(const CMType& mt);
    CMType& operator=(const AM_MEDIA_TYPE* pmt);
    // Deep copy of pmt; a null source clears, self-assignment does nothing.
    HRESULT Assign(const AM_MEDIA_TYPE* pmt);

    // Replaces the record by the given types and a copy of the format block (zero-filled
    // when pbFormat is null); E_OUTOFMEMORY leaves the object unchanged.
    HRESULT Set(const GUID* pMajor, const GUID* pSub, const GUID* pFormatType, ULONG cbFormat,
                const void* pbFormat);
    void Clear();
    // *ppmt = MTDup of the object.
    HRESULT CopyTo(AM_MEDIA_TYPE** ppmt) const;
    // The record's own block when it is a WAVEFORMATEX (no copy), otherwise null.
    WAVEFORMATEX* GetWaveFormat() const;
    BOOL IsValid() const;
};
static_assert(sizeof(CMType) == sizeof(AM_MEDIA_TYPE));

// Builders of integer PCM media types (FORMAT_WaveFormatEx, MEDIASUBTYPE_PCM).
// dwChannelMask 0xFFFFFFFF means one bit per channel from bit 0 upward; it is used only
// by the extensible block.
struct CMTHelp
{
    // From a container width (8, 16, 24, 32) and a significant-bit count (8..container).
    static HRESULT MTCreatePCMEx(CMType& mt, DWORD dwFreq, WORD wChannels, WORD wBitsPerSample, WORD wValidBits,
                                 DWORD dwChannelMask);
    // From a significant-bit count alone (4..32); the container is the next multiple of 8.
    static HRESULT MTCreatePCM(CMType& mt, DWORD dwFreq, WORD wChannels, WORD wBits, DWORD dwChannelMask);
};
