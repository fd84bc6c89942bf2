// The settings page created through the registered module, shown in a host of ours and
// driven with the messages a person's actions send; the filter is read back through
// ICRVTonewell after every action.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <dshow.h>

#include <memory>

#include "FakeTone.h"
#include "PageHost.h"
#include "PagesTestSupport.h"
#include "TonewellIdl.h"
#include "common/Watchdog.h"
#include "pages/AudioSourcePP.h"
#include "pages/FrequencyScale.h"
#include "pages/PageResources.h"

using namespace pagetest;

namespace
{
struct CParams
{
    int nBits, nChannels, nMask, nRate;
    bool operator==(const CParams&) const = default;
};

std::ostream& operator<<(std::ostream& os, const CParams& p)
{
    return os << p.nBits << " bits, " << p.nChannels << " channels, mask 0x" << std::hex << p.nMask << std::dec
              << ", " << p.nRate << " Hz";
}

class SettingsPageTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(CoCreateInstance(CLSID_Tonewell, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&m_spFilter)),
                  S_OK);
        ASSERT_EQ(m_spFilter->QueryInterface(IID_ICRVTonewell, reinterpret_cast<void**>(&m_spTone)), S_OK);
        m_pBeeps = std::make_unique<CBeepCounter>();
        ASSERT_TRUE(m_pBeeps->IsActive());
        m_pBoxes = std::make_unique<CMessageBoxCatcher>();
    }
    void TearDown() override
    {
        m_pHost.reset();
        for (const auto& box : m_pBoxes->m_boxes)
            ADD_FAILURE() << "an unexpected message box: " << std::string(box.text.begin(), box.text.end());
    }

    // A new page for the filter (or pObject), shown in a new host.
    void Open(IUnknown* pObject = nullptr)
    {
        m_pHost = std::make_unique<CPageHost>();
        CComPtr<IPropertyPage> spPage;
        ASSERT_EQ(CoCreateInstance(CLSID_TonewellPP, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                   reinterpret_cast<void**>(&spPage)),
                  S_OK);
        IUnknown* pUnk = pObject != nullptr ? pObject : m_spFilter.p;
        ASSERT_EQ(m_pHost->Attach(spPage, 1, &pUnk), S_OK);
        ASSERT_EQ(m_pHost->Activate(), S_OK);
        ASSERT_NE(Ctl(IDC_FREQ_SLIDER), nullptr);
    }

    HWND Ctl(int nId) const { return m_pHost->Control(nId); }
    IPropertyPage* Page() const { return m_pHost->m_spPage; }
    const std::vector<DWORD>& Statuses() const { return m_pHost->m_site.m_statusChanges; }

    CParams Params() const
    {
        CParams p = {};
        EXPECT_EQ(m_spTone->GetParameters(&p.nBits, &p.nChannels, &p.nMask, &p.nRate), S_OK);
        return p;
    }
    int Freq(int nChannel) const
    {
        int n = -2;
        EXPECT_EQ(m_spTone->GetFrequency(nChannel, &n), S_OK);
        return n;
    }
    double Amp(int nChannel) const
    {
        double d = 1;
        EXPECT_EQ(m_spTone->GetAmplitude(nChannel, &d), S_OK);
        return d;
    }
    int Beeps() const { return m_pBeeps->Count(); }

    testwatch::CWatchdog m_watchdog;
    CComPtr<IUnknown> m_spFilter;
    CComPtr<ICRVTonewell> m_spTone;
    std::unique_ptr<CBeepCounter> m_pBeeps;
    std::unique_ptr<CMessageBoxCatcher> m_pBoxes;
    std::unique_ptr<CPageHost> m_pHost;
};

TEST_F(SettingsPageTest, PageInformationAndSize)
{
    Open();
    const PROPPAGEINFO& info = m_pHost->m_info;
    EXPECT_STREQ(info.pszTitle, L"Corvane Tonewell");
    EXPECT_STREQ(info.pszHelpFile, L"Help File Name");
    EXPECT_STREQ(info.pszDocString, L"Your Help String");
    // The size of dialog 106 (287 x 192 dialog units) in the dialog's own font.
    RECT rc = {0, 0, 287, 192};
    ASSERT_TRUE(MapDialogRect(m_pHost->PageWindow(), &rc));
    EXPECT_EQ(info.size.cx, rc.right);
    EXPECT_EQ(info.size.cy, rc.bottom);
    RECT rcSlider = {}, rcPlace = {};
    GetWindowRect(Ctl(IDC_FREQ_SLIDER), &rcSlider);
    GetWindowRect(Ctl(IDC_FREQ_PLACE), &rcPlace);
    EXPECT_TRUE(EqualRect(&rcSlider, &rcPlace)) << "the slider lies exactly over its sunken static";
    EXPECT_EQ(Page()->Help(nullptr), E_NOTIMPL) << "the frame uses the help file of the page information";
}

