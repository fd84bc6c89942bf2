// Media-type records: every block of task memory and every owner reference is accounted for.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/DSTypes.h"
#include "types/AssertionLog.h"
#include "types/CountingUnknown.h"
#include "types/TaskMemoryTest.h"

namespace
{
const BYTE kFormat[24] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};

bool SameBytes(const void* a, const void* b, size_t cb)
{
    return std::memcmp(a, b, cb) == 0;
}

void ExpectEmptyRecord(const AM_MEDIA_TYPE& mt, const GUID& major, const GUID& sub)
{
    EXPECT_EQ(mt.majortype, major);
    EXPECT_EQ(mt.subtype, sub);
    EXPECT_EQ(mt.bFixedSizeSamples, TRUE);
    EXPECT_EQ(mt.bTemporalCompression, FALSE);
    EXPECT_EQ(mt.lSampleSize, 1u);
    EXPECT_EQ(mt.formattype, GUID_NULL);
    EXPECT_EQ(mt.pUnk, nullptr);
    EXPECT_EQ(mt.cbFormat, 0u);
    EXPECT_EQ(mt.pbFormat, nullptr);
}

// Every test also ends with the owner object back at the test's own single reference.
class MediaTypeOwnership : public CTaskMemoryTest
{
protected:
    void TearDown() override
    {
        CTaskMemoryTest::TearDown();
        EXPECT_EQ(m_unk.References(), 1) << "owner references leaked or over-released";
    }

    // An audio record with a copy of kFormat and a counted owner reference.
    void Fill(CMType& mt, IUnknown* pUnk, ULONG cb = sizeof(kFormat))
    {
        ASSERT_EQ(mt.Set(&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM, &FORMAT_WaveFormatEx, cb, kFormat), S_OK);
        mt.lSampleSize = 4;
        mt.bTemporalCompression = TRUE;
        mt.pUnk = pUnk;
        if (pUnk != nullptr)
            pUnk->AddRef();
    }

    CCountingUnknown m_unk;
};

