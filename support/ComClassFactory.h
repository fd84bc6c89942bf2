// Class objects: the standard class factory of a class, and the cached object that holds
// it for the module's life without keeping the module loaded.
#pragma once
#include "support/ComBase.h"

// A heap object the module keeps one reference to. That reference does not count as a
// module lock; every other one does, so a host holding the class object keeps the module.
template <class Base>
class CComObjectCached final : public Base
{
public:
    CComObjectCached() = default;
    ~CComObjectCached()
    {
        this->m_nRef = -(LONG_MAX / 2);
        this->FinalRelease();
    }

    STDMETHOD_(ULONG, AddRef)() override
    {
        ULONG nRef = this->InternalAddRef();
        if (nRef == 2)
            CComModuleCount::Lock();
        return nRef;
    }
    STDMETHOD_(ULONG, Release)() override
    {
        ULONG nRef = this->InternalRelease();
        if (nRef == 0)
            delete this;
        else if (nRef == 1)
            CComModuleCount::Unlock();
        return nRef;
    }
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override { return this->_InternalQueryInterface(riid, ppv); }

    // The module's own reference comes with the object.
    static HRESULT CreateReferenced(CComObjectCached<Base>** pp)
    {
        if (pp == nullptr)
            return E_POINTER;
        *pp = nullptr;
        auto* p = new (std::nothrow) CComObjectCached<Base>();
        if (p == nullptr)
            return E_OUTOFMEMORY;
        p->InternalAddRef();
        HRESULT hr = p->FinalConstruct();
        if (FAILED(hr))
        {
            delete p;
            return hr;
        }
        *pp = p;
        return hr;
    }
};

// Creates objects of T alone or inside an outer object; LockServer holds the module.
template <class T>
class CComClassFactory : public CComObjectRoot, public IClassFactory
{
public:
    BEGIN_COM_MAP(CComClassFactory)
        COM_INTERFACE_ENTRY(IClassFactory)
    END_COM_MAP()

    STDMETHOD(CreateInstance)(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        return ComCreateReferencedInterface<T>(pOuter, riid, ppv);
    }
    STDMETHOD(LockServer)(BOOL bLock) override
    {
        if (bLock)
            CComModuleCount::Lock();
        else
            CComModuleCount::Unlock();
        return S_OK;
    }
};
