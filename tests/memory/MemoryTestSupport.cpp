#include "memory/MemoryTestSupport.h"

#include <stdio.h>

namespace memtest
{
void RunWithWatchdog(const char* pszScenario, DWORD dwTimeoutMs, const std::function<void()>& fn)
{
    CThread thread(fn);
    if (!thread.Join(dwTimeoutMs))
    {
        fprintf(stderr, "\nWATCHDOG: scenario \"%s\" did not finish within %lu ms: deadlock. Ending the test program.\n",
                pszScenario, static_cast<unsigned long>(dwTimeoutMs));
        fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
}

CThread::CThread(std::function<void()> fn) : m_fn(std::move(fn))
{
    m_hThread = CreateThread(nullptr, 0, &CThread::Proc, this, 0, nullptr);
}

CThread::~CThread()
{
    Join();
}

bool CThread::Join(DWORD dwTimeoutMs)
{
    if (m_hThread == nullptr)
        return true;
    if (WaitForSingleObject(m_hThread, dwTimeoutMs) != WAIT_OBJECT_0)
        return false;
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    return true;
}

DWORD WINAPI CThread::Proc(void* pv)
{
    static_cast<CThread*>(pv)->m_fn();
    return 0;
}

void MemoryTest::SetUp()
{
    m_nBlocksBefore = CBufferOnVirtualAlloc::LiveBlocks();
    m_nObjectsBefore = CComModuleCount::GetLockCount();
    CTaskMemorySpy::Instance().Begin();
}

void MemoryTest::TearDown()
{
    EXPECT_EQ(CBufferOnVirtualAlloc::LiveBlocks(), m_nBlocksBefore) << "a virtual-memory block was not returned";
    EXPECT_EQ(CComModuleCount::GetLockCount(), m_nObjectsBefore) << "an allocator or sample object is still alive";
    EXPECT_EQ(CTaskMemorySpy::Instance().LiveBlocks(), 0u) << "task-memory blocks leaked";
    EXPECT_EQ(CTaskMemorySpy::Instance().DoubleFrees(), 0u) << "task-memory blocks freed twice";
}

CComPtr<IMemAllocator> NewAllocator()
{
    CComPtr<IMemAllocator> spAlloc;
    EXPECT_EQ(CMemoryAllocator::CreateInstance(&spAlloc), S_OK);
    return spAlloc;
}

CComPtr<IMemAllocator> NewAllocator(LONG cBuffers, LONG cbBuffer, bool bCommit, LONG cbAlign, LONG cbPrefix)
{
    CComPtr<IMemAllocator> spAlloc = NewAllocator();
    if (!spAlloc)
        return spAlloc;
    ALLOCATOR_PROPERTIES request = {cBuffers, cbBuffer, cbAlign, cbPrefix};
    ALLOCATOR_PROPERTIES actual = {};
    EXPECT_EQ(spAlloc->SetProperties(&request, &actual), S_OK);
    if (bCommit)
    {
        EXPECT_EQ(spAlloc->Commit(), S_OK);
    }
    return spAlloc;
}

CMemoryAllocator* Concrete(IMemAllocator* pAlloc)
{
    // IMemAllocator is the first interface of the object: the pointer is the object's.
    return static_cast<CMemoryAllocator*>(static_cast<IMemAllocatorCallbackTemp*>(pAlloc));
}

std::vector<std::wstring> SinkLines(const testsink::CSinkReader& sink)
{
    std::vector<std::wstring> lines;
    for (const std::wstring& event : sink.Events())
    {
        if (event.size() < 1 || event[0] != L'L')
            continue;
        std::wstring text = event.substr(1);
        // "ESC level TAG: text"; assertion reports come without a head.
        if (!text.empty() && text[0] == 0x1B)
        {
            size_t iTag = text.find(L": ");
            text = iTag == std::wstring::npos ? text : text.substr(iTag + 2);
        }
        lines.push_back(text);
    }
    return lines;
}

bool SinkHas(const testsink::CSinkReader& sink, const std::wstring& text)
{
    for (const std::wstring& line : SinkLines(sink))
        if (line.find(text) != std::wstring::npos)
            return true;
    return false;
}

bool CAllocatorLockProbe::Check()
{
    ++m_nChecks;
    IMemAllocatorCallbackTemp* pAlloc = m_pAlloc;
    std::atomic<HRESULT>* phr = &m_hrLast;
    auto asker = std::make_unique<CThread>([pAlloc, phr] {
        LONG n = 0;
        *phr = pAlloc->GetFreeCount(&n);
    });
    // Generous: the asker needs the lock for a moment only, unless this thread holds it.
    if (asker->Join(5000))
        return true;
    ++m_nHeld;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stuck.push_back(std::move(asker));
    return false;
}

COM_DECLSPEC_NOTHROW STDMETHODIMP CNotifyCounter::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (InlineIsEqualGUID(riid, IID_IUnknown) || InlineIsEqualGUID(riid, IID_IMemAllocatorNotifyCallbackTemp))
    {
        *ppv = static_cast<IMemAllocatorNotifyCallbackTemp*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}
}
