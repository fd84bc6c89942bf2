// Small trace helpers shared by the memory classes.
#pragma once
#include "diagnostics/DSTrace.h"

// Reports a failure whose assertion text is a message rather than a condition.
#define DS_REPORT(message) DebugAssert(false, __FILE_NAME__, __LINE__, message)

// Whether a line of this level can reach the sink; lets per-sample lines skip formatting.
constexpr bool TraceLevelOn(UINT nLevel) { return nLevel <= TRACE_LEVEL_LIMIT; }
