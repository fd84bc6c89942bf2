#include "pages/AboutPropertyPage.h"

#include <stdio.h>
#include <string.h>

const wchar_t g_szAboutWarning[] =
    L"This filter is licensed, not sold. It may be copied and passed on only as its licence from "
    L"Corvane Audio Instruments allows, and it comes without warranty of any kind, as far as the law permits.";

bool FormatVersionLine(LPWSTR psz, size_t cch, const VS_FIXEDFILEINFO& fi, LPCSTR pszDate, LPCSTR pszTime)
{
    // "Mmm dd yyyy", the day padded with a blank.
    if (psz == nullptr || cch == 0 || pszDate == nullptr || pszTime == nullptr || strnlen(pszDate, 11) < 11)
        return false;
    int nMajor = HIWORD(fi.dwProductVersionMS), nMinor = LOWORD(fi.dwProductVersionMS);
    int nBuild = HIWORD(fi.dwProductVersionLS), nRevision = LOWORD(fi.dwProductVersionLS);
    int n;
    if (pszDate[4] == ' ')
        n = _snwprintf(psz, cch, L"%i.%i.%i.%i (%c-%c%c%c-%c%c%c%c %hs)", nMajor, nMinor, nBuild, nRevision,
                       pszDate[5], pszDate[0], pszDate[1], pszDate[2], pszDate[7], pszDate[8], pszDate[9],
                       pszDate[10], pszTime);
    else
        n = _snwprintf(psz, cch, L"%i.%i.%i.%i (%c%c-%c%c%c-%c%c%c%c %hs)", nMajor, nMinor, nBuild, nRevision,
                       pszDate[4], pszDate[5], pszDate[0], pszDate[1], pszDate[2], pszDate[7], pszDate[8],
                       pszDate[9], pszDate[10], pszTime);
    if (n < 0 || size_t(n) >= cch)
        return false;
    // Tracing and assertions are always built in: the module counts as a debug build.
    size_t nLen = size_t(n);
    n = _snwprintf(psz + nLen, cch - nLen, L" [Debug]%ls", sizeof(void*) == 8 ? L" 64 bit" : L"");
    return n >= 0 && size_t(n) < cch - nLen;
}
