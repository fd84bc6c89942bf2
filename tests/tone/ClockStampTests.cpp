// Time stamps of a run on the graph's clock: the run's first sample is stamped with the stream
// time at which the filter made it, the following ones continue from it by the count of
// frames, and the next run after a stop takes the stream time of its own first sample. (Runs
// without a clock, stamped from 0, are the other tone tests.)
#include "tone/ToneGraph.h"

namespace tonestream
{
namespace
{
const CToneFormat kFormat = {2, 16, 48000};
const size_t kSamples = 6;

class ToneClockStamps : public ToneGraphTest
{
protected:
    REFERENCE_TIME ClockNow()
    {
        REFERENCE_TIME t = 0;
        EXPECT_TRUE(SUCCEEDED(m_spClock->GetTime(&t)));
        return t;
    }

    // Runs until kSamples samples came; the stream times before Run and after the first
    // sample bound the first sample's stamp.
    void RunAndRecord(std::vector<CSampleRecord>& records, REFERENCE_TIME& tEarliest, REFERENCE_TIME& tLatest)
    {
        m_spLog->Restart();
        const REFERENCE_TIME tBefore = ClockNow();
        ASSERT_TRUE(SUCCEEDED(Run()));
        ASSERT_TRUE(m_spLog->WaitFor(1));
        const REFERENCE_TIME tAfter = ClockNow();
        ASSERT_TRUE(m_spLog->WaitFor(kSamples));
        records = m_spLog->Records();
        tEarliest = tBefore - Filter()->m_tStart;
        tLatest = tAfter - Filter()->m_tStart;
    }

    CComPtr<IReferenceClock> m_spClock;
};

// Every record continues the first by the count of frames, the media times from 0.
void ExpectCountedFrom(const std::vector<CSampleRecord>& records)
{
    const DWORD nFrames = kFormat.BufferFrames();
    const REFERENCE_TIME tFirst = records[0].tStart;
    for (size_t k = 0; k < records.size(); ++k)
    {
        const LONGLONG llPos = LONGLONG(k) * nFrames;
        EXPECT_EQ(records[k].hrTime, S_OK) << "sample " << k;
        EXPECT_EQ(records[k].tStart, tFirst + CToneReference::FramesToTime(llPos, kFormat.nRate)) << "sample " << k;
        EXPECT_EQ(records[k].tStop, tFirst + CToneReference::FramesToTime(llPos + nFrames, kFormat.nRate))
            << "sample " << k;
        EXPECT_EQ(records[k].llStart, llPos) << "sample " << k;
        EXPECT_EQ(records[k].llStop, llPos + nFrames) << "sample " << k;
    }
}

TEST_F(ToneClockStamps, EachRunIsStampedFromTheStreamTimeOfItsFirstSample)
{
    SetFormat(kFormat);
    Connect();
    // The platform's system clock for the filter alone: the renderer, without one, renders at
    // once and so never asks the clock for a wake-up, whose thread would outlive the test.
    ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                               reinterpret_cast<void**>(&m_spClock)),
              S_OK);
    ASSERT_EQ(m_spSource->SetSyncSource(m_spClock), S_OK);

    for (int nRun = 0; nRun < 2; ++nRun)
    {
        std::vector<CSampleRecord> records;
        REFERENCE_TIME tEarliest = 0, tLatest = 0;
        RunAndRecord(records, tEarliest, tLatest);
        ASSERT_GE(records.size(), kSamples);
        EXPECT_GE(records[0].tStart, tEarliest) << "run " << nRun;
        EXPECT_LE(records[0].tStart, tLatest) << "run " << nRun;
        EXPECT_EQ(records[0].hrDiscontinuity, S_OK) << "run " << nRun;
        ExpectCountedFrom(records);
        ASSERT_EQ(Stop(), S_OK);
    }
    EXPECT_EQ(FilterErrors(), std::vector<std::wstring>{});
    ASSERT_EQ(m_spSource->SetSyncSource(nullptr), S_OK);
    m_spClock.Release();
}
}
}
