// The COM-object layer every object of the module rests on: an interlocked reference
// count, a recursive object lock, interface lookup through a table in declared order
// (the first entry also answers IUnknown), optional aggregation, the FinalConstruct and
// FinalRelease hooks, and the module's count of live objects and server locks.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <new>

// The calling thread's last system error as an HRESULT; E_FAIL when there is none.
inline HRESULT HResultFromLastError()
{
    DWORD dwError = GetLastError();
    return dwError != 0 ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}

// ---------------------------------------------------------------- module lock count

// Live objects plus server locks; the module may unload when it is 0.
class CComModuleCount
{
public:
    static LONG Lock() { return InterlockedIncrement(&s_nLocks); }
    static LONG Unlock() { return InterlockedDecrement(&s_nLocks); }
    static LONG GetLockCount() { return s_nLocks; }

private:
    static inline volatile LONG s_nLocks = 0;
};

// ---------------------------------------------------------------- locks and threading models

class CComCriticalSection
{
public:
    CComCriticalSection() { InitializeCriticalSection(&m_sec); }
    ~CComCriticalSection() { DeleteCriticalSection(&m_sec); }
    CComCriticalSection(const CComCriticalSection&) = delete;
    CComCriticalSection& operator=(const CComCriticalSection&) = delete;
    void Lock() { EnterCriticalSection(&m_sec); }
    void Unlock() { LeaveCriticalSection(&m_sec); }

private:
    CRITICAL_SECTION m_sec;
};

class CComFakeCriticalSection
{
public:
    void Lock() {}
    void Unlock() {}
};

// Holds a lock for a scope; works with anything that has Lock() and Unlock().
template <typename TLockable>
class CComLockGuard
{
public:
    explicit CComLockGuard(TLockable& lockable) : m_lockable(lockable) { m_lockable.Lock(); }
    explicit CComLockGuard(TLockable* pLockable) : m_lockable(*pLockable) { m_lockable.Lock(); }
    ~CComLockGuard() { m_lockable.Unlock(); }
    CComLockGuard(const CComLockGuard&) = delete;
    CComLockGuard& operator=(const CComLockGuard&) = delete;

private:
    TLockable& m_lockable;
};

struct CComMultiThreadModel
{
    static ULONG Increment(volatile LONG* p) { return ULONG(InterlockedIncrement(p)); }
    static ULONG Decrement(volatile LONG* p) { return ULONG(InterlockedDecrement(p)); }
    using CriticalSection = CComCriticalSection;
};

// Interlocked counting with no lock of its own: for objects whose object lock is never
// taken, such as objects built in place in large numbers.
struct CComMultiThreadModelNoCS
{
    static ULONG Increment(volatile LONG* p) { return ULONG(InterlockedIncrement(p)); }
    static ULONG Decrement(volatile LONG* p) { return ULONG(InterlockedDecrement(p)); }
    using CriticalSection = CComFakeCriticalSection;
};

struct CComSingleThreadModel
{
    static ULONG Increment(volatile LONG* p)
    {
        LONG n = *p + 1;
        *p = n;
        return ULONG(n);
    }
    static ULONG Decrement(volatile LONG* p)
    {
        LONG n = *p - 1;
        *p = n;
        return ULONG(n);
    }
    using CriticalSection = CComFakeCriticalSection;
};

// ---------------------------------------------------------------- interface table

struct CComInterfaceEntry;
typedef HRESULT (*PFN_COM_ENTRY)(void* pThis, const CComInterfaceEntry* pEntry, REFIID riid, void** ppv);

// One row of an object's interface table: either an offset from the object to the
// interface (pfn null) or a function that answers the query (aggregated inner objects).
struct CComInterfaceEntry
{
    const IID* piid;
    DWORD_PTR dw;
    PFN_COM_ENTRY pfn;
};

// Storage the size of T, never constructed: only addresses inside it are computed.
template <class T>
char* ComProbe()
{
    alignas(T) static char s_probe[sizeof(T)];
    return s_probe;
}

// Offset of interface I (reached through Via where I is inherited more than once).
template <class T, class I, class Via = I>
DWORD_PTR ComInterfaceOffset()
{
    T* pObject = reinterpret_cast<T*>(ComProbe<T>());
    return DWORD_PTR(reinterpret_cast<char*>(static_cast<I*>(static_cast<Via*>(pObject))) - ComProbe<T>());
}

// Table rows delegating to an aggregated inner object held in an IUnknown* member.
HRESULT ComDelegateToMember(void* pThis, const CComInterfaceEntry* pEntry, REFIID riid, void** ppv);

