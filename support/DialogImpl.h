// Modeless dialog windows from the module's own dialog resources. The concrete class T gives
// the template's id as T::IDD and answers messages in a plain member function:
//
//     BOOL ProcessDialogMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
//
// returning TRUE when it handled the message (lResult is then the message's result).
#pragma once
#include <windows.h>

// The image this code is linked into: the DLL in the module, the program in a test.
extern "C" IMAGE_DOS_HEADER __ImageBase;  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the linker's name
inline HINSTANCE ComResourceInstance()
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

template <class T>
class CDialogImpl
{
public:
    CDialogImpl() = default;
    CDialogImpl(const CDialogImpl&) = delete;
    CDialogImpl& operator=(const CDialogImpl&) = delete;
    // A window left by its owner goes without calling into the object, which is half gone.
    ~CDialogImpl()
    {
        if (m_hWnd != nullptr)
        {
            ::SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
            ::DestroyWindow(m_hWnd);
        }
    }

    // A child dialog of hWndParent; null (with the last error set) on failure.
    HWND Create(HWND hWndParent)
    {
        if (m_hWnd != nullptr)
            return nullptr;
        return ::CreateDialogParamW(ComResourceInstance(), MAKEINTRESOURCEW(T::IDD), hWndParent, &DialogProc,
                                    reinterpret_cast<LPARAM>(static_cast<T*>(this)));
    }
    BOOL DestroyWindow()
    {
        return m_hWnd != nullptr && ::DestroyWindow(m_hWnd);
    }
    HWND GetDlgItem(int nId) const { return ::GetDlgItem(m_hWnd, nId); }

    HWND m_hWnd = nullptr;

private:
    // Messages whose result is the dialog procedure's return value rather than DWLP_MSGRESULT.
    static bool ReturnsDirectly(UINT uMsg)
    {
        switch (uMsg)
        {
        case WM_INITDIALOG:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return true;
        }
        return false;
    }

    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        T* pThis;
        if (uMsg == WM_INITDIALOG)
        {
            pThis = reinterpret_cast<T*>(lParam);
            ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
            pThis->m_hWnd = hWnd;
        }
        else
            pThis = reinterpret_cast<T*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
        // Messages before WM_INITDIALOG (WM_SETFONT) find no object yet.
        if (pThis == nullptr)
            return FALSE;
        LRESULT lResult = 0;
        BOOL bHandled = pThis->ProcessDialogMessage(uMsg, wParam, lParam, lResult);
        if (uMsg == WM_NCDESTROY)
        {
            ::SetWindowLongPtrW(hWnd, DWLP_USER, 0);
            pThis->m_hWnd = nullptr;
        }
        if (!bHandled)
            return FALSE;
        if (ReturnsDirectly(uMsg))
            return INT_PTR(lResult);
        ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, lResult);
        return TRUE;
    }
};
