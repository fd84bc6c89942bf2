// What a person does on a page's controls, sent as the controls' own messages, what the
// controls show, and the thread's message boxes caught so that none waits for a person.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace pagetest
{
// Catches the thread's message boxes as they open, records them and closes them with OK,
// so that a box never waits for a person.
class CMessageBoxCatcher
{
public:
    struct CBox
    {
        std::wstring caption;
        std::wstring text;
        HWND hOwner;
        HICON hIcon;
    };
    CMessageBoxCatcher();
    ~CMessageBoxCatcher();
    std::vector<CBox> m_boxes;

private:
    static LRESULT CALLBACK Hook(int nCode, WPARAM wParam, LPARAM lParam);
    HHOOK m_hHook;
};

// A person's actions, as the controls report them to the page.
void Choose(HWND hCombo, int nIndex);          // a list or combo selection
void TypeText(HWND hEdit, const std::wstring& text);  // select all, then type character by character
void SetText(HWND hEdit, const std::wstring& text);   // replace the text at once
void PressKey(HWND hWnd, UINT vk);
void Click(HWND hWnd, POINT pt);
// Drags a trackbar's thumb to nPos; pfnWhileHeld runs with the mouse button still down.
void DragThumb(HWND hSlider, int nPos, void (*pfnWhileHeld)(void*) = nullptr, void* pContext = nullptr);
// Clicks the upper (up) or lower arrow of an up-down control.
void ClickSpin(HWND hSpin, bool bUp);

std::wstring Text(HWND hWnd);
std::vector<std::wstring> Items(HWND hCombo);
int Selection(HWND hCombo);
int SliderPos(HWND hSlider);

}
