// The About page's reusable pieces in this program, on controls of the test's own window:
// the hyperlink control with its opener replaced, the name painter, the version line, and
// the settings page's error box.
#include <gtest/gtest.h>

#include <windows.h>
#include <dshow.h>

#include <string>

#include "PageHost.h"
#include "PagesTestSupport.h"
#include "common/Watchdog.h"
#include "pages/AboutPropertyPage.h"
#include "pages/ErrorBox.h"
#include "pages/FilterName.h"
#include "pages/UrlWin.h"
#include "support/DialogTemplate.h"

using namespace pagetest;

namespace
{
const wchar_t kLink[] = L"https://www.corvane.example/tonewell";
const wchar_t kColorKey[] = L"Software\\Microsoft\\Internet Explorer\\Settings";

std::vector<std::wstring> g_opened;
INT_PTR g_nOpenResult = 33;

INT_PTR RecordOpen(HWND, LPCWSTR pszLink)
{
    g_opened.push_back(pszLink);
    return g_nOpenResult;
}

void SetColorValue(const wchar_t* pszName, const wchar_t* pszValue)
{
    HKEY hKey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kColorKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
              ERROR_SUCCESS);
    if (pszValue != nullptr)
        RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszValue),
                       DWORD((wcslen(pszValue) + 1) * sizeof(wchar_t)));
    else
        RegDeleteValueW(hKey, pszName);
    RegCloseKey(hKey);
}

// A window of the test with one static control in the page's font.
class PiecesTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_pfnOldOpener = CUrlWindow::SetLinkOpener(&RecordOpen);
        g_opened.clear();
        g_nOpenResult = 33;
        RegDeleteTreeW(HKEY_CURRENT_USER, kColorKey);
        m_hFont = CreateFontW(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
        ShowWindow(m_host.m_hWnd, SW_SHOWNA);
        SetWindowPos(m_host.m_hWnd, HWND_TOP, 0, 0, 500, 120, SWP_NOACTIVATE);
    }
    void TearDown() override
    {
        CUrlWindow::SetLinkOpener(m_pfnOldOpener);
        RegDeleteTreeW(HKEY_CURRENT_USER, kColorKey);
        if (m_hStatic != nullptr)
            DestroyWindow(m_hStatic);
        DeleteObject(m_hFont);
    }

    HWND NewStatic(DWORD dwStyle, const wchar_t* pszText = kLink, int cx = 300, int cy = 16)
    {
        if (m_hStatic != nullptr)
            DestroyWindow(m_hStatic);
        m_hStatic = CreateWindowExW(0, L"Static", pszText, WS_CHILD | WS_VISIBLE | dwStyle, 10, 10, cx, cy,
                                    m_host.m_hWnd, reinterpret_cast<HMENU>(303), GetModuleHandleW(nullptr), nullptr);
        SendMessageW(m_hStatic, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), FALSE);
        return m_hStatic;
    }
    // The text's width in the underlined font the link draws with.
    int TextWidth(const wchar_t* psz)
    {
        HDC hdc = GetDC(m_hStatic);
        LOGFONTW lf = {};
        GetObjectW(m_hFont, sizeof(lf), &lf);
        lf.lfUnderline = TRUE;
        HFONT hFont = CreateFontIndirectW(&lf);
        HGDIOBJ hOld = SelectObject(hdc, hFont);
        SIZE size = {};
        GetTextExtentPoint32W(hdc, psz, int(wcslen(psz)), &size);
        SelectObject(hdc, hOld);
        DeleteObject(hFont);
        ReleaseDC(m_hStatic, hdc);
        return size.cx;
    }

    testwatch::CWatchdog m_watchdog;
    CPageHost m_host;
    HWND m_hStatic = nullptr;
    HFONT m_hFont = nullptr;
    CUrlWindow::PFN_OPENLINK m_pfnOldOpener = nullptr;
};

