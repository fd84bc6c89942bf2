// A copy of a media sample's properties, each with a presence bit: loaded from a sample in
// one pass, edited, and written back in one pass that stops at the first failure.
#pragma once
#include <windows.h>
#include <dshow.h>

// Property mask bits; 0xFFFF selects every property.
enum : WORD
{
    PM_TSTART = 0x0001,     // start time
    PM_TSTOP = 0x0002,      // stop time
    PM_MTIME = 0x0004,      // media start and stop together
    PM_SYNC = 0x0010,       // sync point
    PM_PREROLL = 0x0020,    // preroll
    PM_DISCONT = 0x0040,    // discontinuity
    PM_TYPEFLAGS = 0x0080,  // type-specific flags (IMediaSample2)
    PM_MTYPE = 0x0100,      // attached media type
    PM_BUFF = 0x1000,       // buffer pointer and size
    PM_ACTLEN = 0x2000,     // actual data length
    PM_STREAMID = 0x8000,   // stream id (IMediaSample2)
    PM_ALL = 0xFFFF,
};

// Holds no reference on any sample: the buffer pointer is valid only while the caller
// holds the sample it was loaded from. Used by one thread; takes no lock.
class CSampleT
{
public:
    CSampleT();
    ~CSampleT();
    CSampleT(const CSampleT&) = delete;
    CSampleT& operator=(const CSampleT&) = delete;

    void Clear();
    // True when wMask is not 0 and every bit of it is present.
    bool Has(WORD wMask) const { return wMask != 0 && (m_wMask & wMask) == wMask; }
    // Clears presence bits; the fields keep their values.
    void Remove(WORD wMask) { m_wMask &= WORD(~wMask); }

    // tE MINLONGLONG means a start time without stop time.
    void SetTime(REFERENCE_TIME tS, REFERENCE_TIME tE);
    void SetMediaTime(LONGLONG llMS, LONGLONG llME);
    void SetDiscontinuity(BOOL b);
    void SetActualDataLength(LONG l);
    // Keeps a copy of pmt (null removes the type); E_OUTOFMEMORY when it cannot be copied.
    HRESULT SetMediaType(const AM_MEDIA_TYPE* pmt);

    // S_OK when everything wanted was loaded (or wMask is 0xFFFF and anything was), S_FALSE
    // for a partial load, E_FAIL when nothing could be loaded, or the sample's failure.
    HRESULT Load(IMediaSample* pSrc, WORD wMask);
    // Writes the present properties selected by wMask; S_FALSE when wMask selects none.
    HRESULT Save(IMediaSample* pDst, WORD wMask);

    WORD m_wMask;                // present properties
    REFERENCE_TIME m_tS;
    REFERENCE_TIME m_tE;
    LONGLONG m_llMS;
    LONGLONG m_llME;
    BOOL m_bSyncPoint;
    BOOL m_bPreroll;
    BOOL m_bDiscontinuity;
    DWORD m_dwTypeFlags;
    AM_MEDIA_TYPE* m_pMediaType;  // owned
    LONG m_lActual;
    BYTE* m_pbBuf;               // the loaded sample's payload; not owned
    LONG m_cbBuf;
    DWORD m_dwStreamId;
};

struct CSampleCopier
{
    // Sets pDst's actual length (PM_ACTLEN) and copies lActual bytes from pbSrc into its
    // buffer (PM_BUFF, which needs PM_ACTLEN) after testing them against its size.
    static HRESULT CopyBuffer(IMediaSample* pDst, const BYTE* pbSrc, LONG lActual, WORD wMask);
};
