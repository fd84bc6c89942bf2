// A tone filter object of the module's own code for the benchmarks: set to a format, channel c
// at nFreq + 10 c Hz, or every channel at a constant level when nFreq is 0.
#pragma once
#include <windows.h>

#include "filter/AudioSource.h"
#include "support/ComPtr.h"

namespace bench
{
inline HRESULT NewToneFilter(int nBits, int nChannels, int nRate, int nFreq, CComPtr<IBaseFilter>& spFilter)
{
    HRESULT hr = ComCreateReferencedInterface<CAudioSource>(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&spFilter));
    CComQIPtr<ICRVTonewell> spTone(spFilter);
    if (SUCCEEDED(hr))
        hr = spTone->SetParameters(nBits, nChannels, 0, nRate);
    for (int c = 0; c < nChannels && SUCCEEDED(hr); ++c)
        hr = spTone->SetFrequency(c, nFreq == 0 ? 0 : nFreq + 10 * c);
    return hr;
}

inline CAudioSource& Concrete(IBaseFilter* pFilter)
{
    return *static_cast<CAudioSource*>(static_cast<IBaseFilterImpl<CAudioSource>*>(pFilter));
}
}
