// The growing text of the graph description.
#include <gtest/gtest.h>

#include "diagnostics/TextBuffer.h"
#include "common/TaskMemorySpy.h"

#include <string>

namespace
{
TEST(TextBuffer, GrowsInStepsOf4096Characters)
{
    CTextBuffer text;
    EXPECT_TRUE(text.Append(std::wstring(4094, L'a').c_str()));
    EXPECT_EQ(text.Capacity(), 4096u);  // needs 4095
    EXPECT_TRUE(text.Append(L"b"));
    EXPECT_EQ(text.Capacity(), 4096u);  // needs 4096: still fits
    EXPECT_TRUE(text.Append(L"c"));
    EXPECT_EQ(text.Capacity(), 8192u);  // needs 4097
    EXPECT_TRUE(text.Append(std::wstring(5000, L'd').c_str()));
    EXPECT_EQ(text.Capacity(), 12288u);  // needs 9097
    EXPECT_EQ(text.Length(), 9096u);
    std::wstring expected = std::wstring(4094, L'a') + L"bc" + std::wstring(5000, L'd');
    EXPECT_EQ(std::wstring(text.Text()), expected);
}

TEST(TextBuffer, EmptyTextsChangeNothing)
{
    CTextBuffer text;
    EXPECT_TRUE(text.Append(L""));
    EXPECT_EQ(text.Text(), nullptr);
    EXPECT_EQ(text.Capacity(), 0u);
    EXPECT_TRUE(text.Append(L"x"));
    EXPECT_TRUE(text.Append(L""));
    EXPECT_STREQ(text.Text(), L"x");
}

TEST(TextBuffer, ReserveKeepsTheTextAndDetachHandsItOver)
{
    CTextBuffer text;
    EXPECT_TRUE(text.Reserve(4096));
    EXPECT_EQ(text.Capacity(), 4096u);
    EXPECT_STREQ(text.Text(), L"");
    EXPECT_TRUE(text.AppendFormat(L"%s=0x%X", L"hr", 0x80004005u));
    EXPECT_TRUE(text.Reserve(100));
    EXPECT_EQ(text.Capacity(), 4096u);
    LPWSTR psz = text.Detach();
    ASSERT_NE(psz, nullptr);
    EXPECT_STREQ(psz, L"hr=0x80004005");
    EXPECT_EQ(text.Text(), nullptr);
    EXPECT_EQ(text.Length(), 0u);
    EXPECT_EQ(text.Capacity(), 0u);
    CoTaskMemFree(psz);
}

// Out of memory: the append fails, the old text is freed and the buffer is empty.
TEST(TextBuffer, FailedGrowthFreesTheTextAndEmptiesTheBuffer)
{
    CTaskMemorySpy& spy = CTaskMemorySpy::Instance();
    spy.Begin();
    {
        CTextBuffer text;
        spy.FailAllocation(1);
        EXPECT_FALSE(text.Append(L"abc"));
        EXPECT_EQ(text.Text(), nullptr);
        EXPECT_TRUE(text.Append(std::wstring(4000, L'a').c_str()));
        spy.FailAllocation(1);
        EXPECT_FALSE(text.Append(std::wstring(200, L'b').c_str()));
        EXPECT_EQ(text.Text(), nullptr);
        EXPECT_EQ(text.Length(), 0u);
        EXPECT_EQ(text.Capacity(), 0u);
        EXPECT_EQ(spy.LiveBlocks(), 0u);
        EXPECT_TRUE(text.Append(L"again"));
        EXPECT_STREQ(text.Text(), L"again");
        spy.FailAllocation(1);
        EXPECT_FALSE(text.Reserve(10000));
        EXPECT_EQ(text.Text(), nullptr);
    }
    EXPECT_EQ(spy.LiveBlocks(), 0u);
    EXPECT_EQ(spy.DoubleFrees(), 0u);
}
}
