// Whether the system's default audio output is still there. The platform's audio renderer
// goes on taking samples on its own clock when the sound server behind it goes away, so a
// play watches the device itself: a client of the default endpoint of its own, opened once and
// never started, which the platform invalidates with the device.
#pragma once
#include <windows.h>
#include <audioclient.h>

#include "support/ComPtr.h"

class CSoundDeviceWatch
{
public:
    // Opens the shared-mode client; the failure of the step that failed when there is no
    // device to open.
    HRESULT Open();
    // S_OK while the device is there.
    HRESULT Check();

private:
    CComPtr<IAudioClient> m_spClient;
};
