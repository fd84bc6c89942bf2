// tchar.h must come before the platform headers that pull in strsafe.h.
#include <tchar.h>

#include "diagnostics/TextConverters.h"
#include "diagnostics/DSTrace.h"
#include "diagnostics/GuidNames.h"
#include "diagnostics/TextAppend.h"
#include "diagnostics/TextFormat.h"

#include <stdlib.h>
#include <string.h>

namespace
{
// The FOURCC family {xxxxxxxx-0000-0010-8000-00AA00389B71}: its last twelve bytes.
const BYTE kFourccFamilyTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

struct FOURCC_NAME
{
    DWORD dwCode;
    LPCWSTR pszName;
};

const FOURCC_NAME kFourccNames[] = {
    {0, L"BI_RGB"},
    {1, L"BI_RLE8"},
    {2, L"BI_RLE4"},
    {3, L"BI_BITFIELDS"},
    {0xE436EB78, L"RGB1"},
    {0xE436EB79, L"RGB4"},
    {0xE436EB7A, L"RGB8"},
    {0xE436EB7B, L"RGB565"},
    {0xE436EB7C, L"RGB555"},
    {0xE436EB7D, L"RGB24"},
    {0xE436EB7E, L"RGB32"},
    {0x297C55AF, L"ARGB1555"},
    {0x6E6415E6, L"ARGB4444"},
    {0x773C9AC0, L"ARGB32"},
};

// Where the BITMAPINFOHEADER lies in a video format block, or -1.
int BitmapHeaderOffset(REFGUID formatType)
{
    if (formatType == FORMAT_VideoInfo || formatType == FORMAT_MPEGVideo)
        return 48;
    if (formatType == FORMAT_VideoInfo2 || formatType == FORMAT_MPEG2Video)
        return 72;
    return -1;
}
}

LPWSTR RefTime2Str(REFERENCE_TIME t, LPWSTR pszConv)
{
    DS_ASSERT(pszConv != NULL);
    if (pszConv == nullptr)
        return nullptr;
    if (t == MINLONGLONG)
        return CopyText(pszConv, REFTIME_STR_CCH, L"MINLONGLONG");
    if (t == MAXLONGLONG)
        return CopyText(pszConv, REFTIME_STR_CCH, L"MAXLONGLONG");
    auto magnitude = [](LONGLONG v) { return v < 0 ? 0 - ULONGLONG(v) : ULONGLONG(v); };
    LONGLONG m = t / 10000;
    UINT r = UINT(magnitude(t - m * 10000));
    LONGLONG s = m / 1000;
    UINT f = UINT(magnitude(m - s * 1000));
    LONG h = LONG(s / 1000000000);
    LONG l = LONG(s - LONGLONG(h) * 1000000000);
    CTextAppender text(pszConv, REFTIME_STR_CCH);
    if (h != 0)
        text.Signed(h).Unsigned(magnitude(l), 9);
    else if (t < 0 && l == 0)
        text.Text(L"-0");  // between -1 and 0 seconds the whole-second part carries no sign itself
    else
        text.Signed(l);
    text.Char(L'.').Unsigned(f, 3);
    if (r != 0)
        text.Char(L'\'').Unsigned(r, 4);
    return pszConv;
}

LPWSTR LongLong2Str(LONGLONG ll, LPWSTR pszConv)
{
    DS_ASSERT(pszConv != NULL);
    if (pszConv == nullptr)
        return nullptr;
    if (ll == MINLONGLONG)
        return CopyText(pszConv, REFTIME_STR_CCH, L"MINLONGLONG");
    if (ll == MAXLONGLONG)
        return CopyText(pszConv, REFTIME_STR_CCH, L"MAXLONGLONG");
    // The digits from the right, a blank before every group of three but the first.
    WCHAR sz[32];
    int n = 32;
    sz[--n] = 0;
    ULONGLONG u = ll < 0 ? 0 - ULONGLONG(ll) : ULONGLONG(ll);
    for (int nDigits = 0; nDigits == 0 || u != 0; ++nDigits, u /= 10)
    {
        if (nDigits != 0 && nDigits % 3 == 0)
            sz[--n] = L' ';
        sz[--n] = WCHAR(L'0' + u % 10);
    }
    if (ll < 0)
        sz[--n] = L'-';
    return CopyText(pszConv, REFTIME_STR_CCH, sz + n);
}

LPWSTR Fourcc2Str(DWORD dwFCC, LPWSTR pszFCC)
{
    DS_ASSERT(pszFCC != NULL && _T("Fourcc2Str()"));
    if (pszFCC == nullptr)
        return nullptr;
    pszFCC[0] = 0;
    char ach[4];
    for (int i = 0; i < 4; ++i)
    {
        ach[i] = char((dwFCC >> (8 * i)) & 0xFF);
        if (BYTE(ach[i]) < 0x20 || BYTE(ach[i]) > 0x7E)
            return pszFCC;
    }
    int cch = MultiByteToWideChar(CP_THREAD_ACP, 0, ach, 4, pszFCC, FOURCC_STR_CCH - 1);
    pszFCC[cch > 0 ? cch : 0] = 0;
    return pszFCC;
}

