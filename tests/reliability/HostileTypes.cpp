// Hostile media types at every door: IAMStreamConfig::SetFormat, IPin::QueryAccept, a
// connection with a given type, a connection to a downstream pin that proposes the type, and
// SetParameters while connected and running. Seeded records that break the rules one or a
// few at a time; every block lies against an inaccessible page, so a read beyond cbFormat
// faults. Each type must be refused or be one the filter can play; the connection's doors
// agree, and SetFormat also takes a capture tool's edit whose sizes it derives itself.
#include <random>
#include <sstream>

#include "common/GuardedBlock.h"
#include "common/HandleCount.h"
#include "common/TaskMemorySpy.h"
#include "reliability/Campaign.h"
#include "reliability/FilterRig.h"

#include <ks.h>
#include <ksmedia.h>

namespace campaign
{
namespace
{
// A record as a hostile caller builds it: the block holds cbFormat bytes exactly, unless
// bNullBlock leaves pbFormat null whatever cbFormat says.
struct CRawType
{
    GUID majortype = MEDIATYPE_Audio;
    GUID subtype = MEDIASUBTYPE_PCM;
    GUID formattype = FORMAT_WaveFormatEx;
    std::vector<BYTE> block;
    ULONG cbFormat = 0;
    bool bNullBlock = false;
    std::string what;
};

// Whether the filter can stream this type exactly: integer PCM, 1..32 channels in whole-byte
// containers, frames of exactly the channels' bytes, a byte rate that adds up in 32 bits and
// valid bits inside the container. Judged on its own, from the rules of the wave format.
bool Playable(const AM_MEDIA_TYPE& mt)
{
    if (mt.majortype != MEDIATYPE_Audio || mt.subtype != MEDIASUBTYPE_PCM || mt.formattype != FORMAT_WaveFormatEx ||
        mt.pbFormat == nullptr || mt.cbFormat < sizeof(WAVEFORMATEX))
        return false;
    WAVEFORMATEX wf;
    memcpy(&wf, mt.pbFormat, sizeof(wf));
    if (wf.nChannels < 1 || wf.nChannels > 32 || wf.nSamplesPerSec == 0)
        return false;
    if (wf.wBitsPerSample != 8 && wf.wBitsPerSample != 16 && wf.wBitsPerSample != 24 && wf.wBitsPerSample != 32)
        return false;
    if (wf.nBlockAlign != wf.nChannels * wf.wBitsPerSample / 8 ||
        ULONGLONG(wf.nSamplesPerSec) * wf.nBlockAlign != wf.nAvgBytesPerSec)
        return false;
    if (wf.wFormatTag == WAVE_FORMAT_PCM)
        return true;
    if (wf.wFormatTag != WAVE_FORMAT_EXTENSIBLE || mt.cbFormat < sizeof(WAVEFORMATEXTENSIBLE) ||
        wf.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX))
        return false;
    WAVEFORMATEXTENSIBLE wfe;
    memcpy(&wfe, mt.pbFormat, sizeof(wfe));
    return wfe.SubFormat == KSDATAFORMAT_SUBTYPE_PCM && wfe.Samples.wValidBitsPerSample >= 1 &&
           wfe.Samples.wValidBitsPerSample <= wf.wBitsPerSample;
}

// Whether SetFormat takes the record: as it is when it plays and its significant bits fit
// the filter's settings (8 or more); otherwise when its channels (1..32), rate (not 0) and
// container (8, 16, 24, 32) describe a format of a byte rate within 32 bits, whatever its
// frame size and byte rate, in a block that holds what its tag claims, with valid bits of 8
// or more (those above the container stand for the container). Judged on its own.
bool Requestable(const AM_MEDIA_TYPE& mt)
{
    if (mt.majortype != MEDIATYPE_Audio || mt.subtype != MEDIASUBTYPE_PCM || mt.formattype != FORMAT_WaveFormatEx ||
        mt.pbFormat == nullptr || mt.cbFormat < sizeof(WAVEFORMATEX))
        return false;
    WAVEFORMATEX wf;
    memcpy(&wf, mt.pbFormat, sizeof(wf));
    WORD nValid = wf.wBitsPerSample;
    if (wf.wFormatTag == WAVE_FORMAT_EXTENSIBLE)
    {
        if (mt.cbFormat < sizeof(WAVEFORMATEXTENSIBLE) || wf.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX))
            return false;
        WAVEFORMATEXTENSIBLE wfe;
        memcpy(&wfe, mt.pbFormat, sizeof(wfe));
        if (wfe.SubFormat != KSDATAFORMAT_SUBTYPE_PCM)
            return false;
        if (wfe.Samples.wValidBitsPerSample <= wf.wBitsPerSample)
            nValid = wfe.Samples.wValidBitsPerSample;
    }
    else if (wf.wFormatTag != WAVE_FORMAT_PCM)
        return false;
    if (Playable(mt))
        return nValid >= 8;
    return wf.nChannels >= 1 && wf.nChannels <= 32 && wf.nSamplesPerSec != 0 &&
           (wf.wBitsPerSample == 8 || wf.wBitsPerSample == 16 || wf.wBitsPerSample == 24 || wf.wBitsPerSample == 32) &&
           nValid >= 8 && ULONGLONG(wf.nSamplesPerSec) * wf.nChannels * (wf.wBitsPerSample / 8) <= 0xFFFFFFFF;
}

