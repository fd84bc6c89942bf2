#include "pages/AudioSourcePP.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include "diagnostics/DSTrace.h"
#include "pages/ErrorBox.h"
#include "pages/FrequencyScale.h"
#include "server/Resources.h"

namespace
{
const int kAmplitudeMin = -96;
const int kChannelsMax = 32;
const int kBitsMin = 8;
const int kBitsMax = 32;
// Room for any int the edits may hold; longer text is no number the page reads.
const int kNumberCch = 16;

// The edit's text as a whole signed number, or false.
bool ReadEditNumber(HWND hDlg, int nId, int& n)
{
    HWND hEdit = ::GetDlgItem(hDlg, nId);
    int cch = ::GetWindowTextLengthW(hEdit);
    if (cch <= 0 || cch >= kNumberCch)
        return false;
    wchar_t sz[kNumberCch] = {};
    ::GetWindowTextW(hEdit, sz, kNumberCch);
    wchar_t* pEnd = nullptr;
    long long ll = wcstoll(sz, &pEnd, 10);
    if (pEnd == sz || *pEnd != 0 || ll < INT_MIN || ll > INT_MAX)
        return false;
    n = int(ll);
    return true;
}

void DefaultBeep()
{
    ::MessageBeep(MB_OK);
}

void AddString(HWND hCombo, LPCWSTR psz)
{
    ::SendMessageW(hCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(psz));
}

void AddNumber(HWND hCombo, int n)
{
    wchar_t sz[16];
    swprintf(sz, 16, L"%i", n);
    AddString(hCombo, sz);
}
}

const int CAudioSourcePP::s_arrFreq[8] = {48000, 44100, 32000, 24000, 22050, 16000, 11025, 8000};

CAudioSourcePP::CAudioSourcePP()
    : m_nBitsPerSample(16),
      m_nChannels(2),
      m_szMask(),
      m_nSamplesPerSec(48000),
      m_nMaxFreq(0),
      m_nTopFreq(0),
      m_nCurrentChannel(0),
      m_bInitialized(false)
{
    m_nTitleId = IDS_TONEWELL_DESC;
    m_nHelpFileId = IDS_HELPFILE;
    m_nDocStringId = IDS_DOCSTRING;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSourcePP::Activate(HWND hWndParent, LPCRECT pRect, BOOL bModal)
{
    // The dialog's up-down controls need their window class before the dialog is made.
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_UPDOWN_CLASS | ICC_BAR_CLASSES};
    BOOL bRet = InitCommonControlsEx(&icc);
    DS_ASSERT(bRet);
    return IPropertyPageImpl<CAudioSourcePP>::Activate(hWndParent, pRect, bModal);
}