TEST_F(MediaTypeOwnership, InitMakesTheEmptyRecordWithoutFreeingWhatItHeld)
{
    AM_MEDIA_TYPE mt;
    std::memset(&mt, 0xCD, sizeof(mt));
    BYTE* pb = MTAllocFormat(8);
    mt.pbFormat = pb;
    mt.pUnk = &m_unk;
    MTInit(&mt, &MEDIATYPE_Audio, &MEDIASUBTYPE_PCM);
    ExpectEmptyRecord(mt, MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
    EXPECT_EQ(Spy().LiveBlocks(), 1u);
    EXPECT_EQ(m_unk.References(), 1);
    CoTaskMemFree(pb);

    MTInit(&mt);
    ExpectEmptyRecord(mt, GUID_NULL, GUID_NULL);
}

TEST_F(MediaTypeOwnership, AllocFormatCopiesOrZeroFills)
{
    BYTE* pCopy = MTAllocFormat(sizeof(kFormat), kFormat);
    ASSERT_NE(pCopy, nullptr);
    EXPECT_TRUE(SameBytes(pCopy, kFormat, sizeof(kFormat)));
    BYTE* pZero = MTAllocFormat(40);
    ASSERT_NE(pZero, nullptr);
    const BYTE zero[40] = {};
    EXPECT_TRUE(SameBytes(pZero, zero, sizeof(zero)));
    EXPECT_EQ(Spy().LiveBlocks(), 2u);
    CoTaskMemFree(pCopy);
    CoTaskMemFree(pZero);
}

TEST_F(MediaTypeOwnership, AllocFormatOfNothingOrWithoutMemoryIsNull)
{
    EXPECT_EQ(MTAllocFormat(0, kFormat), nullptr);
    EXPECT_EQ(Spy().Allocations(), 0u);
    Spy().FailAllocation(1);
    EXPECT_EQ(MTAllocFormat(16, kFormat), nullptr);
}

TEST_F(MediaTypeOwnership, CopyIsDeepAndCountsTheOwner)
{
    CMType src;
    Fill(src, &m_unk);
    AM_MEDIA_TYPE dst;
    std::memset(&dst, 0xCD, sizeof(dst));
    ASSERT_EQ(MTCopy(&dst, &src), S_OK);
    EXPECT_EQ(m_unk.References(), 3);
    ASSERT_NE(dst.pbFormat, nullptr);
    EXPECT_NE(dst.pbFormat, src.pbFormat);
    EXPECT_TRUE(SameBytes(dst.pbFormat, kFormat, sizeof(kFormat)));
    AM_MEDIA_TYPE expected = src;
    expected.pbFormat = dst.pbFormat;
    EXPECT_TRUE(SameBytes(&dst, &expected, sizeof(dst)));
    MTReset(&dst);
    EXPECT_EQ(m_unk.References(), 2);
}

TEST_F(MediaTypeOwnership, CopyOfARecordWithoutBlockAllocatesNothing)
{
    CMType src(&MEDIATYPE_Audio);
    CMType dst;
    EXPECT_EQ(dst.Assign(&src), S_OK);
    EXPECT_EQ(Spy().Allocations(), 0u);
    EXPECT_EQ(dst.majortype, MEDIATYPE_Audio);
    BYTE* pb = reinterpret_cast<BYTE*>(1);
    EXPECT_EQ(MTCopyFormat(&src, &pb), S_OK);
    EXPECT_EQ(pb, nullptr);
}

TEST_F(MediaTypeOwnership, DupAndFreeAccountForRecordBlockAndOwner)
{
    CMType src;
    Fill(src, &m_unk);
    AM_MEDIA_TYPE* pmt = MTDup(&src);
    ASSERT_NE(pmt, nullptr);
    EXPECT_EQ(Spy().LiveBlocks(), 3u);
    EXPECT_EQ(m_unk.References(), 3);
    EXPECT_TRUE(SameBytes(pmt->pbFormat, kFormat, sizeof(kFormat)));
    EXPECT_EQ(pmt->lSampleSize, 4u);
    MTFree(pmt);
    EXPECT_EQ(Spy().LiveBlocks(), 1u);
    EXPECT_EQ(m_unk.References(), 2);
    EXPECT_EQ(MTDup(nullptr), nullptr);
}

TEST_F(MediaTypeOwnership, ResetFreesAndReleasesThenInits)
{
    CMType mt;
    Fill(mt, &m_unk);
    MTReset(&mt, &MEDIATYPE_Video);
    ExpectEmptyRecord(mt, MEDIATYPE_Video, GUID_NULL);
    EXPECT_EQ(Spy().LiveBlocks(), 0u);
    EXPECT_EQ(m_unk.References(), 1);
    MTReset(nullptr);
    MTFree(nullptr);
}

TEST_F(MediaTypeOwnership, CopyConstructionAndDestruction)
{
    {
        CMType src;
        Fill(src, &m_unk);
        CMType copy(src);
        EXPECT_EQ(m_unk.References(), 3);
        EXPECT_NE(copy.pbFormat, src.pbFormat);
        EXPECT_TRUE(SameBytes(copy.pbFormat, kFormat, sizeof(kFormat)));
        EXPECT_EQ(copy.majortype, MEDIATYPE_Audio);
        EXPECT_EQ(copy.bTemporalCompression, TRUE);
        EXPECT_EQ(Spy().LiveBlocks(), 2u);
    }
    EXPECT_EQ(m_unk.References(), 1);
}

TEST_F(MediaTypeOwnership, AssignmentReplacesBlockAndOwner)
{
    CCountingUnknown unkOld;
    CMType dst;
    Fill(dst, &unkOld, 8);
    CMType src;
    Fill(src, &m_unk);
    ASSERT_EQ(dst.Assign(&src), S_OK);
    EXPECT_EQ(unkOld.References(), 1);
    EXPECT_EQ(m_unk.References(), 3);
    EXPECT_EQ(dst.cbFormat, sizeof(kFormat));
    EXPECT_TRUE(SameBytes(dst.pbFormat, kFormat, sizeof(kFormat)));
    EXPECT_EQ(Spy().LiveBlocks(), 2u);
    dst = static_cast<const AM_MEDIA_TYPE*>(nullptr);
    EXPECT_EQ(m_unk.References(), 2);
}

TEST_F(MediaTypeOwnership, AssignmentBetweenRecordsSharingTheOwner)
{
    CMType a;
    Fill(a, &m_unk);
    CMType b;
    Fill(b, &m_unk, 8);
    b = a;
    EXPECT_EQ(m_unk.References(), 3);
    EXPECT_EQ(b.cbFormat, sizeof(kFormat));
    // A raw alias of a's own record holds no reference of its own: the owner must gain its new
    // reference before the old one goes, and the block must be copied before a's is freed.
    b.Clear();
    AM_MEDIA_TYPE alias = a;
    m_unk.WatchLowest();
    ASSERT_EQ(a.Assign(&alias), S_OK);
    EXPECT_NE(a.pbFormat, alias.pbFormat);
    EXPECT_TRUE(SameBytes(a.pbFormat, kFormat, sizeof(kFormat)));
    EXPECT_EQ(m_unk.References(), 2);
    EXPECT_EQ(m_unk.LowestReferences(), 2);
}

TEST_F(MediaTypeOwnership, SelfAssignmentChangesNothing)
{
    CMType mt;
    Fill(mt, &m_unk);
    BYTE* pb = mt.pbFormat;
    CMType& same = mt;
    mt = same;
    EXPECT_EQ(mt.Assign(&mt), S_OK);
    EXPECT_EQ(mt.pbFormat, pb);
    EXPECT_EQ(m_unk.References(), 2);
    EXPECT_EQ(Spy().Allocations(), 1u);
}

TEST_F(MediaTypeOwnership, NullAssignmentClears)
{
    CMType mt;
    Fill(mt, &m_unk);
    EXPECT_EQ(mt.Assign(nullptr), S_OK);
    ExpectEmptyRecord(mt, GUID_NULL, GUID_NULL);
    EXPECT_FALSE(mt.IsValid());
}

TEST_F(MediaTypeOwnership, SetReplacesTheRecord)
{
    CMType mt;
    Fill(mt, &m_unk);
    ASSERT_EQ(mt.Set(&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, &FORMAT_VideoInfo, 12, nullptr), S_OK);
    EXPECT_EQ(m_unk.References(), 1);
    EXPECT_EQ(mt.pUnk, nullptr);
    EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB24);
    EXPECT_EQ(mt.formattype, FORMAT_VideoInfo);
    EXPECT_EQ(mt.bFixedSizeSamples, TRUE);
    EXPECT_EQ(mt.bTemporalCompression, FALSE);
    EXPECT_EQ(mt.lSampleSize, 1u);
    ASSERT_EQ(mt.cbFormat, 12u);
    const BYTE zero[12] = {};
    EXPECT_TRUE(SameBytes(mt.pbFormat, zero, sizeof(zero)));
    EXPECT_EQ(Spy().LiveBlocks(), 1u);

    ASSERT_EQ(mt.Set(&MEDIATYPE_Audio, &GUID_NULL, &FORMAT_None, 0, kFormat), S_OK);
    EXPECT_EQ(mt.pbFormat, nullptr);
    EXPECT_EQ(mt.cbFormat, 0u);
    EXPECT_EQ(Spy().LiveBlocks(), 0u);
}

