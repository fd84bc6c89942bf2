// The number of open handles of this process. Wine's GetProcessHandleCount answers 0, so
// the count falls back to the system's handle table.
#pragma once
#include <windows.h>

namespace testhandles
{
DWORD ProcessHandleCount();
}
