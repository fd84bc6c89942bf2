// The fixed part (VS_FIXEDFILEINFO) of a module's version resource.
#pragma once
#include <windows.h>

// Reads the fixed file information of version resource 1 in hInstance into *pFI, which is
// cleared first. S_OK when all of it was read, S_FALSE when the resource holds less;
// E_INVALIDARG for a null pFI; the system error when the resource cannot be found, loaded
// or locked (E_FAIL when there is none); the failures of ParseFixedFileInfo.
HRESULT ReadFixedFileInfo(VS_FIXEDFILEINFO* pFI, HINSTANCE hInstance);

// The same from a version block of cbBlock bytes in memory; nothing outside it is read.
// HRESULT_FROM_WIN32(ERROR_NOT_FOUND) for a block that is too short or has no value,
// E_FAIL when its key is not "VS_VERSION_INFO".
HRESULT ParseFixedFileInfo(VS_FIXEDFILEINFO* pFI, const void* pBlock, DWORD cbBlock);
