#include "pages/UrlWin.h"

#include <new>

#include <shellapi.h>
#include <stdlib.h>
#include <wchar.h>

#include "diagnostics/DSTrace.h"

namespace
{
const wchar_t kColorKey[] = L"Software\\Microsoft\\Internet Explorer\\Settings";
const DWORD kColorCch = 12;  // "255,255,255" and its terminator

INT_PTR ShellOpen(HWND hWnd, LPCWSTR pszLink)
{
    return reinterpret_cast<INT_PTR>(ShellExecuteW(hWnd, L"open", pszLink, nullptr, nullptr, SW_SHOWNORMAL));
}

// One decimal number with optional blanks around it, from psz up to pszEnd.
bool ParsePart(LPCWSTR psz, LPCWSTR pszEnd, DWORD& n)
{
    while (psz < pszEnd && *psz == L' ')
        ++psz;
    if (psz == pszEnd || !iswdigit(*psz))
        return false;
    n = 0;
    for (; psz < pszEnd && iswdigit(*psz); ++psz)
        n = n * 10 + DWORD(*psz - L'0');
    while (psz < pszEnd && *psz == L' ')
        ++psz;
    return psz == pszEnd;
}

bool ReadColorValue(HKEY hKey, LPCWSTR pszName, COLORREF& clr)
{
    wchar_t sz[kColorCch] = {};
    DWORD cb = sizeof(sz);
    DWORD dwType = 0;
    // A longer value is not read at all.
    if (RegQueryValueExW(hKey, pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(sz), &cb) != ERROR_SUCCESS ||
        dwType != REG_SZ)
        return false;
    sz[kColorCch - 1] = 0;
    COLORREF clrRead = CLR_INVALID;
    ParseLinkColor(sz, clrRead);
    DS_ASSERT(clrRead != CLR_INVALID);
    if (clrRead == CLR_INVALID)
        return false;
    clr = clrRead;
    return true;
}
}

bool ParseLinkColor(LPCWSTR pszValue, COLORREF& clr)
{
    if (pszValue == nullptr)
        return false;
    LPCWSTR pszComma1 = wcschr(pszValue, L',');
    LPCWSTR pszComma2 = pszComma1 != nullptr ? wcschr(pszComma1 + 1, L',') : nullptr;
    if (pszComma2 == nullptr)
        return false;
    DWORD r, g, b;
    if (!ParsePart(pszValue, pszComma1, r) || !ParsePart(pszComma1 + 1, pszComma2, g) ||
        !ParsePart(pszComma2 + 1, pszComma2 + wcslen(pszComma2), b))
        return false;
    clr = RGB(BYTE(r), BYTE(g), BYTE(b));
    return true;
}

template <class T>
typename CUrlImpl<T>::PFN_OPENLINK CUrlImpl<T>::s_pfnOpen = &ShellOpen;

template <class T>
typename CUrlImpl<T>::PFN_OPENLINK CUrlImpl<T>::SetLinkOpener(PFN_OPENLINK pfnOpen)
{
    PFN_OPENLINK pfnOld = s_pfnOpen;
    s_pfnOpen = pfnOpen != nullptr ? pfnOpen : &ShellOpen;
    return pfnOld;
}

template <class T>
CUrlImpl<T>::~CUrlImpl()
{
    this->Unsubclass();
    if (m_hFontUnderline != nullptr)
        DeleteObject(m_hFontUnderline);
}

template <class T>
bool CUrlImpl<T>::Attach(HWND hWnd)
{
    DS_ASSERT(this->m_hWnd == NULL);
    DS_ASSERT(::IsWindow(hWnd));
    if (!this->Subclass(hWnd))
        return false;
    SetUp();
    return true;
}

