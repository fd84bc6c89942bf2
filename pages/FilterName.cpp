#include "pages/FilterName.h"

#include <wctype.h>

#include "diagnostics/DSTrace.h"

LPCWSTR NameWithoutMaker(LPCWSTR pszFilterName)
{
    static const wchar_t kMaker[] = L"corva";
    for (int i = 0; kMaker[i] != 0; ++i)
        if (pszFilterName[i] == 0 || wchar_t(towlower(pszFilterName[i])) != kMaker[i])
            return pszFilterName;
    LPCWSTR psz = pszFilterName + ARRAYSIZE(kMaker) - 1;
    while (*psz != 0 && *psz != L' ')
        ++psz;
    while (*psz == L' ')
        ++psz;
    return *psz != 0 ? psz : pszFilterName;
}

CFilterName::CFilterName()
    : m_hNameFont(CreateFontW(-20, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma")),
      m_szName()
{
    DS_ASSERT(m_hNameFont != NULL);
}

CFilterName::~CFilterName()
{
    Unsubclass();
    if (m_hNameFont != nullptr)
        DeleteObject(m_hNameFont);
}

bool CFilterName::Attach(HWND hWndDialog, int nId, LPCWSTR pszFilterName)
{
    DS_ASSERT(::IsWindow(hWndDialog));
    DS_ASSERT(pszFilterName != NULL && *pszFilterName != 0);
    DS_ASSERT(!IsWindow());
    if (!::IsWindow(hWndDialog) || pszFilterName == nullptr || *pszFilterName == 0 || IsWindow())
        return false;
    HWND hWndBackgroundControl = ::GetDlgItem(hWndDialog, nId);
    DS_ASSERT(::IsWindow(hWndBackgroundControl));
    if (!::IsWindow(hWndBackgroundControl))
        return false;
    BOOL bRet = Subclass(hWndBackgroundControl);
    DS_ASSERT(bRet != FALSE);
    if (!bRet)
        return false;
    lstrcpynW(m_szName, NameWithoutMaker(pszFilterName), ARRAYSIZE(m_szName));
    return true;
}

BOOL CFilterName::ProcessWindowMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    if (uMsg != WM_PAINT)
        return FALSE;
    // The logo first, then the name on top of it.
    lResult = DefaultProc(uMsg, wParam, lParam);
    PaintName();
    return TRUE;
}

void CFilterName::PaintName()
{
    HDC hdc = GetDC(m_hWnd);
    if (hdc == nullptr)
        return;
    HGDIOBJ hOldFont = SelectObject(hdc, m_hNameFont);
    SetTextColor(hdc, RGB(0, 0, 0));
    SetBkMode(hdc, TRANSPARENT);
    RECT rcTemplate = {};
    GetClientRect(m_hWnd, &rcTemplate);
    const int nWidth = TEXT_WIDTH;
    DS_ASSERT(nWidth < (5 * rcTemplate.right) / 8);
    RECT rcText = {0, 0, nWidth, rcTemplate.bottom};
    int n = DrawTextW(hdc, m_szName, -1, &rcText, DT_WORDBREAK | DT_CALCRECT);
    DS_ASSERT(n > 0);
    OffsetRect(&rcText, TEXT_LEFT + (nWidth - (rcText.right - rcText.left)) / 2,
               (rcTemplate.bottom - (rcText.bottom - rcText.top)) / 2);
    n = DrawTextW(hdc, m_szName, -1, &rcText, DT_WORDBREAK | DT_CENTER);
    DS_ASSERT(n > 0);
    SelectObject(hdc, hOldFont);
    ReleaseDC(m_hWnd, hdc);
}
