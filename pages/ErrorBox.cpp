#include "pages/ErrorBox.h"

#include <dshow.h>
#include <errors.h>
#include <stdio.h>

namespace
{
const DWORD kMessageCch = 1024;  // text and error text each, terminator included

// The media error text for codes of the interface facility, else the system's message text.
std::wstring ErrorText(HRESULT hrCode)
{
    wchar_t sz[kMessageCch] = {};
    if (HRESULT_FACILITY(hrCode) == FACILITY_ITF && AMGetErrorTextW(hrCode, sz, kMessageCch) > 0)
        return sz;
    sz[0] = 0;
    DWORD cch = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(hrCode),
                               MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), sz, kMessageCch, nullptr);
    return std::wstring(sz, cch < kMessageCch ? cch : 0);
}

std::wstring ReplaceInsert(const std::wstring& text, LPCWSTR pszInsert)
{
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == L'%' && i + 1 < text.size() && text[i + 1] == L'1')
        {
            out += pszInsert;
            ++i;
        }
        else
            out += text[i];
    }
    return out;
}
}

std::wstring ErrorBoxMessage(LPCWSTR pszText, HRESULT hrCode, LPCWSTR pszInsert)
{
    std::wstring message = pszText != nullptr ? pszText : L"";
    if (message.size() > kMessageCch - 1)
        message.resize(kMessageCch - 1);
    std::wstring error = ErrorText(hrCode);
    if (!error.empty() && !message.empty())
        message += L'\n';
    message += pszInsert != nullptr ? ReplaceInsert(error, pszInsert) : error;
    if (message.empty() || (message.back() != L'\r' && message.back() != L'\n'))
        message += L"\r\n";
    wchar_t szCode[24];
    swprintf(szCode, 24, L"Error 0x%X", unsigned(hrCode));
    return message + szCode;
}

int ShowErrorBox(HWND hWndOwner, LPCWSTR pszText, LPCWSTR pszCaption, HRESULT hrCode, UINT uIcon, LPCWSTR pszInsert)
{
    if (uIcon == 0)
        uIcon = FAILED(hrCode) ? MB_ICONERROR : MB_ICONWARNING;
    std::wstring message = ErrorBoxMessage(pszText, hrCode, pszInsert);
    return MessageBoxW(hWndOwner != nullptr ? hWndOwner : GetActiveWindow(), message.c_str(), pszCaption,
                       MB_OK | uIcon);
}
