#include "common/TestSinkClient.h"

namespace testsink
{
namespace
{
const wchar_t kKey[] = L"Software\\_VTMLLOG64";
}

std::wstring ModuleDir()
{
    wchar_t szPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    std::wstring path(szPath);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

void SetRegistryValue(const std::wstring& value)
{
    HKEY hKey = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr);
    RegSetValueExW(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(hKey);
}

void SetRegistryKeyOnly()
{
    ClearRegistry();
    HKEY hKey = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr);
    RegCloseKey(hKey);
}

void ClearRegistry()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
}

CSinkReader::CSinkReader(const wchar_t* pszDll)
    : m_hSink(LoadLibraryW((ModuleDir() + pszDll).c_str())), m_pfnCount(nullptr), m_pfnGet(nullptr), m_pfnClear(nullptr)
{
    if (m_hSink != nullptr)
    {
        m_pfnCount = reinterpret_cast<int (*)()>(GetProcAddress(m_hSink, "TestSink_Count"));
        m_pfnGet = reinterpret_cast<int (*)(int, wchar_t*, int)>(GetProcAddress(m_hSink, "TestSink_Get"));
        m_pfnClear = reinterpret_cast<void (*)()>(GetProcAddress(m_hSink, "TestSink_Clear"));
        Clear();
    }
}

CSinkReader::~CSinkReader()
{
    if (m_hSink != nullptr)
        FreeLibrary(m_hSink);
}

std::vector<std::wstring> CSinkReader::Events() const
{
    std::vector<std::wstring> events;
    if (m_pfnCount == nullptr || m_pfnGet == nullptr)
        return events;
    for (int i = 0, n = m_pfnCount(); i < n; ++i)
    {
        wchar_t szBuf[8192];
        int cch = m_pfnGet(i, szBuf, 8192);
        events.push_back(cch >= 0 ? std::wstring(szBuf) : std::wstring());
    }
    return events;
}

void CSinkReader::Clear() const
{
    if (m_pfnClear != nullptr)
        m_pfnClear();
}

bool CSinkReader::LockIsFree() const
{
    auto pfn = Export<BOOL()>("TestSink_LockIsFree");
    return pfn != nullptr && pfn() != FALSE;
}

void CSinkReader::SetReentry(void (*pfnReenter)()) const
{
    if (auto pfn = Export<void(void (*)())>("TestSink_SetReentry"))
        pfn(pfnReenter);
}

void CSinkReader::SetPeriod(long n) const
{
    if (auto pfn = Export<void(long)>("TestSink_SetPeriod"))
        pfn(n);
}
}