TEST_F(MediaTypeOwnership, FailedSetLeavesTheObjectUnchanged)
{
    CMType mt;
    Fill(mt, &m_unk);
    const AM_MEDIA_TYPE before = mt;
    Spy().FailAllocation(1);
    EXPECT_EQ(mt.Set(&MEDIATYPE_Video, &GUID_NULL, &FORMAT_None, 12, nullptr), E_OUTOFMEMORY);
    EXPECT_TRUE(SameBytes(&mt, &before, sizeof(before)));
    EXPECT_EQ(m_unk.References(), 2);
}

TEST_F(MediaTypeOwnership, CopyToHandsOutARecordTheCallerFrees)
{
    CMType mt;
    Fill(mt, &m_unk);
    EXPECT_EQ(mt.CopyTo(nullptr), E_POINTER);
    AM_MEDIA_TYPE* pmt = nullptr;
    ASSERT_EQ(mt.CopyTo(&pmt), S_OK);
    ASSERT_NE(pmt, nullptr);
    EXPECT_EQ(m_unk.References(), 3);
    EXPECT_TRUE(SameBytes(pmt->pbFormat, kFormat, sizeof(kFormat)));
    MTFree(pmt);
}

TEST_F(MediaTypeOwnership, WaveFormatIsTheRecordsOwnWholeBlock)
{
    CMType mt;
    EXPECT_EQ(mt.GetWaveFormat(), nullptr);
    ASSERT_EQ(CMTHelp::MTCreatePCMEx(mt, 48000, 2, 16, 16, 0), S_OK);
    EXPECT_EQ(mt.GetWaveFormat(), reinterpret_cast<WAVEFORMATEX*>(mt.pbFormat));
    mt.formattype = FORMAT_VideoInfo;
    EXPECT_EQ(mt.GetWaveFormat(), nullptr);
    // A block shorter than a WAVEFORMATEX is not handed out to be read past its end.
    ASSERT_EQ(mt.Set(&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM, &FORMAT_WaveFormatEx, 14, kFormat), S_OK);
    EXPECT_EQ(mt.GetWaveFormat(), nullptr);
}

