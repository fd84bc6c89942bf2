// The filter end to end in Wine's filter graph: Tonewell -> Sample Grabber (no callback)
// -> Null Renderer. Without a clock: seconds of audio delivered per second of wall time.
// With the graph's clock: the process's CPU time per second of real-time streaming. Both
// after the stream's first second, whose cost is shown apart. Without a clock also a plain
// copy of the same bytes, and the time per buffer against that of a do-nothing source in the
// same graph (the platform's share; the rest is the filter's own) and of the synthesis alone.
// Usage: bench_endtoend [seconds per measurement, default 3]
#include <windows.h>

#include "bench/BenchClock.h"
#include "bench/NullSource.h"
#include "bench/ToneFilter.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "filter/AudioSource.h"
#include "support/ComPtr.h"

using namespace bench;

namespace
{
// Wine's qedit filters; the SDK headers here do not carry their class identifiers.
const CLSID kClsidNullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const CLSID kClsidSampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// The measurement starts once the stream has passed its first second and the 8 buffers
// ahead: by then the frame table is complete and the stream is in its steady state.
const double kWarmUpAudioSeconds = 1.4;

struct CFormat
{
    const char* pszName;
    int nBits, nChannels, nRate;
};

CComPtr<IPin> FindPin(IBaseFilter* pFilter, PIN_DIRECTION eDir)
{
    CComPtr<IEnumPins> spEnum;
    if (FAILED(pFilter->EnumPins(&spEnum)))
        return nullptr;
    for (CComPtr<IPin> spPin; spEnum->Next(1, &spPin, nullptr) == S_OK; spPin.Release())
    {
        PIN_DIRECTION eGot;
        if (SUCCEEDED(spPin->QueryDirection(&eGot)) && eGot == eDir)
            return spPin;
    }
    return nullptr;
}

// User and kernel time of the whole process, in seconds.
double ProcessCpuSeconds()
{
    FILETIME ftCreate, ftExit, ftKernel, ftUser;
    if (!GetProcessTimes(GetCurrentProcess(), &ftCreate, &ftExit, &ftKernel, &ftUser))
        return -1;
    auto ticks = [](const FILETIME& ft) { return (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; };
    return double(ticks(ftKernel) + ticks(ftUser)) / 1e7;
}

// The do-nothing source set to the format f.
HRESULT NewNullSource(const CFormat& f, CComPtr<IBaseFilter>& spFilter)
{
    HRESULT hr = ComCreateReferencedInterface<CNullSource>(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&spFilter));
    if (FAILED(hr))
        return hr;
    WAVEFORMATEX wf = {WAVE_FORMAT_PCM, WORD(f.nChannels), DWORD(f.nRate), 0, WORD(f.nChannels * f.nBits / 8),
                       WORD(f.nBits), 0};
    wf.nAvgBytesPerSec = wf.nSamplesPerSec * wf.nBlockAlign;
    return NullSourceOf(spFilter).SetFormat(wf);
}

class CChain
{
public:
    // The tone filter, or with bNull the do-nothing source, into the Sample Grabber.
    HRESULT Build(const CFormat& f, bool bNull)
    {
        m_bNull = bNull;
        m_nBufferFrames = f.nRate / 25;
        HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                      reinterpret_cast<void**>(&m_spGraph));
        if (SUCCEEDED(hr))
            hr = bNull ? NewNullSource(f, m_spSource) : NewToneFilter(f.nBits, f.nChannels, f.nRate, 1000, m_spSource);
        CComPtr<IBaseFilter> spGrabber, spRenderer;
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(&spGrabber));
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(&spRenderer));
        for (auto [pFilter, pszName] : {std::pair<IBaseFilter*, LPCWSTR>{m_spSource, L"Tonewell"},
                                        {spGrabber, L"Grabber"}, {spRenderer, L"Null"}})
            if (SUCCEEDED(hr))
                hr = m_spGraph->AddFilter(pFilter, pszName);
        if (SUCCEEDED(hr))
            hr = m_spGraph->ConnectDirect(FindPin(m_spSource, PINDIR_OUTPUT), FindPin(spGrabber, PINDIR_INPUT), nullptr);
        if (SUCCEEDED(hr))
            hr = m_spGraph->ConnectDirect(FindPin(spGrabber, PINDIR_OUTPUT), FindPin(spRenderer, PINDIR_INPUT), nullptr);
        m_spControl = CComQIPtr<IMediaControl>(m_spGraph);
        return hr;
    }
    ~CChain()
    {
        if (m_spControl)
            m_spControl->Stop();
    }

    HRESULT RunWithoutClock()
    {
        HRESULT hr = CComQIPtr<IMediaFilter>(m_spGraph)->SetSyncSource(nullptr);
        return SUCCEEDED(hr) ? m_spControl->Run() : hr;
    }
    HRESULT RunWithClock() { return m_spControl->Run(); }
    HRESULT Stop() { return m_spControl->Stop(); }

    // Frames the source has handed downstream since the run began.
    LONGLONG Frames() const
    {
        return m_bNull ? NullSourceOf(m_spSource).m_llBuffers * m_nBufferFrames : Concrete(m_spSource).m_llPosition;
    }

