// WAV files of integer PCM: the RIFF layout and a writer that fills the data chunk as the
// samples come and completes the file only when all of them are in.
#pragma once
#include <windows.h>
#include <mmreg.h>

#include <string>
#include <vector>

#include "render/ReplaceFile.h"

// The header before cbData bytes of samples: "RIFF", a 16-byte "fmt " chunk for plain PCM or
// the 40-byte extensible one (valid bits, channel mask, subformat), the "data" chunk header.
// E_INVALIDARG when the sizes do not fit the file's 32-bit fields (see WavMaxData).
HRESULT WavHeader(const WAVEFORMATEX* pWF, ULONGLONG cbData, std::vector<BYTE>& header);
// The most sample bytes a WAV file of this format holds.
ULONGLONG WavMaxData(const WAVEFORMATEX* pWF);

class CWavWriter
{
public:
    // The temporary file beside pszPath; nothing is written yet.
    HRESULT Create(LPCWSTR pszPath);
    // The format of the samples that follow; WAVE_FORMAT_PCM or WAVE_FORMAT_EXTENSIBLE.
    HRESULT Begin(const WAVEFORMATEX* pWF);
    HRESULT Write(const BYTE* pData, DWORD cb);
    // The header with the final sizes, then the file under its name.
    HRESULT Finish();
    // Without Finish the temporary file is deleted here.
    void Abandon() { m_file.Abandon(); }

    const std::wstring& Path() const { return m_file.Target(); }
    ULONGLONG DataBytes() const { return m_cbData; }
    ULONGLONG FileBytes() const { return m_cbHeader + m_cbData + (m_cbData & 1); }

private:
    CReplaceFile m_file;
    WAVEFORMATEXTENSIBLE m_wfx = {};
    ULONGLONG m_cbData = 0;
    ULONGLONG m_cbHeader = 0;
};
