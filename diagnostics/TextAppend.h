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

    // Counted and copied in one pass: most pieces are a few characters, where a call to a
    // copy routine would cost more than the characters.
    CTextAppender& Text(LPCWSTR psz)
    {
        if (psz != nullptr)
            while (*psz != 0 && m_cch < m_cchBuf - 1)
                m_psz[m_cch++] = *psz++;
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
    // The digits of u in base 10 or 16, most significant first, at least nMinDigits of them,
    // written in place from the last one back. The base is a constant so that the divisions
    // become multiplications.
    template <unsigned nBase>
    CTextAppender& Digits(ULONGLONG u, int nMinDigits)
    {
        int nDigits = 1;
        for (ULONGLONG v = u / nBase; v != 0; v /= nBase)
            ++nDigits;
        if (nDigits < nMinDigits)
            nDigits = nMinDigits < 20 ? nMinDigits : 20;
        // Only the leading digits that fit are kept, as one character at a time would keep them.
        const int nRoom = m_cchBuf - 1 - m_cch;
        const int nKept = nDigits < nRoom ? nDigits : (nRoom > 0 ? nRoom : 0);
        for (int i = nDigits - 1; i >= 0; --i, u /= nBase)
            if (i < nKept)
                m_psz[m_cch + i] = L"0123456789ABCDEF"[u % nBase];
        m_cch += nKept;
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
