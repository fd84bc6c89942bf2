// Pin and media-type enumerators: the IEnumPins / IEnumMediaTypes semantics hosts rely on,
// compared with the platform's own pin enumerator, failures inside Next, out-of-sync
// sources, and that every item, enumerator and source reference is given back.
#include <gtest/gtest.h>

#include "enums/TestSources.h"
#include "types/CountingUnknown.h"
#include "common/TaskMemorySpy.h"

#include <functional>
#include <sstream>
#include <string>

using namespace enumtest;

namespace
{
// Filters of the platform whose pins serve as items.
const CLSID kClsidSampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
const CLSID kClsidNullRenderer = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

enum class EKind
{
    Pins,
    MediaTypes,
    VersionedPins,
    VersionedMediaTypes,
};

bool IsPins(EKind eKind) { return eKind == EKind::Pins || eKind == EKind::VersionedPins; }

std::string KindName(EKind eKind)
{
    static const char* const s_names[] = {"Pins", "MediaTypes", "VersionedPins", "VersionedMediaTypes"};
    return s_names[int(eKind)];
}

std::string HrName(HRESULT hr)
{
    switch (hr)
    {
    case S_OK: return "S_OK";
    case S_FALSE: return "S_FALSE";
    case E_POINTER: return "E_POINTER";
    case E_INVALIDARG: return "E_INVALIDARG";
    case E_FAIL: return "E_FAIL";
    case E_OUTOFMEMORY: return "E_OUTOFMEMORY";
    case VFW_E_ENUM_OUT_OF_SYNC: return "OUT_OF_SYNC";
    }
    char sz[16];
    snprintf(sz, sizeof(sz), "0x%08lX", static_cast<unsigned long>(hr));
    return sz;
}

// Media type n of a test pin: its subtype tells n.
GUID SubtypeOf(int n)
{
    GUID g = MEDIASUBTYPE_PCM;
    g.Data1 = 0x5000 + n;
    return g;
}

// Runs a script of enumerator calls and writes down what each returned.
// Nk: Next (k, items, &fetched); nk: Next (k, items, null); xk: Next (k, null, &fetched);
// Sk: Skip (k); R: Reset; C: Clone, later calls go to the clone; c: Clone (null); P: back to the enumerator
// before the last clone; V: the source's collection changes; F: the source stops failing.
// Items are written as their index in the source and freed as a host frees them.
template <class IEnum, class Item>
struct CScript
{
    std::function<int(Item)> identify;
    std::function<void(Item)> release;
    std::function<void()> change;
    std::function<void()> heal;

    std::string Run(IEnum* pFirst, const std::string& script) const
    {
        std::vector<CComPtr<IEnum>> stack{pFirst};
        std::istringstream in(script);
        std::string op, out;
        while (in >> op)
        {
            IEnum* pEnum = stack.back();
            ULONG n = op.size() > 1 ? ULONG(std::stoul(op.substr(1))) : 0;
            std::string res = op;
            switch (op[0])
            {
            case 'N':
            case 'n':
                res += "=" + Next(pEnum, n, op[0] == 'N');
                break;
            case 'x':
            {
                ULONG nFetched = 0;
                res += "=" + HrName(pEnum->Next(n, nullptr, &nFetched));
                break;
            }
            case 'S':
                res += "=" + HrName(pEnum->Skip(n));
                break;
            case 'R':
                res += "=" + HrName(pEnum->Reset());
                break;
            case 'C':
            {
                CComPtr<IEnum> spClone;
                HRESULT hr = pEnum->Clone(&spClone);
                res += "=" + HrName(hr);
                if (SUCCEEDED(hr))
                    stack.push_back(spClone);
                else if (spClone)
                    res += "!clone";
                break;
            }
            case 'c':
                res += "=" + HrName(pEnum->Clone(nullptr));
                break;
            case 'P':
                if (stack.size() > 1)
                    stack.pop_back();
                break;
            case 'V':
                change();
                break;
            case 'F':
                heal();
                break;
            }
            out += (out.empty() ? "" : " ") + res;
        }
        return out;
    }