// Objects given anew: the next activation reads the format from the new first object, and
// nothing of an object the host has taken away is kept.
COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSourcePP::SetObjects(ULONG nObjects, IUnknown** ppUnk)
{
    HRESULT hr = IPropertyPageImpl<CAudioSourcePP>::SetObjects(nObjects, ppUnk);
    if (SUCCEEDED(hr))
        m_spGenerator.Release();
    return hr;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSourcePP::Apply()
{
    DebugTrace(atlTraceGeneral, 2, L"CAudioSourcePP::Apply()\n");
    if (!m_spGenerator)
        return E_FAIL;
    if (!m_bDirty)
        return S_OK;
    int nMask = m_nChannels > 2 ? int(wcstoul(m_szMask, nullptr, 16)) : 0;
    HRESULT hr = m_spGenerator->SetParameters(m_nBitsPerSample, m_nChannels, nMask, m_nSamplesPerSec);
    if (FAILED(hr))
        ShowErrorBox(m_hWnd, L"Can't change properties", L"Tonewell", hr, MB_ICONERROR);
    // The controls show what the filter holds now, accepted or not.
    ReadFormat();
    FillFormatControls();
    ShowFrequency();
    if (SUCCEEDED(hr))
        SetDirty(false);
    return S_OK;
}

void CAudioSourcePP::SetMaskText(int nChannels, int nMask)
{
    if (nChannels > 2)
        swprintf(m_szMask, ARRAYSIZE(m_szMask), L"%X", unsigned(nMask));
    else
        m_szMask[0] = 0;
}

BOOL CAudioSourcePP::ProcessDialogMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    switch (uMsg)
    {
    case WM_INITDIALOG:
        lResult = OnInitDialog();
        return TRUE;
    case WM_HSCROLL:
        if (!m_bInitialized)
            return FALSE;
        if (reinterpret_cast<HWND>(lParam) != GetDlgItem(IDC_FREQ_SLIDER) &&
            reinterpret_cast<HWND>(lParam) != GetDlgItem(IDC_AMP_SLIDER))
            return FALSE;
        OnSliderMoved(reinterpret_cast<HWND>(lParam), wParam);
        return TRUE;
    case WM_NOTIFY:
    {
        auto* pHdr = reinterpret_cast<NMHDR*>(lParam);
        if (pHdr->idFrom == IDC_FREQ_SPIN && pHdr->code == UDN_DELTAPOS)
        {
            if (m_bInitialized)
                OnFrequencySpin(reinterpret_cast<NMUPDOWN*>(lParam));
            lResult = FALSE;  // the move is allowed
            return TRUE;
        }
        if ((pHdr->idFrom == IDC_FREQ_SLIDER || pHdr->idFrom == IDC_AMP_SLIDER) && pHdr->code == NM_CUSTOMDRAW)
        {
            lResult = OnSliderDraw(reinterpret_cast<NMCUSTOMDRAW*>(lParam));
            return TRUE;
        }
        return FALSE;
    }
    case WM_COMMAND:
    {
        int nId = LOWORD(wParam);
        int nCode = HIWORD(wParam);
        bool bEdit = nCode == EN_CHANGE && (nId == IDC_FREQ || nId == IDC_AMP || nId == IDC_MASK);
        bool bList = nCode == CBN_SELCHANGE && (nId == IDC_CHANNEL || nId == IDC_CHANNELS || nId == IDC_RATE ||
                                                nId == IDC_BITS);
        if (!bEdit && !bList)
            return FALSE;
        if (!m_bInitialized)
            return TRUE;
        if (nId == IDC_FREQ)
            OnFrequencyTyped();
        else if (nId == IDC_AMP)
            OnAmplitudeTyped();
        else if (nId == IDC_CHANNEL)
            OnChannelChosen();
        else
            OnFormatChanged(nId);
        return TRUE;
    }
    case WM_DESTROY:
        m_bInitialized = false;
        return FALSE;
    }
    return FALSE;
}

void CAudioSourcePP::ReadFormat()
{
    int nBits = 0, nChannels = 0, nMask = 0, nRate = 0;
    HRESULT hr = m_spGenerator->GetParameters(&nBits, &nChannels, &nMask, &nRate);
    DS_ASSERT(hr == S_OK);
    if (hr == S_OK)
    {
        m_nBitsPerSample = nBits;
        m_nChannels = nChannels;
        m_nSamplesPerSec = nRate;
        SetMaskText(nChannels, nMask);
    }
}

