// The COM-object layer: reference counting, interface table lookup, aggregation, the
// construction hooks and the module's count of live objects.
#include <gtest/gtest.h>

#include "support/ComBase.h"
#include "support/ComClassFactory.h"
#include "support/ComCreate.h"
#include "support/ComPtr.h"
#include "common/Watchdog.h"

#include <utility>

#include <objidl.h>
#include <ocidl.h>

namespace
{
int g_nFinalReleases = 0;

class CWidget : public CComObjectRoot, public IPersist, public IConnectionPointContainer
{
public:
    BEGIN_COM_MAP(CWidget)
        COM_INTERFACE_ENTRY(IPersist)
        COM_INTERFACE_ENTRY(IConnectionPointContainer)
        COM_INTERFACE_ENTRY_AGGREGATE(IID_IMarshal, m_pUnkMarshaler)
    END_COM_MAP()

    HRESULT FinalConstruct()
    {
        // Takes and drops a reference: must not free the object being built.
        IPersist* pSelf = nullptr;
        QueryInterface(IID_IPersist, reinterpret_cast<void**>(&pSelf));
        if (pSelf)
            pSelf->Release();
        if (s_bFailConstruct)
            return E_ABORT;
        return CoCreateFreeThreadedMarshaler(GetControllingUnknown(), &m_pUnkMarshaler);
    }
    void FinalRelease()
    {
        ++g_nFinalReleases;
        if (m_pUnkMarshaler)
            m_pUnkMarshaler->Release();
    }

    STDMETHOD(GetClassID)(CLSID* pClsid) override
    {
        if (!pClsid)
            return E_POINTER;
        *pClsid = CLSID_NULL;
        return S_OK;
    }
    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHOD(FindConnectionPoint)(REFIID, IConnectionPoint**) override { return E_NOTIMPL; }

    // Both IUnknown functions are pure here; the concrete object supplies them.
    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;

    static inline bool s_bFailConstruct = false;
    IUnknown* m_pUnkMarshaler = nullptr;
};

// A minimal outer object that aggregates a CWidget and exposes its interfaces.
class COuter : public IUnknown
{
public:
    STDMETHOD_(ULONG, AddRef)() override { return ++m_nRef; }
    STDMETHOD_(ULONG, Release)() override { return --m_nRef; }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        if (InlineIsEqualGUID(riid, IID_IUnknown))
        {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_pInner ? m_pInner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    ULONG m_nRef = 1;
    IUnknown* m_pInner = nullptr;
};

class ComBaseTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        g_nFinalReleases = 0;
        CWidget::s_bFailConstruct = false;
        m_nLocksBefore = CComModuleCount::GetLockCount();
    }
    void TearDown() override
    {
        EXPECT_EQ(CComModuleCount::GetLockCount(), m_nLocksBefore) << "an object leaked";
        CoUninitialize();
    }
    LONG m_nLocksBefore = 0;
};

