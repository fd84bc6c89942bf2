// A hyperlink made of a static text control: the text drawn underlined in the link colour
// (the visited colour once opened), a hand cursor over it, opened by a click that starts and
// ends on it or by Enter or the blank key while it has the focus. The link text is also the
// target that the shell opens. Colours come from the current user's browser settings.
#pragma once
#include <windows.h>

#include <memory>

#include "support/WindowSubclass.h"

// "r,g,b" with three decimal numbers, each taken to its low 8 bits; false for anything else.
bool ParseLinkColor(LPCWSTR pszValue, COLORREF& clr);

template <class T>
class CUrlImpl : public CWindowSubclass<T>
{
public:
    // Opens a link text; a result above 32 is success, as the shell's.
    using PFN_OPENLINK = INT_PTR (*)(HWND hWnd, LPCWSTR pszLink);

    CUrlImpl() = default;
    ~CUrlImpl();

    // Takes over a static control; false when it is no window or the object holds one.
    bool Attach(HWND hWnd);
    // Opens the link; on success it counts as visited and is drawn again.
    bool Open();

    // The shell's "open" by default; tests put their own opener here. Returns the previous one.
    static PFN_OPENLINK SetLinkOpener(PFN_OPENLINK pfnOpen);

    COLORREF LinkColor() const { return m_clrLink; }
    COLORREF VisitedColor() const { return m_clrVisited; }
    bool IsVisited() const { return m_bVisited; }
    RECT LinkRect() const { return m_rcLink; }

    BOOL ProcessWindowMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);

private:
    void SetUp();
    void CalcLinkRect();
    void ReadColors();
    void Paint(HDC hdc);
    bool HitsLink(LPARAM lParam) const;

    static PFN_OPENLINK s_pfnOpen;

    std::unique_ptr<WCHAR[]> m_lpstrLabel;  // the window text, once read
    HCURSOR m_hCursor = nullptr;
    HFONT m_hFontUnderline = nullptr;
    RECT m_rcLink = {};
    bool m_bPaintLabel = true;
    bool m_bVisited = false;
    COLORREF m_clrLink = RGB(0, 0, 255);
    COLORREF m_clrVisited = RGB(128, 0, 128);
};

class CUrlWindow : public CUrlImpl<CUrlWindow>
{
};
