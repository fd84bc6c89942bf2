#include "reliability/FilterRig.h"

#include <cstdio>
#include <sstream>

#include "common/HandleCount.h"
#include "common/TaskMemorySpy.h"
#include "reliability/Campaign.h"
#include "support/ComCreate.h"

namespace campaign
{
// ------------------------------------------------------------------ stream check

void CStreamCheck::OnSample(IMediaSample* pSample)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_llSamples;
    if (!m_fault.empty())
        return;
    const CToneFormat& fmt = m_ref.Format();
    BYTE* pb = nullptr;
    pSample->GetPointer(&pb);
    const LONG cbActual = pSample->GetActualDataLength();
    const DWORD nFrames = DWORD(pSample->GetSize()) / fmt.BlockAlign();
    std::ostringstream what;
    if (pb == nullptr || cbActual != LONG(nFrames * fmt.BlockAlign()))
        what << "actual length " << cbActual << " for " << nFrames << " frames";
    else
    {
        const std::vector<BYTE> expected = m_ref.Render(nFrames);
        if (expected.size() != size_t(cbActual) || memcmp(expected.data(), pb, expected.size()) != 0)
            what << "bytes differ from the reference";
        REFERENCE_TIME tStart = 0, tStop = 0;
        LONGLONG llStart = 0, llStop = 0;
        if (pSample->GetTime(&tStart, &tStop) != S_OK || tStart != CToneReference::FramesToTime(m_llFrames, fmt.nRate) ||
            tStop != CToneReference::FramesToTime(m_llFrames + nFrames, fmt.nRate))
            what << " times " << tStart << ".." << tStop;
        if (pSample->GetMediaTime(&llStart, &llStop) != S_OK || llStart != m_llFrames || llStop != m_llFrames + nFrames)
            what << " media times " << llStart << ".." << llStop;
        if (pSample->IsDiscontinuity() != (m_llSamples == 1 ? S_OK : S_FALSE))
            what << " discontinuity flag";
    }
    if (what.tellp() > 0)
        m_fault = "sample " + std::to_string(m_llSamples) + " at frame " + std::to_string(m_llFrames) + ": " + what.str();
    m_llFrames += nFrames;
}

LONGLONG CStreamCheck::Samples()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_llSamples;
}

LONGLONG CStreamCheck::Frames()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_llFrames;
}

std::string CStreamCheck::Fault()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fault;
}

// ------------------------------------------------------------------ rig

CFilterRig::CFilterRig()
{
    if (ComCreateReferencedInterface<CAudioSource>(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&m_spFilter)) != S_OK ||
        m_spFilter->FindPin(L"Out", &m_spOut) != S_OK || CFakeDownstream::Create(&m_pFake) != S_OK)
        return;
    m_spTone = CComQIPtr<ICRVTonewell>(m_spFilter);
    m_spConfig = CComQIPtr<IAMStreamConfig>(m_spOut);
    m_spPersist = CComQIPtr<IPersistStream>(m_spFilter);
    m_bReady = m_spTone && m_spConfig && m_spPersist;
}

CFilterRig::~CFilterRig()
{
    Shutdown();
    Watch(nullptr);
    m_spPersist.Release();
    m_spConfig.Release();
    m_spTone.Release();
    m_spOut.Release();
    m_spFilter.Release();
    if (m_pFake != nullptr)
        static_cast<IBaseFilter*>(m_pFake)->Release();
}

HRESULT CFilterRig::Connect(const AM_MEDIA_TYPE* pmt)
{
    return m_spOut->Connect(FakePin(), pmt);
}

void CFilterRig::Shutdown()
{
    if (m_pFake == nullptr || !m_spFilter)
        return;
    Fake()->ReleaseReceive();
    m_spFilter->Stop();
    m_pFake->Stop();
    m_spOut->Disconnect();
    FakePin()->Disconnect();
    Fake()->DropKeptSamples();
}

void CFilterRig::Watch(CStreamCheck* pCheck)
{
    if (m_pFake == nullptr)
        return;
    if (pCheck == nullptr)
        Fake()->m_fnOnReceive = nullptr;
    else
        Fake()->m_fnOnReceive = [pCheck](IMediaSample* pSample) { pCheck->OnSample(pSample); };
}

bool CFilterRig::ReceiveMore(LONG n, DWORD dwMs)
{
    return Fake()->WaitReceived(Fake()->m_nReceived + n, dwMs);
}

bool CFilterRig::OutConnected()
{
    CComPtr<IPin> spPeer;
    return m_spOut->ConnectedTo(&spPeer) == S_OK;
}

// ------------------------------------------------------------------ fixture

CampaignTest::CampaignTest() : m_watchdog(DWORD(Scale(300, 3 * 3600) * 1000)) {}

void CampaignTest::SetUpTestSuite()
{
    // What the platform and the runtime set up once per process is not counted as a leak:
    // one connection streamed and taken down first.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CTaskMemorySpy::Instance();
    {
        CFilterRig rig;
        if (rig.Ready() && rig.Connect() == S_OK && rig.Filter()->Run(0) == S_OK)
            rig.ReceiveMore(4);
        rig.Shutdown();
        // The first assertion report loads the message texts for good.
        if (rig.Ready())
            rig.Tone()->GetParameters(nullptr, nullptr, nullptr, nullptr);
    }
    CoUninitialize();
}

void CampaignTest::SetUp()
{
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CTaskMemorySpy::Instance().Begin();
    m_nLocks = CComModuleCount::GetLockCount();
    m_nHandles = testhandles::ProcessHandleCount();
    ASSERT_GT(m_nHandles, 0) << "the handle count cannot be read";
}

void CampaignTest::RebaseHandles(long nExtra, size_t nTries)
{
    m_nHandles = testhandles::ProcessHandleCount() - nExtra;
    m_nHandleSlack = long(nTries / 100);
}

void CampaignTest::TearDown()
{
    EXPECT_EQ(CComModuleCount::GetLockCount(), m_nLocks) << "a COM object of ours is still alive";
    EXPECT_EQ(CTaskMemorySpy::Instance().LiveBlocks(), 0u) << "task memory leaked";
    EXPECT_EQ(CTaskMemorySpy::Instance().DoubleFrees(), 0u) << "task memory freed twice";
    const long nGrowth = testhandles::ProcessHandleCountSettledAt(m_nHandles) - m_nHandles;
    if (nGrowth != 0)
        std::printf("[campaign] %ld handles more at the end of the area than after its first round\n", nGrowth);
    EXPECT_GE(nGrowth, 0) << "fewer handles than at the start: the count is unreliable";
    // Past the slack, the one handle Wine's pools may keep is let pass once per program.
    if (nGrowth > m_nHandleSlack)
    {
        EXPECT_LE(testhandles::HandlesLeftBeyond(m_nHandles + m_nHandleSlack), 0) << "handles leaked";
    }
    CoUninitialize();
}
}
