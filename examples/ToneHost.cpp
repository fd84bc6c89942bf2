// A host of the Corvane Tonewell filter, as a program of your own would drive it: create the
// registered filter, choose a format the way capture tools do (a type from GetStreamCaps with
// rate, channels and bits changed), set a tone per channel, ask for 20 ms buffers, connect
// the pin to the Sample Grabber and the Null Renderer, run the graph for a second, stop.
//
// Build: any C++ compiler for Windows, with the interface header that widl or midl makes from
// Tonewell.idl; link strmiids, ole32 and uuid.
#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <cstdio>

// The filter's identifiers are defined here, from the header's DEFINE_GUID lines.
#include <initguid.h>
#include "TonewellIdl.h"

// Not in every SDK's headers: the Sample Grabber and the Null Renderer of qedit.
static const CLSID kClsidSampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
static const CLSID kClsidNullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// Counts what reaches the Sample Grabber. It lives on the stack of wmain, which outlives the graph.
class CSampleCounter : public ISampleGrabberCB
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid != IID_IUnknown && riid != IID_ISampleGrabberCB)
            return *ppv = nullptr, E_NOINTERFACE;
        *ppv = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample* pSample) override
    {
        REFERENCE_TIME tStart = 0, tStop = 0;
        pSample->GetTime(&tStart, &tStop);
        if (InterlockedIncrement(&m_nSamples) == 1)
            m_tFirstStart = tStart;
        InterlockedExchangeAdd(&m_cbTotal, pSample->GetActualDataLength());
        m_cbLast = pSample->GetActualDataLength();
        m_tLastStop = tStop;
        return S_OK;
    }
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

    volatile LONG m_nSamples = 0, m_cbTotal = 0, m_cbLast = 0;
    volatile REFERENCE_TIME m_tFirstStart = 0, m_tLastStop = 0;
};

