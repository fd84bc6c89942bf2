// An IUnknown that counts its references, for the owner reference (pUnk) of media types.
#pragma once
#include <windows.h>
#include <unknwn.h>

class CCountingUnknown : public IUnknown
{
public:
    // The creator holds the first reference.
    LONG References() const { return m_nRefs; }
    // The smallest count seen since the last WatchLowest.
    void WatchLowest() { m_nLowest = m_nRefs; }
    LONG LowestReferences() const { return m_nLowest; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = riid == IID_IUnknown ? this : nullptr;
        if (*ppv == nullptr)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&m_nRefs)); }
    // Never deletes: the test owns the object and reads the count after the last release.
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG n = InterlockedDecrement(&m_nRefs);
        if (n < m_nLowest)
            m_nLowest = n;
        return ULONG(n);
    }

private:
    LONG m_nRefs = 1;
    LONG m_nLowest = 1;
};
