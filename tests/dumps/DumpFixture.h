// Dump tests read the lines back from the test log sink.
#pragma once
#include <gtest/gtest.h>

#include "SinkLines.h"

class DumpTest : public ::testing::Test
{
protected:
    DumpTest() : m_sink(L"testsink.dll") {}
    void SetUp() override
    {
        ASSERT_TRUE(m_sink.IsLoaded());
        m_sink.Clear();
    }
    std::vector<std::wstring> Lines(unsigned nLevel = 8) const { return TraceTexts(m_sink, nLevel); }

    testsink::CSinkReader m_sink;
};

using TextLines = std::vector<std::wstring>;
