// GUID name tables: a chain of tables of (GUID, name) pairs, each sorted once by the GUID's
// 16 bytes as they lie in memory and then searched by bisection, first table first.
#pragma once
#include <windows.h>

struct GUID_NAME
{
    GUID guid;
    LPCWSTR pszName;
};

struct GUID_NAME_NODE
{
    GUID_NAME* pGuidName;
    UINT cElems;
    GUID_NAME_NODE* pNext;
};

// The platform's components, interfaces, media types, formats and property sets.
extern GUID_NAME g_aPlatformGuidNames[];
extern const UINT g_cPlatformGuidNames;
// Filters of other software makers.
extern GUID_NAME g_aFilterGuidNames[];
extern const UINT g_cFilterGuidNames;

// A chain of tables that sorts itself in place on first use. The sort runs exactly once
// even when several threads make their first lookup at the same time; the others wait.
class CGuidNameTables
{
public:
    explicit CGuidNameTables(GUID_NAME_NODE* pFirst);
    CGuidNameTables(const CGuidNameTables&) = delete;
    CGuidNameTables& operator=(const CGuidNameTables&) = delete;

    void Sort();
    // The name of the first entry with this GUID, or null.
    LPCWSTR Find(REFGUID guid);

private:
    static BOOL CALLBACK SortOnce(PINIT_ONCE pInitOnce, PVOID pParameter, PVOID* ppContext);

    INIT_ONCE m_SortOnce;
    GUID_NAME_NODE* m_pFirst;
};

// The module's chain: platform table, then the other makers' filters.
CGuidNameTables& GuidNameTables();