    std::string Next(IEnum* pEnum, ULONG n, bool bCount) const
    {
        const ULONG kSlots = 8;
        Item items[kSlots] = {};
        ULONG nFetched = 0xBAD;
        HRESULT hr = pEnum->Next(n, items, bCount ? &nFetched : nullptr);
        std::string res = HrName(hr);
        if (SUCCEEDED(hr) && bCount)
            res += ":" + std::to_string(nFetched);
        if (SUCCEEDED(hr))
            res += "[";
        for (ULONG i = 0; i < kSlots && i < n; ++i)
        {
            if (items[i] == nullptr)
                continue;
            if (FAILED(hr))
                res += "!item";  // a failed Next must leave no item behind
            else
            {
                if (res.back() != '[')
                    res += ',';
                res += std::to_string(identify(items[i]));
            }
            release(items[i]);
        }
        if (SUCCEEDED(hr))
            res += "]";
        else if (nFetched != 0xBAD)
            res += "!count";  // nor write the count
        return res;
    }
};

bool SameObject(IUnknown* pA, IUnknown* pB)
{
    CComPtr<IUnknown> spA, spB;
    pA->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&spA));
    pB->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&spB));
    return spA == spB;
}

// Frees a record the way hosts do: format block, pUnk, record, all task memory.
void FreeAsHost(AM_MEDIA_TYPE* pmt)
{
    CoTaskMemFree(pmt->pbFormat);
    if (pmt->pUnk != nullptr)
        pmt->pUnk->Release();
    CoTaskMemFree(pmt);
}

template <class T>
CComPtr<CComObject<T>> MakeObject()
{
    CComObject<T>* p = nullptr;
    EXPECT_EQ(ComCreateReferenced(&p), S_OK);
    CComPtr<CComObject<T>> sp;
    sp.Attach(p);
    return sp;
}

