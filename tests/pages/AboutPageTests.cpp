// The About page created through the registered module and shown in a host of ours.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <regex>

#include "PageHost.h"
#include "PagesTestSupport.h"
#include "TonewellIdl.h"
#include "common/Watchdog.h"
#include "pages/FilterName.h"
#include "pages/PageResources.h"

using namespace pagetest;

namespace
{
const wchar_t kColorKey[] = L"Software\\Microsoft\\Internet Explorer\\Settings";

std::vector<std::wstring> g_opened;

HINSTANCE WINAPI RecordShellOpen(HWND, LPCWSTR pszVerb, LPCWSTR pszFile, LPCWSTR, LPCWSTR, INT nShow)
{
    g_opened.push_back(std::wstring(pszVerb ? pszVerb : L"") + L" " + pszFile + L" " + std::to_wstring(nShow));
    return reinterpret_cast<HINSTANCE>(INT_PTR(42));
}

class AboutPageTest : public testing::Test
{
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, kColorKey);
        ASSERT_EQ(CoCreateInstance(CLSID_Tonewell, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&m_spFilter)),
                  S_OK);
    }
    void TearDown() override
    {
        m_pHost.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, kColorKey);
    }
    void Open()
    {
        m_pHost = std::make_unique<CPageHost>();
        CComPtr<IPropertyPage> spPage;
        ASSERT_EQ(CoCreateInstance(CLSID_TonewellAbout, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                   reinterpret_cast<void**>(&spPage)),
                  S_OK);
        IUnknown* pUnk = m_spFilter;
        ASSERT_EQ(m_pHost->Attach(spPage, 1, &pUnk), S_OK);
        ASSERT_EQ(m_pHost->Activate(), S_OK);
    }
    HWND Ctl(int nId) const { return m_pHost->Control(nId); }

    testwatch::CWatchdog m_watchdog;
    CComPtr<IUnknown> m_spFilter;
    std::unique_ptr<CPageHost> m_pHost;
};

TEST_F(AboutPageTest, PageInformationAndTexts)
{
    Open();
    const PROPPAGEINFO& info = m_pHost->m_info;
    EXPECT_STREQ(info.pszTitle, L"About");
    EXPECT_EQ(info.pszHelpFile, nullptr);
    EXPECT_EQ(info.pszDocString, nullptr);
    RECT rc = {0, 0, 287, 190};
    ASSERT_TRUE(MapDialogRect(m_pHost->PageWindow(), &rc));
    EXPECT_EQ(info.size.cx, rc.right);
    EXPECT_EQ(info.size.cy, rc.bottom);

    EXPECT_EQ(Text(Ctl(IDC_ABOUT_URL)), L"https://www.corvane.example/tonewell");
    EXPECT_EQ(Text(Ctl(IDC_ABOUT_SUPPORT)), L"mailto:support@corvane.example");
    EXPECT_GT(Text(Ctl(IDC_ABOUT_WARNING)).size(), 40u) << "the legal warning is set";
    EXPECT_EQ(m_pHost->m_spPage->GetPageInfo(nullptr), E_POINTER);
}

// The version line: the product version of the module's version resource, then the build's
// date and time, the build type and the platform.
TEST_F(AboutPageTest, VersionLineFromTheModule)
{
    Open();
    DWORD dwHandle = 0;
    std::wstring path = L"Tonewell.dll";
    DWORD cb = GetFileVersionInfoSizeW(path.c_str(), &dwHandle);
    ASSERT_GT(cb, 0u);
    std::vector<BYTE> block(cb);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, cb, block.data()));
    VS_FIXEDFILEINFO* pFixed = nullptr;
    UINT cbFixed = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&pFixed), &cbFixed));
    std::wstring version = std::to_wstring(HIWORD(pFixed->dwProductVersionMS)) + L"\\." +
                           std::to_wstring(LOWORD(pFixed->dwProductVersionMS)) + L"\\." +
                           std::to_wstring(HIWORD(pFixed->dwProductVersionLS)) + L"\\." +
                           std::to_wstring(LOWORD(pFixed->dwProductVersionLS));
    std::wregex line(version + L" \\(([1-9]|[12][0-9]|3[01])-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-"
                               L"20[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\) \\[Debug\\] 64 bit");
    std::wstring text = Text(Ctl(IDC_ABOUT_VERSION));
    EXPECT_TRUE(std::regex_match(text, line)) << std::string(text.begin(), text.end());
}

