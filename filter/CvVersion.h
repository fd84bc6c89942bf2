// ICvVersion: what the module reports about its build (type, platform, product name,
// version number, build date).
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <unknwn.h>

typedef enum tagCv_Ver_Type
{
    eCv_Ver_Debug = 0,
    eCv_Ver_Release = 1,
} Cv_Ver_Type;

typedef enum tagCv_Ver_OS
{
    eCv_Ver_win32 = 0,
    eCv_Ver_x64 = 1,
} Cv_Ver_OS;

inline constexpr IID IID_ICvVersion = {0xA3F1C6D2, 0x7B49, 0x4E8A, {0xB2, 0x15, 0x9C, 0x0E, 0x4D, 0x7F, 0x3B, 0x16}};

// Every text method returns a new BSTR that the caller frees.
struct ICvVersion : public IUnknown
{
    STDMETHOD(VerType)(tagCv_Ver_Type* peType) = 0;
    STDMETHOD(VerOS)(tagCv_Ver_OS* peOS) = 0;
    STDMETHOD(VerName)(BSTR* pbsName) = 0;
    STDMETHOD(VerNumber)(BSTR* pbsNumber) = 0;
    STDMETHOD(VerCreated)(BSTR* pbsDateTime) = 0;
};
__CRT_UUID_DECL(ICvVersion, 0xA3F1C6D2, 0x7B49, 0x4E8A, 0xB2, 0x15, 0x9C, 0x0E, 0x4D, 0x7F, 0x3B, 0x16)
