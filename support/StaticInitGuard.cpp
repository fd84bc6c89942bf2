// The guards of function-local statics, on a slim reader/writer lock of the module's own.
//
// The run time's guards wait through the statically linked threads library, and its
// first wait on a thread makes that thread a record of its own (a copy of the thread's
// handle and an event). A record of a thread that outlives the module is never freed: a
// host thread that loads the module, asks for a class object (whose interface table is
// such a static) and unloads it again would keep two handles for every load.
//
// The guard is the platform's 64-bit one: its first byte is set once the object is
// initialized (the compiler's own check reads it), its second while a thread initializes.
#include <windows.h>

namespace
{
SRWLOCK g_lock = SRWLOCK_INIT;
CONDITION_VARIABLE g_initialized = CONDITION_VARIABLE_INIT;

BYTE* Done(long long* pGuard)
{
    return reinterpret_cast<BYTE*>(pGuard);
}

BYTE* Busy(long long* pGuard)
{
    return reinterpret_cast<BYTE*>(pGuard) + 1;
}
}

// 1: the caller initializes the object, then releases the guard (or aborts on a throw).
// 0: the object is initialized.
extern "C" int __cxa_guard_acquire(long long* pGuard)  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the C++ ABI's name, replaced
{
    if (__atomic_load_n(Done(pGuard), __ATOMIC_ACQUIRE) != 0)
        return 0;
    AcquireSRWLockExclusive(&g_lock);
    int nResult = 0;
    for (;;)
    {
        if (__atomic_load_n(Done(pGuard), __ATOMIC_ACQUIRE) != 0)
            break;
        if (*Busy(pGuard) == 0)
        {
            *Busy(pGuard) = 1;
            nResult = 1;
            break;
        }
        // Another thread initializes the object.
        SleepConditionVariableSRW(&g_initialized, &g_lock, INFINITE, 0);
    }
    ReleaseSRWLockExclusive(&g_lock);
    return nResult;
}

extern "C" void __cxa_guard_release(long long* pGuard)  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the C++ ABI's name, replaced
{
    AcquireSRWLockExclusive(&g_lock);
    __atomic_store_n(Done(pGuard), BYTE(1), __ATOMIC_RELEASE);
    *Busy(pGuard) = 0;
    ReleaseSRWLockExclusive(&g_lock);
    WakeAllConditionVariable(&g_initialized);
}

// The initializer threw: the next caller tries again.
extern "C" void __cxa_guard_abort(long long* pGuard)  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the C++ ABI's name, replaced
{
    AcquireSRWLockExclusive(&g_lock);
    *Busy(pGuard) = 0;
    ReleaseSRWLockExclusive(&g_lock);
    WakeAllConditionVariable(&g_initialized);
}
