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
