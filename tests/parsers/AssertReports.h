// The condition texts of the assertion reports that reached the test log sink.
#pragma once
#include <string>
#include <vector>

#include "common/TestSinkClient.h"

inline std::vector<std::wstring> AssertedConditions(const testsink::CSinkReader& sink)
{
    const std::wstring open = L"): ASSERT( \"";
    std::vector<std::wstring> conditions;
    for (const std::wstring& e : sink.Events())
    {
        if (e.rfind(L"L###Err###\n", 0) != 0)
            continue;
        size_t nOpen = e.find(open);
        size_t nClose = e.find(L"\" )\n", nOpen);
        if (nOpen != std::wstring::npos && nClose != std::wstring::npos)
            conditions.push_back(e.substr(nOpen + open.size(), nClose - nOpen - open.size()));
    }
    return conditions;
}
