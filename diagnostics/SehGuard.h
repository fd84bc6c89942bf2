// Runs a call and survives a processor or system exception raised inside it
// (access violation, divide by zero, ...). Used around calls into foreign code.
#pragma once
#include <windows.h>

// Returns true when pfn returned normally, false when an exception of error severity
// was raised inside it; then the call is abandoned where it faulted.
bool CallGuarded(void (*pfn)(void* pContext), void* pContext);
