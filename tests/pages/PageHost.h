// A host for one property page on a real screen: a frameless window at the screen's corner
// that holds the page, and the page site that records what the page reports to it.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <vector>

#include "support/ComPtr.h"

namespace pagetest
{
class CPageSite : public IPropertyPageSite
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&m_nRef)); }
    STDMETHODIMP_(ULONG) Release() override { return ULONG(InterlockedDecrement(&m_nRef)); }

    STDMETHODIMP OnStatusChange(DWORD dwFlags) override;
    STDMETHODIMP GetLocaleID(LCID* pLocaleID) override;
    STDMETHODIMP GetPageContainer(IUnknown** ppUnk) override;
    STDMETHODIMP TranslateAccelerator(MSG* pMsg) override;

    // Status flags in the order the page reported them.
    std::vector<DWORD> m_statusChanges;
    // References the page holds (the site lives on the test's stack).
    volatile LONG m_nRef = 0;
};

// The page, its site and the window it is shown in.
class CPageHost
{
public:
    CPageHost();
    ~CPageHost();
    CPageHost(const CPageHost&) = delete;
    CPageHost& operator=(const CPageHost&) = delete;

    // Gives the page its site and objects; S_OK or the first failure.
    HRESULT Attach(IPropertyPage* pPage, ULONG nObjects, IUnknown** ppObjects);
    // Sizes the host window from the page information, activates and shows the page.
    HRESULT Activate();
    HRESULT Deactivate();
    // Deactivates the page and takes site and objects from it, as a closing frame does.
    void Detach();

    // The page's own window (the host window's child), null while the page is not active.
    HWND PageWindow() const;
    HWND Control(int nId) const { return GetDlgItem(PageWindow(), nId); }
    // Runs the thread's pending messages (painting, posted notifications).
    static void Pump();

    HWND m_hWnd = nullptr;
    CPageSite m_site;
    CComPtr<IPropertyPage> m_spPage;
    PROPPAGEINFO m_info = {};
};
}