// Sources whose copy fails, and how.
enum class EBadSource
{
    BlockWithoutSize,      // pbFormat set, cbFormat 0
    SizeWithoutBlock,      // pbFormat null, cbFormat 4
    NoMemoryForTheBlock,   // a sound record; the block's allocation fails
};

struct CFailedCopyCase
{
    const char* pszName;
    EBadSource eSource;
    HRESULT hrCopy;
};

class FailedCopy : public MediaTypeOwnership, public testing::WithParamInterface<CFailedCopyCase>
{
protected:
    // Makes m_src the bad record; arms the allocation failure when that is the fault.
    void Arm()
    {
        switch (GetParam().eSource)
        {
        case EBadSource::BlockWithoutSize:
            m_src.pbFormat = m_abStack;
            m_src.cbFormat = 0;
            break;
        case EBadSource::SizeWithoutBlock:
            m_src.pbFormat = nullptr;
            m_src.cbFormat = 4;
            break;
        case EBadSource::NoMemoryForTheBlock:
            m_src.pbFormat = m_abStack;
            m_src.cbFormat = sizeof(m_abStack);
            Spy().FailAllocation(1);
            break;
        }
    }
    void SetUp() override
    {
        MediaTypeOwnership::SetUp();
        m_src.pUnk = &m_unk;   // not counted: the copies under test must not keep it
    }
    void TearDown() override
    {
        // m_src owns none of what it points at.
        m_src.pbFormat = nullptr;
        m_src.cbFormat = 0;
        m_src.pUnk = nullptr;
        MediaTypeOwnership::TearDown();
    }

    BYTE m_abStack[8] = {};
    CMType m_src{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM};
};

TEST_P(FailedCopy, FormatCopyReportsAndYieldsNull)
{
    Arm();
    BYTE* pb = m_abStack;
    EXPECT_EQ(MTCopyFormat(&m_src, &pb), GetParam().hrCopy);
    EXPECT_EQ(pb, nullptr);
}

TEST_P(FailedCopy, CopyLeavesTheTargetUntouched)
{
    AM_MEDIA_TYPE dst;
    std::memset(&dst, 0xCD, sizeof(dst));
    const AM_MEDIA_TYPE before = dst;
    Arm();
    EXPECT_EQ(MTCopy(&dst, &m_src), GetParam().hrCopy);
    EXPECT_TRUE(SameBytes(&dst, &before, sizeof(dst)));
    EXPECT_EQ(m_unk.References(), 1);
}

