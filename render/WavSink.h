// The Sample Grabber's callback: on the streaming thread, it writes each sample's frames
// into the WAV file until the requested count is in (the last buffer is cut), then signals
// the waiting thread. Later samples, which arrive until the graph stops, are ignored.
#pragma once
#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include "render/WavFile.h"
#include "support/ComBase.h"

class CWavSink : public CComObjectRootEx<CComMultiThreadModel>, public ISampleGrabberCB
{
public:
    BEGIN_COM_MAP(CWavSink)
        COM_INTERFACE_ENTRY(ISampleGrabberCB)
    END_COM_MAP()

    // hDone is set once llFrames frames are written or writing failed.
    CWavSink(CWavWriter& writer, ULONGLONG llFrames, WORD nBlockAlign, HANDLE hDone);

    STDMETHOD(SampleCB)(double dblTime, IMediaSample* pSample) override;
    STDMETHOD(BufferCB)(double, BYTE*, LONG) override { return E_NOTIMPL; }

    ULONGLONG Frames();
    // The failure that ended the writing; S_OK while none.
    HRESULT Result();

private:
    HRESULT Take(IMediaSample* pSample);

    CWavWriter& m_writer;
    const ULONGLONG m_llTarget;
    const WORD m_nBlockAlign;
    const HANDLE m_hDone;
    ULONGLONG m_llFrames = 0;
    HRESULT m_hr = S_OK;
    bool m_bDone = false;
};
