// The sample property snapshot: Load and Save of every property with every mask, the
// repairs on Load, the in-place pattern of a producer, and the payload copier.
#include "memory/ForeignSample.h"
#include "memory/MemoryTestSupport.h"

#include <string.h>

using memtest::CForeignSample;
using memtest::MemoryTest;
using memtest::NewAllocator;

namespace
{
const LONG kSize = 128;

class SnapshotTest : public MemoryTest
{
protected:
    void SetUp() override
    {
        MemoryTest::SetUp();
        m_spAlloc = NewAllocator(4, kSize, true);
        ASSERT_TRUE(m_spAlloc);
        m_spSrc = NewSample();
        m_spDst = NewSample();
        ASSERT_TRUE(m_spSrc && m_spDst);
    }
    void TearDown() override
    {
        m_spSrc.Release();
        m_spDst.Release();
        if (m_spAlloc)
            m_spAlloc->Decommit();
        m_spAlloc.Release();
        MemoryTest::TearDown();
    }
    CComPtr<IMediaSample> NewSample()
    {
        CComPtr<IMediaSample> sp;
        EXPECT_EQ(m_spAlloc->GetBuffer(&sp, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
        return sp;
    }
    static AM_SAMPLE2_PROPERTIES Props(IMediaSample* p)
    {
        AM_SAMPLE2_PROPERTIES props = {};
        CComQIPtr<IMediaSample2>(p)->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props));
        return props;
    }
    static BYTE* Buffer(IMediaSample* p)
    {
        BYTE* pb = nullptr;
        p->GetPointer(&pb);
        return pb;
    }

    CComPtr<IMemAllocator> m_spAlloc;
    CComPtr<IMediaSample> m_spSrc;
    CComPtr<IMediaSample> m_spDst;
};

// ---------------------------------------------------------------- one property at a time

CMType TestType()
{
    CMType mt;
    EXPECT_EQ(CMTHelp::MTCreatePCM(mt, 32000, 3, 24, 0xFFFFFFFF), S_OK);
    return mt;
}

// Gives the source sample a distinctive value of one property.
void SetTimes(IMediaSample* p)
{
    REFERENCE_TIME tS = 1000, tE = 2000;
    p->SetTime(&tS, &tE);
}
void SetMediaTimes(IMediaSample* p)
{
    LONGLONG s = 480, e = 960;
    p->SetMediaTime(&s, &e);
}
void SetBlockField(IMediaSample* p, DWORD AM_SAMPLE2_PROPERTIES::*pField, DWORD dwValue)
{
    CComQIPtr<IMediaSample2> sp(p);
    AM_SAMPLE2_PROPERTIES props = {};
    sp->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props));
    props.*pField = dwValue;
    sp->SetProperties(sizeof(props), reinterpret_cast<const BYTE*>(&props));
}

struct PropertyCase
{
    const char* pszName;
    WORD wMask;
    void (*pfnGive)(IMediaSample*);
    bool (*pfnHas)(IMediaSample*);  // whether a sample carries the given value
};

void PrintTo(const PropertyCase& c, std::ostream* os) { *os << c.pszName; }

