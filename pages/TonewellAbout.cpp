#include "pages/TonewellAbout.h"

BOOL CTonewellAbout::ProcessDialogMessage(UINT uMsg, WPARAM, LPARAM, LRESULT& lResult)
{
    if (uMsg != WM_INITDIALOG)
        return FALSE;
    // This file's build date and time are the module's.
    InitAbout("Corvane Tonewell", __DATE__, __TIME__);
    lResult = FALSE;  // no initial focus
    return TRUE;
}
