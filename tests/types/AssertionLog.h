// Reads the assertion reports that reached the test log sink.
#pragma once
#include <string>
#include <vector>

#include "common/TestSinkClient.h"

namespace testsink
{
// The condition texts of the assertion reports of one source, in order.
inline std::vector<std::string> AssertedConditions(const CSinkReader& sink, const std::wstring& source)
{
    const std::wstring head = L"L###Err###\n" + source + L"(";
    const std::wstring open = L"): ASSERT( \"";
    std::vector<std::string> conditions;
    for (const std::wstring& e : sink.Events())
    {
        if (e.compare(0, head.size(), head) != 0)
            continue;
        size_t nOpen = e.find(open);
        size_t nClose = e.find(L"\" )\n", nOpen);
        if (nOpen == std::wstring::npos || nClose == std::wstring::npos)
            continue;
        std::wstring text = e.substr(nOpen + open.size(), nClose - nOpen - open.size());
        conditions.emplace_back(text.begin(), text.end());
    }
    return conditions;
}
}
