// Small registry helpers shared by registration code.
#pragma once
#include <windows.h>

// Removes hParent\pszName with everything below it. S_OK also when there was no such key.
inline HRESULT RegDeleteKeyTree(HKEY hParent, LPCWSTR pszName)
{
    // RegDeleteTree removes the named key itself too.
    LONG l = RegDeleteTreeW(hParent, pszName);
    if (l == ERROR_SUCCESS || l == ERROR_FILE_NOT_FOUND)
        return S_OK;
    return HRESULT_FROM_WIN32(DWORD(l));
}
