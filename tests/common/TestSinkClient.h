// Points the current user's log-sink key at one of the test sinks and reads back what
// the sink recorded.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace testsink
{
// Directory of the running test program, with a trailing '\'.
std::wstring ModuleDir();

// Writes the default value of HKCU\Software\_VTMLLOG64 (raw bytes, REG_SZ).
void SetRegistryValue(const std::wstring& value);
// Creates the key with no default value.
void SetRegistryKeyOnly();
void ClearRegistry();

// Keeps a sink DLL loaded for the test's life and reads its records.
class CSinkReader
{
public:
    explicit CSinkReader(const wchar_t* pszDll);
    ~CSinkReader();
    bool IsLoaded() const { return m_hSink != nullptr; }
    std::vector<std::wstring> Events() const;
    void Clear() const;
    // Whether another thread can take the sink's own lock (false without the sink).
    bool LockIsFree() const;
    // The function a re-entering sink calls from its first line.
    void SetReentry(void (*pfn)()) const;
    // How often a sink that misbehaves now and then does so: on every nth line.
    void SetPeriod(long n) const;

private:
    template <typename F> F* Export(const char* pszName) const
    {
        return m_hSink != nullptr ? reinterpret_cast<F*>(GetProcAddress(m_hSink, pszName)) : nullptr;
    }

    HMODULE m_hSink;
    int (*m_pfnCount)();
    int (*m_pfnGet)(int, wchar_t*, int);
    void (*m_pfnClear)();
};
}
