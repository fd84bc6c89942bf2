// Dumps of media types and format blocks, and of raw memory.
#include "diagnostics/DSDumps.h"
#include "diagnostics/DSTrace.h"
#include "diagnostics/DumpPrefix.h"
#include "diagnostics/TextConverters.h"
#include "diagnostics/TextFormat.h"

#include <dvdmedia.h>
#include <stddef.h>

namespace
{
const WCHAR kHexDigits[] = L"0123456789ABCDEF";

// The smallest block that the video dump reads for each video format type; 0 for others.
ULONG VideoFormatMinimum(REFGUID formatType)
{
    if (formatType == FORMAT_VideoInfo || formatType == FORMAT_MPEGVideo)
        return sizeof(VIDEOINFOHEADER);
    if (formatType == FORMAT_VideoInfo2)
        return sizeof(VIDEOINFOHEADER2);
    if (formatType == FORMAT_MPEG2Video)
        return offsetof(MPEG2VIDEOINFO, dwSequenceHeader) + sizeof(DWORD);
    return 0;
}

void TraceVideoRects(DWORD dwCategory, UINT nLevel, LPCWSTR p, const RECT& rcSrc, const RECT& rcTarget, DWORD dwBitRate,
                     DWORD dwBitErrorRate, REFERENCE_TIME tAvg)
{
    WCHAR szAvg[REFTIME_STR_CCH];
    DebugTrace(dwCategory, nLevel, L"%ssrc=[%i,%i:%i,%i], targ=[%i,%i:%i,%i], rate=%u, errRate=%u, AvgT=%s\n", p,
               int(rcSrc.left), int(rcSrc.top), int(rcSrc.right), int(rcSrc.bottom), int(rcTarget.left),
               int(rcTarget.top), int(rcTarget.right), int(rcTarget.bottom), UINT(dwBitRate), UINT(dwBitErrorRate),
               RefTime2Str(tAvg, szAvg));
}

void DumpVideoInfo2(DWORD dwCategory, UINT nLevel, const AM_MEDIA_TYPE* pmt, LPCWSTR p)
{
    const VIDEOINFOHEADER2* pvi = reinterpret_cast<const VIDEOINFOHEADER2*>(pmt->pbFormat);
    TraceVideoRects(dwCategory, nLevel, p, pvi->rcSource, pvi->rcTarget, pvi->dwBitRate, pvi->dwBitErrorRate,
                    pvi->AvgTimePerFrame);
    DebugTrace(dwCategory, nLevel, L"%silace=0x%X%s, copProt=0x%X, aspect={%i,%i}, ctrl=0x%X\n", p,
               UINT(pvi->dwInterlaceFlags), (pvi->dwInterlaceFlags & 1) ? L" (INTERLACED)" : L"",
               UINT(pvi->dwCopyProtectFlags), int(pvi->dwPictAspectRatioX), int(pvi->dwPictAspectRatioY),
               UINT(pvi->dwControlFlags));
    if (pvi->dwControlFlags != 0)
        DebugTrace(dwCategory, nLevel, L"### %sControl flags are set !!!\n", p);
    if (pmt->formattype != FORMAT_MPEG2Video)
        return;
    const MPEG2VIDEOINFO* pm2 = reinterpret_cast<const MPEG2VIDEOINFO*>(pmt->pbFormat);
    DebugTrace(dwCategory, nLevel, L"%sstartCode=0x%X, cbHeader=%u, profile=%u, level=%u, flags=0x%X, seqHeader[0]=0x%X\n",
               p, UINT(pm2->dwStartTimeCode), UINT(pm2->cbSequenceHeader), UINT(pm2->dwProfile), UINT(pm2->dwLevel),
               UINT(pm2->dwFlags), UINT(pm2->dwSequenceHeader[0]));
    // The sequence header as far as the block really holds it.
    ULONG cbAvailable = pmt->cbFormat - ULONG(offsetof(MPEG2VIDEOINFO, dwSequenceHeader));
    ULONG cbHeader = pm2->cbSequenceHeader < cbAvailable ? pm2->cbSequenceHeader : cbAvailable;
    if (cbHeader <= ULONG(DUMP_MAX_EXTRA_BYTES))
        Debug_Memory(dwCategory, nLevel, int(cbHeader), pm2->dwSequenceHeader, L"dwSequenceHeader[] bytes: ");
    else
        Debug_Memory(dwCategory, nLevel, DUMP_MAX_EXTRA_BYTES, pm2->dwSequenceHeader,
                     L"dwSequenceHeader[] first 1024 bytes: ");
}

void DumpFormatBlock(DWORD dwCategory, UINT nLevel, const AM_MEDIA_TYPE* pmt, LPCWSTR p)
{
    const GUID& ft = pmt->formattype;
    ULONG cbNeeded = VideoFormatMinimum(ft);
    if (cbNeeded == 0 && ft == FORMAT_WaveFormatEx)
        cbNeeded = sizeof(PCMWAVEFORMAT);
    else if (cbNeeded == 0 && ft == FORMAT_DvInfo)
        cbNeeded = sizeof(DVINFO);
    if (cbNeeded == 0)
        return;
    if (pmt->cbFormat < cbNeeded)
    {
        DebugTrace(dwCategory, nLevel, L"###Err### Debug_MediaType(): format block too small, cbFormat=%i, needed=%i\n",
                   int(pmt->cbFormat), int(cbNeeded));
        return;
    }
    if (ft == FORMAT_WaveFormatEx)
    {
        Debug_WaveFormatEx(dwCategory, nLevel, reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat), p, pmt->cbFormat);
        return;
    }
    if (ft == FORMAT_DvInfo)
    {
        Debug_DvInfo(dwCategory, nLevel, reinterpret_cast<const DVINFO*>(pmt->pbFormat), p);
        return;
    }
    const BITMAPINFOHEADER* pbmi;
    if (ft == FORMAT_VideoInfo || ft == FORMAT_MPEGVideo)
    {
        const VIDEOINFOHEADER* pvi = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat);
        TraceVideoRects(dwCategory, nLevel, p, pvi->rcSource, pvi->rcTarget, pvi->dwBitRate, pvi->dwBitErrorRate,
                        pvi->AvgTimePerFrame);
        pbmi = &pvi->bmiHeader;
    }
    else
    {
        DumpVideoInfo2(dwCategory, nLevel, pmt, p);
        pbmi = &reinterpret_cast<const VIDEOINFOHEADER2*>(pmt->pbFormat)->bmiHeader;
    }
    Debug_BitmapInfoHeader(dwCategory, nLevel, pbmi, p);
}
}