// Ends the program with a message when a call fails.
#define CHECK(call)                                                                          \
    do                                                                                       \
    {                                                                                        \
        HRESULT hrCheck = (call);                                                            \
        if (FAILED(hrCheck))                                                                 \
        {                                                                                    \
            fprintf(stderr, "%s failed: 0x%08lX\n", #call, static_cast<unsigned long>(hrCheck)); \
            return 1;                                                                        \
        }                                                                                    \
    } while (0)

template <class T>
void Release(T*& p)
{
    if (p != nullptr)
        p->Release();
    p = nullptr;
}

static IPin* PinOf(IBaseFilter* pFilter, PIN_DIRECTION eWanted)
{
    IEnumPins* pEnum = nullptr;
    IPin* pPin = nullptr;
    if (SUCCEEDED(pFilter->EnumPins(&pEnum)))
    {
        while (pEnum->Next(1, &pPin, nullptr) == S_OK)
        {
            PIN_DIRECTION eDir;
            if (SUCCEEDED(pPin->QueryDirection(&eDir)) && eDir == eWanted)
                break;
            Release(pPin);
        }
        pEnum->Release();
    }
    return pPin;
}

static int RunExample(CSampleCounter& counter)
{
    IBaseFilter* pTone = nullptr;
    CHECK(CoCreateInstance(CLSID_Tonewell, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                           reinterpret_cast<void**>(&pTone)));

    // The format: the capability's example type with three fields changed, nothing else.
    IPin* pOut = nullptr;
    CHECK(pTone->FindPin(L"Out", &pOut));
    IAMStreamConfig* pConfig = nullptr;
    CHECK(pOut->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&pConfig)));
    AM_MEDIA_TYPE* pmt = nullptr;
    AUDIO_STREAM_CONFIG_CAPS caps;
    CHECK(pConfig->GetStreamCaps(0, &pmt, reinterpret_cast<BYTE*>(&caps)));
    WAVEFORMATEX* pWF = reinterpret_cast<WAVEFORMATEX*>(pmt->pbFormat);
    pWF->nSamplesPerSec = 44100;
    pWF->nChannels = 2;
    pWF->wBitsPerSample = 24;
    HRESULT hr = pConfig->SetFormat(pmt);
    CoTaskMemFree(pmt->pbFormat);
    CoTaskMemFree(pmt);
    CHECK(hr);

    // A tone per channel: 440 Hz at -3 dB on the left, a square wave at -12 dB on the right.
    ICRVTonewell* pSettings = nullptr;
    CHECK(pTone->QueryInterface(IID_ICRVTonewell, reinterpret_cast<void**>(&pSettings)));
    CHECK(pSettings->SetFrequency(0, 440));
    CHECK(pSettings->SetAmplitude(0, -3.0));
    CHECK(pSettings->SetFrequency(1, -1));
    CHECK(pSettings->SetAmplitude(1, -12.0));
    int nBits = 0, nChannels = 0, nMask = 0, nRate = 0;
    CHECK(pSettings->GetParameters(&nBits, &nChannels, &nMask, &nRate));
    printf("Format: %d channels, %d bits, %d Hz\n", nChannels, nBits, nRate);

    // 20 ms buffers, the count left to the filter: suggested before the pin connects.
    IAMBufferNegotiation* pBuffers = nullptr;
    CHECK(pOut->QueryInterface(IID_IAMBufferNegotiation, reinterpret_cast<void**>(&pBuffers)));
    const LONG nFrameBytes = nChannels * ((nBits + 7) / 8);
    ALLOCATOR_PROPERTIES suggested = {-1, nRate / 50 * nFrameBytes, -1, -1};
    CHECK(pBuffers->SuggestAllocatorProperties(&suggested));

    // Tonewell -> Sample Grabber -> Null Renderer, run with the graph's clock.
    IGraphBuilder* pGraph = nullptr;
    IBaseFilter *pGrabberFilter = nullptr, *pNull = nullptr;
    ISampleGrabber* pGrabber = nullptr;
    CHECK(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                           reinterpret_cast<void**>(&pGraph)));
    CHECK(CoCreateInstance(kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                           reinterpret_cast<void**>(&pGrabberFilter)));
    CHECK(CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                           reinterpret_cast<void**>(&pNull)));
    CHECK(pGrabberFilter->QueryInterface(IID_ISampleGrabber, reinterpret_cast<void**>(&pGrabber)));
    CHECK(pGrabber->SetCallback(&counter, 0));
    CHECK(pGraph->AddFilter(pTone, L"Tonewell"));
    CHECK(pGraph->AddFilter(pGrabberFilter, L"Sample Grabber"));
    CHECK(pGraph->AddFilter(pNull, L"Null Renderer"));
    IPin* pGrabberIn = PinOf(pGrabberFilter, PINDIR_INPUT);
    IPin* pGrabberOut = PinOf(pGrabberFilter, PINDIR_OUTPUT);
    IPin* pNullIn = PinOf(pNull, PINDIR_INPUT);
    CHECK(pGraph->Connect(pOut, pGrabberIn));
    CHECK(pGraph->Connect(pGrabberOut, pNullIn));

    ALLOCATOR_PROPERTIES agreed = {};
    CHECK(pBuffers->GetAllocatorProperties(&agreed));
    printf("Buffers: %ld of %ld bytes\n", agreed.cBuffers, agreed.cbBuffer);

    IMediaControl* pControl = nullptr;
    CHECK(pGraph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&pControl)));
    CHECK(pControl->Run());
    Sleep(1000);
    CHECK(pControl->Stop());
    // On the graph's clock the times are stream times: the first sample's is when it was made.
    printf("Received: %ld samples, %ld bytes, the last of %ld bytes; times %.3f s to %.3f s\n", counter.m_nSamples,
           counter.m_cbTotal, counter.m_cbLast, double(counter.m_tFirstStart) / 1e7, double(counter.m_tLastStop) / 1e7);

    Release(pControl);
    Release(pGrabberIn);
    Release(pGrabberOut);
    Release(pNullIn);
    Release(pGrabber);
    Release(pNull);
    Release(pGrabberFilter);
    Release(pGraph);
    Release(pBuffers);
    Release(pSettings);
    Release(pConfig);
    Release(pOut);
    Release(pTone);
    return 0;
}

int wmain()
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    CSampleCounter counter;
    const int nExit = RunExample(counter);
    CoUninitialize();
    return nExit;
}
