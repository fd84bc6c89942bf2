// The log object that an external log-sink library hands out through its export
// "Exp_GetLogObject". Only the order of the four operations the trace facility calls
// is fixed (WriteBlock, one other, Attach, Detach, two others, WriteLine); the rest of
// the table is the sink's business and is never called by this module.
#pragma once
#include <windows.h>

struct ILogObject
{
    virtual HRESULT STDMETHODCALLTYPE GetVersion(DWORD* pdwVersion) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteBlock(UINT32 cchText, LPCSTR pszText) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOptions(DWORD dwOptions) = 0;
    virtual HRESULT STDMETHODCALLTYPE Attach(ILogObject** ppHolder, void* pReserved1, void* pReserved2) = 0;
    virtual HRESULT STDMETHODCALLTYPE Detach(ILogObject** ppHolder) = 0;
    virtual HRESULT STDMETHODCALLTYPE Flush() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOptions(DWORD* pdwOptions) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteLine(LPCWSTR pszLine) = 0;
};

// The sink library's entry point: stores the log object and returns 0 on success.
typedef int (STDMETHODCALLTYPE* PFN_GetLogObject)(ILogObject** ppLogObject);
#define LOG_SINK_ENTRY_NAME "Exp_GetLogObject"
#define LOG_SINK_REGISTRY_KEY L"Software\\_VTMLLOG64"