// The test's sources and the platform pins they list.
class EnumTestBase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        m_nLocksBefore = CComModuleCount::GetLockCount();
        for (const CLSID* pClsid : {&kClsidSampleGrabber, &kClsidNullRenderer})
        {
            CComPtr<IBaseFilter> spFilter;
            ASSERT_EQ(CoCreateInstance(*pClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                       reinterpret_cast<void**>(&spFilter)),
                      S_OK);
            CComPtr<IEnumPins> spEnum;
            ASSERT_EQ(spFilter->EnumPins(&spEnum), S_OK);
            for (CComPtr<IPin> spPin; spEnum->Next(1, &spPin, nullptr) == S_OK; spPin.Release())
                m_platformPins.push_back(spPin);
            m_platformFilters.push_back(spFilter);
        }
        ASSERT_EQ(m_platformPins.size(), 3u);
        m_nPinRefs = PinRefs();
        m_spFilter = MakeObject<CTestFilter>();
        m_spPin = MakeObject<CTestPin>();
        Spy().Begin();
    }

    void TearDown() override
    {
        EXPECT_EQ(m_unk.References(), 1 + LONG(m_spPin->m_types.size())) << "a media-type record was not freed";
        EXPECT_FALSE(m_spFilter->m_bNegativeIndex || m_spPin->m_bNegativeIndex) << "a source saw a negative index";
        m_spFilter.Release();
        m_spPin.Release();
        EXPECT_EQ(Spy().LiveBlocks(), 0u) << "task-memory blocks leaked";
        EXPECT_EQ(Spy().DoubleFrees(), 0u) << "task-memory blocks freed twice";
        EXPECT_EQ(PinRefs(), m_nPinRefs) << "a pin reference was not released";
        EXPECT_EQ(CComModuleCount::GetLockCount(), m_nLocksBefore) << "an enumerator or source leaked";
        m_platformPins.clear();
        m_platformFilters.clear();
        CoUninitialize();
    }

    // Gives both sources their first nItems items.
    void Fill(int nItems)
    {
        for (int i = 0; i < nItems; ++i)
        {
            m_spFilter->m_pins.push_back(m_platformPins[i]);
            CMType mt(&MEDIATYPE_Audio, nullptr);
            GUID subtype = SubtypeOf(i);
            BYTE format[6] = {BYTE(i), 1, 2, 3, 4, 5};
            ASSERT_EQ(mt.Set(&MEDIATYPE_Audio, &subtype, &FORMAT_None, sizeof(format), format), S_OK);
            mt.pUnk = &m_unk;
            m_unk.AddRef();
            m_spPin->m_types.push_back(mt);
            mt.pUnk->Release();
            mt.pUnk = nullptr;
        }
    }

    CSourceControl& Control(EKind eKind)
    {
        return IsPins(eKind) ? static_cast<CSourceControl&>(*m_spFilter) : static_cast<CSourceControl&>(*m_spPin);
    }

    CScript<IEnumPins, IPin*> PinScript()
    {
        return {[this](IPin* pPin) {
                    for (size_t i = 0; i < m_platformPins.size(); ++i)
                        if (SameObject(pPin, m_platformPins[i]))
                            return int(i);
                    return -1;
                },
                [](IPin* pPin) { pPin->Release(); }, [this] { ++m_spFilter->m_nVersion; },
                [this] { m_spFilter->m_nFailIndex = -1; }};
    }

    CScript<IEnumMediaTypes, AM_MEDIA_TYPE*> TypeScript()
    {
        return {[](AM_MEDIA_TYPE* pmt) {
                    // Identified by subtype; the format must be a copy of the source's own.
                    int n = int(pmt->subtype.Data1 - 0x5000);
                    bool bFormat = pmt->cbFormat == 6 && pmt->pbFormat != nullptr && pmt->pbFormat[0] == n;
                    return bFormat ? n : -1;
                },
                &FreeAsHost, [this] { ++m_spPin->m_nVersion; }, [this] { m_spPin->m_nFailIndex = -1; }};
    }

    // A new enumerator of the kind over its source, at the start.
    CComPtr<IEnumPins> CreatePins(EKind eKind)
    {
        CComPtr<IEnumPins> spEnum;
        HRESULT hr = eKind == EKind::Pins ? m_spFilter->EnumPins(&spEnum)
                                          : CComDSEnum<CVersioned<CPinAccessor<CTestFilter>>, IEnumPins>::CreateEnum(
                                                &spEnum, m_spFilter, 0);
        EXPECT_EQ(hr, S_OK);
        return spEnum;
    }
    CComPtr<IEnumMediaTypes> CreateTypes(EKind eKind)
    {
        CComPtr<IEnumMediaTypes> spEnum;
        HRESULT hr = eKind == EKind::MediaTypes
                         ? m_spPin->EnumMediaTypes(&spEnum)
                         : CComDSEnum<CVersioned<CMediaTypesAccessor<CTestPin>>, IEnumMediaTypes>::CreateEnum(
                               &spEnum, m_spPin, 0);
        EXPECT_EQ(hr, S_OK);
        return spEnum;
    }

    std::string Run(EKind eKind, const std::string& script)
    {
        if (IsPins(eKind))
            return PinScript().Run(CreatePins(eKind), script);
        return TypeScript().Run(CreateTypes(eKind), script);
    }

    // The pins' reference counts as AddRef/Release report them.
    std::vector<ULONG> PinRefs()
    {
        std::vector<ULONG> refs;
        for (auto& spPin : m_platformPins)
        {
            spPin->AddRef();
            refs.push_back(spPin->Release());
        }
        return refs;
    }

    static CTaskMemorySpy& Spy() { return CTaskMemorySpy::Instance(); }

    LONG m_nLocksBefore = 0;
    std::vector<CComPtr<IBaseFilter>> m_platformFilters;
    std::vector<CComPtr<IPin>> m_platformPins;
    std::vector<ULONG> m_nPinRefs;
    CCountingUnknown m_unk;
    CComPtr<CComObject<CTestFilter>> m_spFilter;
    CComPtr<CComObject<CTestPin>> m_spPin;
};

struct ScriptCase
{
    const char* name;
    int nItems;
    const char* script;
    const char* expected;
    // Where the platform's enumerator (under Wine) answers otherwise: its Skip past the end
    // leaves the position where it was, and a count near 2^32 wraps the position round.
    // Ours moves past the end, where every Next gives S_FALSE, and never wraps.
    bool bPlatformDiffers = false;
};

// ---------------------------------------------------------------- semantics by script

