// Samples, their lag behind the clock, allocators, the filter behind a pin and delivery
// results as trace lines.
#include "DumpFixture.h"
#include "FakeSample.h"
#include "PlatformFilters.h"
#include "diagnostics/DSParsers.h"
#include "framework/DSAllocators.h"
#include "support/ComPtr.h"

#include <objbase.h>

namespace
{
// Samples come from the system's own allocator; the fake sample stands in only for
// answers that the system's sample never gives.
class SampleDump : public DumpTest
{
protected:
    void SetUp() override
    {
        DumpTest::SetUp();
        ASSERT_EQ(CMemoryAllocator::CreateInstance(&m_spAlloc), S_OK);
        ALLOCATOR_PROPERTIES want = {1, 7680, 1, 0}, got = {};
        ASSERT_EQ(m_spAlloc->SetProperties(&want, &got), S_OK);
        ASSERT_EQ(m_spAlloc->Commit(), S_OK);
        ASSERT_EQ(m_spAlloc->GetBuffer(&m_spSample, nullptr, nullptr, 0), S_OK);
        ASSERT_EQ(m_spSample->GetPointer(&m_pbBuffer), S_OK);
        REFERENCE_TIME tS = 10000000, tE = 10400000;
        LONGLONG mS = 48000, mE = 49920;
        ASSERT_EQ(m_spSample->SetTime(&tS, &tE), S_OK);
        ASSERT_EQ(m_spSample->SetMediaTime(&mS, &mE), S_OK);
        ASSERT_EQ(m_spSample->SetSyncPoint(TRUE), S_OK);
        ASSERT_EQ(m_spSample->SetDiscontinuity(TRUE), S_OK);
        ASSERT_EQ(m_spSample->SetActualDataLength(7000), S_OK);
        CComQIPtr<IMediaSample2> spSample2(m_spSample);
        ASSERT_TRUE(spSample2);
        AM_SAMPLE2_PROPERTIES props = {};
        ASSERT_EQ(spSample2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)), S_OK);
        props.dwTypeSpecificFlags = 0x2;
        props.dwStreamId = 0x7;
        ASSERT_EQ(spSample2->SetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)), S_OK);
    }
    void TearDown() override
    {
        m_spSample.Release();
        if (m_spAlloc)
        {
            m_spAlloc->Decommit();
        }
    }
    // The sample's own trace lines of the preparation are not the dump's.
    void Dump(LPCWSTR pszPrefix, bool bBufferDetails = false)
    {
        m_sink.Clear();
        Debug_Sample(atlTraceGeneral, 8, m_spSample, pszPrefix, bBufferDetails);
    }

    CComPtr<IMemAllocator> m_spAlloc;
    CComPtr<IMediaSample> m_spSample;
    BYTE* m_pbBuffer = nullptr;
};

TEST_F(SampleDump, TimesFlagsPropertiesAndBuffer)
{
    WCHAR szPrefix[NAME_PREFIX_CCH];
    Dump(MakeNamePrefix(L"[Tonewell]", szPrefix, NAME_PREFIX_CCH), true);
    EXPECT_EQ(Lines(), (TextLines{L"[Tonewell]:  tS=1.000  tE=1.040  mS=48 000  mE=49 920 flags={101} TF=0x2 sId=0x7 "
                                  L"al=7000 s=7680 p=0x" + Address(m_pbBuffer) + L"\n"}));
}

TEST_F(SampleDump, MissingTimesShowTheirCodes)
{
    REFERENCE_TIME tS = 10000000;
    ASSERT_EQ(m_spSample->SetTime(&tS, nullptr), S_OK);
    ASSERT_EQ(m_spSample->SetMediaTime(nullptr, nullptr), S_OK);
    ASSERT_EQ(m_spSample->SetSyncPoint(FALSE), S_OK);
    ASSERT_EQ(m_spSample->SetPreroll(TRUE), S_OK);
    ASSERT_EQ(m_spSample->SetDiscontinuity(FALSE), S_OK);
    Dump(nullptr);
    TextLines lines = Lines();
    ASSERT_EQ(m_spSample->SetTime(nullptr, nullptr), S_OK);
    Dump(L"x");
    lines.push_back(Lines().at(0));
    EXPECT_EQ(lines, (TextLines{L"tS=1.000  tE=? (0x40270)  mS/mE=? (0x80040251) flags={010} TF=0x2 sId=0x7\n",
                                L"x tS/tE=? (0x80040249)  mS/mE=? (0x80040251) flags={010} TF=0x2 sId=0x7\n"}));
}

