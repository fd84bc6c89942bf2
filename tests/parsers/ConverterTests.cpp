// Times, counts, four-character codes and name prefixes as trace lines show them, and
// the bounds of the caller's buffer.
#include <gtest/gtest.h>

#include "GuardedBuffer.h"
#include "diagnostics/DSParsers.h"
#include "types/AssertionLog.h"

namespace
{
struct TimeCase
{
    LONGLONG t;
    const wchar_t* pszText;
};

class RefTimeText : public ::testing::TestWithParam<TimeCase>
{
};

TEST_P(RefTimeText, ReadsAsSecondsMillisecondsAndRest)
{
    CGuardedBuffer buf(REFTIME_STR_CCH);
    EXPECT_EQ(RefTime2Str(GetParam().t, buf.Get()), buf.Get());
    EXPECT_EQ(buf.Text(), GetParam().pszText);
    EXPECT_TRUE(buf.FenceIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Times, RefTimeText,
    ::testing::Values(TimeCase{0, L"0.000"}, TimeCase{10000000, L"1.000"}, TimeCase{12345678, L"1.234'5678"},
                      TimeCase{1, L"0.000'0001"}, TimeCase{-5000, L"-0.000'5000"}, TimeCase{-15000000, L"-1.500"},
                      TimeCase{400000, L"0.040"}, TimeCase{-5000000, L"-0.500"}, TimeCase{-12345678, L"-1.234'5678"},
                      TimeCase{-10000000, L"-1.000"}, TimeCase{-1, L"-0.000'0001"},
                      // Beyond 10^9 seconds the seconds are printed in two parts.
                      TimeCase{10000000000000000LL, L"1000000000.000"},
                      TimeCase{10000000000000001LL, L"1000000000.000'0001"},
                      TimeCase{-10000000000000001LL, L"-1000000000.000'0001"},
                      TimeCase{10000000000000000LL + 5 * 10000000LL, L"1000000005.000"},
                      TimeCase{MAXLONGLONG - 1, L"922337203685.477'5806"},
                      TimeCase{MINLONGLONG + 1, L"-922337203685.477'5807"}, TimeCase{MAXLONGLONG, L"MAXLONGLONG"},
                      TimeCase{MINLONGLONG, L"MINLONGLONG"}));

class LongLongText : public ::testing::TestWithParam<TimeCase>
{
};

TEST_P(LongLongText, GroupsDigitsByThousands)
{
    CGuardedBuffer buf(REFTIME_STR_CCH);
    EXPECT_EQ(LongLong2Str(GetParam().t, buf.Get()), buf.Get());
    EXPECT_EQ(buf.Text(), GetParam().pszText);
    EXPECT_TRUE(buf.FenceIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Counts, LongLongText,
    ::testing::Values(TimeCase{1234567, L"1 234 567"}, TimeCase{1000, L"1 000"}, TimeCase{0, L"0"}, TimeCase{-5, L"-5"},
                      TimeCase{999, L"999"}, TimeCase{-1000, L"-1 000"}, TimeCase{1000001, L"1 000 001"},
                      TimeCase{1000000000000000000LL, L"1 000 000 000 000 000 000"},
                      TimeCase{MAXLONGLONG - 1, L"9 223 372 036 854 775 806"},
                      TimeCase{MINLONGLONG + 1, L"-9 223 372 036 854 775 807"}, TimeCase{MAXLONGLONG, L"MAXLONGLONG"},
                      TimeCase{MINLONGLONG, L"MINLONGLONG"}));

struct CodeCase
{
    DWORD dwCode;
    const wchar_t* pszStr;   // Fourcc2Str
    const wchar_t* pszName;  // Fourcc2Name
};

class FourccText : public ::testing::TestWithParam<CodeCase>
{
};

TEST_P(FourccText, PrintableCodesReadAsCharactersOthersByNameOrNumber)
{
    CGuardedBuffer str(FOURCC_STR_CCH);
    EXPECT_EQ(Fourcc2Str(GetParam().dwCode, str.Get()), str.Get());
    EXPECT_EQ(str.Text(), GetParam().pszStr);
    EXPECT_TRUE(str.FenceIntact());

    CGuardedBuffer name(FOURCC_NAME_CCH);
    EXPECT_EQ(Fourcc2Name(GetParam().dwCode, name.Get()), name.Get());
    EXPECT_EQ(name.Text(), GetParam().pszName);
    EXPECT_TRUE(name.FenceIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, FourccText,
    ::testing::Values(CodeCase{0x32595559, L"YUY2", L"YUY2"}, CodeCase{0x30313259, L"Y210", L"Y210"},
                      CodeCase{0x20202020, L"    ", L"    "}, CodeCase{0x7E7E7E7E, L"~~~~", L"~~~~"},
                      CodeCase{3, L"", L"BI_BITFIELDS"}, CodeCase{0, L"", L"BI_RGB"}, CodeCase{1, L"", L"BI_RLE8"},
                      CodeCase{0xE436EB7E, L"", L"RGB32"}, CodeCase{0x297C55AF, L"", L"ARGB1555"},
                      CodeCase{0x773C9AC0, L"", L"ARGB32"}, CodeCase{0x00000010, L"", L"0x00000010"},
                      // One unprintable byte anywhere spoils the characters.
                      CodeCase{0x1F595559, L"", L"0x1F595559"}, CodeCase{0x3259557F, L"", L"0x3259557F"},
                      CodeCase{0x32598059, L"", L"0x32598059"}, CodeCase{0xFFFFFFFF, L"", L"0xFFFFFFFF"}));

struct PrefixCase
{
    const wchar_t* pszName;
    int nMax;
    const wchar_t* pszPrefix;
};

class NamePrefix : public ::testing::TestWithParam<PrefixCase>
{
};

TEST_P(NamePrefix, FitsTheGivenLength)
{
    const PrefixCase& c = GetParam();
    CGuardedBuffer buf(c.nMax);
    EXPECT_EQ(MakeNamePrefix(c.pszName, buf.Get(), c.nMax), buf.Get());
    EXPECT_EQ(buf.Text(), c.pszPrefix);
    EXPECT_TRUE(buf.FenceIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Names, NamePrefix,
    ::testing::Values(PrefixCase{L"abc", 10, L"abc: "}, PrefixCase{L"abcdefgh", 10, L"abcde..: "},
                      // Exactly fits with ": " and the terminator; one more character cuts.
                      PrefixCase{L"abcdefg", 10, L"abcdefg: "}, PrefixCase{L"abcdefgh", 11, L"abcdefgh: "},
                      PrefixCase{L"abc", 6, L"abc: "}, PrefixCase{L"abcd", 6, L"a..: "},
                      PrefixCase{L"abc", 5, L""}, PrefixCase{L"", 10, L": "},
                      PrefixCase{L"[Tonewell]", 128, L"[Tonewell]: "}));

TEST(NamePrefixLimits, NoNameGivesEmptyTextAndNoBufferGivesNull)
{
    CGuardedBuffer buf(10);
    EXPECT_EQ(MakeNamePrefix(nullptr, buf.Get(), 10), buf.Get());
    EXPECT_EQ(buf.Text(), L"");
    EXPECT_EQ(MakeNamePrefix(L"abc", nullptr, 10), nullptr);
    CGuardedBuffer untouched(10);
    EXPECT_EQ(MakeNamePrefix(L"abc", untouched.Get(), 0), nullptr);
    EXPECT_TRUE(untouched.Untouched());
}

// A missing buffer is asserted with the converter's own condition text and gives null.
TEST(ConverterPreconditions, MissingBuffersAreAssertedAndAnsweredWithNull)
{
    testsink::CSinkReader sink(L"testsink.dll");
    ASSERT_TRUE(sink.IsLoaded());
    sink.Clear();
    EXPECT_EQ(RefTime2Str(0, nullptr), nullptr);
    EXPECT_EQ(LongLong2Str(0, nullptr), nullptr);
    EXPECT_EQ(Fourcc2Str(0, nullptr), nullptr);
    EXPECT_EQ(Fourcc2Name(0, nullptr), nullptr);
    LPCWSTR pszEmpty = Guid2Name(GUID_NULL, nullptr, 10);
    ASSERT_NE(pszEmpty, nullptr);
    EXPECT_EQ(pszEmpty[0], 0);
    WCHAR sz[4] = {L'x', L'y', L'z', 0};
    EXPECT_EQ(Guid2Name(GUID_NULL, sz, 0)[0], 0);
    EXPECT_EQ(sz[0], L'x');
    ParseMediaType(nullptr, nullptr, 10, true);
    EXPECT_EQ(MakeNamePrefix(nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(testsink::AssertedConditions(sink, L"TextConverters.cpp"),
              (std::vector<std::string>{"pszConv != NULL", "pszConv != NULL", "pszFCC != NULL && _T(\"Fourcc2Str()\")",
                                        "pszFCC != NULL && _T(\"Fourcc2Name()\")",
                                        "pszName != NULL && _T(\"Guid2Name()\")", "nMaxSym > 0 && _T(\"Guid2Name()\")",
                                        "pszMediaType != NULL && _T(\"ParseMediaType()\")", "pszName != NULL",
                                        "pszPrefix != NULL", "nMaxLength > 0"}));
}
}
