// Media types, format blocks and memory as trace lines.
#include "DumpFixture.h"
#include "TestObject.h"
#include "diagnostics/DSParsers.h"
#include "framework/DSTypes.h"

#include <dvdmedia.h>
#include <ks.h>
#include <ksmedia.h>

#include <functional>

namespace
{
// A format block of any size with a WAVEFORMATEX at its start.
CMType WaveType(ULONG cbFormat, WORD cbSize)
{
    CMType mt(&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM);
    std::vector<BYTE> block(cbFormat);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = BYTE(i);
    WAVEFORMATEX wfx = {WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, cbSize};
    memcpy(block.data(), &wfx, cbFormat < sizeof(wfx) ? cbFormat : sizeof(wfx));
    mt.Set(&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM, &FORMAT_WaveFormatEx, cbFormat, block.data());
    return mt;
}

using MediaTypeDump = DumpTest;

TEST_F(MediaTypeDump, PcmTypeWithThePrefixOfANamedObject)
{
    CMType mt;
    ASSERT_EQ(CMTHelp::MTCreatePCM(mt, 48000, 2, 16, 0xFFFFFFFF), S_OK);
    WCHAR szPrefix[NAME_PREFIX_CCH];
    Debug_MediaType(atlTraceGeneral, 8, &mt, MakeNamePrefix(L"[Tonewell Out]", szPrefix, NAME_PREFIX_CCH));
    EXPECT_EQ(Lines(), (TextLines{L"[Tonewell Out]:  ( MEDIATYPE_Audio / MEDIASUBTYPE_PCM / FORMAT_WaveFormatEx ), size=4, "
                              L"cbForm=18, fix:Y, compr:N\n",
                              L"[Tonewell Out]:   WAVEFORMATEX: Tag=0x1, chan=2, nPerSec=48000, nAvg=192000, align=4, "
                              L"bits=16  size=0\n"}));
}

TEST_F(MediaTypeDump, ExtensibleBlockWithoutPrefixShowsItsSubformatAndNoMemory)
{
    CMType mt;
    ASSERT_EQ(CMTHelp::MTCreatePCMEx(mt, 44100, 6, 32, 24, 0x3F), S_OK);
    mt.bTemporalCompression = TRUE;
    Debug_MediaType(atlTraceGeneral, 2, &mt);
    EXPECT_EQ(Lines(2), (TextLines{L"MT: ( MEDIATYPE_Audio / MEDIASUBTYPE_PCM / FORMAT_WaveFormatEx ), size=24, cbForm=40, "
                               L"fix:Y, compr:Y\n",
                               L"MT:  WAVEFORMATEX: Tag=0xFFFE, chan=6, nPerSec=44100, nAvg=1058400, align=24, bits=32  "
                               L"size=22\n",
                               L"MT:  WAVEFORMATEXTENSIBLE: ValidBitsPerSample=24, ChannelMask=0x3F, "
                               L"SubFormat=MEDIASUBTYPE_PCM\n"}));
}

TEST_F(MediaTypeDump, LongExtraBytesAreDumpedUpTo1024)
{
    CMType mt = WaveType(sizeof(WAVEFORMATEX) + 2000, 2000);
    Debug_MediaType(atlTraceGeneral, 8, &mt);
    TextLines lines = Lines();
    ASSERT_EQ(lines.size(), 2u + 1u + 64u + 1u);
    EXPECT_EQ(lines[2], L"WAVEFORMATEX first 1024 extra bytes:  Trace from address 0x" +
                            Address(mt.pbFormat + sizeof(WAVEFORMATEX)) + L" (1024 bytes)\n");
    EXPECT_EQ(lines[3].substr(0, 25), L"0x" + Address(mt.pbFormat + 18) + L": 12 13");
    EXPECT_EQ(lines[66].substr(0, 18), L"0x" + Address(mt.pbFormat + 18 + 1008));
    EXPECT_EQ(lines[67], L"\n");
}

TEST_F(MediaTypeDump, ExtraBytesAreReadOnlyWithinTheBlock)
{
    // cbSize claims 2000 bytes, the block holds 20 of them.
    CMType mt = WaveType(sizeof(WAVEFORMATEX) + 20, 2000);
    Debug_MediaType(atlTraceGeneral, 8, &mt);
    TextLines lines = Lines();
    ASSERT_EQ(lines.size(), 2u + 1u + 2u + 1u);
    EXPECT_EQ(lines[1].substr(lines[1].size() - 10), L"size=2000\n");
    EXPECT_EQ(lines[2], L"WAVEFORMATEX extra bytes:  Trace from address 0x" + Address(mt.pbFormat + 18) + L" (20 bytes)\n");

    // A PCMWAVEFORMAT block has no cbSize at all.
    m_sink.Clear();
    CMType pcm = WaveType(sizeof(PCMWAVEFORMAT), 0);
    Debug_MediaType(atlTraceGeneral, 8, &pcm);
    lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], L"MT:  WAVEFORMATEX: Tag=0x1, chan=2, nPerSec=48000, nAvg=192000, align=4, bits=16  size=0\n");
}

