// Log sinks that misbehave while the filter streams: one that faults on its nth line, one
// that holds its lock for a while every nth line, one that is slow on every line. Each try
// points the sink key at the sink, loads Tonewell.dll afresh (the key is read at load) and
// streams its filter into the fake downstream pin: the stream stays exact, Stop returns,
// the process goes on; a faulted sink is never called again, a slow one gets every line.
// In a graph the filter writes the graph's description as one block when it starts: a sink
// that faults there is switched off the same way while the graph streams on.
#include <algorithm>
#include <chrono>
#include <random>
#include <sstream>

#include "common/TestSinkClient.h"
#include "reliability/Campaign.h"
#include "reliability/FilterRig.h"
#include "reliability/GraphChain.h"
#include "reliability/ModuleFile.h"

namespace campaign
{
namespace
{
struct CTry
{
    std::string fault;  // empty when the stream was exact and Stop returned S_OK
    double dblStopMs = 0;
    size_t nLines = 0;  // WriteLine calls the sink recorded
    size_t nLinesAtRun = 0;  // of them, before Run was called
    size_t nLinesAtStop = 0;  // before Stop was called
    size_t nLinesAfterStop = 0;  // when it had returned
    bool bDetached = false;
};

// Whether a recorded sink event is of a kind: "L" a line, "B" a block, "D" the Detach.
auto IsEvent(const wchar_t* pszKind)
{
    return [pszKind](const std::wstring& e) { return e.rfind(pszKind, 0) == 0; };
}

size_t Lines(const std::vector<std::wstring>& events)
{
    return size_t(std::count_if(events.begin(), events.end(), IsEvent(L"L")));
}

// One fresh load of the module tracing into pszDll, misbehaving every nPeriod lines.
CTry StreamInto(const wchar_t* pszDll, long nPeriod, LONG nSamples)
{
    CTry t;
    testsink::CSinkReader sink(pszDll);
    if (!sink.IsLoaded())
    {
        t.fault = "the sink DLL is missing";
        return t;
    }
    sink.SetPeriod(nPeriod);
    testsink::SetRegistryValue(testsink::ModuleDir() + pszDll);
    {
        CModule module;
        testsink::ClearRegistry();
        CComPtr<IBaseFilter> spFilter = module.Ready() ? module.Create() : nullptr;
        CComObject<CFakeDownstream>* pFake = nullptr;
        if (!spFilter || CFakeDownstream::Create(&pFake) != S_OK)
        {
            t.fault = "no filter from the module file";
            return t;
        }
        CComPtr<IBaseFilter> spFake;
        spFake.Attach(pFake);
        CComPtr<IPin> spOut;
        spFilter->FindPin(L"Out", &spOut);
        CFakeInputPin* pPin = pFake->m_pPin;
        CStreamCheck check(CToneFormat{2, 16, 48000});
        pPin->m_fnOnReceive = [&check](IMediaSample* pSample) { check.OnSample(pSample); };
        const bool bConnected = spOut && spOut->Connect(static_cast<IPin*>(pPin), nullptr) == S_OK;
        t.nLinesAtRun = Lines(sink.Events());
        if (!bConnected)
            t.fault = "no connection";
        else if (spFilter->Run(0) != S_OK || !pPin->WaitReceived(nSamples, 120000))
            t.fault = "the stream stalled";
        t.nLinesAtStop = Lines(sink.Events());
        const auto tStop = std::chrono::steady_clock::now();
        const HRESULT hrStop = spFilter->Stop();
        t.dblStopMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - tStop).count();
        t.nLinesAfterStop = Lines(sink.Events());
        pPin->m_fnOnReceive = nullptr;
        pFake->Stop();
        if (t.fault.empty())
            t.fault = hrStop != S_OK ? "Stop failed" : check.Fault();
        if (spOut)
            spOut->Disconnect();
        static_cast<IPin*>(pPin)->Disconnect();
        spOut.Release();
        spFilter.Release();
        if (!module.Unload() && t.fault.empty())
            t.fault = "the module stays loaded";
    }
    const std::vector<std::wstring> events = sink.Events();
    t.nLines = Lines(events);
    t.bDetached = std::any_of(events.begin(), events.end(), IsEvent(L"D"));
    return t;
}

class SinkFaults : public CampaignTest
{
};

TEST_F(SinkFaults, StreamStaysExactAndStopReturns)
{
    const LONG nSamples = LONG(Scale(10, 50));
    std::mt19937 rng(Seed());

    // A sink that never reaches its nth line: how many lines one try writes.
    const CTry clean = StreamInto(L"testsink_fault_nth_writeline.dll", 1L << 30, nSamples);
    ASSERT_EQ(clean.fault, "");
    ASSERT_TRUE(clean.bDetached);
    ASSERT_GT(clean.nLines, 8u);

    {
        // The fault lands anywhere from the load to well into the stream. A line already
        // on its way on another thread (the streaming thread's, the host's) may still
        // arrive; nothing after that.
        const size_t nTries = Scale(4, 200);
        size_t nHeld = 0, nInStream = 0;
        std::uniform_int_distribution<long> period(1, long(clean.nLines * 3 / 4));
        for (size_t n = 0; n < nTries; ++n)
        {
            const size_t nParts = FailuresSoFar();
            // The first line of all, the first of Run, then anywhere.
            const long nPeriod = n == 0 ? 1 : n == 1 ? long(clean.nLinesAtRun) + 1 : period(rng);
            const CTry t = StreamInto(L"testsink_fault_nth_writeline.dll", nPeriod, nSamples);
            EXPECT_EQ(t.fault, "") << "fault on line " << nPeriod;
            EXPECT_GE(t.nLines, size_t(nPeriod)) << "the faulting line never came";
            EXPECT_LE(t.nLines, size_t(nPeriod) + 2) << "the sink was called after it faulted on line " << nPeriod;
            EXPECT_FALSE(t.bDetached) << "a faulted sink was detached";
            nInStream += size_t(nPeriod) > t.nLinesAtRun ? 1 : 0;
            nHeld += FailuresSoFar() == nParts ? 1 : 0;
        }
        Report("log sink faults on its nth line", nTries, nHeld,
               std::to_string(nInStream) + " faults from Run on, of about " + std::to_string(clean.nLines) +
                   " lines a try, " + std::to_string(clean.nLinesAtRun) + " before Run");
    }

    // Sinks that take their time keep every line and are detached at unload.
    struct Case
    {
        const wchar_t* pszDll;
        const char* pszArea;
        long nPeriodMax;
    };
    const Case cases[] = {{L"testsink_block_writeline.dll", "log sink blocks 100 ms on its nth line", 40},
                          {L"testsink_slow_writeline.dll", "log sink takes 2 ms on every line", 1}};
    for (const Case& c : cases)
    {
        const size_t nTries = Scale(2, 20);
        size_t nHeld = 0, nInStop = 0;
        double dblStopMax = 0;
        std::uniform_int_distribution<long> period(1, c.nPeriodMax);
        for (size_t n = 0; n < nTries; ++n)
        {
            const size_t nParts = FailuresSoFar();
            const long nPeriod = period(rng);
            const CTry t = StreamInto(c.pszDll, nPeriod, nSamples);
            EXPECT_EQ(t.fault, "") << c.pszArea << ", every " << nPeriod << " lines";
            EXPECT_TRUE(t.bDetached) << c.pszArea << ": the sink was switched off";
            EXPECT_GE(t.nLines, clean.nLines * 3 / 4) << c.pszArea << ": lines went missing";
            dblStopMax = std::max(dblStopMax, t.dblStopMs);
            // Whether a line written during Stop took its time.
            nInStop += t.nLinesAfterStop / nPeriod > t.nLinesAtStop / nPeriod ? 1 : 0;
            nHeld += FailuresSoFar() == nParts ? 1 : 0;
        }
        std::ostringstream note;
        note.precision(1);
        note << std::fixed << "Stop at most " << dblStopMax << " ms; in " << nInStop << " tries a line during Stop took its time";
        Report(c.pszArea, nTries, nHeld, note.str());
    }
}

// The graph's description goes to the sink's WriteBlock when the graph starts; a sink
// that faults or breaks there is switched off and the graph streams on, exact.
TEST_F(SinkFaults, BlockFaultWhileAGraphStreams)
{
    const struct
    {
        const wchar_t* pszDll;
        const char* pszArea;
    } cases[] = {{L"testsink_fault_writeblock.dll", "log sink faults in WriteBlock in a graph"},
                 {L"testsink_break_writeblock.dll", "log sink breaks in WriteBlock in a graph"}};
    const LONG nSamples = LONG(Scale(10, 100));
    for (const auto& c : cases)
    {
        const size_t nTries = Scale(2, 20);
        size_t nHeld = 0, nAfterBlock = 0;
        for (size_t n = 0; n < nTries; ++n)
        {
            const size_t nParts = FailuresSoFar();
            testsink::CSinkReader sink(c.pszDll);
            ASSERT_TRUE(sink.IsLoaded());
            testsink::SetRegistryValue(testsink::ModuleDir() + c.pszDll);
            {
                CModule module;
                testsink::ClearRegistry();
                ASSERT_TRUE(module.Ready());
                CComPtr<IGraphBuilder> spGraph = NewPlatformGraph();
                ASSERT_TRUE(spGraph);
                ASSERT_EQ(CComQIPtr<IMediaFilter>(spGraph)->SetSyncSource(nullptr), S_OK);
                const CToneFormat fmt{2, 16, 48000};
                CStreamCheck check(fmt);
                CChain chain;
                ASSERT_EQ(chain.Build(spGraph, 0, fmt, &check, nSamples, module.Create()), S_OK);
                CComQIPtr<IMediaControl> spControl(spGraph);
                EXPECT_TRUE(SUCCEEDED(spControl->Run()));
                EXPECT_EQ(WaitForSingleObject(chain.spGrabbed->Enough(), 120000), DWORD(WAIT_OBJECT_0)) << "the stream stalled";
                EXPECT_EQ(spControl->Stop(), S_OK);
                EXPECT_EQ(check.Fault(), "");
                chain.TakeDown(spGraph);
                chain = CChain();
                spControl.Release();
                spGraph.Release();
                EXPECT_TRUE(module.Unload()) << "the module stays loaded";
            }
            // The block came; after it at most the lines already on their way on other
            // threads, and no Detach.
            const std::vector<std::wstring> events = sink.Events();
            const auto itBlock = std::find_if(events.begin(), events.end(), IsEvent(L"B"));
            ASSERT_NE(itBlock, events.end()) << "the graph's description never came";
            EXPECT_NE(itBlock->find(L"Tonewell 0"), std::wstring::npos) << "the block names the filter";
            const size_t nAfter = size_t(events.end() - itBlock - 1);
            EXPECT_LE(nAfter, 2u) << "the sink was called after it faulted";
            EXPECT_FALSE(std::any_of(itBlock, events.end(), IsEvent(L"D"))) << "a faulted sink was detached";
            nAfterBlock = std::max(nAfterBlock, nAfter);
            nHeld += FailuresSoFar() == nParts ? 1 : 0;
        }
        Report(c.pszArea, nTries, nHeld,
               std::to_string(nSamples) + " samples exact through Wine's graph each; at most " +
                   std::to_string(nAfterBlock) + " calls after the block");
    }
    // Wine keeps a handle for every graph made (see ManyGraphs.cpp).
    RebaseHandles(0, 0);
}
}
}