TEST_F(PiecesTest, LinkTakesClicksWhereItsTextLies)
{
    const struct
    {
        DWORD dwAlign;
        const char* pszName;
    } cases[] = {{SS_LEFT, "left"}, {SS_CENTER, "centre"}, {SS_RIGHT, "right"}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        CUrlWindow link;
        HWND hStatic = NewStatic(c.dwAlign);
        ASSERT_TRUE(link.Attach(hStatic));
        EXPECT_NE(GetWindowLongW(hStatic, GWL_STYLE) & SS_NOTIFY, 0) << "clicks reach the static";
        RECT rc = link.LinkRect();
        int cxText = TextWidth(kLink);
        EXPECT_NEAR(rc.right - rc.left, cxText, 1);
        int xExpected = c.dwAlign == SS_LEFT ? 0 : c.dwAlign == SS_CENTER ? (300 - cxText) / 2 : 300 - cxText;
        EXPECT_NEAR(rc.left, xExpected, 1);
        EXPECT_EQ(SendMessageW(hStatic, WM_GETDLGCODE, 0, 0), DLGC_WANTCHARS);
    }
    CUrlWindow frame;
    ASSERT_TRUE(frame.Attach(NewStatic(SS_ETCHEDFRAME, L"")));
    RECT rc = frame.LinkRect();
    EXPECT_EQ(rc.right, 300) << "a frame's whole area is its link";
    EXPECT_FALSE(frame.Attach(m_hStatic)) << "one control per object";
}

// A click opens the link only when it starts and ends on the text.
TEST_F(PiecesTest, LinkOpensOnAClickThatStaysOnIt)
{
    const struct
    {
        POINT ptDown;
        POINT ptUp;
        bool bOpens;
    } cases[] = {
        {{5, 8}, {30, 8}, true},    // inside to inside
        {{5, 8}, {299, 8}, false},  // released beside the text
        {{299, 8}, {5, 8}, false},  // started beside it: no capture
        {{5, 8}, {5, 40}, false},   // released below
    };
    CUrlWindow link;
    HWND hStatic = NewStatic(SS_LEFT);
    ASSERT_TRUE(link.Attach(hStatic));
    size_t nOpened = 0;
    for (const auto& c : cases)
    {
        SendMessageW(hStatic, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(c.ptDown.x, c.ptDown.y));
        SendMessageW(hStatic, WM_LBUTTONUP, 0, MAKELPARAM(c.ptUp.x, c.ptUp.y));
        nOpened += c.bOpens ? 1 : 0;
        ASSERT_EQ(g_opened.size(), nOpened) << c.ptDown.x << "," << c.ptDown.y << " to " << c.ptUp.x << "," << c.ptUp.y;
        EXPECT_NE(GetCapture(), hStatic) << "the mouse is let go";
    }
    EXPECT_EQ(g_opened.back(), kLink) << "the text is the target";
    EXPECT_EQ(GetFocus(), hStatic) << "a click on the text takes the focus";
}

TEST_F(PiecesTest, LinkOpensWithEnterOrBlank)
{
    const struct
    {
        wchar_t ch;
        bool bOpens;
    } cases[] = {{L'\r', true}, {L' ', true}, {L'a', false}, {L'\t', false}};
    CUrlWindow link;
    HWND hStatic = NewStatic(SS_LEFT);
    ASSERT_TRUE(link.Attach(hStatic));
    for (const auto& c : cases)
    {
        g_opened.clear();
        SendMessageW(hStatic, WM_CHAR, c.ch, 1);
        EXPECT_EQ(g_opened.size(), c.bOpens ? 1u : 0u) << int(c.ch);
    }
}

// Opened, the link is visited and drawn in the visited colour; a link that cannot be opened
// stays as it was.
TEST_F(PiecesTest, LinkColoursFollowItsVisits)
{
    CUrlWindow link;
    HWND hStatic = NewStatic(SS_LEFT);
    ASSERT_TRUE(link.Attach(hStatic));
    auto isPurple = [](COLORREF clr) { return clr == RGB(128, 0, 128); };
    CCapture before = CCapture::PrintClient(hStatic);
    EXPECT_TRUE(before.Has(RGB(0, 0, 255)));
    EXPECT_FALSE(before.Has(RGB(128, 0, 128)));

    g_nOpenResult = SE_ERR_NOASSOC;
    EXPECT_FALSE(link.Open());
    EXPECT_FALSE(link.IsVisited());
    g_nOpenResult = 42;
    EXPECT_TRUE(link.Open());
    EXPECT_TRUE(link.IsVisited());
    CCapture after = CCapture::PrintClient(hStatic);
    EXPECT_TRUE(after.Has(RGB(128, 0, 128)));
    EXPECT_FALSE(after.Has(RGB(0, 0, 255)));
    // The underline runs under the whole text.
    RECT rcText = after.Bounds(isPurple);
    EXPECT_NEAR(rcText.right - rcText.left, TextWidth(kLink), 2);
}