// Whether type describes the channels, rate and container of the record.
bool SameFormat(const AM_MEDIA_TYPE& type, const AM_MEDIA_TYPE& mt)
{
    WAVEFORMATEX a, b;
    memcpy(&a, type.pbFormat, sizeof(a));
    memcpy(&b, mt.pbFormat, sizeof(b));
    return a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec && a.wBitsPerSample == b.wBitsPerSample;
}

class CTypeGenerator
{
public:
    explicit CTypeGenerator(unsigned nSeed) : m_rng(nSeed) {}

    // A consistent type with a few of its rules broken, now and then none.
    CRawType Next()
    {
        WAVEFORMATEXTENSIBLE wfe = {};
        WAVEFORMATEX& wf = wfe.Format;
        const bool bExtensible = Below(2) == 0;
        wf.wFormatTag = bExtensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM;
        wf.nChannels = Choose<WORD>({1, 2, 2, 3, 6, 8, 32});
        wf.wBitsPerSample = Choose<WORD>({8, 16, 24, 32});
        wf.nSamplesPerSec = Choose<DWORD>({1, 8000, 44100, 48000, 96000, 192000});
        wf.cbSize = bExtensible ? 22 : 0;
        wfe.Samples.wValidBitsPerSample = wf.wBitsPerSample;
        wfe.dwChannelMask = 0x3;
        wfe.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
        Consistent(wf);

        CRawType t;
        ULONG cb = bExtensible ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX);
        std::ostringstream what;
        what << wf.nChannels << " x " << wf.wBitsPerSample << " bits at " << wf.nSamplesPerSec << " Hz; ";
        const unsigned nBreaks = Below(4);
        for (unsigned k = 0; k < nBreaks; ++k)
        {
            switch (Below(15))
            {
            case 0: wf.nChannels = Pick<WORD>({0, 33, 0xFFFF}, WORD(m_rng())); what << "channels " << wf.nChannels << "; "; break;
            case 1: wf.nSamplesPerSec = Pick<DWORD>({0, 0x7FFFFFFF, 0xFFFFFFFF, 0x40000001}, m_rng()); what << "rate " << wf.nSamplesPerSec << "; "; break;
            case 2: wf.wBitsPerSample = Pick<WORD>({0, 1, 7, 12, 20, 33, 40, 64, 0xFFFF}, WORD(m_rng())); what << "bits " << wf.wBitsPerSample << "; "; break;
            case 3: wf.nBlockAlign = Pick<WORD>({0, WORD(wf.nBlockAlign + 1), WORD(wf.nBlockAlign * 2), WORD(wf.nBlockAlign - 1)}, WORD(m_rng())); what << "block align " << wf.nBlockAlign << "; "; break;
            case 4: wf.nAvgBytesPerSec = Pick<DWORD>({0, wf.nAvgBytesPerSec + 1, wf.nAvgBytesPerSec / 2}, m_rng()); what << "byte rate " << wf.nAvgBytesPerSec << "; "; break;
            case 5: wf.cbSize = Pick<WORD>({0, 21, 23, 0xFFFF}, WORD(m_rng())); what << "cbSize " << wf.cbSize << "; "; break;
            case 6: wfe.Samples.wValidBitsPerSample = Pick<WORD>({0, WORD(wf.wBitsPerSample + 1), 0xFFFF, 7}, WORD(m_rng())); what << "valid bits " << wfe.Samples.wValidBitsPerSample << "; "; break;
            case 7: wfe.SubFormat = Choose<GUID>({KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, KSDATAFORMAT_SUBTYPE_MULAW, GUID_NULL}); what << "sub-format; "; break;
            case 8: wf.wFormatTag = Pick<WORD>({0, WAVE_FORMAT_IEEE_FLOAT, WAVE_FORMAT_EXTENSIBLE, WAVE_FORMAT_PCM}, WORD(m_rng())); what << "tag " << wf.wFormatTag << "; "; break;
            case 9: cb = Pick<ULONG>({0, 1, 2, 14, 16, 17, 18, 19, 22, 39, 40, 41, 64}, Below(200)); what << "cbFormat " << cb << "; "; break;
            case 10: t.subtype = Choose<GUID>({MEDIASUBTYPE_IEEE_FLOAT, GUID_NULL, MEDIASUBTYPE_PCM}); what << "subtype; "; break;
            case 11: t.majortype = Choose<GUID>({MEDIATYPE_Video, GUID_NULL, MEDIATYPE_Audio}); t.formattype = Choose<GUID>({FORMAT_VideoInfo, GUID_NULL, FORMAT_WaveFormatEx}); what << "major or format type; "; break;
            case 12: t.bNullBlock = true; what << "null block; "; break;
            case 13: wf.nBlockAlign = WORD(wf.nBlockAlign + 1 + Below(8)); wf.nAvgBytesPerSec = wf.nSamplesPerSec * wf.nBlockAlign; what << "frames padded to " << wf.nBlockAlign << "; "; break;
            default: Consistent(wf); what << "sizes made to agree again; "; break;
            }
        }
        t.what = what.str();
        t.cbFormat = cb;
        t.block.resize(cb);
        const BYTE* pbFrom = reinterpret_cast<const BYTE*>(&wfe);
        for (ULONG i = 0; i < cb; ++i)
            t.block[i] = i < sizeof(wfe) ? pbFrom[i] : BYTE(m_rng());
        return t;
    }

