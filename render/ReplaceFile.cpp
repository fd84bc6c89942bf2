#include "render/ReplaceFile.h"

#include "support/ComBase.h"

HRESULT CReplaceFile::Create(LPCWSTR pszTarget)
{
    Abandon();
    WCHAR szFull[MAX_PATH * 4];
    DWORD cch = GetFullPathNameW(pszTarget, ARRAYSIZE(szFull), szFull, nullptr);
    if (cch == 0 || cch >= ARRAYSIZE(szFull))
        return cch == 0 ? HResultFromLastError() : HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    m_cbsTarget = szFull;
    // A directory cannot be replaced by a file; say so now rather than after the work.
    DWORD dwAttributes = GetFileAttributesW(szFull);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return HRESULT_FROM_WIN32(ERROR_CANNOT_MAKE);
    // The process id keeps two runs for the same target apart.
    m_cbsTemp = m_cbsTarget + L"." + std::to_wstring(GetCurrentProcessId()) + L".part";
    m_hFile = CreateFileW(m_cbsTemp.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_hFile == INVALID_HANDLE_VALUE)
    {
        HRESULT hr = HResultFromLastError();
        m_cbsTemp.clear();
        return hr;
    }
    return S_OK;
}

HRESULT CReplaceFile::Write(const void* pData, DWORD cb)
{
    if (m_hFile == INVALID_HANDLE_VALUE)
        return E_UNEXPECTED;
    DWORD cbWritten = 0;
    if (!WriteFile(m_hFile, pData, cb, &cbWritten, nullptr))
        return HResultFromLastError();
    return cbWritten == cb ? S_OK : HRESULT_FROM_WIN32(ERROR_DISK_FULL);
}

HRESULT CReplaceFile::WriteAt(ULONGLONG llOffset, const void* pData, DWORD cb)
{
    if (m_hFile == INVALID_HANDLE_VALUE)
        return E_UNEXPECTED;
    LARGE_INTEGER li;
    li.QuadPart = LONGLONG(llOffset);
    if (!SetFilePointerEx(m_hFile, li, nullptr, FILE_BEGIN))
        return HResultFromLastError();
    return Write(pData, cb);
}

HRESULT CReplaceFile::Commit()
{
    if (m_hFile == INVALID_HANDLE_VALUE)
        return E_UNEXPECTED;
    // Closing is the last chance for a delayed write error to show.
    BOOL bClosed = CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
    if (!bClosed || !MoveFileExW(m_cbsTemp.c_str(), m_cbsTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    {
        HRESULT hr = HResultFromLastError();
        DeleteFileW(m_cbsTemp.c_str());
        m_cbsTemp.clear();
        return hr;
    }
    m_cbsTemp.clear();
    return S_OK;
}

void CReplaceFile::Abandon()
{
    if (m_hFile != INVALID_HANDLE_VALUE)
    {
        CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
    }
    if (!m_cbsTemp.empty())
    {
        DeleteFileW(m_cbsTemp.c_str());
        m_cbsTemp.clear();
    }
}