TEST_F(MediaTypeDump, FormatBlocksTooSmallForTheirTypeAreNotRead)
{
    struct Case
    {
        const GUID* pFormat;
        ULONG cbNeeded;
    } cases[] = {{&FORMAT_WaveFormatEx, sizeof(PCMWAVEFORMAT)},
                 {&FORMAT_VideoInfo, sizeof(VIDEOINFOHEADER)},
                 {&FORMAT_VideoInfo2, sizeof(VIDEOINFOHEADER2)},
                 {&FORMAT_MPEG2Video, sizeof(MPEG2VIDEOINFO)},
                 {&FORMAT_DvInfo, sizeof(DVINFO)}};
    for (const Case& c : cases)
    {
        m_sink.Clear();
        CMType mt;
        ASSERT_EQ(mt.Set(&MEDIATYPE_Video, &GUID_NULL, c.pFormat, c.cbNeeded - 1, nullptr), S_OK);
        Debug_MediaType(atlTraceGeneral, 8, &mt);
        TextLines lines = Lines();
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1], L"###Err### Debug_MediaType(): format block too small, cbFormat=" +
                                std::to_wstring(c.cbNeeded - 1) + L", needed=" + std::to_wstring(c.cbNeeded) + L"\n");
    }
}

TEST_F(MediaTypeDump, VideoInfoGivesRectanglesAndBitmapHeader)
{
    VIDEOINFOHEADER vih = {};
    vih.rcSource = {0, 0, 320, 240};
    vih.rcTarget = {1, 2, 3, 4};
    vih.dwBitRate = 12345;
    vih.dwBitErrorRate = 7;
    vih.AvgTimePerFrame = 400000;
    vih.bmiHeader = {sizeof(BITMAPINFOHEADER), 320, -240, 1, 32, BI_RGB, 307200, 0, 0, 0, 0};
    CMType mt;
    ASSERT_EQ(mt.Set(&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32, &FORMAT_VideoInfo, sizeof(vih), &vih), S_OK);
    mt.lSampleSize = 307200;
    Debug_MediaType(atlTraceGeneral, 8, &mt, L"[Probe]");
    EXPECT_EQ(Lines(), (TextLines{L"[Probe] ( MEDIATYPE_Video / MEDIASUBTYPE_RGB32 / FORMAT_VideoInfo ), size=307200, "
                              L"cbForm=88, fix:Y, compr:N\n",
                              L"[Probe] src=[0,0:320,240], targ=[1,2:3,4], rate=12345, errRate=7, AvgT=0.040\n",
                              L"[Probe]  BITMAPINFOHEADER: size=40, w=320, h=-240, planes=1, bits=32, compress=BI_RGB, "
                              L"sizeImg=307200\n"}));
}

