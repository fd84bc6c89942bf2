// The media sample as IMediaSample2 users see it: times, media times, flags, length,
// media type and the property block. Samples come from the system's allocator.
#include "memory/MemoryTestSupport.h"

#include <string.h>

using memtest::MemoryTest;

namespace
{
const LONG kBufferSize = 256;

CMType AudioType(DWORD dwRate)
{
    CMType mt;
    EXPECT_EQ(CMTHelp::MTCreatePCM(mt, dwRate, 2, 16, 0xFFFFFFFF), S_OK);
    return mt;
}

bool SameType(const AM_MEDIA_TYPE* a, const AM_MEDIA_TYPE* b)
{
    return a != nullptr && b != nullptr && IsEqualGUID(a->majortype, b->majortype) &&
           IsEqualGUID(a->subtype, b->subtype) && a->cbFormat == b->cbFormat &&
           memcmp(a->pbFormat, b->pbFormat, a->cbFormat) == 0;
}

class SampleTest : public MemoryTest
{
protected:
    void SetUp() override
    {
        MemoryTest::SetUp();
        m_spAlloc = memtest::NewAllocator(2, kBufferSize, true);
        ASSERT_TRUE(m_spAlloc);
        ASSERT_EQ(m_spAlloc->GetBuffer(&m_spSample, nullptr, nullptr, 0), S_OK);
        m_spSample2 = m_spSample;
        ASSERT_TRUE(m_spSample2);
    }
    void TearDown() override
    {
        m_spSample2.Release();
        m_spSample.Release();
        if (m_spAlloc)
        {
            EXPECT_EQ(m_spAlloc->Decommit(), S_OK);
        }
        m_spAlloc.Release();
        MemoryTest::TearDown();
    }

    AM_SAMPLE2_PROPERTIES Props()
    {
        AM_SAMPLE2_PROPERTIES props = {};
        EXPECT_EQ(m_spSample2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)), S_OK);
        return props;
    }
    HRESULT SetProps(const AM_SAMPLE2_PROPERTIES& props, DWORD cb = sizeof(AM_SAMPLE2_PROPERTIES))
    {
        return m_spSample2->SetProperties(cb, reinterpret_cast<const BYTE*>(&props));
    }

    CComPtr<IMemAllocator> m_spAlloc;
    CComPtr<IMediaSample> m_spSample;
    CComQIPtr<IMediaSample2> m_spSample2;
};

// ---------------------------------------------------------------- buffer and identity

TEST_F(SampleTest, WindowOntoOneBufferOfTheAllocator)
{
    BYTE* pBuffer = nullptr;
    EXPECT_EQ(m_spSample->GetPointer(&pBuffer), S_OK);
    ASSERT_NE(pBuffer, nullptr);
    EXPECT_EQ(m_spSample->GetSize(), kBufferSize);
    memset(pBuffer, 0x5A, kBufferSize);
    EXPECT_EQ(m_spSample->GetPointer(nullptr), E_POINTER);

    CComPtr<IUnknown> spUnk;
    ASSERT_EQ(m_spSample->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&spUnk)), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(spUnk), static_cast<IUnknown*>(m_spSample.p));
    CComQIPtr<IMemAllocator> spNot(m_spSample);
    EXPECT_FALSE(spNot);

    CComPtr<IMediaSample> spOther;
    ASSERT_EQ(m_spAlloc->GetBuffer(&spOther, nullptr, nullptr, 0), S_OK);
    BYTE* pOther = nullptr;
    ASSERT_EQ(spOther->GetPointer(&pOther), S_OK);
    EXPECT_GE(pOther > pBuffer ? pOther - pBuffer : pBuffer - pOther, kBufferSize) << "buffers never overlap";
}

