// A growing wide text in task memory (the caller of Detach frees it with CoTaskMemFree).
// Growth goes in steps of 4096 characters; when memory runs out the text is freed and the
// buffer left empty.
#pragma once
#include <windows.h>

class CTextBuffer
{
public:
    static const UINT GROW_STEP = 4096;

    CTextBuffer() : m_psz(nullptr), m_cchCapacity(0), m_cchLength(0) {}
    ~CTextBuffer() { Free(); }
    CTextBuffer(const CTextBuffer&) = delete;
    CTextBuffer& operator=(const CTextBuffer&) = delete;

    // Room for cch characters, terminator included.
    bool Reserve(UINT cch);
    bool Append(LPCWSTR psz);
    // One formatted piece of at most 1023 characters.
    bool AppendFormat(LPCWSTR pszFormat, ...);
    // Hands the text (task memory, or null) to the caller and leaves the buffer empty.
    LPWSTR Detach();
    void Free();

    LPCWSTR Text() const { return m_psz; }
    UINT Length() const { return m_cchLength; }
    UINT Capacity() const { return m_cchCapacity; }

private:
    bool Resize(UINT cchCapacity);

    LPWSTR m_psz;
    UINT m_cchCapacity;
    UINT m_cchLength;
};