LRESULT CAudioSourcePP::OnInitDialog()
{
    if (!m_spGenerator)
    {
        HRESULT hr = E_NOINTERFACE;
        if (m_nObjects > 0 && m_ppUnk[0] != nullptr)
            hr = m_ppUnk[0]->QueryInterface(IID_ICRVTonewell, reinterpret_cast<void**>(&m_spGenerator));
        if (FAILED(hr) || !m_spGenerator)
        {
            DebugTrace(atlTraceGeneral, 2, L"###Err### CAudioSourcePP::OnInitDialog(): m_ppUnk[0]->QI()=0x%X\n", hr);
            m_spGenerator.Release();
        }
        else
            ReadFormat();
    }
    // A later activation shows the page's own values, changes not yet applied included.
    FillFormatControls();

    HWND hFreq = CreateSlider(IDC_FREQ_SLIDER, IDC_FREQ_PLACE);
    ::SendMessageW(hFreq, TBM_SETRANGEMIN, FALSE, 0);
    ::SendMessageW(hFreq, TBM_SETRANGEMAX, FALSE, FREQ_SLIDER_MAX);
    ::SendMessageW(hFreq, TBM_SETPAGESIZE, 0, 1);
    for (int nTick : {1, 10, 19, 28, 37})
        ::SendMessageW(hFreq, TBM_SETTIC, 0, nTick);
    ShowFrequency();

    HWND hAmp = CreateSlider(IDC_AMP_SLIDER, IDC_AMP_PLACE);
    ::SendMessageW(hAmp, TBM_SETRANGEMIN, FALSE, kAmplitudeMin);
    ::SendMessageW(hAmp, TBM_SETRANGEMAX, FALSE, 0);
    ::SendMessageW(hAmp, TBM_SETPAGESIZE, 0, 1);
    for (int nTick = -90; nTick <= 0; nTick += 10)
        ::SendMessageW(hAmp, TBM_SETTIC, 0, nTick);
    ::SendDlgItemMessageW(m_hWnd, IDC_AMP_SPIN, UDM_SETRANGE, 0, MAKELPARAM(0, WORD(kAmplitudeMin)));
    ShowAmplitude();

    m_bInitialized = true;
    return TRUE;
}

// A trackbar exactly over the place its sunken static marks, which it takes over in the tab order.
HWND CAudioSourcePP::CreateSlider(int nId, int nPlaceId)
{
    HWND hPlace = GetDlgItem(nPlaceId);
    RECT rc = {};
    ::GetWindowRect(hPlace, &rc);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&rc), 2);
    HWND hWnd = ::CreateWindowExW(0, TRACKBAR_CLASSW, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBS_TOP |
                                  TBS_ENABLESELRANGE, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, m_hWnd,
                                  reinterpret_cast<HMENU>(INT_PTR(nId)), ComResourceInstance(), nullptr);
    DS_ASSERT(::IsWindow(hWnd));
    HWND hBefore = ::GetWindow(hPlace, GW_HWNDPREV);
    ::SetWindowPos(hWnd, hBefore != nullptr ? hBefore : HWND_TOP, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    // Siblings do not clip each other: the place would paint over the slider.
    ::ShowWindow(hPlace, SW_HIDE);
    // Wine's trackbar keeps its default thumb length whatever its height, and the place is
    // too low for it: a thumb that would hang out below the slider is shortened to fit.
    RECT rcThumb = {}, rcClient = {};
    ::SendMessageW(hWnd, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&rcThumb));
    ::GetClientRect(hWnd, &rcClient);
    if (rcThumb.bottom > rcClient.bottom)
    {
        int nLength = int(::SendMessageW(hWnd, TBM_GETTHUMBLENGTH, 0, 0)) - (rcThumb.bottom - rcClient.bottom);
        ::SetWindowLongPtrW(hWnd, GWL_STYLE, ::GetWindowLongPtrW(hWnd, GWL_STYLE) | TBS_FIXEDLENGTH);
        ::SendMessageW(hWnd, TBM_SETTHUMBLENGTH, WPARAM(nLength), 0);
    }
    return hWnd;
}