void Debug_MediaType(DWORD dwCategory, UINT nLevel, const AM_MEDIA_TYPE* pmt, LPCWSTR pszPrefix)
{
    if (!DumpEnabled(dwCategory, nLevel))
        return;
    if (pmt == nullptr)
    {
        DebugTrace(dwCategory, nLevel, L"###Err### Debug_MediaType(): Empty media type pointer\n");
        return;
    }
    CDumpPrefix p(pszPrefix, L"MT: ");
    WCHAR szType[GUID_NAME_CCH];
    ParseMediaType(pmt, szType, GUID_NAME_CCH, false);
    DebugTrace(dwCategory, nLevel, L"%s%s, size=%i, cbForm=%i, fix:%s, compr:%s\n", p.Text(), szType,
               int(pmt->lSampleSize), int(pmt->cbFormat), pmt->bFixedSizeSamples ? L"Y" : L"N",
               pmt->bTemporalCompression ? L"Y" : L"N");
    if (pmt->pUnk != nullptr)
        DebugTrace(dwCategory, nLevel, L"%s@@@@ pUnk = 0x%p\n", p.Text(), pmt->pUnk);
    if (pmt->cbFormat != 0 && pmt->pbFormat != nullptr)
        DumpFormatBlock(dwCategory, nLevel, pmt, p.Text());
    else if (pmt->cbFormat != 0 || pmt->pbFormat != nullptr)
        DebugTrace(dwCategory, nLevel, L"###Err### Debug_MediaType(): bad format parameters, cbFormat=%i, pbFormat=0x%X\n",
                   int(pmt->cbFormat), UINT(UINT_PTR(pmt->pbFormat)));
}

