// The number of open handles of this process. Wine's GetProcessHandleCount answers 0, so
// the count falls back to the system's handle table.
#pragma once
#include <windows.h>

namespace testhandles
{
// -1 when neither query can count: a running process always holds handles, so a count of
// 0 is a failed query too. Leak tests assert a positive baseline before they compare.
long ProcessHandleCount();

// The count once it equals nExpected, read again for up to two seconds: a thread or a
// platform object that is just going away may still count for a moment; a leak stays.
long ProcessHandleCountSettledAt(long nExpected);

// How many handles more than nExpected are open once the count settled. Wine's own pools
// keep a handle for good now and then (a worker or an event made at a first need, seen once
// in a few hundred graph tests): one handle over, once per program, is let pass and printed.
// A leak of ours repeats and fails the next time.
long HandlesLeftBeyond(long nExpected);
}
