#include "diagnostics/TextFormat.h"

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

LPWSTR CopyText(LPWSTR pszBuf, int cchBuf, LPCWSTR pszSrc)
{
    if (pszBuf == nullptr || cchBuf <= 0)
        return pszBuf;
    int i = 0;
    if (pszSrc != nullptr)
        for (; i < cchBuf - 1 && pszSrc[i] != 0; ++i)
            pszBuf[i] = pszSrc[i];
    pszBuf[i] = 0;
    return pszBuf;
}

int FormatTextV(LPWSTR pszBuf, int cchBuf, LPCWSTR pszFormat, va_list args)
{
    if (pszBuf == nullptr || cchBuf <= 0)
        return 0;
    // The run time's own wide printf (%s wide, %hs narrow); it leaves the terminator out
    // when the text fills the count, so the last character is kept for it.
    int cch = _vsnwprintf(pszBuf, size_t(cchBuf - 1), pszFormat, args);
    pszBuf[cchBuf - 1] = 0;
    if (cch < 0 || cch > cchBuf - 1)
        cch = int(wcslen(pszBuf));
    else
        pszBuf[cch] = 0;
    return cch;
}

int FormatText(LPWSTR pszBuf, int cchBuf, LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    int cch = FormatTextV(pszBuf, cchBuf, pszFormat, args);
    va_end(args);
    return cch;
}
