#include "support/DialogTemplate.h"

namespace
{
// Reads the template's words in order, never past its end.
class CTemplateReader
{
public:
    CTemplateReader(const BYTE* p, DWORD cb) : m_p(p), m_pEnd(p + cb) {}

    bool Word(WORD& w)
    {
        if (m_pEnd - m_p < 2)
            return false;
        w = WORD(m_p[0] | (m_p[1] << 8));
        m_p += 2;
        return true;
    }
    bool Dword(DWORD& dw)
    {
        WORD lo, hi;
        if (!Word(lo) || !Word(hi))
            return false;
        dw = MAKELONG(lo, hi);
        return true;
    }
    bool Byte(BYTE& b)
    {
        if (m_p >= m_pEnd)
            return false;
        b = *m_p++;
        return true;
    }
    // A terminated text, copied into psz (cch characters) when psz is given.
    bool Text(wchar_t* psz = nullptr, size_t cch = 0)
    {
        size_t n = 0;
        for (WORD w;;)
        {
            if (!Word(w))
                return false;
            if (psz != nullptr && n + 1 < cch)
                psz[n++] = wchar_t(w);
            if (w == 0)
                break;
        }
        if (psz != nullptr && cch > 0)
            psz[n < cch ? n : cch - 1] = 0;
        return true;
    }
    // A menu or class field: none (0), an ordinal (0xFFFF, id) or a text.
    bool TextOrOrdinal()
    {
        const BYTE* pSave = m_p;
        WORD w;
        if (!Word(w))
            return false;
        if (w == 0)
            return true;
        if (w == 0xFFFF)
            return Word(w);
        m_p = pSave;
        return Text();
    }

private:
    const BYTE* m_p;
    const BYTE* m_pEnd;
};

struct CTemplateHead
{
    DWORD dwStyle = 0;
    DWORD dwExStyle = 0;
    short cx = 0;
    short cy = 0;
    bool bFont = false;
    WORD nPointSize = 0;
    WORD nWeight = FW_DONTCARE;
    BYTE bItalic = FALSE;
    BYTE nCharSet = DEFAULT_CHARSET;
    wchar_t szFace[LF_FACESIZE] = {};
};

bool ReadHead(const BYTE* p, DWORD cb, CTemplateHead& head)
{
    CTemplateReader reader(p, cb);
    WORD wVersion, wSignature, wItems;
    if (!reader.Word(wVersion) || !reader.Word(wSignature))
        return false;
    bool bExtended = wVersion == 1 && wSignature == 0xFFFF;
    WORD x, y, cx, cy;
    if (bExtended)
    {
        DWORD dwHelpId;
        if (!reader.Dword(dwHelpId) || !reader.Dword(head.dwExStyle) || !reader.Dword(head.dwStyle))
            return false;
    }
    else
    {
        head.dwStyle = MAKELONG(wVersion, wSignature);
        if (!reader.Dword(head.dwExStyle))
            return false;
    }
    if (!reader.Word(wItems) || !reader.Word(x) || !reader.Word(y) || !reader.Word(cx) || !reader.Word(cy))
        return false;
    head.cx = short(cx);
    head.cy = short(cy);
    if (!reader.TextOrOrdinal() || !reader.TextOrOrdinal() || !reader.Text())
        return false;
    head.bFont = (head.dwStyle & DS_SETFONT) != 0;
    if (!head.bFont)
        return true;
    if (!reader.Word(head.nPointSize))
        return false;
    if (bExtended && (!reader.Word(head.nWeight) || !reader.Byte(head.bItalic) || !reader.Byte(head.nCharSet)))
        return false;
    return reader.Text(head.szFace, LF_FACESIZE);
}

// Average character width and height of the template's font, as the dialog manager takes them.
void BaseUnits(const CTemplateHead& head, int& nBaseX, int& nBaseY)
{
    LONG lUnits = GetDialogBaseUnits();
    nBaseX = LOWORD(lUnits);
    nBaseY = HIWORD(lUnits);
    if (!head.bFont || head.nPointSize == 0x7FFF)
        return;
    HDC hdc = GetDC(nullptr);
    if (hdc == nullptr)
        return;
    HFONT hFont = CreateFontW(-MulDiv(head.nPointSize, GetDeviceCaps(hdc, LOGPIXELSY), 72), 0, 0, 0, head.nWeight,
                              head.bItalic, FALSE, FALSE, head.nCharSet, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                              PROOF_QUALITY, FF_DONTCARE, head.szFace);
    if (hFont != nullptr)
    {
        HGDIOBJ hOld = SelectObject(hdc, hFont);
        static const wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
        SIZE size = {};
        TEXTMETRICW tm = {};
        if (GetTextExtentPoint32W(hdc, kAlphabet, 52, &size) && GetTextMetricsW(hdc, &tm))
        {
            nBaseX = (size.cx / 26 + 1) / 2;
            nBaseY = tm.tmHeight;
        }
        SelectObject(hdc, hOld);
        DeleteObject(hFont);
    }
    ReleaseDC(nullptr, hdc);
}
}

HRESULT DialogTemplateSize(HINSTANCE hInstance, UINT nTemplateId, SIZE* pSize)
{
    if (pSize == nullptr)
        return E_POINTER;
    HRSRC hRes = FindResourceW(hInstance, MAKEINTRESOURCEW(nTemplateId), RT_DIALOG);
    if (hRes == nullptr)
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    HGLOBAL hData = LoadResource(hInstance, hRes);
    const BYTE* p = hData != nullptr ? static_cast<const BYTE*>(LockResource(hData)) : nullptr;
    CTemplateHead head;
    if (p == nullptr || !ReadHead(p, SizeofResource(hInstance, hRes), head))
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    int nBaseX, nBaseY;
    BaseUnits(head, nBaseX, nBaseY);
    RECT rc = {0, 0, MulDiv(head.cx, nBaseX, 4), MulDiv(head.cy, nBaseY, 8)};
    DWORD dwExStyle = head.dwExStyle;
    if (head.dwStyle & DS_MODALFRAME)
        dwExStyle |= WS_EX_DLGMODALFRAME;
    AdjustWindowRectEx(&rc, head.dwStyle, FALSE, dwExStyle);
    pSize->cx = rc.right - rc.left;
    pSize->cy = rc.bottom - rc.top;
    return S_OK;
}
