// Text forms of times, counts, GUIDs, four-character codes and media types inside trace
// lines. Each converter writes into the caller's wide buffer, never beyond the size given
// here or in its count argument, and returns the buffer (null for a null one).
#pragma once
#include <windows.h>
#include <dshow.h>

const int REFTIME_STR_CCH = 32;     // RefTime2Str and LongLong2Str
const int FOURCC_STR_CCH = 5;       // Fourcc2Str
const int FOURCC_NAME_CCH = 16;     // Fourcc2Name
const int GUID_NAME_CCH = 128;      // the usual Guid2Name buffer
const int NAME_PREFIX_CCH = 128;    // the usual MakeNamePrefix buffer

// Seconds, a point and three digits of milliseconds, then "'" and four digits of 100 ns
// units when there is a remainder: 12345678 gives "1.234'5678".
LPWSTR RefTime2Str(REFERENCE_TIME t, LPWSTR pszConv);
// Digits grouped by thousands with blanks: "-1 234 567".
LPWSTR LongLong2Str(LONGLONG ll, LPWSTR pszConv);
// The table name of the GUID, else TAG_0x../FCC_.... for the FOURCC family, else the
// registry form; cut to nMaxSym - 1 characters. A constant empty text for a null buffer
// or nMaxSym <= 0.
LPCWSTR Guid2Name(REFGUID guid, LPWSTR pszName, int nMaxSym);
// The code's four bytes, lowest first, when all are printable; else an empty text.
LPWSTR Fourcc2Str(DWORD dwFCC, LPWSTR pszFCC);
// Fourcc2Str's text, else the name of a bitmap compression code, else "0x%08X".
LPWSTR Fourcc2Name(DWORD dwFCC, LPWSTR pszFCC);
// "( major / sub / format )"; with details also " width*height" of a video format and
// "\r\n". nMaxLength is the buffer's size, terminator included.
void ParseMediaType(const AM_MEDIA_TYPE* pmt, LPWSTR pszMediaType, int nMaxLength, bool bDetails);
// "name: ", or "nam..: " cut to fit nMaxLength (terminator included); empty for no name
// or nMaxLength <= 5. Null for a null buffer or nMaxLength <= 0.
LPWSTR MakeNamePrefix(LPCWSTR pszName, LPWSTR pszPrefix, int nMaxLength);
