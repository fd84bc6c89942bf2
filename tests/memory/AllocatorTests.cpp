// The memory allocator's state machine, deferred decommit, queued media type, notify
// callback, trace lines and the return of every block it obtained.
#include "memory/MemoryTestSupport.h"

#include <stdio.h>
#include <string.h>

using memtest::Concrete;
using memtest::MemoryTest;
using memtest::NewAllocator;
using testsink::CSinkReader;

namespace
{
const LONG kBuffers = 2;
const LONG kSize = 100;

// ---------------------------------------------------------------- state table

enum EOp
{
    Op_SetProperties,
    Op_GetProperties,
    Op_Commit,
    Op_Decommit,
    Op_GetBufferNoWait,
    Op_GetFreeCount,
    Op_Count
};
const char* const kOpNames[] = {"SetProperties", "GetProperties", "Commit", "Decommit", "GetBufferNoWait",
                                "GetFreeCount"};
const EAllocState kStates[] = {AS_Init, AS_Prop, AS_Commit, AS_Active, AS_Empty, AS_Decommit};
const char* const kStateNames[] = {"Create", "Init", "Prop", "Commit", "Active", "Empty", "Decommit"};

struct Outcome
{
    HRESULT hr;
    EAllocState eAfter;
    LONG nFree;  // GetFreeCount's count, -1 where not checked
};

// Indexed by state (AS_Init..AS_Decommit) and operation; two buffers, one out in Active
// and Decommit, both out in Empty.
const Outcome kOutcomes[6][Op_Count] = {
    /* Init */ {{S_OK, AS_Prop, -1}, {VFW_E_BUFFER_NOTSET, AS_Init, -1}, {E_FAIL, AS_Init, -1}, {E_FAIL, AS_Init, -1},
                {VFW_E_BUFFER_NOTSET, AS_Init, -1}, {VFW_E_BUFFER_NOTSET, AS_Init, 0}},
    /* Prop */ {{S_OK, AS_Prop, -1}, {S_OK, AS_Prop, -1}, {S_OK, AS_Commit, -1}, {S_OK, AS_Prop, -1},
                {VFW_E_NOT_COMMITTED, AS_Prop, -1}, {VFW_E_NOT_COMMITTED, AS_Prop, 0}},
    /* Commit */ {{VFW_E_ALREADY_COMMITTED, AS_Commit, -1}, {S_OK, AS_Commit, -1}, {S_OK, AS_Commit, -1},
                  {S_OK, AS_Prop, -1}, {S_OK, AS_Active, -1}, {S_OK, AS_Commit, 2}},
    /* Active */ {{VFW_E_ALREADY_COMMITTED, AS_Active, -1}, {S_OK, AS_Active, -1}, {S_OK, AS_Active, -1},
                  {S_OK, AS_Decommit, -1}, {S_OK, AS_Active, -1}, {S_OK, AS_Active, 1}},
    /* Empty */ {{VFW_E_ALREADY_COMMITTED, AS_Empty, -1}, {S_OK, AS_Empty, -1}, {S_OK, AS_Empty, -1},
                 {S_OK, AS_Decommit, -1}, {VFW_E_TIMEOUT, AS_Empty, -1}, {S_OK, AS_Empty, 0}},
    /* Decommit */ {{VFW_E_BUFFERS_OUTSTANDING, AS_Decommit, -1}, {S_OK, AS_Decommit, -1}, {S_OK, AS_Active, -1},
                    {S_OK, AS_Decommit, -1}, {VFW_E_NOT_COMMITTED, AS_Decommit, -1},
                    {VFW_E_NOT_COMMITTED, AS_Decommit, 0}},
};

class StateTableTest : public MemoryTest, public ::testing::WithParamInterface<std::tuple<EAllocState, int>>
{
protected:
    // An allocator in state e, with the samples that state needs held in m_samples.
    void Enter(EAllocState e)
    {
        m_spAlloc = e == AS_Init ? NewAllocator() : NewAllocator(kBuffers, kSize, e != AS_Prop);
        ASSERT_TRUE(m_spAlloc);
        int nOut = e == AS_Active || e == AS_Decommit ? 1 : e == AS_Empty ? 2 : 0;
        for (int i = 0; i < nOut; ++i)
        {
            m_samples.emplace_back();
            ASSERT_EQ(m_spAlloc->GetBuffer(&m_samples.back(), nullptr, nullptr, 0), S_OK);
        }
        if (e == AS_Empty)
        {
            CComPtr<IMediaSample> spNone;
            ASSERT_EQ(m_spAlloc->GetBuffer(&spNone, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
            EXPECT_EQ(spNone, nullptr);
        }
        if (e == AS_Decommit)
        {
            ASSERT_EQ(m_spAlloc->Decommit(), S_OK);
        }
        ASSERT_EQ(Concrete(m_spAlloc)->GetState(), e);
    }
    void TearDown() override
    {
        m_samples.clear();
        if (m_spAlloc)
            m_spAlloc->Decommit();
        m_spAlloc.Release();
        MemoryTest::TearDown();
    }

    CComPtr<IMemAllocator> m_spAlloc;
    std::vector<CComPtr<IMediaSample>> m_samples;
};

TEST_P(StateTableTest, ResultAndStateAfterEachOperation)
{
    const EAllocState e = std::get<0>(GetParam());
    const int op = std::get<1>(GetParam());
    const Outcome& expected = kOutcomes[e - AS_Init][op];
    Enter(e);
    if (HasFatalFailure())
        return;
    HRESULT hr = E_UNEXPECTED;
    ALLOCATOR_PROPERTIES props = {3, 64, 1, 0};
    ALLOCATOR_PROPERTIES actual = {};
    LONG nFree = -7;
    switch (op)
    {
    case Op_SetProperties:
        hr = m_spAlloc->SetProperties(&props, &actual);
        break;
    case Op_GetProperties:
        hr = m_spAlloc->GetProperties(&actual);
        if (hr == S_OK)
        {
            EXPECT_EQ(actual.cBuffers, kBuffers);
        }
        break;
    case Op_Commit:
        hr = m_spAlloc->Commit();
        break;
    case Op_Decommit:
        hr = m_spAlloc->Decommit();
        break;
    case Op_GetBufferNoWait:
        m_samples.emplace_back();
        hr = m_spAlloc->GetBuffer(&m_samples.back(), nullptr, nullptr, AM_GBF_NOWAIT);
        EXPECT_EQ(m_samples.back() != nullptr, hr == S_OK);
        break;
    case Op_GetFreeCount:
        hr = CComQIPtr<IMemAllocatorCallbackTemp>(m_spAlloc)->GetFreeCount(&nFree);
        break;
    }
    EXPECT_EQ(hr, expected.hr);
    EXPECT_EQ(Concrete(m_spAlloc)->GetState(), expected.eAfter);
    if (op == Op_GetFreeCount)
    {
        EXPECT_EQ(nFree, expected.nFree);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, StateTableTest, ::testing::Combine(::testing::ValuesIn(kStates), ::testing::Range(0, int(Op_Count))),
                         [](const auto& info) {
                             return std::string(kStateNames[std::get<0>(info.param)]) + "_" +
                                    kOpNames[std::get<1>(info.param)];
                         });

// ---------------------------------------------------------------- interface surface

TEST_F(MemoryTest, AnswersItsThreeInterfacesWithOneIdentity)
{
    EXPECT_EQ(CMemoryAllocator::CreateInstance(nullptr), E_POINTER);
    CComPtr<IMemAllocator> spAlloc = NewAllocator();
    ASSERT_TRUE(spAlloc);
    EXPECT_EQ(CComModuleCount::GetLockCount(), m_nObjectsBefore + 1);
    CComQIPtr<IMemAllocatorCallbackTemp> spCallback(spAlloc);
    CComQIPtr<IMemAllocatorEx> spEx(spAlloc);
    CComQIPtr<IUnknown> spUnk(spEx);
    ASSERT_TRUE(spCallback);
    ASSERT_TRUE(spEx);
    EXPECT_EQ(static_cast<IUnknown*>(spUnk), static_cast<IUnknown*>(spAlloc.p));
    EXPECT_EQ(static_cast<IMemAllocator*>(spCallback.p), spAlloc.p) << "both at the object's start";
    EXPECT_FALSE(CComQIPtr<IMediaSample>(spAlloc));

    EXPECT_EQ(spAlloc->SetProperties(nullptr, nullptr), E_POINTER);
    ALLOCATOR_PROPERTIES props = {1, 1, 1, 0};
    EXPECT_EQ(spAlloc->SetProperties(&props, nullptr), E_POINTER);
    EXPECT_EQ(spAlloc->GetProperties(nullptr), E_POINTER);
    EXPECT_EQ(spAlloc->GetBuffer(nullptr, nullptr, nullptr, 0), E_POINTER);
    EXPECT_EQ(spCallback->GetFreeCount(nullptr), E_POINTER);
    EXPECT_EQ(spAlloc->ReleaseBuffer(nullptr), E_POINTER);
}

// ---------------------------------------------------------------- deferred decommit

TEST_F(MemoryTest, DecommitWithASampleOutWaitsForItsReturn)
{
    CComPtr<IMemAllocator> spAlloc = NewAllocator(kBuffers, kSize, true);
    CComPtr<IMediaSample> spSample;
    ASSERT_EQ(spAlloc->GetBuffer(&spSample, nullptr, nullptr, 0), S_OK);
    BYTE* pBuffer = nullptr;
    spSample->GetPointer(&pBuffer);

    EXPECT_EQ(spAlloc->Decommit(), S_OK);
    CComPtr<IMediaSample> spNone;
    EXPECT_EQ(spAlloc->GetBuffer(&spNone, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    ALLOCATOR_PROPERTIES props = {1, 10, 1, 0}, actual = {};
    EXPECT_EQ(spAlloc->SetProperties(&props, &actual), VFW_E_BUFFERS_OUTSTANDING);
    memset(pBuffer, 0x33, kSize);  // still the downstream filter's to use
    EXPECT_EQ(spAlloc->AddRef(), 3u) << "ours, the allocator's own, this one";
    spAlloc->Release();

    spSample.Release();
    EXPECT_EQ(Concrete(spAlloc)->GetState(), AS_Prop);
    EXPECT_EQ(spAlloc->AddRef(), 2u) << "the allocator's own reference is gone";
    spAlloc->Release();
    EXPECT_EQ(spAlloc->SetProperties(&props, &actual), S_OK) << "accepted again";
    EXPECT_EQ(CBufferOnVirtualAlloc::LiveBlocks(), m_nBlocksBefore + 1) << "kept until the next commit or the end";
    spAlloc.Release();
}

TEST_F(MemoryTest, CommitDuringDeferredDecommitReusesTheBuffers)
{
    CComPtr<IMemAllocator> spAlloc = NewAllocator(kBuffers, kSize, true);
    CComPtr<IMediaSample> spHeld;
    ASSERT_EQ(spAlloc->GetBuffer(&spHeld, nullptr, nullptr, 0), S_OK);
    BYTE* pHeld = nullptr;
    spHeld->GetPointer(&pHeld);
    ASSERT_EQ(spAlloc->Decommit(), S_OK);
    ASSERT_EQ(spAlloc->Commit(), S_OK);
    EXPECT_EQ(Concrete(spAlloc)->GetState(), AS_Active);

    CComPtr<IMediaSample> spNext;
    ASSERT_EQ(spAlloc->GetBuffer(&spNext, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    BYTE* pNext = nullptr;
    spNext->GetPointer(&pNext);
    EXPECT_EQ(pNext - pHeld, -LONGLONG((kSize + 15) / 16 * 16)) << "the other buffer of the same block";
    EXPECT_EQ(CBufferOnVirtualAlloc::LiveBlocks(), m_nBlocksBefore + 1) << "no new memory";
    EXPECT_EQ(spAlloc->AddRef(), 3u) << "still one reference of its own";
    spAlloc->Release();

    // Decommit, then Commit with no buffer free: Empty.
    ASSERT_EQ(spAlloc->Decommit(), S_OK);
    ASSERT_EQ(spAlloc->Commit(), S_OK);
    EXPECT_EQ(Concrete(spAlloc)->GetState(), AS_Empty);
    spHeld.Release();
    spNext.Release();
    EXPECT_EQ(Concrete(spAlloc)->GetState(), AS_Commit);
    EXPECT_EQ(spAlloc->Decommit(), S_OK);
}

TEST_F(MemoryTest, EveryBlockIsReturnedAfterCommitDecommitCycles)
{
    CComPtr<IMemAllocator> spAlloc = NewAllocator();
    BYTE* pLastBuffer = nullptr;
    for (int i = 0; i < 12; ++i)
    {
        ALLOCATOR_PROPERTIES props = {1 + i % 4, 512 * (1 + i), 1 << (i % 6), 8 * (i % 3)}, actual = {};
        ASSERT_EQ(spAlloc->SetProperties(&props, &actual), S_OK);
        ASSERT_EQ(spAlloc->Commit(), S_OK);
        EXPECT_EQ(CBufferOnVirtualAlloc::LiveBlocks(), m_nBlocksBefore + 1) << "the previous block went first";
        std::vector<CComPtr<IMediaSample>> samples(size_t(actual.cBuffers));
        for (auto& sp : samples)
            ASSERT_EQ(spAlloc->GetBuffer(&sp, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
        samples[0]->GetPointer(&pLastBuffer);
        // Decommit with samples out on even rounds, after their return on odd ones.
        if (i % 2 == 0)
        {
            ASSERT_EQ(spAlloc->Decommit(), S_OK);
            samples.clear();
        }
        else
        {
            samples.clear();
            ASSERT_EQ(spAlloc->Decommit(), S_OK);
        }
        EXPECT_EQ(Concrete(spAlloc)->GetState(), AS_Prop);
    }
    MEMORY_BASIC_INFORMATION mbi = {};
    ASSERT_EQ(VirtualQuery(pLastBuffer, &mbi, sizeof(mbi)), sizeof(mbi));
    EXPECT_EQ(mbi.State, DWORD(MEM_COMMIT));
    spAlloc.Release();
    ASSERT_EQ(VirtualQuery(pLastBuffer, &mbi, sizeof(mbi)), sizeof(mbi));
    EXPECT_EQ(mbi.State, DWORD(MEM_FREE)) << "the allocator's end returned the block";
}

TEST_F(MemoryTest, SamplesAreLiveObjectsUntilTheirLastRelease)
{
    CComPtr<IMemAllocator> spAlloc = NewAllocator(2, kSize, true);
    const LONG nWithAllocator = CComModuleCount::GetLockCount();
    EXPECT_EQ(nWithAllocator, m_nObjectsBefore + 1);
    CComPtr<IMediaSample> a, b;
    ASSERT_EQ(spAlloc->GetBuffer(&a, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(spAlloc->GetBuffer(&b, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(CComModuleCount::GetLockCount(), nWithAllocator + 2);
    EXPECT_EQ(a->AddRef(), 2u);
    EXPECT_EQ(a->Release(), 1u);
    a.Release();
    EXPECT_EQ(CComModuleCount::GetLockCount(), nWithAllocator + 1);
    ASSERT_EQ(spAlloc->Decommit(), S_OK);
    spAlloc.Release();
    EXPECT_EQ(CComModuleCount::GetLockCount(), nWithAllocator + 1) << "a sample out keeps the allocator";
    b.Release();
    EXPECT_EQ(CComModuleCount::GetLockCount(), m_nObjectsBefore) << "the last sample took the allocator with it";
}

TEST_F(MemoryTest, FreeCountFollowsTheBuffersHandedOut)
{
    CComPtr<IMemAllocator> spAlloc = NewAllocator(4, kSize, true);
    CComQIPtr<IMemAllocatorCallbackTemp> spCallback(spAlloc);
    LONG nFree = 0;
    EXPECT_EQ(spCallback->GetFreeCount(&nFree), S_OK);
    EXPECT_EQ(nFree, 4);
    CComPtr<IMediaSample> spSample;
    ASSERT_EQ(spAlloc->GetBuffer(&spSample, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(spCallback->GetFreeCount(&nFree), S_OK);
    EXPECT_EQ(nFree, 3);
    spSample.Release();
    EXPECT_EQ(spCallback->GetFreeCount(&nFree), S_OK);
    EXPECT_EQ(nFree, 4);
    EXPECT_EQ(spAlloc->Decommit(), S_OK);
}

// ---------------------------------------------------------------- requests too large

// What a downstream filter may ask for through SetProperties. The properties are stored
// as corrected; Commit refuses a set it cannot hold before it makes anything per buffer
// (a count of 0x7FFFFFFF would otherwise page for minutes), and the allocator stays usable.
struct HugeCase
{
    const char* pszName;
    ALLOCATOR_PROPERTIES request;
    HRESULT hrCommit;
};

void PrintTo(const HugeCase& c, std::ostream* os) { *os << c.pszName; }

const HugeCase kHugeCases[] = {
    {"CountOf0x7FFFFFFF", {0x7FFFFFFF, 100, 1, 0}, E_OUTOFMEMORY},
    {"SizeOf0x7FFFFFFF", {2, 0x7FFFFFFF, 1, 0}, E_OUTOFMEMORY},
    {"CountAndSizeOf0x7FFFFFFF", {0x7FFFFFFF, 0x7FFFFFFF, 1, 0}, E_OUTOFMEMORY},
    {"PrefixTakesOneBufferPast2GB", {1, 0x7FFFFFF0, 1, 0x10}, E_OUTOFMEMORY},
    {"TwoBuffersOf1GB", {2, 0x40000000, 1, 0}, E_OUTOFMEMORY},
    {"OneBufferMoreThanTheMost", {kMaxAllocatorBuffers + 1, 16, 1, 0}, E_OUTOFMEMORY},
    {"TheMostBuffers", {kMaxAllocatorBuffers, 16, 1, 0}, S_OK},
};

class HugeRequestTest : public MemoryTest, public ::testing::WithParamInterface<HugeCase>
{
};

TEST_P(HugeRequestTest, CommitRefusesAtOnceWhatItCannotHold)
{
    const HugeCase& c = GetParam();
    CComPtr<IMemAllocator> spAlloc = NewAllocator();
    ASSERT_TRUE(spAlloc);
    ALLOCATOR_PROPERTIES request = c.request, actual = {};
    ASSERT_EQ(spAlloc->SetProperties(&request, &actual), S_OK);
    EXPECT_EQ(actual.cBuffers, c.request.cBuffers);
    EXPECT_GE(actual.cbBuffer, c.request.cbBuffer);

    HRESULT hr = E_PENDING;
    memtest::RunWithWatchdog(c.pszName, 30000, [&] { hr = spAlloc->Commit(); });
    EXPECT_EQ(hr, c.hrCommit);
    if (hr == S_OK)
    {
        LONG nFree = 0;
        EXPECT_EQ(CComQIPtr<IMemAllocatorCallbackTemp>(spAlloc)->GetFreeCount(&nFree), S_OK);
        EXPECT_EQ(nFree, c.request.cBuffers);
        EXPECT_EQ(spAlloc->Decommit(), S_OK);
        return;
    }
    EXPECT_EQ(Concrete(spAlloc)->GetState(), AS_Prop);
    EXPECT_EQ(CBufferOnVirtualAlloc::LiveBlocks(), m_nBlocksBefore);
    EXPECT_EQ(spAlloc->AddRef(), 2u) << "no reference of its own taken";
    spAlloc->Release();
    CComPtr<IMediaSample> spNone;
    EXPECT_EQ(spAlloc->GetBuffer(&spNone, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_NOT_COMMITTED);

    // Still usable with a request it can hold.
    ALLOCATOR_PROPERTIES sane = {kBuffers, kSize, 1, 0};
    ASSERT_EQ(spAlloc->SetProperties(&sane, &actual), S_OK);
    ASSERT_EQ(spAlloc->Commit(), S_OK);
    ASSERT_EQ(spAlloc->GetBuffer(&spNone, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    spNone.Release();
    EXPECT_EQ(spAlloc->Decommit(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(Table, HugeRequestTest, ::testing::ValuesIn(kHugeCases),
                         [](const auto& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------- media type queue

TEST_F(MemoryTest, QueuedMediaTypeTravelsWithTheNextSampleOnly)
{
    CComPtr<IMemAllocator> spAlloc = NewAllocator(3, kSize, true);
    CComQIPtr<IMemAllocatorEx> spEx(spAlloc);
    ASSERT_TRUE(spEx);
    CMType mt;
    ASSERT_EQ(CMTHelp::MTCreatePCM(mt, 48000, 2, 16, 0xFFFFFFFF), S_OK);
    EXPECT_EQ(spEx->SetMediaType(&mt), S_OK);

    CComPtr<IMediaSample> spFirst, spSecond, spThird;
    ASSERT_EQ(spAlloc->GetBuffer(&spFirst, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(spAlloc->GetBuffer(&spSecond, nullptr, nullptr, 0), S_OK);
    AM_MEDIA_TYPE* pmt = nullptr;
    ASSERT_EQ(spFirst->GetMediaType(&pmt), S_OK);
    EXPECT_TRUE(IsEqualGUID(pmt->subtype, MEDIASUBTYPE_PCM));
    EXPECT_EQ(pmt->cbFormat, mt.cbFormat);
    MTFree(pmt);
    EXPECT_EQ(spSecond->GetMediaType(&pmt), S_FALSE);

    // Queued and withdrawn: nothing travels.
    EXPECT_EQ(spEx->SetMediaType(&mt), S_OK);
    EXPECT_EQ(spEx->SetMediaType(nullptr), S_OK);
    ASSERT_EQ(spAlloc->GetBuffer(&spThird, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(spThird->GetMediaType(&pmt), S_FALSE);

    // Queued while not committed: kept for the first sample after the commit.
    spFirst.Release();
    spSecond.Release();
    spThird.Release();
    ASSERT_EQ(spAlloc->Decommit(), S_OK);
    EXPECT_EQ(spEx->SetMediaType(&mt), S_OK);
    ASSERT_EQ(spAlloc->Commit(), S_OK);
    ASSERT_EQ(spAlloc->GetBuffer(&spFirst, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(spFirst->GetMediaType(&pmt), S_OK);
    MTFree(pmt);
    spFirst.Release();
    EXPECT_EQ(spAlloc->Decommit(), S_OK);
}

// ---------------------------------------------------------------- notify callback

TEST_F(MemoryTest, NotifyCallbackFiresOnEveryReleaseAndIsHeldCounted)
{
    memtest::CNotifyCounter notify;
    {
        CComPtr<IMemAllocator> spAlloc = NewAllocator(2, kSize, true);
        CComQIPtr<IMemAllocatorCallbackTemp> spCallback(spAlloc);
        EXPECT_EQ(spCallback->SetNotify(&notify), S_OK);
        EXPECT_EQ(notify.m_nRef, 2) << "the allocator holds a reference";
        for (int i = 0; i < 5; ++i)
        {
            CComPtr<IMediaSample> a, b;
            ASSERT_EQ(spAlloc->GetBuffer(&a, nullptr, nullptr, 0), S_OK);
            ASSERT_EQ(spAlloc->GetBuffer(&b, nullptr, nullptr, 0), S_OK);
        }
        EXPECT_EQ(notify.m_nCalls, 10);

        // A release after Decommit is still reported.
        CComPtr<IMediaSample> spLate;
        ASSERT_EQ(spAlloc->GetBuffer(&spLate, nullptr, nullptr, 0), S_OK);
        ASSERT_EQ(spAlloc->Decommit(), S_OK);
        spLate.Release();
        EXPECT_EQ(notify.m_nCalls, 11);

        // A new callback replaces the old one; null clears it.
        memtest::CNotifyCounter other;
        EXPECT_EQ(spCallback->SetNotify(&other), S_OK);
        EXPECT_EQ(notify.m_nRef, 1);
        EXPECT_EQ(spCallback->SetNotify(nullptr), S_OK);
        EXPECT_EQ(other.m_nRef, 1);
        ASSERT_EQ(spAlloc->Commit(), S_OK);
        ASSERT_EQ(spAlloc->GetBuffer(&spLate, nullptr, nullptr, 0), S_OK);
        spLate.Release();
        EXPECT_EQ(other.m_nCalls, 0);
        EXPECT_EQ(notify.m_nCalls, 11);
        EXPECT_EQ(spCallback->SetNotify(&notify), S_OK);
        EXPECT_EQ(spAlloc->Decommit(), S_OK);
    }
    EXPECT_EQ(notify.m_nRef, 1) << "released with the allocator";
}

// ---------------------------------------------------------------- trace lines

class AllocatorTraceTest : public MemoryTest
{
protected:
    void SetUp() override
    {
        MemoryTest::SetUp();
        ASSERT_TRUE(m_sink.IsLoaded());
        m_sink.Clear();
    }
    std::wstring Line(const wchar_t* pszFormat, const void* p)
    {
        wchar_t sz[512];
        _snwprintf(sz, 512, pszFormat, p);
        return sz;
    }
    CSinkReader m_sink{L"testsink.dll"};
};

TEST_F(AllocatorTraceTest, LifeOfAnAllocatorInTheLog)
{
    CComPtr<IMemAllocator> spAlloc = NewAllocator();
    CMemoryAllocator* p = Concrete(spAlloc);
    const DWORD dwAddr = DWORD(DWORD_PTR(p));
    ALLOCATOR_PROPERTIES props = {3, 100, 1, 0}, actual = {};
    ASSERT_EQ(spAlloc->SetProperties(&props, &actual), S_OK);
    ASSERT_EQ(spAlloc->Commit(), S_OK);
    std::vector<CComPtr<IMediaSample>> samples(3);
    for (auto& sp : samples)
        ASSERT_EQ(spAlloc->GetBuffer(&sp, nullptr, nullptr, 0), S_OK);
    CComPtr<IMediaSample> spNone;
    EXPECT_EQ(spAlloc->GetBuffer(&spNone, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    ASSERT_EQ(spAlloc->Decommit(), S_OK);
    samples.clear();
    EXPECT_EQ(Concrete(spAlloc)->GetPeak(), 3u);
    spAlloc.Release();

    wchar_t sz[256];
    std::vector<std::wstring> expected;
    _snwprintf(sz, 256, L"(CMemoryAllocatorT<>) FinalConstruct [0x%p]\n", p);
    expected.push_back(sz);
    _snwprintf(sz, 256, L"(CMemoryAllocatorT<>) IMemAllocator::SetProperties( 3, 100, 1, 0 ) State=1 [0x%08X]\n", dwAddr);
    expected.push_back(sz);
    _snwprintf(sz, 256, L"(CMemoryAllocatorT<>) IMemAllocator::Commit [0x%08X]\n", dwAddr);
    expected.push_back(sz);
    for (int i = 1; i <= 3; ++i)
    {
        _snwprintf(sz, 256, L"(CMemoryAllocatorT<>) Allocator [0x%p]: max outstanding buffers %u\n", p, i);
        expected.push_back(sz);
    }
    expected.push_back(L"(CMemoryAllocatorT<>) IMemAllocator::GetBuffer(): Allocator busy, waiting = NO\n");
    _snwprintf(sz, 256, L"(CMemoryAllocatorT<>) IMemAllocator::Decommit(): busy 3 buffers [0x%08X]\n", dwAddr);
    expected.push_back(sz);
    for (int nBusy = 2; nBusy >= 0; --nBusy)
    {
        _snwprintf(sz, 256, L"(CMemoryAllocatorT<>) IMemAllocator::ReleaseBuffer(): Decommit state, busy %u buffers [0x%p]\n",
                 nBusy, p);
        expected.push_back(sz);
    }
    _snwprintf(sz, 256, L"(CMemoryAllocatorT<>) FinalRelease [0x%p]\n", p);
    expected.push_back(sz);
    _snwprintf(sz, 256, L"### (CMemoryAllocatorT<>) CMemAllocBase::ReleaseAllocator [0x%p]\n", p);
    expected.push_back(sz);
    EXPECT_EQ(memtest::SinkLines(m_sink), expected);
}

TEST_F(AllocatorTraceTest, LastExternalReleaseWhileCommittedIsReported)
{
    CComPtr<IMemAllocator> spAlloc = NewAllocator(2, kSize, true);
    IMemAllocator* pRaw = spAlloc;
    pRaw->AddRef();  // stands in for the reference the allocator keeps for itself
    m_sink.Clear();
    spAlloc.Release();
    EXPECT_TRUE(memtest::SinkLines(m_sink).empty()) << "two references left: ours and its own";
    EXPECT_EQ(pRaw->Release(), 1u);
    std::wstring line = Line(
        L"###Err### (CMemoryAllocatorT<>) InternalRelease [0x%p]: IMemAllocator::Decommit() is not called, memory is "
        L"not freed\n",
        Concrete(pRaw));
    EXPECT_EQ(memtest::SinkLines(m_sink), std::vector<std::wstring>{line});
    // The program still holds a way in: decommit ends the allocator's own reference.
    pRaw->AddRef();
    EXPECT_EQ(pRaw->Decommit(), S_OK);
    EXPECT_EQ(pRaw->Release(), 0u);
}

TEST_F(AllocatorTraceTest, CorrectionsAreWarnings)
{
    CComPtr<IMemAllocator> spAlloc = NewAllocator();
    ALLOCATOR_PROPERTIES props = {2, 1001, 3, 8}, actual = {};
    m_sink.Clear();
    ASSERT_EQ(spAlloc->SetProperties(&props, &actual), S_OK);
    auto lines = memtest::SinkLines(m_sink);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], L"### CAllocatorBuffers::Correct(): Alignment is not a power of 2 (rgProps.cbAlign = 0x3), "
                        L"corrected alignment = 0x4\n");
    EXPECT_EQ(lines[2], L"### CAllocatorBuffers::Correct(): input props = { 2, 1001, 4, 8 }, corrected size of "
                        L"buffer = 1004\n");
}
}
