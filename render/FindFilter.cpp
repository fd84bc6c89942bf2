#include "render/FindFilter.h"

#include <string>

#include "TonewellIdl.h"

namespace
{
std::wstring GuidText(REFGUID guid)
{
    WCHAR sz[40] = {};
    StringFromGUID2(guid, sz, ARRAYSIZE(sz));
    return sz;
}

// The module registered for the filter's class; empty when there is none.
std::wstring RegisteredModule()
{
    const std::wstring key = L"CLSID\\" + GuidText(CLSID_Tonewell) + L"\\InprocServer32";
    WCHAR sz[MAX_PATH * 2] = {};
    DWORD cb = sizeof(sz) - sizeof(WCHAR);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, sz, &cb) !=
        ERROR_SUCCESS)
        return std::wstring();
    return sz;
}

// The command that registers the DLL: the one beside this program when it is there.
std::string RegisterCommand()
{
    WCHAR sz[MAX_PATH * 2] = {};
    DWORD cch = GetModuleFileNameW(nullptr, sz, ARRAYSIZE(sz));
    std::wstring dll = L"Tonewell.dll";
    if (cch > 0 && cch < ARRAYSIZE(sz))
    {
        std::wstring path = sz;
        std::wstring beside = path.substr(0, path.find_last_of(L"\\/") + 1) + L"Tonewell.dll";
        if (GetFileAttributesW(beside.c_str()) != INVALID_FILE_ATTRIBUTES)
            dll = beside;
    }
    return "regsvr32 \"" + Utf8(dll) + "\"";
}

std::wstring ReadProperty(IPropertyBag* pBag, LPCWSTR pszName)
{
    VARIANT var;
    VariantInit(&var);
    std::wstring value;
    if (SUCCEEDED(pBag->Read(pszName, &var, nullptr)) && var.vt == VT_BSTR && var.bstrVal != nullptr)
        value = var.bstrVal;
    VariantClear(&var);
    return value;
}
}

ERenderExit CreateToneFilter(CComPtr<IBaseFilter>& spFilter)
{
    HRESULT hr = CoCreateInstance(CLSID_Tonewell, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(&spFilter));
    if (SUCCEEDED(hr))
        return eExit_OK;
    const std::wstring module = RegisteredModule();
    if (hr == REGDB_E_CLASSNOTREG || module.empty())
        SayError("the Tonewell filter is not registered: %s.\n"
                 "  Register it once with: %s\n"
                 "  (bash scripts/run.sh does this in the project's Wine prefix)",
                 HResultText(hr).c_str(), RegisterCommand().c_str());
    else
        SayError("the Tonewell filter is registered as %s but cannot be created: %s.\n"
                 "  Check that the file is there, or register the DLL again with: %s",
                 Utf8(module).c_str(), HResultText(hr).c_str(), RegisterCommand().c_str());
    return eExit_NotRegistered;
}

ERenderExit ListCaptureSources()
{
    CComPtr<ICreateDevEnum> spDevEnum;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(&spDevEnum));
    CComPtr<IEnumMoniker> spEnum;
    if (SUCCEEDED(hr))
        hr = spDevEnum->CreateClassEnumerator(CLSID_AudioInputDeviceCategory, &spEnum, 0);
    if (FAILED(hr))
    {
        SayError("the system device enumerator cannot list audio capture sources: %s", HResultText(hr).c_str());
        return eExit_Render;
    }
    // S_FALSE: the category is empty and there is no enumerator.
    bool bAny = false, bTonewell = false;
    for (CComPtr<IMoniker> spMoniker; spEnum && spEnum->Next(1, &spMoniker, nullptr) == S_OK; spMoniker.Release())
    {
        CComPtr<IPropertyBag> spBag;
        if (FAILED(spMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&spBag))))
            continue;
        const std::wstring name = ReadProperty(spBag, L"FriendlyName");
        const std::wstring clsid = ReadProperty(spBag, L"CLSID");
        CLSID parsed;
        const bool bOurs = !clsid.empty() && SUCCEEDED(CLSIDFromString(clsid.c_str(), &parsed)) &&
                           IsEqualCLSID(parsed, CLSID_Tonewell);
        if (!bAny)
            Say("Audio capture sources:\n");
        Say("  %-36s %s%s\n", Utf8(name).c_str(), Utf8(clsid).c_str(), bOurs ? "  (Tonewell)" : "");
        bAny = true;
        bTonewell = bTonewell || bOurs;
    }
    if (!bAny)
        Say("No audio capture sources are registered.\n");
    if (!bTonewell)
        Say("The Tonewell filter is not among them; register it with: %s\n", RegisterCommand().c_str());
    return eExit_OK;
}
