// IPropertyPage for a page whose window is a dialog of the module (CDialogImpl<T>): the page
// site, the objects, activation into the frame's window, page information from the dialog
// template and the string table, the dirty flag and its report to the site, and the answers
// to help and accelerator requests. The concrete class T derives from this and from
// CDialogImpl<T>, sets the page information ids in its constructor and replaces Apply.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <new>

#include "diagnostics/DSTrace.h"
#include "support/ComBase.h"
#include "support/DialogImpl.h"
#include "support/DialogTemplate.h"

// A copy of string nId of the module in task memory; null for id 0 or a missing string.
inline LPOLESTR ComLoadTaskString(UINT nId)
{
    if (nId == 0)
        return nullptr;
    const wchar_t* pRes = nullptr;
    int cch = LoadStringW(ComResourceInstance(), nId, reinterpret_cast<LPWSTR>(&pRes), 0);
    if (cch <= 0 || pRes == nullptr)
        return nullptr;
    auto* psz = static_cast<LPOLESTR>(CoTaskMemAlloc((size_t(cch) + 1) * sizeof(OLECHAR)));
    if (psz != nullptr)
    {
        CopyMemory(psz, pRes, size_t(cch) * sizeof(OLECHAR));
        psz[cch] = 0;
    }
    return psz;
}

template <class T>
class IPropertyPageImpl : public IPropertyPage
{
public:
    IPropertyPageImpl() = default;
    IPropertyPageImpl(const IPropertyPageImpl&) = delete;
    IPropertyPageImpl& operator=(const IPropertyPageImpl&) = delete;
    ~IPropertyPageImpl()
    {
        ReleaseObjects();
        if (m_pPageSite != nullptr)
            m_pPageSite->Release();
    }

    // A frame sets its site once and clears it (null) before it lets the page go.
    STDMETHOD(SetPageSite)(IPropertyPageSite* pPageSite) override
    {
        DebugTrace(atlTraceCOM, 2, L"IPropertyPageImpl::SetPageSite\n");
        if (pPageSite != nullptr && m_pPageSite != nullptr)
            return E_UNEXPECTED;
        if (m_pPageSite != nullptr)
            m_pPageSite->Release();
        m_pPageSite = pPageSite;
        if (m_pPageSite != nullptr)
            m_pPageSite->AddRef();
        return S_OK;
    }

    STDMETHOD(Activate)(HWND hWndParent, LPCRECT pRect, BOOL /*bModal*/) override
    {
        DebugTrace(atlTraceCOM, 2, L"IPropertyPageImpl::Activate\n");
        if (pRect == nullptr)
            return E_POINTER;
        T* pT = static_cast<T*>(this);
        if (pT->m_hWnd != nullptr)
            return E_UNEXPECTED;
        if (pT->Create(hWndParent) == nullptr)
            return HResultFromLastError();
        ::MoveWindow(pT->m_hWnd, pRect->left, pRect->top, pRect->right - pRect->left, pRect->bottom - pRect->top,
                     FALSE);
        return S_OK;
    }

    STDMETHOD(Deactivate)() override
    {
        DebugTrace(atlTraceCOM, 2, L"IPropertyPageImpl::Deactivate\n");
        static_cast<T*>(this)->DestroyWindow();
        return S_OK;
    }

    STDMETHOD(GetPageInfo)(PROPPAGEINFO* pPageInfo) override
    {
        DebugTrace(atlTraceCOM, 2, L"IPropertyPageImpl::GetPageInfo\n");
        if (pPageInfo == nullptr)
            return E_POINTER;
        SIZE size = {};
        HRESULT hr = DialogTemplateSize(ComResourceInstance(), T::IDD, &size);
        if (FAILED(hr))
            return E_UNEXPECTED;
        FillPageInfo(pPageInfo, size);
        return S_OK;
    }

    STDMETHOD(SetObjects)(ULONG nObjects, IUnknown** ppUnk) override
    {
        DebugTrace(atlTraceCOM, 2, L"IPropertyPageImpl::SetObjects\n");
        if (nObjects > 0 && ppUnk == nullptr)
            return E_POINTER;
        IUnknown** ppNew = nullptr;
        if (nObjects > 0)
        {
            ppNew = new (std::nothrow) IUnknown*[nObjects];
            if (ppNew == nullptr)
                return E_OUTOFMEMORY;
            for (ULONG i = 0; i < nObjects; ++i)
            {
                ppNew[i] = ppUnk[i];
                if (ppNew[i] != nullptr)
                    ppNew[i]->AddRef();
            }
        }
        ReleaseObjects();
        m_ppUnk = ppNew;
        m_nObjects = nObjects;
        return S_OK;
    }

