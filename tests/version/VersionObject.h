// The version wrapper as a COM object; built into the test program and into each probe
// module, so that each reads the version resource of its own module.
#pragma once
#include "filter/CvVersionWrapper.h"
#include "support/ComBase.h"

class CVersionObject : public CComObjectRoot, public ICvVersionWrapper
{
public:
    CVersionObject(LPCSTR pszDate, LPCSTR pszTime, LPCSTR pszName) : ICvVersionWrapper(pszDate, pszTime, pszName) {}

    BEGIN_COM_MAP(CVersionObject)
        COM_INTERFACE_ENTRY(ICvVersion)
    END_COM_MAP()
};
