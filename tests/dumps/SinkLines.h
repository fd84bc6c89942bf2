// The trace lines that reached the test log sink, with their level and without the head.
#pragma once
#include <string>
#include <vector>

#include "common/TestSinkClient.h"

struct SinkLine
{
    unsigned nLevel;
    std::wstring text;
};

// Events that are not trace lines of this program (blocks, assertion reports) are left out.
inline std::vector<SinkLine> TraceLines(const testsink::CSinkReader& sink)
{
    const std::wstring tag = L"TEST_DUMPS: ";
    std::vector<SinkLine> lines;
    for (const std::wstring& e : sink.Events())
    {
        if (e.size() < 3 + tag.size() || e[0] != L'L' || e[1] != 0x1B || e.compare(3, tag.size(), tag) != 0)
            continue;
        lines.push_back({unsigned(e[2]) - 1, e.substr(3 + tag.size())});
    }
    return lines;
}

// Only the texts, all expected at one level.
inline std::vector<std::wstring> TraceTexts(const testsink::CSinkReader& sink, unsigned nLevel)
{
    std::vector<std::wstring> texts;
    for (const SinkLine& line : TraceLines(sink))
        texts.push_back(line.nLevel == nLevel ? line.text : L"<level " + std::to_wstring(line.nLevel) + L"> " + line.text);
    return texts;
}

// 16 upper-case hexadecimal digits: how the run time's %p prints an address.
inline std::wstring Address(const void* pv)
{
    wchar_t sz[17];
    unsigned long long u = reinterpret_cast<unsigned long long>(pv);
    for (int i = 15; i >= 0; --i, u >>= 4)
        sz[i] = L"0123456789ABCDEF"[u & 0xF];
    sz[16] = 0;
    return sz;
}