TEST_F(SettingsPageTest, FirstActivationShowsTheFiltersSettings)
{
    ASSERT_EQ(m_spTone->SetParameters(24, 6, 0x3F, 44100), S_OK);
    ASSERT_EQ(m_spTone->SetFrequency(0, 440), S_OK);
    ASSERT_EQ(m_spTone->SetAmplitude(0, -12.0), S_OK);
    Open();

    std::vector<std::wstring> channels = Items(Ctl(IDC_CHANNELS));
    ASSERT_EQ(channels.size(), 32u);
    EXPECT_EQ(channels[0], L"Mono");
    EXPECT_EQ(channels[1], L"Stereo");
    EXPECT_EQ(channels[2], L"3");
    EXPECT_EQ(channels[31], L"32");
    EXPECT_EQ(Selection(Ctl(IDC_CHANNELS)), 5);
    EXPECT_EQ(Text(Ctl(IDC_MASK)), L"3F");
    EXPECT_EQ(Items(Ctl(IDC_RATE)), (std::vector<std::wstring>{L"48000", L"44100", L"32000", L"24000", L"22050",
                                                               L"16000", L"11025", L"8000"}));
    EXPECT_EQ(Selection(Ctl(IDC_RATE)), 1);
    std::vector<std::wstring> bits = Items(Ctl(IDC_BITS));
    ASSERT_EQ(bits.size(), 25u);
    EXPECT_EQ(bits.front(), L"8");
    EXPECT_EQ(bits.back(), L"32");
    EXPECT_EQ(Selection(Ctl(IDC_BITS)), 16);
    EXPECT_EQ(Items(Ctl(IDC_CHANNEL)),
              (std::vector<std::wstring>{L"All channels", L"1", L"2", L"3", L"4", L"5", L"6"}));
    EXPECT_EQ(Selection(Ctl(IDC_CHANNEL)), 1);
    EXPECT_EQ(Text(Ctl(IDC_FREQ)), L"440");
    EXPECT_EQ(SliderPos(Ctl(IDC_FREQ_SLIDER)), 22);
    EXPECT_EQ(Text(Ctl(IDC_AMP)), L"-12");
    EXPECT_EQ(SliderPos(Ctl(IDC_AMP_SLIDER)), -12);
    EXPECT_EQ(Beeps(), 0);
    EXPECT_TRUE(Statuses().empty());
    EXPECT_EQ(Page()->IsPageDirty(), S_FALSE);
}

TEST_F(SettingsPageTest, MaskEditOnlyAboveTwoChannels)
{
    const struct
    {
        int nChannels;
        int nMask;
        const wchar_t* pszShown;
        bool bEnabled;
    } cases[] = {{1, 0, L"", false}, {2, 0x3, L"", false}, {3, 0, L"0", true}, {6, 0x60F, L"60F", true}};
    for (const auto& c : cases)
    {
        ASSERT_EQ(m_spTone->SetParameters(16, c.nChannels, c.nMask, 48000), S_OK);
        Open();
        EXPECT_EQ(Text(Ctl(IDC_MASK)), c.pszShown) << c.nChannels << " channels";
        EXPECT_EQ(IsWindowEnabled(Ctl(IDC_MASK)) != FALSE, c.bEnabled) << c.nChannels << " channels";
    }
    // The count chosen in the list, not yet applied, decides at once.
    ASSERT_EQ(m_spTone->SetParameters(16, 2, 0, 48000), S_OK);
    Open();
    const struct
    {
        int nItem;
        bool bEnabled;
    } choices[] = {{5, true}, {1, false}, {2, true}, {0, false}};
    for (const auto& c : choices)
    {
        Choose(Ctl(IDC_CHANNELS), c.nItem);
        EXPECT_EQ(IsWindowEnabled(Ctl(IDC_MASK)) != FALSE, c.bEnabled) << c.nItem + 1 << " channels chosen";
    }
    EXPECT_EQ(Params().nChannels, 2) << "not applied";
}

