#include "diagnostics/DumpPrefix.h"
#include "diagnostics/TextAppend.h"
#include "diagnostics/TextFormat.h"

CDumpPrefix::CDumpPrefix(LPCWSTR pszPrefix, LPCWSTR pszDefault)
{
    // Made for every buffer's dump lines, so without printf.
    if (pszPrefix != nullptr && pszPrefix[0] != 0)
        CTextAppender(m_szText, ARRAYSIZE(m_szText)).Text(pszPrefix).Char(L' ');
    else
        CopyText(m_szText, ARRAYSIZE(m_szText), pszDefault);
}
