// Persisted test classes with one entry of every kind, and canaries around the plain
// fields that no load may touch.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <string>
#include <vector>

#include "support/ComBase.h"
#include "support/Persist.h"

namespace persisttest
{
inline constexpr CLSID CLSID_EveryKind = {0x2C51E0A7, 0x3B8F, 0x4D16, {0x9E, 0x40, 0x71, 0xA2, 0x5C, 0x0D, 0x8B, 0x13}};
const DWORD kCanary = 0xC0DEFACE;

// A COM object answering IPersistStream over T's persistence map.
template <class T>
class CPersistedObject : public CComObjectRoot, public IPersistStreamImpl<T>
{
public:
    BEGIN_COM_MAP(CPersistedObject)
        COM_INTERFACE_ENTRY(IPersistStream)
    END_COM_MAP()
    static const CLSID& GetObjectCLSID() { return CLSID_EveryKind; }
    LPCWSTR ObjectName() override { return L"(persisted test object)"; }
};

// Creates a T; the returned pointer holds its one reference.
template <class T>
CComPtr<IPersistStream> CreatePersisted(T** ppObject)
{
    CComObject<T>* p = nullptr;
    CComPtr<IPersistStream> spStream;
    if (SUCCEEDED(CComObject<T>::CreateUnreferenced(&p)))
        spStream = static_cast<IPersistStream*>(p);
    *ppObject = p;
    return spStream;
}

// A nested object: a count and a label.
class CPart : public CPersistObjectImpl<CPart>
{
public:
    BEGIN_PERSIST_MAP(CPart)
        PERSIST_ENTRY(m_nCount)
        PERSIST_ENTRY_BSTR(m_cbsLabel)
    END_PERSIST_MAP()
    LPCWSTR ObjectName() override { return L"(CPart)"; }

    LONG m_nCount = 0;
    CComBSTR m_cbsLabel;
};

// Something with a virtual table before the part, so the part's CPersistObject lies inside.
class CTag
{
public:
    virtual ~CTag() = default;
    DWORD m_dwTag = kCanary;
};

class CTaggedPart : public CTag, public CPart
{
};

// A host whose part does not sit at its start (PERSIST_ENTRY_POINTER_INNER).
struct CPartHost
{
    double m_dblOther = 0;
    CPart m_part;
};

// A COM object persisted through its IPersistStream.
class CStreamPart : public CPersistedObject<CStreamPart>
{
public:
    BEGIN_PERSIST_MAP(CStreamPart)
        PERSIST_ENTRY(m_guid)
    END_PERSIST_MAP()

    GUID m_guid = {};
};

// A COM object without IPersistStream.
class CNotPersistable : public CComObjectRoot, public IPersist
{
public:
    BEGIN_COM_MAP(CNotPersistable)
        COM_INTERFACE_ENTRY(IPersist)
    END_COM_MAP()
    STDMETHOD(GetClassID)(CLSID* pClassID) override
    {
        *pClassID = CLSID_NULL;
        return S_OK;
    }
};

// One entry of every kind.
class CEveryKind : public CPersistedObject<CEveryKind>
{
public:
    BEGIN_PERSIST_MAP(CEveryKind)
        PERSIST_ENTRY(m_clsid)
        PERSIST_ENTRY(m_nShort)
        PERSIST_ENTRY(m_anArray)
        PERSIST_ENTRY(m_dblLevel)
        PERSIST_ENTRY_OBJECT(m_part)
        PERSIST_ENTRY_INTERFACE(m_spStreamPart)
        PERSIST_ENTRY_POINTER(m_pPart)
        PERSIST_ENTRY_POINTER_INNER(m_pHost, m_part)
        PERSIST_ENTRY_BSTR(m_cbsName)
        PERSIST_ENTRY_BSTR(m_bstrNote)
    END_PERSIST_MAP()
    HRESULT FinalConstruct();
    void FinalRelease();

    // Distinct values for every persisted member; strings of the same lengths for every
    // seed, so streams of different seeds share one layout.
    void Fill(int nSeed);
    bool CanariesIntact() const;
    // Every leaf entry in stream order: its byte count, and whether it is a string.
    struct Leaf
    {
        size_t cb;
        bool bString;
    };
    std::vector<Leaf> Leaves() const;

    CStreamPart* StreamPart() const { return m_pStreamPart; }

    GUID m_clsid = {};
    DWORD m_dwCanary0 = kCanary;
    SHORT m_nShort = 0;
    DWORD m_dwCanary1 = kCanary;
    LONG m_anArray[4] = {};
    DWORD m_dwCanary2 = kCanary;
    double m_dblLevel = 0;
    DWORD m_dwCanary3 = kCanary;
    CTaggedPart m_part;
    CComPtr<IUnknown> m_spStreamPart;
    CPart* m_pPart = &m_partPointed;
    CPartHost* m_pHost = &m_host;
    CComBSTR m_cbsName;
    BSTR m_bstrNote = nullptr;
    DWORD m_dwCanary4 = kCanary;

    CPart m_partPointed;
    CPartHost m_host;
    CStreamPart* m_pStreamPart = nullptr;  // the object behind m_spStreamPart
};
}
