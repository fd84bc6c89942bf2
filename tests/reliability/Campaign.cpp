#include "reliability/Campaign.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace campaign
{
namespace
{
bool s_bFull = false;
unsigned s_nSeed = 20261210;

struct CLine
{
    std::string area;
    size_t nTried, nHeld;
    std::string note;
};
std::mutex s_mutex;
std::vector<CLine> s_lines;
}

size_t Scale(size_t nShort, size_t nFull)
{
    return s_bFull ? nFull : nShort;
}

unsigned Seed()
{
    return s_nSeed;
}

size_t FailuresSoFar()
{
    const testing::TestInfo* pInfo = testing::UnitTest::GetInstance()->current_test_info();
    return pInfo != nullptr ? size_t(pInfo->result()->total_part_count()) : 0;
}

void Report(const std::string& area, size_t nTried, size_t nHeld, const std::string& note)
{
    std::printf("[campaign] %-40s tried %8zu  held %8zu  %s\n", area.c_str(), nTried, nHeld, note.c_str());
    std::fflush(stdout);
    std::lock_guard<std::mutex> lock(s_mutex);
    s_lines.push_back({area, nTried, nHeld, note});
}

namespace
{
void PrintTable()
{
    std::printf("\n| area | tried | held | notes |\n| --- | ---: | ---: | --- |\n");
    for (const CLine& l : s_lines)
        std::printf("| %s | %zu | %zu | %s |\n", l.area.c_str(), l.nTried, l.nHeld, l.note.c_str());
    std::fflush(stdout);
}
}
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--full") == 0)
            campaign::s_bFull = true;
        else if (std::strcmp(argv[i], "--short") == 0)
            campaign::s_bFull = false;
        else if (std::strncmp(argv[i], "--seed=", 7) == 0)
            campaign::s_nSeed = unsigned(std::strtoul(argv[i] + 7, nullptr, 10));
        else
        {
            std::fprintf(stderr, "usage: campaign_reliability [--short|--full] [--seed=N] [gtest options]\n");
            return 1;
        }
    }
    std::printf("[campaign] %s run, seed %u\n", campaign::s_bFull ? "full" : "short", campaign::s_nSeed);
    int nResult = RUN_ALL_TESTS();
    campaign::PrintTable();
    return nResult;
}
