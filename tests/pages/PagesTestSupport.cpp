#include "PagesTestSupport.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <windowsx.h>

#include <memory>

#include "server/ServerTestSupport.h"

namespace pagetest
{
namespace
{
const wchar_t kSinkDll[] = L"testsink.dll";

std::unique_ptr<testsink::CSinkReader> g_pSink;
volatile LONG g_nBeeps = 0;
CMessageBoxCatcher* g_pCatcher = nullptr;

BOOL WINAPI CountBeep(UINT)
{
    InterlockedIncrement(&g_nBeeps);
    return TRUE;
}

// The whole program runs in one single-threaded apartment with the module registered.
class CPagesEnvironment : public testing::Environment
{
public:
    void SetUp() override
    {
        testsink::SetRegistryValue(testsink::ModuleDir() + kSinkDll);
        g_pSink = std::make_unique<testsink::CSinkReader>(kSinkDll);
        ASSERT_TRUE(g_pSink->IsLoaded());
        ASSERT_EQ(servertest::RunRegsvr32(servertest::ModulePath(), false), 0u);
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
    }
    void TearDown() override
    {
        CoUninitialize();
        EXPECT_EQ(servertest::RunRegsvr32(servertest::ModulePath(), true), 0u);
        testsink::ClearRegistry();
    }
};

testing::Environment* const g_pEnvironment = testing::AddGlobalTestEnvironment(new CPagesEnvironment);

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

// The window's client area through a 32-bit top-down picture.
struct CDib
{
    CDib(int cx, int cy)
    {
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = cx;
        bi.bmiHeader.biHeight = -cy;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        hdc = CreateCompatibleDC(nullptr);
        hBitmap = CreateDIBSection(hdc, &bi, DIB_RGB_COLORS, &pvBits, nullptr, 0);
        hOld = SelectObject(hdc, hBitmap);
    }
    ~CDib()
    {
        SelectObject(hdc, hOld);
        DeleteObject(hBitmap);
        DeleteDC(hdc);
    }
    HDC hdc;
    HBITMAP hBitmap;
    HGDIOBJ hOld;
    void* pvBits = nullptr;
};
}

testsink::CSinkReader& Sink()
{
    return *g_pSink;
}

bool SinkHas(const std::wstring& text)
{
    for (const auto& line : g_pSink->Events())
        if (line.find(text) != std::wstring::npos)
            return true;
    return false;
}

CBeepCounter::CBeepCounter()
    : m_patch(GetModuleHandleW(L"Tonewell.dll"), "user32.dll", "MessageBeep", reinterpret_cast<void*>(&CountBeep))
{
    g_nBeeps = 0;
}

CBeepCounter::~CBeepCounter() = default;

int CBeepCounter::Count() const
{
    return int(g_nBeeps);
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

CCapture CCapture::PrintClient(HWND hWnd)
{
    CCapture capture;
    RECT rc = {};
    GetClientRect(hWnd, &rc);
    capture.m_cx = rc.right;
    capture.m_cy = rc.bottom;
    CDib dib(rc.right, rc.bottom);
    FillRect(dib.hdc, &rc, GetSysColorBrush(COLOR_BTNFACE));
    SendMessageW(hWnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dib.hdc), PRF_CLIENT | PRF_ERASEBKGND);
    GdiFlush();
    auto* p = static_cast<const DWORD*>(dib.pvBits);
    capture.m_pixels.assign(p, p + size_t(rc.right) * size_t(rc.bottom));
    return capture;
}

CCapture CCapture::Window(HWND hWnd)
{
    CCapture capture;
    RECT rc = {};
    GetClientRect(hWnd, &rc);
    capture.m_cx = rc.right;
    capture.m_cy = rc.bottom;
    CDib dib(rc.right, rc.bottom);
    RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    HDC hdc = GetDC(hWnd);
    BitBlt(dib.hdc, 0, 0, rc.right, rc.bottom, hdc, 0, 0, SRCCOPY);
    ReleaseDC(hWnd, hdc);
    GdiFlush();
    auto* p = static_cast<const DWORD*>(dib.pvBits);
    capture.m_pixels.assign(p, p + size_t(rc.right) * size_t(rc.bottom));
    return capture;
}

COLORREF CCapture::Pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_cx || y >= m_cy)
        return CLR_INVALID;
    DWORD dw = m_pixels[size_t(y) * size_t(m_cx) + size_t(x)];
    return RGB((dw >> 16) & 0xFF, (dw >> 8) & 0xFF, dw & 0xFF);
}

RECT CCapture::Bounds(bool (*pfnMatch)(COLORREF)) const
{
    RECT rc = {m_cx, m_cy, 0, 0};
    for (int y = 0; y < m_cy; ++y)
        for (int x = 0; x < m_cx; ++x)
            if (pfnMatch(Pixel(x, y)))
            {
                rc.left = x < rc.left ? x : rc.left;
                rc.top = y < rc.top ? y : rc.top;
                rc.right = x + 1 > rc.right ? x + 1 : rc.right;
                rc.bottom = y + 1 > rc.bottom ? y + 1 : rc.bottom;
            }
    if (rc.right <= rc.left)
        rc = {};
    return rc;
}

bool CCapture::Any(bool (*pfnMatch)(COLORREF)) const
{
    RECT rc = Bounds(pfnMatch);
    return rc.right > rc.left;
}

bool CCapture::Has(COLORREF clr) const
{
    for (int y = 0; y < m_cy; ++y)
        for (int x = 0; x < m_cx; ++x)
            if (Pixel(x, y) == clr)
                return true;
    return false;
}

bool IsBlack(COLORREF clr)
{
    return clr != CLR_INVALID && GetRValue(clr) < 0x20 && GetGValue(clr) < 0x20 && GetBValue(clr) < 0x20;
}
}