private:
    static void Consistent(WAVEFORMATEX& wf)
    {
        wf.nBlockAlign = WORD(wf.nChannels * wf.wBitsPerSample / 8);
        wf.nAvgBytesPerSec = wf.nSamplesPerSec * wf.nBlockAlign;
    }
    unsigned Below(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(m_rng); }
    template <class V> V Choose(std::initializer_list<V> choices) { return choices.begin()[Below(unsigned(choices.size()))]; }
    template <class V> V Pick(std::initializer_list<V> choices, V wild)
    {
        unsigned n = Below(unsigned(choices.size()) + 1);
        return n < choices.size() ? choices.begin()[n] : wild;
    }

    std::mt19937 m_rng;
};

// The record of t, its block against the guard.
AM_MEDIA_TYPE Record(CRawType& t, CGuardedBlock& guard)
{
    AM_MEDIA_TYPE mt = {};
    mt.majortype = t.majortype;
    mt.subtype = t.subtype;
    mt.formattype = t.formattype;
    mt.bFixedSizeSamples = TRUE;
    mt.lSampleSize = 1;
    mt.pbFormat = t.block.data();
    guard.Place(&mt, t.cbFormat);
    if (t.bNullBlock)
        mt.pbFormat = nullptr;
    return mt;
}

// Bytes that the type's block and GUIDs hold, for comparing a type handed back.
bool SameType(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b)
{
    if (a.majortype != b.majortype || a.subtype != b.subtype || a.formattype != b.formattype || a.cbFormat != b.cbFormat)
        return false;
    if (a.pbFormat == nullptr || b.pbFormat == nullptr)
        return a.pbFormat == b.pbFormat;
    return memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0;
}

