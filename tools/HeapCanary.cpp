// Heap faults that Wine's heap checking must report, for scripts/check.sh: a run of the tests
// whose heap lines went missing (another channel name, another message) would pass whatever
// the tests did. Everything happens on a heap of its own, which is destroyed afterwards.
#include <windows.h>

int main()
{
    HANDLE hHeap = HeapCreate(0, 0, 0);
    if (hHeap == nullptr)
        return 1;
    // Freed twice.
    void* pTwice = HeapAlloc(hHeap, 0, 24);
    HeapFree(hHeap, 0, pTwice);
    HeapFree(hHeap, 0, pTwice);
    // One byte written past the end; the tail pattern shows it when the heap is checked.
    volatile SIZE_T cb = 24;
    auto* pb = static_cast<volatile BYTE*>(HeapAlloc(hHeap, 0, cb));
    pb[cb] = 0x55;
    HeapValidate(hHeap, 0, nullptr);
    HeapDestroy(hHeap);
    return 0;
}