void CAudioSourcePP::FillFormatControls()
{
    if (!m_spGenerator)
        return;
    ::SetDlgItemTextW(m_hWnd, IDC_MASK, m_szMask);
    ::EnableWindow(GetDlgItem(IDC_MASK), m_nChannels >= 3);

    HWND hChannels = GetDlgItem(IDC_CHANNELS);
    ::SendMessageW(hChannels, CB_RESETCONTENT, 0, 0);
    AddString(hChannels, L"Mono");
    AddString(hChannels, L"Stereo");
    for (int n = 3; n <= kChannelsMax; ++n)
        AddNumber(hChannels, n);
    ::SendMessageW(hChannels, CB_SETCURSEL, WPARAM(m_nChannels - 1), 0);

    if (m_nCurrentChannel >= m_nChannels)
        m_nCurrentChannel = 0;
    HWND hChannel = GetDlgItem(IDC_CHANNEL);
    ::SendMessageW(hChannel, CB_RESETCONTENT, 0, 0);
    AddString(hChannel, L"All channels");
    for (int n = 1; n <= m_nChannels; ++n)
        AddNumber(hChannel, n);
    ::SendMessageW(hChannel, CB_SETCURSEL, WPARAM(m_nCurrentChannel) + 1, 0);

    m_nMaxFreq = m_nSamplesPerSec / 2;
    m_nTopFreq = TopFrequency(m_nSamplesPerSec);
    HWND hRate = GetDlgItem(IDC_RATE);
    ::SendMessageW(hRate, CB_RESETCONTENT, 0, 0);
    int nRateItem = -1;
    for (int i = 0; i < int(ARRAYSIZE(s_arrFreq)); ++i)
    {
        AddNumber(hRate, s_arrFreq[i]);
        if (s_arrFreq[i] == m_nSamplesPerSec)
            nRateItem = i;
    }
    ::SendMessageW(hRate, CB_SETCURSEL, WPARAM(nRateItem), 0);

    HWND hBits = GetDlgItem(IDC_BITS);
    ::SendMessageW(hBits, CB_RESETCONTENT, 0, 0);
    for (int n = kBitsMin; n <= kBitsMax; ++n)
        AddNumber(hBits, n);
    ::SendMessageW(hBits, CB_SETCURSEL, WPARAM(m_nBitsPerSample - kBitsMin), 0);
}

void CAudioSourcePP::ShowFrequency()
{
    if (!m_spGenerator)
        return;
    DS_ASSERT(m_nMaxFreq > 0);
    int nFreq = 0;
    HRESULT hr = m_spGenerator->GetFrequency(ShownChannel(), &nFreq);
    DS_ASSERT(hr == S_OK);
    if (hr != S_OK)
        return;
    if (nFreq > m_nTopFreq)
        nFreq = m_nTopFreq;
    HWND hSlider = GetDlgItem(IDC_FREQ_SLIDER);
    ::SendMessageW(hSlider, TBM_SETPOS, TRUE, FreqToPos(nFreq, m_nMaxFreq));
    ::SetDlgItemInt(m_hWnd, IDC_FREQ, UINT(nFreq), FALSE);
    // Drawn again, so that the usable part of the track follows the rate.
    ::EnableWindow(hSlider, FALSE);
    ::EnableWindow(hSlider, TRUE);
    ::SendDlgItemMessageW(m_hWnd, IDC_FREQ_SPIN, UDM_SETRANGE, 0, MAKELPARAM(m_nTopFreq, 0));
}

void CAudioSourcePP::ShowAmplitude()
{
    if (!m_spGenerator)
        return;
    double dAmplitude = 0;
    HRESULT hr = m_spGenerator->GetAmplitude(ShownChannel(), &dAmplitude);
    DS_ASSERT(hr == S_OK);
    if (hr != S_OK)
        return;
    int nAmplitude = int(dAmplitude - 0.5);
    if (nAmplitude < kAmplitudeMin)
        nAmplitude = kAmplitudeMin;
    ::SendDlgItemMessageW(m_hWnd, IDC_AMP_SLIDER, TBM_SETPOS, TRUE, nAmplitude);
    ::SetDlgItemInt(m_hWnd, IDC_AMP, UINT(nAmplitude), TRUE);
}

