#include "render/SoundDevice.h"

#include <mmdeviceapi.h>

HRESULT CSoundDeviceWatch::Open()
{
    CComPtr<IMMDeviceEnumerator> spEnum;
    HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&spEnum));
    if (FAILED(hr))
        return hr;
    CComPtr<IMMDevice> spDevice;
    if (FAILED(hr = spEnum->GetDefaultAudioEndpoint(eRender, eConsole, &spDevice)))
        return hr;
    CComPtr<IAudioClient> spClient;
    if (FAILED(hr = spDevice->Activate(__uuidof(IAudioClient), CLSCTX_INPROC_SERVER, nullptr,
                                       reinterpret_cast<void**>(&spClient))))
        return hr;
    WAVEFORMATEX* pMix = nullptr;
    if (FAILED(hr = spClient->GetMixFormat(&pMix)))
        return hr;
    // Initialize is the step that reaches the sound server.
    const REFERENCE_TIME kBuffer = 1000000;  // 100 ms
    hr = spClient->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, kBuffer, 0, pMix, nullptr);
    CoTaskMemFree(pMix);
    if (SUCCEEDED(hr))
        m_spClient = spClient;
    return hr;
}

HRESULT CSoundDeviceWatch::Check()
{
    if (!m_spClient)
        return E_UNEXPECTED;
    UINT32 nPadding = 0;
    return m_spClient->GetCurrentPadding(&nPadding);
}