// Every offered rate: the slider's positions give the scale's frequencies, typed frequencies
// put the slider on the scale, and the top position offers the highest frequency the filter
// keeps at that rate instead of half the rate, which the filter refuses.
TEST_F(SettingsPageTest, FrequencySliderScaleAtEveryRate)
{
    for (int nRate : CAudioSourcePP::s_arrFreq)
    {
        SCOPED_TRACE(nRate);
        ASSERT_EQ(m_spTone->SetParameters(16, 2, 0, nRate), S_OK);
        Open();
        HWND hSlider = Ctl(IDC_FREQ_SLIDER);
        const int nTopFreq = (nRate - 1) / 2;
        const int nTopPos = FreqToPos(nRate / 2, nRate / 2);

        PressKey(hSlider, VK_HOME);
        EXPECT_EQ(Freq(0), 0);
        for (int nPos : {1, 10, 11, 19, 28, nTopPos - 1})
        {
            DragThumb(hSlider, nPos);
            EXPECT_EQ(SliderPos(hSlider), nPos);
            EXPECT_EQ(Freq(0), PosToFreq(nPos)) << "position " << nPos;
            EXPECT_EQ(Text(Ctl(IDC_FREQ)), std::to_wstring(PosToFreq(nPos)));
        }
        PressKey(hSlider, VK_END);
        EXPECT_EQ(Freq(0), nTopFreq) << "the top position";
        EXPECT_EQ(Text(Ctl(IDC_FREQ)), std::to_wstring(nTopFreq));
        EXPECT_EQ(SliderPos(hSlider), nTopPos) << "the thumb stays at the top";
        PressKey(hSlider, VK_HOME);
        DragThumb(hSlider, FREQ_SLIDER_MAX);
        EXPECT_EQ(Freq(0), nTopFreq) << "dragged to the end";

        for (int nFreq : {150, 149, nTopFreq})
        {
            SetText(Ctl(IDC_FREQ), std::to_wstring(nFreq));
            EXPECT_EQ(Freq(0), nFreq);
            EXPECT_EQ(SliderPos(hSlider), FreqToPos(nFreq, nRate / 2)) << nFreq << " Hz";
        }
        EXPECT_EQ(Beeps(), 0);
    }
}

TEST_F(SettingsPageTest, TypedFrequencyIsSetOrBeepedAt)
{
    Open();
    HWND hSlider = Ctl(IDC_FREQ_SLIDER);
    const struct
    {
        const wchar_t* pszText;
        bool bSet;
        int nFreq;
        int nPos;
    } cases[] = {
        {L"150", true, 150, 20},     {L"149", true, 149, 19},   {L"0", true, 0, 0},
        {L"23999", true, 23999, 39}, {L"24000", false},         {L"-5", false},
        {L"abc", false},             {L"12x", false},           {L"", false},
        {L"+440", true, 440, 22},    {L"99999999999999999999", false},
        {L"1111111111111111111111111111111111111111", false}, {L"-2147483648", false},
    };
    int nBeeps = 0;
    for (const auto& c : cases)
    {
        int nFreqBefore = Freq(0);
        int nPosBefore = SliderPos(hSlider);
        SetText(Ctl(IDC_FREQ), c.pszText);
        if (c.bSet)
        {
            EXPECT_EQ(Freq(0), c.nFreq) << c.pszText;
            EXPECT_EQ(SliderPos(hSlider), c.nPos) << c.pszText;
        }
        else
        {
            ++nBeeps;
            EXPECT_EQ(Freq(0), nFreqBefore) << c.pszText;
            EXPECT_EQ(SliderPos(hSlider), nPosBefore) << c.pszText;
        }
        EXPECT_EQ(Beeps(), nBeeps) << c.pszText;
    }
}

TEST_F(SettingsPageTest, TypedAmplitudeIsSetOrBeepedAt)
{
    Open();
    HWND hSlider = Ctl(IDC_AMP_SLIDER);
    const struct
    {
        const wchar_t* pszText;
        bool bSet;
        int nAmp;
    } cases[] = {{L"-96", true, -96}, {L"-97", false}, {L"0", true, 0},     {L"1", false},
                 {L"-", false},       {L"-6.5", false}, {L"-20", true, -20}, {L"", false}};
    int nBeeps = 0;
    for (const auto& c : cases)
    {
        double dBefore = Amp(0);
        int nPosBefore = SliderPos(hSlider);
        SetText(Ctl(IDC_AMP), c.pszText);
        if (c.bSet)
        {
            EXPECT_NEAR(Amp(0), c.nAmp, 1e-9) << c.pszText;
            EXPECT_EQ(SliderPos(hSlider), c.nAmp) << c.pszText;
        }
        else
        {
            ++nBeeps;
            EXPECT_EQ(Amp(0), dBefore) << c.pszText;
            EXPECT_EQ(SliderPos(hSlider), nPosBefore) << c.pszText;
        }
        EXPECT_EQ(Beeps(), nBeeps) << c.pszText;
    }
}

