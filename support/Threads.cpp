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
// The module a thread holds after its owner was destroyed on it; null for the others. A
// slot of the system's own: the compiler's thread-local variables go through the threads
// library, which keeps handles per thread and per module load that it never gives back.
class CKeptModuleSlot
{
public:
    CKeptModuleSlot() noexcept : m_nIndex(TlsAlloc()) {}
    ~CKeptModuleSlot()
    {
        if (m_nIndex != TLS_OUT_OF_INDEXES)
            TlsFree(m_nIndex);
    }
    HMODULE Get() const
    {
        return m_nIndex != TLS_OUT_OF_INDEXES ? static_cast<HMODULE>(TlsGetValue(m_nIndex)) : nullptr;
    }
    bool Set(HMODULE h) const { return m_nIndex != TLS_OUT_OF_INDEXES && TlsSetValue(m_nIndex, h); }

private:
    const DWORD m_nIndex;
};

const CKeptModuleSlot g_keptModule;
}

void CBaseThread::KeepModuleUntilThreadEnds()
{
    HMODULE hModule = nullptr;
    if (g_keptModule.Get() == nullptr &&
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCWSTR>(&CBaseThread::KeepModuleUntilThreadEnds), &hModule) &&
        !g_keptModule.Set(hModule))
        FreeLibrary(hModule);
}

unsigned CBaseThread::EndThread(unsigned nResult)
{
    HMODULE hModule = g_keptModule.Get();
    if (hModule == nullptr)
        return nResult;
    g_keptModule.Set(nullptr);
    // Lets go of the module and ends the thread in one call, which never returns into it.
    FreeLibraryAndExitThread(hModule, nResult);
}
