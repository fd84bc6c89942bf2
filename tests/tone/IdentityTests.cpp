// What the filter says about itself: its flags, pages, name, class and identity, and that a
// paused live source cannot cue.
#include "tone/ToneApiFixture.h"

namespace toneapi
{
namespace
{
class ToneIdentity : public ToneApiTest
{
};

TEST_F(ToneIdentity, IsASourceWithTheSettingsAndAboutPages)
{
    CComQIPtr<IAMFilterMiscFlags> spFlags(m_spFilter);
    ASSERT_TRUE(spFlags);
    EXPECT_EQ(spFlags->GetMiscFlags(), ULONG(AM_FILTER_MISC_FLAGS_IS_SOURCE));

    CComQIPtr<ISpecifyPropertyPages> spPages(m_spFilter);
    ASSERT_TRUE(spPages);
    CAUUID pages = {};
    ASSERT_EQ(spPages->GetPages(&pages), S_OK);
    std::vector<GUID> got(pages.pElems, pages.pElems + pages.cElems);
    CoTaskMemFree(pages.pElems);
    EXPECT_EQ(got, (std::vector<GUID>{CLSID_TonewellPP, CLSID_TonewellAbout}));
    EXPECT_EQ(spPages->GetPages(nullptr), E_POINTER);
}

TEST_F(ToneIdentity, NameClassAndOneIdentityForEveryPersistBase)
{
    FILTER_INFO info = {};
    ASSERT_EQ(m_spFilter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Corvane Tonewell");
    EXPECT_EQ(info.pGraph, nullptr);

    CComQIPtr<IPersist> spPersist(m_spFilter);
    CComQIPtr<IMediaFilter> spMediaFilter(m_spFilter);
    EXPECT_EQ(static_cast<void*>(spPersist.p), static_cast<void*>(m_spFilter.p));
    EXPECT_EQ(static_cast<void*>(spMediaFilter.p), static_cast<void*>(m_spFilter.p));

    CLSID clsidFilter = {}, clsidStream = {};
    ASSERT_EQ(spPersist->GetClassID(&clsidFilter), S_OK);
    ASSERT_EQ(Persist()->GetClassID(&clsidStream), S_OK);
    EXPECT_EQ(clsidFilter, CLSID_Tonewell);
    EXPECT_EQ(clsidStream, CLSID_Tonewell);
}

TEST_F(ToneIdentity, PausedSourceCannotCue)
{
    CNullGraph graph;
    ASSERT_EQ(graph.Build(m_spFilter), S_OK);
    struct StateCase
    {
        const char* pszState;
        HRESULT (IMediaControl::*pfnEnter)();
        FILTER_STATE eState;
        HRESULT hrState;
    };
    const StateCase cases[] = {
        {"stopped", &IMediaControl::Stop, State_Stopped, S_OK},
        {"paused", &IMediaControl::Pause, State_Paused, VFW_S_CANT_CUE},
        {"running", &IMediaControl::Run, State_Running, S_OK},
        {"paused again", &IMediaControl::Pause, State_Paused, VFW_S_CANT_CUE},
        {"stopped again", &IMediaControl::Stop, State_Stopped, S_OK},
    };
    for (const StateCase& c : cases)
    {
        SCOPED_TRACE(c.pszState);
        ASSERT_TRUE(SUCCEEDED((graph.Control()->*c.pfnEnter)()));
        FILTER_STATE eState = FILTER_STATE(-1);
        EXPECT_EQ(m_spFilter->GetState(0, &eState), c.hrState);
        EXPECT_EQ(eState, c.eState);
    }
}
}
}
