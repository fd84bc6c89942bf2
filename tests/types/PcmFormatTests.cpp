// PCM media types: what the builders produce, and what the audio checks accept.
#include <gtest/gtest.h>

#include <cstring>
#include <string>


#include "framework/DSTypes.h"
#include "types/TaskMemoryTest.h"

namespace
{
const DWORD ALL_CHANNELS = 0xFFFFFFFF;

enum class EBuilder { PcmEx, Pcm };

struct CBuildCase
{
    const char* pszName;
    EBuilder eBuilder;
    DWORD dwFreq;
    WORD wChannels;
    WORD wBits;           // container for PcmEx, significant bits for Pcm
    WORD wValidBits;      // PcmEx only
    DWORD dwMask;
    HRESULT hr;
    // Expected block, when built.
    bool bExtensible;
    WORD wContainer;
    WORD wValid;
    DWORD dwMaskOut;
};

HRESULT Build(CMType& mt, const CBuildCase& c)
{
    return c.eBuilder == EBuilder::PcmEx
               ? CMTHelp::MTCreatePCMEx(mt, c.dwFreq, c.wChannels, c.wBits, c.wValidBits, c.dwMask)
               : CMTHelp::MTCreatePCM(mt, c.dwFreq, c.wChannels, c.wBits, c.dwMask);
}

class PcmBuilder : public CTaskMemoryTest, public testing::WithParamInterface<CBuildCase>
{
};

TEST_P(PcmBuilder, BuildsTheBlockAndTheTypeAroundIt)
{
    const CBuildCase& c = GetParam();
    CMType mt(&MEDIATYPE_Video);
    ASSERT_EQ(mt.Set(&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, &FORMAT_VideoInfo, 8, nullptr), S_OK);
    const AM_MEDIA_TYPE before = mt;
    ASSERT_EQ(Build(mt, c), c.hr);
    if (FAILED(c.hr))
    {
        EXPECT_EQ(std::memcmp(&mt, &before, sizeof(before)), 0) << "a failed build must leave the type untouched";
        return;
    }
    const WORD wAlign = WORD(c.wChannels * c.wContainer / 8);
    EXPECT_EQ(mt.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_PCM);
    EXPECT_EQ(mt.formattype, FORMAT_WaveFormatEx);
    EXPECT_EQ(mt.bFixedSizeSamples, TRUE);
    EXPECT_EQ(mt.bTemporalCompression, FALSE);
    EXPECT_EQ(mt.pUnk, nullptr);
    EXPECT_EQ(mt.lSampleSize, wAlign);
    ASSERT_EQ(mt.cbFormat, c.bExtensible ? 40u : 18u);
    const auto* pWF = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
    EXPECT_EQ(pWF->wFormatTag, c.bExtensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM);
    EXPECT_EQ(pWF->nChannels, c.wChannels);
    EXPECT_EQ(pWF->nSamplesPerSec, c.dwFreq);
    EXPECT_EQ(pWF->nAvgBytesPerSec, c.dwFreq * wAlign);
    EXPECT_EQ(pWF->nBlockAlign, wAlign);
    EXPECT_EQ(pWF->wBitsPerSample, c.wContainer);
    EXPECT_EQ(pWF->cbSize, c.bExtensible ? 22 : 0);
    if (c.bExtensible)
    {
        const auto* pWFE = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pWF);
        EXPECT_EQ(pWFE->Samples.wValidBitsPerSample, c.wValid);
        EXPECT_EQ(pWFE->dwChannelMask, c.dwMaskOut);
        EXPECT_EQ(pWFE->SubFormat, KSDATAFORMAT_SUBTYPE_PCM);
    }
    // What the builders make, the checks accept, under its own tag and under any tag only.
    EXPECT_EQ(MTCheckAudio(&mt, MT_ANY_FORMAT_TAG), S_OK);
    EXPECT_EQ(MTCheckAudio(&mt, pWF->wFormatTag), S_OK);
    WORD wOther = c.bExtensible ? WAVE_FORMAT_PCM : WAVE_FORMAT_EXTENSIBLE;
    EXPECT_EQ(MTCheckAudio(&mt, wOther), VFW_E_INVALIDMEDIATYPE);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Formats, PcmBuilder, testing::Values(
    //          name                      builder        rate      ch  bits valid mask          result        ext    cont valid mask out
    CBuildCase{"Stereo16IsPlain",         EBuilder::PcmEx, 48000,   2, 16, 16, 0x3,          S_OK,         false, 16, 16, 0},
    CBuildCase{"Mono8IsPlain",            EBuilder::PcmEx, 8000,    1,  8,  8, ALL_CHANNELS, S_OK,         false,  8,  8, 0},
    CBuildCase{"Stereo16Valid12",         EBuilder::PcmEx, 48000,   2, 16, 12, 0x3,          S_OK,         true,  16, 12, 0x3},
    CBuildCase{"ThreeChannelsDeriveMask", EBuilder::PcmEx, 48000,   3, 16, 16, ALL_CHANNELS, S_OK,         true,  16, 16, 0x7},
    CBuildCase{"ThirtyTwoChannelsAllBits",EBuilder::PcmEx, 192000, 32, 32, 32, ALL_CHANNELS, S_OK,         true,  32, 32, 0xFFFFFFFF},
    CBuildCase{"GivenMaskKept",           EBuilder::PcmEx, 44100,   6, 24, 20, 0x60F,        S_OK,         true,  24, 20, 0x60F},
    CBuildCase{"Mono24IsExtensible",      EBuilder::PcmEx, 96000,   1, 24, 24, 0x4,          S_OK,         true,  24, 24, 0x4},
    CBuildCase{"Mono32IsExtensible",      EBuilder::PcmEx, 96000,   1, 32, 32, 0,            S_OK,         true,  32, 32, 0},
    CBuildCase{"ExNoRate",                EBuilder::PcmEx, 0,       2, 16, 16, 0,            E_INVALIDARG},
    CBuildCase{"ExNoChannels",            EBuilder::PcmEx, 48000,   0, 16, 16, 0,            E_INVALIDARG},
    CBuildCase{"Ex33Channels",            EBuilder::PcmEx, 48000,  33, 16, 16, 0,            E_INVALIDARG},
    CBuildCase{"ExContainer12",           EBuilder::PcmEx, 48000,   2, 12, 12, 0,            E_INVALIDARG},
    CBuildCase{"ExValid7",                EBuilder::PcmEx, 48000,   2, 16,  7, 0,            E_INVALIDARG},
    CBuildCase{"ExValidAboveContainer",   EBuilder::PcmEx, 48000,   2, 16, 17, 0,            E_INVALIDARG},
    // nAvgBytesPerSec would wrap around 32 bits.
    CBuildCase{"ExByteRateOverflows",     EBuilder::PcmEx, 40000000, 32, 32, 32, 0,          E_INVALIDARG},
    CBuildCase{"Stereo16FromBits",        EBuilder::Pcm,   48000,   2, 16,  0, 0,            S_OK,         false, 16, 16, 0},
    CBuildCase{"Mono8FromBits",           EBuilder::Pcm,   22050,   1,  8,  0, 0,            S_OK,         false,  8,  8, 0},
    CBuildCase{"Bits4In8",                EBuilder::Pcm,   48000,   1,  4,  0, ALL_CHANNELS, S_OK,         true,   8,  4, 0x1},
    CBuildCase{"Bits12In16",              EBuilder::Pcm,   48000,   2, 12,  0, ALL_CHANNELS, S_OK,         true,  16, 12, 0x3},
    CBuildCase{"Bits16ThreeChannels",     EBuilder::Pcm,   48000,   3, 16,  0, 0x7,          S_OK,         true,  16, 16, 0x7},
    CBuildCase{"Bits20In24",              EBuilder::Pcm,   96000,   8, 20,  0, ALL_CHANNELS, S_OK,         true,  24, 20, 0xFF},
    CBuildCase{"Bits32",                  EBuilder::Pcm,   48000,   2, 32,  0, 0x3,          S_OK,         true,  32, 32, 0x3},
    CBuildCase{"Bits3",                   EBuilder::Pcm,   48000,   2,  3,  0, 0,            E_INVALIDARG},
    CBuildCase{"Bits33",                  EBuilder::Pcm,   48000,   2, 33,  0, 0,            E_INVALIDARG},
    CBuildCase{"BitsNoRate",              EBuilder::Pcm,   0,       2, 16,  0, 0,            E_INVALIDARG},
    CBuildCase{"Bits33Channels",          EBuilder::Pcm,   48000,  33, 16,  0, 0,            E_INVALIDARG}),
    [](const auto& info) { return std::string(info.param.pszName); });
