// Replaces one imported function of a loaded module for the life of the object, by writing
// the module's import address table: the module then calls the replacement instead of the
// system's function. For watching a module's calls to the platform from a test.
#pragma once
#include <windows.h>

class CImportPatch
{
public:
    // pszDll and pszFunction name the import (the DLL name is compared without case).
    CImportPatch(HMODULE hModule, const char* pszDll, const char* pszFunction, void* pfnReplacement);
    ~CImportPatch();
    CImportPatch(const CImportPatch&) = delete;
    CImportPatch& operator=(const CImportPatch&) = delete;

    // False when the module does not import the function.
    bool IsActive() const { return m_ppSlot != nullptr; }

private:
    static void Write(void** ppSlot, void* pfn);

    void** m_ppSlot = nullptr;
    void* m_pfnOriginal = nullptr;
};
