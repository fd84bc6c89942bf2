// The "Corvane Tonewell" tone generator: the filter object CAudioSource with its settings,
// tone bank, streaming thread and persisted settings, and its output pin CAudioSourceOut.
#pragma once
#include <windows.h>
#include <dshow.h>
#include <ocidl.h>

#include "TonewellIdl.h"
#include "filter/AudioSourceOut.h"
#include "filter/CvVersionWrapper.h"
#include "filter/FormatRequest.h"
#include "filter/FrameTable.h"
#include "filter/SineCache.h"
#include "framework/DSFilters.h"
#include "framework/FilterRegistration.h"
#include "support/ComBase.h"
#include "support/Persist.h"
#include "support/Threads.h"

const int TONE_SLOTS = 32;
static_assert(TONE_SLOTS <= CFrameTable::MAX_CHANNELS);

class CAudioSource : public CComObjectRootEx<CComMultiThreadModel>,
                     public CSourceFilter<CAudioSource, CAudioSourceOut>,
                     public IBaseFilterImpl<CAudioSource>,
                     public ISpecifyPropertyPages,
                     public IPersistStreamImpl<CAudioSource>,
                     public IAMFilterMiscFlagsWrapper<CAudioSource, AM_FILTER_MISC_FLAGS_IS_SOURCE>,
                     public ICRVTonewell,
                     public ICvVersionWrapper
{
public:
    BEGIN_COM_MAP(CAudioSource)
        COM_INTERFACE_ENTRY2(IPersist, IBaseFilter)
        COM_INTERFACE_ENTRY2(IMediaFilter, IBaseFilter)
        COM_INTERFACE_ENTRY(IBaseFilter)
        COM_INTERFACE_ENTRY(IAMFilterMiscFlags)
        COM_INTERFACE_ENTRY(ICRVTonewell)
        COM_INTERFACE_ENTRY(ICvVersion)
        COM_INTERFACE_ENTRY(ISpecifyPropertyPages)
        COM_INTERFACE_ENTRY(IPersistStream)
        COM_INTERFACE_ENTRY_AGGREGATE(IID_IMarshal, m_pUnkMarshaler.p)
    END_COM_MAP()

    BEGIN_PERSIST_MAP(CAudioSource)
        PERSIST_ENTRY(m_clsid)
        PERSIST_ENTRY(m_nChannels)
        PERSIST_ENTRY(m_nChannelMask)
        PERSIST_ENTRY(m_nBitsPerSample)
        PERSIST_ENTRY(m_nValidBitsPerSample)
        PERSIST_ENTRY(m_nSamplesPerSec)
        PERSIST_ENTRY(m_anFreq)
        PERSIST_ENTRY(m_adblLevel)
    END_PERSIST_MAP()

    CAudioSource();

    static const CLSID& GetObjectCLSID() { return CLSID_Tonewell; }
    // The pins the filter mapper records: one output pin "Out" of any type.
    static const CFilterSetup& Setup();
    LPCWSTR ObjectName() override { return L"[Tonewell]"; }

    HRESULT FinalConstruct();
    void FinalRelease();

    // IBaseFilter: the state changes drive the streaming thread; a live source cannot cue.
    STDMETHOD(Run)(REFERENCE_TIME tStart) override;
    STDMETHOD(Stop)() override;
    STDMETHOD(GetState)(DWORD dwMilliSecsTimeout, FILTER_STATE* pState) override;
    // Both IPersist bases answer with the filter's class.
    STDMETHOD(GetClassID)(CLSID* pClassID) override { return IBaseFilterImpl<CAudioSource>::GetClassID(pClassID); }

    // ISpecifyPropertyPages
    STDMETHOD(GetPages)(CAUUID* pPages) override;

    // IPersistStream: the loaded settings are checked and carried to the pin.
    STDMETHOD(Load)(IStream* pStm) override;

    // ICRVTonewell
    STDMETHOD(SetParameters)(int nValidBitsPerSample, int nChannels, int nChannelMask, int nSamplesPerSec) override;
    STDMETHOD(GetParameters)(int* pnValidBitsPerSample, int* pnChannels, int* pnChannelMask,
                             int* pnSamplesPerSec) override;
    STDMETHOD(SetFrequency)(int nChannel, int nFreq) override;
    STDMETHOD(GetFrequency)(int nChannel, int* pnFreq) override;
    STDMETHOD(SetAmplitude)(int nChannel, double dAmplitude) override;
    STDMETHOD(GetAmplitude)(int nChannel, double* pdAmplitude) override;

    // May the pin use this type? Integer PCM of 1..32 channels in 8/16/24/32-bit containers.
    BOOL Filter_QueryAcceptMT(int nIndex, const AM_MEDIA_TYPE* pmt);

    // The five format settings, read and stored together; callers hold the filter lock.
    CPcmFormat FormatSettings() const;
    void StoreFormat(const CPcmFormat& fmt);
    // After a format change was taken: every channel of the new count at phase 0 with a
    // frequency the new rate plays, and no sine words of the old format.
    void FormatChanged();

    // Every channel of one buffer from the tone bank, under the filter lock.
    HRESULT FillBuffer(BYTE* pBuf, DWORD cbLen, const WAVEFORMATEX* pWF);
    // The bytes of sine words and frames held for the stream now.
    size_t SineMemoryBytes() const;

    // The streaming thread.
    unsigned ThreadProc();
    DWORD Send();
    HRESULT PrepareSample(IMediaSample** ppSample);
    HRESULT StartStreaming();
    void StopStreaming();
    // Whether a failed buffer request hr is a Stop that came between Send's state test and it.
    bool StopOvertook(HRESULT hr);

    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
    STDMETHOD_(ULONG, AddRef)() override = 0;
    STDMETHOD_(ULONG, Release)() override = 0;

    CComPtr<IUnknown> m_pUnkMarshaler;
    CLSID m_clsid;
    CSimpleThread<CAudioSource> m_thread;
    CEvent m_evStopped;

    // Settings, guarded by the filter lock.
    WORD m_nChannels;
    DWORD m_nChannelMask;
    WORD m_nBitsPerSample;
    WORD m_nValidBitsPerSample;
    DWORD m_nSamplesPerSec;

    // Tone bank.
    DWORD m_anFreqUsed[TONE_SLOTS];
    int m_anFreq[TONE_SLOTS];
    DWORD m_anPos[TONE_SLOTS];
    double m_adblLevel[TONE_SLOTS];
    // Each channel's sine words; freed when its tone or the format changes and at Stop.
    CSineCache m_aSineCache[TONE_SLOTS];
    // Whole frames of all channels while the tones stay; the channels' caches are freed
    // while it is in use. Freed with the caches.
    CFrameTable m_frameTable;

    // Stream state of the streaming thread.
    LONGLONG m_llPosition;
    // Added to every time stamp of the run: with a clock, the stream time at which the first
    // sample after a stop was made; without one, 0.
    REFERENCE_TIME m_tStampOffset;
    bool m_bDiscontinuity;
    bool m_bTypeChanged;

private:
    void SetDefaults();
    // Whether the format members describe a stream; builds its media type into mt.
    HRESULT BuildFormatType(CMType& mt) const;
    // Lowers every channel's frequency that the synthesis would refuse at the current rate.
    void LimitFrequencies(int nChannels, bool bResetPositions);
    HRESULT CarryFormatToPin(const CMType& mt);
    // The stream time on the filter's clock now; 0 without a clock.
    REFERENCE_TIME StreamTimeNow();
    void ReleaseSineCaches();
    // Channel c's position carried to its new frequency, if it has one.
    void CarryTone(DWORD c, DWORD dwRate);
    // The buffer from the frame table, when the format and tones allow it and the table
    // pays off; false leaves the buffer untouched to the per-channel path.
    bool FillFromTable(BYTE* pBuf, DWORD cbLen, const WAVEFORMATEX* pWF);
};
