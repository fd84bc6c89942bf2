#include "server/ServerTestSupport.h"

#include "support/ComPtr.h"

namespace servertest
{
std::wstring ModulePath()
{
    wchar_t sz[MAX_PATH];
    DWORD cch = GetModuleFileNameW(nullptr, sz, MAX_PATH);
    std::wstring path(sz, cch);
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"Tonewell.dll";
}

DWORD RunRegsvr32(const std::wstring& path, bool bUnregister)
{
    std::wstring command = L"regsvr32.exe /s " + std::wstring(bUnregister ? L"/u " : L"") + L"\"" + path + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return DWORD(-1);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD dwExit = DWORD(-1);
    GetExitCodeProcess(pi.hProcess, &dwExit);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return dwExit;
}

bool KeyExists(HKEY hRoot, const std::wstring& path)
{
    HKEY h = nullptr;
    if (RegOpenKeyExW(hRoot, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

std::wstring StringValue(HKEY hRoot, const std::wstring& path, const wchar_t* pszName)
{
    wchar_t sz[512] = {};
    DWORD cb = sizeof(sz) - sizeof(wchar_t);
    if (RegGetValueW(hRoot, path.c_str(), pszName, RRF_RT_REG_SZ, nullptr, sz, &cb) != ERROR_SUCCESS)
        return L"<none>";
    return sz;
}

std::vector<std::wstring> CategoryNames(REFGUID category)
{
    std::vector<std::wstring> names;
    CComPtr<ICreateDevEnum> spDevEnum;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(&spDevEnum))))
        return names;
    CComPtr<IEnumMoniker> spEnum;
    if (spDevEnum->CreateClassEnumerator(category, &spEnum, 0) != S_OK || !spEnum)
        return names;
    for (;;)
    {
        CComPtr<IMoniker> spMoniker;
        if (spEnum->Next(1, &spMoniker, nullptr) != S_OK)
            break;
        CComPtr<IPropertyBag> spBag;
        if (FAILED(spMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&spBag))))
            continue;
        VARIANT var;
        VariantInit(&var);
        if (SUCCEEDED(spBag->Read(L"FriendlyName", &var, nullptr)) && var.vt == VT_BSTR)
            names.push_back(var.bstrVal);
        VariantClear(&var);
    }
    return names;
}

std::wstring GuidText(REFGUID guid)
{
    wchar_t sz[40] = {};
    StringFromGUID2(guid, sz, 40);
    return sz;
}

bool CategoryHolds(REFGUID category, REFCLSID clsidFilter)
{
    return KeyExists(HKEY_CLASSES_ROOT, L"CLSID\\" + GuidText(category) + L"\\Instance\\" + GuidText(clsidFilter));
}
}