const ScriptCase kSemantics[] = {
    {"OneItemThenEnd", 1, "N1 N1", "N1=S_OK:1[0] N1=S_FALSE:0[]"},
    {"CountBeyondWhatIsLeft", 1, "N2", "N2=S_FALSE:1[0]"},
    {"CountBeyondWhatIsLeftLater", 3, "N2 N2 N2", "N2=S_OK:2[0,1] N2=S_FALSE:1[2] N2=S_FALSE:0[]"},
    {"NullCountOnlyForOne", 3, "n2 n1 n0 N1", "n2=E_INVALIDARG n1=S_OK[0] n0=S_OK[] N1=S_OK:1[1]"},
    {"NullArray", 1, "x1 x0 N1", "x1=E_POINTER x0=E_POINTER N1=S_OK:1[0]"},
    {"ZeroCountFetchesNothing", 1, "N0 N1", "N0=S_OK:0[] N1=S_OK:1[0]"},
    {"SkipThenReset", 1, "S1 S1 R N1", "S1=S_OK S1=S_FALSE R=S_OK N1=S_OK:1[0]"},
    {"SkipZero", 1, "S0 N1 S0", "S0=S_OK N1=S_OK:1[0] S0=S_FALSE"},
    {"SkipWithin", 3, "S2 N2", "S2=S_OK N2=S_FALSE:1[2]"},
    {"SkipPastTheEndMoves", 3, "S5 S0 N1 R S3 S0", "S5=S_FALSE S0=S_FALSE N1=S_FALSE:0[] R=S_OK S3=S_OK S0=S_FALSE",
     true},
    {"HugeSkipDoesNotWrap", 3, "N1 S4294967295 S1 N1 S2147483647 N1",
     "N1=S_OK:1[0] S4294967295=S_FALSE S1=S_FALSE N1=S_FALSE:0[] S2147483647=S_FALSE N1=S_FALSE:0[]", true},
    {"CloneKeepsThePosition", 1, "N1 C N1", "N1=S_OK:1[0] C=S_OK N1=S_FALSE:0[]"},
    {"CloneMovesIndependently", 3, "N1 C N1 N1 P N1 R C N3",
     "N1=S_OK:1[0] C=S_OK N1=S_OK:1[1] N1=S_OK:1[2] P N1=S_OK:1[1] R=S_OK C=S_OK N3=S_OK:3[0,1,2]"},
    {"CloneAtTheEnd", 1, "S1 C N1 R N1", "S1=S_OK C=S_OK N1=S_FALSE:0[] R=S_OK N1=S_OK:1[0]"},
    {"CloneNull", 1, "c N1", "c=E_POINTER N1=S_OK:1[0]"},
    {"EmptySource", 0, "N1 S0 C N1", "N1=S_FALSE:0[] S0=S_FALSE C=S_OK N1=S_FALSE:0[]"},
};

class ScriptTest : public EnumTestBase, public ::testing::WithParamInterface<std::tuple<EKind, ScriptCase>>
{
};

TEST_P(ScriptTest, ScriptGivesTheExpectedResults)
{
    auto [eKind, testCase] = GetParam();
    Fill(testCase.nItems);
    EXPECT_EQ(Run(eKind, testCase.script), testCase.expected);
}

