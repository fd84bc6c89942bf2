// Capture tools' format requests through IAMStreamConfig::SetFormat, without a graph: every
// edit of every start type is made consistent and becomes the pin's type, the enumerator's
// and the filter's settings; types wrong in itself are refused and change nothing; the
// other doors stay strict; the tones follow the new rate.
#include <functional>

#include "common/GuardedBlock.h"
#include "tone/FormatRequestCases.h"
#include "tone/ToneApiFixture.h"

#include <ks.h>
#include <ksmedia.h>

namespace toneapi
{
namespace
{
using namespace formatrequest;

class ToneFormatRequest : public ToneApiTest
{
protected:
    std::vector<int> Parameters()
    {
        int an[4] = {};
        EXPECT_EQ(Tone()->GetParameters(&an[0], &an[1], &an[2], &an[3]), S_OK);
        return {an, an + 4};
    }

    Bytes EnumeratedType()
    {
        CComPtr<IEnumMediaTypes> spEnum;
        EXPECT_EQ(m_spPin->EnumMediaTypes(&spEnum), S_OK);
        CTypeOut first, second;
        EXPECT_EQ(spEnum->Next(1, &first, nullptr), S_OK);
        EXPECT_EQ(spEnum->Next(1, &second, nullptr), S_FALSE);
        return first.p != nullptr ? TypeBytes(first.p) : Bytes();
    }
};

// Every start, rate, channel count and container: cheap without a graph, so all of them.
TEST_F(ToneFormatRequest, EveryEditIsMadeConsistentAndBecomesTheSettings)
{
    size_t nKeptAsGiven = 0;
    for (const CStart& s : kStarts)
        for (DWORD nRate : kRates)
            for (WORD nChannels : kChannels)
                for (WORD nBits : kBits)
                {
                    const CRequest r = {nChannels, nRate, nBits};
                    SCOPED_TRACE(testing::Message() << s.pszName << " to " << nChannels << " x " << nBits << " bits at "
                                                    << nRate << " Hz");
                    CTypeOut type;
                    ASSERT_EQ(GetStartType(Tone(), Config(), s, &type), S_OK);
                    Edit(type.p, r);
                    const CDerived d = Derive(s, r);
                    const bool bAsGiven = AlreadyConsistent(s, r);
                    nKeptAsGiven += bAsGiven ? 1 : 0;
                    // The connection's doors judge the edited type strictly.
                    EXPECT_EQ(m_spPin->QueryAccept(type.p), bAsGiven ? S_OK : S_FALSE);

                    ASSERT_EQ(Config()->SetFormat(type.p), S_OK);
                    const Bytes expected = bAsGiven ? TypeBytes(type.p)
                                                    : ExpectedType(d.nRate, d.nChannels, d.nBits, d.nValid, d.nMask);
                    EXPECT_EQ(CurrentType(m_spFilter), expected);
                    EXPECT_EQ(EnumeratedType(), expected);
                    EXPECT_EQ(Parameters(), (std::vector<int>{d.nValid, d.nChannels, int(d.nMask), int(d.nRate)}));
                }
    // Four edits keep the frame and byte rate they started with (the caps' example as mono
    // 32 bits or stereo 16 bits at 48000 Hz, each extensible start as six 24-bit channels at
    // its own rate): those are taken as they are.
    EXPECT_EQ(nKeptAsGiven, 4u);
}

// What is saved after an edited request loads into a new filter as the same type.
TEST_F(ToneFormatRequest, SavedSettingsCarryTheDerivedType)
{
    const std::pair<CStart, CRequest> cases[] = {
        {kCapsExample, {6, 96000, 24}},  {kCapsExample, {1, 8000, 8}},     {kCapsExample, {2, 44100, 32}},
        {kExtensible24x6, {2, 22050, 16}}, {kExtensible24x6, {6, 11025, 32}}, {kExtensible20x6Side, {6, 192000, 32}},
        {kExtensible20x6Side, {8, 44100, 24}},
    };
    for (const auto& [s, r] : cases)
    {
        SCOPED_TRACE(testing::Message() << s.pszName << " to " << r.nChannels << " x " << r.nBits << " bits at "
                                        << r.nRate << " Hz");
        CTypeOut type;
        ASSERT_EQ(GetStartType(Tone(), Config(), s, &type), S_OK);
        Edit(type.p, r);
        ASSERT_EQ(Config()->SetFormat(type.p), S_OK);
        CComPtr<IBaseFilter> spOther = NewFilter();
        ASSERT_EQ(LoadSettings(spOther, SaveSettings(m_spFilter)), S_OK);
        EXPECT_EQ(CurrentType(spOther), CurrentType(m_spFilter));
    }
}

struct RefusalCase
{
    const char* pszWhat;
    const CStart* pStart;
    std::function<void(AM_MEDIA_TYPE&, WAVEFORMATEXTENSIBLE&)> spoil;
};

// A request wrong in itself: refused with the error line, the pin's type, the settings, the
// tones and their phases as they were.
TEST_F(ToneFormatRequest, TypesWrongInThemselvesAreRefusedAndChangeNothing)
{
    using MT = AM_MEDIA_TYPE;
    using WFE = WAVEFORMATEXTENSIBLE;
    const RefusalCase cases[] = {
        {"zero rate", &kCapsExample, [](MT&, WFE& w) { w.Format.nSamplesPerSec = 0; }},
        {"no channels", &kCapsExample, [](MT&, WFE& w) { w.Format.nChannels = 0; }},
        {"33 channels", &kExtensible24x6, [](MT&, WFE& w) { w.Format.nChannels = 33; }},
        {"12-bit container", &kExtensible24x6, [](MT&, WFE& w) { w.Format.wBitsPerSample = 12; }},
        {"20-bit container", &kCapsExample, [](MT&, WFE& w) { w.Format.wBitsPerSample = 20; }},
        {"40-bit container", &kCapsExample, [](MT&, WFE& w) { w.Format.wBitsPerSample = 40; }},
        {"no bits", &kCapsExample, [](MT&, WFE& w) { w.Format.wBitsPerSample = 0; }},
        {"float subtype", &kCapsExample, [](MT& m, WFE&) { m.subtype = MEDIASUBTYPE_IEEE_FLOAT; }},
        {"float tag", &kCapsExample, [](MT&, WFE& w) { w.Format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT; }},
        {"float sub-format", &kExtensible24x6, [](MT&, WFE& w) { w.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT; }},
        {"video", &kCapsExample, [](MT& m, WFE&) { m.majortype = MEDIATYPE_Video; }},
        {"another format type", &kCapsExample, [](MT& m, WFE&) { m.formattype = FORMAT_VideoInfo; }},
        {"short plain block", &kCapsExample, [](MT& m, WFE&) { m.cbFormat = sizeof(WAVEFORMATEX) - 1; }},
        {"extensible tag in a plain block", &kCapsExample,
         [](MT&, WFE& w) { w.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE; w.Format.cbSize = 22; }},
        {"short extensible block", &kExtensible24x6, [](MT& m, WFE&) { m.cbFormat = sizeof(WAVEFORMATEXTENSIBLE) - 1; }},
        {"extensible fields not claimed", &kExtensible24x6, [](MT&, WFE& w) { w.Format.cbSize = 0; }},
        {"no block", &kCapsExample, [](MT& m, WFE&) { m.pbFormat = nullptr; }},
        {"valid bits below 8", &kExtensible24x6, [](MT&, WFE& w) { w.Samples.wValidBitsPerSample = 4; }},
        {"no valid bits", &kExtensible24x6, [](MT&, WFE& w) { w.Samples.wValidBitsPerSample = 0; }},
        // 32 x 32 bits at 2^31 - 1 Hz: a byte rate beyond 32 bits.
        {"byte rate beyond 32 bits", &kExtensible24x6,
         [](MT&, WFE& w) { w.Format.nChannels = 32; w.Format.wBitsPerSample = 32; w.Format.nSamplesPerSec = 0x7FFFFFFF; }},
    };
    CGuardedBlock guard;
    ASSERT_TRUE(guard.Ready());
    for (const RefusalCase& c : cases)
    {
        SCOPED_TRACE(c.pszWhat);
        CTypeOut type;
        ASSERT_EQ(GetStartType(Tone(), Config(), *c.pStart, &type), S_OK);
        // A request the filter would take, then the fault.
        Edit(type.p, {6, 96000, 24});
        AM_MEDIA_TYPE mt = *type.p;
        WAVEFORMATEXTENSIBLE wfe = {};
        memcpy(&wfe, type.p->pbFormat, type.p->cbFormat);
        mt.pbFormat = reinterpret_cast<BYTE*>(&wfe);
        c.spoil(mt, wfe);
        // The block ends where cbFormat says: nothing beyond it may be read.
        if (mt.pbFormat != nullptr)
            guard.Place(&mt, mt.cbFormat);

        ASSERT_EQ(Tone()->SetParameters(20, 3, 0x7, 44100), S_OK);
        ASSERT_EQ(Tone()->SetFrequency(0, 20000), S_OK);
        const CState before = StateOf(m_spFilter);
        EXPECT_EQ(Config()->SetFormat(&mt), VFW_E_INVALIDMEDIATYPE);
        ExpectSameState(before, StateOf(m_spFilter));
        EXPECT_EQ(Parameters(), (std::vector<int>{20, 3, 7, 44100}));
    }
}

// The new rate lowers the tones it cannot play (the square wave's code included) to the
// highest it can, below half the rate exactly, and frees the sine words of the old format.
TEST_F(ToneFormatRequest, NewRateLowersTheTonesAndFreesTheSineWords)
{
    struct LimitCase
    {
        DWORD nRate;
        int nLowered;
    };
    for (const LimitCase& c : {LimitCase{8000, 3999}, LimitCase{8001, 4000}, LimitCase{11025, 5512}})
    {
        SCOPED_TRACE(c.nRate);
        ASSERT_EQ(Tone()->SetParameters(16, 2, 0, 48000), S_OK);
        ASSERT_EQ(Tone()->SetFrequency(0, 20000), S_OK);
        ASSERT_EQ(Tone()->SetFrequency(1, -1), S_OK);
        CTypeOut now;
        ASSERT_EQ(Config()->GetFormat(&now), S_OK);
        std::vector<BYTE> buffer(size_t(now.Wave()->nBlockAlign) * 480);
        ASSERT_EQ(Filter().FillBuffer(buffer.data(), DWORD(buffer.size()), now.Wave()), S_OK);
        ASSERT_GT(Filter().SineMemoryBytes(), 0u);
        ASSERT_NE(Filter().m_anPos[0], 0u);

        CTypeOut type;
        ASSERT_EQ(GetStartType(Tone(), Config(), kCapsExample, &type), S_OK);
        Edit(type.p, {2, c.nRate, 16});
        ASSERT_EQ(Config()->SetFormat(type.p), S_OK);
        for (int ch : {0, 1})
        {
            int nFreq = 0;
            ASSERT_EQ(Tone()->GetFrequency(ch, &nFreq), S_OK);
            EXPECT_EQ(nFreq, c.nLowered) << "channel " << ch;
            EXPECT_EQ(Filter().m_anPos[ch], 0u) << "channel " << ch;
        }
        EXPECT_EQ(Filter().SineMemoryBytes(), 0u);
    }
}

// No type: the default type, and with it the default format settings.
TEST_F(ToneFormatRequest, NoTypeBringsBackTheDefaultFormatSettings)
{
    ASSERT_EQ(Tone()->SetParameters(20, 6, 0x3F, 96000), S_OK);
    ASSERT_EQ(Config()->SetFormat(nullptr), S_OK);
    CAudioType def = CAudioType::Plain(2, 48000, 16);
    def.mt.lSampleSize = 1;
    EXPECT_EQ(CurrentType(m_spFilter), TypeBytes(def.Type()));
    EXPECT_EQ(Parameters(), (std::vector<int>{16, 2, 0, 48000}));
}
}
}
