// Map-driven persistence: a class lists its persisted members in a static map and the
// templates here load, save, size and dirty-test it through an IStream. The stream holds
// nothing but the members' bytes in map order; only strings carry a byte count.
//
//     BEGIN_PERSIST_MAP(CMyObject)
//         PERSIST_ENTRY(m_clsid)                 // plain field: its raw bytes
//         PERSIST_ENTRY_OBJECT(m_inner)          // embedded CPersistObject
//         PERSIST_ENTRY_INTERFACE(m_spOther)     // COM object with IPersistStream
//         PERSIST_ENTRY_POINTER(m_pPart)         // pointer to a CPersistObject
//         PERSIST_ENTRY_POINTER_INNER(m_pHost, m_settings)  // ... or to a member of it
//         PERSIST_ENTRY_BSTR(m_cbsName)          // string: byte count, UTF-16LE, terminator
//     END_PERSIST_MAP()
#pragma once
#include <windows.h>
#include <objidl.h>
#include <oleauto.h>

#include <type_traits>

#include "diagnostics/DSTrace.h"
#include "support/ComBase.h"
#include "support/ComPtr.h"

// Largest string byte count a stream may carry (1 MiB).
// The name is kept: the assertion text and the persistence code know the bound by it.
const ULONG _ATL_STREAM_MAX_SIZE = 0x100000;  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
// PersistSize's answer when the size cannot be told.
const ULONG PERSIST_SIZE_UNKNOWN = 0xFFFFFFFF;

// Anything that can persist itself into a stream.
class CPersistObject
{
public:
    virtual bool IsDirty() = 0;
    virtual HRESULT PersistLoad(IStream* pStm) = 0;
    virtual HRESULT PersistSave(IStream* pStm, BOOL fClearDirty) = 0;
    // The most PersistSave writes, or PERSIST_SIZE_UNKNOWN.
    virtual ULONG PersistSize() = 0;

protected:
    ~CPersistObject() = default;
};

// A string member in the stream: 4-byte count n (0 for a null string, otherwise
// (characters + 1) * 2), then the characters and a 0 terminator. Built on the fly around
// the member for each operation.
class CStreamBSTR : public CPersistObject
{
public:
    explicit CStreamBSTR(BSTR* pbstr) : m_pbstr(pbstr) {}

    bool IsDirty() override { return true; }
    HRESULT PersistLoad(IStream* pStm) override;
    HRESULT PersistSave(IStream* pStm, BOOL fClearDirty) override;
    ULONG PersistSize() override;

    BSTR* m_pbstr;
};

// ---------------------------------------------------------------- the map

// cbSizeOrId of a map entry: a byte count (> 0), one of these kinds, or the end.
enum : LONG
{
    PERSIST_END = 0,
    PERSIST_OBJECT = -1,     // embedded CPersistObject
    PERSIST_INTERFACE = -2,  // interface pointer to an object with IPersistStream
    PERSIST_POINTER = -3,    // pointer to an object holding a CPersistObject at dwInnerOffset
    PERSIST_BSTR = -4,       // BSTR member, through CStreamBSTR
};

struct PERSIST_MAP_ENTRY
{
    LONG cbSizeOrId;
    LONG nOffset;             // of the member (of its CPersistObject for PERSIST_OBJECT) in the object
    DWORD_PTR dwInnerOffset;  // PERSIST_POINTER: of the CPersistObject inside the pointed-to object
};

// The walk over a map for the object at pObject; CPersistObjectImpl's operations.
HRESULT PersistMapLoad(BYTE* pObject, const PERSIST_MAP_ENTRY* pMap, IStream* pStm);
HRESULT PersistMapSave(BYTE* pObject, const PERSIST_MAP_ENTRY* pMap, IStream* pStm, BOOL fClearDirty);
ULONG PersistMapSize(BYTE* pObject, const PERSIST_MAP_ENTRY* pMap);
bool PersistMapIsDirty(BYTE* pObject, const PERSIST_MAP_ENTRY* pMap);

// Offsets are taken on never-constructed storage of the class, as for interface tables.
template <class T>
T* PersistProbe()
{
    return reinterpret_cast<T*>(ComProbe<T>());
}

template <class T>
LONG PersistOffset(const void* pMember)
{
    return LONG(static_cast<const char*>(pMember) - ComProbe<T>());
}

