// The About page of the tone generator: the generic About page on the module's dialog 111.
#pragma once
#include <windows.h>

#include "pages/AboutPropertyPage.h"
#include "support/ComBase.h"
#include "support/DialogImpl.h"

class CTonewellAbout : public CComObjectRootEx<CComSingleThreadModel>,
                       public CAboutPropertyPage<CTonewellAbout>,
                       public CDialogImpl<CTonewellAbout>
{
public:
    enum { IDD = IDD_TONEWELLABOUT };

    BEGIN_COM_MAP(CTonewellAbout)
        COM_INTERFACE_ENTRY(IPropertyPage)
    END_COM_MAP()

    BOOL ProcessDialogMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
};