template <class T>
void CUrlImpl<T>::SetUp()
{
    HWND hWnd = this->m_hWnd;
    wchar_t szClass[16] = {};
    GetClassNameW(hWnd, szClass, ARRAYSIZE(szClass));
    if (_wcsicmp(szClass, L"static") == 0)
    {
        // Clicks reach a static only with the notify style.
        LONG_PTR lStyle = GetWindowLongPtrW(hWnd, GWL_STYLE);
        SetWindowLongPtrW(hWnd, GWL_STYLE, lStyle | SS_NOTIFY);
        switch (lStyle & SS_TYPEMASK)
        {
        case SS_ICON:
        case SS_BITMAP:
        case SS_ENHMETAFILE:
        case SS_OWNERDRAW:
        case SS_BLACKRECT:
        case SS_GRAYRECT:
        case SS_WHITERECT:
        case SS_BLACKFRAME:
        case SS_GRAYFRAME:
        case SS_WHITEFRAME:
        case SS_ETCHEDHORZ:
        case SS_ETCHEDVERT:
        case SS_ETCHEDFRAME:
            m_bPaintLabel = false;
            break;
        }
    }
    m_hCursor = LoadCursorW(nullptr, IDC_HAND);
    DS_ASSERT(m_hCursor != NULL);
    if (m_bPaintLabel)
    {
        if (m_hFontUnderline != nullptr)
            DeleteObject(m_hFontUnderline);
        m_hFontUnderline = nullptr;
        auto hFont = reinterpret_cast<HFONT>(SendMessageW(hWnd, WM_GETFONT, 0, 0));
        LOGFONTW lf = {};
        if (hFont != nullptr && GetObjectW(hFont, sizeof(lf), &lf) == sizeof(lf))
        {
            lf.lfUnderline = TRUE;
            m_hFontUnderline = CreateFontIndirectW(&lf);
        }
    }
    if (!m_lpstrLabel)
    {
        int cch = GetWindowTextLengthW(hWnd);
        m_lpstrLabel.reset(new (std::nothrow) WCHAR[size_t(cch) + 1]());
        if (m_lpstrLabel)
            GetWindowTextW(hWnd, m_lpstrLabel.get(), cch + 1);
    }
    CalcLinkRect();
    if (m_bPaintLabel)
        ReadColors();
}

// Where the text lies in the control: hit tests and the focus rectangle use it.
template <class T>
void CUrlImpl<T>::CalcLinkRect()
{
    HWND hWnd = this->m_hWnd;
    RECT rcClient = {};
    GetClientRect(hWnd, &rcClient);
    m_rcLink = rcClient;
    if (!m_bPaintLabel || !m_lpstrLabel)
        return;
    HDC hdc = GetDC(hWnd);
    HGDIOBJ hOld = m_hFontUnderline != nullptr ? SelectObject(hdc, m_hFontUnderline) : nullptr;
    DrawTextW(hdc, m_lpstrLabel.get(), -1, &m_rcLink, DT_LEFT | DT_WORDBREAK | DT_CALCRECT);
    if (hOld != nullptr)
        SelectObject(hdc, hOld);
    ReleaseDC(hWnd, hdc);
    LONG_PTR lStyle = GetWindowLongPtrW(hWnd, GWL_STYLE) & SS_TYPEMASK;
    int cxFree = (rcClient.right - rcClient.left) - (m_rcLink.right - m_rcLink.left);
    if (lStyle == SS_CENTER)
        OffsetRect(&m_rcLink, cxFree / 2, 0);
    else if (lStyle == SS_RIGHT)
        OffsetRect(&m_rcLink, cxFree, 0);
}

template <class T>
void CUrlImpl<T>::ReadColors()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kColorKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return;
    ReadColorValue(hKey, L"Anchor Color", m_clrLink);
    ReadColorValue(hKey, L"Anchor Color Visited", m_clrVisited);
    RegCloseKey(hKey);
}

template <class T>
bool CUrlImpl<T>::Open()
{
    HWND hWnd = this->m_hWnd;
    DS_ASSERT(::IsWindow(hWnd));
    DS_ASSERT(m_lpstrLabel != NULL);
    if (!::IsWindow(hWnd) || !m_lpstrLabel)
        return false;
    INT_PTR dwRet = s_pfnOpen(hWnd, m_lpstrLabel.get());
    DS_ASSERT(dwRet > 32);
    if (dwRet <= 32)
        return false;
    m_bVisited = true;
    InvalidateRect(hWnd, nullptr, TRUE);
    return true;
}