#define BEGIN_COM_MAP(x)                                                                   \
    using _ComMapClass = x;                                                                \
    static LPCSTR _GetComMapName() { return #x; }                                          \
    static const CComInterfaceEntry* _GetEntries()                                         \
    {                                                                                      \
        static const CComInterfaceEntry s_entries[] = {
#define COM_INTERFACE_ENTRY(I) {&__uuidof(I), ComInterfaceOffset<_ComMapClass, I>(), nullptr},
#define COM_INTERFACE_ENTRY_IID(iid, I) {&(iid), ComInterfaceOffset<_ComMapClass, I>(), nullptr},
#define COM_INTERFACE_ENTRY2(I, Via) {&__uuidof(I), ComInterfaceOffset<_ComMapClass, I, Via>(), nullptr},
// punk: a member holding the inner object's IUnknown pointer (IUnknown* or a smart pointer to it).
#define COM_INTERFACE_ENTRY_AGGREGATE(iid, punk)                                                         \
    {&(iid),                                                                                                \
     DWORD_PTR(reinterpret_cast<char*>(&reinterpret_cast<_ComMapClass*>(ComProbe<_ComMapClass>())->punk) - \
               ComProbe<_ComMapClass>()),                                                                   \
     &ComDelegateToMember},
#define END_COM_MAP()                                                                      \
            {nullptr, 0, nullptr}};                                                        \
        return s_entries;                                                                  \
    }                                                                                      \
    HRESULT _InternalQueryInterface(REFIID riid, void** ppv)                               \
    {                                                                                      \
        return InternalQueryInterface(this, _GetEntries(), riid, ppv);                     \
    }                                                                                      \
    /* The object's identity: the outer object when aggregated, else the first entry. */  \
    IUnknown* GetControllingUnknown()                                                      \
    {                                                                                      \
        if (IUnknown* pOuter = this->GetOuterUnknown())                                        \
            return pOuter;                                                                 \
        return reinterpret_cast<IUnknown*>(reinterpret_cast<char*>(this) + _GetEntries()->dw); \
    }

// ---------------------------------------------------------------- object root

class CComObjectRootBase
{
public:
    CComObjectRootBase() : m_nRef(0), m_pOuterUnknown(nullptr) {}

    // Hooks around the object's life; the concrete class hides them as it needs.
    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}

    // Finds riid in the table; IID_IUnknown answers the first entry, which must be a plain
    // interface row (an aggregate row there has no interface of the object to answer with).
    static HRESULT InternalQueryInterface(void* pThis, const CComInterfaceEntry* pEntries, REFIID riid, void** ppv);

    ULONG OuterAddRef() { return m_pOuterUnknown->AddRef(); }
    ULONG OuterRelease() { return m_pOuterUnknown->Release(); }
    HRESULT OuterQueryInterface(REFIID riid, void** ppv) { return m_pOuterUnknown->QueryInterface(riid, ppv); }
    void SetOuterUnknown(IUnknown* pOuter) { m_pOuterUnknown = pOuter; }
    IUnknown* GetOuterUnknown() const { return m_pOuterUnknown; }

protected:
    volatile LONG m_nRef;
    IUnknown* m_pOuterUnknown;  // the controlling object when aggregated; not counted
};

template <class ThreadModel>
class CComObjectRootEx : public CComObjectRootBase
{
public:
    using ThreadModelType = ThreadModel;

    ULONG InternalAddRef() { return ThreadModel::Increment(&m_nRef); }
    ULONG InternalRelease() { return ThreadModel::Decrement(&m_nRef); }

    // The object lock: recursive, held by the object's own operations as they need.
    void Lock() { m_critsec.Lock(); }
    void Unlock() { m_critsec.Unlock(); }

private:
    typename ThreadModel::CriticalSection m_critsec;
};

using CComObjectRoot = CComObjectRootEx<CComMultiThreadModel>;

// ---------------------------------------------------------------- concrete objects

// A heap object standing alone. Construction and FinalConstruct run with the count
// held at 1 so that a QueryInterface/Release pair inside FinalConstruct cannot free it.
// Final: it deletes itself as the most derived class, so no virtual destructor is needed.
template <class Base>
class CComObject final : public Base
{
public:
    template <typename... Args>
    explicit CComObject(Args&&... args) : Base(static_cast<Args&&>(args)...) { CComModuleCount::Lock(); }
    // Virtual only where Base's destructor is: 'override' would not compile for the others.
    ~CComObject()  // NOLINT(cppcoreguidelines-explicit-virtual-functions)
    {
        this->m_nRef = -(LONG_MAX / 2);
        this->FinalRelease();
        CComModuleCount::Unlock();
    }

