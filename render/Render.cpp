#include "render/Render.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "framework/DSTypes.h"
#include "render/Buffers.h"
#include "render/GraphParts.h"
#include "render/WavSink.h"
#include "support/ComCreate.h"
#include "support/ComPtr.h"

namespace
{
// Wine's qedit filters; the SDK headers here do not carry their class identifiers.
const CLSID kClsidSampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const CLSID kClsidNullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// Progress appears once a render has taken this long, and is redrawn at this interval.
const ULONGLONG kProgressAfterMs = 1000;
const ULONGLONG kProgressEveryMs = 500;
// A stream that delivers nothing for this long has stopped (the filter stops streaming
// on a tone its synthesis refuses).
const ULONGLONG kStallMs = 10000;

CComPtr<IBaseFilter> NewFilter(REFCLSID clsid)
{
    CComPtr<IBaseFilter> spFilter;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&spFilter));
    return spFilter;
}

// The graph and what the render needs of it.
struct CGraph
{
    CComPtr<IGraphBuilder> spBuilder;
    CComPtr<IBaseFilter> spGrabberFilter, spNull;
    CComPtr<ISampleGrabber> spGrabber;
    CComPtr<IMediaControl> spControl;
};

// Wine's system clock can wait forever in its last Release for its advise thread, which
// missed the wake-up while going idle (seen when a render is interrupted as it starts). The
// clock is let go by the process's end instead, which does not wait for that thread.
void KeepClockForProcessLife(IGraphBuilder* pGraph)
{
    IReferenceClock* pClock = nullptr;
    if (SUCCEEDED(CComQIPtr<IMediaFilter>(pGraph)->GetSyncSource(&pClock)))
        (void)pClock;  // the reference is kept on purpose
}

// Builds source -> Sample Grabber -> Null Renderer; on failure, says which step failed.
HRESULT BuildGraph(IBaseFilter* pSource, CGraph& g, CMType& mt, const char*& pszStep)
{
    pszStep = "creating the filter graph manager";
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(&g.spBuilder));
    if (FAILED(hr))
        return hr;
    pszStep = "creating the Sample Grabber and the Null Renderer";
    g.spGrabberFilter = NewFilter(kClsidSampleGrabber);
    g.spNull = NewFilter(kClsidNullRenderer);
    g.spGrabber = CComQIPtr<ISampleGrabber>(g.spGrabberFilter);
    g.spControl = CComQIPtr<IMediaControl>(g.spBuilder);
    if (!g.spGrabber || !g.spNull || !g.spControl)
        return REGDB_E_CLASSNOTREG;
    pszStep = "adding the filters to the graph";
    if (FAILED(hr = g.spBuilder->AddFilter(pSource, L"Tonewell")) ||
        FAILED(hr = g.spBuilder->AddFilter(g.spGrabberFilter, L"Sample Grabber")) ||
        FAILED(hr = g.spBuilder->AddFilter(g.spNull, L"Null Renderer")))
        return hr;
    pszStep = "connecting the filter to the Sample Grabber";
    CComPtr<IPin> spOut = FirstPin(pSource, PINDIR_OUTPUT);
    if (!spOut)
        return VFW_E_NOT_FOUND;
    if (FAILED(hr = g.spBuilder->ConnectDirect(spOut, FirstPin(g.spGrabberFilter, PINDIR_INPUT), nullptr)))
        return hr;
    pszStep = "connecting the Sample Grabber to the Null Renderer";
    if (FAILED(hr = g.spBuilder->ConnectDirect(FirstPin(g.spGrabberFilter, PINDIR_OUTPUT),
                                               FirstPin(g.spNull, PINDIR_INPUT), nullptr)))
        return hr;
    pszStep = "reading the connection's format";
    if (FAILED(hr = spOut->ConnectionMediaType(&mt)))
        return hr;
    const WAVEFORMATEX* pWF = mt.GetWaveFormat();
    if (pWF == nullptr || pWF->nBlockAlign == 0 || pWF->nSamplesPerSec == 0 ||
        (pWF->wFormatTag != WAVE_FORMAT_PCM && pWF->wFormatTag != WAVE_FORMAT_EXTENSIBLE) ||
        (pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE && mt.cbFormat < sizeof(WAVEFORMATEXTENSIBLE)))
        return VFW_E_INVALIDMEDIATYPE;
    return S_OK;
}

