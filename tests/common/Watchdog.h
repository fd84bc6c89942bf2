// Ends the test program when a test hangs, so that a deadlock fails the run instead of
// stalling it. Arm one per test (a fixture member); destroying it disarms it.
#pragma once
#include <windows.h>

namespace testwatch
{
class CWatchdog
{
public:
    // After dwLimitMs the process writes the running test's name to stderr and exits with 3.
    explicit CWatchdog(DWORD dwLimitMs = 60000);
    ~CWatchdog();
    CWatchdog(const CWatchdog&) = delete;
    CWatchdog& operator=(const CWatchdog&) = delete;

private:
    static DWORD WINAPI Watch(void* pv);

    DWORD m_dwLimitMs;
    HANDLE m_hDisarm;
    HANDLE m_hThread;
};
}