// Typed key by key, each character changes the edit: "-" alone is no number yet.
TEST_F(SettingsPageTest, TypingKeyByKey)
{
    Open();
    TypeText(Ctl(IDC_AMP), L"-6");
    EXPECT_EQ(Beeps(), 1) << "the lone minus";
    EXPECT_NEAR(Amp(0), -6.0, 1e-9);
    EXPECT_EQ(SliderPos(Ctl(IDC_AMP_SLIDER)), -6);
    TypeText(Ctl(IDC_FREQ), L"1500");
    EXPECT_EQ(Beeps(), 1);
    EXPECT_EQ(Freq(0), 1500);
    EXPECT_EQ(SliderPos(Ctl(IDC_FREQ_SLIDER)), 29);
}

// The amplitude is shown in whole decibels, and choosing a channel sets the shown value on it.
TEST_F(SettingsPageTest, ChosenChannelGetsItsAmplitudeInWholeDecibels)
{
    const struct
    {
        double dAmp;
        int nShown;
    } cases[] = {{-6.3, -6}, {-6.5, -7}, {-120.0, -96}, {0.0, 0}, {-0.4, 0}};
    Open();
    for (const auto& c : cases)
    {
        ASSERT_EQ(m_spTone->SetAmplitude(1, c.dAmp), S_OK);
        ASSERT_EQ(m_spTone->SetFrequency(1, 3000), S_OK);
        Choose(Ctl(IDC_CHANNEL), 1);
        Choose(Ctl(IDC_CHANNEL), 2);
        EXPECT_EQ(Text(Ctl(IDC_AMP)), std::to_wstring(c.nShown)) << c.dAmp;
        EXPECT_EQ(SliderPos(Ctl(IDC_AMP_SLIDER)), c.nShown) << c.dAmp;
        EXPECT_NEAR(Amp(1), c.nShown, 1e-9) << c.dAmp;
        EXPECT_EQ(Text(Ctl(IDC_FREQ)), L"3000");
        EXPECT_EQ(SliderPos(Ctl(IDC_FREQ_SLIDER)), 30);
    }
    EXPECT_EQ(Beeps(), 0);
}

TEST_F(SettingsPageTest, AllChannelsTakeChannelOnesToneAndEveryChange)
{
    ASSERT_EQ(m_spTone->SetParameters(16, 4, 0, 48000), S_OK);
    const int anFreq[] = {100, 200, 300, 400};
    const double adAmp[] = {-3.3, -10, -20, -30};
    for (int i = 0; i < 4; ++i)
    {
        ASSERT_EQ(m_spTone->SetFrequency(i, anFreq[i]), S_OK);
        ASSERT_EQ(m_spTone->SetAmplitude(i, adAmp[i]), S_OK);
    }
    Open();
    Choose(Ctl(IDC_CHANNEL), 0);
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ(Freq(i), 100) << "channel " << i;
        EXPECT_NEAR(Amp(i), -3.0, 1e-9) << "channel " << i;
    }
    SetText(Ctl(IDC_FREQ), L"500");
    PressKey(Ctl(IDC_AMP_SLIDER), VK_HOME);
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ(Freq(i), 500) << "channel " << i;
        EXPECT_NEAR(Amp(i), -96.0, 1e-9) << "channel " << i;
    }
    EXPECT_EQ(Beeps(), 0);
}

TEST_F(SettingsPageTest, SpinStepsByTheNumbersDecade)
{
    const struct
    {
        int nFrom;
        bool bUp;
        int nTo;
    } cases[] = {{10000, true, 11000}, {10000, false, 9900}, {1000, true, 1100}, {1000, false, 990},
                 {99, true, 100},      {100, false, 99},     {150, true, 160},   {23999, true, 23999},
                 {0, false, 0}};
    Open();
    for (const auto& c : cases)
    {
        SetText(Ctl(IDC_FREQ), std::to_wstring(c.nFrom));
        ASSERT_EQ(Freq(0), c.nFrom);
        ClickSpin(Ctl(IDC_FREQ_SPIN), c.bUp);
        EXPECT_EQ(Freq(0), c.nTo) << c.nFrom << (c.bUp ? " up" : " down");
        EXPECT_EQ(Text(Ctl(IDC_FREQ)), std::to_wstring(c.nTo));
    }
    EXPECT_EQ(Beeps(), 0);
}