// Runs the graph until the sink has everything, the stream stalls or the user interrupts.
ERenderExit RunUntilDone(CGraph& g, CWavSink* pSink, HANDLE hDone, ULONGLONG llFrames, DWORD dwRate, bool bQuiet)
{
    HRESULT hr = g.spControl->Run();
    if (FAILED(hr))
    {
        SayError("the graph does not run: %s", HResultText(hr).c_str());
        return eExit_Render;
    }
    const ULONGLONG tStart = GetTickCount64();
    ULONGLONG tShown = 0, tLastFrames = tStart, llLastFrames = 0;
    bool bShown = false;
    std::string failure;
    for (;;)
    {
        // Without the interrupt event (none could be made) only the render's own end counts.
        const HANDLE ah[] = {hDone, CatchInterrupt()};
        DWORD dwWait = WaitForMultipleObjects(ah[1] != nullptr ? 2 : 1, ah, FALSE, 200);
        const ULONGLONG tNow = GetTickCount64();
        // NOLINTNEXTLINE(clang-analyzer-core.CallAndMessage): called only with the sink made (HResultFromLastError never answers success)
        const ULONGLONG llDone = pSink->Frames();
        char szAudio[32];
        snprintf(szAudio, sizeof(szAudio), "%.1f s", double(llDone) / dwRate);
        if (dwWait == WAIT_OBJECT_0 + 1)
        {
            failure = std::string("interrupted after ") + szAudio + " of audio; nothing was written";
            break;
        }
        const bool bFinished = dwWait == WAIT_OBJECT_0;
        if (!bQuiet && (bShown || tNow - tStart >= kProgressAfterMs) && (bFinished || tNow - tShown >= kProgressEveryMs))
        {
            fprintf(stderr, "\r  %5.1f%%  %s of %.1f s", 100.0 * double(llDone) / double(llFrames), szAudio,
                    double(llFrames) / dwRate);
            fflush(stderr);
            tShown = tNow;
            bShown = true;
        }
        if (bFinished)
            break;
        if (llDone != llLastFrames)
        {
            llLastFrames = llDone;
            tLastFrames = tNow;
        }
        else if (tNow - tLastFrames >= kStallMs)
        {
            failure = std::string("the filter stopped delivering samples after ") + szAudio + " of audio";
            break;
        }
    }
    // The progress line ends before anything else is said.
    if (bShown)
        fputs("\n", stderr);
    if (!failure.empty())
        SayError("%s", failure.c_str());
    g.spControl->Stop();
    g.spGrabber->SetCallback(nullptr, 0);
    return failure.empty() ? eExit_OK : eExit_Render;
}
}

