#include "support/Threads.h"

#include <process.h>

bool CEvent::Create(bool bManualReset)
{
    Close();
    m_h = CreateEventW(nullptr, bManualReset ? TRUE : FALSE, FALSE, nullptr);
    return m_h != nullptr;
}

bool CEvent::Set()
{
    DS_ASSERT(m_h != NULL);
    return m_h != nullptr && SetEvent(m_h) != FALSE;
}

bool CEvent::Reset()
{
    DS_ASSERT(m_h != NULL);
    return m_h != nullptr && ResetEvent(m_h) != FALSE;
}

HANDLE CBaseThread::ThreadStart(PFN_THREADPROC pfnThreadProc, void* pv, DWORD* pdwThreadId)
{
    unsigned nThreadId = 0;
    HANDLE hThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, pfnThreadProc, pv, CREATE_SUSPENDED, &nThreadId));
    if (hThread == nullptr)
    {
        DebugAssert(false, __FILE_NAME__, __LINE__, "CBaseThread::ThreadStart(): can't create thread");
        return nullptr;
    }
    if (pdwThreadId != nullptr)
        *pdwThreadId = nThreadId;
    return hThread;
}

namespace
{
// The module a thread holds after its owner was destroyed on it; null for the others.
thread_local HMODULE t_hKeptModule = nullptr;
}

void CBaseThread::KeepModuleUntilThreadEnds()
{
    if (t_hKeptModule == nullptr)
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&CBaseThread::KeepModuleUntilThreadEnds), &t_hKeptModule);
}

unsigned CBaseThread::EndThread(unsigned nResult)
{
    HMODULE hModule = t_hKeptModule;
    if (hModule == nullptr)
        return nResult;
    t_hKeptModule = nullptr;
    // Lets go of the module and ends the thread in one call, which never returns into it.
    FreeLibraryAndExitThread(hModule, nResult);
}