TEST_F(ComBaseTest, StandaloneObjectCountsReferencesAndAnswersItsTable)
{
    CComPtr<IPersist> spPersist;
    ASSERT_EQ(ComCreateReferencedInterface<CWidget>(nullptr, IID_IPersist, reinterpret_cast<void**>(&spPersist)), S_OK);
    EXPECT_EQ(CComModuleCount::GetLockCount(), m_nLocksBefore + 1);

    CComPtr<IUnknown> spUnk;
    ASSERT_EQ(spPersist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&spUnk)), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(spUnk), static_cast<IUnknown*>(spPersist.p)) << "first entry answers IUnknown";

    CComQIPtr<IConnectionPointContainer> spCpc(spPersist);
    ASSERT_TRUE(spCpc);
    CComQIPtr<IPersist> spBack(spCpc);
    EXPECT_EQ(spBack.p, spPersist.p);

    CComQIPtr<IMarshal> spMarshal(spPersist);
    EXPECT_TRUE(spMarshal) << "aggregated free-threaded marshaler answers IMarshal";
    spMarshal.Release();

    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(spPersist->QueryInterface(IID_IStream, &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(spPersist->QueryInterface(IID_IStream, nullptr), E_POINTER);

    spUnk.Release();
    spCpc.Release();
    spBack.Release();
    EXPECT_EQ(g_nFinalReleases, 0);
    spPersist.Release();
    EXPECT_EQ(g_nFinalReleases, 1);
}

TEST_F(ComBaseTest, FailedFinalConstructFreesTheObject)
{
    CWidget::s_bFailConstruct = true;
    IPersist* pPersist = reinterpret_cast<IPersist*>(1);
    EXPECT_EQ(ComCreateReferencedInterface<CWidget>(nullptr, IID_IPersist, reinterpret_cast<void**>(&pPersist)), E_ABORT);
    EXPECT_EQ(pPersist, nullptr);
    EXPECT_EQ(g_nFinalReleases, 1);
}

TEST_F(ComBaseTest, AggregatedObjectDelegatesToTheOuterUnknown)
{
    COuter outer;
    IPersist* pPersist = nullptr;
    EXPECT_EQ(ComCreateReferencedInterface<CWidget>(&outer, IID_IPersist, reinterpret_cast<void**>(&pPersist)),
              CLASS_E_NOAGGREGATION);
    ASSERT_EQ(ComCreateReferencedInterface<CWidget>(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.m_pInner)), S_OK);
    ULONG nOuterRefs = outer.m_nRef;

    ASSERT_EQ(outer.QueryInterface(IID_IPersist, reinterpret_cast<void**>(&pPersist)), S_OK);
    EXPECT_EQ(outer.m_nRef, nOuterRefs + 1) << "the inner interface counts on the outer object";
    IUnknown* pIdentity = nullptr;
    ASSERT_EQ(pPersist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pIdentity)), S_OK);
    EXPECT_EQ(pIdentity, static_cast<IUnknown*>(&outer)) << "identity is the outer object";
    pIdentity->Release();
    pPersist->Release();
    EXPECT_EQ(outer.m_nRef, nOuterRefs);

    EXPECT_EQ(g_nFinalReleases, 0);
    outer.m_pInner->Release();
    EXPECT_EQ(g_nFinalReleases, 1);
}

TEST_F(ComBaseTest, CreatedObjectComesWithOneReferenceForTheCaller)
{
    CComObject<CWidget>* pWidget = nullptr;
    ASSERT_EQ(ComCreateReferenced(&pWidget), S_OK);
    ASSERT_NE(pWidget, nullptr);
    EXPECT_EQ(pWidget->AddRef(), 2u);
    pWidget->Release();
    EXPECT_EQ(pWidget->Release(), 0u);
    EXPECT_EQ(g_nFinalReleases, 1);

    CWidget::s_bFailConstruct = true;
    EXPECT_EQ(ComCreateReferenced(&pWidget), E_ABORT);
    EXPECT_EQ(pWidget, nullptr);
    EXPECT_EQ(ComCreateReferenced<CWidget>(nullptr), E_POINTER);
}

