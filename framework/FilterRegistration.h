// Registration of filters with the platform's filter mapper, in filter categories.
#pragma once
#include <windows.h>
#include <dshow.h>

// A filter's own pin table for the mapper: Count () and Pin (nIndex) give its pin records.
struct CFilterSetup
{
    UINT (*pfnCount)();
    const REGFILTERPINS* (*pfnPin)(UINT nIndex);
};

// Makes sure the category exists (bRegister, with a name: created with dwCategoryMerit when
// absent), or removes it once no filter is left in it (not bRegister, with a name). Without
// a name it only asks whether the category exists.
HRESULT VTMLRegisterCategory(BOOL bRegister, REFGUID clsidCategory, LPCWSTR pszName, DWORD dwCategoryMerit);

// Registers (or only unregisters) the filter in the category, under the name its class key
// holds, with the pins of its setup table. A filter the mapper does not know is no error.
HRESULT RegisterFilter(BOOL bRegister, REFCLSID clsidFilter, DWORD dwMerit, REFGUID clsidCategory,
                       const CFilterSetup& setup);

// The maker's own filter category "Corvane Filters", and the one it replaced.
extern const GUID CLSID_CorvaneFilterCategory;
extern const GUID CLSID_CorvaneFormerCategory;
