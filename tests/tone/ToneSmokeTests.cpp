// The tone filter streams into Wine's Null Renderer.
#include <gtest/gtest.h>

#include "common/Watchdog.h"
#include "dumps/PlatformFilters.h"
#include "filter/AudioSource.h"
#include "support/ComPtr.h"

TEST(ToneSmoke, StreamsIntoTheNullRenderer)
{
    testwatch::CWatchdog watchdog;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        CComPtr<IGraphBuilder> spGraph;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(&spGraph)),
                  S_OK);
        CComPtr<IBaseFilter> spSource, spRenderer;
        ASSERT_EQ(ComCreateReferencedInterface<CAudioSource>(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&spSource)),
                  S_OK);
        ASSERT_EQ(CoCreateInstance(kClsidNullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void**>(&spRenderer)),
                  S_OK);
        ASSERT_EQ(spGraph->AddFilter(spSource, L"Tonewell"), S_OK);
        ASSERT_EQ(spGraph->AddFilter(spRenderer, L"Null"), S_OK);
        CComPtr<IPin> spOut, spIn;
        ASSERT_EQ(spSource->FindPin(L"Out", &spOut), S_OK);
        CComPtr<IEnumPins> spEnum;
        ASSERT_EQ(spRenderer->EnumPins(&spEnum), S_OK);
        ASSERT_EQ(spEnum->Next(1, &spIn, nullptr), S_OK);
        ASSERT_EQ(spGraph->Connect(spOut, spIn), S_OK);
        CComQIPtr<IMediaFilter>(spGraph)->SetSyncSource(nullptr);
        CComQIPtr<IMediaControl> spControl(spGraph);
        ASSERT_TRUE(SUCCEEDED(spControl->Run()));
        auto* pFilter = static_cast<CAudioSource*>(static_cast<IBaseFilterImpl<CAudioSource>*>(spSource.p));
        for (int i = 0; i < 300 && pFilter->m_llPosition < 48000; ++i)
            Sleep(10);
        EXPECT_GE(pFilter->m_llPosition, 48000);
        EXPECT_EQ(spControl->Stop(), S_OK);
        EXPECT_EQ(pFilter->m_llPosition, 0);
    }
    CoUninitialize();
    EXPECT_EQ(CComModuleCount::GetLockCount(), 0);
}
