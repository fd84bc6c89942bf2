// Dumps of platform structures as trace lines. Each routine takes the trace category and
// level first, writes nothing when the category is 0 or the level lies above the trace
// limit, and otherwise writes its lines through DebugTrace with that category and level.
// A prefix is an optional text put in front of every line; unless said otherwise one
// blank is added to it, and a null or empty prefix means none.
#pragma once
#include <windows.h>
#include <dshow.h>
#include <mmreg.h>

#include "diagnostics/DSTrace.h"

// A format block whose size the caller does not know: its own size fields are trusted.
const ULONG DUMP_SIZE_UNKNOWN = 0xFFFFFFFF;
// Extra bytes and sequence headers are dumped up to this many bytes.
const int DUMP_MAX_EXTRA_BYTES = 1024;

// A null prefix means "MT: ". The format block is read only as far as cbFormat allows.
void Debug_MediaType(DWORD dwCategory, UINT nLevel, const AM_MEDIA_TYPE* pmt, LPCWSTR pszPrefix = nullptr);
// cbFormat: the size of the block when known; cbSize and the extra bytes are read only
// within it.
void Debug_WaveFormatEx(DWORD dwCategory, UINT nLevel, const WAVEFORMATEX* pwfx, LPCWSTR pszPrefix = nullptr,
                        ULONG cbFormat = DUMP_SIZE_UNKNOWN);
void Debug_BitmapInfoHeader(DWORD dwCategory, UINT nLevel, const BITMAPINFOHEADER* pbmi, LPCWSTR pszPrefix = nullptr);
void Debug_DvInfo(DWORD dwCategory, UINT nLevel, const DVINFO* pDvInfo, LPCWSTR pszPrefix = nullptr);
// Hexadecimal and character lines, 16 bytes each. The prefix is used as given. True when
// filtered out or done, false when there was nothing to dump.
bool Debug_Memory(DWORD dwCategory, UINT nLevel, int cb, const void* pv, LPCWSTR pszPrefix = nullptr);

// Times, media times, flags, properties and (bBufferDetails) the buffer of a sample, and
// the media type it carries.
void Debug_Sample(DWORD dwCategory, UINT nLevel, IMediaSample* pSample, LPCWSTR pszPrefix = nullptr,
                  bool bBufferDetails = false);
// How far the sample's start lies ahead of the clock: tStart + tS - clock.
void Debug_SampleLag(DWORD dwCategory, UINT nLevel, IMediaSample* pSample, REFERENCE_TIME tStart,
                     IReferenceClock* pRefClock, LPCWSTR pszPrefix = nullptr);
void Debug_Allocator(DWORD dwCategory, UINT nLevel, IMemAllocator* pAllocator, LPCWSTR pszPrefix = nullptr);
// "filter [class name]" of the pin's filter; the prefix is used as given.
void Debug_FilterFromPin(DWORD dwCategory, UINT nLevel, LPCWSTR pszPrefix, IPin* pPin);
// A delivery result other than S_OK: the usual ones as warnings (level 4), any other as
// a failure (level 2), in the general category.
void Debug_HResult(HRESULT hr, LPCWSTR pszObjectName, LPCWSTR pszCall);
