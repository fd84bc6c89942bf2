// The settings page open on a filter whose graph streams as fast as it can: a person's
// choices of channels, rate, bits, channel and tone, applied one after the other. Each
// format applied is the filter's and is carried by the stream's next samples, the stream
// goes on after each, no message box opens, and a run after the last change is exact.
#include <windows.h>
#include <commctrl.h>

#include <cmath>
#include <random>
#include <sstream>

#include "TonewellIdl.h"
#include "pages/PageActions.h"
#include "pages/PageHost.h"
#include "pages/PageResources.h"
#include "reliability/Campaign.h"
#include "reliability/FilterRig.h"
#include "reliability/GraphChain.h"
#include "reliability/ModuleFile.h"

namespace campaign
{
namespace
{
using namespace pagetest;

class PagesUnderLoad : public CampaignTest
{
};

bool SameFormat(const CToneFormat& a, const CToneFormat& b)
{
    return a.nChannels == b.nChannels && a.nValidBits == b.nValidBits && a.nRate == b.nRate;
}

TEST_F(PagesUnderLoad, FormatsAppliedWhileTheGraphStreams)
{
    const size_t nTries = Scale(10, 1000);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&icc));
    std::mt19937 rng(Seed() + 40);
    size_t nHeld = 0, nFormats = 0;
    LONG nStreamed = 0;
    {
        CModule module;
        ASSERT_TRUE(module.Ready()) << "Tonewell.dll beside the program";
        CComPtr<IBaseFilter> spFilter = module.Create();
        CComPtr<IPropertyPage> spPage;
        ASSERT_EQ(module.CreateOf(CLSID_TonewellPP, IID_IPropertyPage, reinterpret_cast<void**>(&spPage)), S_OK);
        CComQIPtr<ICRVTonewell> spTone(spFilter);
        ASSERT_TRUE(spTone);
        CComPtr<IGraphBuilder> spGraph = NewPlatformGraph();
        ASSERT_TRUE(spGraph);
        ASSERT_EQ(CComQIPtr<IMediaFilter>(spGraph)->SetSyncSource(nullptr), S_OK);
        CChain chain;
        ASSERT_EQ(chain.Build(spGraph, 0, CToneFormat{2, 16, 48000}, nullptr, 0, spFilter), S_OK);
        CComQIPtr<IMediaControl> spControl(spGraph);
        CMessageBoxCatcher boxes;
        CToneFormat last = {2, 16, 48000};
        {
            CPageHost host;
            IUnknown* pObject = spFilter;
            ASSERT_EQ(host.Attach(spPage, 1, &pObject), S_OK);
            ASSERT_EQ(host.Activate(), S_OK);
            ASSERT_TRUE(SUCCEEDED(spControl->Run()));
            for (size_t n = 0; n < nTries && !HasFatalFailure(); ++n)
            {
                const size_t nParts = FailuresSoFar();
                // A format chosen in the lists, then a tone on one channel or all.
                const int nChannelsItem = int(rng() % Items(host.Control(IDC_CHANNELS)).size());
                const std::vector<std::wstring> rates = Items(host.Control(IDC_RATE));
                const std::vector<std::wstring> bits = Items(host.Control(IDC_BITS));
                ASSERT_FALSE(rates.empty() || bits.empty());
                const int nRateItem = int(rng() % rates.size()), nBitsItem = int(rng() % bits.size());
                Choose(host.Control(IDC_CHANNELS), nChannelsItem);
                Choose(host.Control(IDC_RATE), nRateItem);
                Choose(host.Control(IDC_BITS), nBitsItem);
                const CToneFormat chosen = {WORD(nChannelsItem + 1), WORD(_wtoi(bits[nBitsItem].c_str())),
                                            DWORD(_wtoi(rates[nRateItem].c_str()))};
                const LONG nSeen = chain.spGrabbed->Seen();
                EXPECT_EQ(spPage->Apply(), S_OK);
                CPageHost::Pump();
                nFormats += SameFormat(chosen, last) ? 0 : 1;
                last = chosen;
                const HWND hChannel = host.Control(IDC_CHANNEL);
                Choose(hChannel, int(rng() % Items(hChannel).size()));
                PressKey(host.Control(IDC_FREQ_SLIDER), rng() % 2 ? VK_PRIOR : VK_NEXT);
                PressKey(host.Control(IDC_AMP_SLIDER), rng() % 2 ? VK_UP : VK_DOWN);
                CPageHost::Pump();

                int nBits = 0, nChannels = 0, nMask = 0, nRate = 0;
                EXPECT_EQ(spTone->GetParameters(&nBits, &nChannels, &nMask, &nRate), S_OK);
                EXPECT_EQ(nChannels, chosen.nChannels) << "try " << n;
                EXPECT_EQ(nBits, chosen.nValidBits) << "try " << n;
                EXPECT_EQ(nRate, int(chosen.nRate)) << "try " << n;
                // The stream goes on, its samples in the new format.
                const DWORD tStart = GetTickCount();
                while ((chain.spGrabbed->Seen() < nSeen + 3 || !SameFormat(chain.spGrabbed->Carried(), chosen)) &&
                       GetTickCount() - tStart < 30000)
                    Sleep(1);
                EXPECT_GE(chain.spGrabbed->Seen(), nSeen + 3) << "try " << n << ": the stream stopped";
                EXPECT_TRUE(SameFormat(chain.spGrabbed->Carried(), chosen)) << "try " << n << ": the samples' format";
                EXPECT_TRUE(boxes.m_boxes.empty()) << "try " << n << ": a message box opened";
                boxes.m_boxes.clear();
                nHeld += FailuresSoFar() == nParts ? 1 : 0;
            }
            EXPECT_EQ(spControl->Stop(), S_OK);
            nStreamed = chain.spGrabbed->Seen();
            host.Detach();
        }
        spPage.Release();
        chain.TakeDown(spGraph);

        // A run from Stopped in the last format with the page's frequencies, every byte as
        // the reference has it. The levels are set here in whole decibels: the reference
        // takes them as the filter does.
        CStreamCheck check(last);
        for (int ch = 0; ch < last.nChannels; ++ch)
        {
            int nFreq = 0;
            const double dblDb = -double(ch % 12);
            ASSERT_EQ(spTone->GetFrequency(ch, &nFreq), S_OK);
            ASSERT_EQ(spTone->SetAmplitude(ch, dblDb), S_OK);
            check.Reference().SetTone(ch, nFreq, std::pow(10.0, dblDb / 20.0));
        }
        CChain after;
        ASSERT_EQ(after.Build(spGraph, 1, last, &check, 20, spFilter), S_OK);
        ASSERT_TRUE(SUCCEEDED(spControl->Run()));
        EXPECT_EQ(WaitForSingleObject(after.spGrabbed->Enough(), 60000), DWORD(WAIT_OBJECT_0)) << "the stream stalled";
        EXPECT_EQ(spControl->Stop(), S_OK);
        EXPECT_EQ(check.Fault(), "") << "after the page's last change";
        after.TakeDown(spGraph);
        spControl.Release();
        spTone.Release();
        spFilter.Release();
        chain = CChain();
        after = CChain();
        spGraph.Release();
        EXPECT_TRUE(module.Unload()) << "the module stays loaded";
    }
    // Wine keeps a handle for the graph made (see ManyGraphs.cpp).
    RebaseHandles(0, 0);
    std::ostringstream note;
    note << nFormats << " format changes and " << nTries << " tone changes applied from the page while " << nStreamed
         << " samples streamed; then a run exact";
    Report("settings page applying while a graph streams", nTries, nHeld, note.str());
}
}
}
