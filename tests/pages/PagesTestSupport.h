// What the page tests share: the registered module and its trace lines, the page's beeps
// caught, and pictures of what a window shows; with the actions on controls and the caught
// message boxes of PageActions.h.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "ImportPatch.h"
#include "PageActions.h"
#include "common/TestSinkClient.h"

namespace pagetest
{
// The module's trace lines of this program's run (testsink.dll is named in the registry
// before the module is first loaded).
testsink::CSinkReader& Sink();
// Whether any trace line so far contains the text.
bool SinkHas(const std::wstring& text);

// Counts the module's calls of MessageBeep (the page's beep) while it lives.
class CBeepCounter
{
public:
    CBeepCounter();
    ~CBeepCounter();
    bool IsActive() const { return m_patch.IsActive(); }
    int Count() const;

private:
    CImportPatch m_patch;
};

// A picture of a window's client area.
class CCapture
{
public:
    // From the window's own painting into a memory picture (WM_PRINTCLIENT).
    static CCapture PrintClient(HWND hWnd);
    // From what the window shows now.
    static CCapture Window(HWND hWnd);

    COLORREF Pixel(int x, int y) const;
    int Width() const { return m_cx; }
    int Height() const { return m_cy; }
    // The smallest rectangle holding every pixel for which pfnMatch is true; empty when none.
    RECT Bounds(bool (*pfnMatch)(COLORREF)) const;
    bool Any(bool (*pfnMatch)(COLORREF)) const;
    bool Has(COLORREF clr) const;

private:
    // The client area's picture as pfnDraw draws it into a memory picture of its size.
    static CCapture Drawn(HWND hWnd, void (*pfnDraw)(HWND hWnd, HDC hdc, const RECT& rcClient));

    int m_cx = 0;
    int m_cy = 0;
    std::vector<DWORD> m_pixels;  // top-down rows of 0x00RRGGBB
};

bool IsBlack(COLORREF clr);
}