void Debug_WaveFormatEx(DWORD dwCategory, UINT nLevel, const WAVEFORMATEX* pwfx, LPCWSTR pszPrefix, ULONG cbFormat)
{
    if (!DumpEnabled(dwCategory, nLevel))
        return;
    if (pwfx == nullptr)
    {
        DebugTrace(dwCategory, nLevel, L"###Err### Debug_WaveFormatEx() : Empty WAVEFORMATEX pointer\n");
        return;
    }
    CDumpPrefix p(pszPrefix);
    // A block without room for cbSize (PCMWAVEFORMAT) has no extra bytes.
    ULONG cbExtra = cbFormat >= sizeof(WAVEFORMATEX) ? pwfx->cbSize : 0;
    if (cbFormat != DUMP_SIZE_UNKNOWN && cbExtra > cbFormat - sizeof(WAVEFORMATEX))
        cbExtra = cbFormat - ULONG(sizeof(WAVEFORMATEX));
    DebugTrace(dwCategory, nLevel, L"%sWAVEFORMATEX: Tag=0x%X, chan=%i, nPerSec=%i, nAvg=%i, align=%i, bits=%i  size=%i\n",
               p.Text(), UINT(pwfx->wFormatTag), int(pwfx->nChannels), int(pwfx->nSamplesPerSec),
               int(pwfx->nAvgBytesPerSec), int(pwfx->nBlockAlign), int(pwfx->wBitsPerSample),
               cbFormat >= sizeof(WAVEFORMATEX) ? int(pwfx->cbSize) : 0);
    const int cbExtensible = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    if (cbExtra == cbExtensible)
    {
        const WAVEFORMATEXTENSIBLE* pwfe = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pwfx);
        WCHAR szSub[GUID_NAME_CCH];
        DebugTrace(dwCategory, nLevel, L"%sWAVEFORMATEXTENSIBLE: ValidBitsPerSample=%i, ChannelMask=0x%X, SubFormat=%s\n",
                   p.Text(), int(pwfe->Samples.wValidBitsPerSample), UINT(pwfe->dwChannelMask),
                   Guid2Name(pwfe->SubFormat, szSub, GUID_NAME_CCH));
    }
    else if (cbExtra != 0)
    {
        const BYTE* pbExtra = reinterpret_cast<const BYTE*>(pwfx) + sizeof(WAVEFORMATEX);
        if (cbExtra <= ULONG(DUMP_MAX_EXTRA_BYTES))
            Debug_Memory(dwCategory, nLevel, int(cbExtra), pbExtra, L"WAVEFORMATEX extra bytes: ");
        else
            Debug_Memory(dwCategory, nLevel, DUMP_MAX_EXTRA_BYTES, pbExtra, L"WAVEFORMATEX first 1024 extra bytes: ");
    }
}

void Debug_BitmapInfoHeader(DWORD dwCategory, UINT nLevel, const BITMAPINFOHEADER* pbmi, LPCWSTR pszPrefix)
{
    if (!DumpEnabled(dwCategory, nLevel))
        return;
    CDumpPrefix p(pszPrefix);
    if (pbmi == nullptr)
    {
        DebugTrace(dwCategory, nLevel, L"###Err### %sDebug_BitmapInfoHeader(): Empty header pointer\n", p.Text());
        return;
    }
    WCHAR szCompression[FOURCC_NAME_CCH];
    DebugTrace(dwCategory, nLevel, L"%sBITMAPINFOHEADER: size=%i, w=%i, h=%i, planes=%i, bits=%i, compress=%s, sizeImg=%i\n",
               p.Text(), int(pbmi->biSize), int(pbmi->biWidth), int(pbmi->biHeight), int(pbmi->biPlanes),
               int(pbmi->biBitCount), Fourcc2Name(pbmi->biCompression, szCompression), int(pbmi->biSizeImage));
    WCHAR szMore[128] = L"";
    int cch = 0;
    if (pbmi->biXPelsPerMeter != 0 || pbmi->biYPelsPerMeter != 0)
        cch = FormatText(szMore, ARRAYSIZE(szMore), L"XPels=%i, YPels=%i", int(pbmi->biXPelsPerMeter),
                         int(pbmi->biYPelsPerMeter));
    if (pbmi->biClrUsed != 0 || pbmi->biClrImportant != 0)
        FormatText(szMore + cch, ARRAYSIZE(szMore) - cch, cch != 0 ? L", ClrUsed=%u, ClrImp=%u" : L"ClrUsed=%u, ClrImp=%u",
                   UINT(pbmi->biClrUsed), UINT(pbmi->biClrImportant));
    if (szMore[0] != 0)
        DebugTrace(dwCategory, nLevel, L"%sBITMAPINFOHEADER: %s\n", p.Text(), szMore);
}

