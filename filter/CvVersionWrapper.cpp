#include "filter/CvVersionWrapper.h"

#include <stdio.h>
#include <string.h>

#include "diagnostics/DSTrace.h"
#include "framework/FileVersion.h"

// The image of the module this code is linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the linker's name

namespace
{
const char kAssertSource[] = "CvVersionWrap";
#define VERSION_ASSERT(expr) DS_ASSERT_AS(kAssertSource, expr)

const char kDefaultName[] = "Corvane Tonewell";
const size_t kDateStampLength = 11;  // "Mar  7 2024"

BSTR AllocFromNarrow(LPCSTR psz)
{
    int cch = MultiByteToWideChar(CP_ACP, 0, psz, -1, nullptr, 0);
    if (cch <= 0)
        return nullptr;
    BSTR bstr = SysAllocStringLen(nullptr, UINT(cch - 1));
    if (bstr)
        MultiByteToWideChar(CP_ACP, 0, psz, -1, bstr, cch);
    return bstr;
}

// "dd-Mon-yyyy hh:mm:ss" from the compiler's date and time stamps; a one-digit day,
// padded with a blank in the stamp, gets a leading 0.
BSTR AllocDateTime(LPCSTR pszDate, LPCSTR pszTime)
{
    if (pszDate == nullptr || pszTime == nullptr || strnlen(pszDate, kDateStampLength) < kDateStampLength)
        return nullptr;
    WCHAR szText[64];
    char chDay0 = pszDate[4] == ' ' ? '0' : pszDate[4];
    _snwprintf(szText, ARRAYSIZE(szText) - 1, L"%c%c-%c%c%c-%c%c%c%c %hs", chDay0, pszDate[5], pszDate[0],
               pszDate[1], pszDate[2], pszDate[7], pszDate[8], pszDate[9], pszDate[10], pszTime);
    szText[ARRAYSIZE(szText) - 1] = 0;
    return SysAllocString(szText);
}

// The text methods' common path; the texts name their own argument and member in the
// assertion reports.
HRESULT CopyText(const CComBSTR& cbsText, BSTR* pbsOut, LPCSTR pszOutSet, LPCSTR pszOutEmpty, LPCSTR pszTextSet)
{
    DebugAssert(pbsOut != nullptr, kAssertSource, __LINE__, pszOutSet);
    if (pbsOut == nullptr)
        return E_POINTER;
    DebugAssert(*pbsOut == nullptr, kAssertSource, __LINE__, pszOutEmpty);
    *pbsOut = nullptr;
    DebugAssert(!!cbsText, kAssertSource, __LINE__, pszTextSet);
    return cbsText.CopyTo(pbsOut);
}

BSTR AllocModuleVersion()
{
    VS_FIXEDFILEINFO fi = {};
    ReadFixedFileInfo(&fi, reinterpret_cast<HINSTANCE>(&__ImageBase));
    WCHAR szVersion[48];
    _snwprintf(szVersion, ARRAYSIZE(szVersion) - 1, L"%i.%i.%i.%i", HIWORD(fi.dwProductVersionMS),
               LOWORD(fi.dwProductVersionMS), HIWORD(fi.dwProductVersionLS), LOWORD(fi.dwProductVersionLS));
    szVersion[ARRAYSIZE(szVersion) - 1] = 0;
    return SysAllocString(szVersion);
}
}

ICvVersionWrapper::ICvVersionWrapper(LPCSTR pszDate, LPCSTR pszTime, LPCSTR pszName)
    // Tracing and assertions are always built in: the module counts as a debug build.
    : m_eType(eCv_Ver_Debug),
#ifdef _WIN64
      m_eOS(eCv_Ver_x64)
#else
      m_eOS(eCv_Ver_win32)
#endif
{
    VERSION_ASSERT(pszDate != NULL);
    VERSION_ASSERT(pszTime != NULL);
    m_cbsName.Attach(AllocFromNarrow(pszName ? pszName : kDefaultName));
    m_cbsVersion.Attach(AllocModuleVersion());
    m_cbsDateTime.Attach(AllocDateTime(pszDate, pszTime));
}

COM_DECLSPEC_NOTHROW STDMETHODIMP ICvVersionWrapper::VerType(tagCv_Ver_Type* peType)
{
    VERSION_ASSERT(peType != NULL);
    if (peType == NULL)
        return E_POINTER;
    *peType = m_eType;
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP ICvVersionWrapper::VerOS(tagCv_Ver_OS* peOS)
{
    VERSION_ASSERT(peOS != NULL);
    if (peOS == NULL)
        return E_POINTER;
    *peOS = m_eOS;
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP ICvVersionWrapper::VerName(BSTR* pbsName)
{
    return CopyText(m_cbsName, pbsName, "pbsName != NULL", "*pbsName == NULL", "m_cbsName != NULL");
}

COM_DECLSPEC_NOTHROW STDMETHODIMP ICvVersionWrapper::VerNumber(BSTR* pbsVersion)
{
    return CopyText(m_cbsVersion, pbsVersion, "pbsVersion != NULL", "*pbsVersion == NULL", "m_cbsVersion != NULL");
}

COM_DECLSPEC_NOTHROW STDMETHODIMP ICvVersionWrapper::VerCreated(BSTR* pbsDateTime)
{
    return CopyText(m_cbsDateTime, pbsDateTime, "pbsDateTime != NULL", "*pbsDateTime == NULL",
                    "m_cbsDateTime != NULL");
}

void ICvVersionWrapper::TraceVersion(LPCWSTR pszObjectName)
{
    if (!m_cbsName || !m_cbsVersion || !m_cbsDateTime)
        return;
    WCHAR szText[TRACE_LINE_CCH];
    _snwprintf(szText, ARRAYSIZE(szText) - 1, L"%s [%c%s v.%s %s]", static_cast<LPCWSTR>(m_cbsName),
               m_eType == eCv_Ver_Debug ? L'D' : L'R', m_eOS == eCv_Ver_win32 ? L"32" : L"64",
               static_cast<LPCWSTR>(m_cbsVersion), static_cast<LPCWSTR>(m_cbsDateTime));
    szText[ARRAYSIZE(szText) - 1] = 0;
    if (pszObjectName != nullptr)
        DebugTrace(atlTraceGeneral, 2, L"%s Version: %s\n", pszObjectName, szText);
    else
        DebugTrace(atlTraceGeneral, 2, L"Version: %s\n", szText);
}
