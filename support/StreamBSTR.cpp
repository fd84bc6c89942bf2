// A BSTR in a stream: 4-byte byte count n, then n bytes of UTF-16LE ending in a 0
// terminator; n is 0 for a null string.
#include "support/Persist.h"
#include "support/PersistIo.h"

namespace
{
#define BSTR_REPORT(text) DebugAssert(false, __FILE_NAME__, __LINE__, text)

// Whether a stored count other than 0 can be loaded: even, room for the terminator, at
// most _ATL_STREAM_MAX_SIZE. S_OK, E_FAIL or E_ACCESSDENIED.
HRESULT CheckStoredLength(ULONG cbStrLen)
{
    if (cbStrLen == 1)
    {
        BSTR_REPORT("CStreamBSTR::PersistLoad(): invalid BSTR length.");
        return E_FAIL;
    }
    if (cbStrLen > _ATL_STREAM_MAX_SIZE)
    {
        BSTR_REPORT("CStreamBSTR::PersistLoad(): string exceeded the maximum allowed size.");
        return E_ACCESSDENIED;
    }
    // An odd count would make the read overrun the string allocated for it.
    DS_ASSERT((cbStrLen % sizeof(OLECHAR)) == 0);
    return (cbStrLen % sizeof(OLECHAR)) == 0 ? S_OK : E_FAIL;
}

// Reads the n stored bytes (characters and terminator) into bstr, which holds exactly n.
HRESULT ReadString(IStream* pStm, BSTR bstr, ULONG cbStrLen)
{
    ULONG cbRead = 0;
    HRESULT hr = PersistStrictResult(pStm->Read(bstr, cbStrLen, &cbRead));
    if (hr != S_OK)
        return hr;
    if (cbRead != cbStrLen)
    {
        BSTR_REPORT("CStreamBSTR::PersistLoad(): invalid length of data in stream.");
        return E_FAIL;
    }
    if (bstr[cbStrLen / sizeof(OLECHAR) - 1] != 0)
    {
        BSTR_REPORT("CStreamBSTR::PersistLoad(): invalid NULL terminator of BSTR.");
        return E_FAIL;
    }
    return S_OK;
}

}

HRESULT CStreamBSTR::PersistLoad(IStream* pStm)
{
    DS_ASSERT(pStm != NULL);
    if (pStm == NULL)
        return E_INVALIDARG;
    DS_ASSERT(m_pbstr != NULL);
    if (m_pbstr == NULL)
        return E_FAIL;

    ULONG cbStrLen = 0;
    ULONG cbRead = 0;
    HRESULT hr = PersistStrictResult(pStm->Read(&cbStrLen, sizeof(cbStrLen), &cbRead));
    if (hr != S_OK)
        return hr;
    if (cbRead != sizeof(cbStrLen))
    {
        BSTR_REPORT("CStreamBSTR::PersistLoad(): stream is corrupted.");
        return E_FAIL;
    }

    BSTR bstrNew = nullptr;
    if (cbStrLen != 0)
    {
        hr = CheckStoredLength(cbStrLen);
        if (hr != S_OK)
            return hr;
        // The allocation adds the terminator's room to the characters.
        bstrNew = SysAllocStringLen(nullptr, cbStrLen / sizeof(OLECHAR) - 1);
        if (bstrNew == nullptr)
            return E_OUTOFMEMORY;
        hr = ReadString(pStm, bstrNew, cbStrLen);
        if (hr != S_OK)
        {
            SysFreeString(bstrNew);
            return hr;
        }
    }
    SysFreeString(*m_pbstr);
    *m_pbstr = bstrNew;
    return S_OK;
}

HRESULT CStreamBSTR::PersistSave(IStream* pStm, BOOL)
{
    DS_ASSERT(pStm != NULL);
    if (pStm == NULL)
        return E_INVALIDARG;
    BSTR bstr = m_pbstr ? *m_pbstr : nullptr;
    if (bstr == nullptr)
    {
        const ULONG cbNull = 0;
        return PersistWriteExact(pStm, &cbNull, sizeof(cbNull));
    }
    // Refuse what PersistLoad would refuse rather than write data that cannot be read back.
    ULONGLONG cbStrLen = ULONGLONG(SysStringByteLen(bstr)) + sizeof(OLECHAR);
    if (cbStrLen > _ATL_STREAM_MAX_SIZE)
        return E_ACCESSDENIED;
    if (cbStrLen % sizeof(OLECHAR) != 0)
        return E_FAIL;
    ULONG cbCount = ULONG(cbStrLen);
    HRESULT hr = PersistWriteExact(pStm, &cbCount, sizeof(cbCount));
    if (hr != S_OK)
        return hr;
    return PersistWriteExact(pStm, bstr, cbCount);
}

ULONG CStreamBSTR::PersistSize()
{
    if (m_pbstr == nullptr)
        return sizeof(ULONG);
    ULONG cb = SysStringByteLen(*m_pbstr);
    DS_ASSERT(cb <= _ATL_STREAM_MAX_SIZE);
    return cb + sizeof(ULONG) + sizeof(OLECHAR);
}