TEST_F(SampleDump, AnswersTheSystemsSampleNeverGives)
{
    CFakeSample* pFake = new CFakeSample;
    pFake->hrTime = VFW_E_SAMPLE_TIME_NOT_SET;
    pFake->hrMediaTime = VFW_E_MEDIA_TIME_NOT_SET;
    pFake->hrDiscontinuity = E_FAIL;  // only S_OK counts as set
    pFake->hrPointer = E_POINTER;
    pFake->cbSize = 100;
    pFake->cbActual = 10;
    pFake->bOffersSample2 = false;
    m_sink.Clear();
    Debug_Sample(atlTraceGeneral, 8, pFake, nullptr, true);
    pFake->bOffersSample2 = true;
    pFake->hrProperties = E_FAIL;
    Debug_Sample(atlTraceGeneral, 8, pFake);
    pFake->hrProperties = S_OK;
    pFake->dwStreamId = 3;
    Debug_Sample(atlTraceGeneral, 8, pFake);
    // Only the properties up to the stream identifier are asked for.
    EXPECT_EQ(pFake->cbPropertiesAsked, 36u);
    pFake->Release();
    Debug_Sample(atlTraceGeneral, 8, nullptr, L"x");
    EXPECT_EQ(Lines(), (TextLines{L"tS/tE=? (0x80040249)  mS/mE=? (0x80040251) flags={000} al=10 s=100 p=? (0x80004003)\n",
                                  L"tS/tE=? (0x80040249)  mS/mE=? (0x80040251) flags={000}\n",
                                  L"tS/tE=? (0x80040249)  mS/mE=? (0x80040251) flags={000} TF=0x0 sId=0x3\n",
                                  L"###Err### x Empty sample pointer\n"}));
}

TEST_F(SampleDump, AttachedMediaTypeIsDumpedAndFreed)
{
    CMType mt;
    ASSERT_EQ(CMTHelp::MTCreatePCM(mt, 48000, 1, 8, 0xFFFFFFFF), S_OK);
    IStream* pOwner = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &pOwner), S_OK);
    mt.pUnk = pOwner;  // the record holds the creator's reference
    ASSERT_EQ(m_spSample->SetMediaType(&mt), S_OK);
    pOwner->AddRef();
    ULONG nBefore = pOwner->Release();
    Dump(L"[S]");
    TextLines lines = Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], L"[S] Media type attached to sample:\n");
    EXPECT_EQ(lines[2], L"MT: ( MEDIATYPE_Audio / MEDIASUBTYPE_PCM / FORMAT_WaveFormatEx ), size=1, cbForm=18, fix:Y, "
                        L"compr:N\n");
    EXPECT_EQ(lines[3], L"MT: @@@@ pUnk = 0x" + Address(pOwner) + L"\n");
    EXPECT_EQ(lines[4].substr(0, 29), L"MT:  WAVEFORMATEX: Tag=0x1, c");
    // The copy that the sample handed out was freed with its owner reference.
    pOwner->AddRef();
    EXPECT_EQ(pOwner->Release(), nBefore);
}

struct LagCase
{
    HRESULT hrSample;
    HRESULT hrClock;
    const wchar_t* pszLine;
};

class SampleLag : public SampleDump, public ::testing::WithParamInterface<LagCase>
{
};

TEST_P(SampleLag, LineForEachOutcomeOfTheTwoTimeQueries)
{
    CFakeClock* pClock = new CFakeClock;
    pClock->tNow = 25000000;
    pClock->hrTime = GetParam().hrClock;
    REFERENCE_TIME tS = 10000000, tE = 10400000;
    // The sample answers S_OK with both times, VFW_S_NO_STOP_TIME with the start only, and
    // VFW_E_SAMPLE_TIME_NOT_SET with none.
    bool bStart = GetParam().hrSample != VFW_E_SAMPLE_TIME_NOT_SET;
    ASSERT_EQ(m_spSample->SetTime(bStart ? &tS : nullptr, GetParam().hrSample == S_OK ? &tE : nullptr), S_OK);
    m_sink.Clear();
    Debug_SampleLag(atlTraceGeneral, 8, m_spSample, 20000000, pClock, L"[T]");
    pClock->Release();
    EXPECT_EQ(Lines(), (TextLines{GetParam().pszLine}));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, SampleLag,
    ::testing::Values(LagCase{S_OK, S_OK, L"[T] Diff=0.500, tS=1.000, tStart=2.000, clock=2.500\n"},
                      LagCase{VFW_S_NO_STOP_TIME, S_FALSE, L"[T] Diff=0.500, tS=1.000, tStart=2.000, clock=2.500 (S_FALSE)\n"},
                      LagCase{VFW_E_SAMPLE_TIME_NOT_SET, S_OK,
                              L"[T] pSample->GetTime()=0x80040249, shift=0.500, clock=2.500, tStart=2.000\n"},
                      LagCase{VFW_E_SAMPLE_TIME_NOT_SET, S_FALSE,
                              L"[T] pSample->GetTime()=0x80040249, shift=0.500, clock=2.500 (S_FALSE), tStart=2.000\n"},
                      LagCase{VFW_E_SAMPLE_TIME_NOT_SET, E_FAIL,
                              L"###Err### [T] pSample->GetTime()=0x80040249, pRefClock->GetTime()=0x80004005\n"},
                      LagCase{S_OK, E_FAIL, L"###Err### [T] pRefClock->GetTime()=0x80004005, tS=1.000, tStart=2.000\n"}));

