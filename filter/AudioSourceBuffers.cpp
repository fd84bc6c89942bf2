// The output pin's buffers: the allocator request of 8 buffers of 40 ms, and the count and
// length a host suggests instead through IAMBufferNegotiation (capture tools let their users
// choose latency that way).
#include <climits>

#include "filter/AudioSource.h"
#include "filter/AudioSourceOut.h"

namespace
{
const LONG kDefaultBuffers = 8;
const ULONGLONG kDefaultMs = 40;
// Bounds of a suggestion: a count beyond this would only hold memory, and alignment or
// prefix beyond this is no buffer layout a PCM peer needs.
const LONG kMaxBuffers = 64;
const LONG kMaxAlignOrPrefix = 65536;

// A suggested length lies within 1 ms .. 1 s of audio in whole frames; 1 ms at 44100 Hz is
// the 44 frames that a host working out a millisecond's bytes arrives at.
ULONGLONG MinFrames(const WAVEFORMATEX& wf)
{
    const ULONGLONG n = ULONGLONG(wf.nSamplesPerSec) / 1000;
    return n > 0 ? n : 1;
}

ULONGLONG MaxFrames(const WAVEFORMATEX& wf)
{
    return wf.nSamplesPerSec > 0 ? wf.nSamplesPerSec : 1;
}

// cb bytes to the nearest whole frame.
ULONGLONG RoundedFrames(LONG cb, WORD cbFrame)
{
    return (ULONGLONG(cb) + cbFrame / 2) / cbFrame;
}

// Whole frames as a buffer length, never past what a LONG holds.
LONG FramesToBytes(ULONGLONG nFrames, WORD cbFrame)
{
    const ULONGLONG nMost = ULONGLONG(LONG_MAX) / cbFrame;
    return LONG((nFrames < nMost ? nFrames : nMost) * cbFrame);
}
}

void CAudioSourceOut::AllocatorRequest(ALLOCATOR_PROPERTIES* pProps)
{
    CComLockGuard<CAudioSourceOut> lock(this);
    const WAVEFORMATEX* pWF = m_mt.GetWaveFormat();
    DS_ASSERT(pWF != NULL);
    pProps->cBuffers = m_propsSuggested.cBuffers > 0 ? m_propsSuggested.cBuffers : kDefaultBuffers;
    pProps->cbAlign = m_propsSuggested.cbAlign > 0 ? m_propsSuggested.cbAlign : 1;
    pProps->cbPrefix = m_propsSuggested.cbPrefix > 0 ? m_propsSuggested.cbPrefix : 0;
    if (pWF == nullptr || pWF->nBlockAlign == 0)
    {
        pProps->cbBuffer = 0;
        return;
    }
    if (m_propsSuggested.cbBuffer >= 0)
    {
        // Suggested for the type of its day: whole frames of the type connecting now, within
        // its 1 ms .. 1 s.
        ULONGLONG nFrames = RoundedFrames(m_propsSuggested.cbBuffer, pWF->nBlockAlign);
        if (nFrames < MinFrames(*pWF))
            nFrames = MinFrames(*pWF);
        if (nFrames > MaxFrames(*pWF))
            nFrames = MaxFrames(*pWF);
        pProps->cbBuffer = FramesToBytes(nFrames, pWF->nBlockAlign);
        return;
    }
    // 40 ms of audio, computed wide so that no byte rate can wrap it, and never less than
    // one frame: a buffer that holds no frame could never be filled.
    ULONGLONG ullBytes = ULONGLONG(pWF->nAvgBytesPerSec) * kDefaultMs / 1000;
    if (ullBytes < pWF->nBlockAlign)
        ullBytes = pWF->nBlockAlign;
    pProps->cbBuffer = ullBytes > LONG_MAX ? LONG_MAX : LONG(ullBytes);
}

DWORD CAudioSourceOut::BufferMs(DWORD dwMost)
{
    CComLockGuard<CAudioSourceOut> lock(this);
    const WAVEFORMATEX* pWF = m_mt.GetWaveFormat();
    if (pWF == nullptr || pWF->nAvgBytesPerSec == 0 || m_Props.cbBuffer <= 0)
        return dwMost;
    const ULONGLONG ullMs = ULONGLONG(m_Props.cbBuffer) * 1000 / pWF->nAvgBytesPerSec;
    return ullMs < 1 ? 1 : ullMs < dwMost ? DWORD(ullMs) : dwMost;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSourceOut::SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* pprop)
{
    DebugTrace(atlTraceCOM, 2, L"%s IAMBufferNegotiation::SuggestAllocatorProperties()\n", ObjectName());
    DS_ASSERT(pprop != NULL);
    if (pprop == nullptr)
        return E_POINTER;
    CComLockGuard<CAudioSourceOut> lock(this);
    // The agreement runs once per connection: a suggestion now would never be used.
    if (IsConnected())
        return VFW_E_ALREADY_CONNECTED;
    const WAVEFORMATEX* pWF = m_mt.GetWaveFormat();
    DS_ASSERT(pWF != NULL);
    if (pWF == nullptr || pWF->nBlockAlign == 0)
        return E_UNEXPECTED;
    ALLOCATOR_PROPERTIES props = *pprop;
    if (props.cBuffers == 0 || props.cBuffers > kMaxBuffers)
        return E_INVALIDARG;
    if (props.cbAlign > kMaxAlignOrPrefix || (props.cbAlign > 0 && (props.cbAlign & (props.cbAlign - 1)) != 0))
        return E_INVALIDARG;
    if (props.cbPrefix > kMaxAlignOrPrefix)
        return E_INVALIDARG;
    if (props.cbBuffer >= 0)
    {
        const ULONGLONG nFrames = RoundedFrames(props.cbBuffer, pWF->nBlockAlign);
        if (nFrames < MinFrames(*pWF) || nFrames > MaxFrames(*pWF))
            return E_INVALIDARG;
        props.cbBuffer = FramesToBytes(nFrames, pWF->nBlockAlign);
    }
    m_propsSuggested = props;
    DebugTrace(atlTraceGeneral, 8, L"%s IAMBufferNegotiation::SuggestAllocatorProperties(): %li buffers of %li bytes\n",
               ObjectName(), props.cBuffers, props.cbBuffer);
    return S_OK;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CAudioSourceOut::GetAllocatorProperties(ALLOCATOR_PROPERTIES* pprop)
{
    DebugTrace(atlTraceCOM, 2, L"%s IAMBufferNegotiation::GetAllocatorProperties()\n", ObjectName());
    DS_ASSERT(pprop != NULL);
    if (pprop == nullptr)
        return E_POINTER;
    CComLockGuard<CAudioSourceOut> lock(this);
    if (!IsConnected() || !m_spAllocOut)
        return VFW_E_NOT_CONNECTED;
    *pprop = m_Props;
    return S_OK;
}
