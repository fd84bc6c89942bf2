// The module entry. The trace facility's module-wide objects (output statistic and log
// sink) are built by the run time before DllMain sees DLL_PROCESS_ATTACH and destroyed
// after DLL_PROCESS_DETACH; naming the sink here links them into the module.
#include <windows.h>
#include "diagnostics/DSTrace.h"

HINSTANCE g_hInstance = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
{
    if (dwReason == DLL_PROCESS_ATTACH)
    {
        g_hInstance = hInstance;
        DisableThreadLibraryCalls(hInstance);
        (void)TraceSink();
    }
    return TRUE;
}
