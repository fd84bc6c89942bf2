// Map-driven persistence through the platform's memory streams: the stream format, the
// round trip of every entry kind, the dirty flag and the failure paths.
#include <gtest/gtest.h>
#include <shlwapi.h>

#include "persist/LimitedStream.h"
#include "persist/PersistTestClasses.h"
#include "persist/StreamHelpers.h"

using namespace persisttest;

namespace
{
// What a plain entry may hold: every byte a meaningful part of the value.
struct CPadded
{
    char c;
    int n;
};
struct CPacked
{
    DWORD dw;
    WORD aw[2];
};
static_assert(PersistPlainField<GUID>() && PersistPlainField<WORD>() && PersistPlainField<DWORD[32]>() &&
              PersistPlainField<double[32]>() && PersistPlainField<CPacked>());
static_assert(!PersistPlainField<bool>() && !PersistPlainField<bool[4]>() && !PersistPlainField<CPadded>() &&
              !PersistPlainField<int*>() && !PersistPlainField<int* [2]>());

// A 4-byte field and a string, as in the smallest real maps.
class CNamed : public CPersistedObject<CNamed>
{
public:
    BEGIN_PERSIST_MAP(CNamed)
        PERSIST_ENTRY(m_nValue)
        PERSIST_ENTRY_BSTR(m_cbsName)
    END_PERSIST_MAP()

    LONG m_nValue = 0;
    CComBSTR m_cbsName;
};

// A single 4-byte field.
class COneField : public CPersistedObject<COneField>
{
public:
    BEGIN_PERSIST_MAP(COneField)
        PERSIST_ENTRY(m_nValue)
    END_PERSIST_MAP()

    LONG m_nValue = 0x01020304;
};

// An interface entry and a pointer entry whose targets the tests choose.
class CLinks : public CPersistedObject<CLinks>
{
public:
    BEGIN_PERSIST_MAP(CLinks)
        PERSIST_ENTRY_INTERFACE(m_pUnk)
        PERSIST_ENTRY_POINTER(m_pPart)
    END_PERSIST_MAP()

    IUnknown* m_pUnk = nullptr;
    CPart* m_pPart = nullptr;
};

Bytes Saved(IPersistStream* pPersist, BOOL fClearDirty = TRUE)
{
    CComPtr<IStream> spStm = EmptyStream();
    EXPECT_EQ(pPersist->Save(spStm, fClearDirty), S_OK);
    return AllBytes(spStm);
}

ULONGLONG SizeMax(IPersistStream* pPersist)
{
    ULARGE_INTEGER uli = {};
    EXPECT_EQ(pPersist->GetSizeMax(&uli), S_OK);
    return uli.QuadPart;
}

std::wstring Str(BSTR bstr)
{
    return bstr ? std::wstring(bstr, SysStringLen(bstr)) : L"<null>";
}
}

// ---------------------------------------------------------------- every kind