void CAudioSourcePP::OnSliderMoved(HWND hSlider, WPARAM wParam)
{
    // While the thumb is dragged the message carries its place; the slider may not be there yet.
    int nPos = LOWORD(wParam) == TB_THUMBTRACK ? int(short(HIWORD(wParam)))
                                               : int(::SendMessageW(hSlider, TBM_GETPOS, 0, 0));
    if (hSlider == GetDlgItem(IDC_FREQ_SLIDER))
    {
        // From the first position at or above half the rate on, the highest frequency the
        // filter keeps: half the rate itself is refused.
        int nFreq = nPos >= FreqToPos(m_nMaxFreq, m_nMaxFreq) ? m_nTopFreq : PosToFreq(nPos);
        ::SetDlgItemInt(m_hWnd, IDC_FREQ, UINT(nFreq), FALSE);
    }
    else
        ::SetDlgItemInt(m_hWnd, IDC_AMP, UINT(nPos), TRUE);
}

void CAudioSourcePP::OnFrequencySpin(NMUPDOWN* pUpDown)
{
    pUpDown->iDelta = SpinStep(pUpDown->iPos, pUpDown->iDelta);
}

template <typename TValue>
HRESULT CAudioSourcePP::SetOnChosenChannels(HRESULT (STDMETHODCALLTYPE ICRVTonewell::*pfnSet)(int, TValue),
                                            TValue value)
{
    if (m_nCurrentChannel >= 0)
        return (m_spGenerator->*pfnSet)(m_nCurrentChannel, value);
    HRESULT hr = S_OK;
    for (int n = 0; n < m_nChannels && SUCCEEDED(hr); ++n)
        hr = (m_spGenerator->*pfnSet)(n, value);
    return hr;
}

void CAudioSourcePP::OnFrequencyTyped()
{
    if (!m_spGenerator)
        return;
    int nFreq = 0;
    if (!ReadEditNumber(m_hWnd, IDC_FREQ, nFreq) || nFreq < 0 || nFreq > m_nTopFreq ||
        FAILED(SetOnChosenChannels(&ICRVTonewell::SetFrequency, nFreq)))
    {
        DefaultBeep();
        return;
    }
    ::SendDlgItemMessageW(m_hWnd, IDC_FREQ_SLIDER, TBM_SETPOS, TRUE, FreqToPos(nFreq, m_nMaxFreq));
}

void CAudioSourcePP::OnAmplitudeTyped()
{
    if (!m_spGenerator)
        return;
    int nAmplitude = 0;
    if (!ReadEditNumber(m_hWnd, IDC_AMP, nAmplitude) || nAmplitude < kAmplitudeMin || nAmplitude > 0 ||
        FAILED(SetOnChosenChannels(&ICRVTonewell::SetAmplitude, double(nAmplitude))))
    {
        DefaultBeep();
        return;
    }
    ::SendDlgItemMessageW(m_hWnd, IDC_AMP_SLIDER, TBM_SETPOS, TRUE, nAmplitude);
}

void CAudioSourcePP::OnChannelChosen()
{
    int nItem = int(::SendDlgItemMessageW(m_hWnd, IDC_CHANNEL, CB_GETCURSEL, 0, 0));
    if (nItem == CB_ERR)
        return;
    DS_ASSERT(nItem - 1 <= kChannelsMax);
    m_nCurrentChannel = nItem - 1;
    // Showing writes into the edits, which sets the shown values on the chosen channels.
    ShowFrequency();
    ShowAmplitude();
}

void CAudioSourcePP::OnFormatChanged(int nId)
{
    if (nId == IDC_MASK)
        ::GetDlgItemTextW(m_hWnd, IDC_MASK, m_szMask, ARRAYSIZE(m_szMask));
    else
    {
        int nItem = int(::SendDlgItemMessageW(m_hWnd, nId, CB_GETCURSEL, 0, 0));
        if (nItem == CB_ERR)
            return;
        if (nId == IDC_CHANNELS)
        {
            DS_ASSERT(nItem < kChannelsMax);
            m_nChannels = nItem + 1;
            // The mask is for the count chosen: it can be typed before the count is applied.
            ::EnableWindow(GetDlgItem(IDC_MASK), m_nChannels >= 3);
        }
        else if (nId == IDC_RATE)
        {
            DS_ASSERT(nItem < int(ARRAYSIZE(s_arrFreq)));
            if (nItem >= int(ARRAYSIZE(s_arrFreq)))
                return;
            m_nSamplesPerSec = s_arrFreq[nItem];
        }
        else
        {
            DS_ASSERT(nItem <= kBitsMax - kBitsMin);
            m_nBitsPerSample = nItem + kBitsMin;
        }
    }
    SetDirty(true);
}

