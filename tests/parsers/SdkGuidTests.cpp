// Every entry of the platform name table that carries a platform identifier's name holds
// the value that the SDK headers define under that name. The values are taken from the
// headers themselves (initguid), not from the import libraries, some of which differ.
#include <initguid.h>

#include <gtest/gtest.h>

#include "diagnostics/GuidNames.h"

#include <dshow.h>
#include <activscp.h>
#include <ddraw.h>
#include <docobj.h>
#include <exdisp.h>
#include <ks.h>
#include <ksmedia.h>
#include <mshtml.h>
#include <objsafe.h>
#include <ocidl.h>
#include <servprov.h>

#include <string.h>

namespace
{
struct SdkName
{
    const GUID* pGuid;
    const wchar_t* pszName;
};

#define SDK(name) SdkName{&name, L## #name}
#define IID(name) SdkName{&IID_##name, L## #name}

// clang-format off
const SdkName kSdkNames[] = {
    SDK(GUID_NULL), IID(IAMBufferNegotiation), IID(IAMDeviceRemoval), IID(IAMFilterMiscFlags), IID(IAMLatency),
    IID(IAMLine21Decoder), IID(IAMOpenProgress), IID(IAMPushSource), IID(IAMStreamConfig), IID(IBaseFilter),
    IID(IBasicAudio), IID(IBasicVideo), IID(IBasicVideo2), IID(IDvdControl), IID(IDvdControl2), IID(IDvdGraphBuilder),
    IID(IDvdInfo), IID(IDvdInfo2), IID(IDvdState), IID(IEnumFilters), IID(IEnumMediaTypes), IID(IEnumPins),
    IID(IFileSinkFilter), IID(IFileSourceFilter), IID(IFilterGraph), IID(IFilterGraph2), IID(IGraphBuilder),
    IID(IIPDVDec), IID(IKsPin), IID(IKsPropertySet), IID(IMediaControl), IID(IMediaEvent), IID(IMediaEventEx),
    IID(IMediaFilter), IID(IMediaPosition), IID(IMediaSample), IID(IMediaSample2), IID(IMediaSeeking),
    IID(IMemAllocator), IID(IMemInputPin), IID(IMixerPinConfig), IID(IMixerPinConfig2), IID(IOverlay), IID(IPin),
    IID(IQualityControl), IID(IReferenceClock), IID(IVideoWindow), IID(IAdviseSink), IID(IAdviseSinkEx),
    IID(IBindHost), IID(IClientSecurity), IID(IConnectionPointContainer), IID(IDirectDraw3), IID(IDirectDrawSurface),
    IID(IDispatch), IID(IObjectWithSite), IID(IOleClientSite), IID(IOleControl), IID(IOleControlSite),
    IID(IOleInPlaceFrame), IID(IOleInPlaceObject), IID(IOleInPlaceObjectWindowless), IID(IOleInPlaceSite),
    IID(IOleInPlaceSiteEx), IID(IOleInPlaceSiteWindowless), IID(IOleInPlaceUIWindow), IID(IOleObject),
    IID(IOleWindow), IID(IPersistPropertyBag), IID(IPersistPropertyBag2), IID(IPersistStream),
    IID(IPersistStreamInit), IID(IPersistStorage), IID(IPropertyNotifySink), IID(IQuickActivate),
    IID(IRunnableObject), IID(IServiceProvider), IID(ISpecifyPropertyPages), IID(IViewObject), IID(IViewObjectEx),
    IID(IActiveScript), IID(IHTMLDocument2), IID(IHTMLLocation), IID(IHTMLWindow2), IID(IObjectSafety),
    IID(IOleCommandTarget), IID(IWebBrowserApp), IID(IWebBrowser2), SDK(MEDIATYPE_AnalogAudio),
    SDK(MEDIATYPE_AnalogVideo), SDK(MEDIATYPE_Video), SDK(MEDIATYPE_Audio), SDK(MEDIATYPE_Stream),
    SDK(MEDIATYPE_DVD_ENCRYPTED_PACK), SDK(MEDIATYPE_DVD_NAVIGATION), SDK(MEDIATYPE_MPEG2_PES),
    SDK(MEDIATYPE_MPEG2_PACK), SDK(MEDIATYPE_AUXLine21Data), SDK(MEDIATYPE_File), SDK(MEDIATYPE_Interleaved),
    SDK(MEDIATYPE_LMRT), SDK(MEDIATYPE_MPEG1SystemStream), SDK(MEDIATYPE_Midi), SDK(MEDIATYPE_ScriptCommand),
    SDK(MEDIATYPE_Text), SDK(MEDIATYPE_Timecode), SDK(MEDIATYPE_URL_STREAM), SDK(MEDIATYPE_VBI),
    SDK(MEDIASUBTYPE_PCM), SDK(MEDIASUBTYPE_WAVE), SDK(MEDIASUBTYPE_DOLBY_AC3), SDK(MEDIASUBTYPE_DOLBY_AC3_SPDIF),
    SDK(MEDIASUBTYPE_RAW_SPORT), SDK(MEDIASUBTYPE_SPDIF_TAG_241h), SDK(MEDIASUBTYPE_RGB1), SDK(MEDIASUBTYPE_RGB4),
    SDK(MEDIASUBTYPE_RGB8), SDK(MEDIASUBTYPE_RGB555), SDK(MEDIASUBTYPE_RGB565), SDK(MEDIASUBTYPE_RGB24),
    SDK(MEDIASUBTYPE_RGB32), SDK(MEDIASUBTYPE_ARGB32), SDK(MEDIASUBTYPE_A2B10G10R10), SDK(MEDIASUBTYPE_A2R10G10B10),
    SDK(MEDIASUBTYPE_CLPL), SDK(MEDIASUBTYPE_YUYV), SDK(MEDIASUBTYPE_IYUV), SDK(MEDIASUBTYPE_YVU9),
    SDK(MEDIASUBTYPE_Y411), SDK(MEDIASUBTYPE_Y41P), SDK(MEDIASUBTYPE_YUY2), SDK(MEDIASUBTYPE_YVYU),
    SDK(MEDIASUBTYPE_UYVY), SDK(MEDIASUBTYPE_Y211), SDK(MEDIASUBTYPE_YV12), SDK(MEDIASUBTYPE_CLJR),
    SDK(MEDIASUBTYPE_IF09), SDK(MEDIASUBTYPE_CPLA), SDK(MEDIASUBTYPE_MPEG1System), SDK(MEDIASUBTYPE_MPEG1Audio),
    SDK(MEDIASUBTYPE_MPEG1AudioPayload), SDK(MEDIASUBTYPE_MPEG1Packet), SDK(MEDIASUBTYPE_MPEG1Payload),
    SDK(MEDIASUBTYPE_MPEG1Video), SDK(MEDIASUBTYPE_MPEG1VideoCD), SDK(MEDIASUBTYPE_MPEG2_PROGRAM),
    SDK(MEDIASUBTYPE_MPEG2_TRANSPORT), SDK(MEDIASUBTYPE_MPEG2_AUDIO), SDK(MEDIASUBTYPE_MPEG2_VIDEO),
    SDK(MEDIASUBTYPE_DVD_SUBPICTURE), SDK(MEDIASUBTYPE_DVD_LPCM_AUDIO), SDK(MEDIASUBTYPE_DVD_NAVIGATION_DSI),
    SDK(MEDIASUBTYPE_DVD_NAVIGATION_PCI), SDK(MEDIASUBTYPE_DVD_NAVIGATION_PROVIDER), SDK(KSDATAFORMAT_SUBTYPE_RAW8),
    SDK(KSDATAFORMAT_SUBTYPE_CC), SDK(KSDATAFORMAT_SUBTYPE_NABTS), SDK(MEDIASUBTYPE_TELETEXT),
    SDK(MEDIASUBTYPE_Line21_BytePair), SDK(MEDIASUBTYPE_Line21_GOPPacket), SDK(MEDIASUBTYPE_Line21_VBIRawData),
    SDK(MEDIASUBTYPE_QTJpeg), SDK(MEDIASUBTYPE_QTMovie), SDK(MEDIASUBTYPE_QTRle), SDK(MEDIASUBTYPE_QTRpza),
    SDK(MEDIASUBTYPE_QTSmc), SDK(MEDIASUBTYPE_DssAudio), SDK(MEDIASUBTYPE_DssVideo), SDK(MEDIASUBTYPE_VPVBI),
    SDK(MEDIASUBTYPE_VPVideo), SDK(MEDIASUBTYPE_Overlay), SDK(MEDIASUBTYPE_Avi), SDK(MEDIASUBTYPE_AIFF),
    SDK(MEDIASUBTYPE_Asf), SDK(MEDIASUBTYPE_AU), SDK(MEDIASUBTYPE_None), SDK(FORMAT_VideoInfo),
    SDK(FORMAT_VideoInfo2), SDK(FORMAT_WaveFormatEx), SDK(FORMAT_MPEGStreams), SDK(FORMAT_MPEGVideo),
    SDK(FORMAT_MPEG2Audio), SDK(FORMAT_MPEG2Video), SDK(FORMAT_AnalogVideo), SDK(FORMAT_DVD_LPCMAudio),
    SDK(FORMAT_DolbyAC3), SDK(FORMAT_DvInfo), SDK(FORMAT_None), SDK(KSDATAFORMAT_SPECIFIER_VBI),
    SDK(PROPSETID_VIDCAP_VIDEOCOMPRESSION), SDK(AM_KSPROPSETID_AC3), SDK(AM_KSPROPSETID_DvdSubPic),
    SDK(AM_KSPROPSETID_CopyProt), SDK(AM_KSPROPSETID_TSRateChange), SDK(AM_KSPROPSETID_DVD_RateChange),
    SDK(AM_KSPROPSETID_DvdKaraoke), SDK(AM_KSPROPSETID_FrameStep), SDK(AM_KSPROPSETID_MPEG4_MediaType_Attributes),
    SDK(TIME_FORMAT_FRAME), SDK(TIME_FORMAT_BYTE), SDK(TIME_FORMAT_SAMPLE), SDK(TIME_FORMAT_FIELD),
    SDK(TIME_FORMAT_MEDIA_TIME), SDK(AMPROPSETID_Pin), SDK(PIN_CATEGORY_ANALOGVIDEOIN), SDK(PIN_CATEGORY_CAPTURE),
    SDK(PIN_CATEGORY_CC), SDK(PIN_CATEGORY_EDS), SDK(PIN_CATEGORY_NABTS), SDK(PIN_CATEGORY_PREVIEW),
    SDK(PIN_CATEGORY_STILL), SDK(PIN_CATEGORY_TELETEXT), SDK(PIN_CATEGORY_TIMECODE), SDK(PIN_CATEGORY_VBI),
    SDK(PIN_CATEGORY_VIDEOPORT), SDK(PIN_CATEGORY_VIDEOPORT_VBI),
};
// clang-format on

TEST(PlatformGuidTable, NamedIdentifiersCarryTheSdkValues)
{
    for (const SdkName& sdk : kSdkNames)
    {
        const GUID_NAME* pEntry = nullptr;
        for (UINT i = 0; i < g_cPlatformGuidNames && pEntry == nullptr; ++i)
            if (wcscmp(g_aPlatformGuidNames[i].pszName, sdk.pszName) == 0)
                pEntry = &g_aPlatformGuidNames[i];
        if (pEntry == nullptr)
        {
            ADD_FAILURE() << "no entry named " << testing::PrintToString(std::wstring(sdk.pszName));
            continue;
        }
        EXPECT_TRUE(pEntry->guid == *sdk.pGuid) << testing::PrintToString(std::wstring(sdk.pszName));
    }
}
}