template <class T>
bool CUrlImpl<T>::HitsLink(LPARAM lParam) const
{
    POINT pt = {short(LOWORD(lParam)), short(HIWORD(lParam))};
    return PtInRect(&m_rcLink, pt) != FALSE;
}

template <class T>
void CUrlImpl<T>::Paint(HDC hdc)
{
    HWND hWnd = this->m_hWnd;
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, m_bVisited ? m_clrVisited : m_clrLink);
    HGDIOBJ hOld = m_hFontUnderline != nullptr ? SelectObject(hdc, m_hFontUnderline) : nullptr;
    if (m_lpstrLabel != nullptr)
    {
        LONG_PTR lStyle = GetWindowLongPtrW(hWnd, GWL_STYLE) & SS_TYPEMASK;
        UINT uAlign = lStyle == SS_CENTER ? DT_CENTER : lStyle == SS_RIGHT ? DT_RIGHT : DT_LEFT;
        RECT rc = m_rcLink;
        DrawTextW(hdc, m_lpstrLabel.get(), -1, &rc, uAlign | DT_WORDBREAK);
    }
    if (GetFocus() == hWnd)
        DrawFocusRect(hdc, &m_rcLink);
    if (hOld != nullptr)
        SelectObject(hdc, hOld);
}

template <class T>
BOOL CUrlImpl<T>::ProcessWindowMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    HWND hWnd = this->m_hWnd;
    bool bLink = m_lpstrLabel != nullptr;
    switch (uMsg)
    {
    case WM_ERASEBKGND:
    {
        if (!m_bPaintLabel)
            return FALSE;
        auto hdc = reinterpret_cast<HDC>(wParam);
        auto hBrush = reinterpret_cast<HBRUSH>(
            SendMessageW(GetParent(hWnd), WM_CTLCOLORSTATIC, wParam, reinterpret_cast<LPARAM>(hWnd)));
        RECT rc = {};
        GetClientRect(hWnd, &rc);
        FillRect(hdc, &rc, hBrush != nullptr ? hBrush : GetSysColorBrush(COLOR_BTNFACE));
        lResult = 1;
        return TRUE;
    }
    case WM_PAINT:
    case WM_PRINTCLIENT:
    {
        if (!m_bPaintLabel)
            return FALSE;
        if (wParam != 0)
            Paint(reinterpret_cast<HDC>(wParam));
        else
        {
            PAINTSTRUCT ps;
            HDC hdc = BeginPaint(hWnd, &ps);
            Paint(hdc);
            EndPaint(hWnd, &ps);
        }
        return TRUE;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        if (!m_bPaintLabel)
            return FALSE;
        InvalidateRect(hWnd, nullptr, TRUE);
        return TRUE;
    case WM_MOUSEMOVE:
        if (!bLink || !HitsLink(lParam))
            return FALSE;
        SetCursor(m_hCursor);
        return TRUE;
    case WM_SETCURSOR:
    {
        POINT pt = {};
        GetCursorPos(&pt);
        ScreenToClient(hWnd, &pt);
        if (!bLink || !PtInRect(&m_rcLink, pt))
            return FALSE;
        SetCursor(m_hCursor);
        lResult = TRUE;
        return TRUE;
    }
    case WM_LBUTTONDOWN:
        if (HitsLink(lParam))
        {
            SetFocus(hWnd);
            SetCapture(hWnd);
        }
        return TRUE;
    case WM_LBUTTONUP:
        if (GetCapture() == hWnd)
        {
            ReleaseCapture();
            if (HitsLink(lParam))
                Open();
        }
        return TRUE;
    case WM_CHAR:
        if (wParam != VK_RETURN && wParam != VK_SPACE)
            return FALSE;
        Open();
        return TRUE;
    case WM_GETDLGCODE:
        lResult = DLGC_WANTCHARS;
        return TRUE;
    }
    return FALSE;
}

template class CUrlImpl<CUrlWindow>;
