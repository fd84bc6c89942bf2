// Trace output, assertions and the connection to the external log sink.
//
// A trace line reaches the log object as: ESC (0x1B), one character of code level+1,
// the module tag ("TONEWELL: "), then the formatted text; 511 characters at most.
// Templates are wide printf templates of the C run time: %s wide, %hs narrow.
#pragma once
#include <windows.h>
#include "diagnostics/LogObject.h"
#include "diagnostics/StatClock.h"
#include "diagnostics/TextAppend.h"

// Trace categories; a line with category 0 is suppressed.
enum : DWORD
{
    atlTraceGeneral = 0x1,
    atlTraceCOM = 0x2,
    atlTraceRegistrar = 0x8,
    atlTraceWindowing = 0x20,
    atlTraceControls = 0x40,
    atlTraceNotImpl = 0x800,
    atlTraceException = 0x2000,
};

const UINT TRACE_LEVEL_LIMIT = 8;          // lines of a higher level are dropped
const int TRACE_LINE_CCH = 512;            // line buffer, terminator included
const int TRACE_ERROR_TEXT_CCH = 1024;     // FormatErrorText's buffer
const int TRACE_TAG_CCH = 32;

void DebugTrace(DWORD dwCategory, UINT nLevel, LPCWSTR pszFormat, ...);
void DebugTraceAlways(LPCWSTR pszFormat, ...);
void DebugAssert(bool bCondition, LPCSTR pszFile, int nLine, LPCSTR pszCondition);

// Hands a block of several lines to the sink's WriteBlock, converted to the thread's
// ANSI code page; no head. Nothing happens without a log object.
void DebugTraceBlock(LPCWSTR pszBlock);

// "name=0x%08X (%i)\ntext\n" followed by the media or system error text of dwCode.
// pszBuf must hold TRACE_ERROR_TEXT_CCH characters. Null buffer or name: null.
LPWSTR FormatErrorText(LPWSTR pszBuf, LPCWSTR pszText, LPCWSTR pszName, DWORD dwCode);

// Writes the line head (ESC, level+1, module tag) and returns its length.
int BuildTracePrefix(LPWSTR pszBuf, UINT nLevel);

// The module tag for a module file name: the file name in capitals without ".dll"/".exe",
// at most 29 characters, then ": "; "N/A: " when the path has no '\' or ':'.
// pszTag must hold TRACE_TAG_CCH characters.
void BuildModuleTag(LPCWSTR pszPath, LPWSTR pszTag);

// Timing statistic over calls; every figure is kept with atomic updates so that
// tracing threads need no lock.
class CTimeStat
{
public:
    explicit CTimeStat(LPCWSTR pszLabel = L"") noexcept;
    void Reset();
    LONGLONG Start();                       // returns the counter value to pass to Stop
    void Stop(LONGLONG llStart);
    void Record(LONGLONG llTicks);          // adds one call of the given duration
    bool HasData() const { return m_nCount != 0; }
    // Formats the figures in milliseconds; false (and an empty buffer) without data.
    bool Format(LPWSTR pszBuf, int cchBuf, LPCWSTR pszLabel) const;
    LONGLONG Frequency() const { return m_clock.Frequency(); }
    LONGLONG First() const { return m_llFirst; }     // duration of the first call, in ticks

private:
    LPCWSTR m_pszLabel;
    CStatClock m_clock;
    volatile LONGLONG m_llStart;
    volatile LONGLONG m_llStop;
    volatile LONGLONG m_llFirst;
    volatile LONGLONG m_llMin;
    volatile LONGLONG m_llMax;
    volatile LONGLONG m_llSum;
    volatile LONG m_nCount;
};

// Connection to the log sink named by HKCU\Software\_VTMLLOG64; one per module.
//
// The sink is foreign code, so every call into it is guarded (SehGuard.h). An exception
// out of the entry point or Attach unloads the library at once, as if there were no sink;
// one out of Detach is ignored and the library is still unloaded. An exception out of
// WriteLine or WriteBlock switches the sink off for the module's life: no further line,
// no Detach, and the library stays loaded, because unloading runs its code again (and
// other threads may be on their way out of it).
class CTraceSink
{
public:
    CTraceSink() noexcept;
    ~CTraceSink();
    CTraceSink(const CTraceSink&) = delete;
    CTraceSink& operator=(const CTraceSink&) = delete;

    // E_POINTER for a null out, E_FAIL without a log object; no reference is added.
    HRESULT GetLogObject(ILogObject** ppLogObject) const;

    // Hand one line or block to the log object, if one is held.
    void WriteLine(LPCWSTR pszLine);
    void WriteBlock(UINT32 cchText, LPCSTR pszText);

private:
    static void CallEntry(void* pContext);
    static void CallDetach(void* pContext);
    void CallLogObject(void (*pfnCall)(void*), void* pContext);

    PFN_GetLogObject m_pfnGetLogObject;
    HMODULE m_hLibrary;
    ILogObject* m_pLogObject;
    volatile LONG m_bFaulted;
};

// The module's output statistic (written at unload) and sink.
CTimeStat& TraceOutputStat();
CTraceSink& TraceSink();

// A line put together by hand in place behind its head, for the lines written for every
// buffer: the same line as DebugTrace (dwCategory, nLevel, L"%s", text) without printf or a
// second copy, timed from the head to the hand-over as DebugTrace is. The caller has checked
// the category and level (DumpEnabled).
class CTraceLine
{
public:
    explicit CTraceLine(UINT nLevel)
        : m_llStart(TraceOutputStat().Start()), m_cchHead(BuildTracePrefix(m_szLine, nLevel)),
          m_text(m_szLine + m_cchHead, TRACE_LINE_CCH - m_cchHead)
    {
    }
    CTraceLine(const CTraceLine&) = delete;
    CTraceLine& operator=(const CTraceLine&) = delete;

    CTextAppender& Text() { return m_text; }
    // Hands the line to the sink, if one is held, and stops the statistic.
    void Write()
    {
        TraceSink().WriteLine(m_szLine);
        TraceOutputStat().Stop(m_llStart);
    }

private:
    LONGLONG m_llStart;
    WCHAR m_szLine[TRACE_LINE_CCH];
    int m_cchHead;
    CTextAppender m_text;
};

// Asserts a precondition with this source file's name; never changes control flow.
// The condition is tested in place: a call per assertion that holds would cost the streaming
// thread's every buffer.
#define DS_ASSERT(expr) ((expr) ? void(0) : DebugAssert(false, __FILE_NAME__, __LINE__, #expr))
// The same under an explicit source name.
#define DS_ASSERT_AS(source, expr) ((expr) ? void(0) : DebugAssert(false, source, __LINE__, #expr))
