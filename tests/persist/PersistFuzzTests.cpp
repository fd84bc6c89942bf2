// Loads of truncated, corrupted and random streams into an object with every entry kind:
// each ends in S_OK or a clean failure, touches nothing outside the persisted members,
// reads no further than the stream, and leaves no memory or references behind.
#include <gtest/gtest.h>

#include <random>

#include "persist/PersistTestClasses.h"
#include "persist/StreamHelpers.h"

using namespace persisttest;

namespace
{
const int kSourceSeed = 41;
const int kTargetSeed = 42;

class PersistFuzz : public testing::Test
{
protected:
    void SetUp() override
    {
        m_nLiveObjects = CComModuleCount::GetLockCount();
        m_spSource = CreatePersisted(&m_pSource);
        m_spTarget = CreatePersisted(&m_pTarget);
        ASSERT_TRUE(m_spSource && m_spTarget);
        m_pSource->Fill(kSourceSeed);
        m_valid = Save(m_spSource);
        m_pTarget->Fill(kTargetSeed);
        m_old = Save(m_spTarget);
        ASSERT_EQ(m_old.size(), m_valid.size());  // one layout for both seeds
    }

    void TearDown() override
    {
        m_spSource.Release();
        m_spTarget.Release();
        // A reference kept by any load would keep a nested COM object alive.
        EXPECT_EQ(CComModuleCount::GetLockCount(), m_nLiveObjects);
    }

    static Bytes Save(IPersistStream* pPersist)
    {
        CComPtr<IStream> spStm = EmptyStream();
        EXPECT_EQ(pPersist->Save(spStm, TRUE), S_OK);
        return AllBytes(spStm);
    }

    // Loads into the target reset to its seed and checks what must hold for any input.
    HRESULT LoadChecked(const Bytes& bytes)
    {
        m_pTarget->Fill(kTargetSeed);
        CComPtr<IStream> spStm = StreamFrom(bytes);
        HRESULT hr = m_spTarget->Load(spStm);
        EXPECT_TRUE(hr == S_OK || hr == E_FAIL || hr == E_ACCESSDENIED) << std::hex << hr;
        EXPECT_TRUE(m_pTarget->CanariesIntact());
        ULONGLONG cbConsumed = Position(spStm);
        EXPECT_LE(cbConsumed, bytes.size());
        if (hr == S_OK)
        {
            EXPECT_EQ(Save(m_spTarget), Bytes(bytes.begin(), bytes.begin() + cbConsumed));
        }
        return hr;
    }

    // Where each string's byte count lies in the valid stream.
    std::vector<size_t> StringCountOffsets() const
    {
        std::vector<size_t> offsets;
        size_t cbAt = 0;
        for (const CEveryKind::Leaf& leaf : m_pSource->Leaves())
        {
            if (leaf.bString)
                offsets.push_back(cbAt);
            cbAt += leaf.cb;
        }
        return offsets;
    }

