// A fresh tone filter for each test with its interfaces at hand, and what the interface
// tests compare: saved settings, the pin's current type and the whole observable state.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include "common/Watchdog.h"
#include "filter/AudioSource.h"
#include "framework/DSTypes.h"
#include "persist/StreamHelpers.h"
#include "support/ComPtr.h"

namespace toneapi
{
using persisttest::Bytes;

// A media type handed out by the filter, freed with the record.
class CTypeOut
{
public:
    CTypeOut() = default;
    CTypeOut(const CTypeOut&) = delete;
    CTypeOut& operator=(const CTypeOut&) = delete;
    ~CTypeOut()
    {
        if (p != nullptr && p != kUntouched)
            MTFree(p);
    }
    AM_MEDIA_TYPE** operator&() { return &p; }
    const WAVEFORMATEX* Wave() const { return reinterpret_cast<const WAVEFORMATEX*>(p->pbFormat); }
    // A value no call stores, to see that a refused call left the out parameter alone.
    static inline AM_MEDIA_TYPE* const kUntouched = reinterpret_cast<AM_MEDIA_TYPE*>(uintptr_t(0x5A5A5A50));
    AM_MEDIA_TYPE* p = nullptr;
};

// A type's GUIDs, flags, sample size and format block as comparable bytes.
Bytes TypeBytes(const AM_MEDIA_TYPE* pmt);

// What the filter shows of itself: its saved settings, the applied frequencies and phases
// that are not saved, and the pin's current type.
struct CState
{
    Bytes saved;
    std::vector<DWORD> freqUsed;
    std::vector<DWORD> positions;
    Bytes currentType;
};
void ExpectSameState(const CState& before, const CState& after);

CComPtr<IBaseFilter> NewFilter();
inline CAudioSource& Concrete(IBaseFilter* pFilter)
{
    return *static_cast<CAudioSource*>(static_cast<IBaseFilterImpl<CAudioSource>*>(pFilter));
}

// The filter's settings saved into a new memory stream.
Bytes SaveSettings(IBaseFilter* pFilter);
// Loads bytes from a new memory stream.
HRESULT LoadSettings(IBaseFilter* pFilter, const Bytes& bytes);
// The pin's current type through IAMStreamConfig::GetFormat.
Bytes CurrentType(IBaseFilter* pFilter);
CState StateOf(IBaseFilter* pFilter);

// The bytes a filter with these settings saves, field by field.
struct CSavedSettings
{
    CLSID clsid = CLSID_Tonewell;
    WORD nChannels = 2;
    DWORD nChannelMask = 0;
    WORD nBitsPerSample = 16;
    WORD nValidBitsPerSample = 16;
    DWORD nSamplesPerSec = 48000;
    int anFreq[TONE_SLOTS];
    double adblLevel[TONE_SLOTS];

    CSavedSettings();
    Bytes ToBytes() const;
};

// A caller's audio type over a block of its own, consistent unless a test breaks it.
struct CAudioType
{
    AM_MEDIA_TYPE mt;
    WAVEFORMATEXTENSIBLE wfe;

    // WAVE_FORMAT_PCM with an 18-byte block.
    static CAudioType Plain(WORD wChannels, DWORD dwRate, WORD wBits);
    // WAVE_FORMAT_EXTENSIBLE with a 40-byte block and the PCM sub-format.
    static CAudioType Extensible(WORD wChannels, DWORD dwRate, WORD wBits, WORD wValidBits, DWORD dwMask);
    // The record, pointing at this object's own block.
    AM_MEDIA_TYPE* Type()
    {
        mt.pbFormat = reinterpret_cast<BYTE*>(&wfe);
        return &mt;
    }
};

// The pin's type that a filter with these format settings must carry.
Bytes ExpectedType(DWORD dwRate, WORD wChannels, WORD wBits, WORD wValidBits, DWORD dwMask);

// What a refused load leaves: the default settings with their tones at rest, and the type
// built from them (whose sample size is a frame, where a fresh pin's is 1).
CState RefusedLoadState();

class ToneApiTest : public testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    CAudioSource& Filter() { return Concrete(m_spFilter); }
    ICRVTonewell* Tone() { return m_spTone; }
    IAMStreamConfig* Config() { return m_spConfig; }
    IPersistStream* Persist() { return m_spPersist; }

    testwatch::CWatchdog m_watchdog;
    CComPtr<IBaseFilter> m_spFilter;
    CComPtr<ICRVTonewell> m_spTone;
    CComPtr<IPin> m_spPin;  // "Out"
    CComPtr<IAMStreamConfig> m_spConfig;
    CComPtr<IPersistStream> m_spPersist;
};

// The filter and Wine's Null Renderer connected in Wine's graph, without a clock.
class CNullGraph
{
public:
    // Adds pSource and a Null Renderer and connects them; S_OK or the failing step's result.
    HRESULT Build(IBaseFilter* pSource);
    ~CNullGraph();
    IMediaControl* Control() { return m_spControl; }

private:
    CComPtr<IGraphBuilder> m_spGraph;
    CComPtr<IMediaControl> m_spControl;
};
}
