#include "diagnostics/DSTrace.h"
#include "diagnostics/SehGuard.h"
#include "diagnostics/SinkTrust.h"

#include <dshow.h>
#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

namespace
{
// Built before any other module-wide object and destroyed after them, so that every
// trace line of the module's life can reach the sink. The statistic comes first.
__attribute__((init_priority(101))) CTimeStat s_OutputStat;
__attribute__((init_priority(101))) CTraceSink s_TraceSink;

WCHAR s_szModuleNameW[TRACE_TAG_CCH];

const WCHAR kEscape = 0x1B;

bool EndsWithNoCase(LPCWSTR pszText, size_t cch, LPCWSTR pszEnd)
{
    size_t cchEnd = wcslen(pszEnd);
    return cch >= cchEnd && _wcsicmp(pszText + cch - cchEnd, pszEnd) == 0;
}

// Formats behind the head and writes the line; shared by DebugTrace and DebugTraceAlways.
void WriteTraceLine(UINT nLevel, LPCWSTR pszFormat, va_list args)
{
    LONGLONG llStart = s_OutputStat.Start();
    WCHAR szLine[TRACE_LINE_CCH];
    int cchHead = BuildTracePrefix(szLine, nLevel);
    if (pszFormat != nullptr)
        _vsnwprintf(szLine + cchHead, TRACE_LINE_CCH - cchHead, pszFormat, args);
    else
        szLine[cchHead] = 0;
    szLine[TRACE_LINE_CCH - 1] = 0;
    s_TraceSink.WriteLine(szLine);
    s_OutputStat.Stop(llStart);
}
}

CTimeStat& TraceOutputStat() { return s_OutputStat; }
CTraceSink& TraceSink() { return s_TraceSink; }

// ---------------------------------------------------------------- module tag and head

void BuildModuleTag(LPCWSTR pszPath, LPWSTR pszTag)
{
    size_t cchPath = pszPath ? wcslen(pszPath) : 0;
    size_t iName = cchPath;
    while (iName > 0 && pszPath[iName - 1] != L'\\' && pszPath[iName - 1] != L':')
        --iName;
    if (iName == 0)
    {
        wcscpy(pszTag, L"N/A: ");
        return;
    }
    LPCWSTR pszName = pszPath + iName;
    size_t cchName = cchPath - iName;
    if (cchName > 4 && (EndsWithNoCase(pszName, cchName, L".dll") || EndsWithNoCase(pszName, cchName, L".exe")))
        cchName -= 4;
    if (cchName > 29)
        cchName = 29;
    size_t i = 0;
    for (; i < cchName; ++i)
    {
        WCHAR ch = pszName[i];
        pszTag[i] = (ch >= L'a' && ch <= L'z') ? WCHAR(ch - L'a' + L'A') : ch;
    }
    pszTag[i++] = L':';
    pszTag[i++] = L' ';
    pszTag[i] = 0;
}

int BuildTracePrefix(LPWSTR pszBuf, UINT nLevel)
{
    DS_ASSERT(16 <= sizeof(s_szModuleNameW)/sizeof(*s_szModuleNameW));
    if (pszBuf == nullptr)
        return 0;
    if (s_szModuleNameW[0] == 0)
    {
        // The module holding this code, not the host's executable.
        WCHAR szPath[MAX_PATH + 1] = {};
        HMODULE hModule = nullptr;
        if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               reinterpret_cast<LPCWSTR>(&BuildTracePrefix), &hModule))
        {
            if (GetModuleFileNameW(hModule, szPath, MAX_PATH) == 0)
                szPath[0] = 0;
        }
        WCHAR szTag[TRACE_TAG_CCH] = {};  // the whole buffer is copied below, past the tag's end too
        BuildModuleTag(szPath, szTag);
        // Threads that meet here write the same text; the first character goes last so
        // that a reader never sees a partly written tag.
        for (size_t i = 1; i < TRACE_TAG_CCH; ++i)
            s_szModuleNameW[i] = szTag[i];
        MemoryBarrier();
        s_szModuleNameW[0] = szTag[0];
    }
    pszBuf[0] = kEscape;
    pszBuf[1] = WCHAR(nLevel + 1);
    return 2 + CTextAppender(pszBuf + 2, TRACE_TAG_CCH).Text(s_szModuleNameW).Length();
}

// ---------------------------------------------------------------- trace and assert

