#include "render/Play.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "framework/DSTypes.h"
#include "render/GraphParts.h"
#include "render/SoundDevice.h"
#include "support/ComPtr.h"

namespace
{
// The device is asked this often whether it is still there, and the progress line redrawn.
const ULONGLONG kProbeEveryMs = 250;
const ULONGLONG kProgressEveryMs = 200;
// A renderer's clock that stands still this long while running has lost its device.
const ULONGLONG kClockStallMs = 1500;

struct CPlayGraph
{
    CComPtr<IGraphBuilder> spBuilder;
    CComPtr<IMediaControl> spControl;
    CComPtr<IMediaEvent> spEvent;
    CComPtr<IReferenceClock> spClock;
    std::string renderer;  // the name the graph gave the filter that plays
};

std::string FilterName(IBaseFilter* pFilter)
{
    FILTER_INFO info = {};
    if (pFilter == nullptr || FAILED(pFilter->QueryFilterInfo(&info)))
        return "the audio renderer";
    if (info.pGraph != nullptr)
        info.pGraph->Release();
    return Utf8(info.achName);
}

// The filter downstream of pOut.
std::string PeerName(IPin* pOut)
{
    CComPtr<IPin> spPeer;
    PIN_INFO info = {};
    if (FAILED(pOut->ConnectedTo(&spPeer)) || FAILED(spPeer->QueryPinInfo(&info)))
        return "the audio renderer";
    CComPtr<IBaseFilter> spFilter;
    spFilter.Attach(info.pFilter);
    return FilterName(spFilter);
}

// The filter rendered to the default audio device, the graph on that device's clock.
HRESULT BuildPlayGraph(IBaseFilter* pSource, CPlayGraph& g, CMType& mt, const char*& pszStep)
{
    pszStep = "creating the filter graph manager";
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(&g.spBuilder));
    if (FAILED(hr))
        return hr;
    if (FAILED(hr = g.spBuilder->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&g.spControl))) ||
        FAILED(hr = g.spBuilder->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&g.spEvent))))
        return hr;
    pszStep = "adding the filter to the graph";
    if (FAILED(hr = g.spBuilder->AddFilter(pSource, L"Tonewell")))
        return hr;
    pszStep = "connecting the filter to the audio renderer";
    CComPtr<IPin> spOut = FirstPin(pSource, PINDIR_OUTPUT);
    if (!spOut)
        return VFW_E_NOT_FOUND;
    if (FAILED(hr = g.spBuilder->Render(spOut)))
        return hr;
    g.renderer = PeerName(spOut);
    pszStep = "reading the connection's format";
    if (FAILED(hr = spOut->ConnectionMediaType(&mt)))
        return hr;
    if (mt.GetWaveFormat() == nullptr)
        return VFW_E_INVALIDMEDIATYPE;
    pszStep = "taking the audio renderer's clock";
    if (FAILED(hr = g.spBuilder->SetDefaultSyncSource()))
        return hr;
    CComQIPtr<IMediaFilter> spMediaFilter(g.spBuilder);
    if (!spMediaFilter)
        return E_NOINTERFACE;
    if (FAILED(hr = spMediaFilter->GetSyncSource(&g.spClock)))
        return hr;
    return g.spClock ? S_OK : VFW_E_NO_CLOCK;
}

REFERENCE_TIME ClockNow(IReferenceClock* pClock)
{
    REFERENCE_TIME t = 0;
    pClock->GetTime(&t);
    return t;
}

// The first event that ends a play: the graph aborted or the renderer says its device failed.
bool GraphFailed(IMediaEvent* pEvent, HRESULT& hrFailure)
{
    long lCode = 0;
    LONG_PTR lParam1 = 0, lParam2 = 0;
    bool bFailed = false;
    while (!bFailed && pEvent->GetEvent(&lCode, &lParam1, &lParam2, 0) == S_OK)
    {
        if (lCode == EC_ERRORABORT || lCode == EC_ERRORABORTEX || lCode == EC_STREAM_ERROR_STOPPED)
        {
            bFailed = true;
            hrFailure = HRESULT(lParam1);
        }
        pEvent->FreeEventParams(lCode, lParam1, lParam2);
    }
    return bFailed;
}

std::string Seconds(REFERENCE_TIME t)
{
    char sz[32];
    snprintf(sz, sizeof(sz), "%.1f s", double(t < 0 ? 0 : t) / 1e7);
    return sz;
}
}