// The current user's browser colours: three numbers each taken to 8 bits; anything else, or
// a value too long for the 12-character buffer, leaves the default.
TEST_F(PiecesTest, LinkColoursFromTheRegistry)
{
    const COLORREF kBlue = RGB(0, 0, 255), kPurple = RGB(128, 0, 128);
    const struct
    {
        const wchar_t* pszLink;
        const wchar_t* pszVisited;
        COLORREF clrLink;
        COLORREF clrVisited;
    } cases[] = {
        {L"255,0,0", L"0,128,0", RGB(255, 0, 0), RGB(0, 128, 0)},
        {L"255,0", L"1,2,", kBlue, kPurple},
        {L"256,257,300", L" 1, 2 ,3", RGB(0, 1, 44), RGB(1, 2, 3)},
        {L"255,255,2555", L"10,20,30", kBlue, RGB(10, 20, 30)},
        {L"red", L"1,2,3,4", kBlue, kPurple},
        {L"", L"-1,2,3", kBlue, kPurple},
        {nullptr, L"9,8,7", kBlue, RGB(9, 8, 7)},
    };
    for (const auto& c : cases)
    {
        SetColorValue(L"Anchor Color", c.pszLink);
        SetColorValue(L"Anchor Color Visited", c.pszVisited);
        CUrlWindow link;
        ASSERT_TRUE(link.Attach(NewStatic(SS_LEFT)));
        EXPECT_EQ(link.LinkColor(), c.clrLink) << (c.pszLink ? c.pszLink : L"(none)");
        EXPECT_EQ(link.VisitedColor(), c.clrVisited) << c.pszVisited;
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kColorKey);
    CUrlWindow link;
    ASSERT_TRUE(link.Attach(NewStatic(SS_LEFT)));
    EXPECT_EQ(link.LinkColor(), kBlue) << "no key";
    EXPECT_EQ(link.VisitedColor(), kPurple) << "no key";
}

TEST_F(PiecesTest, LinkShowsTheHandOverItsText)
{
    CUrlWindow link;
    HWND hStatic = NewStatic(SS_LEFT);
    ASSERT_TRUE(link.Attach(hStatic));
    HCURSOR hHand = LoadCursorW(nullptr, IDC_HAND);
    HCURSOR hArrow = LoadCursorW(nullptr, IDC_ARROW);
    SetCursor(hArrow);
    SendMessageW(hStatic, WM_MOUSEMOVE, 0, MAKELPARAM(299, 8));
    EXPECT_EQ(GetCursor(), hArrow) << "beside the text";
    SendMessageW(hStatic, WM_MOUSEMOVE, 0, MAKELPARAM(5, 8));
    EXPECT_EQ(GetCursor(), hHand);
}

