#include "render/Settings.h"

#include <string>
#include <vector>

#include "TonewellIdl.h"
#include "render/Buffers.h"
#include "render/ReplaceFile.h"
#include "support/ComBase.h"
#include "support/ComPtr.h"

namespace
{
// A saved settings block is a few hundred bytes; anything far larger is not one.
const DWORD kMaxSettingsFile = 1 << 20;

struct CFormatSettings
{
    int nValidBits, nChannels, nMask, nRate;
};

std::string FormatText(const CFormatSettings& f)
{
    char sz[160];
    snprintf(sz, sizeof(sz), "%d channels, %d bits, %d Hz, mask 0x%X", f.nChannels, f.nValidBits, f.nRate,
             unsigned(f.nMask));
    return sz;
}

// The filter's limits that a refused format breaks.
std::string FormatReasons(const CFormatSettings& f)
{
    std::string reasons;
    auto add = [&](const std::string& reason) { reasons += "\n  " + reason; };
    if (f.nValidBits < 8 || f.nValidBits > 32)
        add("--bits " + std::to_string(f.nValidBits) + " is outside 8..32");
    if (f.nChannels < 1 || f.nChannels > 32)
        add("--channels " + std::to_string(f.nChannels) + " is outside 1..32");
    if (f.nRate == 0)
        add("--rate must be above 0");
    if (reasons.empty())
    {
        // The format block's byte rate is a 32-bit field.
        const unsigned long long ullBytes =
            (unsigned long long)unsigned(f.nRate) * unsigned(f.nChannels) * unsigned((f.nValidBits + 7) / 8);
        if (ullBytes > 0xFFFFFFFFull)
            add("--rate " + std::to_string(f.nRate) + " makes more than 4 GiB per second in this format");
        else
            add("the filter gives no reason beyond its result");
    }
    return reasons;
}

ERenderExit SetFormat(ICRVTonewell* pTone, const COptions& opt, CFormatSettings& f)
{
    if (!opt.nChannels && !opt.nValidBits && !opt.nRate && !opt.dwMask)
        return eExit_OK;
    CFormatSettings req = f;
    req.nValidBits = opt.nValidBits.value_or(f.nValidBits);
    req.nRate = opt.nRate.value_or(f.nRate);
    req.nChannels = opt.nChannels.value_or(f.nChannels);
    // A mask set for another channel count would not fit the new one: back to one bit per channel.
    req.nMask = opt.dwMask ? int(*opt.dwMask) : req.nChannels == f.nChannels ? f.nMask : 0;
    HRESULT hr = pTone->SetParameters(req.nValidBits, req.nChannels, req.nMask, req.nRate);
    if (FAILED(hr))
    {
        SayError("the filter refused the format %s: %s%s", FormatText(req).c_str(), HResultText(hr).c_str(),
                 FormatReasons(req).c_str());
        return eExit_Refused;
    }
    f = req;
    return eExit_OK;
}

// Why a tone setting was refused, from the filter's limits.
std::string ToneReason(const CFormatSettings& f, int nChannel, int nFreq, bool bFreq, double dblDb)
{
    if (nChannel < 0 || nChannel >= f.nChannels)
        return "channel " + std::to_string(nChannel) + " does not exist: the format has " +
               std::to_string(f.nChannels) + (f.nChannels == 1 ? " channel" : " channels") + ", numbered from 0";
    if (bFreq && 2LL * nFreq >= f.nRate)
        return std::to_string(nFreq) + " Hz is not below half the rate (" + std::to_string(f.nRate) + " Hz / 2)";
    if (!bFreq && !(dblDb <= 0.0))
        return "levels are at most 0 dB (full scale)";
    return "the filter gives no reason beyond its result";
}

ERenderExit SetTone(ICRVTonewell* pTone, const CFormatSettings& f, int nChannel, const std::optional<int>& nFreq,
                    const std::optional<double>& dblDb)
{
    if (nFreq)
    {
        // The filter takes these but its synthesis cannot play them.
        if (*nFreq < -1)
        {
            SayError("there is no tone of %d Hz: use -1 for a square wave or 0 for a constant level", *nFreq);
            return eExit_Refused;
        }
        HRESULT hr = pTone->SetFrequency(nChannel, *nFreq);
        if (FAILED(hr))
        {
            SayError("the filter refused %d Hz on channel %d: %s\n  %s", *nFreq, nChannel, HResultText(hr).c_str(),
                     ToneReason(f, nChannel, *nFreq, true, 0).c_str());
            return eExit_Refused;
        }
    }
    if (dblDb)
    {
        HRESULT hr = pTone->SetAmplitude(nChannel, *dblDb);
        if (FAILED(hr))
        {
            SayError("the filter refused %g dB on channel %d: %s\n  %s", *dblDb, nChannel, HResultText(hr).c_str(),
                     ToneReason(f, nChannel, 0, false, *dblDb).c_str());
            return eExit_Refused;
        }
    }
    return eExit_OK;
}

HRESULT ReadWholeFile(const std::wstring& path, std::vector<BYTE>& data)
{
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return HResultFromLastError();
    LARGE_INTEGER liSize = {};
    HRESULT hr = S_OK;
    if (!GetFileSizeEx(hFile, &liSize))
        hr = HResultFromLastError();
    else if (liSize.QuadPart > kMaxSettingsFile)
        hr = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    else
    {
        data.resize(size_t(liSize.QuadPart));
        DWORD cbRead = 0;
        if (!data.empty() && !ReadFile(hFile, data.data(), DWORD(data.size()), &cbRead, nullptr))
            hr = HResultFromLastError();
        else
            data.resize(cbRead);
    }
    CloseHandle(hFile);
    return hr;
}
}

