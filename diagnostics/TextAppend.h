// Building a line piece by piece without printf: the trace lines written for every buffer
// are formatted even when no sink takes them, so their numbers are put together by hand.
// Nothing is written at or beyond cchBuf characters, and the text is always terminated
// (when cchBuf > 0).
#pragma once
#include <windows.h>

class CTextAppender
{
public:
    CTextAppender(LPWSTR pszBuf, int cchBuf) : m_psz(pszBuf), m_cchBuf(cchBuf), m_cch(0)
    {
        if (cchBuf > 0)
            pszBuf[0] = 0;
    }

    CTextAppender& Text(LPCWSTR psz)
    {
        if (psz != nullptr)
            while (*psz != 0)
                Put(*psz++);
        return Terminate();
    }

    CTextAppender& Char(WCHAR ch)
    {
        Put(ch);
        return Terminate();
    }

    // Decimal, with leading zeros up to nMinDigits (as %0Nu).
    CTextAppender& Unsigned(ULONGLONG u, int nMinDigits = 1) { return Digits(u, 10, nMinDigits); }

    CTextAppender& Signed(LONGLONG ll)
    {
        if (ll < 0)
            Put(L'-');
        return Unsigned(ll < 0 ? 0 - ULONGLONG(ll) : ULONGLONG(ll));
    }

    // Upper-case hexadecimal, with leading zeros up to nMinDigits (as %X, or %p with 16).
    CTextAppender& Hex(ULONGLONG u, int nMinDigits = 1) { return Digits(u, 16, nMinDigits); }

    int Length() const { return m_cch; }

private:
    // The digits of u in base 10 or 16, most significant first, at least nMinDigits of them.
    CTextAppender& Digits(ULONGLONG u, unsigned nBase, int nMinDigits)
    {
        WCHAR sz[20];
        int n = 0;
        do
        {
            sz[n++] = L"0123456789ABCDEF"[u % nBase];
            u /= nBase;
        } while (u != 0 && n < 20);
        while (n < nMinDigits && n < 20)
            sz[n++] = L'0';
        while (n > 0)
            Put(sz[--n]);
        return Terminate();
    }

    void Put(WCHAR ch)
    {
        if (m_cch < m_cchBuf - 1)
            m_psz[m_cch++] = ch;
    }
    CTextAppender& Terminate()
    {
        if (m_cchBuf > 0)
            m_psz[m_cch] = 0;
        return *this;
    }

    LPWSTR m_psz;
    int m_cchBuf;
    int m_cch;
};