    STDMETHOD(Show)(UINT nCmdShow) override
    {
        DebugTrace(atlTraceCOM, 2, L"IPropertyPageImpl::Show\n");
        HWND hWnd = static_cast<T*>(this)->m_hWnd;
        if (hWnd == nullptr)
            return E_UNEXPECTED;
        ::ShowWindow(hWnd, int(nCmdShow));
        return S_OK;
    }

    STDMETHOD(Move)(LPCRECT pRect) override
    {
        DebugTrace(atlTraceCOM, 2, L"IPropertyPageImpl::Move\n");
        if (pRect == nullptr)
            return E_POINTER;
        HWND hWnd = static_cast<T*>(this)->m_hWnd;
        if (hWnd == nullptr)
            return E_UNEXPECTED;
        ::MoveWindow(hWnd, pRect->left, pRect->top, pRect->right - pRect->left, pRect->bottom - pRect->top, TRUE);
        return S_OK;
    }

    STDMETHOD(IsPageDirty)() override
    {
        DebugTrace(atlTraceCOM, 2, L"IPropertyPageImpl::IsPageDirty\n");
        return m_bDirty ? S_OK : S_FALSE;
    }

    // Pages that change nothing keep this one.
    STDMETHOD(Apply)() override
    {
        DebugTrace(atlTraceCOM, 2, L"IPropertyPageImpl::Apply\n");
        return S_OK;
    }

    // The page has no help of its own: the frame uses the help file of the page information.
    STDMETHOD(Help)(LPCOLESTR /*pszHelpDir*/) override
    {
        DebugTrace(atlTraceCOM, 2, L"IPropertyPageImpl::Help\n");
        return E_NOTIMPL;
    }

    // Keyboard messages for the page's window go through the dialog manager (tab, arrows,
    // mnemonics); S_OK when it used the message.
    STDMETHOD(TranslateAccelerator)(MSG* pMsg) override
    {
        DebugTrace(atlTraceCOM, 2, L"IPropertyPageImpl::TranslateAccelerator\n");
        if (pMsg == nullptr)
            return E_POINTER;
        HWND hWnd = static_cast<T*>(this)->m_hWnd;
        if (hWnd == nullptr || (pMsg->hwnd != hWnd && !::IsChild(hWnd, pMsg->hwnd)))
            return S_FALSE;
        if (pMsg->message < WM_KEYFIRST || pMsg->message > WM_KEYLAST)
            return S_FALSE;
        return ::IsDialogMessageW(hWnd, pMsg) ? S_OK : S_FALSE;
    }

    // Stores a new dirty state and tells the site: 1 for dirty, 0 for clean.
    void SetDirty(bool bDirty)
    {
        if (m_bDirty == bDirty)
            return;
        m_bDirty = bDirty;
        DS_ASSERT(m_pPageSite != NULL);
        if (m_pPageSite != nullptr)
            m_pPageSite->OnStatusChange(bDirty ? PROPPAGESTATUS_DIRTY : 0);
    }

protected:
    // The template's size, the title, help file and help text strings, the help context.
    void FillPageInfo(PROPPAGEINFO* pPageInfo, SIZE size) const
    {
        pPageInfo->cb = sizeof(PROPPAGEINFO);
        pPageInfo->pszTitle = ComLoadTaskString(m_nTitleId);
        pPageInfo->size = size;
        pPageInfo->pszHelpFile = ComLoadTaskString(m_nHelpFileId);
        pPageInfo->pszDocString = ComLoadTaskString(m_nDocStringId);
        pPageInfo->dwHelpContext = m_dwHelpContext;
    }

    void ReleaseObjects()
    {
        for (ULONG i = 0; i < m_nObjects; ++i)
            if (m_ppUnk[i] != nullptr)
                m_ppUnk[i]->Release();
        delete[] m_ppUnk;
        m_ppUnk = nullptr;
        m_nObjects = 0;
    }

    IPropertyPageSite* m_pPageSite = nullptr;  // counted
    IUnknown** m_ppUnk = nullptr;              // the objects, each counted
    ULONG m_nObjects = 0;
    bool m_bDirty = false;
    UINT m_nTitleId = 0;
    UINT m_nHelpFileId = 0;
    UINT m_nDocStringId = 0;
    DWORD m_dwHelpContext = 0;
};
