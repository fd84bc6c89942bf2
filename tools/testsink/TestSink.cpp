// A log sink for tests: records everything it receives, in order, so that a test can
// read back exactly what reached the sink. Built in several variants that misbehave the
// ways a foreign sink library might: SINK_DOES says what goes wrong, SINK_AT in which call.
#include "diagnostics/LogObject.h"

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// Macros rather than enumerators, so that the preprocessor can leave the export out.
#define AT_NONE 0
#define AT_ENTRY 1
#define AT_ATTACH 2
#define AT_DETACH 3
#define AT_WRITELINE 4
#define AT_WRITEBLOCK 5
#define AT_EVERY 6

#define DOES_NOTHING 0
#define DOES_NOEXPORT 1   // has no entry point
#define DOES_NONZERO 2    // the entry point stores the object but returns 1
#define DOES_FAULT 3      // access violation while it holds its lock, which a cleanup handler releases
#define DOES_BREAK 4      // breakpoint exception, likewise under its lock
#define DOES_THROW 5      // a C++ exception leaves the call while a lock_guard holds its lock
#define DOES_PROBE 6      // probes unmapped memory and throws and catches a C++ exception itself
#define DOES_REENTER 7    // on the first line calls the test back (which traces again), then faults
#define DOES_FAULT_NTH 8  // faults as DOES_FAULT, on every g_nPeriod-th call only
#define DOES_BLOCK 9      // every g_nPeriod-th call holds its lock for kBlockMs
#define DOES_SLOW 10      // every call takes kSlowMs under its lock

#ifndef SINK_AT
#define SINK_AT AT_NONE
#endif
#ifndef SINK_DOES
#define SINK_DOES DOES_NOTHING
#endif

// A frame whose termination handler releases the sink's lock when the frame is unwound,
// as a __try/__finally of a sink built with another compiler would: g++ runs no cleanup of
// its own for an access violation.
extern "C" void SinkLockedFrame(void (*pfn)());
extern "C" void SinkUnlockOnUnwind(BOOLEAN bAbnormal, void* pEstablisherFrame);

asm(R"(
    .text
    .globl SinkLockedFrame
    .def SinkLockedFrame; .scl 2; .type 32; .endef
    .seh_proc SinkLockedFrame
SinkLockedFrame:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler __C_specific_handler, @unwind
    .seh_handlerdata
    .long 1
    .rva .Lsink_guarded, .Lsink_guarded_end, SinkUnlockOnUnwind
    .long 0                 # no jump target: a termination handler
    .text
.Lsink_guarded:
    callq *%rcx
    nop
.Lsink_guarded_end:
    addq $40, %rsp
    ret
    .seh_endproc
)");

namespace
{
std::mutex g_Mutex;
std::vector<std::wstring> g_Events;
ILogObject** g_ppHolder = nullptr;
void (*g_pfnReenter)() = nullptr;
bool g_bReentered = false;
// Calls of the misbehaving kind since the last clear, and how often one misbehaves.
std::atomic<long> g_nCalls{0};
long g_nPeriod = SINK_DOES == DOES_BLOCK ? 50 : 100;
const DWORD kBlockMs = 100;
const DWORD kSlowMs = 2;

void Record(std::wstring text)
{
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_Events.push_back(std::move(text));
}

int* volatile g_pNull = nullptr;
void AccessViolation() { *g_pNull = 1; }
void Breakpoint() { DebugBreak(); }

void UnderLock(void (*pfn)())
{
    g_Mutex.lock();
    SinkLockedFrame(pfn);
    g_Mutex.unlock();
}

void SleepUnderLock(DWORD dwMs)
{
    std::lock_guard<std::mutex> lock(g_Mutex);
    Sleep(dwMs);
}

bool PeriodReached()
{
    return ++g_nCalls % g_nPeriod == 0;
}

void ThrowUnderLock()
{
    std::lock_guard<std::mutex> lock(g_Mutex);
    throw std::runtime_error("test sink");
}

void ProbeAndRecover()
{
    if (!IsBadReadPtr(reinterpret_cast<void*>(16), 4))
        Record(L"probe read unmapped memory");
    try
    {
        throw std::runtime_error("handled by the sink");
    }
    catch (const std::exception&)
    {
    }
}

void Misbehave(int nCall)
{
    if (SINK_AT != nCall && SINK_AT != AT_EVERY)
        return;
    switch (SINK_DOES)
    {
    case DOES_FAULT: UnderLock(&AccessViolation); break;
    case DOES_BREAK: UnderLock(&Breakpoint); break;
    case DOES_THROW: ThrowUnderLock(); break;
    case DOES_PROBE: ProbeAndRecover(); break;
    case DOES_FAULT_NTH:
        if (PeriodReached())
            UnderLock(&AccessViolation);
        break;
    case DOES_BLOCK:
        if (PeriodReached())
            SleepUnderLock(kBlockMs);
        break;
    case DOES_SLOW: SleepUnderLock(kSlowMs); break;
    case DOES_REENTER:
        if (!g_bReentered && g_pfnReenter != nullptr)
        {
            g_bReentered = true;
            g_pfnReenter();
        }
        UnderLock(&AccessViolation);
        break;
    default: break;
    }
}

// Set when the loader shuts this library down; the globals are destroyed right after.
bool g_bShutDown = false;

// A call that comes after the shutdown must touch none of the destroyed globals: it leaves
// its name in the value "CalledAfterShutdown" of the sink's registry key for the test.
bool CalledAfterShutdown(const wchar_t* pszCall)
{
    if (!g_bShutDown)
        return false;
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\_VTMLLOG64", L"CalledAfterShutdown", REG_SZ, pszCall,
                    DWORD((wcslen(pszCall) + 1) * sizeof(wchar_t)));
    return true;
}

