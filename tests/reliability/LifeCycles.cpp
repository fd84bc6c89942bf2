// Life cycles of the filter as a host lives them, from the module file: Tonewell.dll loaded,
// then create -> connect -> run -> change settings -> stop -> release, a thousand times in
// the full run, with the module's own object count (DllCanUnloadNow), this process's task
// memory and handles flat; then the module unloads and loads again, and streams as before.
#include <sstream>

#include "common/HandleCount.h"
#include "common/TaskMemorySpy.h"
#include "reliability/Campaign.h"
#include "reliability/FilterRig.h"
#include "reliability/ModuleFile.h"

namespace campaign
{
namespace
{
// One host's life of a filter: exact stream, a tone and a format change while running.
testing::AssertionResult Cycle(CModule& module, size_t n)
{
    CComPtr<IBaseFilter> spFilter = module.Create();
    if (!spFilter)
        return testing::AssertionFailure() << "no filter";
    CComObject<CFakeDownstream>* pFake = nullptr;
    if (CFakeDownstream::Create(&pFake) != S_OK)
        return testing::AssertionFailure() << "no fake downstream filter";
    CComPtr<IBaseFilter> spFake;
    spFake.Attach(pFake);
    CComPtr<IPin> spOut;
    CComQIPtr<ICRVTonewell> spTone(spFilter);
    spFilter->FindPin(L"Out", &spOut);
    CFakeInputPin* pPin = pFake->m_pPin;
    CStreamCheck check(CToneFormat{2, 16, 48000});
    pPin->m_fnOnReceive = [&check](IMediaSample* pSample) { check.OnSample(pSample); };
    std::ostringstream fault;
    if (!spOut || !spTone || spOut->Connect(static_cast<IPin*>(pPin), nullptr) != S_OK)
        fault << "no connection";
    else if (spFilter->Run(0) != S_OK || !pPin->WaitReceived(3))
        fault << "no stream";
    else
    {
        // Changes from the host's thread while the stream runs: checked for their results
        // only, the stream before them for every byte.
        const std::string before = check.Fault();
        pPin->m_fnOnReceive = nullptr;
        if (!before.empty())
            fault << before;
        else if (spTone->SetFrequency(int(n % 2), int(100 + n % 5000)) != S_OK ||
                 spTone->SetAmplitude(0, -double(n % 40)) != S_OK ||
                 spTone->SetParameters(n % 2 ? 24 : 16, 2, 0, n % 3 ? 48000 : 44100) != S_OK)
            fault << "a settings change failed";
        else if (!pPin->WaitReceived(pPin->m_nReceived + 2))
            fault << "the stream stopped after the changes";
    }
    pPin->m_fnOnReceive = nullptr;
    pPin->ReleaseReceive();
    pFake->Stop();
    if (spFilter->Stop() != S_OK && fault.tellp() == 0)
        fault << "Stop failed";
    spOut->Disconnect();
    static_cast<IPin*>(pPin)->Disconnect();
    if (fault.tellp() > 0)
        return testing::AssertionFailure() << "cycle " << n << ": " << fault.str();
    return testing::AssertionSuccess();
}

class LifeCycles : public CampaignTest
{
};

TEST_F(LifeCycles, CountsStayFlatAndTheModuleUnloads)
{
    const size_t nCycles = Scale(30, 1000);
    size_t nHeld = 0;
    const long nHandlesStart = m_nHandles;
    {
        CModule module;
        ASSERT_TRUE(module.Ready()) << "Tonewell.dll beside the program";
        long nHandlesAfterFirst = 0;
        size_t nBlocksAfterFirst = 0;
        for (size_t n = 0; n < nCycles; ++n)
        {
            const testing::AssertionResult result = Cycle(module, n);
            EXPECT_TRUE(result);
            // What the first cycle sets up for good stays; from then on nothing grows.
            if (n == 0)
            {
                nHandlesAfterFirst = testhandles::ProcessHandleCountSettledAt(-1);
                nBlocksAfterFirst = CTaskMemorySpy::Instance().LiveBlocks();
            }
            nHeld += result ? 1 : 0;
            if (HasFatalFailure())
                break;
        }
        EXPECT_EQ(testhandles::ProcessHandleCountSettledAt(nHandlesAfterFirst), nHandlesAfterFirst) << "handles grew over the cycles";
        EXPECT_EQ(CTaskMemorySpy::Instance().LiveBlocks(), nBlocksAfterFirst) << "task memory grew over the cycles";
        EXPECT_EQ(module.CanUnloadNow(), S_FALSE) << "the class object is still held";
        EXPECT_TRUE(module.Unload()) << "the module stays loaded";
    }
    // A load of the module leaves an event and a thread handle behind after its unload
    // (seen with a load and DllGetClassObject alone; a DLL of the test sinks leaves none).
    // What is left must not depend on the cycles: one cycle leaves what a thousand did.
    const long nLeftByLoad = testhandles::ProcessHandleCount() - nHandlesStart;
    {
        CModule module;
        ASSERT_TRUE(module.Ready());
        EXPECT_TRUE(Cycle(module, nCycles)) << "after the reload";
        EXPECT_TRUE(module.Unload());
    }
    EXPECT_EQ(testhandles::ProcessHandleCountSettledAt(nHandlesStart + 2 * nLeftByLoad), nHandlesStart + 2 * nLeftByLoad)
        << "what a load leaves grew with the cycles";
    RebaseHandles(0, 0);
    Report("life cycles from the module file", nCycles, nHeld,
           "then unloaded, loaded again and streamed; each load leaves " + std::to_string(nLeftByLoad) + " handles");
}
}
}