TEST_F(SettingsPageTest, SliderKeysAndDragSetTheFrequencyAtOnce)
{
    Open();
    HWND hSlider = Ctl(IDC_FREQ_SLIDER);
    ASSERT_EQ(SliderPos(hSlider), 28);
    PressKey(hSlider, VK_RIGHT);
    EXPECT_EQ(Freq(0), 2000);
    PressKey(hSlider, VK_LEFT);
    PressKey(hSlider, VK_LEFT);
    EXPECT_EQ(Freq(0), 900);
    // While the thumb is held the frequency follows it.
    struct CHeld
    {
        ICRVTonewell* pTone;
        int nFreq;
    } held = {m_spTone, -1};
    DragThumb(hSlider, 19, [](void* pv) {
        auto* p = static_cast<CHeld*>(pv);
        p->pTone->GetFrequency(0, &p->nFreq);
    }, &held);
    EXPECT_EQ(held.nFreq, 100);
    EXPECT_EQ(Freq(0), 100);
    PressKey(Ctl(IDC_AMP_SLIDER), VK_END);
    EXPECT_NEAR(Amp(0), 0.0, 1e-9);
    EXPECT_EQ(Beeps(), 0);
}

// Format controls collect the change; Apply sends it, and the page site hears dirty, then clean.
TEST_F(SettingsPageTest, FormatChangesWaitForApply)
{
    const struct
    {
        const char* pszName;
        int nId;
        int nItem;               // list entry to choose, or -1 to type pszMask
        const wchar_t* pszMask;
        CParams expected;
    } cases[] = {
        {"channels", IDC_CHANNELS, 3, nullptr, {16, 4, 0, 48000}},
        {"rate", IDC_RATE, 2, nullptr, {16, 6, 0, 32000}},
        {"bits", IDC_BITS, 16, nullptr, {24, 6, 0, 48000}},
        {"mask", IDC_MASK, -1, L"60F", {16, 6, 0x60F, 48000}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.pszName);
        const CParams before = {16, 6, 0, 48000};
        ASSERT_EQ(m_spTone->SetParameters(before.nBits, before.nChannels, before.nMask, before.nRate), S_OK);
        Open();
        if (c.nItem >= 0)
            Choose(Ctl(c.nId), c.nItem);
        else
            SetText(Ctl(c.nId), c.pszMask);
        EXPECT_EQ(Params(), before) << "nothing is sent before Apply";
        EXPECT_EQ(Statuses(), std::vector<DWORD>{PROPPAGESTATUS_DIRTY});
        EXPECT_EQ(Page()->IsPageDirty(), S_OK);
        EXPECT_EQ(Page()->Apply(), S_OK);
        EXPECT_EQ(Params(), c.expected);
        EXPECT_EQ(Statuses(), (std::vector<DWORD>{PROPPAGESTATUS_DIRTY, 0}));
        EXPECT_EQ(Page()->IsPageDirty(), S_FALSE);
    }
}

// The mask goes out as hexadecimal above two channels only; what lies past the page's
// 255-character buffer is not read.
TEST_F(SettingsPageTest, MaskTextAsSent)
{
    const struct
    {
        int nChannels;
        std::wstring text;
        int nMask;
    } cases[] = {
        {6, L"3f", 0x3F},
        {6, L"xyz", 0},
        {6, std::wstring(254, L'0') + L"3", 3},
        {6, std::wstring(255, L'0') + L"3", 0},
        {2, L"3", 0},
    };
    for (const auto& c : cases)
    {
        ASSERT_EQ(m_spTone->SetParameters(16, c.nChannels, c.nChannels > 2 ? 0x3F : 0, 48000), S_OK);
        Open();
        SetText(Ctl(IDC_MASK), c.text);
        // A change of rate makes the page send the format also when the mask edit is disabled.
        Choose(Ctl(IDC_RATE), 1);
        EXPECT_EQ(Page()->Apply(), S_OK);
        CParams p = Params();
        EXPECT_EQ(p.nMask, c.nMask) << c.text.size() << " characters: " << std::string(c.text.begin(), c.text.end());
        EXPECT_EQ(p.nRate, 44100);
    }
}

