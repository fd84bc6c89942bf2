// The description of whole graphs: Wine's filter graph manager with its own filters and
// a source of the tests' own, and a fake graph for failures the platform does not give.
#include "DumpFixture.h"
#include "PlatformFilters.h"
#include "TestFilter.h"
#include "diagnostics/DSParsers.h"
#include "common/TaskMemorySpy.h"

#include <objbase.h>

#include <functional>

namespace
{
const std::wstring kOpeningRule = L"\r\n[Filter Graph]------------------------------------------------------\r\n";
const std::wstring kClosingRule = L"\r\n--------------------------------------------------------------------\r\n\r\n";
// The class of the tests' source: in no name table, so it reads in registry form.
const CLSID kClsidTestSource = {0x5B7E0C4F, 0x8A2D, 0x4F63, {0x9E, 0x1B, 0x6D, 0x4C, 0x3A, 0x2F, 0x7E, 0x90}};
const wchar_t kTestSourceName[] = L"{5B7E0C4F-8A2D-4F63-9E1B-6D4C3A2F7E90}";
const wchar_t kPcmText[] = L"( MEDIATYPE_Audio / MEDIASUBTYPE_PCM / FORMAT_WaveFormatEx )\r\n";

class GraphDump : public DumpTest
{
protected:
    void SetUp() override
    {
        DumpTest::SetUp();
        ASSERT_GE(CoInitializeEx(nullptr, COINIT_MULTITHREADED), 0);
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                                   reinterpret_cast<void**>(&m_spGraph)),
                  S_OK);
    }
    void TearDown() override
    {
        m_spGraph.Release();
        CoUninitialize();
    }

    CComPtr<IBaseFilter> AddPlatformFilter(REFCLSID clsid, const wchar_t* pszName)
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
    // A source with one output pin "Out" offering 48 kHz stereo 16-bit PCM.
    CComPtr<CTestFilter> NewSource(REFCLSID clsid = kClsidTestSource)
    {
        CComPtr<CTestFilter> sp;
        sp.Attach(new CTestFilter(clsid));
        sp->AddPin(L"Out");
        EXPECT_EQ(CMTHelp::MTCreatePCM(sp->mt, 48000, 2, 16, 0xFFFFFFFF), S_OK);
        return sp;
    }
    static CComPtr<IPin> PinOf(IBaseFilter* pFilter, PIN_DIRECTION dir)
    {
        CComPtr<IEnumPins> spEnum;
        pFilter->EnumPins(&spEnum);
        for (CComPtr<IPin> spPin; spEnum && spEnum->Next(1, &spPin, nullptr) == S_OK; spPin.Release())
        {
            PIN_DIRECTION d;
            if (SUCCEEDED(spPin->QueryDirection(&d)) && d == dir)
                return spPin;
        }
        return nullptr;
    }
    static std::wstring Chain(IFilterGraph* pGraph)
    {
        CFilterChainParser parser;
        LPWSTR psz = nullptr;
        EXPECT_EQ(parser.GetFiltersChain(pGraph, &psz), S_OK);
        std::wstring text = psz != nullptr ? psz : L"<null>";
        CoTaskMemFree(psz);
        return text;
    }

    CComPtr<IFilterGraph> m_spGraph;
};

TEST_F(GraphDump, EmptyGraphIsTheTwoRulesAroundAnEmptyLine)
{
    EXPECT_EQ(Chain(m_spGraph), kOpeningRule + kClosingRule);
}