TEST_F(SampleTest, ActualLengthIsHeldToTheBuffer)
{
    EXPECT_EQ(m_spSample->GetActualDataLength(), 0);
    EXPECT_EQ(m_spSample->SetActualDataLength(kBufferSize), S_OK);
    EXPECT_EQ(m_spSample->GetActualDataLength(), kBufferSize);
    EXPECT_EQ(m_spSample->SetActualDataLength(kBufferSize + 1), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(m_spSample->SetActualDataLength(-1), E_INVALIDARG);
    EXPECT_EQ(m_spSample->GetActualDataLength(), kBufferSize) << "a refused length keeps the old one";
    EXPECT_EQ(m_spSample->SetActualDataLength(0), S_OK);
    EXPECT_EQ(m_spSample->GetActualDataLength(), 0);
}

// A sample is never reused: the next one over the same buffer starts from zero.
TEST_F(SampleTest, NoStateSurvivesIntoTheNextSampleOverTheSameBuffer)
{
    BYTE* pBuffer = nullptr;
    m_spSample->GetPointer(&pBuffer);
    REFERENCE_TIME tS = 10, tE = 20;
    LONGLONG mS = 1, mE = 2;
    m_spSample->SetTime(&tS, &tE);
    m_spSample->SetMediaTime(&mS, &mE);
    m_spSample->SetSyncPoint(TRUE);
    m_spSample->SetPreroll(TRUE);
    m_spSample->SetDiscontinuity(TRUE);
    m_spSample->SetActualDataLength(7);
    CMType mt = AudioType(48000);
    m_spSample->SetMediaType(&mt);
    AM_SAMPLE2_PROPERTIES props = Props();
    props.dwTypeSpecificFlags = 0x77;
    props.dwStreamId = 0x99;
    ASSERT_EQ(SetProps(props), S_OK);
    m_spSample2.Release();
    m_spSample.Release();

    ASSERT_EQ(m_spAlloc->GetBuffer(&m_spSample, nullptr, nullptr, 0), S_OK);
    m_spSample2 = m_spSample;
    BYTE* pAgain = nullptr;
    m_spSample->GetPointer(&pAgain);
    EXPECT_EQ(pAgain, pBuffer) << "the last returned buffer goes out first";
    AM_SAMPLE2_PROPERTIES fresh = Props();
    EXPECT_EQ(fresh.dwTypeSpecificFlags, 0u);
    EXPECT_EQ(fresh.dwSampleFlags, 0u);
    EXPECT_EQ(fresh.lActual, 0);
    EXPECT_EQ(fresh.tStart, 0);
    EXPECT_EQ(fresh.tStop, 0);
    EXPECT_EQ(fresh.dwStreamId, 0u);
    EXPECT_EQ(fresh.pMediaType, nullptr);
    EXPECT_EQ(m_spSample->GetMediaTime(&mS, &mE), VFW_E_MEDIA_TIME_NOT_SET);
}

// ---------------------------------------------------------------- times

struct TimeCase
{
    const char* pszName;
    bool bStart;
    REFERENCE_TIME tS;
    bool bEnd;
    REFERENCE_TIME tE;
    HRESULT hrSet;
    HRESULT hrGet;
    REFERENCE_TIME tGotS;
    REFERENCE_TIME tGotE;
};

void PrintTo(const TimeCase& c, std::ostream* os) { *os << c.pszName; }

// Each case starts from a sample holding start 1 and stop 2.
const TimeCase kTimeCases[] = {
    {"StartAndStop", true, 10, true, 20, S_OK, S_OK, 10, 20},
    {"EqualTimes", true, 10, true, 10, S_OK, S_OK, 10, 10},
    {"NegativeTimes", true, -30, true, -20, S_OK, S_OK, -30, -20},
    {"StartOnly", true, 10, false, 0, S_OK, VFW_S_NO_STOP_TIME, 10, 11},
    {"Neither", false, 0, false, 0, S_OK, VFW_E_SAMPLE_TIME_NOT_SET, 0, 0},
    {"StopBeforeStartChangesNothing", true, 20, true, 10, E_INVALIDARG, S_OK, 1, 2},
};

class SampleTimeTest : public SampleTest, public ::testing::WithParamInterface<TimeCase>
{
};

TEST_P(SampleTimeTest, SetTimeThenGetTime)
{
    const TimeCase& c = GetParam();
    REFERENCE_TIME t1 = 1, t2 = 2;
    ASSERT_EQ(m_spSample->SetTime(&t1, &t2), S_OK);
    REFERENCE_TIME tS = c.tS, tE = c.tE;
    EXPECT_EQ(m_spSample->SetTime(c.bStart ? &tS : nullptr, c.bEnd ? &tE : nullptr), c.hrSet);
    REFERENCE_TIME tGotS = -99, tGotE = -99;
    EXPECT_EQ(m_spSample->GetTime(&tGotS, &tGotE), c.hrGet);
    if (SUCCEEDED(c.hrGet))
    {
        EXPECT_EQ(tGotS, c.tGotS);
        EXPECT_EQ(tGotE, c.tGotE);
    }
    else
    {
        EXPECT_EQ(tGotS, -99) << "nothing stored";
    }
    DWORD dwTimeFlags = Props().dwSampleFlags & (AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID);
    DWORD dwExpected = c.hrGet == S_OK ? (AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID)
                       : c.hrGet == VFW_S_NO_STOP_TIME ? DWORD(AM_SAMPLE_TIMEVALID)
                                                       : 0u;
    EXPECT_EQ(dwTimeFlags, dwExpected);
}

INSTANTIATE_TEST_SUITE_P(Table, SampleTimeTest, ::testing::ValuesIn(kTimeCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST_F(SampleTest, TimeQueriesNeedBothPointers)
{
    REFERENCE_TIME t = 0;
    LONGLONG ll = 0;
    EXPECT_EQ(m_spSample->GetTime(&t, nullptr), E_INVALIDARG);
    EXPECT_EQ(m_spSample->GetTime(nullptr, &t), E_INVALIDARG);
    EXPECT_EQ(m_spSample->GetMediaTime(&ll, nullptr), E_INVALIDARG);
    EXPECT_EQ(m_spSample->GetMediaTime(nullptr, &ll), E_INVALIDARG);
    EXPECT_EQ(m_spSample->GetTime(&t, &t), VFW_E_SAMPLE_TIME_NOT_SET) << "a fresh sample has no time";
}

TEST_F(SampleTest, MediaTimesAreKeptAsGivenEvenReversed)
{
    LONGLONG mS = 77, mE = 77;
    EXPECT_EQ(m_spSample->GetMediaTime(&mS, &mE), VFW_E_MEDIA_TIME_NOT_SET);
    EXPECT_EQ(mS, 0);
    EXPECT_EQ(mE, 0);

    LONGLONG s = 10, e = 5;
    EXPECT_EQ(m_spSample->SetMediaTime(&s, &e), S_OK);
    EXPECT_EQ(m_spSample->GetMediaTime(&mS, &mE), S_OK);
    EXPECT_EQ(mS, 10);
    EXPECT_EQ(mE, 5);

    e = 10;
    EXPECT_EQ(m_spSample->SetMediaTime(&s, &e), S_OK);
    EXPECT_EQ(m_spSample->GetMediaTime(&mS, &mE), S_OK);
    EXPECT_EQ(mE, 10);

    LONGLONG other = 99;
    EXPECT_EQ(m_spSample->SetMediaTime(&other, nullptr), E_INVALIDARG);
    EXPECT_EQ(m_spSample->GetMediaTime(&mS, &mE), S_OK);
    EXPECT_EQ(mS, 10) << "a refused pair changes nothing";

    EXPECT_EQ(m_spSample->SetMediaTime(nullptr, nullptr), S_OK);
    EXPECT_EQ(m_spSample->GetMediaTime(&mS, &mE), VFW_E_MEDIA_TIME_NOT_SET);
}

// ---------------------------------------------------------------- flags

struct FlagCase
{
    const char* pszName;
    HRESULT (STDMETHODCALLTYPE IMediaSample::*pfnIs)();
    HRESULT (STDMETHODCALLTYPE IMediaSample::*pfnSet)(BOOL);
    DWORD dwBit;
};

void PrintTo(const FlagCase& c, std::ostream* os) { *os << c.pszName; }

const FlagCase kFlagCases[] = {
    {"SyncPoint", &IMediaSample::IsSyncPoint, &IMediaSample::SetSyncPoint, AM_SAMPLE_SPLICEPOINT},
    {"Preroll", &IMediaSample::IsPreroll, &IMediaSample::SetPreroll, AM_SAMPLE_PREROLL},
    {"Discontinuity", &IMediaSample::IsDiscontinuity, &IMediaSample::SetDiscontinuity, AM_SAMPLE_DATADISCONTINUITY},
};

class SampleFlagTest : public SampleTest, public ::testing::WithParamInterface<FlagCase>
{
};

TEST_P(SampleFlagTest, EachFlagTurnsOnAndOffAloneAndShowsInTheBlock)
{
    const FlagCase& c = GetParam();
    IMediaSample* p = m_spSample;
    EXPECT_EQ((p->*c.pfnIs)(), S_FALSE);
    EXPECT_EQ((p->*c.pfnSet)(42), S_OK) << "any non-zero value sets it";
    EXPECT_EQ((p->*c.pfnIs)(), S_OK);
    EXPECT_EQ(Props().dwSampleFlags, c.dwBit) << "only its own bit";
    for (const FlagCase& other : kFlagCases)
    {
        if (other.dwBit != c.dwBit)
        {
            EXPECT_EQ((p->*other.pfnIs)(), S_FALSE) << other.pszName;
        }
    }
    EXPECT_EQ((p->*c.pfnSet)(FALSE), S_OK);
    EXPECT_EQ((p->*c.pfnIs)(), S_FALSE);
    EXPECT_EQ(Props().dwSampleFlags, 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, SampleFlagTest, ::testing::ValuesIn(kFlagCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------- media type

TEST_F(SampleTest, MediaTypeIsAttachedAsACopyAndHandedOutAsAnotherCopy)
{
    AM_MEDIA_TYPE* pmt = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    EXPECT_EQ(m_spSample->GetMediaType(&pmt), S_FALSE);
    EXPECT_EQ(pmt, nullptr);
    EXPECT_EQ(m_spSample->GetMediaType(nullptr), E_POINTER);

    CMType mt = AudioType(44100);
    EXPECT_EQ(m_spSample->SetMediaType(&mt), S_OK);
    EXPECT_EQ(Props().dwSampleFlags, DWORD(AM_SAMPLE_TYPECHANGED));
    EXPECT_NE(Props().pMediaType, static_cast<AM_MEDIA_TYPE*>(&mt)) << "a copy is attached";
    mt.Clear();  // the sample's copy does not depend on the caller's record

    ASSERT_EQ(m_spSample->GetMediaType(&pmt), S_OK);
    ASSERT_NE(pmt, nullptr);
    EXPECT_NE(pmt, Props().pMediaType) << "the caller gets its own copy";
    CMType expected = AudioType(44100);
    EXPECT_TRUE(SameType(pmt, &expected));
    MTFree(pmt);

    EXPECT_EQ(m_spSample->SetMediaType(nullptr), S_OK);
    EXPECT_EQ(m_spSample->GetMediaType(&pmt), S_FALSE);
    EXPECT_EQ(Props().dwSampleFlags, 0u);
    EXPECT_EQ(Props().pMediaType, nullptr);
    EXPECT_EQ(m_spSample->SetMediaType(nullptr), S_OK) << "detaching twice is harmless";
}

// GetProperties hands out the sample's own record; giving it back must not free it first.
TEST_F(SampleTest, TheSamplesOwnRecordCanBeGivenBack)
{
    CMType mt = AudioType(22050);
    ASSERT_EQ(m_spSample->SetMediaType(&mt), S_OK);
    AM_SAMPLE2_PROPERTIES props = Props();
    ASSERT_NE(props.pMediaType, nullptr);
    EXPECT_EQ(m_spSample->SetMediaType(props.pMediaType), S_OK);
    AM_MEDIA_TYPE* pmt = nullptr;
    ASSERT_EQ(m_spSample->GetMediaType(&pmt), S_OK);
    EXPECT_TRUE(SameType(pmt, &mt));
    MTFree(pmt);

    props = Props();
    EXPECT_EQ(SetProps(props), S_OK) << "a read-modify-write round trip of the whole block";
    ASSERT_EQ(m_spSample->GetMediaType(&pmt), S_OK);
    EXPECT_TRUE(SameType(pmt, &mt));
    MTFree(pmt);
}

// A copy of a media type that cannot be made: its record (the first task-memory block) or
// its format block (the second). Attaching leaves the sample with no type and no type flag
// and its other flags as they were; handing out leaves the attached type. Either way no
// block stays behind (the fixture counts them).
enum ECopyOp
{
    Copy_SetMediaType,
    Copy_SetProperties,
    Copy_GetMediaType,
};

struct CopyFailureCase
{
    const char* pszName;
    ECopyOp eOp;
    int nFailing;  // which allocation from the call on fails
};

void PrintTo(const CopyFailureCase& c, std::ostream* os) { *os << c.pszName; }

const CopyFailureCase kCopyFailures[] = {
    {"SetMediaTypeRecord", Copy_SetMediaType, 1},
    {"SetMediaTypeFormat", Copy_SetMediaType, 2},
    {"SetPropertiesRecord", Copy_SetProperties, 1},
    {"SetPropertiesFormat", Copy_SetProperties, 2},
    {"GetMediaTypeRecord", Copy_GetMediaType, 1},
    {"GetMediaTypeFormat", Copy_GetMediaType, 2},
};

class SampleCopyFailureTest : public SampleTest, public ::testing::WithParamInterface<CopyFailureCase>
{
};

TEST_P(SampleCopyFailureTest, OutOfMemoryLeavesTheSampleConsistent)
{
    const CopyFailureCase& c = GetParam();
    CMType mtOld = AudioType(48000);
    CMType mtNew = AudioType(96000);
    ASSERT_EQ(m_spSample->SetMediaType(&mtOld), S_OK);
    ASSERT_EQ(m_spSample->SetSyncPoint(TRUE), S_OK);
    AM_SAMPLE2_PROPERTIES props = Props();
    props.dwSampleFlags = AM_SAMPLE_TYPECHANGED | AM_SAMPLE_PREROLL;
    props.pMediaType = &mtNew;
    AM_MEDIA_TYPE* pmt = reinterpret_cast<AM_MEDIA_TYPE*>(1);

    CTaskMemorySpy& spy = CTaskMemorySpy::Instance();
    spy.FailAllocation(c.nFailing);
    HRESULT hr = E_UNEXPECTED;
    switch (c.eOp)
    {
    case Copy_SetMediaType:
        hr = m_spSample->SetMediaType(&mtNew);
        break;
    case Copy_SetProperties:
        hr = SetProps(props);
        break;
    case Copy_GetMediaType:
        hr = m_spSample->GetMediaType(&pmt);
        break;
    }
    spy.FailAllocation(0);
    EXPECT_EQ(hr, E_OUTOFMEMORY);

    if (c.eOp == Copy_GetMediaType)
    {
        EXPECT_EQ(pmt, nullptr);
        EXPECT_EQ(Props().dwSampleFlags, DWORD(AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TYPECHANGED));
        ASSERT_EQ(m_spSample->GetMediaType(&pmt), S_OK) << "the attached type stays";
        EXPECT_TRUE(SameType(pmt, &mtOld));
        MTFree(pmt);
        return;
    }
    EXPECT_EQ(Props().dwSampleFlags, DWORD(AM_SAMPLE_SPLICEPOINT)) << "no type flag, the others as they were";
    EXPECT_EQ(Props().pMediaType, nullptr);
    EXPECT_EQ(m_spSample->GetMediaType(&pmt), S_FALSE);
    EXPECT_EQ(pmt, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, SampleCopyFailureTest, ::testing::ValuesIn(kCopyFailures),
                         [](const auto& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------- property block

TEST_F(SampleTest, GetPropertiesWritesAtMostTheBlockAndReportsWhatItWrote)
{
    REFERENCE_TIME tS = 100, tE = 200;
    m_spSample->SetTime(&tS, &tE);
    m_spSample->SetActualDataLength(33);
    BYTE big[200];
    memset(big, 0xCD, sizeof(big));
    ASSERT_EQ(m_spSample2->GetProperties(sizeof(big), big), S_OK);
    auto* pProps = reinterpret_cast<AM_SAMPLE2_PROPERTIES*>(big);
    EXPECT_EQ(pProps->cbData, 64u);
    EXPECT_EQ(pProps->lActual, 33);
    EXPECT_EQ(pProps->tStart, 100);
    EXPECT_EQ(pProps->tStop, 200);
    EXPECT_EQ(pProps->cbBuffer, kBufferSize);
    BYTE* pBuffer = nullptr;
    m_spSample->GetPointer(&pBuffer);
    EXPECT_EQ(pProps->pbBuffer, pBuffer);
    EXPECT_EQ(big[64], 0xCD) << "nothing beyond the block";
    EXPECT_EQ(big[199], 0xCD);

    BYTE small[32];
    memset(small, 0xCD, sizeof(small));
    ASSERT_EQ(m_spSample2->GetProperties(16, small), S_OK);
    EXPECT_EQ(reinterpret_cast<AM_SAMPLE2_PROPERTIES*>(small)->cbData, 16u);
    EXPECT_EQ(reinterpret_cast<AM_SAMPLE2_PROPERTIES*>(small)->lActual, 33);
    EXPECT_EQ(small[16], 0xCD) << "only the 16 bytes asked for";

    EXPECT_EQ(m_spSample2->GetProperties(0, nullptr), S_OK);
    EXPECT_EQ(m_spSample2->GetProperties(16, nullptr), E_POINTER);
}

TEST_F(SampleTest, MediaTimeFlagStaysPrivate)
{
    LONGLONG s = 3, e = 4;
    ASSERT_EQ(m_spSample->SetMediaTime(&s, &e), S_OK);
    AM_SAMPLE2_PROPERTIES props = Props();
    EXPECT_EQ(props.dwSampleFlags & SAMPLE_MEDIATIMEVALID, 0u) << "never reported";
    EXPECT_EQ(SetProps(props), S_OK);
    LONGLONG mS = 0, mE = 0;
    EXPECT_EQ(m_spSample->GetMediaTime(&mS, &mE), S_OK) << "kept across SetProperties";
    props.dwSampleFlags |= SAMPLE_MEDIATIMEVALID;
    EXPECT_EQ(SetProps(props), E_INVALIDARG) << "never accepted";
}

struct SetPropsCase
{
    const char* pszName;
    DWORD cbProperties;
    DWORD cbData;
    DWORD dwFlags;
    LONG lActual;
    bool bOtherBuffer;
    LONG cbBuffer;
    HRESULT hr;
};

void PrintTo(const SetPropsCase& c, std::ostream* os) { *os << c.pszName; }

// Every case writes type flags 0x11, actual length as given, start 500, stop 600, stream
// id 0x22; a refused block changes nothing.
const SetPropsCase kSetPropsCases[] = {
    {"WholeBlock", 64, 64, AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID | AM_SAMPLE_SPLICEPOINT, 10, false, kBufferSize, S_OK},
    {"CallerSizeBelowEight", 7, 64, AM_SAMPLE_SPLICEPOINT, 10, false, 0, S_OK},
    {"BlockSizeBelowEight", 64, 4, AM_SAMPLE_SPLICEPOINT, 10, false, 0, S_OK},
    {"TypeFlagsOnly", 8, 64, AM_SAMPLE_SPLICEPOINT, 10, false, 0, S_OK},
    {"UpToTheStartTime", 24, 64, AM_SAMPLE_PREROLL, 10, false, 0, S_OK},
    {"UpToTheStreamId", 36, 64, AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID, 10, false, 0, S_OK},
    {"BlockLargerThanKnown", 100, 100, 0, 10, false, kBufferSize, E_INVALIDARG},
    {"EndOfStreamFlag", 64, 64, 0x200, 10, false, kBufferSize, E_INVALIDARG},
    {"MediaTimeFlag", 64, 64, SAMPLE_MEDIATIMEVALID, 10, false, kBufferSize, E_INVALIDARG},
    {"StartWithoutStopOnASampleWithoutStop", 24, 64, AM_SAMPLE_TIMEVALID, 10, false, 0, E_INVALIDARG},
    {"ForeignBuffer", 64, 64, 0, 10, true, kBufferSize, E_INVALIDARG},
    {"OtherBufferSize", 64, 64, 0, 10, false, kBufferSize - 1, E_INVALIDARG},
    {"DeclaredSizeBelowLength", 64, 64, 0, 10, false, 0, E_INVALIDARG},
    {"LengthBeyondTheBuffer", 16, 64, 0, kBufferSize + 1, false, 0, E_INVALIDARG},
    {"NegativeLength", 16, 64, 0, -1, false, 0, E_INVALIDARG},
};

class SampleSetPropsTest : public SampleTest, public ::testing::WithParamInterface<SetPropsCase>
{
};

TEST_P(SampleSetPropsTest, FieldsAreTakenWhenTheBytesCoverThem)
{
    const SetPropsCase& c = GetParam();
    REFERENCE_TIME t1 = 1;
    ASSERT_EQ(m_spSample->SetTime(&t1, nullptr), S_OK);  // start only: no stop time
    ASSERT_EQ(m_spSample->SetDiscontinuity(TRUE), S_OK);
    const AM_SAMPLE2_PROPERTIES before = Props();

    BYTE other[16];
    AM_SAMPLE2_PROPERTIES props = {};
    props.cbData = c.cbData;
    props.dwTypeSpecificFlags = 0x11;
    props.dwSampleFlags = c.dwFlags;
    props.lActual = c.lActual;
    props.tStart = 500;
    props.tStop = 600;
    props.dwStreamId = 0x22;
    props.pbBuffer = c.bOtherBuffer ? other : nullptr;
    props.cbBuffer = c.cbBuffer;
    BYTE block[128] = {};
    memcpy(block, &props, sizeof(props));
    EXPECT_EQ(m_spSample2->SetProperties(c.cbProperties, block), c.hr);

    const AM_SAMPLE2_PROPERTIES after = Props();
    const DWORD cb = c.hr == S_OK ? (c.cbProperties < c.cbData ? c.cbProperties : c.cbData) : 0;
    const DWORD cbTaken = c.cbProperties < 8 ? 0 : cb;
    EXPECT_EQ(after.dwTypeSpecificFlags, cbTaken >= 8 ? 0x11u : before.dwTypeSpecificFlags);
    EXPECT_EQ(after.dwSampleFlags, cbTaken >= 12 ? c.dwFlags : before.dwSampleFlags);
    EXPECT_EQ(after.lActual, cbTaken >= 16 ? c.lActual : before.lActual);
    EXPECT_EQ(after.tStart, cbTaken >= 24 ? 500 : before.tStart);
    EXPECT_EQ(after.tStop, cbTaken >= 32 ? 600 : before.tStop);
    EXPECT_EQ(after.dwStreamId, cbTaken >= 36 ? 0x22u : before.dwStreamId);
    EXPECT_EQ(after.pbBuffer, before.pbBuffer) << "never stored";
    EXPECT_EQ(after.cbBuffer, kBufferSize) << "never stored";
}

INSTANTIATE_TEST_SUITE_P(Table, SampleSetPropsTest, ::testing::ValuesIn(kSetPropsCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

TEST_F(SampleTest, TypeChangedFlagAlwaysTellsWhetherATypeIsAttached)
{
    CMType mt = AudioType(8000);
    AM_SAMPLE2_PROPERTIES props = Props();
    props.dwSampleFlags = AM_SAMPLE_TYPECHANGED;
    props.pMediaType = &mt;
    ASSERT_EQ(SetProps(props), S_OK);
    AM_MEDIA_TYPE* pmt = nullptr;
    ASSERT_EQ(m_spSample->GetMediaType(&pmt), S_OK) << "the block's type is attached";
    EXPECT_TRUE(SameType(pmt, &mt));
    EXPECT_NE(pmt, static_cast<AM_MEDIA_TYPE*>(&mt));
    MTFree(pmt);

    // A type without the flag is ignored; the attached one stays and so does the flag.
    CMType other = AudioType(16000);
    props = Props();
    props.dwSampleFlags = 0;
    props.pMediaType = &other;
    ASSERT_EQ(SetProps(props), S_OK);
    EXPECT_EQ(Props().dwSampleFlags, DWORD(AM_SAMPLE_TYPECHANGED));
    ASSERT_EQ(m_spSample->GetMediaType(&pmt), S_OK);
    EXPECT_TRUE(SameType(pmt, &mt));
    MTFree(pmt);

    // A short block cannot remove the type either.
    props.dwSampleFlags = 0;
    ASSERT_EQ(SetProps(props, 36), S_OK);
    EXPECT_EQ(Props().dwSampleFlags, DWORD(AM_SAMPLE_TYPECHANGED));

    // The flag with no type detaches.
    props = Props();
    props.dwSampleFlags = AM_SAMPLE_TYPECHANGED;
    props.pMediaType = nullptr;
    ASSERT_EQ(SetProps(props), S_OK);
    EXPECT_EQ(m_spSample->GetMediaType(&pmt), S_FALSE);
    EXPECT_EQ(Props().dwSampleFlags, 0u);

    // ... and a short block's flag without a type attached is dropped.
    props.dwSampleFlags = AM_SAMPLE_TYPECHANGED;
    ASSERT_EQ(SetProps(props, 36), S_OK);
    EXPECT_EQ(Props().dwSampleFlags, 0u);
}

TEST_F(SampleTest, SetPropertiesNeedsABlockWhenItTakesAnything)
{
    EXPECT_EQ(m_spSample2->SetProperties(7, nullptr), S_OK);
    EXPECT_EQ(m_spSample2->SetProperties(8, nullptr), E_POINTER);
}
}

namespace
{
// Lines at the trace limit or below reach the sink; the per-call entry lines lie above it.
TEST_F(SampleTest, OddTimesAndRefusalsReachTheLog)
{
    testsink::CSinkReader sink(L"testsink.dll");
    ASSERT_TRUE(sink.IsLoaded());
    sink.Clear();
    REFERENCE_TIME tS = 20, tE = 10;
    EXPECT_EQ(m_spSample->SetTime(&tS, &tE), E_INVALIDARG);
    LONGLONG mS = 10, mE = 5;
    EXPECT_EQ(m_spSample->SetMediaTime(&mS, &mE), S_OK);
    mE = 10;
    EXPECT_EQ(m_spSample->SetMediaTime(&mS, &mE), S_OK);
    EXPECT_EQ(m_spSample->SetActualDataLength(kBufferSize + 1), VFW_E_BUFFER_OVERFLOW);
    auto lines = memtest::SinkLines(sink);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], L"###Err### (CMediaSample) IMediaSample::SetTime( tS=0.000'0020, tE=0.000'0010 )\n");
    EXPECT_EQ(lines[1], L"###Err### (CMediaSample) SetMediaTime(): *pTimeEnd=5 < *pTimeStart=10\n");
    EXPECT_EQ(lines[2], L"### (CMediaSample) SetMediaTime(): *pTimeEnd == *pTimeStart = 10\n");
    EXPECT_NE(lines[3].find(L"ASSERT( \"Actual sample's data length greater then buffer size\" )"), std::wstring::npos)
        << "the refusal is reported as an assertion";

    sink.Clear();
    CMType mt = AudioType(48000);
    EXPECT_EQ(m_spSample->SetMediaType(&mt), S_OK);
    lines = memtest::SinkLines(sink);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"(CMediaSample) IMediaSample::SetMediaType()\n");
    EXPECT_EQ(lines[1].rfind(L"MT: ", 0), 0u) << "followed by the type's dump";
    sink.Clear();
    EXPECT_EQ(m_spSample->SetMediaType(nullptr), S_OK);
    EXPECT_EQ(memtest::SinkLines(sink), std::vector<std::wstring>{L"(CMediaSample) IMediaSample::SetMediaType( NULL )\n"});
    sink.Clear();
    EXPECT_EQ(m_spSample->SetMediaType(nullptr), S_OK);
    EXPECT_TRUE(memtest::SinkLines(sink).empty()) << "nothing to detach, nothing written";
}
}
