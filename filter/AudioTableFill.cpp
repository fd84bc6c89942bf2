// A buffer out of the frame table: the format and every tone checked without a report (any
// doubt leaves the buffer to the per-channel path, which reports), the phases carried, one or
// two copies, then the square waves' columns and every channel's position as the
// per-channel path leaves them.
#include "filter/AudioSource.h"
#include "filter/DSAudio.h"

namespace
{
// The significant bits of a format the synthesis takes, or 0.
WORD TableValidBits(const WAVEFORMATEX* pWF, DWORD cbLen)
{
    const WORD wBits = pWF->wBitsPerSample;
    if (!(wBits == 8 || wBits == 16 || wBits == 24 || wBits == 32))
        return 0;
    if (pWF->nChannels == 0 || pWF->nChannels > TONE_SLOTS || pWF->nSamplesPerSec == 0 ||
        pWF->nBlockAlign != pWF->nChannels * wBits / 8 || cbLen == 0 || cbLen % pWF->nBlockAlign != 0)
        return 0;
    if (pWF->wFormatTag == WAVE_FORMAT_PCM)
        return wBits;
    if (pWF->wFormatTag != WAVE_FORMAT_EXTENSIBLE || pWF->cbSize < sizeof(WAVEFORMATEX) + sizeof(WORD))
        return 0;
    const WORD wValid = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pWF)->Samples.wValidBitsPerSample;
    return wValid <= wBits ? wValid : 0;
}
}

bool CAudioSource::FillFromTable(BYTE* pBuf, DWORD cbLen, const WAVEFORMATEX* pWF)
{
    const WORD wValidBits = TableValidBits(pWF, cbLen);
    if (wValidBits == 0)
        return false;
    const DWORD dwRate = pWF->nSamplesPerSec;
    const WORD nChannels = pWF->nChannels;
    int nFirstSine = -1;
    for (WORD c = 0; c < nChannels; ++c)
    {
        const DWORD dwFreq = DWORD(m_anFreq[c]);
        if (!(dwFreq == CAudioHelp::FREQ_SQUARE || CAudioHelp::BelowHalfRate(dwFreq, dwRate)) ||
            !(-1.0 <= m_adblLevel[c] && m_adblLevel[c] <= 1.0))
            return false;
        if (nFirstSine < 0 && dwFreq != CAudioHelp::FREQ_SQUARE && dwFreq != CAudioHelp::FREQ_CONSTANT)
            nFirstSine = c;
    }
    // Squares and constant levels alone are cheap on the per-channel path and need no table.
    if (nFirstSine < 0)
        return false;

    // Every tone is accepted: the per-channel path would carry every phase now too.
    for (WORD c = 0; c < nChannels; ++c)
    {
        CarryTone(c, dwRate);
        if (m_anFreqUsed[c] != CAudioHelp::FREQ_SQUARE)
            m_anPos[c] %= dwRate;
    }
    const DWORD dwFrame = m_anPos[nFirstSine];
    CFrameTable::CTones tones;
    tones.dwRate = dwRate;
    tones.nChannels = nChannels;
    tones.wBits = pWF->wBitsPerSample;
    tones.wValidBits = wValidBits;
    for (WORD c = 0; c < nChannels; ++c)
    {
        const DWORD dwFreq = m_anFreqUsed[c];
        const bool bSine = dwFreq != CAudioHelp::FREQ_SQUARE && dwFreq != CAudioHelp::FREQ_CONSTANT;
        tones.aChannel[c] = {dwFreq, bSine ? (m_anPos[c] + dwRate - dwFrame) % dwRate : 0,
                             dwFreq == CAudioHelp::FREQ_SQUARE ? 0.0 : m_adblLevel[c]};
    }
    const DWORD nFrames = cbLen / pWF->nBlockAlign;
    if (!m_frameTable.Use(tones, nFrames))
        return false;

    // The table stands for the channels' caches: they would only double the memory.
    for (CSineCache& cache : m_aSineCache)
        if (cache.Bytes() != 0)
            cache.Release();
    m_frameTable.Copy(pBuf, nFrames, dwFrame);
    const unsigned cbSample = pWF->wBitsPerSample / 8;
    for (WORD c = 0; c < nChannels; ++c)
    {
        if (m_anFreqUsed[c] == CAudioHelp::FREQ_SQUARE)
        {
            const HRESULT hr = CAudioHelp::FillBuffer(pBuf + size_t(c) * cbSample, cbLen, pWF, CAudioHelp::FREQ_SQUARE,
                                                      &m_anPos[c], m_adblLevel[c]);
            DS_ASSERT(hr == S_OK);
        }
        else if (m_anFreqUsed[c] == CAudioHelp::FREQ_CONSTANT)
            m_anPos[c] = 0;
        else
            m_anPos[c] = DWORD((ULONGLONG(m_anPos[c]) + nFrames) % dwRate);
    }
    return true;
}
