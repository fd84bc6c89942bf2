#include "tone/ToneApiFixture.h"

#include <ks.h>
#include <ksmedia.h>

#include "dumps/PlatformFilters.h"

namespace toneapi
{
using persisttest::Append;

Bytes TypeBytes(const AM_MEDIA_TYPE* pmt)
{
    Bytes bytes;
    if (pmt == nullptr)
        return bytes;
    Append(bytes, pmt->majortype);
    Append(bytes, pmt->subtype);
    Append(bytes, pmt->formattype);
    Append(bytes, pmt->bFixedSizeSamples);
    Append(bytes, pmt->bTemporalCompression);
    Append(bytes, pmt->lSampleSize);
    Append(bytes, pmt->cbFormat);
    if (pmt->pbFormat != nullptr)
        bytes.insert(bytes.end(), pmt->pbFormat, pmt->pbFormat + pmt->cbFormat);
    return bytes;
}

void ExpectSameState(const CState& before, const CState& after)
{
    EXPECT_EQ(after.saved, before.saved) << "saved settings";
    EXPECT_EQ(after.freqUsed, before.freqUsed) << "applied frequencies";
    EXPECT_EQ(after.positions, before.positions) << "tone positions";
    EXPECT_EQ(after.currentType, before.currentType) << "the pin's current type";
}

CComPtr<IBaseFilter> NewFilter()
{
    CComPtr<IBaseFilter> spFilter;
    EXPECT_EQ(ComCreateReferencedInterface<CAudioSource>(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&spFilter)),
              S_OK);
    return spFilter;
}

Bytes SaveSettings(IBaseFilter* pFilter)
{
    CComQIPtr<IPersistStream> spPersist(pFilter);
    CComPtr<IStream> spStm = persisttest::EmptyStream();
    EXPECT_EQ(spPersist->Save(spStm, FALSE), S_OK);
    return persisttest::AllBytes(spStm);
}

HRESULT LoadSettings(IBaseFilter* pFilter, const Bytes& bytes)
{
    CComQIPtr<IPersistStream> spPersist(pFilter);
    return spPersist->Load(persisttest::StreamFrom(bytes));
}

Bytes CurrentType(IBaseFilter* pFilter)
{
    CComPtr<IPin> spPin;
    EXPECT_EQ(pFilter->FindPin(L"Out", &spPin), S_OK);
    CComQIPtr<IAMStreamConfig> spConfig(spPin);
    CTypeOut type;
    EXPECT_EQ(spConfig->GetFormat(&type), S_OK);
    return TypeBytes(type.p);
}

CState StateOf(IBaseFilter* pFilter)
{
    CAudioSource& filter = Concrete(pFilter);
    return {SaveSettings(pFilter),
            {std::begin(filter.m_anFreqUsed), std::end(filter.m_anFreqUsed)},
            {std::begin(filter.m_anPos), std::end(filter.m_anPos)},
            CurrentType(pFilter)};
}

CSavedSettings::CSavedSettings()
{
    for (int i = 0; i < TONE_SLOTS; ++i)
    {
        anFreq[i] = 1000;
        adblLevel[i] = 0.5;
    }
}

Bytes CSavedSettings::ToBytes() const
{
    Bytes bytes;
    Append(bytes, clsid);
    Append(bytes, nChannels);
    Append(bytes, nChannelMask);
    Append(bytes, nBitsPerSample);
    Append(bytes, nValidBitsPerSample);
    Append(bytes, nSamplesPerSec);
    Append(bytes, anFreq);
    Append(bytes, adblLevel);
    return bytes;
}

CAudioType CAudioType::Plain(WORD wChannels, DWORD dwRate, WORD wBits)
{
    CAudioType t = {};
    t.mt.majortype = MEDIATYPE_Audio;
    t.mt.subtype = MEDIASUBTYPE_PCM;
    t.mt.formattype = FORMAT_WaveFormatEx;
    t.mt.bFixedSizeSamples = TRUE;
    t.mt.cbFormat = sizeof(WAVEFORMATEX);
    t.wfe.Format.wFormatTag = WAVE_FORMAT_PCM;
    t.wfe.Format.nChannels = wChannels;
    t.wfe.Format.nSamplesPerSec = dwRate;
    t.wfe.Format.nBlockAlign = WORD(wChannels * wBits / 8);
    t.wfe.Format.nAvgBytesPerSec = dwRate * t.wfe.Format.nBlockAlign;
    t.wfe.Format.wBitsPerSample = wBits;
    t.mt.lSampleSize = t.wfe.Format.nBlockAlign;
    return t;
}