    STDMETHOD_(ULONG, AddRef)() override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() override
    {
        ULONG nRef = this->InternalRelease();
        if (nRef == 0)
            delete this;
        return nRef;
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override { return this->_InternalQueryInterface(riid, ppv); }

    // Creates the object with a count of 0 and FinalConstruct done.
    template <typename... Args>
    static HRESULT CreateUnreferenced(CComObject<Base>** pp, Args&&... args)
    {
        if (pp == nullptr)
            return E_POINTER;
        *pp = nullptr;
        auto* p = new (std::nothrow) CComObject<Base>(static_cast<Args&&>(args)...);
        if (p == nullptr)
            return E_OUTOFMEMORY;
        // One reference guards the object during FinalConstruct; any it takes for itself still count.
        InterlockedIncrement(&p->m_nRef);
        HRESULT hr = p->FinalConstruct();
        InterlockedDecrement(&p->m_nRef);
        if (FAILED(hr))
        {
            delete p;
            return hr;
        }
        *pp = p;
        return hr;
    }
};

// The part of an aggregated object that the outer object sees: its IUnknown calls go
// to the controlling unknown.
template <class Base>
class CComContainedObject : public Base
{
public:
    explicit CComContainedObject(IUnknown* pOuter) { this->SetOuterUnknown(pOuter); }
    STDMETHOD_(ULONG, AddRef)() override { return this->OuterAddRef(); }
    STDMETHOD_(ULONG, Release)() override { return this->OuterRelease(); }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override { return this->OuterQueryInterface(riid, ppv); }
};

// An object created inside an outer object; its own IUnknown is the non-delegating one
// that the outer object keeps.
template <class Base>
class CComAggObject : public IUnknown
{
public:
    explicit CComAggObject(IUnknown* pOuter) : m_nRef(0), m_contained(pOuter) { CComModuleCount::Lock(); }
    virtual ~CComAggObject()
    {
        m_nRef = -(LONG_MAX / 2);
        m_contained.FinalRelease();
        CComModuleCount::Unlock();
    }

    STDMETHOD_(ULONG, AddRef)() override { return ULONG(InterlockedIncrement(&m_nRef)); }
    STDMETHOD_(ULONG, Release)() override
    {
        LONG nRef = InterlockedDecrement(&m_nRef);
        if (nRef == 0)
            delete this;
        return ULONG(nRef);
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (InlineIsEqualGUID(riid, IID_IUnknown))
        {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_contained._InternalQueryInterface(riid, ppv);
    }

    static HRESULT CreateUnreferenced(IUnknown* pOuter, CComAggObject<Base>** pp)
    {
        if (pp == nullptr)
            return E_POINTER;
        *pp = nullptr;
        if (pOuter == nullptr)
            return E_INVALIDARG;
        auto* p = new (std::nothrow) CComAggObject<Base>(pOuter);
        if (p == nullptr)
            return E_OUTOFMEMORY;
        InterlockedIncrement(&p->m_nRef);
        HRESULT hr = p->m_contained.FinalConstruct();
        InterlockedDecrement(&p->m_nRef);
        if (FAILED(hr))
        {
            delete p;
            return hr;
        }
        *pp = p;
        return hr;
    }

    Base* Contained() { return &m_contained; }

private:
    volatile LONG m_nRef;
    CComContainedObject<Base> m_contained;
};

// Creates Base alone or inside pOuter and returns riid; as a class factory does.
// Aggregation asks for IUnknown only (CLASS_E_NOAGGREGATION otherwise).
template <class Base>
HRESULT ComCreateReferencedInterface(IUnknown* pOuter, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    HRESULT hr;
    if (pOuter != nullptr)
    {
        if (!InlineIsEqualGUID(riid, IID_IUnknown))
            return CLASS_E_NOAGGREGATION;
        CComAggObject<Base>* p = nullptr;
        hr = CComAggObject<Base>::CreateUnreferenced(pOuter, &p);
        if (SUCCEEDED(hr))
        {
            p->AddRef();
            hr = p->QueryInterface(riid, ppv);
            p->Release();
        }
    }
    else
    {
        CComObject<Base>* p = nullptr;
        hr = CComObject<Base>::CreateUnreferenced(&p);
        if (SUCCEEDED(hr))
        {
            p->AddRef();
            hr = p->QueryInterface(riid, ppv);
            p->Release();
        }
    }
    return hr;
}
