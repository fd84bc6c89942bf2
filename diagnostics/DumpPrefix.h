// Shared pieces of the dump routines.
#pragma once
#include <windows.h>

#include "diagnostics/DSTrace.h"

inline bool DumpEnabled(DWORD dwCategory, UINT nLevel)
{
    return dwCategory != 0 && nLevel <= TRACE_LEVEL_LIMIT;
}

// A dump's line prefix: the caller's prefix and one blank, or the default when the
// caller gave none.
class CDumpPrefix
{
public:
    explicit CDumpPrefix(LPCWSTR pszPrefix, LPCWSTR pszDefault = L"");
    LPCWSTR Text() const { return m_szText; }

private:
    WCHAR m_szText[260];
};