const PropertyCase kProperties[] = {
    {"Times", PM_TSTART | PM_TSTOP, SetTimes,
     [](IMediaSample* p) {
         REFERENCE_TIME tS = 0, tE = 0;
         return p->GetTime(&tS, &tE) == S_OK && tS == 1000 && tE == 2000;
     }},
    {"MediaTimes", PM_MTIME, SetMediaTimes,
     [](IMediaSample* p) {
         LONGLONG s = 0, e = 0;
         return p->GetMediaTime(&s, &e) == S_OK && s == 480 && e == 960;
     }},
    {"SyncPoint", PM_SYNC, [](IMediaSample* p) { p->SetSyncPoint(TRUE); },
     [](IMediaSample* p) { return p->IsSyncPoint() == S_OK; }},
    {"Preroll", PM_PREROLL, [](IMediaSample* p) { p->SetPreroll(TRUE); },
     [](IMediaSample* p) { return p->IsPreroll() == S_OK; }},
    {"Discontinuity", PM_DISCONT, [](IMediaSample* p) { p->SetDiscontinuity(TRUE); },
     [](IMediaSample* p) { return p->IsDiscontinuity() == S_OK; }},
    {"TypeFlags", PM_TYPEFLAGS,
     [](IMediaSample* p) { SetBlockField(p, &AM_SAMPLE2_PROPERTIES::dwTypeSpecificFlags, 0xABCD); },
     [](IMediaSample* p) {
         AM_SAMPLE2_PROPERTIES props = {};
         CComQIPtr<IMediaSample2>(p)->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props));
         return props.dwTypeSpecificFlags == 0xABCD;
     }},
    {"StreamId", PM_STREAMID, [](IMediaSample* p) { SetBlockField(p, &AM_SAMPLE2_PROPERTIES::dwStreamId, 0x5EED); },
     [](IMediaSample* p) {
         AM_SAMPLE2_PROPERTIES props = {};
         CComQIPtr<IMediaSample2>(p)->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props));
         return props.dwStreamId == 0x5EED;
     }},
    {"MediaType", PM_MTYPE,
     [](IMediaSample* p) {
         CMType mt = TestType();
         p->SetMediaType(&mt);
     },
     [](IMediaSample* p) {
         AM_MEDIA_TYPE* pmt = nullptr;
         bool b = p->GetMediaType(&pmt) == S_OK && pmt->cbFormat == TestType().cbFormat &&
                  memcmp(pmt->pbFormat, TestType().pbFormat, pmt->cbFormat) == 0;
         MTFree(pmt);
         return b;
     }},
    {"LengthAndPayload", PM_BUFF | PM_ACTLEN,
     [](IMediaSample* p) {
         BYTE* pb = nullptr;
         p->GetPointer(&pb);
         for (int i = 0; i < 77; ++i)
             pb[i] = BYTE(i * 3 + 1);
         p->SetActualDataLength(77);
     },
     [](IMediaSample* p) {
         BYTE* pb = nullptr;
         p->GetPointer(&pb);
         for (int i = 0; i < 77; ++i)
             if (pb[i] != BYTE(i * 3 + 1))
                 return false;
         return p->GetActualDataLength() == 77;
     }},
};

class SnapshotPropertyTest : public SnapshotTest, public ::testing::WithParamInterface<PropertyCase>
{
};

// Loaded with its own mask, with 0xFFFF and with its mask among others, every property
// reaches a fresh sample and nothing else does.
TEST_P(SnapshotPropertyTest, RoundTripsWithItsOwnMaskAndWithEveryMask)
{
    const PropertyCase& c = GetParam();
    c.pfnGive(m_spSrc);
    ASSERT_TRUE(c.pfnHas(m_spSrc));
    for (WORD wMask : {c.wMask, WORD(PM_ALL), WORD(c.wMask | PM_SYNC | PM_TSTART)})
    {
        SCOPED_TRACE(wMask);
        CComPtr<IMediaSample> spDst = NewSample();
        const AM_SAMPLE2_PROPERTIES before = Props(spDst);
        CSampleT smp;
        HRESULT hr = smp.Load(m_spSrc, wMask);
        EXPECT_TRUE(hr == S_OK || (hr == S_FALSE && wMask != PM_ALL)) << std::hex << hr;
        EXPECT_TRUE(smp.Has(c.wMask));
        EXPECT_EQ(smp.Save(spDst, c.wMask), S_OK) << "only this property";
        EXPECT_TRUE(c.pfnHas(spDst));
        AM_SAMPLE2_PROPERTIES after = Props(spDst);
        after.dwSampleFlags &= ~DWORD(c.wMask == PM_TSTART + PM_TSTOP ? AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID
                                      : c.wMask == PM_SYNC        ? AM_SAMPLE_SPLICEPOINT
                                      : c.wMask == PM_PREROLL     ? AM_SAMPLE_PREROLL
                                      : c.wMask == PM_DISCONT     ? AM_SAMPLE_DATADISCONTINUITY
                                      : c.wMask == PM_MTYPE       ? AM_SAMPLE_TYPECHANGED
                                                                  : 0);
        EXPECT_EQ(after.dwSampleFlags, before.dwSampleFlags) << "no other flag";
        EXPECT_EQ(after.dwTypeSpecificFlags, c.wMask == PM_TYPEFLAGS ? 0xABCDu : 0u);
        EXPECT_EQ(after.dwStreamId, c.wMask == PM_STREAMID ? 0x5EEDu : 0u);
        EXPECT_EQ(after.lActual, (c.wMask & PM_ACTLEN) ? 77 : 0);
        spDst.Release();
        // Saved with every present property as the streaming loop does.
        spDst = NewSample();
        EXPECT_EQ(smp.Save(spDst, PM_ALL), S_OK);
        EXPECT_TRUE(c.pfnHas(spDst));
    }
}

