#include "framework/FileVersion.h"

#include <string.h>

#include "diagnostics/DSTrace.h"
#include "support/ComBase.h"

namespace
{
// Layout of a version block: three 16-bit fields, the key with its terminator, then the
// value aligned to 4 bytes.
struct VERSION_BLOCK_HEAD
{
    WORD wLength;
    WORD wValueLength;
    WORD wType;
};

const WCHAR kVersionKey[] = L"VS_VERSION_INFO";
}

HRESULT ParseFixedFileInfo(VS_FIXEDFILEINFO* pFI, const void* pBlock, DWORD cbBlock)
{
    DS_ASSERT(pFI != NULL);
    if (pFI == NULL)
        return E_INVALIDARG;
    memset(pFI, 0, sizeof(*pFI));
    VERSION_BLOCK_HEAD head = {};
    if (pBlock != nullptr && cbBlock >= sizeof(head))
        memcpy(&head, pBlock, sizeof(head));
    if (head.wLength <= 3 || head.wValueLength == 0)
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    // Neither the block's own length nor the resource's may be overrun.
    DWORD cbLimit = head.wLength < cbBlock ? head.wLength : cbBlock;
    const DWORD cbKeyEnd = sizeof(head) + sizeof(kVersionKey);
    const BYTE* pbBlock = static_cast<const BYTE*>(pBlock);
    if (cbLimit < cbKeyEnd || memcmp(pbBlock + sizeof(head), kVersionKey, sizeof(kVersionKey)) != 0)
        return E_FAIL;
    const DWORD cbValue = (cbKeyEnd + 3) & ~DWORD(3);
    DWORD cbCopy = head.wValueLength < sizeof(*pFI) ? head.wValueLength : DWORD(sizeof(*pFI));
    if (cbValue >= cbLimit)
        cbCopy = 0;
    else if (cbCopy > cbLimit - cbValue)
        cbCopy = cbLimit - cbValue;
    memcpy(pFI, pbBlock + cbValue, cbCopy);
    return cbCopy == sizeof(*pFI) ? S_OK : S_FALSE;
}

HRESULT ReadFixedFileInfo(VS_FIXEDFILEINFO* pFI, HINSTANCE hInstance)
{
    DS_ASSERT(pFI != NULL);
    if (pFI == NULL)
        return E_INVALIDARG;
    memset(pFI, 0, sizeof(*pFI));
    SetLastError(0);
    HRSRC hResource = FindResourceW(hInstance, MAKEINTRESOURCEW(1), RT_VERSION);
    if (hResource == nullptr)
        return HResultFromLastError();
    HGLOBAL hData = LoadResource(hInstance, hResource);
    const void* pBlock = hData ? LockResource(hData) : nullptr;
    if (pBlock == nullptr)
        return HResultFromLastError();
    return ParseFixedFileInfo(pFI, pBlock, SizeofResource(hInstance, hResource));
}
