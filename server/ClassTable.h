// The classes the module serves, in registration and lookup order, with their cached
// class objects and their registry updates.
#pragma once
#include <windows.h>

struct CClassEntry
{
    const CLSID* pclsid;
    // Creates the class object with the module's own reference (not a module lock).
    HRESULT (*pfnCreateClassObject)(IUnknown** ppUnk);
    // Writes or removes the class's registry entries.
    HRESULT (*pfnUpdateRegistry)(bool bRegister);
    IUnknown* pClassObject;  // cached from the first request to the module's unload
};

// The table; ends with an entry whose pclsid is null.
CClassEntry* ClassTable();

// The module's instance handle and full path.
HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE hInstance);
const wchar_t* ModulePath();