void DebugTrace(DWORD dwCategory, UINT nLevel, LPCWSTR pszFormat, ...)
{
    if (dwCategory == 0 || nLevel > TRACE_LEVEL_LIMIT)
        return;
    va_list args;
    va_start(args, pszFormat);
    WriteTraceLine(nLevel, pszFormat, args);
    va_end(args);
}

void DebugTraceAlways(LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    WriteTraceLine(0, pszFormat, args);
    va_end(args);
}

void DebugTraceBlock(LPCWSTR pszBlock)
{
    ILogObject* pLog = nullptr;
    if (pszBlock == nullptr || FAILED(s_TraceSink.GetLogObject(&pLog)))
        return;
    int cchWide = lstrlenW(pszBlock);
    int cbAnsi = WideCharToMultiByte(CP_THREAD_ACP, 0, pszBlock, cchWide + 1, nullptr, 0, nullptr, nullptr);
    if (cbAnsi <= 0)
        return;
    char* pszAnsi = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, cbAnsi));
    if (pszAnsi == nullptr)
        return;
    WideCharToMultiByte(CP_THREAD_ACP, 0, pszBlock, cchWide + 1, pszAnsi, cbAnsi, nullptr, nullptr);
    s_TraceSink.WriteBlock(UINT32(cchWide), pszAnsi);
    HeapFree(GetProcessHeap(), 0, pszAnsi);
}

void DebugAssert(bool bCondition, LPCSTR pszFile, int nLine, LPCSTR pszCondition)
{
    if (bCondition)
        return;
    DWORD dwError = GetLastError();
    WCHAR szError[TRACE_ERROR_TEXT_CCH];
    FormatErrorText(szError, L"", L"GetLastError()", dwError);
    WCHAR szReport[TRACE_LINE_CCH];
    _snwprintf(szReport, TRACE_LINE_CCH - 1, L"###Err###\n%hs(%i): ASSERT( \"%hs\" )\n%s\n",
               pszFile ? pszFile : "", nLine, pszCondition ? pszCondition : "", szError);
    szReport[TRACE_LINE_CCH - 1] = 0;
    s_TraceSink.WriteLine(szReport);
    // No interactive report here: the debugger output gets the assertion instead, so
    // that an assertion never blocks a host or a test.
    WCHAR szDebug[TRACE_LINE_CCH];
    _snwprintf(szDebug, TRACE_LINE_CCH - 1, L"%hs(%i): Assertion failed: %hs\n",
               pszFile ? pszFile : "", nLine, pszCondition ? pszCondition : "");
    szDebug[TRACE_LINE_CCH - 1] = 0;
    OutputDebugStringW(szDebug);
    s_TraceSink.WriteLine(L"\nexit ASSERT");
    SetLastError(dwError);
}

LPWSTR FormatErrorText(LPWSTR pszBuf, LPCWSTR pszText, LPCWSTR pszName, DWORD dwCode)
{
    if (pszBuf == nullptr || pszName == nullptr)
        return nullptr;
    int cch = _snwprintf(pszBuf, TRACE_ERROR_TEXT_CCH - 1, L"%s=0x%08X (%i)\n%s\n",
                         pszName, dwCode, int(dwCode), pszText ? pszText : L"no message");
    pszBuf[TRACE_ERROR_TEXT_CCH - 1] = 0;
    if (cch < 0)
        cch = lstrlenW(pszBuf);
    DWORD cchRoom = DWORD(TRACE_ERROR_TEXT_CCH - cch);
    if (cchRoom > 1)
    {
        pszBuf[cch] = 0;
        if (AMGetErrorTextW(HRESULT(dwCode), pszBuf + cch, cchRoom) == 0)
        {
            pszBuf[cch] = 0;
            FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwCode,
                           MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), pszBuf + cch, cchRoom, nullptr);
        }
        pszBuf[TRACE_ERROR_TEXT_CCH - 1] = 0;
    }
    int cchAll = lstrlenW(pszBuf);
    while (cchAll > 0 && pszBuf[cchAll - 1] <= 0x20)
        pszBuf[--cchAll] = 0;
    return pszBuf;
}

// ---------------------------------------------------------------- output statistic

CTimeStat::CTimeStat(LPCWSTR pszLabel) noexcept : m_pszLabel(pszLabel ? pszLabel : L"")
{
    Reset();
}

void CTimeStat::Reset()
{
    m_llStart = 0;
    m_llStop = 0;
    m_llFirst = 0;
    m_llMax = 0;
    m_llSum = 0;
    m_llMin = MAXLONGLONG;
    m_nCount = 0;
}

