// A log sink for tests: records everything it receives, in order, so that a test can
// read back exactly what reached the sink. Built in several variants (SINK_MODE) that
// misbehave in the ways a foreign sink library might.
#include "diagnostics/LogObject.h"

#include <mutex>
#include <string>
#include <vector>

#define SINK_GOOD 0
#define SINK_NO_EXPORT 1
#define SINK_NONZERO 2
#define SINK_FAULT_ENTRY 3
#define SINK_FAULT_ATTACH 4
#define SINK_FAULT_DETACH 5

#ifndef SINK_MODE
#define SINK_MODE SINK_GOOD
#endif

namespace
{
std::mutex g_Mutex;
std::vector<std::wstring> g_Events;
ILogObject** g_ppHolder = nullptr;

void Record(std::wstring text)
{
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_Events.push_back(std::move(text));
}

int* volatile g_pNull = nullptr;
void Fault() { *g_pNull = 1; }

// Events: "L<line>", "B<length>:<block>", "A<holder check>", "D<holder check>".
class CTestLogObject : public ILogObject
{
public:
    HRESULT STDMETHODCALLTYPE GetVersion(DWORD* pdw) override { if (pdw) *pdw = 1; return S_OK; }
    HRESULT STDMETHODCALLTYPE WriteBlock(UINT32 cch, LPCSTR pszText) override
    {
        std::wstring text = L"B" + std::to_wstring(cch) + L":";
        for (const char* p = pszText; p && *p; ++p)
            text += wchar_t(static_cast<unsigned char>(*p));
        Record(text);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetOptions(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Attach(ILogObject** ppHolder, void* p1, void* p2) override
    {
        g_ppHolder = ppHolder;
        bool bOk = ppHolder != nullptr && *ppHolder == this && p1 == nullptr && p2 == nullptr;
        Record(bOk ? L"Aok" : L"Abad");
        if (SINK_MODE == SINK_FAULT_ATTACH)
            Fault();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Detach(ILogObject** ppHolder) override
    {
        bool bOk = ppHolder != nullptr && *ppHolder == this && (g_ppHolder == nullptr || g_ppHolder == ppHolder);
        Record(bOk ? L"Dok" : L"Dbad");
        if (SINK_MODE == SINK_FAULT_DETACH)
            Fault();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Flush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetOptions(DWORD* pdw) override { if (pdw) *pdw = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE WriteLine(LPCWSTR pszLine) override
    {
        Record(L"L" + std::wstring(pszLine ? pszLine : L""));
        return S_OK;
    }
};

CTestLogObject g_LogObject;
}

#if SINK_MODE != SINK_NO_EXPORT
extern "C" __declspec(dllexport) int STDMETHODCALLTYPE Exp_GetLogObject(ILogObject** ppLogObject)
{
    Record(L"G");
    if (SINK_MODE == SINK_FAULT_ENTRY)
        Fault();
    *ppLogObject = &g_LogObject;
    return SINK_MODE == SINK_NONZERO ? 1 : 0;
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
}
