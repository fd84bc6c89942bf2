// Paints the filter's name over the logo of the About page: the logo's static control paints
// its bitmap, then the name follows in bold Tahoma, centred in the logo's light part.
#pragma once
#include <windows.h>

#include "support/WindowSubclass.h"

// The name as the logo shows it: without the maker's word when the name starts with "corva"
// (any case) and goes on after it, so "Corvane Tonewell" shows as "Tonewell".
LPCWSTR NameWithoutMaker(LPCWSTR pszFilterName);

class CFilterName : public CWindowSubclass<CFilterName>
{
public:
    // The logo's light part: a column this wide, this far from the control's left edge.
    static constexpr int TEXT_LEFT = 150;
    static constexpr int TEXT_WIDTH = 234;

    CFilterName();
    ~CFilterName();

    // Takes over control nId of the dialog; false (and no name painted) on any failure.
    bool Attach(HWND hWndDialog, int nId, LPCWSTR pszFilterName);
    LPCWSTR Name() const { return m_szName; }

    BOOL ProcessWindowMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);

private:
    void PaintName();

    HFONT m_hNameFont;
    wchar_t m_szName[256];
};
