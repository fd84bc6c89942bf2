// Owning smart pointers for interfaces and BSTR strings.
#pragma once
#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

#include <memory>

// Counted interface pointer: releases what it holds.
template <class T>
class CComPtr
{
public:
    CComPtr() : p(nullptr) {}
    CComPtr(T* pOther) : p(pOther) { if (p) p->AddRef(); }
    CComPtr(const CComPtr& other) : CComPtr(other.p) {}
    CComPtr(CComPtr&& other) noexcept : p(other.p) { other.p = nullptr; }
    ~CComPtr() { Release(); }

    CComPtr& operator=(T* pOther)
    {
        if (pOther)
            pOther->AddRef();
        Release();
        p = pOther;
        return *this;
    }
    CComPtr& operator=(const CComPtr& other)
    {
        // operator& is the out-parameter form; the object's own address is wanted here.
        if (this != std::addressof(other))
            *this = other.p;
        return *this;
    }
    CComPtr& operator=(CComPtr&& other) noexcept
    {
        // operator& is the out-parameter form; the object's own address is wanted here.
        if (this != std::addressof(other))
        {
            Release();
            p = other.p;
            other.p = nullptr;
        }
        return *this;
    }

    operator T*() const { return p; }
    T* operator->() const { return p; }
    T& operator*() const { return *p; }
    // For out parameters: the pointer must be empty.
    T** operator&() { return &p; }
    bool operator!() const { return p == nullptr; }

    void Release()
    {
        T* pOld = p;
        p = nullptr;
        if (pOld)
            pOld->Release();
    }
    void Attach(T* pOther)
    {
        Release();
        p = pOther;
    }
    T* Detach()
    {
        T* pOld = p;
        p = nullptr;
        return pOld;
    }
    HRESULT CopyTo(T** pp) const
    {
        if (pp == nullptr)
            return E_POINTER;
        *pp = p;
        if (p)
            p->AddRef();
        return S_OK;
    }
    template <class Q>
    HRESULT QueryInterface(Q** pp) const
    {
        if (pp == nullptr)
            return E_POINTER;
        *pp = nullptr;
        return p ? p->QueryInterface(__uuidof(Q), reinterpret_cast<void**>(pp)) : E_POINTER;
    }
    bool IsEqualObject(IUnknown* pOther) const
    {
        if (p == nullptr || pOther == nullptr)
            return p == nullptr && pOther == nullptr;
        IUnknown* pUnk1 = nullptr;
        IUnknown* pUnk2 = nullptr;
        p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnk1));
        pOther->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnk2));
        bool bEqual = pUnk1 != nullptr && pUnk1 == pUnk2;
        if (pUnk1)
            pUnk1->Release();
        if (pUnk2)
            pUnk2->Release();
        return bEqual;
    }

    T* p;
};

// Counted pointer filled by QueryInterface from any interface pointer.
template <class T>
class CComQIPtr : public CComPtr<T>
{
public:
    CComQIPtr() = default;
    CComQIPtr(IUnknown* pUnk)
    {
        if (pUnk)
            pUnk->QueryInterface(__uuidof(T), reinterpret_cast<void**>(&this->p));
    }
    CComQIPtr& operator=(IUnknown* pUnk)
    {
        T* pNew = nullptr;
        if (pUnk)
            pUnk->QueryInterface(__uuidof(T), reinterpret_cast<void**>(&pNew));
        this->Attach(pNew);
        return *this;
    }
};

// Owning BSTR.
class CComBSTR
{
public:
    CComBSTR() : m_str(nullptr) {}
    CComBSTR(LPCOLESTR psz) : m_str(psz ? SysAllocString(psz) : nullptr) {}
    CComBSTR(const CComBSTR& other) : m_str(other.Copy()) {}
    ~CComBSTR() { Empty(); }
    CComBSTR& operator=(LPCOLESTR psz)
    {
        BSTR strNew = psz ? SysAllocString(psz) : nullptr;
        Empty();
        m_str = strNew;
        return *this;
    }
    CComBSTR& operator=(const CComBSTR& other)
    {
        if (this != &other)
        {
            BSTR strNew = other.Copy();
            Empty();
            m_str = strNew;
        }
        return *this;
    }

    operator BSTR() const { return m_str; }
    BSTR* operator&() { return &m_str; }
    bool operator!() const { return m_str == nullptr; }
    UINT Length() const { return m_str ? SysStringLen(m_str) : 0; }

    void Empty()
    {
        if (m_str)
            SysFreeString(m_str);
        m_str = nullptr;
    }
    BSTR Copy() const { return m_str ? SysAllocStringLen(m_str, SysStringLen(m_str)) : nullptr; }
    // Stores a new copy in *pbstr: S_OK, E_POINTER, or E_OUTOFMEMORY when a set string
    // cannot be copied.
    HRESULT CopyTo(BSTR* pbstr) const
    {
        if (pbstr == nullptr)
            return E_POINTER;
        *pbstr = Copy();
        return (*pbstr == nullptr && m_str != nullptr) ? E_OUTOFMEMORY : S_OK;
    }
    void Attach(BSTR str)
    {
        Empty();
        m_str = str;
    }
    BSTR Detach()
    {
        BSTR str = m_str;
        m_str = nullptr;
        return str;
    }

    BSTR m_str;
};
