// tonewell-pages.exe: opens the platform's property frame for a tone filter, so that a person
// sees and uses both pages on a real screen. It takes Tonewell.dll from its own folder and
// offers the module's classes to COM for its own run, so nothing needs registering.
#include <windows.h>
#include <commctrl.h>
#include <olectl.h>
#include <stdio.h>

#include "TonewellIdl.h"
#include "support/ComPtr.h"

namespace
{
using PFN_GETCLASSOBJECT = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

int Fail(const char* pszWhat, HRESULT hr)
{
    fprintf(stderr, "tonewell-pages: %s failed: 0x%08lX\n", pszWhat, static_cast<unsigned long>(hr));
    return 1;
}
}

int main()
{
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
    auto pfnGetClassObject = reinterpret_cast<PFN_GETCLASSOBJECT>(GetProcAddress(hModule, "DllGetClassObject"));
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
        hr = OleCreatePropertyFrame(nullptr, 40, 40, L"Corvane Tonewell", 1, &pUnk, pages.cElems, pages.pElems,
                                    GetUserDefaultLCID(), 0, nullptr);
        CoTaskMemFree(pages.pElems);
        for (DWORD dwCookie : adwCookies)
            CoRevokeClassObject(dwCookie);
        if (FAILED(hr))
            return Fail("showing the property frame", hr);
    }
    CoUninitialize();
    return 0;
}