LPWSTR Fourcc2Name(DWORD dwFCC, LPWSTR pszFCC)
{
    DS_ASSERT(pszFCC != NULL && _T("Fourcc2Name()"));
    if (pszFCC == nullptr)
        return nullptr;
    WCHAR szCode[FOURCC_STR_CCH];
    if (Fourcc2Str(dwFCC, szCode)[0] != 0)
        return CopyText(pszFCC, FOURCC_NAME_CCH, szCode);
    for (const FOURCC_NAME& entry : kFourccNames)
        if (entry.dwCode == dwFCC)
            return CopyText(pszFCC, FOURCC_NAME_CCH, entry.pszName);
    FormatText(pszFCC, FOURCC_NAME_CCH, L"0x%08X", dwFCC);
    return pszFCC;
}

LPCWSTR Guid2Name(REFGUID guid, LPWSTR pszName, int nMaxSym)
{
    DS_ASSERT(pszName != NULL && _T("Guid2Name()"));
    DS_ASSERT(nMaxSym > 0 && _T("Guid2Name()"));
    if (pszName == nullptr || nMaxSym <= 0)
        return L"";
    if (LPCWSTR pszTableName = GuidNameTables().Find(guid))
        return CopyText(pszName, nMaxSym, pszTableName);
    WCHAR szMade[GUID_NAME_CCH];
    szMade[0] = 0;
    if (memcmp(reinterpret_cast<const BYTE*>(&guid) + 4, kFourccFamilyTail, sizeof(kFourccFamilyTail)) == 0)
    {
        DWORD d = guid.Data1;
        WCHAR szCode[FOURCC_STR_CCH];
        if (d <= 0xFFFE)
            FormatText(szMade, GUID_NAME_CCH, d == 0x55 ? L"TAG_0x%X(MP3)" : L"TAG_0x%X", d);
        else if (Fourcc2Str(d, szCode)[0] != 0)
            FormatText(szMade, GUID_NAME_CCH, L"FCC_%s", szCode);
    }
    if (szMade[0] == 0)
        FormatText(szMade, GUID_NAME_CCH, L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", UINT(guid.Data1),
                   guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
                   guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return CopyText(pszName, nMaxSym, szMade);
}

void ParseMediaType(const AM_MEDIA_TYPE* pmt, LPWSTR pszMediaType, int nMaxLength, bool bDetails)
{
    DS_ASSERT(pszMediaType != NULL && _T("ParseMediaType()"));
    if (pszMediaType == nullptr || nMaxLength <= 0)
        return;
    if (pmt == nullptr)
    {
        CopyText(pszMediaType, nMaxLength, L"Empty media type\n");
        return;
    }
    WCHAR szMajor[GUID_NAME_CCH], szSub[GUID_NAME_CCH], szFormat[GUID_NAME_CCH];
    Guid2Name(pmt->majortype, szMajor, GUID_NAME_CCH);
    Guid2Name(pmt->subtype, szSub, GUID_NAME_CCH);
    Guid2Name(pmt->formattype, szFormat, GUID_NAME_CCH);
    WCHAR szSize[32] = L"";
    int nOffset = BitmapHeaderOffset(pmt->formattype);
    // Only a block that really holds the whole bitmap header is read.
    if (bDetails && pmt->pbFormat != nullptr && nOffset >= 0 &&
        pmt->cbFormat >= ULONG(nOffset) + sizeof(BITMAPINFOHEADER))
    {
        const BITMAPINFOHEADER* pbmi = reinterpret_cast<const BITMAPINFOHEADER*>(pmt->pbFormat + nOffset);
        FormatText(szSize, 32, L" %d*%d", int(pbmi->biWidth), int(pbmi->biHeight));
    }
    WCHAR szText[3 * GUID_NAME_CCH + 64];
    if (bDetails)
        FormatText(szText, ARRAYSIZE(szText), L"( %s / %s / %s )%s\r\n", szMajor, szSub, szFormat, szSize);
    else
        FormatText(szText, ARRAYSIZE(szText), L"( %s / %s / %s )", szMajor, szSub, szFormat);
    CopyText(pszMediaType, nMaxLength, szText);
}

LPWSTR MakeNamePrefix(LPCWSTR pszName, LPWSTR pszPrefix, int nMaxLength)
{
    DS_ASSERT(pszName != NULL);
    DS_ASSERT(pszPrefix != NULL);
    DS_ASSERT(nMaxLength > 0);
    if (pszPrefix == nullptr || nMaxLength <= 0)
        return nullptr;
    pszPrefix[0] = 0;
    if (pszName == nullptr || nMaxLength <= 5)
        return pszPrefix;
    size_t cchName = wcslen(pszName);
    if (cchName + 3 <= size_t(nMaxLength))
        FormatText(pszPrefix, nMaxLength, L"%s: ", pszName);
    else
        FormatText(pszPrefix, nMaxLength, L"%.*s..: ", nMaxLength - 5, pszName);
    return pszPrefix;
}
