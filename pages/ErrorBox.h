// The message box a page shows when the filter refuses a change: the page's text, the
// platform's text for the failure code, and the code itself.
#pragma once
#include <windows.h>

#include <string>

// The box's message: pszText, then the media or system text of hrCode (each "%1" in it
// replaced by pszInsert when one is given), then "Error 0x%X" on a line of its own.
std::wstring ErrorBoxMessage(LPCWSTR pszText, HRESULT hrCode, LPCWSTR pszInsert = nullptr);

// Shows the box owned by hWndOwner (the active window when it is null). Without an icon
// (uIcon 0) failure codes get the error icon and other codes the warning icon.
int ShowErrorBox(HWND hWndOwner, LPCWSTR pszText, LPCWSTR pszCaption, HRESULT hrCode, UINT uIcon = 0,
                 LPCWSTR pszInsert = nullptr);
