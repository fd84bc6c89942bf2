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

CCapture CCapture::PrintClient(HWND hWnd)
{
    return Drawn(hWnd, [](HWND hWindow, HDC hdc, const RECT& rc) {
        FillRect(hdc, &rc, GetSysColorBrush(COLOR_BTNFACE));
        SendMessageW(hWindow, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(hdc), PRF_CLIENT | PRF_ERASEBKGND);
    });
}

CCapture CCapture::Window(HWND hWnd)
{
    return Drawn(hWnd, [](HWND hWindow, HDC hdc, const RECT& rc) {
        RedrawWindow(hWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        HDC hdcWindow = GetDC(hWindow);
        BitBlt(hdc, 0, 0, rc.right, rc.bottom, hdcWindow, 0, 0, SRCCOPY);
        ReleaseDC(hWindow, hdcWindow);
    });
}

CCapture CCapture::Drawn(HWND hWnd, void (*pfnDraw)(HWND hWnd, HDC hdc, const RECT& rcClient))
{
    CCapture capture;
    RECT rc = {};
    GetClientRect(hWnd, &rc);
    capture.m_cx = rc.right;
    capture.m_cy = rc.bottom;
    CDib dib(rc.right, rc.bottom);
    pfnDraw(hWnd, dib.hdc, rc);
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
