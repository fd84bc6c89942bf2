// Runs a call into foreign code (the log sink) and survives any exception that leaves it.
#pragma once
#include <windows.h>

// g++'s code for a C++ exception on its way through the system's dispatcher.
const DWORD GCC_CPP_EXCEPTION_CODE = 0x20474343;

// Calls pfn(pContext) in a frame of its own that has an exception handler, the way a
// __try/__except(EXCEPTION_EXECUTE_HANDLER) would:
// - exceptions the callee handles itself never get here (its handlers run first);
// - any other exception (access violation, breakpoint, a C++ exception of any compiler)
//   is caught: the callee's frames are unwound, so their cleanup handlers run, and the
//   call returns false with the exception code in *pdwCode;
// - the frame lives on the calling thread's stack, so guarded calls nest and run on many
//   threads at once.
// A caught C++ exception's object is not freed: that would run the callee's run time again.
// Returns true, and 0 in *pdwCode, when pfn returned.
bool CallGuarded(void (*pfn)(void* pContext), void* pContext, DWORD* pdwCode = nullptr);