ERenderExit PlayToDevice(IBaseFilter* pSource, const CPlayJob& job)
{
    CSoundDeviceWatch device;
    HRESULT hr = device.Open();
    if (FAILED(hr))
    {
        SayError("there is no sound device to play on: %s", HResultText(hr).c_str());
        return eExit_Render;
    }
    CPlayGraph g;
    CMType mt;
    const char* pszStep = "";
    if (FAILED(hr = BuildPlayGraph(pSource, g, mt, pszStep)))
    {
        SayError("the graph fails at %s: %s", pszStep, HResultText(hr).c_str());
        return eExit_Render;
    }
    const WAVEFORMATEX* pWF = mt.GetWaveFormat();
    const REFERENCE_TIME tDuration = job.dblSeconds ? REFERENCE_TIME(std::llround(*job.dblSeconds * 1e7)) : 0;

    // A live source and a renderer that has nothing to cue: Run may answer S_FALSE while the
    // renderer finishes its pause; the stream starts all the same.
    const REFERENCE_TIME tRun = ClockNow(g.spClock);
    hr = g.spControl->Run();
    if (FAILED(hr))
    {
        SayError("the graph does not run: %s", HResultText(hr).c_str());
        g.spControl->Stop();
        return eExit_Render;
    }
    const ULONGLONG tStart = GetTickCount64();
    ULONGLONG tProbed = tStart, tShown = 0, tClockMoved = tStart;
    REFERENCE_TIME tPlayed = 0, tLastClock = tRun;
    bool bShown = false, bInterrupted = false;
    std::string failure;
    for (;;)
    {
        const HANDLE hInterrupt = CatchInterrupt();
        bInterrupted = hInterrupt != nullptr && WaitForSingleObject(hInterrupt, 50) == WAIT_OBJECT_0;
        if (hInterrupt == nullptr)
            Sleep(50);
        const ULONGLONG tNow = GetTickCount64();
        const REFERENCE_TIME tClock = ClockNow(g.spClock);
        tPlayed = tClock - tRun;
        if (tDuration != 0 && tPlayed > tDuration)
            tPlayed = tDuration;
        // The renderer's clock runs with what the device has played.
        const bool bDone = tDuration != 0 && tClock - tRun >= tDuration;
        if (!job.bQuiet && (bDone || bInterrupted || tNow - tShown >= kProgressEveryMs))
        {
            if (tDuration != 0)
                fprintf(stderr, "\r  playing  %s of %s", Seconds(tPlayed).c_str(), Seconds(tDuration).c_str());
            else
                fprintf(stderr, "\r  playing  %s (Ctrl+C ends)", Seconds(tPlayed).c_str());
            fflush(stderr);
            tShown = tNow;
            bShown = true;
        }
        if (bDone || bInterrupted)
            break;
        HRESULT hrFailure = S_OK;
        if (GraphFailed(g.spEvent, hrFailure))
        {
            failure = "the graph stopped after " + Seconds(tPlayed) + " of play: " + HResultText(hrFailure);
            break;
        }
        if (tClock != tLastClock)
        {
            tLastClock = tClock;
            tClockMoved = tNow;
        }
        else if (tNow - tClockMoved >= kClockStallMs)
        {
            failure = "the audio renderer's clock stopped after " + Seconds(tPlayed) + " of play";
            break;
        }
        if (tNow - tProbed >= kProbeEveryMs)
        {
            tProbed = tNow;
            if (FAILED(hrFailure = device.Check()))
            {
                failure = "the sound device went away after " + Seconds(tPlayed) + " of play: " + HResultText(hrFailure);
                break;
            }
        }
    }
    if (bShown)
        fputs("\n", stderr);
    g.spControl->Stop();
    if (!failure.empty())
    {
        SayError("%s", failure.c_str());
        return eExit_Render;
    }
    // Ctrl+C is how a play without a duration ends; a timed play cut short did not finish.
    if (bInterrupted && tDuration != 0)
    {
        SayError("interrupted after %s of %s of play", Seconds(tPlayed).c_str(), Seconds(tDuration).c_str());
        return eExit_Render;
    }
    Say("Played %.1f s of %u channel%s, %s at %lu Hz, on %s\n", double(tPlayed) / 1e7, unsigned(pWF->nChannels),
        pWF->nChannels == 1 ? "" : "s", FormatText(pWF).c_str(), (unsigned long)pWF->nSamplesPerSec,
        g.renderer.c_str());
    return eExit_OK;
}
