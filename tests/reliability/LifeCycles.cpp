// Life cycles of the filter as a host lives them, from the module file: Tonewell.dll loaded,
// then create -> connect -> run -> change settings -> stop -> release, a thousand times in
// the full run, with the module's own object count (DllCanUnloadNow), this process's task
// memory and handles flat; then the module unloads and loads again, and streams as before.
// Registered as a host finds it, the module is loaded by COM and let go by
// CoFreeUnusedLibrariesEx once its last object of any class is gone.
#include <sstream>
#include <thread>

#include "common/HandleCount.h"
#include "common/TaskMemorySpy.h"
#include "reliability/Campaign.h"
#include "reliability/FilterRig.h"
#include "reliability/ModuleFile.h"
#include "server/ServerTestSupport.h"

namespace campaign
{
namespace
{
// One host's life of a filter: exact stream, a tone and a format change while running.
testing::AssertionResult Cycle(CComPtr<IBaseFilter> spFilter, size_t n)
{
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
            const testing::AssertionResult result = Cycle(module.Create(), n);
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
    // Nothing of a load outlives its unload, and a load after a thousand cycles streams as the
    // first did.
    EXPECT_EQ(testhandles::ProcessHandleCountSettledAt(nHandlesStart), nHandlesStart) << "the load left handles";
    {
        CModule module;
        ASSERT_TRUE(module.Ready());
        EXPECT_TRUE(Cycle(module.Create(), nCycles)) << "after the reload";
        EXPECT_TRUE(module.Unload());
    }
    Report("life cycles from the module file", nCycles, nHeld,
           "then unloaded, loaded again and streamed; no handle left by the loads");
}

// DllCanUnloadNow as the COM run time reads it: S_OK only while no object of any class and
// no lock is left; the module must be loaded.
HRESULT ModuleCanUnloadNow()
{
    const HMODULE h = GetModuleHandleW(L"Tonewell.dll");
    const auto pfn = h != nullptr ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(GetProcAddress(h, "DllCanUnloadNow")) : nullptr;
    return pfn != nullptr ? pfn() : E_UNEXPECTED;
}

bool ModuleLoaded()
{
    return GetModuleHandleW(L"Tonewell.dll") != nullptr;
}

// Rounds of a host's single-threaded apartment: the filter and its settings page from the
// registered module, a cycle, then the unused libraries freed, which unloads the module only
// once both are gone. CoFreeUnusedLibraries gives a module of free-threaded classes ten
// minutes' grace after it first says it can unload (in Windows as in Wine); the rounds ask
// for none with CoFreeUnusedLibrariesEx(0, 0).
void ComRounds(size_t nRounds, size_t* pnHeld)
{
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    long nHandlesAfterFirst = 0;
    for (size_t r = 0; r < nRounds; ++r)
    {
        SCOPED_TRACE(testing::Message() << "round " << r);
        const size_t nParts = FailuresSoFar();
        EXPECT_FALSE(ModuleLoaded()) << "loaded before any object was asked for";
        CComPtr<IBaseFilter> spFilter;
        CComPtr<IPropertyPage> spPage;
        ASSERT_EQ(CoCreateInstance(CLSID_Tonewell, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void**>(&spFilter)),
                  S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_TonewellPP, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                   reinterpret_cast<void**>(&spPage)),
                  S_OK);
        EXPECT_TRUE(ModuleLoaded());
        EXPECT_TRUE(Cycle(spFilter, r));
        spFilter.Release();
        CoFreeUnusedLibrariesEx(0, 0);
        EXPECT_EQ(ModuleCanUnloadNow(), S_FALSE) << "the page is still alive";
        spPage.Release();
        EXPECT_EQ(ModuleCanUnloadNow(), S_OK);
        CoFreeUnusedLibrariesEx(0, 0);
        EXPECT_FALSE(ModuleLoaded()) << "the module stays loaded";
        // What the apartment's first round sets up for good stays; from then on nothing grows.
        if (r == 0)
        {
            nHandlesAfterFirst = testhandles::ProcessHandleCount();
        }
        else if (r + 1 == nRounds)
        {
            EXPECT_EQ(testhandles::ProcessHandleCountSettledAt(nHandlesAfterFirst), nHandlesAfterFirst)
                << "handles grew over the rounds";
        }
        *pnHeld += FailuresSoFar() == nParts ? 1 : 0;
        if (testing::Test::HasFatalFailure())
            break;
    }
    CoUninitialize();
}

TEST_F(LifeCycles, ComLoadsAndFreesTheRegisteredModule)
{
    using namespace servertest;
    const std::wstring inproc = L"CLSID\\" + GuidText(CLSID_Tonewell) + L"\\InprocServer32";
    const bool bWasRegistered = StringValue(HKEY_CLASSES_ROOT, inproc) == ModulePath();
    if (!bWasRegistered)
    {
        ASSERT_EQ(RunRegsvr32(ModulePath(), false), 0u);
    }
    ASSERT_FALSE(ModuleLoaded()) << "another test left the module loaded";
    const size_t nRounds = Scale(3, 100);
    size_t nHeld = 0;
    std::thread(ComRounds, nRounds, &nHeld).join();
    if (!bWasRegistered)
    {
        EXPECT_EQ(RunRegsvr32(ModulePath(), true), 0u);
    }
    // The apartment's thread has come and gone; the rounds held their own counts flat.
    RebaseHandles(0, 0);
    Report("loaded by COM, freed as unused", nRounds, nHeld,
           "the filter and its settings page from the registered module in a single-threaded apartment");
}
}
}