TEST_F(GraphDump, ConnectedChainWithUnconnectedPinsAndNamelessFilter)
{
    CComPtr<CTestFilter> spSource = NewSource();
    spSource->file = L"C:\\tones\\a.wav";
    ASSERT_EQ(m_spGraph->AddFilter(spSource, L"Tone Source"), S_OK);
    CComPtr<IBaseFilter> spGrabber = AddPlatformFilter(kClsidSampleGrabber, L"Grabber");
    CComPtr<IBaseFilter> spNull = AddPlatformFilter(kClsidNullRenderer, L"Null");
    CComPtr<IBaseFilter> spSpare = AddPlatformFilter(kClsidNullRenderer, L"Spare");
    ASSERT_EQ(m_spGraph->ConnectDirect(spSource->Pin(0), PinOf(spGrabber, PINDIR_INPUT), nullptr), S_OK);
    ASSERT_EQ(m_spGraph->ConnectDirect(PinOf(spGrabber, PINDIR_OUTPUT), PinOf(spNull, PINDIR_INPUT), nullptr), S_OK);
    // A filter that reports no name, no class and a pin of no known direction.
    CComPtr<CTestFilter> spNameless = NewSource();
    spNameless->AddPin(L"Odd", PIN_DIRECTION(7));
    spNameless->bReportsName = false;
    spNameless->hrCurFile = E_FAIL;
    ASSERT_EQ(m_spGraph->AddFilter(spNameless, L"Nameless"), S_OK);
    spNameless->hrClassId = E_NOTIMPL;

    // The graph hands out its filters newest first.
    EXPECT_EQ(Chain(m_spGraph),
              kOpeningRule +
                  L"\r\n###Err### CFilterChainParser::GetFilterData(): pFilter->GetClassID()=E_NOTIMPL"
                  L"\r\nFilter {### CLSID is unknown} ()\r\n"
                  L"###Err### CFilterChainParser::GetFileName(): spFileSourceFilter->GetCurFile()=0x80004005\r\n\r\n"
                  L"\tOUTPUT: [Out]    NOT CONNECTED\r\n"
                  L"\tUNKNOWN: [Odd]    NOT CONNECTED\r\n"
                  L"\r\nFilter Null Renderer (Spare)\r\n"
                  L"\tINPUT: [In]    NOT CONNECTED\r\n"
                  L"\r\nFilter Null Renderer (Null)\r\n"
                  L"\tINPUT: [In] -> [Grabber] " + kPcmText +
                  L"\r\nFilter {C1F400A0-3F08-11D3-9F0B-006008039E37} (Grabber)\r\n"
                  L"\tINPUT: [Input] -> [Tone Source] " + kPcmText +
                  L"\tOUTPUT: [Output] -> [Null] " + kPcmText +
                  L"\r\nFilter " + kTestSourceName + L" (Tone Source)\r\n"
                  L"\tINPUT FILE: \"C:\\tones\\a.wav\"\r\n"
                  L"\tOUTPUT: [Out] -> [Grabber] " + kPcmText + kClosingRule);
}

TEST_F(GraphDump, FileSinkShowsItsOutputFile)
{
    CComPtr<CTestFilter> spWriter = NewSource();
    spWriter->bOffersFileSink = true;
    spWriter->file = L"C:\\out\\tone.wav";
    ASSERT_EQ(m_spGraph->AddFilter(spWriter, L"Writer"), S_OK);
    EXPECT_EQ(Chain(m_spGraph), kOpeningRule + L"\r\nFilter " + kTestSourceName + L" (Writer)\r\n"
                                L"\tINPUT FILE: \"C:\\out\\tone.wav\"\r\n"
                                L"\tOUTPUT FILE: \"C:\\out\\tone.wav\"\r\n"
                                L"\tOUTPUT: [Out]    NOT CONNECTED\r\n" + kClosingRule);
    spWriter->hrCurFile = E_ACCESSDENIED;
    EXPECT_EQ(Chain(m_spGraph),
              kOpeningRule + L"\r\nFilter " + kTestSourceName + L" (Writer)\r\n" +
                  L"###Err### CFilterChainParser::GetFileName(): spFileSourceFilter->GetCurFile()=0x80070005\r\n\r\n"
                  L"###Err### CFilterChainParser::GetFileName(): spFileSinkFilter->GetCurFile()=0x80070005\r\n\r\n"
                  L"\tOUTPUT: [Out]    NOT CONNECTED\r\n" + kClosingRule);
}

TEST_F(GraphDump, EveryLineEndsInCarriageReturnAndLineFeed)
{
    CComPtr<CTestFilter> spSource = NewSource();
    ASSERT_EQ(m_spGraph->AddFilter(spSource, L"Tone Source"), S_OK);
    CComPtr<IBaseFilter> spNull = AddPlatformFilter(kClsidNullRenderer, L"Null");
    ASSERT_EQ(m_spGraph->ConnectDirect(spSource->Pin(0), PinOf(spNull, PINDIR_INPUT), nullptr), S_OK);
    std::wstring text = Chain(m_spGraph);
    ASSERT_EQ(text.substr(text.size() - 2), L"\r\n");
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == L'\n')
        {
            EXPECT_TRUE(i > 0 && text[i - 1] == L'\r') << "bare LF at " << i;
        }
        else if (text[i] == L'\r')
        {
            EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == L'\n') << "bare CR at " << i;
        }
    }
}