TEST_F(MediaTypeDump, Mpeg2VideoGivesInterlaceControlAndSequenceHeader)
{
    struct
    {
        MPEG2VIDEOINFO info;
        BYTE abMore[4];
    } block = {};
    MPEG2VIDEOINFO& m2 = block.info;
    m2.hdr.rcSource = {0, 0, 720, 576};
    m2.hdr.AvgTimePerFrame = 400000;
    m2.hdr.dwInterlaceFlags = 0x21;
    m2.hdr.dwCopyProtectFlags = 0;
    m2.hdr.dwPictAspectRatioX = 16;
    m2.hdr.dwPictAspectRatioY = 9;
    m2.hdr.dwControlFlags = 0x80;
    m2.hdr.bmiHeader = {sizeof(BITMAPINFOHEADER), 720, 576, 0, 0, 0x3247504D, 0, 2835, 2835, 0, 0};
    m2.dwStartTimeCode = 0x1234;
    m2.cbSequenceHeader = 8;
    m2.dwProfile = 4;
    m2.dwLevel = 8;
    m2.dwFlags = 0x2;
    const BYTE abSeq[8] = {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x33};
    memcpy(m2.dwSequenceHeader, abSeq, sizeof(abSeq));
    CMType mt;
    ULONG cb = offsetof(MPEG2VIDEOINFO, dwSequenceHeader) + 8;
    ASSERT_EQ(mt.Set(&MEDIATYPE_Video, &MEDIASUBTYPE_MPEG2_VIDEO, &FORMAT_MPEG2Video, cb, &block), S_OK);
    Debug_MediaType(atlTraceGeneral, 8, &mt, L"[Probe]");
    const BYTE* pSeq = mt.pbFormat + offsetof(MPEG2VIDEOINFO, dwSequenceHeader);
    EXPECT_EQ(Lines(),
              (TextLines{L"[Probe] ( MEDIATYPE_Video / MEDIASUBTYPE_MPEG2_VIDEO / FORMAT_MPEG2Video ), size=1, cbForm=140, "
                     L"fix:Y, compr:N\n",
                     L"[Probe] src=[0,0:720,576], targ=[0,0:0,0], rate=0, errRate=0, AvgT=0.040\n",
                     L"[Probe] ilace=0x21 (INTERLACED), copProt=0x0, aspect={16,9}, ctrl=0x80\n",
                     L"### [Probe] Control flags are set !!!\n",
                     L"[Probe] startCode=0x1234, cbHeader=8, profile=4, level=8, flags=0x2, seqHeader[0]=0xB3010000\n",
                     L"dwSequenceHeader[] bytes:  Trace from address 0x" + Address(pSeq) + L" (8 bytes)\n",
                     L"0x" + Address(pSeq) + L": 00 00 01 B3  2D 02 40 33 |                            ....-.@3\n",
                     L"\n",
                     L"[Probe]  BITMAPINFOHEADER: size=40, w=720, h=576, planes=0, bits=0, compress=MPG2, sizeImg=0\n",
                     L"[Probe]  BITMAPINFOHEADER: XPels=2835, YPels=2835\n"}));
}

TEST_F(MediaTypeDump, OwnerReferenceAndInconsistentFormatFieldsAreReported)
{
    CMType mt(&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM);
    mt.cbFormat = 10;  // no block behind it
    IStream* pStream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &pStream), S_OK);
    mt.pUnk = pStream;
    Debug_MediaType(atlTraceGeneral, 8, &mt);
    mt.pUnk = nullptr;
    mt.cbFormat = 0;
    pStream->Release();
    EXPECT_EQ(Lines(), (TextLines{L"MT: ( MEDIATYPE_Audio / MEDIASUBTYPE_PCM / GUID_NULL ), size=1, cbForm=10, fix:Y, compr:N\n",
                              L"MT: @@@@ pUnk = 0x" + Address(pStream) + L"\n",
                              L"###Err### Debug_MediaType(): bad format parameters, cbFormat=10, pbFormat=0x0\n"}));
    m_sink.Clear();
    Debug_MediaType(atlTraceGeneral, 8, nullptr, L"[Probe]");
    EXPECT_EQ(Lines(), (TextLines{L"###Err### Debug_MediaType(): Empty media type pointer\n"}));
}

using BlockDump = DumpTest;

TEST_F(BlockDump, BitmapHeaderSecondLineOnlyWithResolutionOrColours)
{
    BITMAPINFOHEADER bmi = {sizeof(bmi), 16, 16, 1, 8, BI_RLE8, 256, 0, 0, 0, 0};
    Debug_BitmapInfoHeader(atlTraceGeneral, 8, &bmi, L"p");
    bmi.biClrUsed = 256;
    Debug_BitmapInfoHeader(atlTraceGeneral, 8, &bmi, L"p");
    bmi.biXPelsPerMeter = 100;
    bmi.biClrImportant = 3;
    bmi.biCompression = 0x32595559;
    Debug_BitmapInfoHeader(atlTraceGeneral, 8, &bmi);
    Debug_BitmapInfoHeader(atlTraceGeneral, 8, nullptr, L"p");
    EXPECT_EQ(Lines(), (TextLines{L"p BITMAPINFOHEADER: size=40, w=16, h=16, planes=1, bits=8, compress=BI_RLE8, sizeImg=256\n",
                              L"p BITMAPINFOHEADER: size=40, w=16, h=16, planes=1, bits=8, compress=BI_RLE8, sizeImg=256\n",
                              L"p BITMAPINFOHEADER: ClrUsed=256, ClrImp=0\n",
                              L"BITMAPINFOHEADER: size=40, w=16, h=16, planes=1, bits=8, compress=YUY2, sizeImg=256\n",
                              L"BITMAPINFOHEADER: XPels=100, YPels=0, ClrUsed=256, ClrImp=3\n",
                              L"###Err### p Debug_BitmapInfoHeader(): Empty header pointer\n"}));
}

