// A downstream filter of the tests' own, with one input pin that does on request what the
// platform's filters never do: refuses some or all types, offers a type list of its own
// (broken records and endless lists included), offers an allocator that gives less than
// asked, refuses the allocator it is told of, reports allocator requirements, answers
// Receive with S_FALSE or a failure, keeps every buffer, or blocks in Receive until the
// test lets it go.
//
// Switches are plain members: set them before the action that reads them. What the pin
// saw is recorded for the test to read.
#pragma once
#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <functional>
#include <vector>

#include "framework/DSAllocators.h"
#include "framework/DSEnums.h"
#include "framework/DSTypes.h"
#include "support/ComBase.h"
#include "support/ComPtr.h"

// {5C1E7A90-2B4D-4F63-8A17-9D0E3F6B2C48}
const CLSID CLSID_FakeDownstream = {0x5C1E7A90, 0x2B4D, 0x4F63, {0x8A, 0x17, 0x9D, 0x0E, 0x3F, 0x6B, 0x2C, 0x48}};

// One entry of the pin's own type list, built raw so that it can break the record's rules:
// cbFormat is what the record claims, the block holds what it really has.
struct CFakeType
{
    GUID majortype = MEDIATYPE_Audio;
    GUID subtype = MEDIASUBTYPE_PCM;
    GUID formattype = FORMAT_WaveFormatEx;
    ULONG cbFormat = 0;
    std::vector<BYTE> block;  // empty: pbFormat null

    // 16-bit PCM at the given rate and channel count, with a consistent 18-byte block.
    static CFakeType Pcm(DWORD nRate, WORD nChannels = 2);
};

// How the pin's media-type enumerator answers.
enum class EFakeTypeList
{
    Listed,        // the entries of m_types, then S_FALSE
    NullType,      // Next: S_OK, one fetched, no record
    NoneFetched,   // Next: S_OK, none fetched, no record
    Endless,       // Next: S_OK with another video type, forever
    NextFails,     // Next: E_UNEXPECTED
    NoEnumerator,  // EnumMediaTypes: S_OK with no enumerator
    EnumFails,     // EnumMediaTypes: E_OUTOFMEMORY
};

// An allocator that wraps one of ours and bends what SetProperties reports.
class CFakeAllocator : public CComObjectRootEx<CComMultiThreadModel>, public IMemAllocator
{
public:
    BEGIN_COM_MAP(CFakeAllocator)
        COM_INTERFACE_ENTRY(IMemAllocator)
    END_COM_MAP()

    HRESULT FinalConstruct();
    void FinalRelease();

    STDMETHOD(SetProperties)(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
    STDMETHOD(GetProperties)(ALLOCATOR_PROPERTIES* pProps) override;
    STDMETHOD(Commit)() override { return m_spInner->Commit(); }
    STDMETHOD(Decommit)() override { return m_spInner->Decommit(); }
    STDMETHOD(GetBuffer)(IMediaSample** pp, REFERENCE_TIME* pStart, REFERENCE_TIME* pEnd, DWORD dwFlags) override;
    STDMETHOD(ReleaseBuffer)(IMediaSample* pSample) override { return m_spInner->ReleaseBuffer(pSample); }

    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
    STDMETHOD_(ULONG, AddRef)() override = 0;
    STDMETHOD_(ULONG, Release)() override = 0;

    // Switches: 0 keeps the inner allocator's answer.
    LONG m_nMaxBuffers = 0;      // reports at most this many buffers
    LONG m_cbMaxBuffer = 0;      // reports buffers of at most this size
    LONG m_cbReportAlign = 0;    // reports this alignment
    // Records.
    ALLOCATOR_PROPERTIES m_propsRequested = {};
    LONG m_nSetProperties = 0;

    // Waits until a GetBuffer has found no free buffer; false after dwMs.
    bool WaitNoBuffer(DWORD dwMs = 30000) { return WaitForSingleObject(m_hNoBuffer, dwMs) == WAIT_OBJECT_0; }

private:
    void Bend(ALLOCATOR_PROPERTIES* pProps) const;

    CComPtr<IMemAllocator> m_spInner;
    HANDLE m_hNoBuffer = nullptr;  // auto-reset
};

class CFakeDownstream;

class CFakeInputPin : public CComObjectRootEx<CComMultiThreadModel>, public IPin, public IMemInputPin
{
public:
    // IPin, and IMemInputPin unless m_bNoMemInput.
    HRESULT _InternalQueryInterface(REFIID riid, void** ppv);