TEST_F(SettingsPageTest, LaterActivationShowsTheUnappliedValues)
{
    Open();
    Choose(Ctl(IDC_CHANNELS), 5);
    Choose(Ctl(IDC_RATE), 2);
    Choose(Ctl(IDC_CHANNEL), 2);
    ASSERT_EQ(m_pHost->Deactivate(), S_OK);
    EXPECT_EQ(m_pHost->PageWindow(), nullptr);
    ASSERT_EQ(m_pHost->Activate(), S_OK);
    EXPECT_EQ(Selection(Ctl(IDC_CHANNELS)), 5);
    EXPECT_EQ(Selection(Ctl(IDC_RATE)), 2);
    EXPECT_EQ(Selection(Ctl(IDC_CHANNEL)), 2) << "channel 2 is still the one shown";
    EXPECT_EQ(Params(), (CParams{16, 2, 0, 48000})) << "not applied yet";
    EXPECT_EQ(Page()->IsPageDirty(), S_OK);
    EXPECT_EQ(Page()->Apply(), S_OK);
    EXPECT_EQ(Params(), (CParams{16, 6, 0, 32000}));
    EXPECT_EQ(Items(Ctl(IDC_CHANNEL)).size(), 7u);
    EXPECT_TRUE(IsWindowEnabled(Ctl(IDC_MASK)));
}

// A refused format: the error box (closed here by the test), the controls show what the
// filter still holds, the page stays dirty, and Apply still succeeds.
TEST_F(SettingsPageTest, RefusedFormatShowsTheErrorBox)
{
    const struct
    {
        HRESULT hr;
        const wchar_t* pszEnd;
    } cases[] = {{VFW_E_CHANGING_FORMAT, L"\r\nError 0x80040219"}, {E_INVALIDARG, L"\r\nError 0x80070057"}};
    for (const auto& c : cases)
    {
        CFakeTone fake;
        fake.m_hrRefuse = c.hr;
        Open(&fake);
        Choose(Ctl(IDC_CHANNELS), 5);
        EXPECT_EQ(Page()->Apply(), S_OK);
        ASSERT_EQ(m_pBoxes->m_boxes.size(), 1u);
        const auto box = m_pBoxes->m_boxes[0];
        m_pBoxes->m_boxes.clear();
        EXPECT_EQ(box.caption, L"Tonewell");
        EXPECT_EQ(box.text.rfind(L"Can't change properties\n", 0), 0u) << box.text;
        ASSERT_GE(box.text.size(), wcslen(c.pszEnd));
        EXPECT_EQ(box.text.substr(box.text.size() - wcslen(c.pszEnd)), c.pszEnd);
        EXPECT_GT(box.text.size(), wcslen(L"Can't change properties\n") + wcslen(c.pszEnd)) << "the code's own text";
        EXPECT_EQ(box.hOwner, m_pHost->m_hWnd) << "owned by the page's window";
        EXPECT_EQ(box.hIcon, LoadIconW(nullptr, IDI_ERROR));
        EXPECT_EQ(fake.m_nSetParameters, 1);
        EXPECT_EQ(Selection(Ctl(IDC_CHANNELS)), 1) << "the filter still has two channels";
        EXPECT_EQ(Page()->IsPageDirty(), S_OK);
        EXPECT_EQ(Statuses(), std::vector<DWORD>{PROPPAGESTATUS_DIRTY});
        m_pHost.reset();
        EXPECT_EQ(fake.m_nRef, 0) << "the page let go of its object";
    }
}