// clang-format on

TEST_F(CTaskMemoryTest, BuilderWithoutMemoryLeavesTheTypeUntouched)
{
    CMType mt;
    ASSERT_EQ(CMTHelp::MTCreatePCMEx(mt, 48000, 2, 16, 16, 0), S_OK);
    const AM_MEDIA_TYPE before = mt;
    Spy().FailAllocation(1);
    EXPECT_EQ(CMTHelp::MTCreatePCM(mt, 96000, 6, 24, ALL_CHANNELS), E_OUTOFMEMORY);
    EXPECT_EQ(std::memcmp(&mt, &before, sizeof(before)), 0);
}

// A sound block of either kind, then one field spoiled.
struct CWaveCase
{
    const char* pszName;
    bool bExtensible;
    void (*pfnSpoil)(WAVEFORMATEXTENSIBLE&);
    HRESULT hr;
};

WAVEFORMATEXTENSIBLE SoundBlock(bool bExtensible)
{
    CMType mt;
    if (bExtensible)
        CMTHelp::MTCreatePCMEx(mt, 48000, 6, 24, 20, ALL_CHANNELS);
    else
        CMTHelp::MTCreatePCMEx(mt, 48000, 2, 16, 16, 0);
    WAVEFORMATEXTENSIBLE wfe = {};
    std::memcpy(&wfe, mt.pbFormat, mt.cbFormat);
    return wfe;
}