TEST(FilterNameText, MakersWordIsLeftOut)
{
    const struct
    {
        const wchar_t* pszName;
        const wchar_t* pszShown;
    } cases[] = {
        {L"Corvane Tonewell", L"Tonewell"},
        {L"CORVANE   Tonewell Pro", L"Tonewell Pro"},
        {L"Corvanes Tone Gen", L"Tone Gen"},
        {L"corva x", L"x"},
        {L"Corvane", L"Corvane"},
        {L"Corvane   ", L"Corvane   "},
        {L"Tonewell", L"Tonewell"},
        {L"Corvx Tone", L"Corvx Tone"},
        {L"Corv", L"Corv"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(NameWithoutMaker(c.pszName), c.pszShown) << c.pszName;
}

// The name is painted over the picture, centred in the column from 150 to 384.
TEST_F(PiecesTest, NameIsPaintedInTheLogosLightPart)
{
    // A white picture the size of the logo.
    HDC hdcScreen = GetDC(nullptr);
    HBITMAP hBitmap = CreateCompatibleBitmap(hdcScreen, 400, 72);
    HDC hdc = CreateCompatibleDC(hdcScreen);
    HGDIOBJ hOld = SelectObject(hdc, hBitmap);
    RECT rcAll = {0, 0, 400, 72};
    FillRect(hdc, &rcAll, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SelectObject(hdc, hOld);
    DeleteDC(hdc);
    ReleaseDC(nullptr, hdcScreen);

    const struct
    {
        const wchar_t* pszName;
        const wchar_t* pszDrawn;
    } cases[] = {{L"Corvane Tonewell", L"Tonewell"}, {L"Corvane", L"Corvane"}};
    for (const auto& c : cases)
    {
        HWND hLogo = NewStatic(SS_BITMAP, L"", 400, 72);
        SendMessageW(hLogo, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(hBitmap));
        CFilterName name;
        ASSERT_TRUE(name.Attach(m_host.m_hWnd, 303, c.pszName));
        EXPECT_STREQ(name.Name(), c.pszDrawn);
        CCapture capture = CCapture::Window(hLogo);
        RECT rcInk = capture.Bounds(&IsBlack);

        HDC hdcLogo = GetDC(hLogo);
        HFONT hFont = CreateFontW(-20, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
        HGDIOBJ hOldFont = SelectObject(hdcLogo, hFont);
        SIZE size = {};
        GetTextExtentPoint32W(hdcLogo, c.pszDrawn, int(wcslen(c.pszDrawn)), &size);
        SelectObject(hdcLogo, hOldFont);
        DeleteObject(hFont);
        ReleaseDC(hLogo, hdcLogo);

        EXPECT_GE(rcInk.left, CFilterName::TEXT_LEFT) << c.pszName;
        EXPECT_LE(rcInk.right, CFilterName::TEXT_LEFT + CFilterName::TEXT_WIDTH) << c.pszName;
        EXPECT_NEAR(rcInk.right - rcInk.left, size.cx, 4) << c.pszName;
        EXPECT_NEAR((rcInk.left + rcInk.right) / 2, CFilterName::TEXT_LEFT + CFilterName::TEXT_WIDTH / 2, 3)
            << c.pszName;
        EXPECT_NEAR((rcInk.top + rcInk.bottom) / 2, 36, 4) << c.pszName;
    }
    DeleteObject(hBitmap);
}

TEST_F(PiecesTest, NamePainterRefusesWhatItCannotPaint)
{
    NewStatic(SS_BITMAP, L"", 400, 72);
    CFilterName name;
    EXPECT_FALSE(name.Attach(m_host.m_hWnd, 303, L"")) << "no name";
    EXPECT_FALSE(name.Attach(m_host.m_hWnd, 999, L"Tonewell")) << "no such control";
    EXPECT_FALSE(name.Attach(nullptr, 303, L"Tonewell")) << "no dialog";
    ASSERT_TRUE(name.Attach(m_host.m_hWnd, 303, L"Tonewell"));
    EXPECT_FALSE(name.Attach(m_host.m_hWnd, 303, L"Other")) << "already attached";
    EXPECT_STREQ(name.Name(), L"Tonewell");
}

TEST(VersionLine, FromVersionAndBuildStamps)
{
    VS_FIXEDFILEINFO fi = {};
    fi.dwProductVersionMS = MAKELONG(1, 1);
    fi.dwProductVersionLS = MAKELONG(0, 2);
    VS_FIXEDFILEINFO fiBig = {};
    fiBig.dwProductVersionMS = MAKELONG(14, 3);
    fiBig.dwProductVersionLS = MAKELONG(926, 15);
    const struct
    {
        const VS_FIXEDFILEINFO* pfi;
        const char* pszDate;
        const char* pszTime;
        const wchar_t* pszLine;
    } cases[] = {
        {&fi, "Mar  7 2024", "09:03:07", L"1.1.2.0 (7-Mar-2024 09:03:07) [Debug] 64 bit"},
        {&fi, "Mar 17 2024", "23:59:59", L"1.1.2.0 (17-Mar-2024 23:59:59) [Debug] 64 bit"},
        {&fiBig, "Dec 31 2099", "00:00:00", L"3.14.15.926 (31-Dec-2099 00:00:00) [Debug] 64 bit"},
    };
    for (const auto& c : cases)
    {
        wchar_t sz[128];
        ASSERT_TRUE(FormatVersionLine(sz, 128, *c.pfi, c.pszDate, c.pszTime));
        EXPECT_STREQ(sz, c.pszLine);
    }
    wchar_t sz[128];
    EXPECT_FALSE(FormatVersionLine(sz, 128, fi, "Mar 7", "09:03:07")) << "a date stamp too short";
    EXPECT_FALSE(FormatVersionLine(sz, 128, fi, nullptr, "09:03:07"));
    EXPECT_FALSE(FormatVersionLine(sz, 128, fi, "Mar  7 2024", nullptr));
    // A buffer too small for the line: nothing is written past it.
    wchar_t szSmall[24];
    for (wchar_t& ch : szSmall)
        ch = L'#';
    EXPECT_FALSE(FormatVersionLine(szSmall, 20, fi, "Mar  7 2024", "09:03:07"));
    for (int i = 20; i < 24; ++i)
        EXPECT_EQ(szSmall[i], L'#') << i;
}

TEST(ErrorBoxText, TextCodeTextAndCode)
{
    wchar_t szMedia[512] = {};
    ASSERT_GT(AMGetErrorTextW(VFW_E_CHANGING_FORMAT, szMedia, 512), 0u);
    wchar_t szSystem[512] = {};
    ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(E_INVALIDARG),
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), szSystem, 512, nullptr),
              0u);
    std::wstring system = szSystem;
    const struct
    {
        const wchar_t* pszText;
        HRESULT hr;
        std::wstring message;
    } cases[] = {
        {L"Can't change properties", VFW_E_CHANGING_FORMAT,
         L"Can't change properties\n" + std::wstring(szMedia) +
             (std::wstring(szMedia).back() == L'\n' ? L"" : L"\r\n") + L"Error 0x80040219"},
        {L"Can't change properties", E_INVALIDARG, L"Can't change properties\n" + system + L"Error 0x80070057"},
        {L"", E_INVALIDARG, system + L"Error 0x80070057"},
        // A code with no text anywhere: only the page's text and the code.
        {L"Can't change properties", HRESULT(0x80AA0001), L"Can't change properties\r\nError 0x80AA0001"},
        {L"Ends in a line\n", HRESULT(0x80AA0001), L"Ends in a line\nError 0x80AA0001"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorBoxMessage(c.pszText, c.hr), c.message) << std::hex << c.hr;
    ASSERT_NE(system.find(L"parameter"), std::wstring::npos) << "the system's own text";
}

TEST(ErrorBoxText, InsertTakesThePlaceOfPercentOne)
{
    const HRESULT hr = HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
    wchar_t sz[512] = {};
    ASSERT_GT(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, DWORD(hr),
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), sz, 512, nullptr),
              0u);
    std::wstring raw = sz;
    ASSERT_NE(raw.find(L"%1"), std::wstring::npos) << "the system's text names its insert";
    std::wstring message = ErrorBoxMessage(L"Start", hr, L"tone.exe");
    EXPECT_EQ(message.find(L"%1"), std::wstring::npos);
    std::wstring expected = raw;
    expected.replace(expected.find(L"%1"), 2, L"tone.exe");
    EXPECT_EQ(message, L"Start\n" + expected + L"Error 0x800700C1");
}

