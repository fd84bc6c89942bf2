// Media types in one line: the three GUIDs, and with details the picture size of video
// formats, read only from a block large enough to hold it.
#include <gtest/gtest.h>

#include "GuardedBuffer.h"
#include "diagnostics/DSParsers.h"
#include "framework/DSTypes.h"

#include <dvdmedia.h>

namespace
{
std::wstring Parse(const AM_MEDIA_TYPE* pmt, bool bDetails, int nMax = 256)
{
    CGuardedBuffer buf(nMax);
    ParseMediaType(pmt, buf.Get(), nMax, bDetails);
    EXPECT_TRUE(buf.FenceIntact());
    return buf.Text();
}

// A video type of cbFormat bytes whose bitmap header, at byte nOffset, says w*h.
void MakeVideo(CMType& mt, const GUID& formatType, ULONG nOffset, LONG w, LONG h, ULONG cbFormat)
{
    ASSERT_EQ(mt.Set(&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32, &formatType, cbFormat, nullptr), S_OK);
    BITMAPINFOHEADER bmi = {};
    bmi.biSize = sizeof(bmi);
    bmi.biWidth = w;
    bmi.biHeight = h;
    ULONG cbCopy = cbFormat - nOffset < sizeof(bmi) ? cbFormat - nOffset : ULONG(sizeof(bmi));
    memcpy(mt.pbFormat + nOffset, &bmi, cbCopy);
}

TEST(MediaTypeText, AudioTypeNamesItsThreeGuids)
{
    CMType mt;
    ASSERT_EQ(CMTHelp::MTCreatePCM(mt, 48000, 2, 16, 0xFFFFFFFF), S_OK);
    EXPECT_EQ(Parse(&mt, false), L"( MEDIATYPE_Audio / MEDIASUBTYPE_PCM / FORMAT_WaveFormatEx )");
    EXPECT_EQ(Parse(&mt, true), L"( MEDIATYPE_Audio / MEDIASUBTYPE_PCM / FORMAT_WaveFormatEx )\r\n");
}

TEST(MediaTypeText, UnknownGuidsReadInRegistryForm)
{
    CMType mt(&MEDIATYPE_Stream, &GUID_NULL);
    mt.formattype = {0x0123ABCD, 0x4567, 0x89EF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
    EXPECT_EQ(Parse(&mt, false), L"( MEDIATYPE_Stream / GUID_NULL / {0123ABCD-4567-89EF-FEDC-BA9876543210} )");
}

TEST(MediaTypeText, DetailsGiveThePictureSizeOfEachVideoFormat)
{
    CMType mt;
    MakeVideo(mt, FORMAT_VideoInfo, 48, 320, 240, sizeof(VIDEOINFOHEADER));
    EXPECT_EQ(Parse(&mt, true), L"( MEDIATYPE_Video / MEDIASUBTYPE_RGB32 / FORMAT_VideoInfo ) 320*240\r\n");
    EXPECT_EQ(Parse(&mt, false), L"( MEDIATYPE_Video / MEDIASUBTYPE_RGB32 / FORMAT_VideoInfo )");
    MakeVideo(mt, FORMAT_VideoInfo2, 72, 640, -480, sizeof(VIDEOINFOHEADER2));
    EXPECT_EQ(Parse(&mt, true), L"( MEDIATYPE_Video / MEDIASUBTYPE_RGB32 / FORMAT_VideoInfo2 ) 640*-480\r\n");
    MakeVideo(mt, FORMAT_MPEGVideo, 48, 352, 288, sizeof(MPEG1VIDEOINFO));
    EXPECT_EQ(Parse(&mt, true), L"( MEDIATYPE_Video / MEDIASUBTYPE_RGB32 / FORMAT_MPEGVideo ) 352*288\r\n");
    MakeVideo(mt, FORMAT_MPEG2Video, 72, 720, 576, sizeof(MPEG2VIDEOINFO));
    EXPECT_EQ(Parse(&mt, true), L"( MEDIATYPE_Video / MEDIASUBTYPE_RGB32 / FORMAT_MPEG2Video ) 720*576\r\n");
}

TEST(MediaTypeText, BlockTooSmallForTheBitmapHeaderGivesNoSize)
{
    CMType mt;
    MakeVideo(mt, FORMAT_VideoInfo, 48, 320, 240, 48 + sizeof(BITMAPINFOHEADER) - 1);
    EXPECT_EQ(Parse(&mt, true), L"( MEDIATYPE_Video / MEDIASUBTYPE_RGB32 / FORMAT_VideoInfo )\r\n");
    MakeVideo(mt, FORMAT_VideoInfo2, 72, 320, 240, 72 + sizeof(BITMAPINFOHEADER) - 1);
    EXPECT_EQ(Parse(&mt, true), L"( MEDIATYPE_Video / MEDIASUBTYPE_RGB32 / FORMAT_VideoInfo2 )\r\n");
    MakeVideo(mt, FORMAT_VideoInfo, 48, 320, 240, 48 + sizeof(BITMAPINFOHEADER));
    EXPECT_EQ(Parse(&mt, true), L"( MEDIATYPE_Video / MEDIASUBTYPE_RGB32 / FORMAT_VideoInfo ) 320*240\r\n");
}

TEST(MediaTypeText, CutToTheMaximumLength)
{
    CMType mt;
    ASSERT_EQ(CMTHelp::MTCreatePCM(mt, 48000, 2, 16, 0xFFFFFFFF), S_OK);
    const std::wstring full = L"( MEDIATYPE_Audio / MEDIASUBTYPE_PCM / FORMAT_WaveFormatEx )\r\n";
    const int cch = int(full.size());
    EXPECT_EQ(Parse(&mt, true, cch + 1), full);
    EXPECT_EQ(Parse(&mt, true, cch), full.substr(0, cch - 1));
    EXPECT_EQ(Parse(nullptr, true, 64), L"Empty media type\n");
    EXPECT_EQ(Parse(nullptr, false, 17), L"Empty media type");
    EXPECT_EQ(Parse(nullptr, false, 1), L"");
    CGuardedBuffer untouched(8);
    ParseMediaType(&mt, untouched.Get(), 0, true);
    EXPECT_TRUE(untouched.Untouched());
}
}
