// Worker thread of an owner object, with its wake-up event and run flag, and two small
// handle wrappers.
//
// The stop is cooperative: Stop clears the run flag and sets the wake-up event; the owner's
// procedure waits on the event between units of work, sees the flag clear and returns.
#pragma once
#include <windows.h>

#include <atomic>

#include "diagnostics/DSTrace.h"
#include "support/ComBase.h"

// Owns a system handle; closes it when destroyed.
class CHandle2
{
public:
    explicit CHandle2(HANDLE h = nullptr) : m_h(h) {}
    virtual ~CHandle2() { Close(); }
    CHandle2(const CHandle2&) = delete;
    CHandle2& operator=(const CHandle2&) = delete;

    void Close()
    {
        if (m_h != nullptr)
        {
            CloseHandle(m_h);
            m_h = nullptr;
        }
    }

    HANDLE m_h;
};

class CEvent : public CHandle2
{
public:
    // Unnamed, initially not signalled; replaces any held handle.
    bool Create(bool bManualReset);
    bool Set();
    bool Reset();
};

class CBaseThread
{
public:
    typedef unsigned(__stdcall* PFN_THREADPROC)(void*);

    // Creates a suspended thread running pfnThreadProc(pv); null on failure (the last
    // error tells why).
    static HANDLE ThreadStart(PFN_THREADPROC pfnThreadProc, void* pv, DWORD* pdwThreadId);

protected:
    // For an owner destroyed on its own thread: nobody is left to wait for the thread's end,
    // so the thread holds the module that runs it until it has left the module's code.
    static void KeepModuleUntilThreadEnds();
    // The entry routine's last step: returns nResult, or ends the thread with it and lets
    // go of the module held by KeepModuleUntilThreadEnds.
    static unsigned EndThread(unsigned nResult);
};

// Runs T::ThreadProc() on a thread of its own. A plain member of its owner; the owner must
// not call InitThread and Stop concurrently.
template <class T>
class CSimpleThread : public CBaseThread
{
public:
    CSimpleThread() : m_hThread(nullptr), m_dwThreadId(0), m_hEvent(nullptr), m_bRun(false) {}
    // Destroyed on its own thread (asserted by Stop), it cannot wait for the thread's end: it
    // closes the handles and the thread keeps the module loaded until it has ended.
    ~CSimpleThread()
    {
        if (OnWorkerThread())
            KeepModuleUntilThreadEnds();
        Stop(INFINITE, false);
        CloseHandles();
    }
    CSimpleThread(const CSimpleThread&) = delete;
    CSimpleThread& operator=(const CSimpleThread&) = delete;

    // Ends a running thread first, then starts one running pfnThreadProc(pObject).
    // E_INVALIDARG for a null argument; HRESULT_FROM_WIN32(ERROR_BUSY) when called on the
    // worker thread itself, which cannot wait for its own end: the running thread stays the
    // object's, for the owner's Stop to end.
    HRESULT InitThread(T* pObject, PFN_THREADPROC pfnThreadProc)
    {
        DS_ASSERT(pObject != NULL);
        if (pObject == nullptr)
            return E_INVALIDARG;
        DS_ASSERT(pfnThreadProc != NULL);
        if (pfnThreadProc == nullptr)
            return E_INVALIDARG;
        DS_ASSERT(!OnWorkerThread());
        if (OnWorkerThread())
            return HRESULT_FROM_WIN32(ERROR_BUSY);

        Stop(INFINITE, false);

        SetLastError(0);
        HANDLE hEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (hEvent == nullptr)
        {
            HRESULT hr = HResultFromLastError();
            DebugAssert(false, __FILE_NAME__, __LINE__, "CSimpleThread::InitThread(): can't create event");
            return hr;
        }
        DWORD dwThreadId = 0;
        HANDLE hThread = ThreadStart(pfnThreadProc, pObject, &dwThreadId);
        if (hThread == nullptr)
        {
            HRESULT hr = HResultFromLastError();
            CloseHandle(hEvent);
            return hr;
        }
        m_hThread = hThread;
        m_dwThreadId = dwThreadId;
        m_hEvent = hEvent;
        // Set before the thread runs: the procedure always starts with the flag true.
        m_bRun = true;
        DWORD dwRet = ResumeThread(hThread);
        DS_ASSERT(dwRet == 1);
        return S_OK;
    }

