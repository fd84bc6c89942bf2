// A module that carries the trace facility and lets tests drive it from outside, so
// that module load and unload (sink loading, statistics line, detach) are real.
#include "diagnostics/DSTrace.h"

#define PROBE_EXPORT extern "C" __declspec(dllexport)

PROBE_EXPORT void Probe_Trace(DWORD dwCategory, UINT nLevel, LPCWSTR pszText)
{
    DebugTrace(dwCategory, nLevel, L"%s", pszText);
}

PROBE_EXPORT void Probe_TraceFormats()
{
    DebugTrace(atlTraceGeneral, 8, L"%s|%hs|%i|%X|%u\n", L"wide", "narrow", -5, 0xABu, 7u);
}

PROBE_EXPORT void Probe_TraceAlways(LPCWSTR pszText)
{
    DebugTraceAlways(L"%s", pszText);
}

PROBE_EXPORT void Probe_Assert(bool bCondition, LPCSTR pszFile, int nLine, LPCSTR pszCondition, DWORD dwLastError)
{
    SetLastError(dwLastError);
    DebugAssert(bCondition, pszFile, nLine, pszCondition);
}

PROBE_EXPORT void Probe_Block(LPCWSTR pszBlock)
{
    DebugTraceBlock(pszBlock);
}

PROBE_EXPORT BOOL Probe_HasSink()
{
    ILogObject* pLog = nullptr;
    return SUCCEEDED(TraceSink().GetLogObject(&pLog)) && pLog != nullptr;
}