// A plain entry is stored as its raw bytes and loaded back from any bytes, so each byte must
// carry value: no padding (its bytes are indeterminate when saved) and no bool (most byte
// values are no bool at all). Floating-point members qualify although two encodings compare
// equal (+0 and -0, NaNs): every byte still belongs to the value.
template <class M>
constexpr bool PersistPlainField()
{
    using E = std::remove_all_extents_t<M>;
    return std::is_trivially_copyable_v<M> && !std::is_pointer_v<E> && !std::is_same_v<E, bool> &&
           (std::has_unique_object_representations_v<E> || std::is_floating_point_v<E>);
}

template <class M>
LONG PersistFieldSize(const M*)
{
    static_assert(PersistPlainField<M>(),
                  "plain entries are stored as raw bytes: use a type without padding or bool, or the entry kind "
                  "for objects, pointers and strings");
    return LONG(sizeof(M));
}

template <class T, class I>
LONG PersistInterfaceOffset(I* const* ppMember)
{
    static_assert(std::is_base_of_v<IUnknown, I>, "PERSIST_ENTRY_INTERFACE needs an interface pointer");
    return PersistOffset<T>(ppMember);
}

template <class T, class I>
LONG PersistInterfaceOffset(const CComPtr<I>* pspMember)
{
    return PersistInterfaceOffset<T>(&pspMember->p);
}

template <class T>
LONG PersistBstrOffset(const BSTR* pMember)
{
    return PersistOffset<T>(pMember);
}

template <class T>
LONG PersistBstrOffset(const CComBSTR* pMember)
{
    return PersistOffset<T>(&pMember->m_str);
}

template <class P>
using PersistPointee = std::remove_pointer_t<P>;

template <class X>
DWORD_PTR PersistInnerOffset(CPersistObject* pInner)
{
    return DWORD_PTR(reinterpret_cast<char*>(pInner) - ComProbe<X>());
}

template <class T, class P>
LONG PersistPointerOffset(const P* pMember)
{
    static_assert(std::is_pointer_v<P>, "PERSIST_ENTRY_POINTER needs a plain pointer member");
    return PersistOffset<T>(pMember);
}

#define BEGIN_PERSIST_MAP(x)                                   \
    static const PERSIST_MAP_ENTRY* GetPersistMap()            \
    {                                                          \
        using _PersistMapClass = x;                            \
        static const PERSIST_MAP_ENTRY s_persistMap[] = {
#define PERSIST_ENTRY(member)                                                 \
    {PersistFieldSize(&PersistProbe<_PersistMapClass>()->member),             \
     PersistOffset<_PersistMapClass>(&PersistProbe<_PersistMapClass>()->member), 0},
#define PERSIST_ENTRY_OBJECT(member)                                                                          \
    {PERSIST_OBJECT,                                                                                          \
     PersistOffset<_PersistMapClass>(static_cast<CPersistObject*>(&PersistProbe<_PersistMapClass>()->member)), \
     0},
#define PERSIST_ENTRY_INTERFACE(member) \
    {PERSIST_INTERFACE, PersistInterfaceOffset<_PersistMapClass>(&PersistProbe<_PersistMapClass>()->member), 0},
#define PERSIST_ENTRY_POINTER_INNER(member, inner)                                                            \
    {PERSIST_POINTER, PersistPointerOffset<_PersistMapClass>(&PersistProbe<_PersistMapClass>()->member),      \
     PersistInnerOffset<PersistPointee<decltype(_PersistMapClass::member)>>(                                  \
         &PersistProbe<PersistPointee<decltype(_PersistMapClass::member)>>()->inner)},
#define PERSIST_ENTRY_POINTER(member)                                                                    \
    {PERSIST_POINTER, PersistPointerOffset<_PersistMapClass>(&PersistProbe<_PersistMapClass>()->member), \
     PersistInnerOffset<PersistPointee<decltype(_PersistMapClass::member)>>(                             \
         PersistProbe<PersistPointee<decltype(_PersistMapClass::member)>>())},
#define PERSIST_ENTRY_BSTR(member) \
    {PERSIST_BSTR, PersistBstrOffset<_PersistMapClass>(&PersistProbe<_PersistMapClass>()->member), 0},
#define END_PERSIST_MAP()      \
            {PERSIST_END, 0, 0}}; \
        return s_persistMap;   \
    }

