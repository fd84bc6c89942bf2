// The walk over a persistence map: load, save, size and dirty test. Every walk stops at
// the first failing entry; success codes other than S_OK count as failures (E_FAIL).
#include "support/Persist.h"
#include "support/PersistIo.h"

#include <string.h>

#include <memory>
#include <new>

namespace
{
// Reports a fixed text as a failed assertion of this file.
#define PERSIST_REPORT(text) DebugAssert(false, __FILE_NAME__, __LINE__, text)

// The CPersistObject of a PERSIST_OBJECT or PERSIST_POINTER entry; null when the pointer is.
CPersistObject* NestedObject(BYTE* pObject, const PERSIST_MAP_ENTRY& entry)
{
    BYTE* pMember = pObject + entry.nOffset;
    if (entry.cbSizeOrId == PERSIST_OBJECT)
        return reinterpret_cast<CPersistObject*>(pMember);
    BYTE* pTarget = *reinterpret_cast<BYTE**>(pMember);
    DS_ASSERT(pTarget != NULL);
    return pTarget ? reinterpret_cast<CPersistObject*>(pTarget + entry.dwInnerOffset) : nullptr;
}

// The IPersistStream of a PERSIST_INTERFACE entry; empty for a null member or a failed query.
CComQIPtr<IPersistStream> NestedStream(BYTE* pObject, const PERSIST_MAP_ENTRY& entry)
{
    return CComQIPtr<IPersistStream>(*reinterpret_cast<IUnknown**>(pObject + entry.nOffset));
}

CStreamBSTR NestedString(BYTE* pObject, const PERSIST_MAP_ENTRY& entry)
{
    return CStreamBSTR(reinterpret_cast<BSTR*>(pObject + entry.nOffset));
}

// Reads through a buffer of its own so that a short read leaves the field as it was.
HRESULT ReadField(IStream* pStm, BYTE* pField, ULONG cb)
{
    std::unique_ptr<BYTE[]> apBuffer(new (std::nothrow) BYTE[cb]);
    if (!apBuffer)
        return E_OUTOFMEMORY;
    ULONG cbRead = 0;
    HRESULT hr = PersistStrictResult(pStm->Read(apBuffer.get(), cb, &cbRead));
    if (hr != S_OK)
        return hr;
    if (cbRead != cb)
        return E_FAIL;
    memcpy(pField, apBuffer.get(), cb);
    return S_OK;
}

// Load and save walk the map alike; only what happens to each entry differs.
struct CTransfer
{
    IStream* pStm;
    bool bLoad;
    BOOL fClearDirty;

    HRESULT Nested(CPersistObject* pNested) const
    {
        return PersistStrictResult(bLoad ? pNested->PersistLoad(pStm) : pNested->PersistSave(pStm, fClearDirty));
    }
    HRESULT Stream(IPersistStream* pNested) const
    {
        return PersistStrictResult(bLoad ? pNested->Load(pStm) : pNested->Save(pStm, fClearDirty));
    }
    HRESULT Field(BYTE* pField, ULONG cb) const
    {
        return bLoad ? ReadField(pStm, pField, cb) : PersistWriteExact(pStm, pField, cb);
    }
    void ReportNoStream() const
    {
        if (bLoad)
            PERSIST_REPORT("CPersistObjectImpl::PersistLoad(): QI(IPersistStream) FAILED");
        else
            PERSIST_REPORT("CPersistObjectImpl::PersistSave(): QI(IPersistStream) FAILED");
    }
};

HRESULT TransferEntry(BYTE* pObject, const PERSIST_MAP_ENTRY* pMap, int i, const CTransfer& transfer)
{
    const PERSIST_MAP_ENTRY& entry = pMap[i];
    switch (entry.cbSizeOrId)
    {
    case PERSIST_OBJECT:
    case PERSIST_POINTER:
    {
        CPersistObject* pNested = NestedObject(pObject, entry);
        return pNested ? transfer.Nested(pNested) : E_POINTER;
    }
    case PERSIST_INTERFACE:
    {
        CComQIPtr<IPersistStream> spStream = NestedStream(pObject, entry);
        if (!spStream)
        {
            transfer.ReportNoStream();
            return E_NOINTERFACE;
        }
        return transfer.Stream(spStream);
    }
    case PERSIST_BSTR:
    {
        CStreamBSTR str = NestedString(pObject, entry);
        return transfer.Nested(&str);
    }
    default:
        DS_ASSERT(0 < pMap[i].cbSizeOrId);
        if (entry.cbSizeOrId < 0)
            return E_UNEXPECTED;
        return transfer.Field(pObject + entry.nOffset, ULONG(entry.cbSizeOrId));
    }
}

HRESULT TransferMap(BYTE* pObject, const PERSIST_MAP_ENTRY* pMap, const CTransfer& transfer)
{
    IStream* pStm = transfer.pStm;
    DS_ASSERT(pStm != NULL);
    if (pStm == NULL)
        return E_INVALIDARG;
    DS_ASSERT(pMap != NULL);
    if (pMap == NULL)
        return E_UNEXPECTED;
    for (int i = 0; pMap[i].cbSizeOrId != PERSIST_END; ++i)
    {
        HRESULT hr = TransferEntry(pObject, pMap, i, transfer);
        if (hr != S_OK)
            return hr;
    }
    return S_OK;
}
}