LONGLONG CTimeStat::Start()
{
    // Only Record sets the first-call figure: another thread may be recording the first
    // call right now.
    LONGLONG llNow = m_clock.Now();
    m_llStart = llNow;
    return llNow;
}

void CTimeStat::Stop(LONGLONG llStart)
{
    LONGLONG llNow = m_clock.Now();
    m_llStop = llNow;
    // A thread moved to another processor may read a counter a few ticks behind.
    Record(llNow > llStart ? llNow - llStart : 0);
}

void CTimeStat::Record(LONGLONG llTicks)
{
    // The first call only sets 'first'; later calls feed min, max and sum.
    if (InterlockedCompareExchange(&m_nCount, 1, 0) == 0)
    {
        m_llFirst = llTicks;
        return;
    }
    LONGLONG llOld = m_llMax;
    while (llTicks > llOld && InterlockedCompareExchange64(&m_llMax, llTicks, llOld) != llOld)
        llOld = m_llMax;
    llOld = m_llMin;
    while (llTicks < llOld && InterlockedCompareExchange64(&m_llMin, llTicks, llOld) != llOld)
        llOld = m_llMin;
    InterlockedExchangeAdd64(&m_llSum, llTicks);
    InterlockedIncrement(&m_nCount);
}

bool CTimeStat::Format(LPWSTR pszBuf, int cchBuf, LPCWSTR pszLabel) const
{
    DS_ASSERT(pszBuf != NULL);
    if (pszBuf == nullptr || cchBuf <= 0)
        return false;
    pszBuf[0] = 0;
    UINT nCount = UINT(m_nCount);
    if (nCount == 0)
        return false;
    const LONGLONG llFreqNow = m_clock.Frequency();
    DebugAssert(llFreqNow != 0, __FILE_NAME__, __LINE__, "m_llFreq != 0");
    LONGLONG llFreq = llFreqNow != 0 ? llFreqNow : 1;
    auto micro = [llFreq](LONGLONG llTicks) { return UINT(llTicks * 1000000 / llFreq); };
    if (pszLabel == nullptr)
        pszLabel = m_pszLabel;
    UINT uFirst = micro(m_llFirst);
    if (nCount == 1)
    {
        _snwprintf(pszBuf, cchBuf - 1, L"%sFirst=%u.%03u ms (1 call)\r\n", pszLabel, uFirst / 1000, uFirst % 1000);
    }
    else
    {
        // The average is over the later calls, the ones that sum holds.
        UINT uAvg = micro(m_llSum / (nCount - 1)), uMin = micro(m_llMin), uMax = micro(m_llMax);
        _snwprintf(pszBuf, cchBuf - 1, L"%sAvg=%u.%03u Min=%u.%03u Max=%u.%03u First=%u.%03u ms (%u calls)\r\n",
                   pszLabel, uAvg / 1000, uAvg % 1000, uMin / 1000, uMin % 1000, uMax / 1000, uMax % 1000,
                   uFirst / 1000, uFirst % 1000, nCount);
    }
    pszBuf[cchBuf - 1] = 0;
    return true;
}

// ---------------------------------------------------------------- log sink

