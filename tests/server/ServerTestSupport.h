// What the server tests share: the module's path, regsvr32 runs, registry reads and the
// filter mapper's categories.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <string>
#include <vector>

namespace servertest
{
// Tonewell.dll beside the test program.
std::wstring ModulePath();
// Runs Wine's regsvr32 /s (with /u to unregister) on a module; its exit code.
DWORD RunRegsvr32(const std::wstring& path, bool bUnregister);
bool KeyExists(HKEY hRoot, const std::wstring& path);
// The default (pszName null) or named string value; "<none>" when there is none.
std::wstring StringValue(HKEY hRoot, const std::wstring& path, const wchar_t* pszName = nullptr);
// The friendly names of the filters the system device enumerator lists in a category.
std::vector<std::wstring> CategoryNames(REFGUID category);
// Filters of a category by class identifier, from the mapper's registry entries.
bool CategoryHolds(REFGUID category, REFCLSID clsidFilter);
std::wstring GuidText(REFGUID guid);
}