void Debug_DvInfo(DWORD dwCategory, UINT nLevel, const DVINFO* pDvInfo, LPCWSTR pszPrefix)
{
    if (!DumpEnabled(dwCategory, nLevel))
        return;
    CDumpPrefix p(pszPrefix);
    if (pDvInfo == nullptr)
    {
        DebugTrace(dwCategory, nLevel, L"###Err### %sDebug_DvInfo(): Empty DVINFO pointer\n", p.Text());
        return;
    }
    DebugTrace(dwCategory, nLevel,
               L"%sDVINFO: \n\t  dwDVAAuxSrc =%08X, dwDVAAuxCtl =%08X (1st 5/6 DIF seq)\n\t  dwDVAAuxSrc1=%08X, "
               L"dwDVAAuxCtl1=%08X (2nd 5/6 DIF seq)\n\t  dwDVVAuxSrc =%08X, dwDVVAuxCtl =%08X (Video)\n\t  "
               L"dwDVReserved[0]=%08X, dwDVReserved[1]=%08X\n",
               p.Text(), UINT(pDvInfo->dwDVAAuxSrc), UINT(pDvInfo->dwDVAAuxCtl), UINT(pDvInfo->dwDVAAuxSrc1),
               UINT(pDvInfo->dwDVAAuxCtl1), UINT(pDvInfo->dwDVVAuxSrc), UINT(pDvInfo->dwDVVAuxCtl),
               UINT(pDvInfo->dwDVReserved[0]), UINT(pDvInfo->dwDVReserved[1]));
}

bool Debug_Memory(DWORD dwCategory, UINT nLevel, int cb, const void* pv, LPCWSTR pszPrefix)
{
    if (!DumpEnabled(dwCategory, nLevel))
        return true;
    if (pszPrefix != nullptr && pszPrefix[0] != 0)
        DebugTrace(dwCategory, nLevel, L"%s Trace from address 0x%p (%i bytes)\n", pszPrefix, pv, cb);
    else
        DebugTrace(dwCategory, nLevel, L"Trace from address 0x%p (%i bytes)\n", pv, cb);
    if (pv == nullptr || cb <= 0)
        return false;
    const BYTE* pb = static_cast<const BYTE*>(pv);
    for (int nRun = 0; nRun < cb; nRun += 16)
    {
        int cbRun = cb - nRun < 16 ? cb - nRun : 16;
        WCHAR szLine[72];
        int cch = 0;
        for (int i = 0; i < 16; ++i)
        {
            if (i < cbRun)
            {
                szLine[cch++] = kHexDigits[pb[nRun + i] >> 4];
                szLine[cch++] = kHexDigits[pb[nRun + i] & 0xF];
            }
            else
            {
                szLine[cch++] = L' ';
                szLine[cch++] = L' ';
            }
            szLine[cch++] = L' ';
            if (i == 3 || i == 11)
                szLine[cch++] = L' ';
            else if (i == 7)
            {
                szLine[cch++] = L'|';
                szLine[cch++] = L' ';
            }
        }
        szLine[cch++] = L' ';
        szLine[cch++] = L' ';
        for (int i = 0; i < cbRun; ++i)
        {
            BYTE b = pb[nRun + i];
            szLine[cch++] = (b >= 0x20 && b <= 0x7F) ? WCHAR(b) : L'.';
        }
        szLine[cch] = 0;
        DebugTrace(dwCategory, nLevel, L"0x%p: %s\n", pb + nRun, szLine);
    }
    DebugTrace(dwCategory, nLevel, L"\n");
    return true;
}