TEST(PersistRoundTrip, EveryEntryKindComesBack)
{
    CEveryKind* pSrc = nullptr;
    CEveryKind* pDst = nullptr;
    CComPtr<IPersistStream> spSrc = CreatePersisted(&pSrc);
    CComPtr<IPersistStream> spDst = CreatePersisted(&pDst);
    ASSERT_TRUE(spSrc && spDst);
    pSrc->Fill(11);
    pDst->Fill(22);

    Bytes bytes = Saved(spSrc);
    size_t cbLeaves = 0;
    for (const CEveryKind::Leaf& leaf : pSrc->Leaves())
        cbLeaves += leaf.cb;
    EXPECT_EQ(bytes.size(), cbLeaves);
    EXPECT_EQ(SizeMax(spSrc), bytes.size());

    CComPtr<IStream> spStm = StreamFrom(bytes);
    ASSERT_EQ(spDst->Load(spStm), S_OK);
    EXPECT_EQ(Position(spStm), bytes.size());
    EXPECT_TRUE(InlineIsEqualGUID(pDst->m_clsid, pSrc->m_clsid));
    EXPECT_EQ(pDst->m_nShort, pSrc->m_nShort);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(pDst->m_anArray[i], pSrc->m_anArray[i]);
    EXPECT_EQ(pDst->m_dblLevel, pSrc->m_dblLevel);
    EXPECT_EQ(pDst->m_part.m_nCount, pSrc->m_part.m_nCount);
    EXPECT_EQ(Str(pDst->m_part.m_cbsLabel), Str(pSrc->m_part.m_cbsLabel));
    EXPECT_TRUE(InlineIsEqualGUID(pDst->StreamPart()->m_guid, pSrc->StreamPart()->m_guid));
    EXPECT_EQ(pDst->m_partPointed.m_nCount, pSrc->m_partPointed.m_nCount);
    EXPECT_EQ(Str(pDst->m_partPointed.m_cbsLabel), Str(pSrc->m_partPointed.m_cbsLabel));
    EXPECT_EQ(pDst->m_host.m_part.m_nCount, pSrc->m_host.m_part.m_nCount);
    EXPECT_EQ(Str(pDst->m_host.m_part.m_cbsLabel), Str(pSrc->m_host.m_part.m_cbsLabel));
    EXPECT_EQ(pDst->m_host.m_dblOther, 0.0);
    EXPECT_EQ(Str(pDst->m_cbsName), Str(pSrc->m_cbsName));
    EXPECT_EQ(Str(pDst->m_bstrNote), Str(pSrc->m_bstrNote));
    EXPECT_TRUE(pDst->CanariesIntact());
    EXPECT_EQ(Saved(spDst), bytes);
}

TEST(PersistRoundTrip, PlainFieldsAreTheirRawBytesInMapOrder)
{
    CEveryKind* pObject = nullptr;
    CComPtr<IPersistStream> spObject = CreatePersisted(&pObject);
    pObject->Fill(3);
    Bytes expected;
    Append(expected, pObject->m_clsid);
    Append(expected, pObject->m_nShort);
    Append(expected, pObject->m_anArray);
    Append(expected, pObject->m_dblLevel);
    Append(expected, pObject->m_part.m_nCount);
    Bytes bytes = Saved(spObject);
    ASSERT_GE(bytes.size(), expected.size());
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + expected.size()), expected);
}

