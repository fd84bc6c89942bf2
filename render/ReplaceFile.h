// A file written under a temporary name beside its target and renamed over the target
// only when complete: a failure or an interruption never leaves a half-written file under
// the target's name, and an existing file there stays as it was until the rename.
#pragma once
#include <windows.h>

#include <string>

class CReplaceFile
{
public:
    CReplaceFile() = default;
    ~CReplaceFile() { Abandon(); }
    CReplaceFile(const CReplaceFile&) = delete;
    CReplaceFile& operator=(const CReplaceFile&) = delete;

    // Creates the temporary file; the target is taken as a full path from here on.
    HRESULT Create(LPCWSTR pszTarget);
    HRESULT Write(const void* pData, DWORD cb);
    // Writes from llOffset on; later writes continue after it.
    HRESULT WriteAt(ULONGLONG llOffset, const void* pData, DWORD cb);
    // Closes the file and renames it over the target.
    HRESULT Commit();
    // Closes and deletes the temporary file; nothing happens after a commit.
    void Abandon();

    const std::wstring& Target() const { return m_cbsTarget; }

private:
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    std::wstring m_cbsTarget;
    std::wstring m_cbsTemp;
};