// Without ICRVTonewell the page shows empty controls and refuses Apply; it never holds an
// object the host has taken away.
TEST_F(SettingsPageTest, PageWithoutAFilter)
{
    struct CPlain : IUnknown
    {
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
        {
            *ppv = riid == IID_IUnknown ? this : nullptr;
            return *ppv ? S_OK : E_NOINTERFACE;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return 2; }
        STDMETHODIMP_(ULONG) Release() override { return 1; }
    } plain;
    enum EHow
    {
        eNoObjects,
        eNoInterface,
        eWithdrawn,
    };
    for (EHow eHow : {eNoObjects, eNoInterface, eWithdrawn})
    {
        SCOPED_TRACE(int(eHow));
        Sink().Clear();
        m_pHost = std::make_unique<CPageHost>();
        CComPtr<IPropertyPage> spPage;
        ASSERT_EQ(CoCreateInstance(CLSID_TonewellPP, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                                   reinterpret_cast<void**>(&spPage)),
                  S_OK);
        IUnknown* pUnk = eHow == eNoInterface ? static_cast<IUnknown*>(&plain) : m_spFilter.p;
        ASSERT_EQ(m_pHost->Attach(spPage, eHow == eNoObjects ? 0 : 1, eHow == eNoObjects ? nullptr : &pUnk), S_OK);
        if (eHow == eWithdrawn)
        {
            ASSERT_EQ(m_pHost->Activate(), S_OK);
            ASSERT_EQ(m_pHost->Deactivate(), S_OK);
            ASSERT_EQ(spPage->SetObjects(0, nullptr), S_OK);
            Sink().Clear();
        }
        ASSERT_EQ(m_pHost->Activate(), S_OK);
        EXPECT_TRUE(SinkHas(L"###Err### CAudioSourcePP::OnInitDialog(): m_ppUnk[0]->QI()=0x80004002"));
        for (int nId : {IDC_CHANNELS, IDC_CHANNEL, IDC_RATE, IDC_BITS})
            EXPECT_TRUE(Items(Ctl(nId)).empty()) << nId;
        EXPECT_EQ(Text(Ctl(IDC_FREQ)), L"");
        EXPECT_EQ(Text(Ctl(IDC_AMP)), L"");
        SetText(Ctl(IDC_FREQ), L"500");
        PressKey(Ctl(IDC_FREQ_SLIDER), VK_END);
        Choose(Ctl(IDC_CHANNELS), 3);
        EXPECT_EQ(Beeps(), 0) << "nothing to set, nothing to refuse";
        EXPECT_EQ(spPage->Apply(), E_FAIL);
        EXPECT_EQ(Freq(0), 1000) << "the filter was not touched";
    }
    // The withdrawn filter is held by nobody but the test.
    m_pHost.reset();
    m_spTone.Release();
    EXPECT_EQ(m_spFilter.Detach()->Release(), 0u);
}

// The frequency track is covered right of the highest usable position.
TEST_F(SettingsPageTest, SliderShowsOnlyTheUsableTrack)
{
    const struct
    {
        int nRate;
        int nTopPos;
    } cases[] = {{32000, 38}, {16000, 35}, {48000, 39}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.nRate);
        ASSERT_EQ(m_spTone->SetParameters(16, 2, 0, c.nRate), S_OK);
        Open();
        HWND hSlider = Ctl(IDC_FREQ_SLIDER);
        RECT rcChannel = {};
        SendMessageW(hSlider, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&rcChannel));
        CCapture capture = CCapture::PrintClient(hSlider);
        const COLORREF clrFace = GetSysColor(COLOR_BTNFACE);
        int xCut = rcChannel.left + (rcChannel.right - rcChannel.left) * c.nTopPos / FREQ_SLIDER_MAX + 1;
        int yMid = (rcChannel.top + rcChannel.bottom) / 2;
        bool bCovered = c.nTopPos < FREQ_SLIDER_MAX;
        if (bCovered)
        {
            EXPECT_EQ(capture.Pixel(xCut + 2, yMid), clrFace);
            EXPECT_EQ(capture.Pixel(rcChannel.right - 2, yMid), clrFace);
            EXPECT_EQ(capture.Pixel(xCut, yMid), GetSysColor(COLOR_BTNHIGHLIGHT));
        }
        else
            EXPECT_NE(capture.Pixel(rcChannel.right - 3, yMid), clrFace);
        EXPECT_NE(capture.Pixel(rcChannel.left + 3, yMid), clrFace) << "the usable track stays";
    }
}