// The description reaches the sink's WriteBlock whole, as narrow text with its length.
TEST_F(GraphDump, DescriptionReachesTheSinkAsOneBlock)
{
    CComPtr<CTestFilter> spSource = NewSource();
    ASSERT_EQ(m_spGraph->AddFilter(spSource, L"Tone Source"), S_OK);
    CComPtr<IBaseFilter> spNull = AddPlatformFilter(kClsidNullRenderer, L"Null");
    ASSERT_EQ(m_spGraph->ConnectDirect(spSource->Pin(0), PinOf(spNull, PINDIR_INPUT), nullptr), S_OK);
    CFilterChainParser parser;
    LPWSTR psz = nullptr;
    ASSERT_EQ(parser.GetFiltersChain(m_spGraph, &psz), S_OK);
    DebugTraceBlock(psz);
    std::wstring text = psz;
    CoTaskMemFree(psz);
    const std::wstring expected = kOpeningRule + L"\r\nFilter Null Renderer (Null)\r\n\tINPUT: [In] -> [Tone Source] " +
                                  kPcmText + L"\r\nFilter " + kTestSourceName +
                                  L" (Tone Source)\r\n\tINPUT FILE: \"\"\r\n\tOUTPUT: [Out] -> [Null] " + kPcmText +
                                  kClosingRule;
    EXPECT_EQ(text, expected);
    EXPECT_EQ(m_sink.Events(), std::vector<std::wstring>{L"B" + std::to_wstring(expected.size()) + L":" + expected});
}

TEST_F(GraphDump, MissingGraphOrOutIsRefused)
{
    CFilterChainParser parser;
    LPWSTR psz = reinterpret_cast<LPWSTR>(1);
    EXPECT_EQ(parser.GetFiltersChain(nullptr, &psz), E_INVALIDARG);
    EXPECT_EQ(psz, nullptr);
    EXPECT_EQ(parser.GetFiltersChain(m_spGraph, nullptr), E_POINTER);
}

// A fake graph of "Src", whose output pin "Out" is connected to the input pin "In" of
// "Dst"; the graph lists the pair nPairs times.
class GraphWalk : public DumpTest
{
protected:
    void Build(REFCLSID clsidSrc, int nPairs = 1)
    {
        m_spGraph.Attach(new CFakeGraph);
        m_spSrc.Attach(new CTestFilter(clsidSrc));
        m_spDst.Attach(new CTestFilter(kClsidNullRenderer));
        m_spSrc->JoinFilterGraph(m_spGraph, L"Src");
        m_spDst->JoinFilterGraph(m_spGraph, L"Dst");
        ASSERT_EQ(CMTHelp::MTCreatePCM(m_spSrc->mt, 48000, 2, 16, 0xFFFFFFFF), S_OK);
        ASSERT_EQ(m_spSrc->AddPin(L"Out")->Connect(m_spDst->AddPin(L"In", PINDIR_INPUT), nullptr), S_OK);
        for (int i = 0; i < nPairs; ++i)
            m_spGraph->filters.insert(m_spGraph->filters.end(), {m_spSrc.p, m_spDst.p});
    }
    void TearDown() override
    {
        if (m_spSrc)
            m_spSrc->Pin(0)->Disconnect();
        if (m_spDst)
            m_spDst->Pin(0)->Disconnect();
    }

    CComPtr<CFakeGraph> m_spGraph;
    CComPtr<CTestFilter> m_spSrc, m_spDst;
};

// Failures of the graph's objects become lines of the text, and the walk goes on.
struct FaultCase
{
    const char* pszName;
    std::function<void(CFakeGraph&, CTestFilter& src, CTestFilter& dst)> makeFault;
    std::wstring expected;
};

const std::wstring kSrcHead = std::wstring(L"\r\nFilter ") + kTestSourceName + L" (Src)\r\n\tINPUT FILE: \"\"\r\n";
const std::wstring kSrcPin = std::wstring(L"\tOUTPUT: [Out] -> [Dst] ") + kPcmText;
const std::wstring kDstHead = L"\r\nFilter Null Renderer (Dst)\r\n\tINPUT FILE: \"\"\r\n";
const std::wstring kDstPin = std::wstring(L"\tINPUT: [In] -> [Src] ") + kPcmText;
const std::wstring kErr = L"###Err### CFilterChainParser::";

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.pszName; }

class FaultyGraphDump : public GraphWalk, public ::testing::WithParamInterface<FaultCase>
{
};

