// The settings page of the tone generator: the output format (channel count, mask, rate,
// valid bits), collected until the host applies the page, and per channel or for all
// channels the tone's frequency and amplitude, sent to the filter at once. The page talks to
// the filter only through ICRVTonewell.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include "TonewellIdl.h"
#include "pages/PageResources.h"
#include "support/ComBase.h"
#include "support/ComPtr.h"
#include "support/DialogImpl.h"
#include "support/PropertyPageImpl.h"

class CAudioSourcePP : public CComObjectRootEx<CComMultiThreadModel>,
                       public IPropertyPageImpl<CAudioSourcePP>,
                       public CDialogImpl<CAudioSourcePP>
{
public:
    enum { IDD = IDD_AUDIOSOURCEPP };

    BEGIN_COM_MAP(CAudioSourcePP)
        COM_INTERFACE_ENTRY(IPropertyPage)
    END_COM_MAP()

    CAudioSourcePP();

    // The rates the page offers, in the order of its list.
    static const int s_arrFreq[8];

    // IPropertyPage: the page's own parts.
    STDMETHOD(Activate)(HWND hWndParent, LPCRECT pRect, BOOL bModal) override;
    STDMETHOD(SetObjects)(ULONG nObjects, IUnknown** ppUnk) override;
    STDMETHOD(Apply)() override;

    BOOL ProcessDialogMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);

private:
    LRESULT OnInitDialog();
    void OnSliderMoved(HWND hSlider, WPARAM wParam);
    void OnFrequencySpin(NMUPDOWN* pUpDown);
    void OnFrequencyTyped();
    void OnAmplitudeTyped();
    LRESULT OnSliderDraw(NMCUSTOMDRAW* pDraw);
    void DrawTicks(HWND hSlider, HDC hdc);
    void OnChannelChosen();
    void OnFormatChanged(int nId);

    void FillFormatControls();
    void ShowFrequency();
    void ShowAmplitude();
    HWND CreateSlider(int nId, int nPlaceId);
    // The channel whose tone is read: the current one, or channel 0 for all channels.
    int ShownChannel() const { return m_nCurrentChannel < 0 ? 0 : m_nCurrentChannel; }
    // Calls pfnSet on the current channel, or on every channel until one refuses.
    template <typename TValue>
    HRESULT SetOnChosenChannels(HRESULT (STDMETHODCALLTYPE ICRVTonewell::*pfnSet)(int, TValue), TValue value);
    // m_szMask from the filter's mask: hexadecimal above two channels, else empty.
    void SetMaskText(int nChannels, int nMask);
    // The filter's format into the page's members and the mask edit.
    void ReadFormat();

    CComPtr<ICRVTonewell> m_spGenerator;
    int m_nBitsPerSample;
    int m_nChannels;
    wchar_t m_szMask[256];
    int m_nSamplesPerSec;
    int m_nMaxFreq;         // half the rate: the scale's end
    int m_nTopFreq;         // the highest frequency the filter keeps at the rate
    int m_nCurrentChannel;  // -1: all channels
    bool m_bInitialized;
};
