#include "diagnostics/TextBuffer.h"
#include "diagnostics/DSTrace.h"
#include "diagnostics/TextFormat.h"

#include <stdarg.h>
#include <string.h>
#include <wchar.h>

bool CTextBuffer::Resize(UINT cchCapacity)
{
    // A new block and a copy rather than a reallocation: a failure then leaves the old
    // text as it was, which is freed here.
    LPWSTR pszNew = static_cast<LPWSTR>(CoTaskMemAlloc(SIZE_T(cchCapacity) * sizeof(WCHAR)));
    if (pszNew == nullptr)
    {
        Free();
        return false;
    }
    if (m_psz != nullptr)
        memcpy(pszNew, m_psz, SIZE_T(m_cchLength) * sizeof(WCHAR));
    CoTaskMemFree(m_psz);
    m_psz = pszNew;
    m_cchCapacity = cchCapacity;
    m_psz[m_cchLength] = 0;
    return true;
}

bool CTextBuffer::Reserve(UINT cch)
{
    if (m_psz != nullptr && cch <= m_cchCapacity)
        return true;
    return Resize(cch > m_cchLength ? cch : m_cchLength + 1);
}

bool CTextBuffer::Append(LPCWSTR psz)
{
    DS_ASSERT(psz != NULL);
    if (psz == nullptr || psz[0] == 0)
        return true;
    size_t cchNew = wcslen(psz);
    // A size that the 32-bit counts cannot hold is as good as no memory.
    if (cchNew >= size_t(0xFFFFFFFFu - m_cchLength - 2 * GROW_STEP))
    {
        Free();
        return false;
    }
    UINT cchNeeded = m_cchLength + UINT(cchNew) + 1;
    if (m_psz == nullptr || cchNeeded > m_cchCapacity)
    {
        if (!Resize(cchNeeded / GROW_STEP * GROW_STEP + GROW_STEP))
            return false;
    }
    memcpy(m_psz + m_cchLength, psz, (cchNew + 1) * sizeof(WCHAR));
    m_cchLength += UINT(cchNew);
    return true;
}

bool CTextBuffer::AppendFormat(LPCWSTR pszFormat, ...)
{
    WCHAR szPiece[1024];
    va_list args;
    va_start(args, pszFormat);
    FormatTextV(szPiece, ARRAYSIZE(szPiece), pszFormat, args);
    va_end(args);
    return Append(szPiece);
}

LPWSTR CTextBuffer::Detach()
{
    LPWSTR psz = m_psz;
    m_psz = nullptr;
    m_cchCapacity = 0;
    m_cchLength = 0;
    return psz;
}

void CTextBuffer::Free()
{
    CoTaskMemFree(m_psz);
    m_psz = nullptr;
    m_cchCapacity = 0;
    m_cchLength = 0;
}
