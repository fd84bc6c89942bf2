// tonewell-pages.exe: opens the platform's property frame for a tone filter, so that a person
// sees and uses both pages on a real screen. It takes Tonewell.dll from its own folder and
// offers the module's classes to COM for its own run, so nothing needs registering.
//
//     tonewell-pages.exe [--check]
//
// With --check it prints the frame's tabs once the frame shows and closes it with OK, so that
// a test sees the viewer work: the exit code is 0 only when every page showed as a tab.
#include <windows.h>
#include <commctrl.h>
#include <olectl.h>
#include <stdio.h>
#include <string.h>

#include "TonewellIdl.h"
#include "support/ComPtr.h"

namespace
{
int g_nTabsShown = -1;  // tabs the checked frame showed; -1 before it showed

using PFN_GETCLASSOBJECT = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

int Fail(const char* pszWhat, HRESULT hr)
{
    fprintf(stderr, "tonewell-pages: %s failed: 0x%08lX\n", pszWhat, static_cast<unsigned long>(hr));
    return 1;
}

BOOL CALLBACK FindVisibleDialog(HWND hWnd, LPARAM lParam)
{
    wchar_t szClass[16] = {};
    GetClassNameW(hWnd, szClass, ARRAYSIZE(szClass));
    if (!IsWindowVisible(hWnd) || wcscmp(szClass, L"#32770") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = hWnd;
    return FALSE;
}

// The first child of a window class, and with a given text when one is named.
HWND FindChild(HWND hParent, LPCWSTR pszClass, LPCWSTR pszText)
{
    for (HWND hWnd = FindWindowExW(hParent, nullptr, pszClass, nullptr); hWnd != nullptr;
         hWnd = FindWindowExW(hParent, hWnd, pszClass, nullptr))
    {
        wchar_t szText[32] = {};
        GetWindowTextW(hWnd, szText, ARRAYSIZE(szText));
        if (pszText == nullptr || wcscmp(szText, pszText) == 0)
            return hWnd;
    }
    return nullptr;
}

// Runs inside the frame's modal loop: once the frame shows, its tabs are printed and OK pressed.
void CALLBACK CheckFrame(HWND, UINT, UINT_PTR nTimer, DWORD)
{
    static int s_nTicks = 0;
    HWND hFrame = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &FindVisibleDialog, reinterpret_cast<LPARAM>(&hFrame));
    if (hFrame == nullptr)
    {
        // A frame that never shows must not hold the test run.
        if (++s_nTicks == 300)
        {
            fprintf(stderr, "tonewell-pages: the property frame did not show\n");
            ExitProcess(3);
        }
        return;
    }
    KillTimer(nullptr, nTimer);
    HWND hTab = FindChild(hFrame, WC_TABCONTROLW, nullptr);
    int nTabs = hTab != nullptr ? int(SendMessageW(hTab, TCM_GETITEMCOUNT, 0, 0)) : 0;
    printf("tabs:");
    for (int i = 0; i < nTabs; ++i)
    {
        wchar_t szText[64] = {};
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = szText;
        item.cchTextMax = ARRAYSIZE(szText);
        SendMessageW(hTab, TCM_GETITEMW, WPARAM(i), reinterpret_cast<LPARAM>(&item));
        printf("%s \"%ls\"", i > 0 ? "," : "", szText);
    }
    printf("\n");
    fflush(stdout);
    g_nTabsShown = nTabs;
    HWND hOk = FindChild(hFrame, L"Button", L"OK");
    if (hOk != nullptr)
        SendMessageW(hFrame, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hOk), BN_CLICKED), reinterpret_cast<LPARAM>(hOk));
    else
        PostMessageW(hFrame, WM_CLOSE, 0, 0);
}
}

int main(int argc, char** argv)
{
    bool bCheck = argc == 2 && strcmp(argv[1], "--check") == 0;
    if (argc > 1 && !bCheck)
    {
        fprintf(stderr, "usage: tonewell-pages.exe [--check]\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return Fail("starting COM", E_FAIL);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    wcscpy(wcsrchr(szPath, L'\\') + 1, L"Tonewell.dll");
    HMODULE hModule = LoadLibraryW(szPath);
    if (hModule == nullptr)
        return Fail("loading Tonewell.dll", HRESULT_FROM_WIN32(GetLastError()));
    // Through the generic function type: the export's own type is known only by its name.
    auto pfnGetClassObject = reinterpret_cast<PFN_GETCLASSOBJECT>(
        reinterpret_cast<void (*)()>(GetProcAddress(hModule, "DllGetClassObject")));
    if (pfnGetClassObject == nullptr)
        return Fail("finding DllGetClassObject", E_FAIL);

    HRESULT hr = S_OK;
    {
        // The frame creates the pages by their class identifiers: this run's own class objects.
        const CLSID* apClasses[] = {&CLSID_TonewellPP, &CLSID_TonewellAbout};
        DWORD adwCookies[2] = {};
        for (int i = 0; i < 2 && SUCCEEDED(hr); ++i)
        {
            CComPtr<IUnknown> spFactory;
            hr = pfnGetClassObject(*apClasses[i], IID_IUnknown, reinterpret_cast<void**>(&spFactory));
            if (SUCCEEDED(hr))
                hr = CoRegisterClassObject(*apClasses[i], spFactory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                           &adwCookies[i]);
        }
        if (FAILED(hr))
            return Fail("offering the pages' classes", hr);

        CComPtr<IClassFactory> spFilterFactory;
        CComPtr<IUnknown> spFilter;
        hr = pfnGetClassObject(CLSID_Tonewell, IID_IClassFactory, reinterpret_cast<void**>(&spFilterFactory));
        if (SUCCEEDED(hr))
            hr = spFilterFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&spFilter));
        if (FAILED(hr))
            return Fail("creating the filter", hr);
        CComQIPtr<ISpecifyPropertyPages> spSpecify(spFilter);
        CAUUID pages = {};
        hr = spSpecify ? spSpecify->GetPages(&pages) : E_NOINTERFACE;
        if (FAILED(hr))
            return Fail("asking the filter for its pages", hr);
        IUnknown* pUnk = spFilter;
        if (bCheck)
            SetTimer(nullptr, 0, 100, &CheckFrame);
        hr = OleCreatePropertyFrame(nullptr, 40, 40, L"Corvane Tonewell", 1, &pUnk, pages.cElems, pages.pElems,
                                    GetUserDefaultLCID(), 0, nullptr);
        CoTaskMemFree(pages.pElems);
        if (bCheck && SUCCEEDED(hr) && g_nTabsShown != int(pages.cElems))
        {
            fprintf(stderr, "tonewell-pages: the frame showed %d of %lu pages\n", g_nTabsShown, pages.cElems);
            hr = E_FAIL;
        }
        for (DWORD dwCookie : adwCookies)
            CoRevokeClassObject(dwCookie);
        if (FAILED(hr))
            return Fail("showing the property frame", hr);
    }
    CoUninitialize();
    return 0;
}