// Inside a media-type dump the block gets the dump's prefix and one more blank.
TEST_F(BlockDump, DvInfoIsOneLineOfItsEightFields)
{
    DVINFO dv = {0x11, 0x22, 0x33, 0x44, 0xAABBCCDD, 0x66, {0x77, 0x88}};
    CMType mt;
    ASSERT_EQ(mt.Set(&MEDIATYPE_Interleaved, &GUID_NULL, &FORMAT_DvInfo, sizeof(dv), &dv), S_OK);
    Debug_MediaType(atlTraceGeneral, 8, &mt, L"dv");
    Debug_DvInfo(atlTraceGeneral, 8, nullptr, L"dv");
    TextLines lines = Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], L"dv  DVINFO: \n\t  dwDVAAuxSrc =00000011, dwDVAAuxCtl =00000022 (1st 5/6 DIF seq)\n\t  "
                        L"dwDVAAuxSrc1=00000033, dwDVAAuxCtl1=00000044 (2nd 5/6 DIF seq)\n\t  dwDVVAuxSrc =AABBCCDD, "
                        L"dwDVVAuxCtl =00000066 (Video)\n\t  dwDVReserved[0]=00000077, dwDVReserved[1]=00000088\n");
    EXPECT_EQ(lines[2], L"###Err### dv Debug_DvInfo(): Empty DVINFO pointer\n");
}

TEST_F(BlockDump, MemoryOfTwentyBytesGivesHeaderTwoRunsAndEmptyLine)
{
    BYTE ab[20];
    memcpy(ab, "ABCDEFGHIJKLMNOP", 16);
    ab[16] = 0x00;
    ab[17] = 0x1F;
    ab[18] = 0x7F;
    ab[19] = 0x80;
    EXPECT_TRUE(Debug_Memory(atlTraceGeneral, 8, 20, ab, L"[Probe]"));
    EXPECT_EQ(Lines(), (TextLines{L"[Probe] Trace from address 0x" + Address(ab) + L" (20 bytes)\n",
                              L"0x" + Address(ab) + L": 41 42 43 44  45 46 47 48 | 49 4A 4B 4C  4D 4E 4F 50   "
                                                    L"ABCDEFGHIJKLMNOP\n",
                              L"0x" + Address(ab + 16) + L": 00 1F 7F 80              |                            "
                                                         L"..\x7F.\n",
                              L"\n"}));
}

TEST_F(BlockDump, MemoryWithNothingToDumpWritesOnlyTheHeader)
{
    BYTE b = 0;
    EXPECT_FALSE(Debug_Memory(atlTraceGeneral, 8, 0, &b));
    EXPECT_FALSE(Debug_Memory(atlTraceGeneral, 8, 4, nullptr));
    EXPECT_TRUE(Debug_Memory(atlTraceGeneral, 9, 1, &b));
    EXPECT_EQ(Lines(), (TextLines{L"Trace from address 0x" + Address(&b) + L" (0 bytes)\n",
                              L"Trace from address 0x0000000000000000 (4 bytes)\n"}));
}

// Every dump stays silent above the trace limit and for category 0.
using Dumper = std::function<void(DWORD, UINT)>;

class SilentDump : public DumpTest, public ::testing::WithParamInterface<Dumper>
{
};

TEST_P(SilentDump, NothingAboveLevel8OrWithoutCategory)
{
    GetParam()(atlTraceGeneral, 9);
    GetParam()(0, 2);
    EXPECT_TRUE(m_sink.Events().empty());
    GetParam()(atlTraceCOM, 8);
    EXPECT_FALSE(m_sink.Events().empty());
}

INSTANTIATE_TEST_SUITE_P(
    AllDumps, SilentDump,
    ::testing::Values(Dumper([](DWORD c, UINT l) { Debug_MediaType(c, l, nullptr); }),
                      Dumper([](DWORD c, UINT l) { Debug_WaveFormatEx(c, l, nullptr); }),
                      Dumper([](DWORD c, UINT l) { Debug_BitmapInfoHeader(c, l, nullptr); }),
                      Dumper([](DWORD c, UINT l) { Debug_DvInfo(c, l, nullptr); }),
                      Dumper([](DWORD c, UINT l) { Debug_Memory(c, l, 0, nullptr); }),
                      Dumper([](DWORD c, UINT l) { Debug_Sample(c, l, nullptr); }),
                      Dumper([](DWORD c, UINT l) { Debug_SampleLag(c, l, nullptr, 0, nullptr); }),
                      Dumper([](DWORD c, UINT l) { Debug_Allocator(c, l, nullptr); }),
                      Dumper([](DWORD c, UINT l) { Debug_FilterFromPin(c, l, nullptr, nullptr); })));
}