TEST(PersistRoundTrip, GetClassIdAndNullArguments)
{
    CEveryKind* pObject = nullptr;
    CComPtr<IPersistStream> spObject = CreatePersisted(&pObject);
    CLSID clsid = {};
    EXPECT_EQ(spObject->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(InlineIsEqualGUID(clsid, CLSID_EveryKind));
    EXPECT_EQ(spObject->GetClassID(nullptr), E_INVALIDARG);
    EXPECT_EQ(spObject->GetSizeMax(nullptr), E_POINTER);
    EXPECT_EQ(spObject->Load(nullptr), E_INVALIDARG);
    EXPECT_EQ(spObject->Save(nullptr, TRUE), E_INVALIDARG);
}

// ---------------------------------------------------------------- strings

struct StringCase
{
    const char* pszName;
    const wchar_t* pszValue;  // null: a null BSTR
    UINT cch;
    std::vector<BYTE> stored;
    ULONG cbSizeMax;
};

class PersistStringFormat : public testing::TestWithParam<StringCase>
{
};

TEST_P(PersistStringFormat, SavesTheCountedFormAndLoadsItBack)
{
    const StringCase& c = GetParam();
    CNamed* pSrc = nullptr;
    CComPtr<IPersistStream> spSrc = CreatePersisted(&pSrc);
    pSrc->m_nValue = 7;
    pSrc->m_cbsName.Attach(c.pszValue ? SysAllocStringLen(c.pszValue, c.cch) : nullptr);
    Bytes expected;
    Append(expected, LONG(7));
    expected.insert(expected.end(), c.stored.begin(), c.stored.end());
    EXPECT_EQ(Saved(spSrc), expected);
    EXPECT_EQ(SizeMax(spSrc), 4 + c.cbSizeMax);

    CNamed* pDst = nullptr;
    CComPtr<IPersistStream> spDst = CreatePersisted(&pDst);
    pDst->m_cbsName = L"old";
    CComPtr<IStream> spStm = StreamFrom(expected);
    ASSERT_EQ(spDst->Load(spStm), S_OK);
    EXPECT_EQ(Position(spStm), expected.size());
    EXPECT_EQ(Str(pDst->m_cbsName), Str(pSrc->m_cbsName));
}

INSTANTIATE_TEST_SUITE_P(
    Strings, PersistStringFormat,
    testing::Values(StringCase{"Null", nullptr, 0, {0, 0, 0, 0}, 6},
                    StringCase{"Empty", L"", 0, {2, 0, 0, 0, 0, 0}, 6},
                    StringCase{"Ab", L"ab", 2, {6, 0, 0, 0, 0x61, 0, 0x62, 0, 0, 0}, 10},
                    StringCase{"EmbeddedZero", L"a\0b", 3, {8, 0, 0, 0, 0x61, 0, 0, 0, 0x62, 0, 0, 0}, 12}),
    [](const testing::TestParamInfo<StringCase>& info) { return std::string(info.param.pszName); });

struct BadStringCase
{
    const char* pszName;
    Bytes stored;          // after the 4-byte field
    HRESULT hrExpected;
    ULONGLONG cbConsumedMax;  // of the whole stream
};

class PersistStringRefused : public testing::TestWithParam<BadStringCase>
{
};

TEST_P(PersistStringRefused, FailsCleanlyAndKeepsTheOldString)
{
    const BadStringCase& c = GetParam();
    CNamed* pDst = nullptr;
    CComPtr<IPersistStream> spDst = CreatePersisted(&pDst);
    pDst->m_cbsName = L"old";
    Bytes bytes;
    Append(bytes, LONG(7));
    bytes.insert(bytes.end(), c.stored.begin(), c.stored.end());
    CComPtr<IStream> spStm = StreamFrom(bytes);
    EXPECT_EQ(spDst->Load(spStm), c.hrExpected);
    EXPECT_LE(Position(spStm), c.cbConsumedMax);
    EXPECT_EQ(Str(pDst->m_cbsName), L"old");
    EXPECT_EQ(pDst->m_nValue, 7);  // loaded before the failing entry
}

Bytes Count(ULONG cb, Bytes data = {})
{
    Bytes bytes;
    Append(bytes, cb);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Strings, PersistStringRefused,
    testing::Values(BadStringCase{"NoCount", {}, E_FAIL, 4},
                    BadStringCase{"HalfACount", {6, 0}, E_FAIL, 6},
                    BadStringCase{"CountOne", Count(1, {0, 0}), E_FAIL, 8},
                    BadStringCase{"OddCount", Count(3, {0x61, 0, 0, 0}), E_FAIL, 8},
                    BadStringCase{"OddLargeCount", Count(0xFFFFF, Bytes(0x100000)), E_FAIL, 8},
                    BadStringCase{"TooLarge", Count(0x100002, Bytes(0x100002)), E_ACCESSDENIED, 8},
                    BadStringCase{"Negative", Count(0xFFFFFFFE, {0, 0}), E_ACCESSDENIED, 8},
                    BadStringCase{"MinimumInt", Count(0x80000000, {0, 0}), E_ACCESSDENIED, 8},
                    BadStringCase{"DataEndsEarly", Count(6, {0x61, 0, 0x62, 0}), E_FAIL, 12},
                    BadStringCase{"MaximumDataEndsEarly", Count(0x100000, Bytes(0x1000)), E_FAIL, 8 + 0x1000},
                    BadStringCase{"NoTerminator", Count(6, {0x61, 0, 0x62, 0, 0x63, 0}), E_FAIL, 14},
                    BadStringCase{"HalfATerminator", Count(4, {0x61, 0, 0, 0x20}), E_FAIL, 12}),
    [](const testing::TestParamInfo<BadStringCase>& info) { return std::string(info.param.pszName); });

TEST(PersistString, TheLargestCountIsAccepted)
{
    CNamed* pDst = nullptr;
    CComPtr<IPersistStream> spDst = CreatePersisted(&pDst);
    Bytes data(0x100000, 0x41);
    data[data.size() - 1] = 0;
    data[data.size() - 2] = 0;
    Bytes bytes;
    Append(bytes, LONG(7));
    Append(bytes, ULONG(0x100000));
    bytes.insert(bytes.end(), data.begin(), data.end());
    ASSERT_EQ(spDst->Load(StreamFrom(bytes)), S_OK);
    EXPECT_EQ(pDst->m_cbsName.Length(), 0x100000u / 2 - 1);
    EXPECT_EQ(Saved(spDst), bytes);
}

TEST(PersistString, SaveRefusesWhatLoadWouldRefuse)
{
    CNamed* pSrc = nullptr;
    CComPtr<IPersistStream> spSrc = CreatePersisted(&pSrc);
    // One character more than the largest count allows.
    pSrc->m_cbsName.Attach(SysAllocStringLen(nullptr, 0x100000 / 2));
    CComPtr<IStream> spStm = EmptyStream();
    EXPECT_EQ(spSrc->Save(spStm, TRUE), E_ACCESSDENIED);
    EXPECT_EQ(AllBytes(spStm).size(), 4u);  // the field before it only

    pSrc->m_cbsName.Attach(SysAllocStringByteLen("abc", 3));
    spStm = EmptyStream();
    EXPECT_EQ(spSrc->Save(spStm, TRUE), E_FAIL);
}

// ---------------------------------------------------------------- plain fields and the dirty flag

TEST(PersistPlainField, OneFourByteField)
{
    COneField* pObject = nullptr;
    CComPtr<IPersistStream> spObject = CreatePersisted(&pObject);
    EXPECT_EQ(SizeMax(spObject), 4u);
    EXPECT_EQ(Saved(spObject), (Bytes{4, 3, 2, 1}));

    for (bool bDirty : {false, true})
    {
        pObject->SetDirty(bDirty);
        CComPtr<IStream> spStm = StreamFrom({9, 9, 9});
        EXPECT_EQ(spObject->Load(spStm), E_FAIL);
        EXPECT_EQ(pObject->m_nValue, 0x01020304);  // a short read changes nothing
        EXPECT_EQ(spObject->IsDirty(), bDirty ? S_OK : S_FALSE);
    }
    EXPECT_EQ(spObject->Load(StreamFrom({1, 0, 0, 0})), S_OK);
    EXPECT_EQ(pObject->m_nValue, 1);
    EXPECT_EQ(spObject->IsDirty(), S_FALSE);
}

TEST(PersistDirty, PlainFieldsAreNotConsulted)
{
    COneField* pObject = nullptr;
    CComPtr<IPersistStream> spObject = CreatePersisted(&pObject);
    pObject->m_nValue = 12345;
    EXPECT_EQ(spObject->IsDirty(), S_FALSE);
    pObject->SetDirty(true);
    EXPECT_EQ(spObject->IsDirty(), S_OK);
    Saved(spObject, FALSE);
    EXPECT_EQ(spObject->IsDirty(), S_OK);
    Saved(spObject, TRUE);
    EXPECT_EQ(spObject->IsDirty(), S_FALSE);
}

TEST(PersistDirty, NestedObjectsAreConsultedAndClearedBySave)
{
    CEveryKind* pObject = nullptr;
    CComPtr<IPersistStream> spObject = CreatePersisted(&pObject);
    pObject->Fill(1);
    EXPECT_EQ(spObject->IsDirty(), S_FALSE);

    CPart* apParts[] = {&pObject->m_part, &pObject->m_partPointed, &pObject->m_host.m_part};
    for (CPart* pPart : apParts)
    {
        pPart->SetDirty(true);
        EXPECT_EQ(spObject->IsDirty(), S_OK);
        Saved(spObject, FALSE);
        EXPECT_EQ(spObject->IsDirty(), S_OK);
        Saved(spObject, TRUE);
        EXPECT_EQ(spObject->IsDirty(), S_FALSE);
    }
    pObject->StreamPart()->SetDirty(true);
    EXPECT_EQ(spObject->IsDirty(), S_OK);
    Saved(spObject, TRUE);
    EXPECT_EQ(spObject->IsDirty(), S_FALSE);
}

// ---------------------------------------------------------------- nested objects that are missing

TEST(PersistLinks, AnObjectWithoutIPersistStreamFailsEveryOperation)
{
    CLinks* pObject = nullptr;
    CComPtr<IPersistStream> spObject = CreatePersisted(&pObject);
    CPart part;
    pObject->m_pPart = &part;
    CComObject<CNotPersistable>* pOther = nullptr;
    ASSERT_EQ(CComObject<CNotPersistable>::CreateUnreferenced(&pOther), S_OK);
    CComPtr<IPersist> spOther(pOther);

    for (IUnknown* pUnk : {static_cast<IUnknown*>(spOther), static_cast<IUnknown*>(nullptr)})
    {
        pObject->m_pUnk = pUnk;
        EXPECT_EQ(spObject->Load(StreamFrom(Bytes(64))), E_NOINTERFACE);
        EXPECT_EQ(spObject->Save(EmptyStream(), TRUE), E_NOINTERFACE);
        ULARGE_INTEGER uli = {};
        EXPECT_EQ(spObject->GetSizeMax(&uli), E_FAIL);
        EXPECT_EQ(spObject->IsDirty(), S_OK);
    }
}

TEST(PersistLinks, ANullObjectPointerFailsEveryOperation)
{
    CLinks* pObject = nullptr;
    CComPtr<IPersistStream> spObject = CreatePersisted(&pObject);
    CStreamPart* pPart = nullptr;
    CComPtr<IPersistStream> spPart = CreatePersisted(&pPart);
    pObject->m_pUnk = spPart;
    pObject->m_pPart = nullptr;
    EXPECT_EQ(spObject->Load(StreamFrom(Bytes(64))), E_POINTER);
    EXPECT_EQ(spObject->Save(EmptyStream(), TRUE), E_POINTER);
    ULARGE_INTEGER uli = {};
    EXPECT_EQ(spObject->GetSizeMax(&uli), E_FAIL);
    EXPECT_EQ(spObject->IsDirty(), S_OK);

    CPart part;
    pObject->m_pPart = &part;
    EXPECT_EQ(SizeMax(spObject), 16u + 4u + 6u);  // a null string reports 6
    EXPECT_EQ(spObject->IsDirty(), S_FALSE);
}

// A linked object that reports whatever size the test gives it.
class CSizedLink : public CComObjectRoot, public IPersistStream
{
public:
    BEGIN_COM_MAP(CSizedLink)
        COM_INTERFACE_ENTRY(IPersistStream)
    END_COM_MAP()
    STDMETHOD(GetClassID)(CLSID* pClassID) override
    {
        *pClassID = CLSID_NULL;
        return S_OK;
    }
    STDMETHOD(IsDirty)() override { return S_FALSE; }
    STDMETHOD(Load)(IStream*) override { return S_OK; }
    STDMETHOD(Save)(IStream*, BOOL) override { return S_OK; }
    STDMETHOD(GetSizeMax)(ULARGE_INTEGER* pcbSize) override
    {
        pcbSize->QuadPart = m_ullSize;
        return S_OK;
    }
    ULONGLONG m_ullSize = 0;
};

// A 4-byte field, then the linked object.
class CFieldAndLink : public CPersistedObject<CFieldAndLink>
{
public:
    BEGIN_PERSIST_MAP(CFieldAndLink)
        PERSIST_ENTRY(m_nValue)
        PERSIST_ENTRY_INTERFACE(m_pUnk)
    END_PERSIST_MAP()

    LONG m_nValue = 0;
    IUnknown* m_pUnk = nullptr;
};

struct LinkSizeCase
{
    const char* pszName;
    ULONGLONG ullLinked;
    HRESULT hrExpected;
    ULONGLONG ullExpected;
};

class PersistLinkSize : public testing::TestWithParam<LinkSizeCase>
{
};

// The sum must not wrap: a linked size near the 64-bit maximum makes the size unknown.
TEST_P(PersistLinkSize, SumIsTheFieldAndTheLinkedSizeOrUnknown)
{
    const LinkSizeCase& c = GetParam();
    CFieldAndLink* pObject = nullptr;
    CComPtr<IPersistStream> spObject = CreatePersisted(&pObject);
    CComObject<CSizedLink>* pLink = nullptr;
    ASSERT_EQ(CComObject<CSizedLink>::CreateUnreferenced(&pLink), S_OK);
    CComPtr<IPersistStream> spLink(pLink);
    pLink->m_ullSize = c.ullLinked;
    pObject->m_pUnk = spLink;

    ULARGE_INTEGER uli = {};
    EXPECT_EQ(spObject->GetSizeMax(&uli), c.hrExpected);
    if (c.hrExpected == S_OK)
    {
        EXPECT_EQ(uli.QuadPart, c.ullExpected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PersistLinkSize,
    testing::Values(LinkSizeCase{"Small", 10, S_OK, 14}, LinkSizeCase{"LargestThatFits", 0xFFFFFFFA, S_OK, 0xFFFFFFFE},
                    LinkSizeCase{"SumReachesUnknown", 0xFFFFFFFB, E_FAIL, 0},
                    LinkSizeCase{"HighPartSet", 0x100000000, E_FAIL, 0},
                    LinkSizeCase{"SumWouldWrapTo3", ~0ULL, E_FAIL, 0},
                    LinkSizeCase{"SumWouldWrapTo0", ~0ULL - 3, E_FAIL, 0}),
    [](const testing::TestParamInfo<LinkSizeCase>& info) { return std::string(info.param.pszName); });

// ---------------------------------------------------------------- streams that fail

TEST(PersistFailingStream, EveryShortWriteFails)
{
    CEveryKind* pObject = nullptr;
    CComPtr<IPersistStream> spObject = CreatePersisted(&pObject);
    pObject->Fill(5);
    const size_t cbAll = Saved(spObject).size();
    for (ULONG cbBudget = 0; cbBudget < cbAll; ++cbBudget)
    {
        pObject->SetDirty(true);
        CComPtr<IStream> spInner = EmptyStream();
        CComPtr<IStream> spLimited;
        spLimited.Attach(new CLimitedStream(spInner, cbBudget));
        EXPECT_EQ(spObject->Save(spLimited, TRUE), E_FAIL) << "budget " << cbBudget;
        EXPECT_EQ(spObject->IsDirty(), S_OK);
        EXPECT_EQ(AllBytes(spInner).size(), cbBudget);
    }
}

TEST(PersistFailingStream, SuccessCodesOtherThanOkAreFailures)
{
    CNamed* pObject = nullptr;
    CComPtr<IPersistStream> spObject = CreatePersisted(&pObject);
    pObject->m_cbsName = L"x";
    CComPtr<IStream> spSaving;
    spSaving.Attach(new CLimitedStream(EmptyStream(), 1000, S_FALSE));
    EXPECT_EQ(spObject->Save(spSaving, TRUE), E_FAIL);

    Bytes bytes = Saved(spObject);
    pObject->m_nValue = 99;
    CComPtr<IStream> spLoading;
    spLoading.Attach(new CLimitedStream(StreamFrom(bytes), 1000, S_FALSE));
    EXPECT_EQ(spObject->Load(spLoading), E_FAIL);
    EXPECT_EQ(pObject->m_nValue, 99);
}

TEST(PersistFailingStream, AReadOnlyFileStreamPassesItsFailureOn)
{
    WCHAR szDir[MAX_PATH];
    WCHAR szPath[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, szDir), 0u);
    ASSERT_NE(GetTempFileNameW(szDir, L"tws", 0, szPath), 0u);
    CComPtr<IStream> spFile;
    ASSERT_EQ(SHCreateStreamOnFileEx(szPath, STGM_READ | STGM_SHARE_DENY_NONE, FILE_ATTRIBUTE_NORMAL, FALSE,
                                     nullptr, &spFile),
              S_OK);
    COneField* pObject = nullptr;
    CComPtr<IPersistStream> spObject = CreatePersisted(&pObject);
    pObject->SetDirty(true);
    HRESULT hr = spObject->Save(spFile, TRUE);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(spObject->IsDirty(), S_OK);
    EXPECT_EQ(spObject->Load(spFile), E_FAIL);  // the file is empty
    spFile.Release();
    DeleteFileW(szPath);
}
