// The small interfaces of the test source and its pin: the pin-category property set,
// the filter flags, quality control, and the filter's plain queries.
#include "filters/PlatformGraph.h"

#include <functional>
#include <sstream>

namespace
{
// ------------------------------------------------------------------ pin category

const DWORD kUntouched = 0xDEADBEEF;

struct KsGetCase
{
    const char* pszName;
    const GUID* pSet;
    DWORD dwProp;
    DWORD cbBuffer;    // 0: no buffer
    bool bReturned;    // a place for the returned size
    HRESULT hr;
    DWORD cbReturned;  // when there is a place for it
    bool bCategory;    // the buffer holds the capture category
};

void PrintTo(const KsGetCase& c, std::ostream* os) { *os << c.pszName; }

class PinCategoryGet : public PlatformGraphTest, public testing::WithParamInterface<KsGetCase>
{
};

TEST_P(PinCategoryGet, AnswersTheCaptureCategoryOnly)
{
    const KsGetCase& c = GetParam();
    CComQIPtr<IKsPropertySet> spProps(m_spOut);
    ASSERT_TRUE(spProps);
    GUID buffer[2] = {GUID_NULL, GUID_NULL};
    DWORD cbReturned = kUntouched;
    EXPECT_EQ(spProps->Get(*c.pSet, c.dwProp, nullptr, 0, c.cbBuffer != 0 ? buffer : nullptr, c.cbBuffer,
                           c.bReturned ? &cbReturned : nullptr),
              c.hr);
    if (c.bReturned)
    {
        EXPECT_EQ(cbReturned, c.cbReturned);
    }
    EXPECT_EQ(buffer[0], c.bCategory ? PIN_CATEGORY_CAPTURE : GUID_NULL);
    EXPECT_EQ(buffer[1], GUID_NULL) << "written past the category";
}

INSTANTIATE_TEST_SUITE_P(
    Pin, PinCategoryGet,
    testing::Values(KsGetCase{"Exact", &AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, 16, true, S_OK, 16, true},
                    KsGetCase{"Larger", &AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, 32, true, S_OK, 16, true},
                    KsGetCase{"NoSizePlace", &AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, 16, false, S_OK, 0, true},
                    KsGetCase{"SizeOnly", &AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, 0, true, S_OK, 16, false},
                    KsGetCase{"TooSmall", &AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, 15, true, E_UNEXPECTED, 16, false},
                    KsGetCase{"Neither", &AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, 0, false, E_POINTER, 0, false},
                    KsGetCase{"OtherSet", &PIN_CATEGORY_CAPTURE, AMPROPERTY_PIN_CATEGORY, 16, true,
                              E_PROP_SET_UNSUPPORTED, 0, false},
                    KsGetCase{"OtherProperty", &AMPROPSETID_Pin, 1, 16, true, E_PROP_ID_UNSUPPORTED, 0, false}),
    [](const testing::TestParamInfo<KsGetCase>& info) { return std::string(info.param.pszName); });

struct KsSupportCase
{
    const char* pszName;
    const GUID* pSet;
    DWORD dwProp;
    bool bSupport;  // a place for the answer
    HRESULT hr;
    DWORD dwSupport;
};

void PrintTo(const KsSupportCase& c, std::ostream* os) { *os << c.pszName; }

class PinCategorySupport : public PlatformGraphTest, public testing::WithParamInterface<KsSupportCase>
{
};

TEST_P(PinCategorySupport, ReportsGetOnlyForTheCategory)
{
    const KsSupportCase& c = GetParam();
    CComQIPtr<IKsPropertySet> spProps(m_spOut);
    ASSERT_TRUE(spProps);
    DWORD dwSupport = kUntouched;
    EXPECT_EQ(spProps->QuerySupported(*c.pSet, c.dwProp, c.bSupport ? &dwSupport : nullptr), c.hr);
    if (c.bSupport)
    {
        EXPECT_EQ(dwSupport, c.dwSupport);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pin, PinCategorySupport,
    testing::Values(
        KsSupportCase{"Category", &AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, true, S_OK, KSPROPERTY_SUPPORT_GET},
        KsSupportCase{"NoPlace", &AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, false, S_OK, 0},
        KsSupportCase{"OtherSet", &PIN_CATEGORY_CAPTURE, AMPROPERTY_PIN_CATEGORY, true, E_PROP_SET_UNSUPPORTED, 0},
        KsSupportCase{"OtherProperty", &AMPROPSETID_Pin, 1, true, E_PROP_ID_UNSUPPORTED, 0}),
    [](const testing::TestParamInfo<KsSupportCase>& info) { return std::string(info.param.pszName); });

// ------------------------------------------------------------------ single calls

// A quality sink that records what reaches it.
class CQualitySink : public CTestObject<IQualityControl>
{
public:
    STDMETHODIMP Notify(IBaseFilter* pSelf, Quality q) override
    {
        ++m_nCalls;
        m_pSelf = pSelf;
        m_q = q;
        return E_ABORT;
    }
    STDMETHODIMP SetSink(IQualityControl*) override { return E_NOTIMPL; }

    int m_nCalls = 0;
    IBaseFilter* m_pSelf = nullptr;
    Quality m_q = {};
};

const Quality kFlood = {Flood, 700, -5000, 123456789};

std::string Hr(HRESULT hr)
{
    std::ostringstream os;
    os << "0x" << std::hex << std::uppercase << unsigned(hr);
    return os.str();
}

// What the quality sink saw: its calls, whether pSelf came through, and the record.
std::string SinkSaw(const CQualitySink& sink, IBaseFilter* pSelf)
{
    std::ostringstream os;
    os << "calls=" << sink.m_nCalls;
    if (sink.m_nCalls != 0)
        os << (sink.m_pSelf == pSelf ? " self" : " other") << " " << (sink.m_q.Type == Flood ? "Flood" : "Famine")
           << " " << sink.m_q.Proportion << " " << sink.m_q.Late << " " << sink.m_q.TimeStamp;
    return os.str();
}

struct CallCase
{
    const char* pszName;
    std::function<std::string(IBaseFilter*, IPin*)> call;  // the outcome as text
    std::string expected;
};

void PrintTo(const CallCase& c, std::ostream* os) { *os << c.pszName; }

class SingleCall : public PlatformGraphTest, public testing::WithParamInterface<CallCase>
{
};

TEST_P(SingleCall, OutcomeIsAsTheTableSays)
{
    EXPECT_EQ(GetParam().call(m_spSource, m_spOut), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Filter, SingleCall,
    testing::Values(
        CallCase{"PropertySetIsReadOnly",
                 [](IBaseFilter*, IPin* pOut) {
                     GUID guid = PIN_CATEGORY_CAPTURE;
                     return Hr(CComQIPtr<IKsPropertySet>(pOut)->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0,
                                                                     &guid, sizeof(guid)));
                 },
                 "0x80004001"},
        CallCase{"MiscFlagsSaySource",
                 [](IBaseFilter* pFilter, IPin*) {
                     return std::to_string(CComQIPtr<IAMFilterMiscFlags>(pFilter)->GetMiscFlags());
                 },
                 "2"},
        CallCase{"NotifyWithoutSinkGoesToTheFilter",
                 [](IBaseFilter* pFilter, IPin* pOut) {
                     return Hr(CComQIPtr<IQualityControl>(pOut)->Notify(pFilter, kFlood));
                 },
                 "0x0"},
        CallCase{"NotifyGoesToTheSink",
                 [](IBaseFilter* pFilter, IPin* pOut) {
                     CComPtr<CQualitySink> spSink;
                     spSink.Attach(new CQualitySink);
                     CComQIPtr<IQualityControl> spQuality(pOut);
                     spQuality->SetSink(spSink);
                     HRESULT hr = spQuality->Notify(pFilter, kFlood);
                     spQuality->SetSink(nullptr);
                     return Hr(hr) + " " + SinkSaw(*spSink, pFilter);
                 },
                 "0x80004004 calls=1 self Flood 700 -5000 123456789"},
        CallCase{"SinkClearedGoesToTheFilterAgain",
                 [](IBaseFilter* pFilter, IPin* pOut) {
                     CComPtr<CQualitySink> spSink;
                     spSink.Attach(new CQualitySink);
                     CComQIPtr<IQualityControl> spQuality(pOut);
                     spQuality->SetSink(spSink);
                     spQuality->SetSink(nullptr);
                     return Hr(spQuality->Notify(pFilter, kFlood)) + " " + SinkSaw(*spSink, pFilter);
                 },
                 "0x0 calls=0"},
        CallCase{"SinkIsHeldWithoutReference",
                 [](IBaseFilter*, IPin* pOut) {
                     CComPtr<CQualitySink> spSink;
                     spSink.Attach(new CQualitySink);
                     CComQIPtr<IQualityControl> spQuality(pOut);
                     const LONG nBefore = spSink->References();
                     spQuality->SetSink(spSink);
                     const LONG nHeld = spSink->References();
                     spQuality->SetSink(nullptr);
                     return std::to_string(nHeld - nBefore);
                 },
                 "0"},
        CallCase{"VendorInfoNotImplemented",
                 [](IBaseFilter* pFilter, IPin*) {
                     LPWSTR psz = nullptr;
                     return Hr(pFilter->QueryVendorInfo(&psz));
                 },
                 "0x80004001"},
        CallCase{"ClassId",
                 [](IBaseFilter* pFilter, IPin*) {
                     CLSID clsid = GUID_NULL;
                     HRESULT hr = pFilter->GetClassID(&clsid);
                     return Hr(hr) + (clsid == CLSID_TestSource ? " CLSID_TestSource" : " other");
                 },
                 "0x0 CLSID_TestSource"},
        CallCase{"ClassIdNull", [](IBaseFilter* pFilter, IPin*) { return Hr(pFilter->GetClassID(nullptr)); },
                 "0x80070057"},
        CallCase{"StateNull", [](IBaseFilter* pFilter, IPin*) { return Hr(pFilter->GetState(0, nullptr)); },
                 "0x80004003"}),
    [](const testing::TestParamInfo<CallCase>& info) { return std::string(info.param.pszName); });
}