// Events: "G" (entry), "L<line>", "B<length>:<block>", "A<holder check>", "D<holder check>".
class CTestLogObject : public ILogObject
{
public:
    HRESULT STDMETHODCALLTYPE GetVersion(DWORD* pdw) override { if (pdw) *pdw = 1; return S_OK; }
    HRESULT STDMETHODCALLTYPE WriteBlock(UINT32 cch, LPCSTR pszText) override
    {
        if (CalledAfterShutdown(L"WriteBlock"))
            return S_OK;
        std::wstring text = L"B" + std::to_wstring(cch) + L":";
        for (const char* p = pszText; p && *p; ++p)
            text += wchar_t(static_cast<unsigned char>(*p));
        Record(text);
        Misbehave(AT_WRITEBLOCK);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetOptions(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Attach(ILogObject** ppHolder, void* p1, void* p2) override
    {
        if (CalledAfterShutdown(L"Attach"))
            return S_OK;
        g_ppHolder = ppHolder;
        bool bOk = ppHolder != nullptr && *ppHolder == this && p1 == nullptr && p2 == nullptr;
        Record(bOk ? L"Aok" : L"Abad");
        Misbehave(AT_ATTACH);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Detach(ILogObject** ppHolder) override
    {
        if (CalledAfterShutdown(L"Detach"))
            return S_OK;
        bool bOk = ppHolder != nullptr && *ppHolder == this && (g_ppHolder == nullptr || g_ppHolder == ppHolder);
        Record(bOk ? L"Dok" : L"Dbad");
        Misbehave(AT_DETACH);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Flush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetOptions(DWORD* pdw) override { if (pdw) *pdw = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE WriteLine(LPCWSTR pszLine) override
    {
        if (CalledAfterShutdown(L"WriteLine"))
            return S_OK;
        Record(L"L" + std::wstring(pszLine ? pszLine : L""));
        Misbehave(AT_WRITELINE);
        return S_OK;
    }
};

// The variant without the export never hands it out.
[[maybe_unused]] CTestLogObject g_LogObject;
}

// Runs before the runtime destroys this library's globals.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD dwReason, void*)
{
    if (dwReason == DLL_PROCESS_DETACH)
        g_bShutDown = true;
    return TRUE;
}

extern "C" void SinkUnlockOnUnwind(BOOLEAN, void*)
{
    g_Mutex.unlock();
}

#ifdef SINK_IMPORTS_DEPENDENCY
// From sinkdep.dll, which lies beside this library only.
extern "C" __declspec(dllimport) int SinkDependency_Answer();
#endif

#if SINK_DOES != DOES_NOEXPORT
extern "C" __declspec(dllexport) int STDMETHODCALLTYPE Exp_GetLogObject(ILogObject** ppLogObject)
{
#ifdef SINK_IMPORTS_DEPENDENCY
    if (SinkDependency_Answer() != 42)
        return 1;
#endif
    Record(L"G");
    Misbehave(AT_ENTRY);
    *ppLogObject = &g_LogObject;
    return SINK_DOES == DOES_NONZERO ? 1 : 0;
}
#endif

// Read-back interface for the tests.
extern "C" __declspec(dllexport) int TestSink_Count()
{
    std::lock_guard<std::mutex> lock(g_Mutex);
    return int(g_Events.size());
}

// Copies event i into pszBuf (cch characters); returns its full length or -1.
extern "C" __declspec(dllexport) int TestSink_Get(int i, wchar_t* pszBuf, int cch)
{
    std::lock_guard<std::mutex> lock(g_Mutex);
    if (i < 0 || i >= int(g_Events.size()) || pszBuf == nullptr || cch <= 0)
        return -1;
    lstrcpynW(pszBuf, g_Events[i].c_str(), cch);
    return int(g_Events[i].size());
}

extern "C" __declspec(dllexport) void TestSink_Clear()
{
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_Events.clear();
    g_bReentered = false;
    g_nCalls = 0;
}

// How often a DOES_FAULT_NTH or DOES_BLOCK sink misbehaves: on every nth call (from 1).
extern "C" __declspec(dllexport) void TestSink_SetPeriod(long n)
{
    g_nPeriod = n > 0 ? n : 1;
}

// Whether another thread can take the sink's lock now: a sink abandoned mid-call without
// unwinding keeps it.
extern "C" __declspec(dllexport) BOOL TestSink_LockIsFree()
{
    bool bFree = false;
    std::thread([&bFree] {
        bFree = g_Mutex.try_lock();
        if (bFree)
            g_Mutex.unlock();
    }).join();
    return bFree;
}

// The function a DOES_REENTER sink calls from its first line.
extern "C" __declspec(dllexport) void TestSink_SetReentry(void (*pfn)())
{
    g_pfnReenter = pfn;
}
