#include "PageActions.h"

#include <windows.h>
#include <commctrl.h>

namespace pagetest
{
namespace
{
CMessageBoxCatcher* g_pCatcher = nullptr;

BOOL CALLBACK CollectStaticText(HWND hWnd, LPARAM lParam)
{
    auto* pBox = reinterpret_cast<CMessageBoxCatcher::CBox*>(lParam);
    wchar_t szClass[32] = {};
    GetClassNameW(hWnd, szClass, 32);
    if (_wcsicmp(szClass, L"static") != 0)
        return TRUE;
    if ((GetWindowLongW(hWnd, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
        pBox->hIcon = reinterpret_cast<HICON>(SendMessageW(hWnd, STM_GETICON, 0, 0));
    else if (GetWindowTextLengthW(hWnd) > 0)
        pBox->text += Text(hWnd);
    return TRUE;
}

}

CMessageBoxCatcher::CMessageBoxCatcher()
{
    g_pCatcher = this;
    m_hHook = SetWindowsHookExW(WH_CALLWNDPROCRET, &Hook, nullptr, GetCurrentThreadId());
}

CMessageBoxCatcher::~CMessageBoxCatcher()
{
    UnhookWindowsHookEx(m_hHook);
    g_pCatcher = nullptr;
}

LRESULT CALLBACK CMessageBoxCatcher::Hook(int nCode, WPARAM wParam, LPARAM lParam)
{
    auto* pMsg = reinterpret_cast<CWPRETSTRUCT*>(lParam);
    if (nCode == HC_ACTION && pMsg->message == WM_INITDIALOG && g_pCatcher != nullptr)
    {
        wchar_t szClass[32] = {};
        GetClassNameW(pMsg->hwnd, szClass, 32);
        // A message box is a top-level dialog of its own; a page's dialog is a child.
        if (wcscmp(szClass, L"#32770") == 0 && (GetWindowLongW(pMsg->hwnd, GWL_STYLE) & WS_CHILD) == 0)
        {
            CBox box = {Text(pMsg->hwnd), L"", GetWindow(pMsg->hwnd, GW_OWNER), nullptr};
            EnumChildWindows(pMsg->hwnd, &CollectStaticText, reinterpret_cast<LPARAM>(&box));
            g_pCatcher->m_boxes.push_back(box);
            PostMessageW(pMsg->hwnd, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

void Choose(HWND hCombo, int nIndex)
{
    SendMessageW(hCombo, CB_SETCURSEL, WPARAM(nIndex), 0);
    SendMessageW(GetParent(hCombo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hCombo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(hCombo));
}

void TypeText(HWND hEdit, const std::wstring& text)
{
    SendMessageW(hEdit, EM_SETSEL, 0, -1);
    for (wchar_t ch : text)
        SendMessageW(hEdit, WM_CHAR, ch, 1);
}

void SetText(HWND hEdit, const std::wstring& text)
{
    SetWindowTextW(hEdit, text.c_str());
}

void PressKey(HWND hWnd, UINT vk)
{
    SendMessageW(hWnd, WM_KEYDOWN, vk, 1);
    SendMessageW(hWnd, WM_KEYUP, vk, 0xC0000001);
}

void Click(HWND hWnd, POINT pt)
{
    SendMessageW(hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(pt.x, pt.y));
    SendMessageW(hWnd, WM_LBUTTONUP, 0, MAKELPARAM(pt.x, pt.y));
}

void DragThumb(HWND hSlider, int nPos, void (*pfnWhileHeld)(void*), void* pContext)
{
    // Where the thumb's centre is at a position, as the slider itself places it.
    auto centreAt = [hSlider](int nAt) {
        SendMessageW(hSlider, TBM_SETPOS, TRUE, nAt);
        RECT rc = {};
        SendMessageW(hSlider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&rc));
        return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
    };
    int nFrom = SliderPos(hSlider);
    POINT ptTo = centreAt(nPos);
    POINT ptFrom = centreAt(nFrom);
    SendMessageW(hSlider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(ptFrom.x, ptFrom.y));
    SendMessageW(hSlider, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(ptTo.x, ptTo.y));
    if (pfnWhileHeld != nullptr)
        pfnWhileHeld(pContext);
    SendMessageW(hSlider, WM_LBUTTONUP, 0, MAKELPARAM(ptTo.x, ptTo.y));
}

void ClickSpin(HWND hSpin, bool bUp)
{
    RECT rc = {};
    GetClientRect(hSpin, &rc);
    POINT pt = {(rc.left + rc.right) / 2, bUp ? rc.bottom / 4 : rc.bottom * 3 / 4};
    Click(hSpin, pt);
}

std::wstring Text(HWND hWnd)
{
    int cch = GetWindowTextLengthW(hWnd);
    std::wstring text(size_t(cch) + 1, L'\0');
    GetWindowTextW(hWnd, text.data(), cch + 1);
    text.resize(size_t(cch));
    return text;
}

std::vector<std::wstring> Items(HWND hCombo)
{
    std::vector<std::wstring> items;
    int n = int(SendMessageW(hCombo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i)
    {
        int cch = int(SendMessageW(hCombo, CB_GETLBTEXTLEN, WPARAM(i), 0));
        std::wstring item(size_t(cch) + 1, L'\0');
        SendMessageW(hCombo, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(item.data()));
        item.resize(size_t(cch));
        items.push_back(item);
    }
    return items;
}

int Selection(HWND hCombo)
{
    return int(SendMessageW(hCombo, CB_GETCURSEL, 0, 0));
}

int SliderPos(HWND hSlider)
{
    return int(SendMessageW(hSlider, TBM_GETPOS, 0, 0));
}

}