ERenderExit RenderToWav(IBaseFilter* pSource, const CRenderJob& job)
{
    CWavWriter writer;
    HRESULT hr = writer.Create(job.path.c_str());
    if (FAILED(hr))
    {
        SayError("cannot write %s: %s", Utf8(job.path).c_str(), HResultText(hr).c_str());
        return eExit_Output;
    }
    const std::string path = Utf8(writer.Path());

    CGraph g;
    CMType mt;
    const char* pszStep = "";
    hr = BuildGraph(pSource, g, mt, pszStep);
    if (FAILED(hr))
    {
        SayError("the graph fails at %s: %s", pszStep, HResultText(hr).c_str());
        return eExit_Render;
    }
    const WAVEFORMATEX* pWF = mt.GetWaveFormat();
    const double dblFrames = std::round(job.dblSeconds * pWF->nSamplesPerSec);
    if (dblFrames < 1)
    {
        SayError("%g s is shorter than one frame at %lu Hz", job.dblSeconds, (unsigned long)pWF->nSamplesPerSec);
        return eExit_Usage;
    }
    const ULONGLONG llMaxFrames = WavMaxData(pWF) / pWF->nBlockAlign;
    if (dblFrames > double(llMaxFrames))
    {
        SayError("%g s of %u channels of %s at %lu Hz make %.1f GiB, more than a WAV file holds (4 GiB):\n"
                 "  at most %.1f s fit; shorten --duration or choose fewer channels, bits or a lower rate",
                 job.dblSeconds, unsigned(pWF->nChannels), FormatText(pWF).c_str(), (unsigned long)pWF->nSamplesPerSec,
                 dblFrames * pWF->nBlockAlign / double(1ull << 30), double(llMaxFrames) / pWF->nSamplesPerSec);
        return eExit_Output;
    }
    const ULONGLONG llFrames = ULONGLONG(dblFrames);
    hr = writer.Begin(pWF);
    if (FAILED(hr))
    {
        SayError("cannot write %s: %s", path.c_str(), HResultText(hr).c_str());
        return eExit_Output;
    }

    HANDLE hDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CComObject<CWavSink>* pSink = nullptr;
    hr = hDone ? ComCreateReferenced(&pSink, writer, llFrames, pWF->nBlockAlign, hDone) : HResultFromLastError();
    CComPtr<ISampleGrabberCB> spSink;
    spSink.Attach(pSink);
    if (SUCCEEDED(hr))
        hr = g.spGrabber->SetCallback(spSink, 0);
    // Without a clock the chain runs as fast as buffers return.
    if (SUCCEEDED(hr))
        hr = job.bRealtime ? g.spBuilder->SetDefaultSyncSource()
                           : CComQIPtr<IMediaFilter>(g.spBuilder)->SetSyncSource(nullptr);
    if (SUCCEEDED(hr) && job.bRealtime)
        KeepClockForProcessLife(g.spBuilder);
    ERenderExit eExit = eExit_Render;
    const ULONGLONG tStart = GetTickCount64();
    if (FAILED(hr))
        SayError("the graph cannot be prepared: %s", HResultText(hr).c_str());
    else
        eExit = RunUntilDone(g, pSink, hDone, llFrames, pWF->nSamplesPerSec, job.bQuiet);
    const double dblElapsed = double(GetTickCount64() - tStart) / 1000.0;
    // NOLINTNEXTLINE(clang-analyzer-core.CallAndMessage): as in RunUntilDone
    if (eExit == eExit_OK && FAILED(hr = pSink->Result()))
    {
        SayError("cannot write %s: %s", path.c_str(), HResultText(hr).c_str());
        eExit = eExit_Output;
    }
    if (eExit == eExit_OK && FAILED(hr = writer.Finish()))
    {
        SayError("cannot write %s: %s", path.c_str(), HResultText(hr).c_str());
        eExit = eExit_Output;
    }
    if (hDone)
        CloseHandle(hDone);
    if (eExit != eExit_OK)
        return eExit;

    const std::string buffers = AgreedBufferText(pSource, pWF);
    Say("Wrote %s: %.3f s (%llu frames) of %u channel%s, %s at %lu Hz, %llu bytes, in %.2f s%s%s\n", path.c_str(),
        double(llFrames) / pWF->nSamplesPerSec, llFrames, unsigned(pWF->nChannels), pWF->nChannels == 1 ? "" : "s",
        FormatText(pWF).c_str(), (unsigned long)pWF->nSamplesPerSec, writer.FileBytes(), dblElapsed,
        buffers.empty() ? "" : ", ", buffers.c_str());
    return eExit_OK;
}
