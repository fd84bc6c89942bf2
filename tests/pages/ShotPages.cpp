// Shows one property page of the module beside this program on the screen's top left corner
// until it is told to go, so that the screen can be photographed:
//
//     shot_pages.exe settings|about <ready file> <done file>
//
// The page is created straight from the module's class objects, with no registration. Once
// the page is painted the program writes "<width> <height>" into the ready file; it ends
// when the done file appears (or after a minute).
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>

#include "PageHost.h"
#include "TonewellIdl.h"
#include "pages/PageResources.h"

namespace
{
HRESULT CreateFromModule(HMODULE hModule, REFCLSID clsid, REFIID riid, void** ppv)
{
    auto pfnGetClassObject =
        reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(GetProcAddress(hModule, "DllGetClassObject"));
    if (pfnGetClassObject == nullptr)
        return E_FAIL;
    CComPtr<IClassFactory> spFactory;
    HRESULT hr = pfnGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&spFactory));
    return SUCCEEDED(hr) ? spFactory->CreateInstance(nullptr, riid, ppv) : hr;
}

int Fail(const char* pszWhat, HRESULT hr)
{
    fprintf(stderr, "shot_pages: %s failed: 0x%08lX\n", pszWhat, static_cast<unsigned long>(hr));
    return 1;
}
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4 || (wcscmp(argv[1], L"settings") != 0 && wcscmp(argv[1], L"about") != 0))
    {
        fprintf(stderr, "usage: shot_pages.exe settings|about <ready file> <done file>\n");
        return 2;
    }
    bool bSettings = wcscmp(argv[1], L"settings") == 0;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    HMODULE hModule = LoadLibraryW(L"Tonewell.dll");
    if (hModule == nullptr)
        return Fail("loading Tonewell.dll", HRESULT_FROM_WIN32(GetLastError()));
    int nResult = 0;
    {
        CComPtr<IUnknown> spFilter;
        CComPtr<IPropertyPage> spPage;
        HRESULT hr = CreateFromModule(hModule, CLSID_Tonewell, IID_IUnknown, reinterpret_cast<void**>(&spFilter));
        if (FAILED(hr))
            return Fail("creating the filter", hr);
        // Six channels at 32000 Hz: the mask edit is in use and the track ends before its last step.
        CComQIPtr<ICRVTonewell> spTone(spFilter);
        spTone->SetParameters(16, 6, 0x3F, 32000);
        spTone->SetFrequency(0, 440);
        spTone->SetAmplitude(0, -12.0);
        hr = CreateFromModule(hModule, bSettings ? CLSID_TonewellPP : CLSID_TonewellAbout, IID_IPropertyPage,
                              reinterpret_cast<void**>(&spPage));
        if (FAILED(hr))
            return Fail("creating the page", hr);
        pagetest::CPageHost host;
        IUnknown* pUnk = spFilter;
        hr = host.Attach(spPage, 1, &pUnk);
        if (SUCCEEDED(hr))
            hr = host.Activate();
        if (FAILED(hr))
            return Fail("showing the page", hr);
        RedrawWindow(host.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        pagetest::CPageHost::Pump();
        GdiFlush();

        FILE* pReady = _wfopen(argv[2], L"w");
        if (pReady == nullptr)
            return Fail("writing the ready file", E_FAIL);
        fprintf(pReady, "%ld %ld\n", host.m_info.size.cx, host.m_info.size.cy);
        fclose(pReady);
        for (int i = 0; i < 600 && GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i)
        {
            pagetest::CPageHost::Pump();
            Sleep(100);
        }
        nResult = GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES ? 0 : 3;
    }
    CoUninitialize();
    return nResult;
}