class WaveFormatCheck : public testing::TestWithParam<CWaveCase>
{
};

TEST_P(WaveFormatCheck, Decides)
{
    WAVEFORMATEXTENSIBLE wfe = SoundBlock(GetParam().bExtensible);
    GetParam().pfnSpoil(wfe);
    EXPECT_EQ(MTCheckWaveFormat(&wfe.Format), GetParam().hr);
}

using W = WAVEFORMATEXTENSIBLE;
// clang-format off
INSTANTIATE_TEST_SUITE_P(Blocks, WaveFormatCheck, testing::Values(
    CWaveCase{"Plain",                false, [](W&) {}, S_OK},
    CWaveCase{"Extensible",           true,  [](W&) {}, S_OK},
    CWaveCase{"FloatTag",             false, [](W& w) { w.Format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT; }, VFW_E_INVALIDMEDIATYPE},
    CWaveCase{"NoChannels",           false, [](W& w) { w.Format.nChannels = 0; }, VFW_E_INVALIDMEDIATYPE},
    CWaveCase{"NoRate",               false, [](W& w) { w.Format.nSamplesPerSec = 0; }, VFW_E_INVALIDMEDIATYPE},
    CWaveCase{"NoByteRate",           false, [](W& w) { w.Format.nAvgBytesPerSec = 0; }, VFW_E_INVALIDMEDIATYPE},
    CWaveCase{"NoBlockAlign",         false, [](W& w) { w.Format.nBlockAlign = 0; }, VFW_E_INVALIDMEDIATYPE},
    CWaveCase{"NoBits",               false, [](W& w) { w.Format.wBitsPerSample = 0; }, E_INVALIDARG},
    CWaveCase{"Bits12",               false, [](W& w) { w.Format.wBitsPerSample = 12; }, E_INVALIDARG},
    CWaveCase{"BlockAlignTooSmall",   false, [](W& w) { w.Format.nBlockAlign = 3; w.Format.nAvgBytesPerSec = 48000 * 3; }, VFW_E_INVALIDMEDIATYPE},
    CWaveCase{"BlockAlignLarger",     false, [](W& w) { w.Format.nBlockAlign = 8; w.Format.nAvgBytesPerSec = 48000 * 8; }, S_OK},
    CWaveCase{"ByteRateDisagrees",    false, [](W& w) { w.Format.nAvgBytesPerSec += 1; }, VFW_E_INVALIDMEDIATYPE},
    // 0x40000001 x 4 wraps around 32 bits to 4.
    CWaveCase{"ByteRateWrapped",      false, [](W& w) { w.Format.nSamplesPerSec = 0x40000001; w.Format.nAvgBytesPerSec = 4; }, VFW_E_INVALIDMEDIATYPE},
    CWaveCase{"NoValidBits",          true,  [](W& w) { w.Samples.wValidBitsPerSample = 0; }, VFW_E_INVALIDMEDIATYPE},
    CWaveCase{"ValidBitsAboveContainer", true, [](W& w) { w.Samples.wValidBitsPerSample = 25; }, VFW_E_INVALIDMEDIATYPE},
    CWaveCase{"ValidBitsFull",        true,  [](W& w) { w.Samples.wValidBitsPerSample = 24; }, S_OK},
    CWaveCase{"MaskAndSubFormatIgnored", true, [](W& w) { w.dwChannelMask = 0; w.SubFormat = GUID_NULL; }, S_OK},
    // The extensible fields are only there when cbSize claims them.
    CWaveCase{"ExtensibleWithoutFields", true, [](W& w) { w.Format.cbSize = 0; }, VFW_E_INVALIDMEDIATYPE}),
    [](const auto& info) { return std::string(info.param.pszName); });
// clang-format on

TEST(WaveFormatCheck, NullBlock)
{
    EXPECT_EQ(MTCheckWaveFormat(nullptr), E_POINTER);
    EXPECT_EQ(MTCheckAudio(nullptr, MT_ANY_FORMAT_TAG), E_POINTER);
}

// A sound PCM type of either kind, then the record spoiled, checked for a wanted tag.
struct CAudioCase
{
    const char* pszName;
    bool bExtensible;
    WORD wWanted;
    void (*pfnSpoil)(CMType&);
    HRESULT hr;
};

