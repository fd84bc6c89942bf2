// Bounded text helpers: nothing is ever written at or beyond cchBuf characters, and the
// result is always terminated (when cchBuf > 0).
#pragma once
#include <windows.h>

// Copies pszSrc (null: empty) cut to cchBuf - 1 characters; returns the buffer.
LPWSTR CopyText(LPWSTR pszBuf, int cchBuf, LPCWSTR pszSrc);
// printf into the buffer, cut where it does not fit; returns the length written.
int FormatText(LPWSTR pszBuf, int cchBuf, LPCWSTR pszFormat, ...);
int FormatTextV(LPWSTR pszBuf, int cchBuf, LPCWSTR pszFormat, va_list args);