CAudioType CAudioType::Extensible(WORD wChannels, DWORD dwRate, WORD wBits, WORD wValidBits, DWORD dwMask)
{
    CAudioType t = Plain(wChannels, dwRate, wBits);
    t.mt.cbFormat = sizeof(WAVEFORMATEXTENSIBLE);
    t.wfe.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    t.wfe.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    t.wfe.Samples.wValidBitsPerSample = wValidBits;
    t.wfe.dwChannelMask = dwMask;
    t.wfe.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    return t;
}

Bytes ExpectedType(DWORD dwRate, WORD wChannels, WORD wBits, WORD wValidBits, DWORD dwMask)
{
    const bool bPlain = wChannels <= 2 && (wBits == 8 || wBits == 16) && wValidBits == wBits;
    // A mask of 0, or all bits set, asks for one bit per channel.
    const DWORD dwOneBitEach = wChannels == 32 ? 0xFFFFFFFF : (1u << wChannels) - 1;
    const DWORD dwBlockMask = dwMask != 0 && dwMask != 0xFFFFFFFF ? dwMask : dwOneBitEach;
    CAudioType t = bPlain ? CAudioType::Plain(wChannels, dwRate, wBits)
                          : CAudioType::Extensible(wChannels, dwRate, wBits, wValidBits, dwBlockMask);
    return TypeBytes(t.Type());
}

CState RefusedLoadState()
{
    return {CSavedSettings().ToBytes(), std::vector<DWORD>(TONE_SLOTS, 1000), std::vector<DWORD>(TONE_SLOTS, 0),
            ExpectedType(48000, 2, 16, 16, 0)};
}

void ToneApiTest::SetUp()
{
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    m_spFilter = NewFilter();
    ASSERT_TRUE(m_spFilter);
    m_spTone = CComQIPtr<ICRVTonewell>(m_spFilter);
    m_spPersist = CComQIPtr<IPersistStream>(m_spFilter);
    ASSERT_EQ(m_spFilter->FindPin(L"Out", &m_spPin), S_OK);
    m_spConfig = CComQIPtr<IAMStreamConfig>(m_spPin);
    ASSERT_TRUE(m_spTone && m_spPersist && m_spConfig);
}

void ToneApiTest::TearDown()
{
    m_spConfig.Release();
    m_spPin.Release();
    m_spPersist.Release();
    m_spTone.Release();
    m_spFilter.Release();
    CoUninitialize();
}

HRESULT CNullGraph::Build(IBaseFilter* pSource)
{
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  reinterpret_cast<void**>(&m_spGraph));
    if (FAILED(hr))
        return hr;
    CComPtr<IBaseFilter> spRenderer;
    hr = CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(&spRenderer));
    if (SUCCEEDED(hr))
        hr = m_spGraph->AddFilter(pSource, L"Tonewell");
    if (SUCCEEDED(hr))
        hr = m_spGraph->AddFilter(spRenderer, L"Null");
    CComPtr<IPin> spOut, spIn;
    CComPtr<IEnumPins> spEnum;
    if (SUCCEEDED(hr))
        hr = pSource->FindPin(L"Out", &spOut);
    if (SUCCEEDED(hr))
        hr = spRenderer->EnumPins(&spEnum);
    if (SUCCEEDED(hr))
        hr = spEnum->Next(1, &spIn, nullptr);
    if (hr == S_OK)
        hr = m_spGraph->Connect(spOut, spIn);
    // Without a clock the graph runs as fast as the filters go.
    if (SUCCEEDED(hr))
        hr = CComQIPtr<IMediaFilter>(m_spGraph)->SetSyncSource(nullptr);
    m_spControl = CComQIPtr<IMediaControl>(m_spGraph);
    return hr;
}

CNullGraph::~CNullGraph()
{
    if (m_spControl)
        m_spControl->Stop();
}
}
