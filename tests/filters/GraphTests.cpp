// The test source inside Wine's filter graph manager, connected to the platform's own
// downstream filters.
#include <gtest/gtest.h>

#include "dumps/PlatformFilters.h"
#include "common/Watchdog.h"
#include "filters/TestSource.h"
#include "support/ComPtr.h"

namespace
{
class GraphTest : public testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        m_nLocksBefore = CComModuleCount::GetLockCount();
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(&m_spGraph)),
                  S_OK);
        ASSERT_EQ(ComCreateReferencedInterface<CTestSource>(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&m_spSource)),
                  S_OK);
        ASSERT_EQ(m_spGraph->AddFilter(m_spSource, L"Source"), S_OK);
        ASSERT_EQ(m_spSource->FindPin(L"Out", &m_spOut), S_OK);
    }
    void TearDown() override
    {
        m_spOut.Release();
        m_spSource.Release();
        m_spGraph.Release();
        EXPECT_EQ(CComModuleCount::GetLockCount(), m_nLocksBefore) << "an object of ours leaked";
        CoUninitialize();
    }

    CComPtr<IBaseFilter> AddPlatformFilter(REFCLSID clsid, LPCWSTR pszName)
    {
        CComPtr<IBaseFilter> spFilter;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void**>(&spFilter)),
                  S_OK);
        if (spFilter)
        {
            EXPECT_EQ(m_spGraph->AddFilter(spFilter, pszName), S_OK);
        }
        return spFilter;
    }

    static CComPtr<IPin> FirstPin(IBaseFilter* pFilter)
    {
        CComPtr<IEnumPins> spEnum;
        CComPtr<IPin> spPin;
        if (SUCCEEDED(pFilter->EnumPins(&spEnum)))
            spEnum->Next(1, &spPin, nullptr);
        return spPin;
    }

    CTestSource* Source() { return static_cast<CTestSource*>(static_cast<IBaseFilterImpl<CTestSource>*>(m_spSource.p)); }

    testwatch::CWatchdog m_watchdog;
    LONG m_nLocksBefore = 0;
    CComPtr<IGraphBuilder> m_spGraph;
    CComPtr<IBaseFilter> m_spSource;
    CComPtr<IPin> m_spOut;
};

TEST_F(GraphTest, StreamsIntoTheNullRenderer)
{
    CComPtr<IBaseFilter> spRenderer = AddPlatformFilter(kClsidNullRenderer, L"Null");
    ASSERT_EQ(m_spGraph->Connect(m_spOut, FirstPin(spRenderer)), S_OK);
    CComQIPtr<IMediaFilter> spMediaFilter(m_spGraph);
    ASSERT_EQ(spMediaFilter->SetSyncSource(nullptr), S_OK);
    CComQIPtr<IMediaControl> spControl(m_spGraph);
    ASSERT_TRUE(SUCCEEDED(spControl->Run()));
    for (int i = 0; i < 200 && Source()->m_nSamplesSent < 20; ++i)
        Sleep(10);
    EXPECT_GE(Source()->m_nSamplesSent, 20) << "failed sends " << Source()->m_nSendFailures;
    EXPECT_EQ(spControl->Stop(), S_OK);
    FILTER_STATE eState;
    EXPECT_EQ(m_spSource->GetState(0, &eState), S_OK);
    EXPECT_EQ(eState, State_Stopped);
    EXPECT_EQ(m_spGraph->RemoveFilter(spRenderer), S_OK);
}
}
