// A downstream pin is outside our control: whatever it answers, the output pin must not
// crash, hang or allocate without bound, and must end connected with something sound or
// not connected at all.
#include "filters/PinFixture.h"

namespace
{
// A record of nothing this system knows, with a small block of filler.
CFakeType Garbage()
{
    CFakeType type;
    type.majortype = {0xDEADBEEF, 0x0BAD, 0xF00D, {1, 2, 3, 4, 5, 6, 7, 8}};
    type.subtype = {0x12345678, 0x9ABC, 0xDEF0, {8, 7, 6, 5, 4, 3, 2, 1}};
    type.formattype = {0xCDCDCDCD, 0xCDCD, 0xCDCD, {0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD, 0xCD}};
    type.block.assign(7, 0xCD);
    type.cbFormat = 7;
    return type;
}

// A PCM record at 44100 Hz whose claimed format size is cbFormat, with blockBytes of block.
CFakeType Liar(ULONG cbFormat, size_t blockBytes)
{
    CFakeType type = CFakeType::Pcm(44100);
    type.cbFormat = cbFormat;
    type.block.resize(blockBytes);
    return type;
}

// The bad entry first, then a sound type the peer takes.
void List(CFakeInputPin* pPin, const CFakeType& bad)
{
    pPin->m_types = {bad, CFakeType::Pcm(22050)};
}

struct BadPeerCase
{
    const char* pszName;
    void (*pfnSetup)(CFakeInputPin*);
    HRESULT hrConnect;
    DWORD nRate;         // the connection's rate; 0: not connected
    EAllocSrc eSrc;
};

const BadPeerCase kBadPeers[] = {
    // The peer's type list: the pin goes on with its own type or the next entry.
    {"NextGivesNoType", [](CFakeInputPin* p) { p->m_eTypeList = EFakeTypeList::NullType; }, S_OK, 48000, eAS_Downstream},
    {"NextFetchesNothingWithSOk", [](CFakeInputPin* p) { p->m_eTypeList = EFakeTypeList::NoneFetched; }, S_OK, 48000,
     eAS_Downstream},
    {"NextFails", [](CFakeInputPin* p) { p->m_eTypeList = EFakeTypeList::NextFails; }, S_OK, 48000, eAS_Downstream},
    {"NoEnumeratorWithSOk", [](CFakeInputPin* p) { p->m_eTypeList = EFakeTypeList::NoEnumerator; }, S_OK, 48000,
     eAS_Downstream},
    {"EnumMediaTypesFails", [](CFakeInputPin* p) { p->m_eTypeList = EFakeTypeList::EnumFails; }, S_OK, 48000,
     eAS_Downstream},
    {"EndlessTypeList", [](CFakeInputPin* p) { p->m_eTypeList = EFakeTypeList::Endless; }, S_OK, 48000, eAS_Downstream},
    {"GarbageRecord", [](CFakeInputPin* p) { List(p, Garbage()); }, S_OK, 22050, eAS_Downstream},
    {"FormatSizeFarBeyondBlock", [](CFakeInputPin* p) { List(p, Liar(0x7FFFFFFF, sizeof(WAVEFORMATEX))); }, S_OK, 22050,
     eAS_Downstream},
    {"FormatSizeBeyondBlock", [](CFakeInputPin* p) { List(p, Liar(sizeof(WAVEFORMATEXTENSIBLE), sizeof(WAVEFORMATEX))); },
     S_OK, 22050, eAS_Downstream},
    {"FormatSizeWithoutBlock", [](CFakeInputPin* p) { List(p, Liar(sizeof(WAVEFORMATEX), 0)); }, S_OK, 22050,
     eAS_Downstream},
    {"BlockWithoutFormatSize", [](CFakeInputPin* p) { List(p, Liar(0, sizeof(WAVEFORMATEX))); }, S_OK, 22050,
     eAS_Downstream},
    // The peer's answers to the connection.
    {"ReceiveConnectionAnswersSFalse",
     [](CFakeInputPin* p) {
         p->m_nAcceptRate = 8000;
         p->m_hrRefuse = S_FALSE;
     },
     VFW_E_NO_ACCEPTABLE_TYPES, 0, eAS_None},
    {"GetAllocatorSucceedsWithNone", [](CFakeInputPin* p) { p->m_bGetAllocatorGivesNull = true; }, S_OK, 48000,
     eAS_Internal},
};

class BadPeer : public CPinTest, public testing::WithParamInterface<BadPeerCase>
{
};

TEST_P(BadPeer, EndsConnectedSoundlyOrNotAtAll)
{
    const BadPeerCase& c = GetParam();
    c.pfnSetup(Fake());

    EXPECT_EQ(ConnectFake(), c.hrConnect);

    EXPECT_LE(Fake()->m_nTypesEnumerated.load(), DS_MAX_TYPES_TRIED) << "the peer's list was read without bound";
    EXPECT_EQ(Pin()->m_eAllocSrc, c.eSrc);
    CMType mt;
    if (c.nRate == 0)
    {
        EXPECT_FALSE(Pin()->IsConnected());
        EXPECT_FALSE(Fake()->IsConnected());
        EXPECT_FALSE(Pin()->m_spAllocOut);
        EXPECT_EQ(m_spOut->ConnectionMediaType(&mt), VFW_E_NOT_CONNECTED);
        return;
    }
    ASSERT_EQ(m_spOut->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(RateOf(&mt), c.nRate);
    EXPECT_EQ(mt.cbFormat, sizeof(WAVEFORMATEX));
    EXPECT_TRUE(Fake()->IsConnected());
    EXPECT_EQ(m_spSource->Pause(), S_OK);
    EXPECT_EQ(m_spSource->Stop(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(Answers, BadPeer, testing::ValuesIn(kBadPeers),
                         [](const testing::TestParamInfo<BadPeerCase>& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------- requirements beyond any memory

struct HugeCase
{
    const char* pszName;
    ALLOCATOR_PROPERTIES requirements;
    bool bOffersAllocator;  // the peer's (which wraps ours) is tried first
};

const LONG kHuge = 0x7FFFFFFF;

const HugeCase kHuges[] = {
    {"CountOwnAllocator", {kHuge, 0, 0, 0}, false},
    {"SizeOwnAllocator", {0, kHuge, 0, 0}, false},
    {"PrefixOwnAllocator", {0, 0, 0, kHuge}, false},
    {"CountAndSizeOwnAllocator", {kHuge, kHuge, 0, 0}, false},
    {"CountPeerAllocator", {kHuge, 0, 0, 0}, true},
    {"SizePeerAllocator", {0, kHuge, 0, 0}, true},
};

class HugeRequirements : public CPinTest, public testing::WithParamInterface<HugeCase>
{
};

TEST_P(HugeRequirements, AreRefusedAndTheFilterStaysStopped)
{
    const HugeCase& c = GetParam();
    Fake()->m_hrRequirements = S_OK;
    Fake()->m_propsRequirements = c.requirements;
    if (!c.bOffersAllocator)
        Fake()->m_hrGetAllocator = VFW_E_NO_ALLOCATOR;

    // The refusal may come when the properties are set or when they are committed.
    HRESULT hr = ConnectFake();
    if (hr == S_OK)
        hr = m_spSource->Pause();

    EXPECT_TRUE(hr == E_OUTOFMEMORY || hr == E_INVALIDARG) << std::hex << "0x" << unsigned(hr);
    EXPECT_EQ(SourceState(), State_Stopped);
    EXPECT_EQ(m_spSource->Run(0), Pin()->IsConnected() ? hr : VFW_E_WRONG_STATE);
    EXPECT_EQ(SourceState(), State_Stopped);
}

INSTANTIATE_TEST_SUITE_P(Allocator, HugeRequirements, testing::ValuesIn(kHuges),
                         [](const testing::TestParamInfo<HugeCase>& info) { return std::string(info.param.pszName); });
}