ERenderExit ApplyOptions(IBaseFilter* pFilter, const COptions& opt)
{
    CComQIPtr<ICRVTonewell> spTone(pFilter);
    if (!spTone)
    {
        SayError("the registered filter has no ICRVTonewell interface: it is not the Tonewell filter");
        return eExit_NotRegistered;
    }
    CFormatSettings f;
    HRESULT hr = spTone->GetParameters(&f.nValidBits, &f.nChannels, &f.nMask, &f.nRate);
    if (FAILED(hr))
    {
        SayError("the filter does not report its format: %s", HResultText(hr).c_str());
        return eExit_Refused;
    }
    ERenderExit eExit = SetFormat(spTone, opt, f);
    for (int c = 0; eExit == eExit_OK && c < f.nChannels && (opt.nFreq || opt.dblLevelDb); ++c)
        eExit = SetTone(spTone, f, c, opt.nFreq, opt.dblLevelDb);
    for (size_t i = 0; eExit == eExit_OK && i < opt.tones.size(); ++i)
        eExit = SetTone(spTone, f, opt.tones[i].nChannel, opt.tones[i].nFreq, opt.tones[i].dblLevelDb);
    // After the format: the length is whole frames of it.
    if (eExit == eExit_OK && opt.nBufferMs)
        eExit = SuggestBuffer(pFilter, *opt.nBufferMs);
    return eExit;
}

ERenderExit LoadSettings(IBaseFilter* pFilter, const std::wstring& path)
{
    std::vector<BYTE> data;
    HRESULT hr = ReadWholeFile(path, data);
    if (FAILED(hr))
    {
        SayError("cannot read the settings file %s: %s", Utf8(path).c_str(), HResultText(hr).c_str());
        return eExit_Output;
    }
    CComQIPtr<IPersistStream> spPersist(pFilter);
    CComPtr<IStream> spStream;
    hr = spPersist ? CreateStreamOnHGlobal(nullptr, TRUE, &spStream) : E_NOINTERFACE;
    ULONG cbWritten = 0;
    if (SUCCEEDED(hr) && !data.empty())
        hr = spStream->Write(data.data(), ULONG(data.size()), &cbWritten);
    const LARGE_INTEGER liZero = {};
    if (SUCCEEDED(hr))
        hr = spStream->Seek(liZero, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr))
    {
        SayError("cannot pass the settings file %s to the filter: %s", Utf8(path).c_str(), HResultText(hr).c_str());
        return eExit_Render;
    }
    hr = spPersist->Load(spStream);
    if (FAILED(hr))
    {
        SayError("the filter refused the settings in %s: %s\n"
                 "  The file is not one saved with --save, or its values are outside the filter's limits.",
                 Utf8(path).c_str(), HResultText(hr).c_str());
        return eExit_Refused;
    }
    return eExit_OK;
}

ERenderExit SaveSettings(IBaseFilter* pFilter, const std::wstring& path)
{
    CComQIPtr<IPersistStream> spPersist(pFilter);
    CComPtr<IStream> spStream;
    HRESULT hr = spPersist ? CreateStreamOnHGlobal(nullptr, TRUE, &spStream) : E_NOINTERFACE;
    if (SUCCEEDED(hr))
        hr = spPersist->Save(spStream, TRUE);
    HGLOBAL hGlobal = nullptr;
    STATSTG stat = {};
    if (SUCCEEDED(hr))
        hr = spStream->Stat(&stat, STATFLAG_NONAME);
    if (SUCCEEDED(hr))
        hr = GetHGlobalFromStream(spStream, &hGlobal);
    if (FAILED(hr))
    {
        SayError("the filter cannot save its settings: %s", HResultText(hr).c_str());
        return eExit_Render;
    }
    CReplaceFile file;
    hr = file.Create(path.c_str());
    if (SUCCEEDED(hr))
    {
        const void* pData = GlobalLock(hGlobal);
        hr = pData != nullptr ? file.Write(pData, DWORD(stat.cbSize.QuadPart)) : E_OUTOFMEMORY;
        GlobalUnlock(hGlobal);
    }
    if (SUCCEEDED(hr))
        hr = file.Commit();
    if (FAILED(hr))
    {
        SayError("cannot write the settings file %s: %s", Utf8(path).c_str(), HResultText(hr).c_str());
        return eExit_Output;
    }
    return eExit_OK;
}