TEST_P(FaultyGraphDump, FailureIsWrittenAndTheWalkGoesOn)
{
    Build(kClsidTestSource);
    GetParam().makeFault(*m_spGraph, *m_spSrc, *m_spDst);

    CTaskMemorySpy& spy = CTaskMemorySpy::Instance();
    spy.Begin();
    CFilterChainParser parser;
    LPWSTR psz = nullptr;
    ASSERT_EQ(parser.GetFiltersChain(m_spGraph, &psz), S_OK);
    ASSERT_NE(psz, nullptr);
    EXPECT_EQ(std::wstring(psz), GetParam().expected);
    CoTaskMemFree(psz);
    // File names and media types that the queries handed out are freed.
    EXPECT_EQ(spy.LiveBlocks(), 0u);
    EXPECT_EQ(spy.DoubleFrees(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultyGraphDump,
    ::testing::Values(
        FaultCase{"None", [](CFakeGraph&, CTestFilter&, CTestFilter&) {},
                  kOpeningRule + kSrcHead + kSrcPin + kDstHead + kDstPin + kClosingRule},
        FaultCase{"EnumFilters", [](CFakeGraph& g, CTestFilter&, CTestFilter&) { g.hrEnumFilters = E_FAIL; },
                  kOpeningRule + kErr + L"GetFiltersChain(): pGraph->EnumFilters()=0x80004005\r\n"},
        FaultCase{"NextFilter",
                  [](CFakeGraph& g, CTestFilter&, CTestFilter&) { g.hrNextAtEnd = VFW_E_ENUM_OUT_OF_SYNC; },
                  kOpeningRule + kSrcHead + kSrcPin + kDstHead + kDstPin + kErr +
                      L"GetFiltersChain(): spEnum->Next()=0x80040203\r\n" + kClosingRule},
        FaultCase{"QueryFilterInfo",
                  [](CFakeGraph&, CTestFilter& src, CTestFilter&) { src.hrQueryFilterInfo = E_ACCESSDENIED; },
                  kOpeningRule + kErr + L"GetFilterData(): pFilter->QueryFilterInfo()=0x80070005\r\n\r\n" + kDstHead +
                      L"\tINPUT: [In]\r\n" + kErr +
                      L"GetPinData(): spConnectedFilter->QueryFilterInfo()=0x80070005\r\n" + kClosingRule},
        FaultCase{"GetClassID", [](CFakeGraph&, CTestFilter& src, CTestFilter&) { src.hrClassId = E_FAIL; },
                  kOpeningRule + L"\r\n" + kErr + L"GetFilterData(): pFilter->GetClassID()=0x80004005" +
                      L"\r\nFilter {### CLSID is unknown} (Src)\r\n\tINPUT FILE: \"\"\r\n" + kSrcPin + kDstHead +
                      kDstPin + kClosingRule},
        FaultCase{"GetCurFile", [](CFakeGraph&, CTestFilter&, CTestFilter& dst) { dst.hrCurFile = E_FAIL; },
                  kOpeningRule + kSrcHead + kSrcPin + L"\r\nFilter Null Renderer (Dst)\r\n" + kErr +
                      L"GetFileName(): spFileSourceFilter->GetCurFile()=0x80004005\r\n\r\n" + kDstPin + kClosingRule},
        FaultCase{"EnumPins", [](CFakeGraph&, CTestFilter& src, CTestFilter&) { src.hrEnumPins = E_FAIL; },
                  kOpeningRule + kSrcHead + kErr + L"GetFilterData(): pFilter->EnumPins()=0x80004005\r\n\r\n" +
                      kDstHead + kDstPin + kClosingRule},
        FaultCase{"QueryPinInfo",
                  [](CFakeGraph&, CTestFilter& src, CTestFilter&) { src.Pin(0)->hrQueryPinInfo = E_FAIL; },
                  kOpeningRule + kSrcHead + kErr + L"GetPinData(): pPin->QueryPinInfo()=0x80004005\r\n\r\n" +
                      kDstHead + L"\tINPUT: [In]\r\n" + kErr +
                      L"GetPinData(): spPinConnected->QueryPinInfo()=0x80004005\r\n" + kClosingRule},
        FaultCase{"ConnectedTo",
                  [](CFakeGraph&, CTestFilter& src, CTestFilter&) { src.Pin(0)->hrConnectedTo = E_FAIL; },
                  kOpeningRule + kSrcHead + L"\tOUTPUT: [Out]\r\n" + kErr +
                      L"GetPinData(): pPin->ConnectedTo()=0x80004005\r\n" + kDstHead + kDstPin + kClosingRule},
        FaultCase{"ConnectedPinInfo",
                  [](CFakeGraph&, CTestFilter&, CTestFilter& dst) { dst.Pin(0)->hrQueryPinInfo = E_FAIL; },
                  kOpeningRule + kSrcHead + L"\tOUTPUT: [Out]\r\n" + kErr +
                      L"GetPinData(): spPinConnected->QueryPinInfo()=0x80004005\r\n" + kDstHead + kErr +
                      L"GetPinData(): pPin->QueryPinInfo()=0x80004005\r\n\r\n" + kClosingRule},
        FaultCase{"ConnectedFilterInfo",
                  [](CFakeGraph&, CTestFilter&, CTestFilter& dst) { dst.hrQueryFilterInfo = E_FAIL; },
                  kOpeningRule + kSrcHead + L"\tOUTPUT: [Out]\r\n" + kErr +
                      L"GetPinData(): spConnectedFilter->QueryFilterInfo()=0x80004005\r\n" + kErr +
                      L"GetFilterData(): pFilter->QueryFilterInfo()=0x80004005\r\n\r\n" + kClosingRule},
        FaultCase{"ConnectionMediaType",
                  [](CFakeGraph&, CTestFilter& src, CTestFilter&) { src.Pin(0)->hrConnectionMediaType = E_FAIL; },
                  kOpeningRule + kSrcHead + L"\tOUTPUT: [Out] -> [Dst] \r\n" + kErr +
                      L"GetPinMediaType(): pPin->ConnectionMediaType()=0x80004005\r\n" + kDstHead + kDstPin +
                      kClosingRule}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.pszName); });

// One filter class shares its format blocks with the media types it hands out: they are
// left alone; every other filter's are freed.
TEST_F(GraphWalk, FormatBlocksOfTheSharingFilterAreNotFreed)
{
    const CLSID clsidSharing = {0x88CDBBDC, 0xA73B, 0x4AFA, {0xAC, 0xBF, 0x15, 0xD5, 0xE2, 0xCE, 0x12, 0xC3}};
    for (const CLSID* pClsid : {&clsidSharing, &kClsidTestSource})
    {
        Build(*pClsid);
        CTaskMemorySpy& spy = CTaskMemorySpy::Instance();
        spy.Begin();
        BYTE* pbShared = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
        ASSERT_NE(pbShared, nullptr);
        memcpy(pbShared, m_spSrc->mt.pbFormat, sizeof(WAVEFORMATEX));
        m_spSrc->Pin(0)->pbSharedFormat = pbShared;
        CFilterChainParser parser;
        LPWSTR psz = nullptr;
        ASSERT_EQ(parser.GetFiltersChain(m_spGraph, &psz), S_OK);
        EXPECT_NE(std::wstring(psz).find(L"\tOUTPUT: [Out] -> [Dst] ( MEDIATYPE_Audio"), std::wstring::npos);
        CoTaskMemFree(psz);
        if (*pClsid == clsidSharing)
        {
            EXPECT_EQ(spy.LiveBlocks(), 1u);  // still the filter's
            CoTaskMemFree(pbShared);
        }
        EXPECT_EQ(spy.LiveBlocks(), 0u);
        EXPECT_EQ(spy.DoubleFrees(), 0u);
        TearDown();
    }
}

// When the text cannot grow the dump ends with E_OUTOFMEMORY and hands out nothing; a
// failed copy inside a filter's query is only a line of the text.
TEST_F(GraphWalk, OutOfMemoryAtAnyAllocationLeaksNothing)
{
    Build(kClsidTestSource, 20);  // long enough to grow past the first 4096 characters
    CTaskMemorySpy& spy = CTaskMemorySpy::Instance();
    int nOutOfMemory = 0;
    bool bComplete = false;
    for (int nFail = 1; nFail < 200 && !bComplete; ++nFail)
    {
        spy.Begin();
        spy.FailAllocation(nFail);
        CFilterChainParser parser;
        LPWSTR psz = reinterpret_cast<LPWSTR>(1);
        HRESULT hr = parser.GetFiltersChain(m_spGraph, &psz);
        bool bFailureReached = spy.Allocations() >= size_t(nFail);
        if (hr == E_OUTOFMEMORY)
        {
            ++nOutOfMemory;
            EXPECT_EQ(psz, nullptr);
        }
        else
        {
            ASSERT_EQ(hr, S_OK) << "allocation " << nFail;
            ASSERT_NE(psz, nullptr);
            std::wstring text = psz;
            CoTaskMemFree(psz);
            EXPECT_EQ(text.substr(text.size() - kClosingRule.size()), kClosingRule);
            bComplete = !bFailureReached;
            if (bComplete)
            {
                EXPECT_GT(text.size(), size_t(CTextBuffer::GROW_STEP));
            }
        }
        EXPECT_EQ(spy.LiveBlocks(), 0u) << "allocation " << nFail;
        EXPECT_EQ(spy.DoubleFrees(), 0u) << "allocation " << nFail;
    }
    EXPECT_TRUE(bComplete);
    EXPECT_GE(nOutOfMemory, 2);  // the first text block and its growth
}
}
