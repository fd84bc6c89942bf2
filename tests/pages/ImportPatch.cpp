#include "ImportPatch.h"

#include <string.h>

CImportPatch::CImportPatch(HMODULE hModule, const char* pszDll, const char* pszFunction, void* pfnReplacement)
{
    if (hModule == nullptr)
        return;
    auto* pBase = reinterpret_cast<BYTE*>(hModule);
    auto* pDos = reinterpret_cast<IMAGE_DOS_HEADER*>(pBase);
    auto* pNt = reinterpret_cast<IMAGE_NT_HEADERS*>(pBase + pDos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = pNt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0)
        return;
    for (auto* pDesc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(pBase + dir.VirtualAddress); pDesc->Name != 0;
         ++pDesc)
    {
        if (_stricmp(reinterpret_cast<const char*>(pBase + pDesc->Name), pszDll) != 0)
            continue;
        auto* pNames = reinterpret_cast<IMAGE_THUNK_DATA*>(pBase + pDesc->OriginalFirstThunk);
        auto* pSlots = reinterpret_cast<IMAGE_THUNK_DATA*>(pBase + pDesc->FirstThunk);
        for (; pNames->u1.AddressOfData != 0; ++pNames, ++pSlots)
        {
            if (IMAGE_SNAP_BY_ORDINAL(pNames->u1.Ordinal))
                continue;
            auto* pByName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(pBase + pNames->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(pByName->Name), pszFunction) != 0)
                continue;
            m_ppSlot = reinterpret_cast<void**>(&pSlots->u1.Function);
            m_pfnOriginal = *m_ppSlot;
            Write(m_ppSlot, pfnReplacement);
            return;
        }
    }
}

CImportPatch::~CImportPatch()
{
    if (m_ppSlot != nullptr)
        Write(m_ppSlot, m_pfnOriginal);
}

void CImportPatch::Write(void** ppSlot, void* pfn)
{
    DWORD dwOld = 0;
    VirtualProtect(ppSlot, sizeof(void*), PAGE_READWRITE, &dwOld);
    *ppSlot = pfn;
    VirtualProtect(ppSlot, sizeof(void*), dwOld, &dwOld);
}
