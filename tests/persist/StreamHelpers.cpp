#include "persist/StreamHelpers.h"

#include <gtest/gtest.h>
#include <psapi.h>

namespace persisttest
{
CComPtr<IStream> EmptyStream()
{
    CComPtr<IStream> spStm;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &spStm), S_OK);
    return spStm;
}

CComPtr<IStream> StreamFrom(const Bytes& bytes)
{
    CComPtr<IStream> spStm = EmptyStream();
    if (!spStm)
        return spStm;
    ULONG cbWritten = 0;
    if (!bytes.empty())
    {
        EXPECT_EQ(spStm->Write(bytes.data(), ULONG(bytes.size()), &cbWritten), S_OK);
    }
    LARGE_INTEGER liZero = {};
    EXPECT_EQ(spStm->Seek(liZero, STREAM_SEEK_SET, nullptr), S_OK);
    return spStm;
}

Bytes AllBytes(IStream* pStm)
{
    HGLOBAL hGlobal = nullptr;
    EXPECT_EQ(GetHGlobalFromStream(pStm, &hGlobal), S_OK);
    STATSTG stat = {};
    EXPECT_EQ(pStm->Stat(&stat, STATFLAG_NONAME), S_OK);
    Bytes bytes(size_t(stat.cbSize.QuadPart));
    if (!bytes.empty())
    {
        const BYTE* pb = static_cast<const BYTE*>(GlobalLock(hGlobal));
        memcpy(bytes.data(), pb, bytes.size());
        GlobalUnlock(hGlobal);
    }
    return bytes;
}

ULONGLONG Position(IStream* pStm)
{
    LARGE_INTEGER liZero = {};
    ULARGE_INTEGER uliPos = {};
    EXPECT_EQ(pStm->Seek(liZero, STREAM_SEEK_CUR, &uliPos), S_OK);
    return uliPos.QuadPart;
}

SIZE_T CommittedBytes()
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    EXPECT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc)));
    return pmc.PagefileUsage;
}
}
