// A module whose worker destroys its own owner and then still runs the module's code: the
// test lets go of the module while the worker is in it.
#include "support/Threads.h"

#define PROBE_EXPORT extern "C" __declspec(dllexport)

namespace
{
class CSelfDestroyingOwner
{
public:
    CSelfDestroyingOwner(HANDLE hDestroyed, HANDLE hGate) : m_hDestroyed(hDestroyed), m_hGate(hGate) {}

    unsigned ThreadProc()
    {
        HANDLE hDestroyed = m_hDestroyed;
        HANDLE hGate = m_hGate;
        delete this;
        SetEvent(hDestroyed);
        WaitForSingleObject(hGate, INFINITE);
        return 0x700;
    }

    HANDLE m_hDestroyed;
    HANDLE m_hGate;
    CSimpleThread<CSelfDestroyingOwner> m_thread;
};
}

// Starts an owner whose procedure destroys it, signals hDestroyed, waits for hGate and
// returns 0x700. *pdwThreadId: the worker's identifier.
PROBE_EXPORT HRESULT Probe_StartSelfDestroying(HANDLE hDestroyed, HANDLE hGate, DWORD* pdwThreadId)
{
    auto* pOwner = new CSelfDestroyingOwner(hDestroyed, hGate);
    HRESULT hr = pOwner->m_thread.InitThread(pOwner, &CSimpleThread<CSelfDestroyingOwner>::StartThread);
    if (FAILED(hr))
    {
        delete pOwner;
        return hr;
    }
    *pdwThreadId = pOwner->m_thread.GetThreadId();
    return S_OK;
}

namespace
{
struct CFirstUse
{
    CFirstUse() : dwThreadId(GetCurrentThreadId()) {}
    DWORD dwThreadId;
};
}

// The first use of a function-local static of the module: the thread that initialized it.
PROBE_EXPORT DWORD Probe_FirstUseOfAStatic()
{
    static const CFirstUse s;
    return s.dwThreadId;
}
