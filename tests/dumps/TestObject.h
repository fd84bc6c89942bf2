// Reference counting and QueryInterface for the tests' own small COM objects.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <tuple>

// Answers IUnknown and each listed interface; deleted at the last release.
template <class... Interfaces>
class CTestObject : public Interfaces...
{
public:
    virtual ~CTestObject() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown)
            *ppv = static_cast<IUnknown*>(static_cast<std::tuple_element_t<0, std::tuple<Interfaces...>>*>(this));
        else
            static_cast<void>(((riid == __uuidof(Interfaces) ? (*ppv = static_cast<Interfaces*>(this), true) : false) || ...));
        if (*ppv == nullptr && !QueryMore(riid, ppv))
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&m_nRef)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG n = InterlockedDecrement(&m_nRef);
        if (n == 0)
            delete this;
        return ULONG(n);
    }
    LONG References() const { return m_nRef; }

protected:
    // Further interfaces (base interfaces of the listed ones); *ppv is set without AddRef.
    virtual bool QueryMore(REFIID, void**) { return false; }

private:
    volatile LONG m_nRef = 1;
};