private:
    bool m_bNull = false;
    LONGLONG m_nBufferFrames = 0;
    CComPtr<IGraphBuilder> m_spGraph;
    CComPtr<IBaseFilter> m_spSource;
    CComPtr<IMediaControl> m_spControl;
};

struct CFigures
{
    double dblWall, dblAudio, dblCpu, dblWarmUpWall, dblWarmUpCpu;
    LONGLONG llBuffers;
};

// Runs the chain for dwSeconds after the warm-up; false on a failure, which it prints.
bool Measure(const CFormat& f, bool bClock, bool bNull, DWORD dwSeconds, CFigures& fig)
{
    const double dblCpuStart = ProcessCpuSeconds();
    const LONGLONG llTimeStart = Now();
    CChain chain;
    HRESULT hr = chain.Build(f, bNull);
    if (SUCCEEDED(hr))
        hr = bClock ? chain.RunWithClock() : chain.RunWithoutClock();
    if (FAILED(hr))
    {
        std::printf("%s: building or running the graph failed 0x%08lX\n", f.pszName, hr);
        return false;
    }
    while (chain.Frames() < LONGLONG(kWarmUpAudioSeconds * f.nRate) && Seconds(Now() - llTimeStart) < 30)
        Sleep(10);
    const LONGLONG llFrames0 = chain.Frames(), llTime0 = Now();
    const double dblCpu0 = ProcessCpuSeconds();
    Sleep(dwSeconds * 1000);
    const LONGLONG llFrames1 = chain.Frames(), llTime1 = Now();
    const double dblCpu1 = ProcessCpuSeconds();
    chain.Stop();
    fig.dblWall = Seconds(llTime1 - llTime0);
    fig.dblAudio = double(llFrames1 - llFrames0) / f.nRate;
    fig.dblCpu = dblCpu1 - dblCpu0;
    fig.dblWarmUpWall = Seconds(llTime0 - llTimeStart);
    fig.dblWarmUpCpu = dblCpu0 - dblCpuStart;
    fig.llBuffers = (llFrames1 - llFrames0) / (f.nRate / 25);
    return true;
}

// Seconds that a plain copy of dblAudio seconds of f takes: whole 40 ms buffers copied from a
// one-second table into four buffers in turn, the least a source of the same bytes could do.
double PlainCopySeconds(const CFormat& f, double dblAudio)
{
    const size_t cbFrame = size_t(f.nChannels) * size_t(f.nBits / 8);
    const size_t cbBuffer = size_t(f.nRate / 25) * cbFrame;
    std::vector<BYTE> table(size_t(f.nRate) * cbFrame);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = BYTE(i * 131 + 7);
    std::vector<BYTE> buffers[4];
    for (std::vector<BYTE>& b : buffers)
        b.resize(cbBuffer);
    const LONGLONG llBuffers = LONGLONG(dblAudio * 25);
    const LONGLONG llStart = Now();
    size_t cbFrom = 0;
    for (LONGLONG n = 0; n < llBuffers; ++n)
    {
        std::vector<BYTE>& b = buffers[n % 4];
        const size_t cbFirst = std::min(cbBuffer, table.size() - cbFrom);
        std::memcpy(b.data(), table.data() + cbFrom, cbFirst);
        std::memcpy(b.data() + cbFirst, table.data(), cbBuffer - cbFirst);
        cbFrom = (cbFrom + cbBuffer) % table.size();
    }
    const double dblSeconds = Seconds(Now() - llStart);
    // Read back, so that the copies cannot be left out.
    unsigned uSum = 0;
    for (const std::vector<BYTE>& b : buffers)
        uSum += b[b.size() / 2];
    return uSum == 0xFFFFFFFF ? -1 : dblSeconds;
}

