#include "diagnostics/DumpPrefix.h"
#include "diagnostics/TextFormat.h"

CDumpPrefix::CDumpPrefix(LPCWSTR pszPrefix, LPCWSTR pszDefault)
{
    if (pszPrefix != nullptr && pszPrefix[0] != 0)
        FormatText(m_szText, ARRAYSIZE(m_szText), L"%s ", pszPrefix);
    else
        CopyText(m_szText, ARRAYSIZE(m_szText), pszDefault);
}