INSTANTIATE_TEST_SUITE_P(Each, SnapshotPropertyTest, ::testing::ValuesIn(kProperties),
                         [](const auto& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------- load

TEST_F(SnapshotTest, FreshSampleWithTheProducersMask)
{
    CSampleT smp;
    EXPECT_EQ(smp.Load(m_spSrc, 0x1180), S_FALSE) << "no media type to load";
    EXPECT_TRUE(smp.Has(PM_BUFF | PM_TYPEFLAGS));
    EXPECT_FALSE(smp.Has(PM_MTYPE));
    EXPECT_EQ(smp.m_wMask, PM_BUFF | PM_TYPEFLAGS);
    EXPECT_EQ(smp.m_pbBuf, Buffer(m_spSrc));
    EXPECT_EQ(smp.m_cbBuf, kSize);
    EXPECT_EQ(smp.m_pMediaType, nullptr);
}

TEST_F(SnapshotTest, EveryPropertyMaskNeverGivesAPartialResult)
{
    CSampleT smp;
    EXPECT_EQ(smp.Load(m_spSrc, PM_ALL), S_OK);
    EXPECT_EQ(smp.m_wMask, PM_SYNC | PM_PREROLL | PM_DISCONT | PM_TYPEFLAGS | PM_STREAMID | PM_BUFF | PM_ACTLEN)
        << "unset times and no media type are not marked";
    EXPECT_FALSE(smp.m_bSyncPoint);
    EXPECT_EQ(smp.Load(m_spSrc, PM_TSTART), E_FAIL) << "nothing loaded";
    EXPECT_EQ(smp.m_wMask, 0);
}

TEST_F(SnapshotTest, StopTimeNotAfterStartIsRepaired)
{
    REFERENCE_TIME tS = 100, tE = 100;
    ASSERT_EQ(m_spSrc->SetTime(&tS, &tE), S_OK);
    testsink::CSinkReader sink(L"testsink.dll");
    sink.Clear();
    CSampleT smp;
    EXPECT_EQ(smp.Load(m_spSrc, PM_TSTART | PM_TSTOP), S_OK);
    EXPECT_TRUE(smp.Has(PM_TSTART | PM_TSTOP));
    EXPECT_EQ(smp.m_tS, 100);
    EXPECT_EQ(smp.m_tE, 101);
    EXPECT_EQ(memtest::SinkLines(sink), std::vector<std::wstring>{L"### CSampleT::Load(): GetTime(): m_tE==m_tS=0.000'0100\n"});

    ASSERT_EQ(m_spSrc->SetTime(&tS, nullptr), S_OK);
    EXPECT_EQ(smp.Load(m_spSrc, PM_TSTART | PM_TSTOP), S_FALSE);
    EXPECT_TRUE(smp.Has(PM_TSTART));
    EXPECT_FALSE(smp.Has(PM_TSTOP)) << "a start time alone";
    EXPECT_EQ(smp.Load(m_spSrc, PM_TSTART), S_OK);
}

TEST_F(SnapshotTest, LoadedMediaTypeIsTheSnapshotsOwnCopy)
{
    CMType mt = TestType();
    ASSERT_EQ(m_spSrc->SetMediaType(&mt), S_OK);
    CSampleT smp;
    ASSERT_EQ(smp.Load(m_spSrc, PM_MTYPE), S_OK);
    ASSERT_NE(smp.m_pMediaType, nullptr);
    EXPECT_NE(smp.m_pMediaType, Props(m_spSrc).pMediaType);
    ASSERT_EQ(m_spSrc->SetMediaType(nullptr), S_OK);
    EXPECT_EQ(smp.m_pMediaType->cbFormat, mt.cbFormat) << "independent of the sample";
    // Setting the held record itself keeps it intact.
    EXPECT_EQ(smp.SetMediaType(smp.m_pMediaType), S_OK);
    EXPECT_EQ(smp.Save(m_spDst, PM_MTYPE), S_OK);
    AM_MEDIA_TYPE* pmt = nullptr;
    ASSERT_EQ(m_spDst->GetMediaType(&pmt), S_OK);
    EXPECT_EQ(memcmp(pmt->pbFormat, mt.pbFormat, mt.cbFormat), 0);
    MTFree(pmt);
    EXPECT_EQ(smp.SetMediaType(nullptr), S_OK);
    EXPECT_FALSE(smp.Has(PM_MTYPE));
}

TEST_F(SnapshotTest, LoadChecksItsArguments)
{
    CSampleT smp;
    smp.SetActualDataLength(5);
    EXPECT_EQ(smp.Load(nullptr, PM_ALL), E_INVALIDARG);
    EXPECT_EQ(smp.Load(m_spSrc, 0), E_INVALIDARG);
    EXPECT_TRUE(smp.Has(PM_ACTLEN)) << "untouched";
}

// ---------------------------------------------------------------- save

TEST_F(SnapshotTest, StartTimeWithoutStopTime)
{
    CSampleT smp;
    smp.SetTime(5, MINLONGLONG);
    EXPECT_TRUE(smp.Has(PM_TSTART));
    EXPECT_FALSE(smp.Has(PM_TSTOP));
    EXPECT_EQ(smp.Save(m_spDst, PM_ALL), S_OK);
    REFERENCE_TIME tS = 0, tE = 0;
    EXPECT_EQ(m_spDst->GetTime(&tS, &tE), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(tS, 5);
}

TEST_F(SnapshotTest, NothingToSave)
{
    CSampleT smp;
    EXPECT_EQ(smp.Save(m_spDst, PM_ALL), E_FAIL) << "never loaded";
    smp.SetDiscontinuity(TRUE);
    EXPECT_EQ(smp.Save(m_spDst, PM_TSTART | PM_MTYPE), S_FALSE) << "nothing wanted is present";
    EXPECT_EQ(m_spDst->IsDiscontinuity(), S_FALSE);
    EXPECT_EQ(smp.Save(nullptr, PM_ALL), E_INVALIDARG);
    smp.Remove(PM_DISCONT);
    EXPECT_EQ(smp.Save(m_spDst, PM_ALL), E_FAIL);
    EXPECT_TRUE(smp.m_bDiscontinuity) << "Remove keeps the value";
}

TEST_F(SnapshotTest, LengthAloneLeavesThePayload)
{
    memset(Buffer(m_spDst), 0x42, kSize);
    CSampleT smp;
    smp.SetActualDataLength(64);
    EXPECT_EQ(smp.Save(m_spDst, PM_ALL), S_OK);
    EXPECT_EQ(m_spDst->GetActualDataLength(), 64);
    EXPECT_EQ(Buffer(m_spDst)[0], 0x42);
}

TEST_F(SnapshotTest, PayloadIsTestedAgainstTheDestinationBeforeCopying)
{
    CComPtr<IMemAllocator> spSmall = NewAllocator(1, kSize / 2, true);
    CComPtr<IMediaSample> spSmallSample;
    ASSERT_EQ(spSmall->GetBuffer(&spSmallSample, nullptr, nullptr, 0), S_OK);
    memset(Buffer(spSmallSample), 0x11, kSize / 2);
    memset(Buffer(m_spSrc), 0x77, kSize);
    ASSERT_EQ(m_spSrc->SetActualDataLength(kSize), S_OK);

    CSampleT smp;
    ASSERT_EQ(smp.Load(m_spSrc, PM_BUFF | PM_ACTLEN), S_OK);
    EXPECT_EQ(smp.Save(spSmallSample, PM_ALL), E_FAIL) << "does not fit";
    EXPECT_EQ(Buffer(spSmallSample)[0], 0x11) << "nothing copied";
    EXPECT_EQ(spSmallSample->GetActualDataLength(), 0);

    // A length beyond the loaded buffer would read past it.
    smp.SetActualDataLength(kSize + 1);
    EXPECT_EQ(smp.Save(m_spDst, PM_ALL), E_INVALIDARG);
    spSmallSample.Release();
    spSmall->Decommit();
}

// How the producer fills a sample: load, write in place, edit, save in one pass.
TEST_F(SnapshotTest, InPlaceFillOfAFreshSample)
{
    CSampleT smp;
    ASSERT_EQ(smp.Load(m_spDst, 0x1180), S_FALSE);
    for (LONG i = 0; i < 96; ++i)
        smp.m_pbBuf[i] = BYTE(i);
    smp.Remove(PM_BUFF);
    smp.SetActualDataLength(96);
    smp.SetDiscontinuity(TRUE);
    smp.SetMediaTime(4800, 4824);
    smp.SetTime(1000000, 1005000);
    CMType mt = TestType();
    ASSERT_EQ(smp.SetMediaType(&mt), S_OK);
    EXPECT_EQ(smp.Save(m_spDst, PM_ALL), S_OK);

    EXPECT_EQ(m_spDst->GetActualDataLength(), 96);
    EXPECT_EQ(Buffer(m_spDst)[95], 95);
    EXPECT_EQ(m_spDst->IsDiscontinuity(), S_OK);
    LONGLONG s = 0, e = 0;
    EXPECT_EQ(m_spDst->GetMediaTime(&s, &e), S_OK);
    EXPECT_EQ(e - s, 24);
    REFERENCE_TIME tS = 0, tE = 0;
    EXPECT_EQ(m_spDst->GetTime(&tS, &tE), S_OK);
    EXPECT_EQ(tE, 1005000);
    AM_MEDIA_TYPE* pmt = nullptr;
    EXPECT_EQ(m_spDst->GetMediaType(&pmt), S_OK);
    MTFree(pmt);
}

// ---------------------------------------------------------------- copier and mask

TEST_F(SnapshotTest, CopierNeedsALengthForAPayload)
{
    BYTE src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(CSampleCopier::CopyBuffer(m_spDst, src, 8, PM_BUFF), E_INVALIDARG);
    EXPECT_EQ(CSampleCopier::CopyBuffer(m_spDst, nullptr, 8, PM_BUFF | PM_ACTLEN), E_INVALIDARG);
    EXPECT_EQ(CSampleCopier::CopyBuffer(m_spDst, src, -1, PM_ACTLEN), E_INVALIDARG);
    EXPECT_EQ(CSampleCopier::CopyBuffer(m_spDst, src, 8, 0), S_OK) << "nothing selected";
    EXPECT_EQ(m_spDst->GetActualDataLength(), 0);

    EXPECT_EQ(CSampleCopier::CopyBuffer(m_spDst, src, 8, PM_BUFF | PM_ACTLEN), S_OK);
    EXPECT_EQ(memcmp(Buffer(m_spDst), src, 8), 0);
    EXPECT_EQ(m_spDst->GetActualDataLength(), 8);
    EXPECT_EQ(CSampleCopier::CopyBuffer(m_spDst, src, 0, PM_BUFF | PM_ACTLEN), S_OK);
    EXPECT_EQ(m_spDst->GetActualDataLength(), 0) << "length 0 only sets the length";
    EXPECT_EQ(Buffer(m_spDst)[0], 1);
    EXPECT_EQ(CSampleCopier::CopyBuffer(m_spDst, src, kSize + 1, PM_ACTLEN), E_FAIL);
}

TEST(SampleSnapshot, HasNeedsEveryBitAndAtLeastOne)
{
    CSampleT smp;
    EXPECT_FALSE(smp.Has(0));
    smp.SetActualDataLength(1);
    EXPECT_TRUE(smp.Has(PM_ACTLEN));
    EXPECT_FALSE(smp.Has(PM_BUFF | PM_ACTLEN));
    EXPECT_FALSE(smp.Has(0));
    smp.m_wMask |= PM_BUFF;
    EXPECT_TRUE(smp.Has(PM_BUFF | PM_ACTLEN));
    smp.Clear();
    EXPECT_EQ(smp.m_wMask, 0);
    EXPECT_EQ(smp.m_lActual, 0);
}
}

namespace
{
// ---------------------------------------------------------------- foreign samples

struct ForeignLoadCase
{
    const char* pszName;
    CForeignSample::EOp eOp;
    LONG lAnswer;
    WORD wMask;
    HRESULT hr;
    WORD wPresent;  // what the snapshot holds afterwards
};

void PrintTo(const ForeignLoadCase& c, std::ostream* os) { *os << c.pszName; }

// The inner sample holds a start time of 100 and 16 bytes of data.
const ForeignLoadCase kForeignLoads[] = {
    {"FailingQueryStopsTheLoad", CForeignSample::IsSyncPointOp, LONG(E_UNEXPECTED), PM_TSTART | PM_SYNC | PM_ACTLEN,
     E_UNEXPECTED, PM_TSTART},
    {"OddSuccessOfAQueryIsAFailure", CForeignSample::IsPrerollOp, 2, PM_PREROLL, E_FAIL, 0},
    {"MediaTypeClaimedButMissing", CForeignSample::GetMediaTypeNull, 0, PM_MTYPE | PM_ACTLEN, E_FAIL, 0},
    {"LengthBeyondTheBuffer", CForeignSample::GetActualDataLengthOp, kSize + 1, PM_BUFF | PM_ACTLEN, E_FAIL, PM_BUFF},
    {"BufferRefused", CForeignSample::GetPointerOp, LONG(E_UNEXPECTED), PM_BUFF | PM_ACTLEN, S_FALSE, PM_ACTLEN},
    {"NoBufferBehindSuccess", CForeignSample::GetPointerNull, 0, PM_BUFF | PM_ACTLEN, S_FALSE, PM_ACTLEN},
    {"EmptyBuffer", CForeignSample::GetSizeOp, 0, PM_BUFF | PM_ACTLEN, S_FALSE, PM_ACTLEN},
    {"NoSecondInterfaceSkipsItsGroup", CForeignSample::None, 0, PM_TYPEFLAGS | PM_STREAMID, E_FAIL, 0},
    {"NoSecondInterfaceLoadsTheRest", CForeignSample::None, 0, PM_TYPEFLAGS | PM_ACTLEN, S_FALSE, PM_ACTLEN},
};

class ForeignLoadTest : public SnapshotTest, public ::testing::WithParamInterface<ForeignLoadCase>
{
};

TEST_P(ForeignLoadTest, LoadStopsAtTheFirstFailureOrSkipsWhatIsMissing)
{
    const ForeignLoadCase& c = GetParam();
    REFERENCE_TIME tS = 100;
    ASSERT_EQ(m_spSrc->SetTime(&tS, nullptr), S_OK);
    ASSERT_EQ(m_spSrc->SetActualDataLength(16), S_OK);
    CForeignSample foreign(m_spSrc, c.eOp, c.lAnswer);
    CSampleT smp;
    EXPECT_EQ(smp.Load(&foreign, c.wMask), c.hr);
    EXPECT_EQ(smp.m_wMask, c.wPresent);
    if (!smp.Has(PM_BUFF))
    {
        EXPECT_EQ(smp.m_pbBuf, nullptr) << "no dangling buffer pointer";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ForeignLoadTest, ::testing::ValuesIn(kForeignLoads),
                         [](const auto& info) { return std::string(info.param.pszName); });

struct ForeignSaveCase
{
    const char* pszName;
    CForeignSample::EOp eOp;
    LONG lAnswer;
    HRESULT hr;
};

void PrintTo(const ForeignSaveCase& c, std::ostream* os) { *os << c.pszName; }

// The snapshot holds times, media times and a length of 10 (no type flags).
const ForeignSaveCase kForeignSaves[] = {
    {"TimeRefused", CForeignSample::SetTimeOp, LONG(E_UNEXPECTED), E_UNEXPECTED},
    {"OddSuccessOfASetterIsAFailure", CForeignSample::SetMediaTimeOp, LONG(S_FALSE), E_FAIL},
    {"BufferRefused", CForeignSample::GetPointerOp, LONG(E_UNEXPECTED), E_UNEXPECTED},
    {"NoBufferBehindSuccess", CForeignSample::GetPointerNull, 0, E_FAIL},
    {"LengthRefused", CForeignSample::SetActualDataLengthOp, LONG(S_FALSE), E_FAIL},
    {"Accepted", CForeignSample::None, 0, S_OK},
};

class ForeignSaveTest : public SnapshotTest, public ::testing::WithParamInterface<ForeignSaveCase>
{
};

TEST_P(ForeignSaveTest, SaveStopsAtTheFirstFailureWithEarlierStepsApplied)
{
    const ForeignSaveCase& c = GetParam();
    CForeignSample foreign(m_spDst, c.eOp, c.lAnswer);
    CSampleT smp;
    smp.SetTime(300, 400);
    smp.SetMediaTime(30, 40);
    smp.SetActualDataLength(10);
    EXPECT_EQ(smp.Save(&foreign, PM_ALL), c.hr);
    REFERENCE_TIME tS = 0, tE = 0;
    EXPECT_EQ(m_spDst->GetTime(&tS, &tE), c.eOp == CForeignSample::SetTimeOp ? VFW_E_SAMPLE_TIME_NOT_SET : S_OK)
        << "the times are written first";
    EXPECT_EQ(m_spDst->GetActualDataLength(), c.hr == S_OK ? 10 : 0) << "the length is written last";

    smp.m_dwTypeFlags = 1;
    smp.m_wMask |= PM_TYPEFLAGS;
    EXPECT_EQ(smp.Save(&foreign, PM_ALL), E_NOINTERFACE) << "type flags need IMediaSample2";
}

INSTANTIATE_TEST_SUITE_P(Table, ForeignSaveTest, ::testing::ValuesIn(kForeignSaves),
                         [](const auto& info) { return std::string(info.param.pszName); });
}