// Reads a RefTime2Str text back into 100 ns units.
LONGLONG ParseRefTime(const std::wstring& text)
{
    size_t nPoint = text.find(L'.');
    bool bNegative = text[0] == L'-';
    LONGLONG llSeconds = _wtoi64(text.substr(bNegative ? 1 : 0, nPoint - (bNegative ? 1 : 0)).c_str());
    LONGLONG ll = llSeconds * 10000000 + _wtoi64(text.substr(nPoint + 1, 3).c_str()) * 10000;
    if (text.size() > nPoint + 4 && text[nPoint + 4] == L'\'')
        ll += _wtoi64(text.substr(nPoint + 5, 4).c_str());
    return bNegative ? -ll : ll;
}

std::wstring Field(const std::wstring& line, const std::wstring& name)
{
    size_t nStart = line.find(name + L"=") + name.size() + 1;
    return line.substr(nStart, line.find_first_of(L",\n", nStart) - nStart);
}

TEST_F(SampleDump, LagAgainstThePlatformClockIsStartPlusSampleTimeMinusClock)
{
    CComPtr<IReferenceClock> spClock;
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED) >= 0, true);
    ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                               reinterpret_cast<void**>(&spClock)),
              S_OK);
    REFERENCE_TIME tBefore = 0, tAfter = 0;
    spClock->GetTime(&tBefore);
    m_sink.Clear();
    Debug_SampleLag(atlTraceGeneral, 8, m_spSample, tBefore, spClock);
    spClock->GetTime(&tAfter);
    spClock.Release();
    CoUninitialize();
    TextLines lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    LONGLONG llClock = ParseRefTime(Field(lines[0], L"clock"));
    EXPECT_GE(llClock, tBefore);
    EXPECT_LE(llClock, tAfter);
    EXPECT_EQ(ParseRefTime(Field(lines[0], L"tStart")), tBefore);
    EXPECT_EQ(ParseRefTime(Field(lines[0], L"Diff")), tBefore + 10000000 - llClock);
}

TEST_F(SampleDump, LagWithoutSampleOrClock)
{
    m_sink.Clear();
    Debug_SampleLag(atlTraceGeneral, 8, nullptr, 0, nullptr, L"[T]");
    Debug_SampleLag(atlTraceGeneral, 8, m_spSample, 0, nullptr, L"[T]");
    EXPECT_EQ(Lines(), (TextLines{L"###Err### [T] Debug_SampleLag(): Empty pointer to IMediaSample\n",
                              L"[T] Debug_SampleLag(): Reference Clock is not set\n"}));
}

class PlatformObjectDump : public DumpTest
{
protected:
    void SetUp() override
    {
        DumpTest::SetUp();
        ASSERT_GE(CoInitializeEx(nullptr, COINIT_MULTITHREADED), 0);
    }
    void TearDown() override { CoUninitialize(); }

    template <class I>
    CComPtr<I> Create(REFCLSID clsid)
    {
        CComPtr<I> sp;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), reinterpret_cast<void**>(&sp)), S_OK);
        return sp;
    }
    static CComPtr<IPin> FirstPin(IBaseFilter* pFilter)
    {
        CComPtr<IEnumPins> spEnum;
        CComPtr<IPin> spPin;
        if (SUCCEEDED(pFilter->EnumPins(&spEnum)))
            spEnum->Next(1, &spPin, nullptr);
        return spPin;
    }
};