// The object lock is recursive: its owner may take it again, and another thread gets it
// only once every Lock has its Unlock.
TEST_F(ComBaseTest, ObjectLockIsRecursiveAndExcludesOtherThreads)
{
    testwatch::CWatchdog watchdog;
    struct Shared
    {
        CComObject<CWidget>* pWidget = nullptr;
        HANDLE hAboutToLock = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        volatile LONG bAcquired = 0;
    } shared;
    ASSERT_EQ(ComCreateReferenced(&shared.pWidget), S_OK);
    shared.pWidget->Lock();
    shared.pWidget->Lock();
    shared.pWidget->Unlock();
    HANDLE hThread = CreateThread(
        nullptr, 0,
        [](void* pv) -> DWORD {
            auto* p = static_cast<Shared*>(pv);
            SetEvent(p->hAboutToLock);
            p->pWidget->Lock();
            InterlockedExchange(&p->bAcquired, 1);
            p->pWidget->Unlock();
            return 0;
        },
        &shared, 0, nullptr);
    ASSERT_NE(hThread, nullptr);
    // The other thread is at the lock; it must stay there while the lock is held once.
    ASSERT_EQ(WaitForSingleObject(shared.hAboutToLock, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(hThread, 100), DWORD(WAIT_TIMEOUT)) << "the lock is still held once";
    EXPECT_EQ(shared.bAcquired, 0);
    shared.pWidget->Unlock();
    EXPECT_EQ(WaitForSingleObject(hThread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(shared.bAcquired, 1);
    CloseHandle(hThread);
    CloseHandle(shared.hAboutToLock);
    shared.pWidget->Release();
}

// Move assignment hands the reference over: the source empties, the old target is released.
TEST_F(ComBaseTest, MovedPointerHandsItsReferenceOver)
{
    CComPtr<IPersist> spA, spB;
    ASSERT_EQ(ComCreateReferencedInterface<CWidget>(nullptr, IID_IPersist, reinterpret_cast<void**>(&spA)), S_OK);
    ASSERT_EQ(ComCreateReferencedInterface<CWidget>(nullptr, IID_IPersist, reinterpret_cast<void**>(&spB)), S_OK);
    IPersist* pA = spA;
    spB = std::move(spA);
    EXPECT_EQ(g_nFinalReleases, 1) << "the object spB held is released";
    EXPECT_EQ(spA.p, nullptr);
    EXPECT_EQ(spB.p, pA);
    CComPtr<IPersist>& spSelf = spB;
    spB = std::move(spSelf);
    EXPECT_EQ(spB.p, pA) << "moving onto itself keeps the object";
    spB.Release();
    EXPECT_EQ(g_nFinalReleases, 2);
}

// An object whose FinalConstruct keeps a reference to itself (as an object holding its
// own interface would): that reference must survive creation.
class CSelfHolder : public CComObjectRoot, public IPersist
{
public:
    BEGIN_COM_MAP(CSelfHolder)
        COM_INTERFACE_ENTRY(IPersist)
    END_COM_MAP()
    HRESULT FinalConstruct()
    {
        return QueryInterface(IID_IPersist, reinterpret_cast<void**>(&m_pSelf));
    }
    STDMETHOD(GetClassID)(CLSID*) override { return E_NOTIMPL; }
    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
    IPersist* m_pSelf = nullptr;
};

TEST_F(ComBaseTest, ReferenceTakenInFinalConstructStillCounts)
{
    CComObject<CSelfHolder>* p = nullptr;
    ASSERT_EQ(CComObject<CSelfHolder>::CreateUnreferenced(&p), S_OK);
    EXPECT_EQ(p->AddRef(), 2u) << "the self-reference plus the caller's";
    EXPECT_EQ(p->Release(), 1u);
    p->m_pSelf->Release();  // the last reference: frees the object
}

// The controlling unknown is the object's identity: its own first entry when it stands
// alone, the outer object when aggregated.
TEST_F(ComBaseTest, ControllingUnknownIsTheIdentity)
{
    CComObject<CWidget>* pWidget = nullptr;
    ASSERT_EQ(ComCreateReferenced(&pWidget), S_OK);
    CComPtr<IUnknown> spIdentity;
    ASSERT_EQ(pWidget->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&spIdentity)), S_OK);
    EXPECT_EQ(pWidget->GetControllingUnknown(), spIdentity.p);
    spIdentity.Release();
    pWidget->Release();

    COuter outer;
    CComAggObject<CWidget>* pAgg = nullptr;
    ASSERT_EQ(CComAggObject<CWidget>::CreateUnreferenced(&outer, &pAgg), S_OK);
    pAgg->AddRef();
    EXPECT_EQ(pAgg->Contained()->GetControllingUnknown(), static_cast<IUnknown*>(&outer));
    pAgg->Release();
}

// IPersist is inherited through two interfaces; the table row names the path it answers.
class CTwoPersists : public CComObjectRoot, public IPersistStream, public IPersistFile
{
public:
    BEGIN_COM_MAP(CTwoPersists)
        COM_INTERFACE_ENTRY(IPersistStream)
        COM_INTERFACE_ENTRY(IPersistFile)
        COM_INTERFACE_ENTRY2(IPersist, IPersistFile)
    END_COM_MAP()
    STDMETHOD(GetClassID)(CLSID*) override { return E_NOTIMPL; }
    STDMETHOD(IsDirty)() override { return S_FALSE; }
    STDMETHOD(Load)(IStream*) override { return E_NOTIMPL; }
    STDMETHOD(Save)(IStream*, BOOL) override { return E_NOTIMPL; }
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHOD(Load)(LPCOLESTR, DWORD) override { return E_NOTIMPL; }
    STDMETHOD(Save)(LPCOLESTR, BOOL) override { return E_NOTIMPL; }
    STDMETHOD(SaveCompleted)(LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHOD(GetCurFile)(LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
};

TEST_F(ComBaseTest, InterfaceReachedThroughTwoBasesAnswersTheNamedPath)
{
    CComObject<CTwoPersists>* p = nullptr;
    ASSERT_EQ(ComCreateReferenced(&p), S_OK);
    CComPtr<IPersist> spPersist;
    ASSERT_EQ(p->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&spPersist)), S_OK);
    EXPECT_EQ(spPersist.p, static_cast<IPersist*>(static_cast<IPersistFile*>(p)));
    EXPECT_NE(spPersist.p, static_cast<IPersist*>(static_cast<IPersistStream*>(p)));
    spPersist.Release();
    p->Release();
}

// A table whose first row delegates has no interface of its own to stand for IUnknown.
class CDelegatingFirst : public CComObjectRoot, public IPersist
{
public:
    BEGIN_COM_MAP(CDelegatingFirst)
        COM_INTERFACE_ENTRY_AGGREGATE(IID_IMarshal, m_pUnkMarshaler)
        COM_INTERFACE_ENTRY(IPersist)
    END_COM_MAP()
    STDMETHOD(GetClassID)(CLSID*) override { return E_NOTIMPL; }
    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
    IUnknown* m_pUnkMarshaler = nullptr;
};

TEST_F(ComBaseTest, IdentityFromADelegatingRowIsRefused)
{
    CComObject<CDelegatingFirst>* p = nullptr;
    ASSERT_EQ(ComCreateReferenced(&p), S_OK);
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(p->QueryInterface(IID_IUnknown, &pv), E_UNEXPECTED);
    EXPECT_EQ(pv, nullptr);
    p->Release();
}

// The class object creates alone and in aggregates; the module's cached reference does not
// hold the module, a host's reference and LockServer do.
TEST_F(ComBaseTest, ClassFactoryCreatesAndLocksTheServer)
{
    CComObjectCached<CComClassFactory<CWidget>>* pFactory = nullptr;
    ASSERT_EQ(CComObjectCached<CComClassFactory<CWidget>>::CreateReferenced(&pFactory), S_OK);
    EXPECT_EQ(CComModuleCount::GetLockCount(), m_nLocksBefore) << "the module's own reference";

    CComPtr<IClassFactory> spFactory;
    ASSERT_EQ(pFactory->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&spFactory)), S_OK);
    EXPECT_EQ(CComModuleCount::GetLockCount(), m_nLocksBefore + 1) << "a host's reference";

    CComPtr<IPersist> spPersist;
    ASSERT_EQ(spFactory->CreateInstance(nullptr, IID_IPersist, reinterpret_cast<void**>(&spPersist)), S_OK);
    EXPECT_EQ(CComModuleCount::GetLockCount(), m_nLocksBefore + 2);
    spPersist.Release();

    COuter outer;
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(spFactory->CreateInstance(&outer, IID_IPersist, &pv), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(pv, nullptr);
    ASSERT_EQ(spFactory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.m_pInner)), S_OK);
    CComPtr<IPersist> spInner;
    ASSERT_EQ(outer.QueryInterface(IID_IPersist, reinterpret_cast<void**>(&spInner)), S_OK);
    spInner.Release();
    outer.m_pInner->Release();
    EXPECT_EQ(g_nFinalReleases, 2);

    EXPECT_EQ(spFactory->LockServer(TRUE), S_OK);
    EXPECT_EQ(CComModuleCount::GetLockCount(), m_nLocksBefore + 2);
    EXPECT_EQ(spFactory->LockServer(FALSE), S_OK);
    spFactory.Release();
    EXPECT_EQ(CComModuleCount::GetLockCount(), m_nLocksBefore);
    EXPECT_EQ(pFactory->Release(), 0u);
}

TEST(ComPtrs, BstrCopiesAndFrees)
{
    CComBSTR bs(L"Tonewell");
    EXPECT_EQ(bs.Length(), 8u);
    BSTR copy = nullptr;
    ASSERT_EQ(bs.CopyTo(&copy), S_OK);
    EXPECT_NE(copy, bs.m_str);
    EXPECT_STREQ(copy, L"Tonewell");
    SysFreeString(copy);
    EXPECT_EQ(bs.CopyTo(nullptr), E_POINTER);
    CComBSTR empty;
    ASSERT_EQ(empty.CopyTo(&copy), S_OK);
    EXPECT_EQ(copy, nullptr);
}
}
