// The probe module (traceprobe.dll) as the trace tests drive it: a module that carries the
// trace facility, loaded with the registry pointing at one of the test sinks.
#pragma once
#include <gtest/gtest.h>

#include "common/TestSinkClient.h"

#include <memory>
#include <string>

// The probe module, loaded and unloaded by the test; its trace facility comes up with it.
class CProbe
{
public:
    CProbe() : m_hModule(LoadLibraryW((testsink::ModuleDir() + L"traceprobe.dll").c_str())) {}
    ~CProbe() { Unload(); }
    bool IsLoaded() const { return m_hModule != nullptr; }
    void Unload()
    {
        if (m_hModule != nullptr)
            FreeLibrary(m_hModule);
        m_hModule = nullptr;
    }
    template <typename F> F* Fn(const char* pszName) const
    {
        return reinterpret_cast<F*>(GetProcAddress(m_hModule, pszName));
    }
    void Trace(DWORD dwCategory, UINT nLevel, LPCWSTR pszText) const
    {
        Fn<void(DWORD, UINT, LPCWSTR)>("Probe_Trace")(dwCategory, nLevel, pszText);
    }
    void Assert(bool bCondition, LPCSTR pszFile, int nLine, LPCSTR pszCondition, DWORD dwError) const
    {
        Fn<void(bool, LPCSTR, int, LPCSTR, DWORD)>("Probe_Assert")(bCondition, pszFile, nLine, pszCondition, dwError);
    }
    bool HasSink() const { return Fn<BOOL()>("Probe_HasSink")() != FALSE; }

private:
    HMODULE m_hModule;
};

inline std::wstring Head(UINT nLevel) { return std::wstring(L"L\x1B") + wchar_t(nLevel + 1) + L"TRACEPROBE: "; }

// Registry path of a DLL beside the test program, written with '|' for '\'.
inline std::wstring PipedPath(const wchar_t* pszDll)
{
    std::wstring path = testsink::ModuleDir() + pszDll;
    for (auto& ch : path)
        if (ch == L'\\')
            ch = L'|';
    return path;
}

class TraceSinkTest : public ::testing::Test
{
protected:
    void TearDown() override { testsink::ClearRegistry(); }

    // Points the registry at the sink, loads the probe, and forgets the key again so
    // that no other module of the process picks the sink up.
    void LoadProbeWith(const wchar_t* pszSinkDll)
    {
        testsink::SetRegistryValue(PipedPath(pszSinkDll));
        m_probe = std::make_unique<CProbe>();
        testsink::ClearRegistry();
        ASSERT_TRUE(m_probe->IsLoaded());
    }

    std::unique_ptr<CProbe> m_probe;
};
