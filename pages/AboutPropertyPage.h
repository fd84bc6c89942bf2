// A property page that tells what the module is: the maker's logo with the filter's name
// painted over it, the version line from the module's version resource and the build's date,
// and the maker's web and support addresses as hyperlinks. It changes nothing, so it keeps
// the page layer's Apply and is never dirty. The concrete page T gives the dialog (T::IDD,
// with the controls of PageResources.h) and calls InitAbout when the dialog starts.
#pragma once
#include <windows.h>

#include "diagnostics/DSTrace.h"
#include "framework/FileVersion.h"
#include "pages/FilterName.h"
#include "pages/PageResources.h"
#include "pages/UrlWin.h"
#include "server/Resources.h"
#include "support/PropertyPageImpl.h"

// "1.1.2.0 (7-Mar-2024 09:03:07) [Debug] 64 bit": the product version's four numbers and
// the compiler's date ("Mar  7 2024") and time stamps. False when a stamp is missing.
bool FormatVersionLine(LPWSTR psz, size_t cch, const VS_FIXEDFILEINFO& fi, LPCSTR pszDate, LPCSTR pszTime);

// The legal warning at the foot of the page.
extern const wchar_t g_szAboutWarning[];

template <class T>
class CAboutPropertyPage : public IPropertyPageImpl<T>
{
public:
    CAboutPropertyPage() { this->m_nTitleId = IDS_ABOUT; }

    STDMETHOD(GetPageInfo)(PROPPAGEINFO* pPageInfo) override
    {
        DebugTrace(atlTraceCOM, 2, L"CAboutPropertyPage::GetPageInfo()\n");
        if (pPageInfo == nullptr)
        {
            DebugTrace(atlTraceCOM, 2, L"###Err### CAboutPropertyPage::GetPageInfo(): PROPPAGEINFO passed == NULL\n");
            return E_POINTER;
        }
        SIZE size = {};
        HRESULT hr = DialogTemplateSize(ComResourceInstance(), T::IDD, &size);
        if (hr == HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND))
        {
            DebugTrace(atlTraceCOM, 2, L"###Err### CAboutPropertyPage::GetPageInfo(): Could not find resource template\n");
            return E_UNEXPECTED;
        }
        if (FAILED(hr))
        {
            DebugTrace(atlTraceCOM, 2, L"###Err### CAboutPropertyPage::GetPageInfo(): Could not load resource template\n");
            return E_UNEXPECTED;
        }
        this->FillPageInfo(pPageInfo, size);
        return S_OK;
    }

protected:
    // Fills the dialog's controls and attaches the name painter and the two links.
    void InitAbout(LPCSTR pszFilterName, LPCSTR pszDate, LPCSTR pszTime)
    {
        DS_ASSERT(pszFilterName != NULL);
        DS_ASSERT(pszDate != NULL);
        DS_ASSERT(pszTime != NULL);
        HWND hWnd = static_cast<T*>(this)->m_hWnd;
        wchar_t szName[256] = {};
        if (pszFilterName != nullptr)
            MultiByteToWideChar(CP_ACP, 0, pszFilterName, -1, szName, ARRAYSIZE(szName) - 1);
        m_filterName.Attach(hWnd, IDC_ABOUT_LOGO, szName);
        SetDlgItemTextW(hWnd, IDC_ABOUT_WARNING, g_szAboutWarning);
        VS_FIXEDFILEINFO fi = {};
        ReadFixedFileInfo(&fi, ComResourceInstance());
        wchar_t szVersion[128] = {};
        if (FormatVersionLine(szVersion, ARRAYSIZE(szVersion), fi, pszDate, pszTime))
            SetDlgItemTextW(hWnd, IDC_ABOUT_VERSION, szVersion);
        m_urlWeb.Attach(GetDlgItem(hWnd, IDC_ABOUT_URL));
        m_urlSupport.Attach(GetDlgItem(hWnd, IDC_ABOUT_SUPPORT));
    }

    CFilterName m_filterName;
    CUrlWindow m_urlWeb;
    CUrlWindow m_urlSupport;
};