TEST_P(FailedCopy, AssignmentLeavesTheObjectUnchanged)
{
    CCountingUnknown unkOwn;
    CMType mt;
    Fill(mt, &unkOwn);
    const AM_MEDIA_TYPE before = mt;
    Arm();
    EXPECT_EQ(mt.Assign(&m_src), GetParam().hrCopy);
    EXPECT_TRUE(SameBytes(&mt, &before, sizeof(before)));
    EXPECT_EQ(unkOwn.References(), 2);
    EXPECT_EQ(m_unk.References(), 1);
}

TEST_P(FailedCopy, DuplicatesAreNullAndFreedAgain)
{
    Arm();
    EXPECT_EQ(MTDup(&m_src), nullptr);
    Arm();
    AM_MEDIA_TYPE* pOut = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(m_src.CopyTo(&pOut), E_FAIL);
    EXPECT_EQ(pOut, nullptr);
    EXPECT_EQ(m_unk.References(), 1);
}

TEST_P(FailedCopy, CopyConstructionGivesTheEmptyRecord)
{
    Arm();
    CMType copy(m_src);
    ExpectEmptyRecord(copy, GUID_NULL, GUID_NULL);
}

INSTANTIATE_TEST_SUITE_P(Sources, FailedCopy,
                         testing::Values(CFailedCopyCase{"BlockWithoutSize", EBadSource::BlockWithoutSize, E_UNEXPECTED},
                                         CFailedCopyCase{"SizeWithoutBlock", EBadSource::SizeWithoutBlock, E_UNEXPECTED},
                                         CFailedCopyCase{"NoMemory", EBadSource::NoMemoryForTheBlock, E_OUTOFMEMORY}),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST_F(MediaTypeOwnership, DupFreesItsRecordWhenTheBlockCannotBeHad)
{
    CMType src;
    Fill(src, &m_unk);
    Spy().FailAllocation(1);
    EXPECT_EQ(MTDup(&src), nullptr);
    Spy().FailAllocation(2);
    EXPECT_EQ(MTDup(&src), nullptr);
    EXPECT_EQ(Spy().LiveBlocks(), 1u);
    EXPECT_EQ(m_unk.References(), 2);
}

TEST_F(MediaTypeOwnership, ArgumentChecks)
{
    BYTE* pb = nullptr;
    EXPECT_EQ(MTCopyFormat(nullptr, &pb), E_INVALIDARG);
    CMType mt;
    EXPECT_EQ(MTCopyFormat(&mt, nullptr), E_POINTER);
    EXPECT_EQ(MTCopy(nullptr, &mt), E_INVALIDARG);
    AM_MEDIA_TYPE dst = {};
    EXPECT_EQ(MTCopy(&dst, nullptr), E_INVALIDARG);
}

TEST_F(MediaTypeOwnership, FailuresAreAssertedUnderTheirOwnTexts)
{
    testsink::CSinkReader sink(L"testsink.dll");
    ASSERT_TRUE(sink.IsLoaded());
    sink.Clear();
    BYTE stack[4] = {};
    CMType bad;
    bad.pbFormat = stack;
    CMType copy(bad);
    bad.pbFormat = nullptr;
    bad.cbFormat = 4;
    EXPECT_EQ(MTDup(&bad), nullptr);
    bad.cbFormat = 0;
    Spy().FailAllocation(1);
    EXPECT_EQ(MTAllocFormat(4), nullptr);
    Spy().FailAllocation(1);
    EXPECT_EQ(MTDup(&copy), nullptr);
    EXPECT_EQ(testsink::AssertedConditions(sink, L"DSTypes"),
              (std::vector<std::string>{"pmt->cbFormat != 0", "CMType(const CMType& mt) FAILED", "pmt->cbFormat == 0",
                                        "MTAllocFormat() : CoTaskMemAlloc() == NULL",
                                        "MTDup() : CoTaskMemAlloc() == NULL"}));
}
}
