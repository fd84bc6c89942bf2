#include "server/Registrar.h"

#include <cwctype>
#include <memory>

#include "diagnostics/DSTrace.h"
#include "support/ComBase.h"
#include "support/Registry.h"

namespace
{
// Reads the script's tokens: words, quoted texts ('...' with '' for a quote), and the
// punctuation { } =.
class CTokens
{
public:
    explicit CTokens(const std::wstring& text) : m_text(text) {}

    // False at the end of the text or on a malformed token (m_bBad tells which).
    bool Next(std::wstring& token, bool& bQuoted)
    {
        bQuoted = false;
        token.clear();
        while (m_nPos < m_text.size() && std::iswspace(m_text[m_nPos]))
            ++m_nPos;
        if (m_nPos >= m_text.size())
            return false;
        wchar_t ch = m_text[m_nPos];
        // A class identifier in braces is a key name, not a block.
        if (ch == L'{' && m_nPos + 1 < m_text.size() && std::iswxdigit(m_text[m_nPos + 1]))
        {
            size_t nEnd = m_text.find(L'}', m_nPos);
            if (nEnd == std::wstring::npos)
            {
                m_bBad = true;
                return false;
            }
            token = m_text.substr(m_nPos, nEnd - m_nPos + 1);
            m_nPos = nEnd + 1;
            return true;
        }
        if (ch == L'{' || ch == L'}' || ch == L'=')
        {
            token.assign(1, ch);
            ++m_nPos;
            return true;
        }
        if (ch == L'\'')
        {
            bQuoted = true;
            for (++m_nPos; m_nPos < m_text.size(); ++m_nPos)
            {
                if (m_text[m_nPos] != L'\'')
                    token += m_text[m_nPos];
                else if (m_nPos + 1 < m_text.size() && m_text[m_nPos + 1] == L'\'')
                    token += m_text[++m_nPos];
                else
                {
                    ++m_nPos;
                    return true;
                }
            }
            m_bBad = true;  // unterminated text
            return false;
        }
        while (m_nPos < m_text.size() && !std::iswspace(m_text[m_nPos]) && m_text[m_nPos] != L'{' &&
               m_text[m_nPos] != L'}' && m_text[m_nPos] != L'=' && m_text[m_nPos] != L'\'')
            token += m_text[m_nPos++];
        return true;
    }

    bool Peek(std::wstring& token, bool& bQuoted)
    {
        size_t nSave = m_nPos;
        bool b = Next(token, bQuoted);
        m_nPos = nSave;
        return b;
    }

    bool m_bBad = false;

private:
    const std::wstring& m_text;
    size_t m_nPos = 0;
};

enum class EModifier
{
    None,
    NoRemove,
    ForceRemove,
    Delete,
};

struct CValue
{
    bool bSet = false;
    bool bNumber = false;
    std::wstring text;
    DWORD dw = 0;
};

HKEY RootKey(const std::wstring& name)
{
    if (name == L"HKCR" || name == L"HKEY_CLASSES_ROOT")
        return HKEY_CLASSES_ROOT;
    if (name == L"HKCU" || name == L"HKEY_CURRENT_USER")
        return HKEY_CURRENT_USER;
    if (name == L"HKLM" || name == L"HKEY_LOCAL_MACHINE")
        return HKEY_LOCAL_MACHINE;
    if (name == L"HKU" || name == L"HKEY_USERS")
        return HKEY_USERS;
    return nullptr;
}

HRESULT FromWin32(LONG lError)
{
    return lError == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(DWORD(lError));
}

class CScript
{
public:
    CScript(const std::wstring& text, bool bRegister) : m_tokens(text), m_bRegister(bRegister) {}

    HRESULT Run()
    {
        std::wstring token;
        bool bQuoted;
        while (m_tokens.Next(token, bQuoted))
        {
            HKEY hRoot = bQuoted ? nullptr : RootKey(token);
            if (hRoot == nullptr || !Expect(L"{"))
                return Bad();
            HRESULT hr = Keys(hRoot, true);
            if (FAILED(hr))
                return hr;
        }
        return m_tokens.m_bBad ? Bad() : S_OK;
    }

private:
    HRESULT Bad()
    {
        DebugTrace(atlTraceRegistrar, 2, L"###Err### CRegistrar: the script cannot be read\n");
        return DISP_E_EXCEPTION;
    }

    bool Expect(LPCWSTR pszToken)
    {
        std::wstring token;
        bool bQuoted;
        return m_tokens.Next(token, bQuoted) && !bQuoted && token == pszToken;
    }

    // The value after '=': s 'text' or d number.
    bool ReadValue(CValue& value)
    {
        std::wstring kind, text;
        bool bQuoted;
        if (!m_tokens.Next(kind, bQuoted) || bQuoted || !m_tokens.Next(text, bQuoted))
            return false;
        value.bSet = true;
        if (kind == L"s")
        {
            value.text = text;
            return true;
        }
        if (kind == L"d")
        {
            wchar_t* pEnd = nullptr;
            value.dw = DWORD(wcstoul(text.c_str(), &pEnd, 0));
            value.bNumber = true;
            return pEnd != nullptr && *pEnd == 0 && !text.empty();
        }
        return false;
    }

