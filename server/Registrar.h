// A small interpreter of registry scripts in the registrar's notation:
//
//     HKCR
//     {
//         'Name.1' = s 'Default value' { CLSID = s '{...}' }
//         NoRemove CLSID
//         {
//             ForceRemove {...} = s 'Name'
//             {
//                 InprocServer32 = s '%MODULE%' { val ThreadingModel = s 'Both' }
//             }
//         }
//     }
//
// Keys may carry a default value (s text or d number), named values (val), and one
// modifier: NoRemove (never removed itself), ForceRemove (removed whole before it is
// written, and on unregistration), Delete (removed on registration). Unregistration removes
// every other key that is left empty once its children are handled. %NAME% is replaced
// from the table given; %% stands for a percent sign.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

class CRegistrar
{
public:
    using Replacements = std::vector<std::pair<std::wstring, std::wstring>>;

    // Runs the script; the first failure ends it. DISP_E_EXCEPTION for a script that cannot
    // be read, a registry error as an HRESULT otherwise.
    static HRESULT Run(const std::wstring& script, bool bRegister, const Replacements& replacements);
    // The same for a "REGISTRY" resource of hModule holding narrow text.
    static HRESULT RunResource(HMODULE hModule, UINT nResourceId, bool bRegister, const Replacements& replacements);
};