// Microseconds of the filter's own FillBuffer for one 40 ms buffer of f, its frame table filled (the
// median of 100 buffers): the synthesis part of a buffer's way. Negative on a failure.
double SynthesisMicroseconds(const CFormat& f)
{
    CComPtr<IBaseFilter> spSource;
    HRESULT hr = NewToneFilter(f.nBits, f.nChannels, f.nRate, 1000, spSource);
    if (FAILED(hr))
        return -1;
    WAVEFORMATEX wf = {WAVE_FORMAT_PCM, WORD(f.nChannels), DWORD(f.nRate), 0, WORD(f.nChannels * f.nBits / 8),
                       WORD(f.nBits), 0};
    wf.nAvgBytesPerSec = wf.nSamplesPerSec * wf.nBlockAlign;
    std::vector<BYTE> buf(size_t(f.nRate / 25) * wf.nBlockAlign);
    // A second and more first, then the median of single buffers.
    std::vector<double> times;
    for (int i = 0; i < 126 && SUCCEEDED(hr); ++i)
    {
        const LONGLONG llStart = Now();
        hr = Concrete(spSource).FillBuffer(buf.data(), DWORD(buf.size()), &wf);
        if (i >= 26)
            times.push_back(Microseconds(Now() - llStart));
    }
    if (FAILED(hr))
        return -1;
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}
}

int main(int argc, char** argv)
{
    DWORD dwSeconds = argc > 1 ? DWORD(std::strtoul(argv[1], nullptr, 10)) : 3;
    if (dwSeconds == 0)
        dwSeconds = 3;
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    const CFormat formats[] = {
        {"2 ch 16-bit 48 kHz", 16, 2, 48000},
        {"8 ch 24-bit 96 kHz", 24, 8, 96000},
        {"32 ch 32-bit 192 kHz", 32, 32, 192000},
    };
    std::printf("Tonewell -> Sample Grabber -> Null Renderer, sines of 1000 + 10 c Hz, %lu s each after the\n"
                "first %.1f s of audio (the frame table filling, shown apart)\n",
                static_cast<unsigned long>(dwSeconds), kWarmUpAudioSeconds);
    std::printf("Without a clock (as fast as the graph goes):\n");
    for (const CFormat& f : formats)
    {
        CFigures fig, figNull;
        const double dblSynthesis = SynthesisMicroseconds(f);
        if (Measure(f, false, false, dwSeconds, fig) && Measure(f, false, true, dwSeconds, figNull))
        {
            const double dblCopy = PlainCopySeconds(f, fig.dblAudio);
            const double dblPerBuffer = fig.dblWall * 1e6 / double(fig.llBuffers);
            const double dblNullPerBuffer = figNull.dblWall * 1e6 / double(figNull.llBuffers);
            std::printf("  %-22s %8.1f s audio per s wall  (%.1f s audio in %.2f s; first %.1f s of audio took %.2f s)\n"
                        "  %-22s a plain copy of the same bytes: %.3f s, ours / copy %.1fx\n"
                        "  %-22s per buffer: %.2f us; a do-nothing source %.2f us; the filter's own %.2f us\n"
                        "  %-22s (its synthesis alone %.2f us)\n",
                        f.pszName, fig.dblAudio / fig.dblWall, fig.dblAudio, fig.dblWall, kWarmUpAudioSeconds,
                        fig.dblWarmUpWall, "", dblCopy, fig.dblWall / dblCopy, "", dblPerBuffer, dblNullPerBuffer,
                        dblPerBuffer - dblNullPerBuffer, "", dblSynthesis);
        }
    }
    std::printf("With the graph's clock (real time):\n");
    for (const CFormat& f : formats)
    {
        CFigures fig;
        if (Measure(f, true, false, dwSeconds, fig))
            std::printf("  %-22s %8.1f ms CPU per s streamed  (%.0f ms CPU, %.2f s audio in %.2f s; first %.2f s:\n"
                        "  %-22s %.0f ms CPU)\n",
                        f.pszName, fig.dblCpu * 1000 / fig.dblWall, fig.dblCpu * 1000, fig.dblAudio, fig.dblWall,
                        fig.dblWarmUpWall, "", fig.dblWarmUpCpu * 1000);
    }
    CoUninitialize();
    return 0;
}