    static HRESULT SetValue(HKEY hKey, LPCWSTR pszName, const CValue& value)
    {
        if (value.bNumber)
            return FromWin32(RegSetValueExW(hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.dw),
                                            sizeof(value.dw)));
        return FromWin32(RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text.c_str()),
                                        DWORD((value.text.size() + 1) * sizeof(wchar_t))));
    }

    // The keys and values of one block, up to its closing brace. hParent is null while
    // unregistering below a key that is not there: the block is only read.
    HRESULT Keys(HKEY hParent, bool bRoot)
    {
        std::wstring token;
        bool bQuoted;
        while (m_tokens.Next(token, bQuoted))
        {
            if (!bQuoted && token == L"}")
                return S_OK;
            if (!bQuoted && token == L"{")
                return Bad();
            if (!bQuoted && token == L"val" && !bRoot)
            {
                std::wstring name;
                CValue value;
                if (!m_tokens.Next(name, bQuoted) || !Expect(L"=") || !ReadValue(value))
                    return Bad();
                if (hParent != nullptr && m_bRegister)
                {
                    HRESULT hr = SetValue(hParent, name.c_str(), value);
                    if (FAILED(hr))
                        return hr;
                }
                continue;
            }
            EModifier eModifier = EModifier::None;
            if (!bQuoted && (token == L"NoRemove" || token == L"ForceRemove" || token == L"Delete"))
            {
                eModifier = token == L"NoRemove" ? EModifier::NoRemove
                            : token == L"ForceRemove" ? EModifier::ForceRemove
                                                      : EModifier::Delete;
                if (!m_tokens.Next(token, bQuoted))
                    return Bad();
            }
            HRESULT hr = Key(hParent, token, eModifier);
            if (FAILED(hr))
                return hr;
        }
        return Bad();
    }

    HRESULT Key(HKEY hParent, const std::wstring& name, EModifier eModifier)
    {
        if (name.empty() || name == L"{" || name == L"}" || name == L"=")
            return Bad();
        CValue value;
        std::wstring token;
        bool bQuoted;
        if (m_tokens.Peek(token, bQuoted) && !bQuoted && token == L"=")
        {
            m_tokens.Next(token, bQuoted);
            if (!ReadValue(value))
                return Bad();
        }
        bool bBlock = m_tokens.Peek(token, bQuoted) && !bQuoted && token == L"{";
        if (bBlock)
            m_tokens.Next(token, bQuoted);

        HKEY hKey = nullptr;
        HRESULT hr = S_OK;
        if (hParent != nullptr && m_bRegister)
        {
            if (eModifier == EModifier::ForceRemove || eModifier == EModifier::Delete)
                hr = RegDeleteKeyTree(hParent, name.c_str());
            if (SUCCEEDED(hr) && eModifier != EModifier::Delete)
            {
                hr = FromWin32(RegCreateKeyExW(hParent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey,
                                               nullptr));
                if (SUCCEEDED(hr) && value.bSet)
                    hr = SetValue(hKey, nullptr, value);
            }
        }
        else if (hParent != nullptr)
        {
            if (eModifier == EModifier::ForceRemove)
                hr = RegDeleteKeyTree(hParent, name.c_str());
            else if (eModifier != EModifier::Delete &&
                     RegOpenKeyExW(hParent, name.c_str(), 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS)
                hKey = nullptr;
        }
        if (SUCCEEDED(hr) && bBlock)
            hr = Keys(hKey, false);
        if (hKey != nullptr)
            RegCloseKey(hKey);
        // Left empty once its children are handled, a plain key goes.
        if (SUCCEEDED(hr) && hParent != nullptr && !m_bRegister && eModifier == EModifier::None)
        {
            LONG l = RegDeleteKeyW(hParent, name.c_str());
            if (l != ERROR_SUCCESS && l != ERROR_FILE_NOT_FOUND && l != ERROR_ACCESS_DENIED)
                DebugTrace(atlTraceRegistrar, 8, L"CRegistrar: key '%s' kept (%i)\n", name.c_str(), int(l));
        }
        return hr;
    }

    CTokens m_tokens;
    bool m_bRegister;
};

std::wstring Replace(const std::wstring& text, const CRegistrar::Replacements& replacements)
{
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] != L'%')
        {
            out += text[i];
            continue;
        }
        size_t nEnd = text.find(L'%', i + 1);
        if (nEnd == std::wstring::npos)
        {
            out += text.substr(i);
            break;
        }
        std::wstring name = text.substr(i + 1, nEnd - i - 1);
        if (name.empty())
            out += L'%';
        else
        {
            bool bFound = false;
            for (const auto& r : replacements)
                if (r.first == name)
                {
                    // Quotes in the replacement must survive inside a quoted text.
                    for (wchar_t ch : r.second)
                        out += ch == L'\'' ? std::wstring(L"''") : std::wstring(1, ch);
                    bFound = true;
                }
            if (!bFound)
                out += text.substr(i, nEnd - i + 1);
        }
        i = nEnd;
    }
    return out;
}
}

HRESULT CRegistrar::Run(const std::wstring& script, bool bRegister, const Replacements& replacements)
{
    std::wstring text = Replace(script, replacements);
    return CScript(text, bRegister).Run();
}

HRESULT CRegistrar::RunResource(HMODULE hModule, UINT nResourceId, bool bRegister, const Replacements& replacements)
{
    HRSRC hRes = FindResourceW(hModule, MAKEINTRESOURCEW(nResourceId), L"REGISTRY");
    HGLOBAL hData = hRes != nullptr ? LoadResource(hModule, hRes) : nullptr;
    const char* pText = hData != nullptr ? static_cast<const char*>(LockResource(hData)) : nullptr;
    DWORD cb = hRes != nullptr ? SizeofResource(hModule, hRes) : 0;
    if (pText == nullptr)
        return HResultFromLastError();
    int cch = MultiByteToWideChar(CP_ACP, 0, pText, int(cb), nullptr, 0);
    std::wstring script(size_t(cch), L'\0');
    MultiByteToWideChar(CP_ACP, 0, pText, int(cb), script.data(), cch);
    // A resource may be padded with terminators.
    while (!script.empty() && script.back() == L'\0')
        script.pop_back();
    return Run(script, bRegister, replacements);
}