std::string ScriptCaseName(const ::testing::TestParamInfo<std::tuple<EKind, ScriptCase>>& info)
{
    return KindName(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(Semantics, ScriptTest,
                         ::testing::Combine(::testing::Values(EKind::Pins, EKind::MediaTypes),
                                            ::testing::ValuesIn(kSemantics)),
                         ScriptCaseName);

// ---------------------------------------------------------------- collections that change

const ScriptCase kOutOfSync[] = {
    {"NextReportsItAndKeepsReportingUntilReset", 3, "N1 V N2 N1 S1 C R N3",
     "N1=S_OK:1[0] V N2=OUT_OF_SYNC N1=OUT_OF_SYNC S1=OUT_OF_SYNC C=OUT_OF_SYNC R=S_OK N3=S_OK:3[0,1,2]"},
    {"SkipDetectsIt", 3, "V S1 N1 R S1 N1", "V S1=OUT_OF_SYNC N1=OUT_OF_SYNC R=S_OK S1=S_OK N1=S_OK:1[1]"},
    {"CloneDetectsIt", 3, "N1 V C N1 R C N1", "N1=S_OK:1[0] V C=OUT_OF_SYNC N1=OUT_OF_SYNC R=S_OK C=S_OK N1=S_OK:1[0]"},
    {"ArgumentErrorsComeFirst", 3, "V n2 x1 N1", "V n2=E_INVALIDARG x1=E_POINTER N1=OUT_OF_SYNC"},
    {"CloneIsInSyncWithTheSourceItSaw", 3, "N1 C V N1 P N1", "N1=S_OK:1[0] C=S_OK V N1=OUT_OF_SYNC P N1=OUT_OF_SYNC"},
};

INSTANTIATE_TEST_SUITE_P(OutOfSync, ScriptTest,
                         ::testing::Combine(::testing::Values(EKind::VersionedPins, EKind::VersionedMediaTypes),
                                            ::testing::ValuesIn(kOutOfSync)),
                         ScriptCaseName);

// ---------------------------------------------------------------- the platform's own enumerator

class PlatformCompareTest : public EnumTestBase, public ::testing::WithParamInterface<ScriptCase>
{
};

// Our pin enumerator over the Sample Grabber's pins answers as the Sample Grabber's own.
TEST_P(PlatformCompareTest, PinEnumeratorAnswersAsThePlatformsOwn)
{
    const ScriptCase& testCase = GetParam();
    Fill(2);
    CComPtr<IEnumPins> spPlatform;
    ASSERT_EQ(m_platformFilters[0]->EnumPins(&spPlatform), S_OK);
    auto script = PinScript();
    EXPECT_EQ(script.Run(CreatePins(EKind::Pins), testCase.script), script.Run(spPlatform, testCase.script));
}

std::vector<ScriptCase> PlatformCases()
{
    std::vector<ScriptCase> cases;
    for (const ScriptCase& testCase : kSemantics)
        if (!testCase.bPlatformDiffers)
            cases.push_back(testCase);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(SampleGrabber, PlatformCompareTest, ::testing::ValuesIn(PlatformCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- failures inside Next

struct FailureCase
{
    const char* name;
    HRESULT hrSource;  // what the source gives at index 2 (S_OK: success without an item)
    HRESULT hrResult;  // what Next and Skip then give
};

class NextFailureTest : public EnumTestBase, public ::testing::WithParamInterface<std::tuple<EKind, FailureCase>>
{
};

// A failure of the source part way leaves the caller no items and the position unmoved.
TEST_P(NextFailureTest, FailurePartWayFreesTheItemsAndKeepsThePosition)
{
    auto [eKind, failure] = GetParam();
    Fill(3);
    Control(eKind).m_nFailIndex = 2;
    Control(eKind).m_hrFail = failure.hrSource;
    std::string hr = HrName(failure.hrResult);
    EXPECT_EQ(Run(eKind, "N1 N3 S2 C F N2"), "N1=S_OK:1[0] N3=" + hr + " S2=" + hr + " C=S_OK F N2=S_OK:2[1,2]");
}

INSTANTIATE_TEST_SUITE_P(
    Sources, NextFailureTest,
    ::testing::Combine(::testing::Values(EKind::Pins, EKind::MediaTypes),
                       ::testing::Values(FailureCase{"OutOfMemory", E_OUTOFMEMORY, E_OUTOFMEMORY},
                                         FailureCase{"SuccessWithoutItem", S_OK, E_FAIL})),
    [](const auto& info) { return KindName(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name; });

class AllocationFailureTest : public EnumTestBase, public ::testing::WithParamInterface<int>
{
};

// Any task-memory allocation of the copies failing: Next gives E_FAIL, no item, no leak,
// and the position where it was.
TEST_P(AllocationFailureTest, FailedCopyOfAMediaTypeFailsNextCleanly)
{
    Fill(3);
    CComPtr<IEnumMediaTypes> spEnum = CreateTypes(EKind::MediaTypes);
    auto script = TypeScript();
    ASSERT_EQ(script.Run(spEnum, "N1"), "N1=S_OK:1[0]");
    Spy().FailAllocation(GetParam());
    EXPECT_EQ(script.Run(spEnum, "N2 N2"), "N2=E_FAIL N2=S_OK:2[1,2]");
}

// Two allocations per record (the record and its format block), two records.
INSTANTIATE_TEST_SUITE_P(NthAllocation, AllocationFailureTest, ::testing::Values(1, 2, 3, 4));

// ---------------------------------------------------------------- creation and life

class EnumLifeTest : public EnumTestBase
{
};

TEST_F(EnumLifeTest, CreateEnumChecksItsArguments)
{
    using CEnum = CComDSEnum<CPinAccessor<CTestFilter>, IEnumPins>;
    Fill(3);
    EXPECT_EQ(CEnum::CreateEnum(nullptr, m_spFilter, 0), E_POINTER);
    IEnumPins* pEnum = reinterpret_cast<IEnumPins*>(1);
    EXPECT_EQ(CEnum::CreateEnum(&pEnum, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(pEnum, nullptr);
    EXPECT_EQ(CEnum::CreateEnum(&pEnum, m_spFilter, -1), E_INVALIDARG);
    EXPECT_EQ(pEnum, nullptr);

    CComPtr<IEnumPins> spEnum;
    ASSERT_EQ(CEnum::CreateEnum(&spEnum, m_spFilter, 1), S_OK);
    EXPECT_EQ(PinScript().Run(spEnum, "N3"), "N3=S_FALSE:2[1,2]") << "starts at the given position";
}

// The enumerator keeps its source alive, and gives it up with its last reference.
TEST_F(EnumLifeTest, EnumeratorHoldsItsSourceUntilReleased)
{
    bool bDestroyed = false;
    Fill(1);
    m_spPin->m_pbDestroyed = &bDestroyed;
    CComPtr<IEnumMediaTypes> spEnum;
    ASSERT_EQ(m_spPin->EnumMediaTypes(&spEnum), S_OK);
    CComPtr<IEnumMediaTypes> spClone;
    ASSERT_EQ(spEnum->Clone(&spClone), S_OK);
    auto script = TypeScript();
    m_spPin.Release();
    EXPECT_FALSE(bDestroyed);
    EXPECT_EQ(script.Run(spEnum, "N1"), "N1=S_OK:1[0]");
    spEnum.Release();
    EXPECT_FALSE(bDestroyed) << "the clone holds the source too";
    EXPECT_EQ(script.Run(spClone, "N1"), "N1=S_OK:1[0]");
    spClone.Release();
    EXPECT_TRUE(bDestroyed);
    m_spPin = MakeObject<CTestPin>();  // for the fixture's checks
}

// Separate enumerators over one source do not disturb each other, nor follow its changes
// of position.
TEST_F(EnumLifeTest, IndependentEnumeratorsOverOneSource)
{
    Fill(3);
    CComPtr<IEnumPins> spA = CreatePins(EKind::Pins);
    CComPtr<IEnumPins> spB = CreatePins(EKind::Pins);
    auto script = PinScript();
    EXPECT_EQ(script.Run(spA, "N2"), "N2=S_OK:2[0,1]");
    EXPECT_EQ(script.Run(spB, "N1"), "N1=S_OK:1[0]");
    EXPECT_EQ(script.Run(spA, "N1"), "N1=S_OK:1[2]");
    EXPECT_EQ(script.Run(spB, "S1 N1"), "S1=S_OK N1=S_OK:1[2]");
}

// Items come from the source at each call: a change of the collection between two calls
// shows in the next one.
TEST_F(EnumLifeTest, NextReflectsTheSourceAtTheCall)
{
    Fill(1);
    CComPtr<IEnumPins> spEnum = CreatePins(EKind::Pins);
    auto script = PinScript();
    EXPECT_EQ(script.Run(spEnum, "N1 N1"), "N1=S_OK:1[0] N1=S_FALSE:0[]");
    m_spFilter->m_pins.push_back(m_platformPins[1]);
    EXPECT_EQ(script.Run(spEnum, "N1"), "N1=S_OK:1[1]");
}
}
