// Which types the pin takes: integer PCM of 1..32 channels in 8/16/24/32-bit containers,
// through every door (the filter's test, IPin::QueryAccept, IAMStreamConfig::SetFormat);
// and a block is never read beyond its cbFormat bytes. SetFormat alone also takes a type
// whose frame size and byte rate (and extensible valid bits) were left from another format,
// and makes them consistent.
#include <functional>

#include "common/GuardedBlock.h"
#include "tone/ToneApiFixture.h"

#include <ks.h>
#include <ksmedia.h>

namespace toneapi
{
namespace
{
class ToneAcceptType : public ToneApiTest
{
protected:
    // The connection's doors give the same answer; SetFormat takes what they take as it is,
    // and refuses what they refuse unless only the sizes it derives itself disagree, in which
    // case the pin gets the consistent type made. A refused type leaves the pin's type alone.
    void ExpectAnswer(AM_MEDIA_TYPE* pmt, bool bAccept, const Bytes& made = {})
    {
        EXPECT_EQ(Filter().Filter_QueryAcceptMT(0, pmt), bAccept ? TRUE : FALSE);
        EXPECT_EQ(m_spPin->QueryAccept(pmt), bAccept ? S_OK : S_FALSE);
        const Bytes before = CurrentType(m_spFilter);
        const bool bSet = bAccept || !made.empty();
        EXPECT_EQ(Config()->SetFormat(pmt), bSet ? S_OK : VFW_E_INVALIDMEDIATYPE);
        EXPECT_EQ(CurrentType(m_spFilter), bAccept ? TypeBytes(pmt) : bSet ? made : before);
        ASSERT_EQ(Config()->SetFormat(nullptr), S_OK);
    }

};

struct TypeCase
{
    const char* pszWhat;
    std::function<CAudioType()> make;
    bool bAccept;
    std::function<Bytes()> made = {};  // what SetFormat makes of a type the others refuse
};

CAudioType WithSubtype(CAudioType t, const GUID& subtype)
{
    t.mt.subtype = subtype;
    return t;
}

CAudioType WithSubFormat(CAudioType t, const GUID& subFormat)
{
    t.wfe.SubFormat = subFormat;
    return t;
}

const TypeCase kTypes[] = {
    {"plain 16-bit stereo", [] { return CAudioType::Plain(2, 48000, 16); }, true},
    {"plain 8-bit mono at 1 Hz", [] { return CAudioType::Plain(1, 1, 8); }, true},
    {"plain 24-bit stereo", [] { return CAudioType::Plain(2, 44100, 24); }, true},
    {"plain 32-bit, four channels", [] { return CAudioType::Plain(4, 48000, 32); }, true},
    {"extensible 20 bits in 24, six channels", [] { return CAudioType::Extensible(6, 96000, 24, 20, 0x3F); }, true},
    {"extensible 32 channels of 32 bits", [] { return CAudioType::Extensible(32, 192000, 32, 32, 0xFFFFFFFF); }, true},

    // Not integer PCM: the filter would label its integer samples as something else.
    {"float subtype and tag",
     [] {
         CAudioType t = WithSubtype(CAudioType::Plain(2, 48000, 32), MEDIASUBTYPE_IEEE_FLOAT);
         t.wfe.Format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
         return t;
     },
     false},
    {"float subtype over a PCM block", [] { return WithSubtype(CAudioType::Plain(2, 48000, 16), MEDIASUBTYPE_IEEE_FLOAT); },
     false},
    {"PCM subtype with the float tag",
     [] {
         CAudioType t = CAudioType::Plain(2, 48000, 32);
         t.wfe.Format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
         return t;
     },
     false},
    {"extensible float sub-format",
     [] { return WithSubFormat(CAudioType::Extensible(2, 48000, 32, 32, 3), KSDATAFORMAT_SUBTYPE_IEEE_FLOAT); }, false},
    {"extensible A-law sub-format",
     [] { return WithSubFormat(CAudioType::Extensible(2, 48000, 16, 16, 3), KSDATAFORMAT_SUBTYPE_ALAW); }, false},
    {"no subtype", [] { return WithSubtype(CAudioType::Plain(2, 48000, 16), GUID_NULL); }, false},

    // PCM that the filter cannot produce or that does not add up.
    {"video", [] {
         CAudioType t = CAudioType::Plain(2, 48000, 16);
         t.mt.majortype = MEDIATYPE_Video;
         return t;
     }, false},
    {"another format type", [] {
         CAudioType t = CAudioType::Plain(2, 48000, 16);
         t.mt.formattype = FORMAT_VideoInfo;
         return t;
     }, false},
    {"33 channels", [] { return CAudioType::Extensible(33, 48000, 16, 16, 0); }, false},
    {"no channels", [] { return CAudioType::Plain(0, 48000, 16); }, false},
    {"12-bit container", [] { return CAudioType::Extensible(2, 48000, 12, 12, 3); }, false},
    {"40-bit container", [] { return CAudioType::Extensible(1, 48000, 40, 40, 1); }, false},
    {"valid bits above the container", [] { return CAudioType::Extensible(2, 48000, 16, 20, 3); }, false,
     [] { return ExpectedType(48000, 2, 16, 16, 0); }},
    // The byte rate agrees with the padded frame, so only the frame's size gives it away.
    {"frames padded beyond the channels' samples", [] {
         CAudioType t = CAudioType::Plain(2, 48000, 16);
         t.wfe.Format.nBlockAlign = 6;
         t.wfe.Format.nAvgBytesPerSec = 48000 * 6;
         return t;
     }, false, [] { return ExpectedType(48000, 2, 16, 16, 0); }},
    {"extensible frames padded", [] {
         CAudioType t = CAudioType::Extensible(6, 96000, 24, 20, 0x3F);
         t.wfe.Format.nBlockAlign = 24;
         t.wfe.Format.nAvgBytesPerSec = 96000 * 24;
         return t;
     }, false, [] { return ExpectedType(96000, 6, 24, 20, 0x3F); }},
    {"byte rate that disagrees", [] {
         CAudioType t = CAudioType::Plain(2, 48000, 16);
         t.wfe.Format.nAvgBytesPerSec = 96000;
         return t;
     }, false, [] { return ExpectedType(48000, 2, 16, 16, 0); }},
    // 0x40000001 frames of 4 bytes: a byte rate of 2^32 + 4, which 32 bits see as 4.
    {"byte rate beyond 32 bits", [] {
         CAudioType t = CAudioType::Plain(2, 0x40000001, 16);
         t.wfe.Format.nAvgBytesPerSec = 4;
         return t;
     }, false},
    {"extensible tag with no room claimed", [] {
         CAudioType t = CAudioType::Extensible(6, 48000, 16, 16, 0x3F);
         t.wfe.Format.cbSize = 0;
         return t;
     }, false},
};

TEST_F(ToneAcceptType, IntegerPcmOnly)
{
    for (const TypeCase& c : kTypes)
    {
        SCOPED_TRACE(c.pszWhat);
        CAudioType t = c.make();
        ExpectAnswer(t.Type(), c.bAccept, c.made ? c.made() : Bytes());
    }
}

TEST_F(ToneAcceptType, BlocksTooShortForWhatTheyClaimAreRefusedUnread)
{
    struct ShortCase
    {
        const char* pszWhat;
        CAudioType type;
        ULONG cbFormat;
    };
    const ShortCase cases[] = {
        {"PCM block one byte short", CAudioType::Plain(2, 48000, 16), sizeof(WAVEFORMATEX) - 1},
        {"PCM subtype, the tag alone", CAudioType::Plain(2, 48000, 16), 2},
        {"extensible tag in a plain-sized block", CAudioType::Extensible(6, 48000, 24, 24, 0x3F), sizeof(WAVEFORMATEX)},
        {"extensible block one byte short", CAudioType::Extensible(6, 48000, 24, 24, 0x3F),
         sizeof(WAVEFORMATEXTENSIBLE) - 1},
        {"float subtype, the tag alone", WithSubtype(CAudioType::Plain(2, 48000, 32), MEDIASUBTYPE_IEEE_FLOAT), 2},
        {"float subtype, one byte", WithSubtype(CAudioType::Plain(2, 48000, 32), MEDIASUBTYPE_IEEE_FLOAT), 1},
        {"empty block at the guard", CAudioType::Plain(2, 48000, 16), 0},
    };
    CGuardedBlock guard;
    ASSERT_TRUE(guard.Ready());
    for (const ShortCase& c : cases)
    {
        SCOPED_TRACE(c.pszWhat);
        CAudioType t = c.type;
        AM_MEDIA_TYPE* pmt = t.Type();
        guard.Place(pmt, c.cbFormat);
        ExpectAnswer(pmt, false);
    }

    CAudioType none = CAudioType::Plain(2, 48000, 16);
    none.mt.pbFormat = nullptr;
    SCOPED_TRACE("a size without a block");
    ExpectAnswer(&none.mt, false);
}
}
}
