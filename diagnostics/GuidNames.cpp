#include "diagnostics/GuidNames.h"
#include "diagnostics/DSTrace.h"

#include <algorithm>
#include <string.h>

namespace
{
bool GuidBytesLess(const GUID_NAME& a, const GUID_NAME& b)
{
    return memcmp(&a.guid, &b.guid, sizeof(GUID)) < 0;
}
}

CGuidNameTables::CGuidNameTables(GUID_NAME_NODE* pFirst) : m_pFirst(pFirst)
{
    InitOnceInitialize(&m_SortOnce);
}

BOOL CALLBACK CGuidNameTables::SortOnce(PINIT_ONCE, PVOID pParameter, PVOID*)
{
    for (GUID_NAME_NODE* pNode = static_cast<GUID_NAME_NODE*>(pParameter); pNode != nullptr; pNode = pNode->pNext)
    {
        DS_ASSERT(pNode->pGuidName != NULL && pNode->cElems > 0);
        if (pNode->pGuidName != nullptr && pNode->cElems > 1)
            std::stable_sort(pNode->pGuidName, pNode->pGuidName + pNode->cElems, GuidBytesLess);
    }
    return TRUE;
}

void CGuidNameTables::Sort()
{
    InitOnceExecuteOnce(&m_SortOnce, &CGuidNameTables::SortOnce, m_pFirst, nullptr);
}

LPCWSTR CGuidNameTables::Find(REFGUID guid)
{
    Sort();
    for (const GUID_NAME_NODE* pNode = m_pFirst; pNode != nullptr; pNode = pNode->pNext)
    {
        if (pNode->pGuidName == nullptr)
            continue;
        UINT nLow = 0, nHigh = pNode->cElems;
        while (nLow < nHigh)
        {
            UINT nMid = nLow + (nHigh - nLow) / 2;
            int nCmp = memcmp(&pNode->pGuidName[nMid].guid, &guid, sizeof(GUID));
            if (nCmp < 0)
                nLow = nMid + 1;
            else
                nHigh = nMid;
        }
        // nLow is the first entry not below guid, so equal GUIDs keep their table order.
        if (nLow < pNode->cElems && memcmp(&pNode->pGuidName[nLow].guid, &guid, sizeof(GUID)) == 0)
            return pNode->pGuidName[nLow].pszName;
    }
    return nullptr;
}

CGuidNameTables& GuidNameTables()
{
    // Built on first use, so that a lookup from another module-wide object's constructor
    // finds the chain complete.
    static GUID_NAME_NODE s_FilterNode = {g_aFilterGuidNames, g_cFilterGuidNames, nullptr};
    static GUID_NAME_NODE s_PlatformNode = {g_aPlatformGuidNames, g_cPlatformGuidNames, &s_FilterNode};
    static CGuidNameTables s_Tables(&s_PlatformNode);
    return s_Tables;
}
