// Tonewell.dll loaded by its file beside the program, as a host loads it, with its class
// object: a fresh load reads the log-sink key again.
#pragma once
#include <windows.h>

#include "filter/AudioSource.h"
#include "support/ComPtr.h"

namespace campaign
{
class CModule
{
public:
    CModule();
    ~CModule() { Unload(); }
    CModule(const CModule&) = delete;
    CModule& operator=(const CModule&) = delete;
    bool Ready() const { return m_spFactory && m_pfnCanUnloadNow != nullptr; }
    HRESULT CanUnloadNow() { return m_pfnCanUnloadNow(); }
    CComPtr<IBaseFilter> Create();
    // An object of any class the module serves, through that class's object.
    HRESULT CreateOf(REFCLSID clsid, REFIID riid, void** ppv);
    // Lets the class object go; the module unloads when it says it may. Whether it did.
    bool Unload();

private:
    HMODULE m_h = nullptr;
    HRESULT(STDAPICALLTYPE* m_pfnCanUnloadNow)() = nullptr;
    HRESULT(STDAPICALLTYPE* m_pfnGetClassObject)(REFCLSID, REFIID, void**) = nullptr;
    CComPtr<IClassFactory> m_spFactory;
};
}
