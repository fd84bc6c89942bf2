// ICvVersion for any object that derives from this wrapper: the texts are made once at
// construction from the version resource of the module holding this code and from the
// compiler's build date and time. The concrete object supplies IUnknown.
#pragma once
#include "filter/CvVersion.h"
#include "support/ComPtr.h"

class ICvVersionWrapper : public ICvVersion
{
public:
    // pszDate and pszTime: the compiler's __DATE__ ("Mar  7 2024") and __TIME__
    // ("09:03:07"). A null pszName means "Corvane Tonewell".
    ICvVersionWrapper(LPCSTR pszDate, LPCSTR pszTime, LPCSTR pszName = nullptr);

    STDMETHOD(VerType)(tagCv_Ver_Type* peType) override;
    STDMETHOD(VerOS)(tagCv_Ver_OS* peOS) override;
    STDMETHOD(VerName)(BSTR* pbsName) override;
    STDMETHOD(VerNumber)(BSTR* pbsVersion) override;
    STDMETHOD(VerCreated)(BSTR* pbsDateTime) override;

    // Writes "<name> Version: <text>" (category general, level 2) once all texts are set;
    // without pszObjectName the line starts with "Version:".
    void TraceVersion(LPCWSTR pszObjectName);

protected:
    CComBSTR m_cbsName;
    CComBSTR m_cbsVersion;
    CComBSTR m_cbsDateTime;
    tagCv_Ver_Type m_eType;
    tagCv_Ver_OS m_eOS;
};
