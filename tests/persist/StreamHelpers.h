// Platform memory streams (CreateStreamOnHGlobal) filled with and read back as bytes.
#pragma once
#include <windows.h>
#include <objidl.h>

#include <vector>

#include "support/ComPtr.h"

namespace persisttest
{
using Bytes = std::vector<BYTE>;

// A stream holding the bytes, positioned at its start.
CComPtr<IStream> StreamFrom(const Bytes& bytes);
// An empty stream.
CComPtr<IStream> EmptyStream();
// Every byte of the stream, whatever its position.
Bytes AllBytes(IStream* pStm);
// The current position.
ULONGLONG Position(IStream* pStm);

// The little-endian bytes of a value, appended.
template <class V>
void Append(Bytes& bytes, const V& value)
{
    const BYTE* pb = reinterpret_cast<const BYTE*>(&value);
    bytes.insert(bytes.end(), pb, pb + sizeof(value));
}

// The process's committed private memory, in bytes.
SIZE_T CommittedBytes();
}
