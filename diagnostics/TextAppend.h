// Building a line piece by piece without printf: the trace lines written for every buffer
// are formatted even when no sink takes them, so their numbers are put together by hand.
// Nothing is written at or beyond cchBuf characters, and the text is always terminated
// (when cchBuf > 0).
#pragma once
#include <windows.h>

#include <cstring>

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
        if (psz == nullptr)
            return Terminate();
        size_t cch = 0;
        while (psz[cch] != 0)
            ++cch;
        return Chars(psz, cch);
    }

    // cch characters of psz (no terminator needed), as many as fit.
    CTextAppender& Chars(LPCWSTR psz, size_t cch)
    {
        const size_t cchRoom = m_cchBuf > m_cch + 1 ? size_t(m_cchBuf - m_cch - 1) : 0;
        if (cch > cchRoom)
            cch = cchRoom;
        std::memcpy(m_psz + m_cch, psz, cch * sizeof(WCHAR));
        m_cch += int(cch);
        return Terminate();
    }

    CTextAppender& Char(WCHAR ch)
    {
        Put(ch);
        return Terminate();
    }

    // Decimal, with leading zeros up to nMinDigits (as %0Nu).
    CTextAppender& Unsigned(ULONGLONG u, int nMinDigits = 1) { return Digits<10>(u, nMinDigits); }

    CTextAppender& Signed(LONGLONG ll)
    {
        if (ll < 0)
            Put(L'-');
        return Unsigned(ll < 0 ? 0 - ULONGLONG(ll) : ULONGLONG(ll));
    }

    // Upper-case hexadecimal, with leading zeros up to nMinDigits (as %X, or %p with 16).
    CTextAppender& Hex(ULONGLONG u, int nMinDigits = 1) { return Digits<16>(u, nMinDigits); }

    int Length() const { return m_cch; }

private:
    // The digits of u in base 10 or 16, most significant first, at least nMinDigits of them.
    // The base is a constant so that the divisions become multiplications.
    template <unsigned nBase>
    CTextAppender& Digits(ULONGLONG u, int nMinDigits)
    {
        WCHAR sz[20];
        int n = 20;
        do
        {
            sz[--n] = L"0123456789ABCDEF"[u % nBase];
            u /= nBase;
        } while (u != 0 && n > 0);
        while (20 - n < nMinDigits && n > 0)
            sz[--n] = L'0';
        return Chars(sz + n, size_t(20 - n));
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
