// Reading the fixed part of a version resource: from real modules, and from version
// blocks that are short or malformed, placed against an inaccessible page so that any
// read beyond the block faults.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "framework/FileVersion.h"

namespace
{
const DWORD kFixedSignature = 0xFEEF04BD;

class CModule
{
public:
    CModule(const wchar_t* pszDll, DWORD dwFlags = 0) : m_h(LoadLibraryExW(pszDll, nullptr, dwFlags)) {}
    ~CModule()
    {
        if (m_h)
            FreeLibrary(m_h);
    }
    operator HINSTANCE() const { return m_h; }

private:
    HMODULE m_h;
};

TEST(ReadFixedFileInfo, TheModulesOwnResource)
{
    for (const wchar_t* pszDll : {L"versionprobe.dll", L"Tonewell.dll"})
    {
        CModule module(pszDll, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(HINSTANCE(module), nullptr);
        VS_FIXEDFILEINFO fi;
        memset(&fi, 0xCC, sizeof(fi));
        ASSERT_EQ(ReadFixedFileInfo(&fi, module), S_OK);
        EXPECT_EQ(fi.dwSignature, kFixedSignature);
        EXPECT_EQ(fi.dwProductVersionMS, 0x00010001u);
        EXPECT_EQ(fi.dwProductVersionLS, 0x00020000u);
        EXPECT_EQ(fi.dwFileVersionMS, 0x00010001u);
        EXPECT_EQ(fi.dwFileFlags & VS_FF_DEBUG, DWORD(VS_FF_DEBUG));
    }
}

TEST(ReadFixedFileInfo, AModuleWithoutResourceFailsAndClearsTheBlock)
{
    CModule module(L"versionprobe_nores.dll");
    ASSERT_NE(HINSTANCE(module), nullptr);
    VS_FIXEDFILEINFO fi;
    memset(&fi, 0xCC, sizeof(fi));
    HRESULT hr = ReadFixedFileInfo(&fi, module);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32) << std::hex << hr;
    VS_FIXEDFILEINFO zero = {};
    EXPECT_EQ(memcmp(&fi, &zero, sizeof(fi)), 0);
    EXPECT_EQ(ReadFixedFileInfo(nullptr, module), E_INVALIDARG);
}

// A version block: head, key with terminator, padding to 4, value.
std::vector<BYTE> Block(WORD wLength, WORD wValueLength, const wchar_t* pszKey = L"VS_VERSION_INFO")
{
    std::vector<BYTE> block(6);
    memcpy(&block[0], &wLength, 2);
    memcpy(&block[2], &wValueLength, 2);
    const BYTE* pbKey = reinterpret_cast<const BYTE*>(pszKey);
    block.insert(block.end(), pbKey, pbKey + (wcslen(pszKey) + 1) * 2);
    block.resize((block.size() + 3) & ~size_t(3));
    for (int i = 0; i < 52; ++i)
        block.push_back(BYTE(0x10 + i));
    return block;
}

// The first cb bytes of the block, ending right at an inaccessible page.
class CGuardedBlock
{
public:
    CGuardedBlock(const std::vector<BYTE>& block, size_t cb)
    {
        m_pbPages = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD dwOld = 0;
        VirtualProtect(m_pbPages + 4096, 4096, PAGE_NOACCESS, &dwOld);
        m_pbBlock = m_pbPages + 4096 - cb;
        memcpy(m_pbBlock, block.data(), cb);
    }
    ~CGuardedBlock() { VirtualFree(m_pbPages, 0, MEM_RELEASE); }
    const BYTE* Data() const { return m_pbBlock; }

private:
    BYTE* m_pbPages;
    BYTE* m_pbBlock;
};

struct BlockCase
{
    const char* pszName;
    std::vector<BYTE> block;
    size_t cbBlock;  // what the resource holds
    HRESULT hrExpected;
    size_t cbCopied;
};

class ParseFixedFileInfo : public testing::TestWithParam<BlockCase>
{
};

TEST_P(ParseFixedFileInfo, CopiesWhatTheBlockHoldsAndNoMore)
{
    const BlockCase& c = GetParam();
    CGuardedBlock guarded(c.block, c.cbBlock);
    VS_FIXEDFILEINFO fi;
    memset(&fi, 0xCC, sizeof(fi));
    EXPECT_EQ(::ParseFixedFileInfo(&fi, guarded.Data(), DWORD(c.cbBlock)), c.hrExpected);
    const BYTE* pb = reinterpret_cast<const BYTE*>(&fi);
    for (size_t i = 0; i < sizeof(fi); ++i)
        ASSERT_EQ(pb[i], i < c.cbCopied ? BYTE(0x10 + i) : 0) << "byte " << i;
}

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

INSTANTIATE_TEST_SUITE_P(
    Blocks, ParseFixedFileInfo,
    testing::Values(BlockCase{"Whole", Block(92, 52), 92, S_OK, 52},
                    BlockCase{"ShortValue", Block(92, 30), 92, S_FALSE, 30},
                    BlockCase{"LongValueField", Block(92, 200), 92, S_OK, 52},
                    BlockCase{"ResourceEndsInValue", Block(92, 52), 60, S_FALSE, 20},
                    BlockCase{"BlockEndsInValue", Block(50, 52), 92, S_FALSE, 10},
                    BlockCase{"ResourceEndsAtValue", Block(92, 52), 40, S_FALSE, 0},
                    BlockCase{"ResourceEndsInKey", Block(92, 52), 20, E_FAIL, 0},
                    BlockCase{"ResourceEndsInHead", Block(92, 52), 5, kNotFound, 0},
                    BlockCase{"NoResourceBytes", Block(92, 52), 0, kNotFound, 0},
                    BlockCase{"LengthThree", Block(3, 52), 92, kNotFound, 0},
                    BlockCase{"NoValue", Block(92, 0), 92, kNotFound, 0},
                    BlockCase{"OtherKey", Block(92, 52, L"VS_VERSION_INFX"), 92, E_FAIL, 0},
                    BlockCase{"ShorterKey", Block(80, 52, L"VS_VERSION"), 80, E_FAIL, 0}),
    [](const testing::TestParamInfo<BlockCase>& info) { return std::string(info.param.pszName); });

TEST(ParseFixedFileInfoArguments, NullPointers)
{
    std::vector<BYTE> block = Block(92, 52);
    EXPECT_EQ(::ParseFixedFileInfo(nullptr, block.data(), DWORD(block.size())), E_INVALIDARG);
    VS_FIXEDFILEINFO fi;
    EXPECT_EQ(::ParseFixedFileInfo(&fi, nullptr, 92), kNotFound);
}
}
