#include "diagnostics/SehGuard.h"

// gcc has no __try/__except. A vectored handler that sees an error-severity exception on
// the guarded thread resumes execution at a context captured before the call, which is
// what a frame-based handler would have done after unwinding.
namespace
{
struct GuardFrame
{
    CONTEXT ctx;
    volatile LONG bFaulted;
};

GuardFrame* volatile g_pFrame = nullptr;
volatile DWORD g_dwGuardThread = 0;
const DWORD kMsvcCppException = 0xE06D7363;

LONG CALLBACK GuardHandler(EXCEPTION_POINTERS* pInfo)
{
    GuardFrame* pFrame = g_pFrame;
    if (pFrame == nullptr || g_dwGuardThread != GetCurrentThreadId())
        return EXCEPTION_CONTINUE_SEARCH;
    DWORD dwCode = pInfo->ExceptionRecord->ExceptionCode;
    if ((dwCode & 0xC0000000) != 0xC0000000 || dwCode == kMsvcCppException)
        return EXCEPTION_CONTINUE_SEARCH;
    pFrame->bFaulted = 1;
    *pInfo->ContextRecord = pFrame->ctx;
    return EXCEPTION_CONTINUE_EXECUTION;
}
}

bool CallGuarded(void (*pfn)(void*), void* pContext)
{
    // Only one guarded call runs at a time: the sink is loaded and unloaded by the
    // loader, which serialises module initialisation.
    GuardFrame frame;
    ZeroMemory(&frame, sizeof(frame));
    GuardFrame* volatile pFrame = &frame;
    PVOID hHandler = AddVectoredExceptionHandler(1, GuardHandler);
    if (hHandler == nullptr)
        return false;
    g_dwGuardThread = GetCurrentThreadId();
    g_pFrame = &frame;
    RtlCaptureContext(&frame.ctx);
    if (!pFrame->bFaulted)
        pfn(pContext);
    g_pFrame = nullptr;
    g_dwGuardThread = 0;
    RemoveVectoredExceptionHandler(hHandler);
    return !pFrame->bFaulted;
}