CTraceSink::CTraceSink() noexcept : m_pfnGetLogObject(nullptr), m_hLibrary(nullptr), m_pLogObject(nullptr), m_bFaulted(0)
{
    // Any program of the user may write the key: an elevated or system process would run
    // that program's choice of code with rights the program does not have.
    if (!SinkAllowedInThisProcess())
        return;
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, LOG_SINK_REGISTRY_KEY, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return;
    // One character more than the value may fill, so the path is always terminated.
    WCHAR szPath[MAX_PATH + 1] = {};
    DWORD cbPath = MAX_PATH * sizeof(WCHAR);
    LONG lResult = RegQueryValueExW(hKey, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(szPath), &cbPath);
    RegCloseKey(hKey);
    if (lResult != ERROR_SUCCESS)
        return;
    for (WCHAR* p = szPath; *p; ++p)
        if (*p == L'|')
            *p = L'\\';
    // A bare or relative name would be found in the host's folders, wherever it was started;
    // the sink's own imports resolve beside it.
    if (!SinkPathIsAbsolute(szPath))
        return;
    m_hLibrary = LoadLibraryExW(szPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (m_hLibrary == nullptr)
        return;
    // Through the generic function type: the export's own type is known only by its name.
    m_pfnGetLogObject = reinterpret_cast<PFN_GetLogObject>(
        reinterpret_cast<void (*)()>(GetProcAddress(m_hLibrary, LOG_SINK_ENTRY_NAME)));
    if (m_pfnGetLogObject == nullptr)
    {
        FreeLibrary(m_hLibrary);
        m_hLibrary = nullptr;
        return;
    }
    if (!CallGuarded(&CTraceSink::CallEntry, this))
    {
        FreeLibrary(m_hLibrary);
        m_hLibrary = nullptr;
        m_pfnGetLogObject = nullptr;
        m_pLogObject = nullptr;
    }
}

void CTraceSink::CallEntry(void* pContext)
{
    CTraceSink* pThis = static_cast<CTraceSink*>(pContext);
    if (pThis->m_pfnGetLogObject(&pThis->m_pLogObject) == 0 && pThis->m_pLogObject != nullptr)
        pThis->m_pLogObject->Attach(&pThis->m_pLogObject, nullptr, nullptr);
}

void CTraceSink::CallDetach(void* pContext)
{
    CTraceSink* pThis = static_cast<CTraceSink*>(pContext);
    pThis->m_pLogObject->Detach(&pThis->m_pLogObject);
}

namespace
{
// Whether the process is ending: the loader then detaches modules in the reverse order of
// their start, so a sink this module loaded has already been shut down when it comes here.
bool ProcessIsEnding()
{
    using PFN_ShutdownInProgress = BOOLEAN(WINAPI*)();
    const auto pfnShutdownInProgress = reinterpret_cast<PFN_ShutdownInProgress>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress")));
    return pfnShutdownInProgress != nullptr && pfnShutdownInProgress();
}
}

CTraceSink::~CTraceSink()
{
    // A sink already shut down would run over its own destroyed state: no statistic, no
    // Detach and no unload, as for a sink that faulted.
    const bool bShutDown = m_hLibrary != nullptr && ProcessIsEnding();
    if (m_hLibrary != nullptr && m_pLogObject != nullptr && !bShutDown && s_OutputStat.HasData())
    {
        WCHAR szStat[TRACE_LINE_CCH];
        if (s_OutputStat.Format(szStat, TRACE_LINE_CCH, L"*** [Log stat] Output: "))
            DebugTraceAlways(L"%s", szStat);
        s_OutputStat.Reset();
    }
    // A sink that faulted (perhaps on the line just written) is left alone: no Detach and
    // no unload, both of which would run its code again.
    if (m_hLibrary == nullptr || m_bFaulted || bShutDown)
    {
        m_pLogObject = nullptr;
        m_hLibrary = nullptr;
        return;
    }
    if (m_pLogObject != nullptr)
    {
        CallGuarded(&CTraceSink::CallDetach, this);
        m_pLogObject = nullptr;
    }
    FreeLibrary(m_hLibrary);
    m_hLibrary = nullptr;
}

HRESULT CTraceSink::GetLogObject(ILogObject** ppLogObject) const
{
    if (ppLogObject == nullptr)
        return E_POINTER;
    *ppLogObject = m_pLogObject;
    return *ppLogObject != nullptr ? S_OK : E_FAIL;
}

void CTraceSink::CallLogObject(void (*pfnCall)(void*), void* pContext)
{
    // Lines may be on their way on other threads; each finds the sink off once it looks.
    if (!CallGuarded(pfnCall, pContext))
    {
        InterlockedExchange(&m_bFaulted, 1);
        InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&m_pLogObject), nullptr);
    }
}

void CTraceSink::WriteLine(LPCWSTR pszLine)
{
    struct Call
    {
        ILogObject* pLog;
        LPCWSTR pszLine;
        static void Run(void* pv)
        {
            Call* p = static_cast<Call*>(pv);
            p->pLog->WriteLine(p->pszLine);
        }
    } call{nullptr, pszLine};
    if (SUCCEEDED(GetLogObject(&call.pLog)))
        CallLogObject(&Call::Run, &call);
}

void CTraceSink::WriteBlock(UINT32 cchText, LPCSTR pszText)
{
    struct Call
    {
        ILogObject* pLog;
        UINT32 cchText;
        LPCSTR pszText;
        static void Run(void* pv)
        {
            Call* p = static_cast<Call*>(pv);
            p->pLog->WriteBlock(p->cchText, p->pszText);
        }
    } call{nullptr, cchText, pszText};
    if (SUCCEEDED(GetLogObject(&call.pLog)))
        CallLogObject(&Call::Run, &call);
}
