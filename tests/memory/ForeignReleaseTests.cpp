// What the allocator lets go of: a sample's media type and a queued one (their pUnk is
// not ours), a replaced notify callback, and the allocator's own reference. None of it may
// be released while the allocator's lock is held: a Release that takes a lock of its own
// would meet another thread that holds that lock and waits for the allocator.
#include "memory/MemoryTestSupport.h"

using memtest::CAllocatorLockProbe;
using memtest::Concrete;
using memtest::MemoryTest;

namespace
{
// The allocator with its lock checked at every release of a reference to it.
class CProbedAllocator : public CMemoryAllocator
{
public:
    ULONG InternalRelease()
    {
        if (m_pProbe != nullptr)
            m_pProbe->Check();
        return CMemoryAllocator::InternalRelease();
    }
    CAllocatorLockProbe* m_pProbe = nullptr;
};

// An object that is not the allocator's (a media type's pUnk, a notify callback), with
// the allocator's lock checked at every release of a reference to it.
class CProbedObject : public memtest::CNotifyCounter
{
public:
    STDMETHOD_(ULONG, Release)() override
    {
        if (m_pProbe != nullptr)
            m_pProbe->Check();
        return memtest::CNotifyCounter::Release();
    }
    CAllocatorLockProbe* m_pProbe = nullptr;
};

// A media type whose pUnk holds a reference to pUnk.
CMType TypeHolding(IUnknown* pUnk)
{
    CMType mt;
    EXPECT_EQ(CMTHelp::MTCreatePCM(mt, 44100, 2, 16, 0xFFFFFFFF), S_OK);
    mt.pUnk = pUnk;
    pUnk->AddRef();
    return mt;
}

CComPtr<IMediaSample> Take(IMemAllocator* pAlloc)
{
    CComPtr<IMediaSample> sp;
    EXPECT_EQ(pAlloc->GetBuffer(&sp, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    return sp;
}

HRESULT Queue(IMemAllocator* pAlloc, const AM_MEDIA_TYPE* pmt)
{
    return CComQIPtr<IMemAllocatorEx>(pAlloc)->SetMediaType(pmt);
}

struct ReleaseCase
{
    const char* pszName;
    // Runs with the allocator committed (two buffers) and both probes armed.
    void (*pfnRun)(IMemAllocator* pAlloc, CProbedObject& object);
    bool bDropsOwnReference;
};

void PrintTo(const ReleaseCase& c, std::ostream* os) { *os << c.pszName; }

const ReleaseCase kCases[] = {
    {"SamplesTypeGoesWithTheSample",
     [](IMemAllocator* pAlloc, CProbedObject& object) {
         CComPtr<IMediaSample> sp = Take(pAlloc);
         CMType mt = TypeHolding(&object);
         ASSERT_EQ(sp->SetMediaType(&mt), S_OK);
     },
     false},
    {"LastSampleWithATypeAfterDecommit",
     [](IMemAllocator* pAlloc, CProbedObject& object) {
         CComPtr<IMediaSample> sp = Take(pAlloc);
         CMType mt = TypeHolding(&object);
         ASSERT_EQ(sp->SetMediaType(&mt), S_OK);
         ASSERT_EQ(pAlloc->Decommit(), S_OK);
     },
     true},
    {"ReplacedNotifyCallback",
     [](IMemAllocator* pAlloc, CProbedObject& object) {
         CComQIPtr<IMemAllocatorCallbackTemp> spCallback(pAlloc);
         ASSERT_EQ(spCallback->SetNotify(&object), S_OK);
         ASSERT_EQ(spCallback->SetNotify(nullptr), S_OK);
     },
     false},
    {"ReplacedQueuedType",
     [](IMemAllocator* pAlloc, CProbedObject& object) {
         CMType mt = TypeHolding(&object);
         ASSERT_EQ(Queue(pAlloc, &mt), S_OK);
         mt.Clear();
         ASSERT_EQ(Queue(pAlloc, nullptr), S_OK);
     },
     false},
    {"QueuedTypeHandedToASample",
     [](IMemAllocator* pAlloc, CProbedObject& object) {
         CMType mt = TypeHolding(&object);
         ASSERT_EQ(Queue(pAlloc, &mt), S_OK);
         mt.Clear();
         CComPtr<IMediaSample> sp = Take(pAlloc);
         AM_MEDIA_TYPE* pmt = nullptr;
         ASSERT_EQ(sp->GetMediaType(&pmt), S_OK);
         EXPECT_EQ(pmt->pUnk, static_cast<IUnknown*>(&object));
         MTFree(pmt);
     },
     false},
    {"DecommitWithEveryBufferBack",
     [](IMemAllocator* pAlloc, CProbedObject&) { ASSERT_EQ(pAlloc->Decommit(), S_OK); }, true},
    {"LastSampleAfterDecommit",
     [](IMemAllocator* pAlloc, CProbedObject&) {
         CComPtr<IMediaSample> sp = Take(pAlloc);
         ASSERT_EQ(pAlloc->Decommit(), S_OK);
     },
     true},
};

class ForeignReleaseTest : public MemoryTest, public ::testing::WithParamInterface<ReleaseCase>
{
protected:
    void SetUp() override
    {
        MemoryTest::SetUp();
        CComObject<CProbedAllocator>* p = nullptr;
        ASSERT_EQ(CComObject<CProbedAllocator>::CreateUnreferenced(&p), S_OK);
        m_spAlloc = static_cast<IMemAllocator*>(p);
        m_pAlloc = p;
        ALLOCATOR_PROPERTIES props = {2, 100, 1, 0}, actual = {};
        ASSERT_EQ(m_spAlloc->SetProperties(&props, &actual), S_OK);
        ASSERT_EQ(m_spAlloc->Commit(), S_OK);
        m_pOwnProbe = std::make_unique<CAllocatorLockProbe>(p);
        m_pForeignProbe = std::make_unique<CAllocatorLockProbe>(p);
        m_pAlloc->m_pProbe = m_pOwnProbe.get();
        m_object.m_pProbe = m_pForeignProbe.get();
    }
    void TearDown() override
    {
        if (m_pAlloc != nullptr)
            m_pAlloc->m_pProbe = nullptr;
        m_object.m_pProbe = nullptr;
        // Checks that found the lock held end here, while the allocator is alive.
        m_pOwnProbe.reset();
        m_pForeignProbe.reset();
        if (m_spAlloc)
            m_spAlloc->Decommit();
        m_spAlloc.Release();
        EXPECT_EQ(m_object.m_nRef, 1) << "every reference to the foreign object was released";
        MemoryTest::TearDown();
    }

    CComPtr<IMemAllocator> m_spAlloc;
    CProbedAllocator* m_pAlloc = nullptr;
    std::unique_ptr<CAllocatorLockProbe> m_pOwnProbe;
    std::unique_ptr<CAllocatorLockProbe> m_pForeignProbe;
    CProbedObject m_object;
};

TEST_P(ForeignReleaseTest, ReleasedOutsideTheAllocatorsLock)
{
    const ReleaseCase& c = GetParam();
    memtest::RunWithWatchdog(c.pszName, 60000, [&] { c.pfnRun(m_spAlloc, m_object); });
    if (HasFatalFailure())
        return;
    if (c.bDropsOwnReference)
    {
        EXPECT_EQ(Concrete(m_spAlloc)->GetState(), AS_Prop);
        m_pAlloc->m_pProbe = nullptr;
        EXPECT_EQ(m_spAlloc->AddRef(), 2u) << "its own reference was dropped";
        m_spAlloc->Release();
    }
    else
    {
        EXPECT_EQ(m_object.m_nRef, 1) << "the foreign object was let go of";
        EXPECT_GT(m_pForeignProbe->Checks(), 0);
    }
    EXPECT_EQ(m_pForeignProbe->HeldChecks(), 0) << "a foreign object was released inside the allocator's lock";
    EXPECT_EQ(m_pOwnProbe->HeldChecks(), 0) << "the allocator's own reference was dropped inside its lock";
}

INSTANTIATE_TEST_SUITE_P(Table, ForeignReleaseTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.pszName); });
}