TEST_F(PlatformObjectDump, AllocatorPropertiesOfThePlatformAllocator)
{
    CComPtr<IMemAllocator> spAlloc = Create<IMemAllocator>(CLSID_MemoryAllocator);
    ASSERT_TRUE(spAlloc);
    ALLOCATOR_PROPERTIES want = {8, 7680, 1, 0}, got = {};
    ASSERT_EQ(spAlloc->SetProperties(&want, &got), S_OK);
    Debug_Allocator(atlTraceGeneral, 8, spAlloc, L"@@@@");
    Debug_Allocator(atlTraceGeneral, 8, nullptr);
    EXPECT_EQ(Lines(), (TextLines{L"@@@@ IMemAllocator=0x" + Address(static_cast<IMemAllocator*>(spAlloc)) +
                                  L", props = { 8, 7680, 1, 0 }\n",
                              L"###Err### Debug_Allocator(): Empty allocator pointer\n"}));
}

TEST_F(PlatformObjectDump, FilterBehindAPinOfThePlatformsFilters)
{
    CComPtr<IBaseFilter> spNull = Create<IBaseFilter>(kClsidNullRenderer);
    CComPtr<IBaseFilter> spGrabber = Create<IBaseFilter>(kClsidSampleGrabber);
    ASSERT_TRUE(spNull && spGrabber);
    WCHAR szPrefix[260];
    swprintf(szPrefix, 260, L"*************** %ls start of connection to ", L"[Tonewell Out]");
    Debug_FilterFromPin(atlTraceGeneral, 8, szPrefix, FirstPin(spNull));
    Debug_FilterFromPin(atlTraceGeneral, 8, nullptr, FirstPin(spGrabber));
    Debug_FilterFromPin(atlTraceGeneral, 8, L"x ", nullptr);
    EXPECT_EQ(Lines(), (TextLines{L"*************** [Tonewell Out] start of connection to filter [Null Renderer]\n",
                              L"filter [{C1F400A0-3F08-11D3-9F0B-006008039E37}]\n",
                              L"###Err### x Debug_FilterFromPin(): Empty pin pointer\n"}));
}

struct ResultCase
{
    HRESULT hr;
    unsigned nLevel;
    const wchar_t* pszLine;  // null: nothing
};

class DeliveryResult : public DumpTest, public ::testing::WithParamInterface<ResultCase>
{
};

TEST_P(DeliveryResult, UsualResultsAreWarningsOthersFailures)
{
    Debug_HResult(GetParam().hr, L"[Tonewell Out]", L"COutputPin::SendSample(): spMemInput->Receive()");
    std::vector<SinkLine> lines = TraceLines(m_sink);
    if (GetParam().pszLine == nullptr)
    {
        EXPECT_TRUE(lines.empty());
        return;
    }
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].nLevel, GetParam().nLevel);
    EXPECT_EQ(lines[0].text, GetParam().pszLine);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DeliveryResult,
    ::testing::Values(
        ResultCase{S_OK, 0, nullptr},
        ResultCase{S_FALSE, 4, L"### [Tonewell Out] COutputPin::SendSample(): spMemInput->Receive()=S_FALSE\n"},
        ResultCase{VFW_E_WRONG_STATE, 4,
                   L"### [Tonewell Out] COutputPin::SendSample(): spMemInput->Receive()=VFW_E_WRONG_STATE\n"},
        ResultCase{VFW_E_NOT_COMMITTED, 4,
                   L"### [Tonewell Out] COutputPin::SendSample(): spMemInput->Receive()=VFW_E_NOT_COMMITTED\n"},
        ResultCase{VFW_E_NOT_RUNNING, 4,
                   L"### [Tonewell Out] COutputPin::SendSample(): spMemInput->Receive()=VFW_E_NOT_RUNNING\n"},
        ResultCase{E_FAIL, 2, L"###Err### [Tonewell Out] COutputPin::SendSample(): spMemInput->Receive()=0x80004005\n"},
        ResultCase{VFW_S_NO_STOP_TIME, 2,
                   L"###Err### [Tonewell Out] COutputPin::SendSample(): spMemInput->Receive()=0x40270\n"}));

TEST_F(DumpTest, DeliveryResultWithoutNames)
{
    Debug_HResult(VFW_E_NOT_COMMITTED, nullptr, nullptr);
    Debug_HResult(E_OUTOFMEMORY, L"[P]", nullptr);
    Debug_HResult(E_OUTOFMEMORY, nullptr, L"Call()");
    EXPECT_EQ(TraceTexts(m_sink, 4)[0], L"### VFW_E_NOT_COMMITTED\n");
    std::vector<SinkLine> lines = TraceLines(m_sink);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].text, L"###Err### [P] 0x8007000E\n");
    EXPECT_EQ(lines[2].text, L"###Err### Call()=0x8007000E\n");
}
}