// Short black strokes at the ticks the slider holds; its two ends get none. The places are
// worked out from the slider's channel, thumb and range: some trackbars report wrong places
// for ranges below zero.
void CAudioSourcePP::DrawTicks(HWND hSlider, HDC hdc)
{
    RECT rcChannel = {}, rcThumb = {};
    ::SendMessageW(hSlider, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&rcChannel));
    ::SendMessageW(hSlider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&rcThumb));
    int nMin = int(::SendMessageW(hSlider, TBM_GETRANGEMIN, 0, 0));
    int nMax = int(::SendMessageW(hSlider, TBM_GETRANGEMAX, 0, 0));
    if (nMax <= nMin)
        return;
    int cxThumb = rcThumb.right - rcThumb.left;
    int cxTravel = (rcChannel.right - rcChannel.left) - cxThumb;
    int nTicks = int(::SendMessageW(hSlider, TBM_GETNUMTICS, 0, 0));
    HGDIOBJ hOld = ::SelectObject(hdc, ::GetStockObject(BLACK_PEN));
    for (int i = 0; i < nTicks - 2; ++i)
    {
        int nTick = int(::SendMessageW(hSlider, TBM_GETTIC, WPARAM(i), 0));
        if (nTick < nMin || nTick > nMax)
            continue;
        int x = rcChannel.left + cxThumb / 2 + MulDiv(nTick - nMin, cxTravel, nMax - nMin);
        ::MoveToEx(hdc, x, 5, nullptr);
        ::LineTo(hdc, x, 9);
    }
    ::SelectObject(hdc, hOld);
}

LRESULT CAudioSourcePP::OnSliderDraw(NMCUSTOMDRAW* pDraw)
{
    if (pDraw->dwDrawStage == CDDS_PREPAINT)
        return CDRF_NOTIFYITEMDRAW;
    bool bFrequency = pDraw->hdr.idFrom == IDC_FREQ_SLIDER;
    if (pDraw->dwDrawStage == CDDS_ITEMPREPAINT && pDraw->dwItemSpec == TBCD_CHANNEL && bFrequency)
        return CDRF_NOTIFYPOSTPAINT;
    if (pDraw->dwDrawStage == CDDS_ITEMPOSTPAINT && pDraw->dwItemSpec == TBCD_CHANNEL && bFrequency)
    {
        // Only the part of the track up to the highest usable position stays.
        int nMax = int(::SendMessageW(pDraw->hdr.hwndFrom, TBM_GETRANGEMAX, 0, 0));
        int nTop = FreqToPos(m_nMaxFreq, m_nMaxFreq);
        if (nMax > 0 && nTop < nMax)
        {
            RECT rc = pDraw->rc;
            rc.left += (pDraw->rc.right - pDraw->rc.left) * nTop / nMax + 1;
            ::FillRect(pDraw->hdc, &rc, ::GetSysColorBrush(COLOR_BTNFACE));
            HGDIOBJ hOld = ::SelectObject(pDraw->hdc, ::CreatePen(PS_SOLID, 1, ::GetSysColor(COLOR_BTNHIGHLIGHT)));
            ::MoveToEx(pDraw->hdc, rc.left, rc.top, nullptr);
            ::LineTo(pDraw->hdc, rc.left, rc.bottom);
            ::DeleteObject(::SelectObject(pDraw->hdc, hOld));
        }
        return CDRF_DODEFAULT;
    }
    if (pDraw->dwDrawStage == CDDS_ITEMPREPAINT && pDraw->dwItemSpec == TBCD_TICS)
    {
        DrawTicks(pDraw->hdr.hwndFrom, pDraw->hdc);
        return CDRF_SKIPDEFAULT;
    }
    return CDRF_DODEFAULT;
}