WAVEFORMATEX& Block(CMType& mt)
{
    return *reinterpret_cast<WAVEFORMATEX*>(mt.pbFormat);
}

class AudioCheck : public testing::TestWithParam<CAudioCase>
{
};

TEST_P(AudioCheck, Decides)
{
    const CAudioCase& c = GetParam();
    CMType mt;
    ASSERT_EQ(c.bExtensible ? CMTHelp::MTCreatePCMEx(mt, 48000, 6, 24, 20, ALL_CHANNELS)
                            : CMTHelp::MTCreatePCMEx(mt, 48000, 2, 16, 16, 0),
              S_OK);
    c.pfnSpoil(mt);
    EXPECT_EQ(MTCheckAudio(&mt, c.wWanted), c.hr);
}

const WORD ANY = MT_ANY_FORMAT_TAG;
const WORD PCM = WAVE_FORMAT_PCM;
const WORD EXT = WAVE_FORMAT_EXTENSIBLE;
const BYTE kOneByte[1] = {1};
// clang-format off
INSTANTIATE_TEST_SUITE_P(Types, AudioCheck, testing::Values(
    CAudioCase{"PlainAnyTag",        false, ANY, [](CMType&) {}, S_OK},
    CAudioCase{"ExtensibleAnyTag",   true,  ANY, [](CMType&) {}, S_OK},
    CAudioCase{"PlainWanted",        false, PCM, [](CMType&) {}, S_OK},
    CAudioCase{"ExtensibleWanted",   true,  EXT, [](CMType&) {}, S_OK},
    CAudioCase{"ExtensibleNotPlain", true,  PCM, [](CMType&) {}, VFW_E_INVALIDMEDIATYPE},
    CAudioCase{"WantedFloat",        false, WAVE_FORMAT_IEEE_FLOAT, [](CMType&) {}, VFW_E_INVALIDMEDIATYPE},
    CAudioCase{"Video",              false, ANY, [](CMType& mt) { mt.majortype = MEDIATYPE_Video; }, VFW_E_INVALIDMEDIATYPE},
    CAudioCase{"NoSubtype",          false, ANY, [](CMType& mt) { mt.subtype = GUID_NULL; }, VFW_E_INVALIDSUBTYPE},
    CAudioCase{"OtherFormatType",    false, ANY, [](CMType& mt) { mt.formattype = FORMAT_VideoInfo; }, VFW_E_INVALIDMEDIATYPE},
    CAudioCase{"NoBlock",            false, ANY, [](CMType& mt) { mt.Set(&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM, &FORMAT_WaveFormatEx, 0, nullptr); }, VFW_E_INVALIDMEDIATYPE},
    CAudioCase{"BlockSizeZero",      false, ANY, [](CMType& mt) { mt.cbFormat = 0; }, VFW_E_INVALIDMEDIATYPE},
    CAudioCase{"ShortPcmBlock",      false, ANY, [](CMType& mt) { mt.cbFormat = 16; }, VFW_E_INVALIDMEDIATYPE},
    CAudioCase{"ShortExtensible",    true,  ANY, [](CMType& mt) { mt.cbFormat = 39; }, VFW_E_INVALIDMEDIATYPE},
    CAudioCase{"InconsistentBlock",  false, ANY, [](CMType& mt) { Block(mt).nAvgBytesPerSec = 1; }, VFW_E_INVALIDMEDIATYPE},
    CAudioCase{"BlockOf12Bits",      false, ANY, [](CMType& mt) { Block(mt).wBitsPerSample = 12; }, E_INVALIDARG},
    CAudioCase{"OtherSubtypeSameTag", false, PCM, [](CMType& mt) { mt.subtype = MEDIASUBTYPE_IEEE_FLOAT; }, S_OK},
    CAudioCase{"OtherSubtypeAnyTag", false, ANY, [](CMType& mt) { mt.subtype = MEDIASUBTYPE_IEEE_FLOAT; Block(mt).nChannels = 0; }, S_OK},
    CAudioCase{"OtherSubtypeOtherTag", false, WAVE_FORMAT_IEEE_FLOAT, [](CMType& mt) { mt.subtype = MEDIASUBTYPE_IEEE_FLOAT; }, VFW_E_INVALIDSUBTYPE},
    // Too short to hold even a tag.
    CAudioCase{"OtherSubtypeOneByte", false, ANY, [](CMType& mt) { mt.Set(&MEDIATYPE_Audio, &MEDIASUBTYPE_IEEE_FLOAT, &FORMAT_WaveFormatEx, 1, kOneByte); }, VFW_E_INVALIDMEDIATYPE}),
    [](const auto& info) { return std::string(info.param.pszName); });
// clang-format on
}
