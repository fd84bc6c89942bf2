#include "render/WavFile.h"

#include <cstring>

namespace
{
const DWORD kPlainFmtBytes = 16;
const DWORD kExtensibleFmtBytes = 40;

DWORD FmtBytes(const WAVEFORMATEX* pWF)
{
    return pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE ? kExtensibleFmtBytes : kPlainFmtBytes;
}

// "WAVE", the fmt chunk and the data chunk's header: what the RIFF size counts besides the data.
DWORD RiffOverhead(const WAVEFORMATEX* pWF)
{
    return 4 + 8 + FmtBytes(pWF) + 8;
}

class CLittleEndian
{
public:
    explicit CLittleEndian(std::vector<BYTE>& out) : m_out(out) {}
    void Tag(const char* psz)
    {
        for (int i = 0; i < 4; ++i)
            m_out.push_back(BYTE(psz[i]));
    }
    void Word(WORD w) { Bytes(w, 2); }
    void DWord(DWORD dw) { Bytes(dw, 4); }
    void Guid(const GUID& guid)
    {
        DWord(guid.Data1);
        Word(guid.Data2);
        Word(guid.Data3);
        m_out.insert(m_out.end(), guid.Data4, guid.Data4 + 8);
    }

private:
    void Bytes(DWORD dw, int cb)
    {
        for (int i = 0; i < cb; ++i)
            m_out.push_back(BYTE(dw >> (8 * i)));
    }
    std::vector<BYTE>& m_out;
};
}

ULONGLONG WavMaxData(const WAVEFORMATEX* pWF)
{
    // The RIFF size counts the data and its pad byte; keep room for the pad.
    return 0xFFFFFFFFull - RiffOverhead(pWF) - 1;
}

HRESULT WavHeader(const WAVEFORMATEX* pWF, ULONGLONG cbData, std::vector<BYTE>& header)
{
    if (pWF == nullptr)
        return E_POINTER;
    if (pWF->wFormatTag != WAVE_FORMAT_PCM && pWF->wFormatTag != WAVE_FORMAT_EXTENSIBLE)
        return E_INVALIDARG;
    if (pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE && pWF->cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX))
        return E_INVALIDARG;
    if (cbData > WavMaxData(pWF))
        return E_INVALIDARG;
    const ULONGLONG cbPad = cbData & 1;
    header.clear();
    CLittleEndian out(header);
    out.Tag("RIFF");
    out.DWord(DWORD(RiffOverhead(pWF) + cbData + cbPad));
    out.Tag("WAVE");
    out.Tag("fmt ");
    out.DWord(FmtBytes(pWF));
    out.Word(pWF->wFormatTag);
    out.Word(pWF->nChannels);
    out.DWord(pWF->nSamplesPerSec);
    out.DWord(pWF->nAvgBytesPerSec);
    out.Word(pWF->nBlockAlign);
    out.Word(pWF->wBitsPerSample);
    if (pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE)
    {
        auto* pWfx = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pWF);
        out.Word(WORD(sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX)));
        out.Word(pWfx->Samples.wValidBitsPerSample);
        out.DWord(pWfx->dwChannelMask);
        out.Guid(pWfx->SubFormat);
    }
    out.Tag("data");
    out.DWord(DWORD(cbData));
    return S_OK;
}

HRESULT CWavWriter::Create(LPCWSTR pszPath)
{
    m_cbData = 0;
    return m_file.Create(pszPath);
}

HRESULT CWavWriter::Begin(const WAVEFORMATEX* pWF)
{
    if (pWF == nullptr)
        return E_POINTER;
    const size_t cb = pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX);
    memset(&m_wfx, 0, sizeof(m_wfx));
    memcpy(&m_wfx, pWF, cb);
    std::vector<BYTE> header;
    HRESULT hr = WavHeader(&m_wfx.Format, 0, header);
    m_cbHeader = header.size();
    return SUCCEEDED(hr) ? m_file.Write(header.data(), DWORD(header.size())) : hr;
}

HRESULT CWavWriter::Write(const BYTE* pData, DWORD cb)
{
    if (m_cbData + cb > WavMaxData(&m_wfx.Format))
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    HRESULT hr = m_file.Write(pData, cb);
    if (SUCCEEDED(hr))
        m_cbData += cb;
    return hr;
}

HRESULT CWavWriter::Finish()
{
    // A chunk of odd length is followed by a pad byte that its size does not count.
    if (m_cbData & 1)
    {
        const BYTE bPad = 0;
        HRESULT hr = m_file.Write(&bPad, 1);
        if (FAILED(hr))
            return hr;
    }
    std::vector<BYTE> header;
    HRESULT hr = WavHeader(&m_wfx.Format, m_cbData, header);
    if (SUCCEEDED(hr))
        hr = m_file.WriteAt(0, header.data(), DWORD(header.size()));
    if (SUCCEEDED(hr))
        hr = m_file.Commit();
    return hr;
}
