#include "PageHost.h"

namespace pagetest
{
namespace
{
const wchar_t kHostClass[] = L"TonewellPageHost";

void RegisterHostClass()
{
    static bool s_bRegistered = false;
    if (s_bRegistered)
        return;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kHostClass;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    s_bRegistered = RegisterClassW(&wc) != 0;
}

void FreeInfo(PROPPAGEINFO& info)
{
    CoTaskMemFree(info.pszTitle);
    CoTaskMemFree(info.pszHelpFile);
    CoTaskMemFree(info.pszDocString);
    info = {};
}
}

STDMETHODIMP CPageSite::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPropertyPageSite)
    {
        *ppv = static_cast<IPropertyPageSite*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CPageSite::OnStatusChange(DWORD dwFlags)
{
    m_statusChanges.push_back(dwFlags);
    return S_OK;
}

STDMETHODIMP CPageSite::GetLocaleID(LCID* pLocaleID)
{
    if (pLocaleID == nullptr)
        return E_POINTER;
    *pLocaleID = GetUserDefaultLCID();
    return S_OK;
}

STDMETHODIMP CPageSite::GetPageContainer(IUnknown** ppUnk)
{
    if (ppUnk != nullptr)
        *ppUnk = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CPageSite::TranslateAccelerator(MSG*)
{
    return S_FALSE;
}

CPageHost::CPageHost()
{
    RegisterHostClass();
    m_hWnd = CreateWindowExW(0, kHostClass, L"Tonewell page", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 100, 100, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
}

CPageHost::~CPageHost()
{
    Detach();
    FreeInfo(m_info);
    if (m_hWnd != nullptr)
        DestroyWindow(m_hWnd);
    Pump();
}

HRESULT CPageHost::Attach(IPropertyPage* pPage, ULONG nObjects, IUnknown** ppObjects)
{
    m_spPage = pPage;
    if (!m_spPage)
        return E_POINTER;
    HRESULT hr = m_spPage->SetPageSite(&m_site);
    if (SUCCEEDED(hr))
        hr = m_spPage->SetObjects(nObjects, ppObjects);
    return hr;
}

HRESULT CPageHost::Activate()
{
    FreeInfo(m_info);
    m_info.cb = sizeof(m_info);
    HRESULT hr = m_spPage->GetPageInfo(&m_info);
    if (FAILED(hr))
        return hr;
    SetWindowPos(m_hWnd, HWND_TOP, 0, 0, m_info.size.cx, m_info.size.cy, SWP_SHOWWINDOW | SWP_NOACTIVATE);
    RECT rc = {0, 0, m_info.size.cx, m_info.size.cy};
    hr = m_spPage->Activate(m_hWnd, &rc, FALSE);
    if (SUCCEEDED(hr))
        hr = m_spPage->Show(SW_SHOW);
    UpdateWindow(m_hWnd);
    Pump();
    return hr;
}

HRESULT CPageHost::Deactivate()
{
    HRESULT hr = m_spPage->Deactivate();
    Pump();
    return hr;
}

void CPageHost::Detach()
{
    if (!m_spPage)
        return;
    if (PageWindow() != nullptr)
        m_spPage->Deactivate();
    m_spPage->SetObjects(0, nullptr);
    m_spPage->SetPageSite(nullptr);
    m_spPage.Release();
}

HWND CPageHost::PageWindow() const
{
    return GetWindow(m_hWnd, GW_CHILD);
}

void CPageHost::Pump()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}
}
