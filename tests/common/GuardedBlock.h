// A format block that ends where an inaccessible page begins, so that reading one byte past
// cbFormat faults.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <cstring>

class CGuardedBlock
{
public:
    CGuardedBlock()
    {
        SYSTEM_INFO si;
        GetSystemInfo(&si);
        m_cbPage = si.dwPageSize;
        m_pb = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * m_cbPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD dwOld;
        m_bReady = m_pb != nullptr && VirtualProtect(m_pb + m_cbPage, m_cbPage, PAGE_NOACCESS, &dwOld);
    }
    ~CGuardedBlock()
    {
        if (m_pb != nullptr)
            VirtualFree(m_pb, 0, MEM_RELEASE);
    }
    bool Ready() const { return m_bReady; }
    // pmt's first cbFormat bytes, moved up against the guard.
    void Place(AM_MEDIA_TYPE* pmt, ULONG cbFormat)
    {
        BYTE* pbEnd = m_pb + m_cbPage;
        memcpy(pbEnd - cbFormat, pmt->pbFormat, cbFormat);
        pmt->pbFormat = pbEnd - cbFormat;
        pmt->cbFormat = cbFormat;
    }

private:
    DWORD m_cbPage = 0;
    BYTE* m_pb = nullptr;
    bool m_bReady = false;
};