// "Tonewell" in black over the logo's light part, nothing black anywhere else on it.
TEST_F(AboutPageTest, NameIsPaintedOverTheLogo)
{
    Open();
    HWND hLogo = Ctl(IDC_ABOUT_LOGO);
    CCapture capture = CCapture::Window(hLogo);
    RECT rcInk = capture.Bounds(&IsBlack);
    ASSERT_GT(rcInk.right, rcInk.left) << "black ink on the logo";
    EXPECT_GE(rcInk.left, CFilterName::TEXT_LEFT);
    EXPECT_LE(rcInk.right, CFilterName::TEXT_LEFT + CFilterName::TEXT_WIDTH);
    HDC hdc = GetDC(hLogo);
    HFONT hFont = CreateFontW(-20, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                              CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
    HGDIOBJ hOld = SelectObject(hdc, hFont);
    SIZE size = {};
    GetTextExtentPoint32W(hdc, L"Tonewell", 8, &size);
    SelectObject(hdc, hOld);
    DeleteObject(hFont);
    ReleaseDC(hLogo, hdc);
    EXPECT_NEAR(rcInk.right - rcInk.left, size.cx, 4) << "the name without the maker's word";
    // The logo itself: the control takes the picture's size, 400 x 72, and shows its dark
    // panel at the left.
    RECT rcLogo = {};
    GetWindowRect(hLogo, &rcLogo);
    EXPECT_EQ(rcLogo.right - rcLogo.left, 400);
    EXPECT_EQ(rcLogo.bottom - rcLogo.top, 72);
    COLORREF clrPanel = capture.Pixel(12, 12);
    EXPECT_LT(GetRValue(clrPanel) + GetGValue(clrPanel) + GetBValue(clrPanel), 3 * 0x80) << "the dark panel";
}

// The links take their colours from the current user's settings: a valid one replaces the
// default, a malformed one leaves it.
TEST_F(AboutPageTest, LinkColoursFromTheRegistry)
{
    const struct
    {
        const wchar_t* pszValue;
        COLORREF clr;
    } cases[] = {{L"255,0,0", RGB(255, 0, 0)}, {L"255,0", RGB(0, 0, 255)}};
    for (const auto& c : cases)
    {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kColorKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, L"Anchor Color", 0, REG_SZ, reinterpret_cast<const BYTE*>(c.pszValue),
                       DWORD((wcslen(c.pszValue) + 1) * sizeof(wchar_t)));
        RegCloseKey(hKey);
        Open();
        for (int nId : {IDC_ABOUT_URL, IDC_ABOUT_SUPPORT})
        {
            EXPECT_TRUE(CCapture::PrintClient(Ctl(nId)).Has(c.clr)) << c.pszValue << " on " << nId;
        }
    }
}

// The page's links open with the shell's "open" verb on their own text.
TEST_F(AboutPageTest, LinksOpenTheirText)
{
    Open();
    g_opened.clear();
    CImportPatch patch(GetModuleHandleW(L"Tonewell.dll"), "shell32.dll", "ShellExecuteW",
                       reinterpret_cast<void*>(&RecordShellOpen));
    ASSERT_TRUE(patch.IsActive());
    SendMessageW(Ctl(IDC_ABOUT_URL), WM_CHAR, VK_RETURN, 1);
    Click(Ctl(IDC_ABOUT_SUPPORT), POINT{3, 3});
    EXPECT_EQ(g_opened, (std::vector<std::wstring>{L"open https://www.corvane.example/tonewell 1",
                                                   L"open mailto:support@corvane.example 1"}));
}

// Nothing on the page changes the filter: it never becomes dirty and Apply does nothing.
TEST_F(AboutPageTest, NeverDirty)
{
    Open();
    SendMessageW(Ctl(IDC_ABOUT_URL), WM_SETFOCUS, 0, 0);
    EXPECT_EQ(m_pHost->m_spPage->IsPageDirty(), S_FALSE);
    EXPECT_EQ(m_pHost->m_spPage->Apply(), S_OK);
    EXPECT_TRUE(m_pHost->m_site.m_statusChanges.empty());
    EXPECT_TRUE(SinkHas(L"IPropertyPageImpl::Apply"));
    ASSERT_EQ(m_pHost->Deactivate(), S_OK);
    ASSERT_EQ(m_pHost->Activate(), S_OK) << "activated again";
    EXPECT_EQ(Text(Ctl(IDC_ABOUT_URL)), L"https://www.corvane.example/tonewell");
}
}
