// The registry script interpreter on a key of the tests' own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "server/Registrar.h"

namespace
{
const wchar_t kBase[] = L"Software\\TonewellRegistrarTests";

std::wstring Script(const std::wstring& body)
{
    return L"HKCU { NoRemove Software { " + body + L" } }";
}

bool KeyExists(const std::wstring& path)
{
    HKEY h = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    RegCloseKey(h);
    return true;
}

// The value's text, or "<none>" / "<dword n>".
std::wstring ValueOf(const std::wstring& path, const wchar_t* pszName)
{
    wchar_t sz[256] = {};
    DWORD cb = sizeof(sz) - sizeof(wchar_t), dwType = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, path.c_str(), pszName, RRF_RT_ANY, &dwType, sz, &cb) != ERROR_SUCCESS)
        return L"<none>";
    if (dwType == REG_DWORD)
    {
        DWORD dw = 0;
        memcpy(&dw, sz, sizeof(dw));
        return L"<dword " + std::to_wstring(dw) + L">";
    }
    return sz;
}

class RegistrarTest : public testing::Test
{
protected:
    void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kBase); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kBase); }
    const std::wstring base = kBase;
};

TEST_F(RegistrarTest, WritesKeysValuesAndReplacementsThenRemovesWhatIsMarked)
{
    const std::wstring script = Script(
        L"TonewellRegistrarTests = s 'top' {"
        L"  'Quoted Name' = s 'it''s %MODULE%' { val Count = d 42  val Text = s 'x' }"
        L"  NoRemove Kept { Child = s 'c' }"
        L"  ForceRemove {5B7E0C40-8A2D-4F63-9E1B-6D4C3A2F7E90} = s 'clsid' { Sub = s 's' }"
        L"  Plain"
        L"}");
    ASSERT_EQ(CRegistrar::Run(script, true, {{L"MODULE", L"C:\\a'b.dll"}}), S_OK);
    EXPECT_EQ(ValueOf(base, nullptr), L"top");
    EXPECT_EQ(ValueOf(base + L"\\Quoted Name", nullptr), L"it's C:\\a'b.dll");
    EXPECT_EQ(ValueOf(base + L"\\Quoted Name", L"Count"), L"<dword 42>");
    EXPECT_EQ(ValueOf(base + L"\\Quoted Name", L"Text"), L"x");
    EXPECT_EQ(ValueOf(base + L"\\Kept\\Child", nullptr), L"c");
    EXPECT_EQ(ValueOf(base + L"\\{5B7E0C40-8A2D-4F63-9E1B-6D4C3A2F7E90}\\Sub", nullptr), L"s");
    EXPECT_TRUE(KeyExists(base + L"\\Plain"));

    // A key the script does not know, under a ForceRemove key, goes with it on registration.
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (base + L"\\{5B7E0C40-8A2D-4F63-9E1B-6D4C3A2F7E90}\\Stale").c_str(), 0,
                              nullptr, 0, KEY_WRITE, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(h);
    ASSERT_EQ(CRegistrar::Run(script, true, {{L"MODULE", L"m"}}), S_OK);
    EXPECT_FALSE(KeyExists(base + L"\\{5B7E0C40-8A2D-4F63-9E1B-6D4C3A2F7E90}\\Stale"));

    ASSERT_EQ(CRegistrar::Run(script, false, {}), S_OK);
    EXPECT_FALSE(KeyExists(base + L"\\Quoted Name"));
    EXPECT_FALSE(KeyExists(base + L"\\{5B7E0C40-8A2D-4F63-9E1B-6D4C3A2F7E90}"));
    EXPECT_FALSE(KeyExists(base + L"\\Plain"));
    EXPECT_FALSE(KeyExists(base + L"\\Kept\\Child"));
    EXPECT_TRUE(KeyExists(base + L"\\Kept")) << "NoRemove keeps the key itself";
    EXPECT_TRUE(KeyExists(base)) << "a key that is not empty stays";
    EXPECT_TRUE(KeyExists(L"Software"));

    // Unregistering what is not there is no error.
    EXPECT_EQ(CRegistrar::Run(script, false, {}), S_OK);
}

TEST_F(RegistrarTest, KeyLeftWithForeignContentSurvivesUnregistration)
{
    const std::wstring script = Script(L"TonewellRegistrarTests { Mine = s 'm' }");
    ASSERT_EQ(CRegistrar::Run(script, true, {}), S_OK);
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (base + L"\\Theirs").c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h,
                              nullptr),
              ERROR_SUCCESS);
    RegCloseKey(h);
    ASSERT_EQ(CRegistrar::Run(script, false, {}), S_OK);
    EXPECT_FALSE(KeyExists(base + L"\\Mine"));
    EXPECT_TRUE(KeyExists(base + L"\\Theirs"));
}

TEST_F(RegistrarTest, DeleteRemovesOnRegistration)
{
    ASSERT_EQ(CRegistrar::Run(Script(L"TonewellRegistrarTests { Old { Inner } }"), true, {}), S_OK);
    ASSERT_TRUE(KeyExists(base + L"\\Old\\Inner"));
    ASSERT_EQ(CRegistrar::Run(Script(L"TonewellRegistrarTests { Delete Old }"), true, {}), S_OK);
    EXPECT_FALSE(KeyExists(base + L"\\Old"));
}

// Scripts that cannot be read are refused with the registrar's own failure.
TEST_F(RegistrarTest, UnreadableScriptsAreRefused)
{
    const wchar_t* scripts[] = {
        L"HKCU { NoRemove Software { TonewellRegistrarTests = s 'unterminated } }",
        L"HKCU { NoRemove Software { TonewellRegistrarTests = q 'kind' } }",
        L"HKCU { NoRemove Software { TonewellRegistrarTests = d 12x } }",
        L"HKCU { NoRemove Software { TonewellRegistrarTests { val = s 'no name' } } }",
        L"HKXX { Key }",
        L"HKCU { NoRemove Software { TonewellRegistrarTests { Open } }",
        L"HKCU Key",
        L"HKCU { { } }",
    };
    for (const wchar_t* pszScript : scripts)
        EXPECT_EQ(CRegistrar::Run(pszScript, true, {}), DISP_E_EXCEPTION) << pszScript;
}
}
