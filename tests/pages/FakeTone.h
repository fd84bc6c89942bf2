// A stand-in for the filter behind ICRVTonewell: it keeps what it is told like the filter,
// and refuses a format change with a chosen code, as a filter whose downstream pin refuses
// the new type does.
#pragma once
#include <windows.h>

#include "TonewellIdl.h"

namespace pagetest
{
class CFakeTone : public ICRVTonewell
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ICRVTonewell)
        {
            *ppv = static_cast<ICRVTonewell*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&m_nRef)); }
    STDMETHODIMP_(ULONG) Release() override { return ULONG(InterlockedDecrement(&m_nRef)); }

    STDMETHODIMP SetParameters(int nBits, int nChannels, int nMask, int nRate) override
    {
        ++m_nSetParameters;
        if (FAILED(m_hrRefuse))
            return m_hrRefuse;
        m_nBits = nBits;
        m_nChannels = nChannels;
        m_nMask = nMask;
        m_nRate = nRate;
        return S_OK;
    }
    STDMETHODIMP GetParameters(int* pnBits, int* pnChannels, int* pnMask, int* pnRate) override
    {
        *pnBits = m_nBits;
        *pnChannels = m_nChannels;
        *pnMask = m_nMask;
        *pnRate = m_nRate;
        return S_OK;
    }
    STDMETHODIMP SetFrequency(int nChannel, int nFreq) override
    {
        if (nChannel < 0 || nChannel >= m_nChannels || 2 * nFreq >= m_nRate)
            return E_INVALIDARG;
        m_anFreq[nChannel] = nFreq;
        return S_OK;
    }
    STDMETHODIMP GetFrequency(int nChannel, int* pnFreq) override
    {
        if (nChannel < 0 || nChannel >= m_nChannels)
            return E_INVALIDARG;
        *pnFreq = m_anFreq[nChannel];
        return S_OK;
    }
    STDMETHODIMP SetAmplitude(int nChannel, double dAmplitude) override
    {
        if (nChannel < 0 || nChannel >= m_nChannels || dAmplitude > 0)
            return E_INVALIDARG;
        m_adAmplitude[nChannel] = dAmplitude;
        return S_OK;
    }
    STDMETHODIMP GetAmplitude(int nChannel, double* pdAmplitude) override
    {
        if (nChannel < 0 || nChannel >= m_nChannels)
            return E_INVALIDARG;
        *pdAmplitude = m_adAmplitude[nChannel];
        return S_OK;
    }

    volatile LONG m_nRef = 0;
    HRESULT m_hrRefuse = S_OK;
    int m_nSetParameters = 0;
    int m_nBits = 16;
    int m_nChannels = 2;
    int m_nMask = 0;
    int m_nRate = 48000;
    int m_anFreq[32] = {1000, 1000};
    double m_adAmplitude[32] = {-6.0, -6.0};
};
}