class HostileTypes : public CampaignTest
{
};

TEST_F(HostileTypes, EveryDoorRefusesOrPlays)
{
    CGuardedBlock guard;
    ASSERT_TRUE(guard.Ready());
    const long nHandlesBefore = testhandles::ProcessHandleCount();
    CFilterRig rig;
    ASSERT_TRUE(rig.Ready());
    const long nRigHandles = testhandles::ProcessHandleCount() - nHandlesBefore;
    CTypeGenerator gen(Seed());
    const size_t nCases = Scale(2000, 100000);
    size_t nHeld = 0, nAccepted = 0, nStreamed = 0;
    const size_t nBaseline = CTaskMemorySpy::Instance().LiveBlocks();
    for (size_t i = 0; i < nCases; ++i)
    {
        CRawType t = gen.Next();
        AM_MEDIA_TYPE mt = Record(t, guard);
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << t.what);
        const size_t nParts = FailuresSoFar();
        const bool bPlayable = Playable(mt);

        // QueryAccept: S_OK only for what plays. SetFormat while stopped: what plays as it
        // is, a capture tool's edit made consistent, nothing else.
        const HRESULT hrQuery = rig.Out()->QueryAccept(&mt);
        EXPECT_TRUE(hrQuery == S_OK || hrQuery == S_FALSE) << std::hex << hrQuery;
        EXPECT_TRUE(hrQuery != S_OK || bPlayable) << "accepted a type that does not play";
        const HRESULT hrSet = rig.Config()->SetFormat(&mt);
        const bool bRequestable = Requestable(mt);
        EXPECT_EQ(hrSet == S_OK, bRequestable) << std::hex << hrSet;
        EXPECT_TRUE(hrSet == S_OK || hrSet == VFW_E_INVALIDMEDIATYPE) << std::hex << hrSet;
        AM_MEDIA_TYPE* pmtNow = nullptr;
        if (rig.Config()->GetFormat(&pmtNow) == S_OK && pmtNow != nullptr)
        {
            EXPECT_TRUE(Playable(*pmtNow)) << "the pin holds a type it cannot play";
            EXPECT_EQ(SameType(*pmtNow, mt), hrSet == S_OK && bPlayable);
            if (hrSet == S_OK)
            {
                EXPECT_TRUE(SameFormat(*pmtNow, mt)) << "the pin's type is not the format asked for";
            }
            MTFree(pmtNow);
        }
        else
            ADD_FAILURE() << "the pin has no type";
        // An accepted type is the filter's format too and may have lowered the tones: every
        // slot back at 1000 Hz for the streams below, then the default format.
        if (hrSet == S_OK)
        {
            EXPECT_EQ(rig.Tone()->SetParameters(16, 32, 0, 48000), S_OK);
            for (int c = 0; c < 32; ++c)
                EXPECT_EQ(rig.Tone()->SetFrequency(c, 1000), S_OK);
        }
        EXPECT_EQ(rig.Config()->SetFormat(nullptr), S_OK);

        // A connection with the type given; GUID_NULL in a GUID leaves it to the pin.
        const bool bPartial = mt.majortype == GUID_NULL || mt.subtype == GUID_NULL || mt.formattype == GUID_NULL;
        const HRESULT hrConnect = rig.Connect(&mt);
        EXPECT_TRUE(hrConnect != S_OK || hrQuery == S_OK || bPartial) << "connected with a type it refuses";
        if (hrConnect == S_OK)
        {
            CMType mtConn;
            ASSERT_EQ(rig.Out()->ConnectionMediaType(&mtConn), S_OK);
            EXPECT_TRUE(Playable(mtConn));
            EXPECT_TRUE(bPartial || SameType(mtConn, mt));
            nAccepted += bPartial ? 0 : 1;
            // A few of them streamed and checked: the tones stay at 1000 Hz, so only rates
            // above 2 kHz, not the rates whose buffers the allocator cannot give, and only
            // containers of the valid bits rounded up to whole bytes, as the reference has.
            const WAVEFORMATEX* pWF = reinterpret_cast<const WAVEFORMATEX*>(mtConn.pbFormat);
            WORD nValid = 0;
            if (Playable(mtConn))
                nValid = pWF->wFormatTag == WAVE_FORMAT_EXTENSIBLE
                             ? reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(pWF)->Samples.wValidBitsPerSample
                             : pWF->wBitsPerSample;
            if (nValid != 0 && !bPartial && nStreamed < Scale(20, 400) && pWF->nSamplesPerSec > 2000 &&
                pWF->nAvgBytesPerSec <= 16 * 1024 * 1024 && (nValid + 7) / 8 * 8 == pWF->wBitsPerSample)
            {
                ++nStreamed;
                CStreamCheck check(CToneFormat{pWF->nChannels, nValid, pWF->nSamplesPerSec});
                rig.Watch(&check);
                EXPECT_EQ(rig.Filter()->Run(0), S_OK);
                EXPECT_TRUE(rig.ReceiveMore(3)) << "no stream in an accepted type";
                rig.Shutdown();
                rig.Watch(nullptr);
                EXPECT_EQ(check.Fault(), "");
            }
            rig.Shutdown();
        }
        else
            EXPECT_FALSE(rig.OutConnected());

        // A downstream pin that proposes the record: the pin takes it only if it plays,
        // otherwise its own type; a block smaller than cbFormat claims is never copied.
        {
            CFakeType proposed;
            proposed.majortype = t.majortype;
            proposed.subtype = t.subtype;
            proposed.formattype = t.formattype;
            proposed.cbFormat = t.bNullBlock && t.cbFormat == 0 ? 1 : t.cbFormat;
            if (!t.bNullBlock)
                proposed.block.assign(t.block.begin(), t.block.end() - (i % 7 == 0 && !t.block.empty() ? 1 : 0));
            rig.Fake()->m_types = {proposed};
            const HRESULT hr = rig.Connect(nullptr);
            EXPECT_TRUE(SUCCEEDED(hr) || !rig.OutConnected());
            if (hr == S_OK)
            {
                CMType mtConn;
                ASSERT_EQ(rig.Out()->ConnectionMediaType(&mtConn), S_OK);
                EXPECT_TRUE(Playable(mtConn)) << "connected in a type it cannot play";
            }
            rig.Shutdown();
            rig.Fake()->m_types.clear();
        }
        rig.Fake()->m_typesReceived.clear();
        EXPECT_EQ(CTaskMemorySpy::Instance().LiveBlocks(), nBaseline) << "task memory grew";
        if (FailuresSoFar() == nParts)
            ++nHeld;
        if (HasFatalFailure())
            break;
        // Wine keeps a handle from the first case's doors for good; from then on, flat.
        if (i == 0)
            RebaseHandles(nRigHandles, nCases);
    }
    std::ostringstream note;
    note << nAccepted << " connected with the type given, " << nStreamed << " of them streamed";
    Report("hostile media types, four doors", nCases, nHeld, note.str());
}