// Each slider draws its ticks as short black strokes where the thumb stands at that value;
// the slider's own ends get none.
TEST_F(SettingsPageTest, SlidersDrawTheirTicksAsShortStrokes)
{
    const struct
    {
        int nId;
        std::vector<int> ticks;
        std::vector<int> ends;  // ends that are no tick of their own
    } cases[] = {
        {IDC_FREQ_SLIDER, {1, 10, 19, 28, 37}, {0, 39}},
        {IDC_AMP_SLIDER, {-90, -80, -70, -60, -50, -40, -30, -20, -10, 0}, {-96}},
    };
    Open();
    for (const auto& c : cases)
    {
        HWND hSlider = Ctl(c.nId);
        int nPos = SliderPos(hSlider);
        CCapture capture = CCapture::PrintClient(hSlider);
        auto strokeNear = [&](int nValue) {
            SendMessageW(hSlider, TBM_SETPOS, TRUE, nValue);
            RECT rc = {};
            SendMessageW(hSlider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&rc));
            int x = (rc.left + rc.right) / 2;
            int nRows = 0;
            for (int y = 5; y < 9; ++y)
                if (IsBlack(capture.Pixel(x - 1, y)) || IsBlack(capture.Pixel(x, y)) || IsBlack(capture.Pixel(x + 1, y)))
                    ++nRows;
            return nRows;
        };
        for (int nTick : c.ticks)
            EXPECT_EQ(strokeNear(nTick), 4) << "tick " << nTick << " of slider " << c.nId;
        for (int nEnd : c.ends)
            EXPECT_EQ(strokeNear(nEnd), 0) << "end " << nEnd << " of slider " << c.nId;
        SendMessageW(hSlider, TBM_SETPOS, TRUE, nPos);
    }
}

// The page layer's answers to the frame: one site, one activation at a time, keys through
// the dialog manager for the page's own windows only.
TEST_F(SettingsPageTest, PageLayerAnswersTheFrame)
{
    Open();
    CPageSite otherSite;
    EXPECT_EQ(Page()->SetPageSite(&otherSite), E_UNEXPECTED) << "a site is set already";
    RECT rc = {0, 0, 100, 100};
    EXPECT_EQ(Page()->Activate(m_pHost->m_hWnd, &rc, FALSE), E_UNEXPECTED) << "active already";
    EXPECT_EQ(Page()->TranslateAccelerator(nullptr), E_POINTER);

    HWND hChannels = Ctl(IDC_CHANNELS);
    SetFocus(hChannels);
    ASSERT_EQ(GetFocus(), hChannels);
    MSG msg = {hChannels, WM_KEYDOWN, VK_TAB, 1};
    EXPECT_EQ(Page()->TranslateAccelerator(&msg), S_OK);
    EXPECT_EQ(GetFocus(), Ctl(IDC_RATE)) << "the disabled mask edit is passed over";
    MSG foreign = {m_pHost->m_hWnd, WM_KEYDOWN, VK_TAB, 1};
    EXPECT_EQ(Page()->TranslateAccelerator(&foreign), S_FALSE);

    ASSERT_EQ(m_pHost->Deactivate(), S_OK);
    EXPECT_EQ(Page()->Show(SW_SHOW), E_UNEXPECTED) << "not active";
    EXPECT_EQ(Page()->Move(&rc), E_UNEXPECTED) << "not active";
    EXPECT_EQ(Page()->Apply(), S_OK) << "nothing to apply while clean";
    EXPECT_EQ(otherSite.m_nRef, 0) << "the refused site is not held";
}

// On the screen the sliders are seen whole: thumb and track lie inside the place their
// statics mark, and the thumbs show there.
TEST_F(SettingsPageTest, SlidersShowOnTheScreen)
{
    Open();
    CCapture page = CCapture::Window(m_pHost->PageWindow());
    const COLORREF clrFace = GetSysColor(COLOR_BTNFACE);
    for (int nId : {IDC_FREQ_SLIDER, IDC_AMP_SLIDER})
    {
        RECT rcThumb = {}, rcChannel = {}, rcClient = {};
        SendMessageW(Ctl(nId), TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&rcThumb));
        SendMessageW(Ctl(nId), TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&rcChannel));
        GetClientRect(Ctl(nId), &rcClient);
        EXPECT_LE(rcThumb.bottom, rcClient.bottom) << "the thumb of slider " << nId << " is not cut off";
        EXPECT_LE(rcChannel.bottom, rcClient.bottom) << "the track of slider " << nId << " is not cut off";
        EXPECT_GE(rcThumb.top, 10) << "the thumb of slider " << nId << " leaves the ticks' rows free";
        MapWindowPoints(Ctl(nId), m_pHost->PageWindow(), reinterpret_cast<POINT*>(&rcThumb), 2);
        int nDrawn = 0;
        for (int y = rcThumb.top; y < rcThumb.bottom; ++y)
            for (int x = rcThumb.left; x < rcThumb.right; ++x)
                nDrawn += page.Pixel(x, y) != clrFace ? 1 : 0;
        EXPECT_GT(nDrawn, (rcThumb.right - rcThumb.left) * 2) << "the thumb of slider " << nId;
    }
}
}
