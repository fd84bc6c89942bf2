// Stream helpers shared by the persistence walk and the string codec.
#pragma once
#include <windows.h>
#include <objidl.h>

// A success code other than S_OK counts as a failure.
inline HRESULT PersistStrictResult(HRESULT hr)
{
    return (hr == S_OK || FAILED(hr)) ? hr : E_FAIL;
}

// Writes all cb bytes; a short write is E_FAIL even when the stream says S_OK.
inline HRESULT PersistWriteExact(IStream* pStm, const void* pv, ULONG cb)
{
    ULONG cbWritten = 0;
    HRESULT hr = PersistStrictResult(pStm->Write(pv, cb, &cbWritten));
    if (hr != S_OK)
        return hr;
    return cbWritten == cb ? S_OK : E_FAIL;
}