// ---------------------------------------------------------------- the templates

// CPersistObject for T by walking T::GetPersistMap(), with the dirty flag. T supplies
// ObjectName, its trace name.
template <class T>
class CPersistObjectImpl : public CPersistObject
{
public:
    bool IsDirty() override { return m_bDirty || PersistMapIsDirty(Object(), T::GetPersistMap()); }

    HRESULT PersistLoad(IStream* pStm) override
    {
        DebugTrace(atlTraceCOM, 10, L"%s PersistLoad()\n", ObjectName());
        HRESULT hr = PersistMapLoad(Object(), T::GetPersistMap(), pStm);
        if (hr == S_OK)
            m_bDirty = false;
        return hr;
    }

    HRESULT PersistSave(IStream* pStm, BOOL fClearDirty) override
    {
        DebugTrace(atlTraceCOM, 10, L"%s PersistSave()\n", ObjectName());
        HRESULT hr = PersistMapSave(Object(), T::GetPersistMap(), pStm, fClearDirty);
        if (hr == S_OK && fClearDirty)
            m_bDirty = false;
        return hr;
    }

    ULONG PersistSize() override
    {
        DebugTrace(atlTraceCOM, 10, L"%s PersistSize()\n", ObjectName());
        return PersistMapSize(Object(), T::GetPersistMap());
    }

    virtual LPCWSTR ObjectName() = 0;

    // For T when a persisted member changes.
    void SetDirty(bool bDirty) { m_bDirty = bDirty; }

protected:
    bool m_bDirty = false;

private:
    BYTE* Object() { return reinterpret_cast<BYTE*>(static_cast<T*>(this)); }
};

// IPersistStream::IsDirty has CPersistObject::IsDirty's signature but another result,
// so no class can override both; this layer answers it through a name of its own.
class IPersistStreamBridge : public IPersistStream
{
public:
    STDMETHOD(IsDirty)() final { return StreamIsDirty(); }

protected:
    virtual HRESULT StreamIsDirty() = 0;
};

// IPersistStream over T's map. T supplies GetObjectCLSID() (static) for GetClassID.
template <class T>
class IPersistStreamImpl : public CPersistObjectImpl<T>, public IPersistStreamBridge
{
public:
    STDMETHOD(GetClassID)(CLSID* pClassID) override
    {
        DebugTrace(atlTraceCOM, 10, L"%s IPersistStream::GetClassID()\n", this->ObjectName());
        DS_ASSERT(pClassID != NULL);
        if (pClassID == NULL)
            return E_INVALIDARG;
        *pClassID = T::GetObjectCLSID();
        return S_OK;
    }

    STDMETHOD(Load)(IStream* pStm) override
    {
        DebugTrace(atlTraceCOM, 10, L"%s IPersistStream::Load()\n", this->ObjectName());
        HRESULT hr = this->PersistLoad(pStm);
        if (hr == S_OK)
            this->m_bDirty = false;
        return hr;
    }

    STDMETHOD(Save)(IStream* pStm, BOOL fClearDirty) override
    {
        DebugTrace(atlTraceCOM, 10, L"%s IPersistStream::Save()\n", this->ObjectName());
        HRESULT hr = this->PersistSave(pStm, fClearDirty);
        if (hr == S_OK && fClearDirty)
            this->m_bDirty = false;
        return hr;
    }

    STDMETHOD(GetSizeMax)(ULARGE_INTEGER* pcbSize) override
    {
        DebugTrace(atlTraceCOM, 10, L"%s IPersistStream::GetSizeMax()\n", this->ObjectName());
        DS_ASSERT(pcbSize != NULL);
        if (pcbSize == NULL)
            return E_POINTER;
        ULONG cbSize = this->PersistSize();
        if (cbSize == PERSIST_SIZE_UNKNOWN)
            return E_FAIL;
        pcbSize->QuadPart = cbSize;
        return S_OK;
    }

protected:
    HRESULT StreamIsDirty() override
    {
        DebugTrace(atlTraceCOM, 10, L"%s IPersistStream::IsDirty()\n", this->ObjectName());
        return static_cast<CPersistObject*>(this)->IsDirty() ? S_OK : S_FALSE;
    }
};