    LONG m_nLiveObjects = 0;
    CEveryKind* m_pSource = nullptr;
    CEveryKind* m_pTarget = nullptr;
    CComPtr<IPersistStream> m_spSource;
    CComPtr<IPersistStream> m_spTarget;
    Bytes m_valid;
    Bytes m_old;
};

TEST_F(PersistFuzz, TruncatedStreamsLoadTheWholeEntriesBeforeTheCutOnly)
{
    const std::vector<CEveryKind::Leaf> leaves = m_pSource->Leaves();
    for (size_t cbCut = 0; cbCut < m_valid.size(); ++cbCut)
    {
        EXPECT_EQ(LoadChecked(Bytes(m_valid.begin(), m_valid.begin() + cbCut)), E_FAIL) << "cut " << cbCut;
        size_t cbLoaded = 0;
        for (const CEveryKind::Leaf& leaf : leaves)
        {
            if (cbLoaded + leaf.cb > cbCut)
                break;
            cbLoaded += leaf.cb;
        }
        Bytes expected(m_valid.begin(), m_valid.begin() + cbLoaded);
        expected.insert(expected.end(), m_old.begin() + cbLoaded, m_old.end());
        EXPECT_EQ(Save(m_spTarget), expected) << "cut " << cbCut;
    }
}

TEST_F(PersistFuzz, RandomBytesFailCleanly)
{
    std::mt19937 rng(20240307);
    for (int i = 0; i < 2000; ++i)
    {
        Bytes bytes(rng() % (m_valid.size() + 64));
        for (BYTE& b : bytes)
            b = BYTE(rng());
        LoadChecked(bytes);
    }
}

TEST_F(PersistFuzz, CorruptedStreamsFailCleanly)
{
    const std::vector<size_t> countOffsets = StringCountOffsets();
    const ULONG aCounts[] = {0, 1, 2, 3, 4, 5, 6, 7, 0x20, 0x21, 0xFFFFF, 0x100000, 0x100001, 0x100002,
                             0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
    std::mt19937 rng(1168);
    int nOk = 0, nFail = 0, nDenied = 0;
    for (int i = 0; i < 3000; ++i)
    {
        Bytes bytes = m_valid;
        switch (rng() % 4)
        {
        case 0:
            for (int n = 1 + rng() % 3; n > 0; --n)
                bytes[rng() % bytes.size()] = BYTE(rng());
            break;
        case 1:
        {
            ULONG cb = aCounts[rng() % ARRAYSIZE(aCounts)];
            memcpy(&bytes[countOffsets[rng() % countOffsets.size()]], &cb, sizeof(cb));
            break;
        }
        case 2:
        {
            ULONG cb = aCounts[rng() % ARRAYSIZE(aCounts)];
            memcpy(&bytes[countOffsets[rng() % countOffsets.size()]], &cb, sizeof(cb));
            bytes.resize(rng() % bytes.size());
            break;
        }
        default:
            for (int n = rng() % 16; n > 0; --n)
                bytes.push_back(BYTE(rng()));
            break;
        }
        switch (LoadChecked(bytes))
        {
        case S_OK: ++nOk; break;
        case E_FAIL: ++nFail; break;
        case E_ACCESSDENIED: ++nDenied; break;
        }
    }
    // The mutations reach every outcome.
    EXPECT_GT(nOk, 0);
    EXPECT_GT(nFail, 0);
    EXPECT_GT(nDenied, 0);
}

TEST_F(PersistFuzz, FailedAndRepeatedLoadsOfLargeStringsLeaveNoMemoryBehind)
{
    const size_t cbLabelCount = StringCountOffsets()[0];
    const ULONG cbString = _ATL_STREAM_MAX_SIZE;
    Bytes full(m_valid.begin(), m_valid.begin() + cbLabelCount);
    Append(full, cbString);
    full.resize(full.size() + cbString, 0x20);
    Bytes noTerminator = full;
    full[full.size() - 1] = 0;
    full[full.size() - 2] = 0;
    Bytes endsEarly(full.begin(), full.end() - 2);

    CComPtr<IStream> spFull = StreamFrom(full);
    CComPtr<IStream> spNoTerminator = StreamFrom(noTerminator);
    CComPtr<IStream> spEndsEarly = StreamFrom(endsEarly);
    const SIZE_T cbBefore = CommittedBytes();
    const LARGE_INTEGER liStart = {};
    for (int i = 0; i < 300; ++i)
    {
        // Each allocates a 1 MiB string: the failures must free it, the success the old one.
        for (IStream* pStm : {spNoTerminator.p, spEndsEarly.p, spFull.p})
        {
            ASSERT_EQ(pStm->Seek(liStart, STREAM_SEEK_SET, nullptr), S_OK);
            m_spTarget->Load(pStm);
        }
        ASSERT_EQ(m_pTarget->m_part.m_cbsLabel.Length(), cbString / 2 - 1);
    }
    const SIZE_T cbAfter = CommittedBytes();
    EXPECT_LT(cbAfter, cbBefore + 64 * 1024 * 1024) << "before " << cbBefore << ", after " << cbAfter;
}
}
