#include "persist/PersistTestClasses.h"

#include <stdio.h>

namespace persisttest
{
namespace
{
std::wstring Text(LPCWSTR pszPrefix, int nSeed)
{
    WCHAR sz[32];
    swprintf(sz, 32, L"%s%04d", pszPrefix, nSeed % 10000);
    return sz;
}

size_t StringLeaf(BSTR bstr)
{
    return bstr ? 4 + SysStringByteLen(bstr) + 2 : 4;
}
}

HRESULT CEveryKind::FinalConstruct()
{
    CComObject<CStreamPart>* pPart = nullptr;
    HRESULT hr = CComObject<CStreamPart>::CreateUnreferenced(&pPart);
    if (FAILED(hr))
        return hr;
    m_pStreamPart = pPart;
    m_spStreamPart = static_cast<IPersistStream*>(pPart);
    return S_OK;
}

void CEveryKind::FinalRelease()
{
    SysFreeString(m_bstrNote);
    m_bstrNote = nullptr;
}

void CEveryKind::Fill(int nSeed)
{
    m_clsid = CLSID_EveryKind;
    m_clsid.Data1 = DWORD(nSeed);
    m_nShort = SHORT(-nSeed);
    for (int i = 0; i < 4; ++i)
        m_anArray[i] = nSeed * 100 + i;
    m_dblLevel = nSeed / 8.0;
    m_part.m_nCount = nSeed + 1;
    m_part.m_cbsLabel = Text(L"part", nSeed).c_str();
    m_pStreamPart->m_guid = CLSID_EveryKind;
    m_pStreamPart->m_guid.Data2 = WORD(nSeed);
    m_partPointed.m_nCount = nSeed + 2;
    m_partPointed.m_cbsLabel = Text(L"pointed", nSeed).c_str();
    m_host.m_part.m_nCount = nSeed + 3;
    m_host.m_part.m_cbsLabel = Text(L"hosted", nSeed).c_str();
    m_cbsName = Text(L"name", nSeed).c_str();
    SysFreeString(m_bstrNote);
    m_bstrNote = SysAllocString(Text(L"note", nSeed).c_str());
}

bool CEveryKind::CanariesIntact() const
{
    return m_dwCanary0 == kCanary && m_dwCanary1 == kCanary && m_dwCanary2 == kCanary &&
           m_dwCanary3 == kCanary && m_dwCanary4 == kCanary && m_part.m_dwTag == kCanary;
}

std::vector<CEveryKind::Leaf> CEveryKind::Leaves() const
{
    return {{sizeof(m_clsid), false},
            {sizeof(m_nShort), false},
            {sizeof(m_anArray), false},
            {sizeof(m_dblLevel), false},
            {sizeof(LONG), false},
            {StringLeaf(m_part.m_cbsLabel), true},
            {sizeof(GUID), false},
            {sizeof(LONG), false},
            {StringLeaf(m_partPointed.m_cbsLabel), true},
            {sizeof(LONG), false},
            {StringLeaf(m_host.m_part.m_cbsLabel), true},
            {StringLeaf(m_cbsName), true},
            {StringLeaf(m_bstrNote), true}};
}
}