// SetParameters while connected and running, the downstream pin answering QueryAccept with
// S_OK, S_FALSE or a failure: the call's result follows from the arguments and the answer,
// the settings and the pin's type change together or not at all, and the stream goes on.
TEST_F(HostileTypes, SetParametersWhileRunning)
{
    CFilterRig rig;
    ASSERT_TRUE(rig.Ready());
    ASSERT_EQ(rig.Connect(), S_OK);
    ASSERT_EQ(rig.Filter()->Run(0), S_OK);
    ASSERT_TRUE(rig.ReceiveMore(2));
    std::mt19937 rng(Seed() + 1);
    auto pick = [&rng](std::initializer_list<int> choices) {
        unsigned n = std::uniform_int_distribution<unsigned>(0, unsigned(choices.size()))(rng);
        return n < choices.size() ? choices.begin()[n] : int(rng());
    };
    const size_t nCases = Scale(300, 20000);
    size_t nHeld = 0, nChanged = 0;
    for (size_t i = 0; i < nCases; ++i)
    {
        const int nBits = pick({7, 8, 12, 16, 20, 24, 32, 33});
        const int nChannels = pick({0, 1, 2, 6, 32, 33, -1});
        const int nMask = pick({0, 3, 0x3F});
        const int nRate = pick({0, 1, 8000, 48000, 192000, -1, -48000, 0x7FFFFFFF});
        const HRESULT hrAnswer = std::initializer_list<HRESULT>{S_OK, S_OK, S_FALSE, E_FAIL}.begin()[i % 4];
        rig.Fake()->m_hrQueryAccept = hrAnswer;
        SCOPED_TRACE(testing::Message() << "case " << i << ": " << nBits << " bits, " << nChannels << " channels, mask "
                                        << nMask << ", " << nRate << " Hz, downstream 0x" << std::hex << hrAnswer);
        const size_t nParts = FailuresSoFar();
        int anBefore[4], anAfter[4];
        ASSERT_EQ(rig.Tone()->GetParameters(&anBefore[0], &anBefore[1], &anBefore[2], &anBefore[3]), S_OK);

        const bool bArgs = nBits >= 8 && nBits <= 32 && nChannels >= 1 && nChannels <= 32 && nRate != 0;
        const ULONGLONG ullByteRate = ULONGLONG(DWORD(nRate)) * DWORD(nChannels) * DWORD((nBits + 7) / 8);
        const HRESULT hr = rig.Tone()->SetParameters(nBits, nChannels, nMask, nRate);
        if (!bArgs)
            EXPECT_EQ(hr, E_INVALIDARG);
        else if (ullByteRate <= 0xFFFFFFFF)
            EXPECT_EQ(hr, hrAnswer == S_OK ? S_OK : hrAnswer == S_FALSE ? VFW_E_CHANGING_FORMAT : hrAnswer);
        else
            EXPECT_TRUE(FAILED(hr));
        ASSERT_EQ(rig.Tone()->GetParameters(&anAfter[0], &anAfter[1], &anAfter[2], &anAfter[3]), S_OK);
        if (hr == S_OK)
        {
            ++nChanged;
            EXPECT_TRUE(anAfter[0] == nBits && anAfter[1] == nChannels && anAfter[2] == nMask && anAfter[3] == nRate);
        }
        else
            EXPECT_TRUE(std::equal(anBefore, anBefore + 4, anAfter)) << "a refused change left settings behind";
        AM_MEDIA_TYPE* pmt = nullptr;
        ASSERT_EQ(rig.Config()->GetFormat(&pmt), S_OK);
        const WAVEFORMATEX* pWF = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
        EXPECT_TRUE(Playable(*pmt));
        EXPECT_TRUE(pWF->nChannels == anAfter[1] && pWF->nSamplesPerSec == DWORD(anAfter[3]) &&
                    pWF->wBitsPerSample == (anAfter[0] + 7) / 8 * 8)
            << "the pin's type and the settings disagree";
        MTFree(pmt);
        EXPECT_TRUE(rig.ReceiveMore(1)) << "the stream stopped";
        if (FailuresSoFar() == nParts)
            ++nHeld;
        if (HasFatalFailure())
            break;
    }
    rig.Shutdown();
    Report("SetParameters while running", nCases, nHeld, std::to_string(nChanged) + " changes taken on the fly");
}
}
}