// Without an icon the box shows the error icon for failures and the warning icon otherwise.
TEST(ErrorBoxText, IconFollowsTheCode)
{
    const struct
    {
        HRESULT hr;
        UINT uIcon;
        LPCWSTR pszExpected;
    } cases[] = {{E_FAIL, 0, IDI_ERROR}, {S_FALSE, 0, IDI_WARNING}, {S_FALSE, MB_ICONERROR, IDI_ERROR}};
    for (const auto& c : cases)
    {
        CMessageBoxCatcher catcher;
        EXPECT_EQ(ShowErrorBox(nullptr, L"Text", L"Caption", c.hr, c.uIcon), IDOK);
        ASSERT_EQ(catcher.m_boxes.size(), 1u);
        EXPECT_EQ(catcher.m_boxes[0].caption, L"Caption");
        EXPECT_EQ(catcher.m_boxes[0].hIcon, LoadIconW(nullptr, c.pszExpected)) << std::hex << c.hr;
    }
}

// This program has no dialog resources: the page layer's size query says which failure it met.
TEST(DialogTemplate, MissingTemplateOrSize)
{
    SIZE size = {-1, -1};
    EXPECT_EQ(DialogTemplateSize(GetModuleHandleW(nullptr), 106, &size), HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(size.cx, -1) << "nothing written";
    EXPECT_EQ(DialogTemplateSize(GetModuleHandleW(nullptr), 106, nullptr), E_POINTER);
}
}
