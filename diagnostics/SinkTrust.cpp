#include "diagnostics/SinkTrust.h"

bool SinkAllowedFor(BOOL bElevated, PSID pUser)
{
    return !bElevated && pUser != nullptr && !IsWellKnownSid(pUser, WinLocalSystemSid);
}

bool SinkAllowedForToken(HANDLE hToken)
{
    TOKEN_ELEVATION elevation = {};
    DWORD cb = 0;
    if (!GetTokenInformation(hToken, TokenElevation, &elevation, sizeof(elevation), &cb))
        return false;
    // TOKEN_USER with its SID behind it; a SID is at most 68 bytes.
    alignas(TOKEN_USER) BYTE abUser[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    if (!GetTokenInformation(hToken, TokenUser, abUser, sizeof(abUser), &cb))
        return false;
    return SinkAllowedFor(BOOL(elevation.TokenIsElevated), reinterpret_cast<TOKEN_USER*>(abUser)->User.Sid);
}

bool SinkAllowedInThisProcess()
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return false;
    const bool bAllowed = SinkAllowedForToken(hToken);
    CloseHandle(hToken);
    return bAllowed;
}

bool SinkPathIsAbsolute(LPCWSTR pszPath)
{
    if (pszPath == nullptr)
        return false;
    const WCHAR c0 = pszPath[0];
    const bool bLetter = (c0 >= L'A' && c0 <= L'Z') || (c0 >= L'a' && c0 <= L'z');
    if (bLetter)
        return pszPath[1] == L':' && pszPath[2] == L'\\';
    // "\\server\share\...": a server name after the two separators, not "\\?\" or "\\.\".
    return c0 == L'\\' && pszPath[1] == L'\\' && pszPath[2] != 0 && pszPath[2] != L'\\' && pszPath[2] != L'?' &&
           pszPath[2] != L'.';
}
