// Sixteen tone filters streaming through Wine's filter graph manager, each into a Sample
// Grabber and a Null Renderer, without a clock: all in one graph, and spread over several
// graphs each run and stopped from a thread of its own. Eight are left alone and must stay
// exact to the byte; four other threads change the other eight's tones and formats while
// they stream, and those must keep streaming.
#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "common/HandleCount.h"
#include "common/TaskMemorySpy.h"
#include "reliability/Campaign.h"
#include "reliability/FilterRig.h"
#include "reliability/GraphChain.h"

namespace campaign
{
namespace
{
class ManyGraphs : public CampaignTest, public testing::WithParamInterface<int>
{
};

TEST_P(ManyGraphs, SixteenStreamWhileOthersAreChanged)
{
    const int kFilters = 16, kLeftAlone = 8, nGraphs = GetParam();
    const LONG nSamples = LONG(Scale(25, 1500));
    const size_t nRounds = Scale(2, 5);
    const CToneFormat kFormats[] = {{2, 16, 48000}, {6, 24, 96000}, {1, 8, 8000}, {8, 20, 44100}};
    size_t nHeld = 0;
    LONG nChangesAll = 0;
    std::atomic<LONG> nFormatsTaken{0};
    for (size_t r = 0; r < nRounds && !HasFatalFailure(); ++r)
    {
        std::vector<CComPtr<IGraphBuilder>> graphs;
        for (int g = 0; g < nGraphs; ++g)
        {
            graphs.push_back(NewPlatformGraph());
            ASSERT_TRUE(graphs.back());
            ASSERT_EQ(CComQIPtr<IMediaFilter>(graphs.back())->SetSyncSource(nullptr), S_OK);
        }
        std::vector<std::unique_ptr<CStreamCheck>> checks;
        std::vector<CChain> chains(kFilters);
        for (int i = 0; i < kFilters; ++i)
        {
            const CToneFormat& fmt = kFormats[i % 4];
            checks.push_back(std::make_unique<CStreamCheck>(fmt));
            ASSERT_EQ(chains[i].Build(graphs[i % nGraphs], i, fmt, i < kLeftAlone ? checks[i].get() : nullptr, nSamples), S_OK)
                << "filter " << i;
        }

        // A graph counts as streaming from its Run to just before its Stop.
        std::vector<std::atomic<bool>> streaming(nGraphs);
        std::atomic<int> nRunning{nGraphs};
        std::atomic<LONG> nChanges{0}, nChangeFailures{0};
        std::vector<HRESULT> results(nGraphs, E_PENDING);
        std::vector<std::thread> threads;
        for (int g = 0; g < nGraphs; ++g)
            threads.emplace_back([&, g] {
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                CComQIPtr<IMediaControl> spControl(graphs[g]);
                // S_FALSE: the graph is still on its way to running, which is fine here.
                HRESULT hr = spControl->Run();
                hr = SUCCEEDED(hr) ? S_OK : hr;
                streaming[g] = hr == S_OK;
                for (int i = g; i < kFilters && hr == S_OK; i += nGraphs)
                    if (WaitForSingleObject(chains[i].spGrabbed->Enough(), 120000) != WAIT_OBJECT_0)
                        hr = E_ABORT;
                streaming[g] = false;
                const HRESULT hrStop = spControl->Stop();
                results[g] = hr == S_OK ? hrStop : hr;
                --nRunning;
                CoUninitialize();
            });
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                std::mt19937 rng(Seed() + 20 + unsigned(t));
                while (nRunning > 0)
                {
                    const int i = kLeftAlone + int(rng() % (kFilters - kLeftAlone));
                    if (!streaming[i % nGraphs])
                        continue;
                    ICRVTonewell* pTone = chains[i].spTone;
                    HRESULT hr = S_OK;
                    switch (rng() % 3)
                    {
                    case 0: hr = pTone->SetFrequency(0, int(rng() % 3900)); break;
                    case 1: hr = pTone->SetAmplitude(0, -double(rng() % 100)); break;
                    default:
                    {
                        const CToneFormat& fmt = kFormats[rng() % 4];
                        hr = pTone->SetParameters(fmt.nValidBits, fmt.nChannels, 0, int(fmt.nRate));
                        nFormatsTaken += hr == S_OK ? 1 : 0;
                        break;
                    }
                    }
                    ++nChanges;
                    if (hr != S_OK && streaming[i % nGraphs])
                        ++nChangeFailures;
                }
                CoUninitialize();
            });
        for (std::thread& th : threads)
            th.join();

        for (int i = 0; i < kFilters; ++i)
        {
            SCOPED_TRACE(testing::Message() << "filter " << i << " in graph " << i % nGraphs);
            const size_t nParts = FailuresSoFar();
            EXPECT_EQ(results[i % nGraphs], S_OK);
            EXPECT_GE(chains[i].spGrabbed->Seen(), nSamples);
            if (i < kLeftAlone)
            {
                EXPECT_EQ(checks[i]->Fault(), "");
            }
            nHeld += FailuresSoFar() == nParts ? 1 : 0;
        }
        EXPECT_EQ(nChangeFailures, 0) << "a change from another thread failed";
        nChangesAll += nChanges;
        for (int i = 0; i < kFilters; ++i)
            chains[i].TakeDown(graphs[i % nGraphs]);
        chains.clear();
        graphs.clear();
        // What the first round sets up for good stays; the later rounds are held flat, but
        // for the handle Wine keeps for every graph made (as a graph made alone shows).
        if (r == 0)
        {
            CTaskMemorySpy::Instance().Begin();
            const long nBefore = testhandles::ProcessHandleCount();
            NewPlatformGraph();
            const long nPerGraph = testhandles::ProcessHandleCount() - nBefore;
            RebaseHandles(-nPerGraph * nGraphs * long(nRounds - 1), 0);
        }
    }
    Report("16 filters in " + std::to_string(nGraphs) + (nGraphs == 1 ? " graph" : " graphs, a thread each"),
           nRounds * kFilters, nHeld,
           std::to_string(nRounds) + " rounds, " + std::to_string(nSamples) + " samples per filter, " +
               std::to_string(nChangesAll) + " changes from 4 threads, " + std::to_string(nFormatsTaken.load()) +
               " of them formats");
}

INSTANTIATE_TEST_SUITE_P(Graphs, ManyGraphs, testing::Values(1, 4, 16));
}
}
