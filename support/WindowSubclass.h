// Takes over the messages of an existing control (a subclass through comctl32). The concrete
// class T answers them in a plain member function:
//
//     BOOL ProcessWindowMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
//
// returning FALSE to pass the message on to the control's own procedure (DefaultProc).
#pragma once
#include <windows.h>
#include <commctrl.h>

template <class T>
class CWindowSubclass
{
public:
    CWindowSubclass() = default;
    CWindowSubclass(const CWindowSubclass&) = delete;
    CWindowSubclass& operator=(const CWindowSubclass&) = delete;
    ~CWindowSubclass() { Unsubclass(); }

    BOOL Subclass(HWND hWnd)
    {
        if (m_hWnd != nullptr || !::IsWindow(hWnd))
            return FALSE;
        if (!::SetWindowSubclass(hWnd, &SubclassProc, 0, reinterpret_cast<DWORD_PTR>(static_cast<T*>(this))))
            return FALSE;
        m_hWnd = hWnd;
        return TRUE;
    }
    void Unsubclass()
    {
        if (m_hWnd != nullptr)
            ::RemoveWindowSubclass(m_hWnd, &SubclassProc, 0);
        m_hWnd = nullptr;
    }
    BOOL IsWindow() const { return m_hWnd != nullptr && ::IsWindow(m_hWnd); }

    // The control's own handling of the message being processed.
    LRESULT DefaultProc(UINT uMsg, WPARAM wParam, LPARAM lParam) { return ::DefSubclassProc(m_hWnd, uMsg, wParam, lParam); }

    HWND m_hWnd = nullptr;

private:
    static LRESULT CALLBACK SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR dwRef)
    {
        T* pThis = reinterpret_cast<T*>(dwRef);
        LRESULT lResult = 0;
        if (uMsg == WM_NCDESTROY)
        {
            // The control goes: let go of it before it does.
            lResult = ::DefSubclassProc(hWnd, uMsg, wParam, lParam);
            ::RemoveWindowSubclass(hWnd, &SubclassProc, 0);
            pThis->m_hWnd = nullptr;
            return lResult;
        }
        if (pThis->ProcessWindowMessage(uMsg, wParam, lParam, lResult))
            return lResult;
        return ::DefSubclassProc(hWnd, uMsg, wParam, lParam);
    }
};