HRESULT PersistMapLoad(BYTE* pObject, const PERSIST_MAP_ENTRY* pMap, IStream* pStm)
{
    return TransferMap(pObject, pMap, CTransfer{pStm, true, FALSE});
}

HRESULT PersistMapSave(BYTE* pObject, const PERSIST_MAP_ENTRY* pMap, IStream* pStm, BOOL fClearDirty)
{
    return TransferMap(pObject, pMap, CTransfer{pStm, false, fClearDirty});
}

ULONG PersistMapSize(BYTE* pObject, const PERSIST_MAP_ENTRY* pMap)
{
    DS_ASSERT(pMap != NULL);
    if (pMap == NULL)
        return PERSIST_SIZE_UNKNOWN;
    ULONG cbSize = 0;
    for (int i = 0; pMap[i].cbSizeOrId != PERSIST_END; ++i)
    {
        const PERSIST_MAP_ENTRY& entry = pMap[i];
        ULARGE_INTEGER ull = {};
        switch (entry.cbSizeOrId)
        {
        case PERSIST_OBJECT:
        case PERSIST_POINTER:
        {
            CPersistObject* pNested = NestedObject(pObject, entry);
            ull.QuadPart = pNested ? pNested->PersistSize() : PERSIST_SIZE_UNKNOWN;
            break;
        }
        case PERSIST_INTERFACE:
        {
            CComQIPtr<IPersistStream> spStream = NestedStream(pObject, entry);
            if (!spStream)
            {
                PERSIST_REPORT("CPersistObjectImpl::GetSizeMax(): QI(IPersistStream) FAILED");
                return PERSIST_SIZE_UNKNOWN;
            }
            if (FAILED(spStream->GetSizeMax(&ull)))
                return PERSIST_SIZE_UNKNOWN;
            DS_ASSERT(ull.HighPart == 0);
            DS_ASSERT(ull.QuadPart + (ULONGLONG)cbSize < (ULONGLONG)MAXDWORD);
            break;
        }
        case PERSIST_BSTR:
            ull.QuadPart = NestedString(pObject, entry).PersistSize();
            break;
        default:
            DS_ASSERT(0 < pMap[i].cbSizeOrId);
            if (entry.cbSizeOrId < 0)
                return PERSIST_SIZE_UNKNOWN;
            ull.QuadPart = ULONG(entry.cbSizeOrId);
            break;
        }
        // Unknown nested sizes and sums that do not fit make the whole size unknown. Compared
        // against the room left, so that a nested size near the 64-bit maximum cannot wrap.
        if (ull.QuadPart >= ULONGLONG(PERSIST_SIZE_UNKNOWN - cbSize))
            return PERSIST_SIZE_UNKNOWN;
        cbSize += ull.LowPart;
    }
    return cbSize;
}

bool PersistMapIsDirty(BYTE* pObject, const PERSIST_MAP_ENTRY* pMap)
{
    DS_ASSERT(pMap != NULL);
    if (pMap == NULL)
        return false;
    for (int i = 0; pMap[i].cbSizeOrId != PERSIST_END; ++i)
    {
        const PERSIST_MAP_ENTRY& entry = pMap[i];
        switch (entry.cbSizeOrId)
        {
        case PERSIST_OBJECT:
        case PERSIST_POINTER:
        {
            // A missing object cannot be saved: report it as a change so that Save shows the fault.
            CPersistObject* pNested = NestedObject(pObject, entry);
            if (pNested == nullptr || pNested->IsDirty())
                return true;
            break;
        }
        case PERSIST_INTERFACE:
        {
            CComQIPtr<IPersistStream> spStream = NestedStream(pObject, entry);
            if (!spStream)
            {
                PERSIST_REPORT("CPersistObjectImpl::IsDirty(): QI(IPersistStream) FAILED");
                return true;
            }
            if (spStream->IsDirty() != S_FALSE)
                return true;
            break;
        }
        default:
            DS_ASSERT(0 < pMap[i].cbSizeOrId || pMap[i].cbSizeOrId == -4);
            break;
        }
    }
    return false;
}