    // The thread's entry routine: pv is the owner.
    static unsigned __stdcall StartThread(void* pv)
    {
        DebugTrace(atlTraceGeneral, 8, L"CSimpleThread::StartThread(): thread 0x%04X started\n", GetCurrentThreadId());
        DS_ASSERT(pv != NULL);
        unsigned nResult = pv != nullptr ? static_cast<T*>(pv)->ThreadProc() : unsigned(E_POINTER);
        DebugTrace(atlTraceGeneral, 8, L"CSimpleThread::StartThread(): thread 0x%04X stopped, result=0x%X\n",
                   GetCurrentThreadId(), nResult);
        return EndThread(nResult);
    }

    // Ends the thread and releases both handles. dwWait: milliseconds (INFINITE waits without
    // limit); bTerminate: force the end when the wait fails. Belongs to the owner's threads:
    // called on the worker itself (asserted), it only clears the flag and sets the event, and
    // keeps the handles so that the owner's next Stop still waits for the thread's end.
    void Stop(DWORD dwWait, bool bTerminate)
    {
        m_bRun = false;
        if (m_hThread == nullptr)
        {
            CloseEvent();
            return;
        }
        Wake();
        DS_ASSERT(!OnWorkerThread());
        if (OnWorkerThread())
            return;
        DWORD dwRet = WaitForSingleObject(m_hThread, dwWait);
        if (dwRet != WAIT_OBJECT_0)
        {
            DebugTrace(atlTraceGeneral, 2,
                       L"###Err### CSimpleThread<>::Stop(): WaitForSingleObject( wait time=%u )=0x%X for thread 0x%X\n",
                       dwWait, dwRet, m_dwThreadId);
            if (bTerminate)
            {
                DebugTrace(atlTraceGeneral, 1, L"######### CSimpleThread<>::Stop(): call TerminateThread() for thread 0x%X\n",
                           m_dwThreadId);
                // The end of a terminated thread is asynchronous: wait for it, so that the
                // thread no longer runs when the owner goes on.
                if (TerminateThread(m_hThread, 0xFFFFFFFF))
                    WaitForSingleObject(m_hThread, INFINITE);
            }
        }
        CloseHandles();
    }

    // Makes the procedure re-examine its state; false when no thread exists.
    bool Wake()
    {
        if (m_hThread == nullptr)
            return false;
        DS_ASSERT(m_hEvent != NULL);
        BOOL bRet = SetEvent(m_hEvent);
        DS_ASSERT(bRet);
        return true;
    }

    HANDLE GetThreadHandle() const { return m_hThread; }
    DWORD GetThreadId() const { return m_dwThreadId; }

private:
    bool OnWorkerThread() const { return m_hThread != nullptr && GetCurrentThreadId() == m_dwThreadId; }
    void CloseEvent()
    {
        if (m_hEvent != nullptr)
        {
            CloseHandle(m_hEvent);
            m_hEvent = nullptr;
        }
    }
    void CloseHandles()
    {
        if (m_hThread != nullptr)
        {
            CloseHandle(m_hThread);
            m_hThread = nullptr;
            m_dwThreadId = 0;
        }
        CloseEvent();
    }

    HANDLE m_hThread;
    DWORD m_dwThreadId;

public:
    // The owner's procedure waits on the event and reads the flag directly. The flag is
    // atomic because it is written and read on different threads.
    HANDLE m_hEvent;
    std::atomic<bool> m_bRun;
};
