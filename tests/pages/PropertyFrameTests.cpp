// The platform's own property frame for the filter, with the pages GetPages names: it opens
// with both tabs, shows each page, takes a change on the settings page and closes with OK.
// The frame is modal, so a timer of this thread takes the person's part step by step inside
// its message loop. (Wine 8's frame never asks its pages whether they are dirty nor calls
// their Apply, and keeps its Apply button disabled: applying is covered by the host of
// SettingsPageTests.)
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <dshow.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "PagesTestSupport.h"
#include "TonewellIdl.h"
#include "common/Watchdog.h"
#include "pages/PageResources.h"
#include "support/ComPtr.h"

using namespace pagetest;

namespace
{
// What the steps saw, checked once the frame has returned.
struct CFrameRun
{
    int nStep = 0;
    HWND hFrame = nullptr;
    std::vector<std::wstring> tabs;
    bool bSettingsShown = false;
    bool bAboutShown = false;
    bool bSettingsHidden = false;
    bool bClosed = false;
    std::wstring failure;
};
CFrameRun* g_pRun = nullptr;

BOOL CALLBACK FindFrame(HWND hWnd, LPARAM lParam)
{
    wchar_t szClass[32] = {};
    GetClassNameW(hWnd, szClass, 32);
    if (IsWindowVisible(hWnd) && wcscmp(szClass, L"#32770") == 0)
    {
        *reinterpret_cast<HWND*>(lParam) = hWnd;
        return FALSE;
    }
    return TRUE;
}

struct CFind
{
    const wchar_t* pszClass;
    const wchar_t* pszText;  // compared without '&' and case
    int nChildId;            // or: a dialog holding a control of this id
    HWND hFound;
};

std::wstring Plain(std::wstring text)
{
    std::wstring out;
    for (wchar_t ch : text)
        if (ch != L'&')
            out += wchar_t(towlower(ch));
    return out;
}

BOOL CALLBACK FindChild(HWND hWnd, LPARAM lParam)
{
    auto* pFind = reinterpret_cast<CFind*>(lParam);
    wchar_t szClass[64] = {};
    GetClassNameW(hWnd, szClass, 64);
    if (_wcsicmp(szClass, pFind->pszClass) != 0)
        return TRUE;
    if (pFind->pszText != nullptr && Plain(Text(hWnd)) != Plain(pFind->pszText))
        return TRUE;
    if (pFind->nChildId != 0 && GetDlgItem(hWnd, pFind->nChildId) == nullptr)
        return TRUE;
    pFind->hFound = hWnd;
    return FALSE;
}

HWND Child(HWND hParent, const wchar_t* pszClass, const wchar_t* pszText = nullptr, int nChildId = 0)
{
    CFind find = {pszClass, pszText, nChildId, nullptr};
    EnumChildWindows(hParent, &FindChild, reinterpret_cast<LPARAM>(&find));
    return find.hFound;
}

void PressButton(HWND hButton)
{
    SendMessageW(GetParent(hButton), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hButton), BN_CLICKED),
                 reinterpret_cast<LPARAM>(hButton));
}

void SelectTab(HWND hTab, int nItem)
{
    SendMessageW(hTab, TCM_SETCURSEL, WPARAM(nItem), 0);
    NMHDR hdr = {hTab, UINT_PTR(GetDlgCtrlID(hTab)), UINT(TCN_SELCHANGE)};
    SendMessageW(GetParent(hTab), WM_NOTIFY, hdr.idFrom, reinterpret_cast<LPARAM>(&hdr));
}

// One step per tick: the frame's tabs and a change on the settings page, the About tab,
// then OK.
void CALLBACK Step(HWND, UINT, UINT_PTR, DWORD)
{
    CFrameRun& run = *g_pRun;
    if (run.hFrame == nullptr)
    {
        EnumThreadWindows(GetCurrentThreadId(), &FindFrame, reinterpret_cast<LPARAM>(&run.hFrame));
        return;  // not open yet
    }
    HWND hTab = Child(run.hFrame, WC_TABCONTROLW);
    switch (run.nStep++)
    {
    case 0:
    {
        if (hTab == nullptr)
        {
            run.failure = L"no tabs";
            break;
        }
        int n = int(SendMessageW(hTab, TCM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < n; ++i)
        {
            wchar_t sz[64] = {};
            TCITEMW item = {};
            item.mask = TCIF_TEXT;
            item.pszText = sz;
            item.cchTextMax = 64;
            SendMessageW(hTab, TCM_GETITEMW, WPARAM(i), reinterpret_cast<LPARAM>(&item));
            run.tabs.push_back(sz);
        }
        HWND hSettings = Child(run.hFrame, L"#32770", nullptr, IDC_CHANNELS);
        run.bSettingsShown = hSettings != nullptr && IsWindowVisible(hSettings);
        // A change the frame closes over.
        if (hSettings != nullptr)
            Choose(GetDlgItem(hSettings, IDC_CHANNELS), 5);
        return;
    }
    case 1:
        SelectTab(hTab, 1);
        return;
    case 2:
    {
        HWND hAbout = Child(run.hFrame, L"#32770", nullptr, IDC_ABOUT_LOGO);
        run.bAboutShown = hAbout != nullptr && IsWindowVisible(hAbout);
        HWND hSettings = Child(run.hFrame, L"#32770", nullptr, IDC_CHANNELS);
        run.bSettingsHidden = hSettings == nullptr || !IsWindowVisible(hSettings);
        HWND hOk = Child(run.hFrame, L"Button", L"OK");
        if (hOk == nullptr)
        {
            run.failure = L"no OK button";
            break;
        }
        PressButton(hOk);
        run.bClosed = true;
        return;
    }
    default:
        return;
    }
    // Something is missing: close the frame so that the test can report it.
    EndDialog(run.hFrame, IDCANCEL);
    PostMessageW(run.hFrame, WM_CLOSE, 0, 0);
}

TEST(PropertyFrame, ShowsBothPagesAndCloses)
{
    testwatch::CWatchdog watchdog;
    CComPtr<IUnknown> spFilter;
    ASSERT_EQ(CoCreateInstance(CLSID_Tonewell, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&spFilter)),
              S_OK);
    CComQIPtr<ISpecifyPropertyPages> spSpecify(spFilter);
    ASSERT_TRUE(spSpecify);
    CAUUID pages = {};
    ASSERT_EQ(spSpecify->GetPages(&pages), S_OK);

    CFrameRun run;
    g_pRun = &run;
    UINT_PTR nTimer = SetTimer(nullptr, 0, 100, &Step);
    IUnknown* pUnk = spFilter;
    HRESULT hr = OleCreatePropertyFrame(nullptr, 0, 0, L"Corvane Tonewell", 1, &pUnk, pages.cElems, pages.pElems,
                                        GetUserDefaultLCID(), 0, nullptr);
    KillTimer(nullptr, nTimer);
    g_pRun = nullptr;
    CoTaskMemFree(pages.pElems);

    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(run.failure, L"");
    EXPECT_EQ(run.tabs, (std::vector<std::wstring>{L"Corvane Tonewell", L"About"}));
    EXPECT_TRUE(run.bSettingsShown);
    EXPECT_TRUE(run.bAboutShown);
    EXPECT_TRUE(run.bSettingsHidden) << "one page at a time";
    EXPECT_TRUE(run.bClosed);
    EXPECT_TRUE(SinkHas(L"CAboutPropertyPage::GetPageInfo()")) << "the About page's own page information";
    // The frame let go of the pages, and the pages of the filter.
    spSpecify.Release();
    EXPECT_EQ(spFilter.Detach()->Release(), 0u);
}
}