    HRESULT FinalConstruct();
    void FinalRelease();

    // IPin
    STDMETHOD(Connect)(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHOD(ReceiveConnection)(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    STDMETHOD(Disconnect)() override;
    STDMETHOD(ConnectedTo)(IPin** ppPin) override;
    STDMETHOD(ConnectionMediaType)(AM_MEDIA_TYPE* pmt) override;
    STDMETHOD(QueryPinInfo)(PIN_INFO* pInfo) override;
    STDMETHOD(QueryDirection)(PIN_DIRECTION* pPinDir) override;
    STDMETHOD(QueryId)(LPWSTR* Id) override;
    STDMETHOD(QueryAccept)(const AM_MEDIA_TYPE* pmt) override;
    STDMETHOD(EnumMediaTypes)(IEnumMediaTypes** ppEnum) override;
    STDMETHOD(QueryInternalConnections)(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHOD(EndOfStream)() override { return S_OK; }
    STDMETHOD(BeginFlush)() override { return S_OK; }
    STDMETHOD(EndFlush)() override { return S_OK; }
    STDMETHOD(NewSegment)(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IMemInputPin
    STDMETHOD(GetAllocator)(IMemAllocator** ppAllocator) override;
    STDMETHOD(NotifyAllocator)(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    STDMETHOD(GetAllocatorRequirements)(ALLOCATOR_PROPERTIES* pProps) override;
    STDMETHOD(Receive)(IMediaSample* pSample) override;
    STDMETHOD(ReceiveMultiple)(IMediaSample** ppSamples, long nSamples, long* pnProcessed) override;
    STDMETHOD(ReceiveCanBlock)() override { return S_OK; }

    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
    STDMETHOD_(ULONG, AddRef)() override = 0;
    STDMETHOD_(ULONG, Release)() override = 0;

    // Makes the following Receive calls block until ReleaseReceive.
    void BlockReceive()
    {
        ResetEvent(m_hRelease);
        m_bBlock = true;
    }
    // Lets a Receive that blocks (or that will block) return; later ones do not block.
    void ReleaseReceive()
    {
        m_bBlock = false;
        SetEvent(m_hRelease);
    }
    // Waits until a blocking Receive has been entered; false after dwMs.
    bool WaitInReceive(DWORD dwMs = 30000) { return WaitForSingleObject(m_hInReceive, dwMs) == WAIT_OBJECT_0; }
    // Waits until Receive has been entered nSamples times in all; false after dwMs.
    bool WaitReceived(LONG nSamples, DWORD dwMs = 30000);
    // Waits until QueryAccept has been entered; false after dwMs.
    bool WaitInQueryAccept(DWORD dwMs = 30000) { return WaitForSingleObject(m_hInQueryAccept, dwMs) == WAIT_OBJECT_0; }
    // Drops the samples that Receive kept.
    void DropKeptSamples();
    bool IsConnected();

    // ------------------------------------------------------------ switches
    // Types
    PIN_DIRECTION m_eDirection = PINDIR_INPUT;
    HRESULT m_hrQueryDirection = S_OK;
    EFakeTypeList m_eTypeList = EFakeTypeList::Listed;
    std::vector<CFakeType> m_types;
    DWORD m_nAcceptRate = 0;                 // ReceiveConnection and QueryAccept: only this rate (0: any audio)
    HRESULT m_hrRefuse = VFW_E_TYPE_NOT_ACCEPTED;  // ReceiveConnection's answer to a refused type
    HRESULT m_hrQueryAccept = S_OK;          // QueryAccept's answer to a type of the accepted rate
    bool m_bQueryAcceptWaitsForReceive = false;  // QueryAccept takes the lock that Receive holds
    bool m_bDisconnectCallsBack = false;     // Disconnect calls the upstream pin's Disconnect
    // Allocator
    bool m_bNoMemInput = false;              // IMemInputPin is not answered
    HRESULT m_hrGetAllocator = S_OK;         // S_OK: the fake allocator (or none, below)
    bool m_bGetAllocatorGivesNull = false;   // S_OK with no allocator
    HRESULT m_hrRequirements = E_NOTIMPL;
    ALLOCATOR_PROPERTIES m_propsRequirements = {};
    HRESULT m_hrNotifyOwn = S_OK;            // NotifyAllocator's answer for the fake allocator
    HRESULT m_hrNotifyOther = S_OK;          // and for any other allocator
    // Delivery
    std::atomic<HRESULT> m_hrReceive{S_OK};
    std::atomic<bool> m_bKeepSamples{false};  // Receive keeps a reference to every sample
    bool m_bReceiveCallsBack = false;        // Receive asks the upstream pin for its peer and its type
    std::function<void(IMediaSample*)> m_fnOnReceive;  // sees every sample first; set while stopped

    // ------------------------------------------------------------ records
    CComObject<CFakeAllocator>* m_pAllocator = nullptr;  // the allocator it offers; counted
    std::vector<CMType> m_typesReceived;     // every type offered to ReceiveConnection, in order
    CComPtr<IMemAllocator> m_spNotified;     // the allocator NotifyAllocator accepted last
    BOOL m_bNotifiedReadOnly = TRUE;
    LONG m_nNotifyCalls = 0;
    std::atomic<LONG> m_nDisconnects{0};
    std::atomic<LONG> m_nTypesEnumerated{0};  // records handed out by Next
    std::atomic<LONG> m_nReceived{0};
    std::atomic<HRESULT> m_hrCallBack{S_OK};  // the last failure of a callback from Receive
    std::vector<CMType> m_sampleTypes;        // the types samples carried, in order (under m_csRecords)
    std::vector<LONG> m_sampleTypeAt;         // the sample number of each
    CComCriticalSection m_csRecords;         // the sample records and the kept samples

    CFakeDownstream* m_pFilter = nullptr;     // not counted: the filter owns the pin

private:
    friend class CFakeTypeEnum;
    bool Acceptable(const AM_MEDIA_TYPE* pmt) const;

    CComPtr<IPin> m_spConnected;
    CMType m_mtConnection;
    CComCriticalSection m_csReceive;
    std::vector<CComPtr<IMediaSample>> m_kept;
    std::atomic<bool> m_bBlock{false};  // Receive signals m_hInReceive and waits for m_hRelease
    HANDLE m_hInReceive = nullptr;  // auto-reset
    HANDLE m_hReceivedOne = nullptr;  // auto-reset: set by every Receive
    HANDLE m_hInQueryAccept = nullptr;  // auto-reset
    HANDLE m_hRelease = nullptr;    // manual-reset
};

class CFakeDownstream : public CComObjectRootEx<CComMultiThreadModel>, public IBaseFilter
{
public:
    BEGIN_COM_MAP(CFakeDownstream)
        COM_INTERFACE_ENTRY(IBaseFilter)
        COM_INTERFACE_ENTRY2(IMediaFilter, IBaseFilter)
        COM_INTERFACE_ENTRY2(IPersist, IBaseFilter)
    END_COM_MAP()

    // A new filter held by one reference in *pp.
    static HRESULT Create(CComObject<CFakeDownstream>** pp);

    HRESULT FinalConstruct();
    void FinalRelease();

    // IPersist
    STDMETHOD(GetClassID)(CLSID* pClassID) override;
    // IMediaFilter: a renderer lets a blocked Receive go when it stops.
    STDMETHOD(Stop)() override;
    STDMETHOD(Pause)() override;
    STDMETHOD(Run)(REFERENCE_TIME) override;
    STDMETHOD(GetState)(DWORD, FILTER_STATE* pState) override;
    STDMETHOD(SetSyncSource)(IReferenceClock*) override { return S_OK; }
    STDMETHOD(GetSyncSource)(IReferenceClock** ppClock) override;
    // IBaseFilter
    STDMETHOD(EnumPins)(IEnumPins** ppEnum) override;
    STDMETHOD(FindPin)(LPCWSTR Id, IPin** ppPin) override;
    STDMETHOD(QueryFilterInfo)(FILTER_INFO* pInfo) override;
    STDMETHOD(JoinFilterGraph)(IFilterGraph* pGraph, LPCWSTR pName) override;
    STDMETHOD(QueryVendorInfo)(LPWSTR*) override { return E_NOTIMPL; }

    STDMETHOD(QueryInterface)(REFIID, void**) override = 0;
    STDMETHOD_(ULONG, AddRef)() override = 0;
    STDMETHOD_(ULONG, Release)() override = 0;

    // The pin enumerator's source.
    HRESULT GetPin(LONG nIndex, IPin** ppPin);

    CComObject<CFakeInputPin>* m_pPin = nullptr;  // one reference
    FILTER_STATE m_eState = State_Stopped;
    IFilterGraph* m_pGraph = nullptr;  // not counted
};
