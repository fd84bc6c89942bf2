#include "common/Watchdog.h"

#include <gtest/gtest.h>

#include <stdio.h>

namespace testwatch
{
CWatchdog::CWatchdog(DWORD dwLimitMs)
    : m_dwLimitMs(dwLimitMs), m_hDisarm(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_hThread(nullptr)
{
    if (m_hDisarm != nullptr)
        m_hThread = CreateThread(nullptr, 0, &CWatchdog::Watch, this, 0, nullptr);
}

CWatchdog::~CWatchdog()
{
    if (m_hThread != nullptr)
    {
        SetEvent(m_hDisarm);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
    }
    if (m_hDisarm != nullptr)
        CloseHandle(m_hDisarm);
}

DWORD WINAPI CWatchdog::Watch(void* pv)
{
    auto* pThis = static_cast<CWatchdog*>(pv);
    if (WaitForSingleObject(pThis->m_hDisarm, pThis->m_dwLimitMs) == WAIT_OBJECT_0)
        return 0;
    const testing::TestInfo* pInfo = testing::UnitTest::GetInstance()->current_test_info();
    fprintf(stderr, "\nwatchdog: %s.%s still running after %lu ms; ending the program\n",
            pInfo ? pInfo->test_suite_name() : "?", pInfo ? pInfo->name() : "?", pThis->m_dwLimitMs);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return 1;
}
}
