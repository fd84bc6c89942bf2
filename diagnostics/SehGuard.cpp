#include "diagnostics/SehGuard.h"

#include <unwind.h>

// g++ has no __try/__except, so the guard frame is written by hand: a small function whose
// unwind data names TwGuardHandler as its exception handler. The handler takes every
// exception that reaches the frame and unwinds the stack to TwGuardResume inside it.
//
// The frame: 32 bytes of argument home space for the callee, then one 8-byte slot at
// [rsp+32] that holds the outcome: 0 while the callee runs, (1 << 32) | code once the
// handler has taken an exception. The frame has no frame register, so the establisher
// frame the system hands to the handler is rsp after the prologue.
extern "C" UINT64 TwGuardFrame(void (*pfn)(void*), void* pContext);
extern "C" void TwGuardResume();

asm(R"(
    .text
    .globl TwGuardFrame
    .globl TwGuardResume
    .def TwGuardFrame; .scl 2; .type 32; .endef
    .seh_proc TwGuardFrame
TwGuardFrame:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler TwGuardHandler, @except
    movq $0, 32(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
    callq *%rax
    nop                     # the return address stays inside this function
TwGuardResume:
    movq 32(%rsp), %rax
    addq $40, %rsp
    ret
    .seh_endproc
)");

namespace
{
const size_t kOutcomeSlot = 32;
}

extern "C" EXCEPTION_DISPOSITION TwGuardHandler(EXCEPTION_RECORD* pRecord, void* pEstablisherFrame,
                                                 CONTEXT* pContext, DISPATCHER_CONTEXT* pDispatch)
{
    // Unwinds that pass through or end at this frame need nothing from it.
    if (pRecord->ExceptionFlags & EXCEPTION_UNWIND)
        return ExceptionContinueSearch;
    *reinterpret_cast<UINT64*>(static_cast<char*>(pEstablisherFrame) + kOutcomeSlot) =
        (UINT64(1) << 32) | pRecord->ExceptionCode;
    // A g++ frame with cleanups runs them on a landing pad and then resumes the unwind
    // towards the frame that g++'s search phase chose, recorded in the exception object.
    // The search ended here instead, so record this frame as the target, as g++ does for
    // its own catch frames; otherwise the resumed unwind has nowhere to go.
    if (pRecord->ExceptionCode == GCC_CPP_EXCEPTION_CODE && pRecord->NumberParameters >= 1 &&
        pRecord->ExceptionInformation[0] != 0)
    {
        auto* pGccException = reinterpret_cast<_Unwind_Exception*>(pRecord->ExceptionInformation[0]);
        pGccException->private_[1] = reinterpret_cast<_Unwind_Word>(pEstablisherFrame);
        pGccException->private_[2] = reinterpret_cast<_Unwind_Word>(&TwGuardResume);
        pGccException->private_[3] = 0;
        pRecord->NumberParameters = 4;
        for (int i = 1; i < 4; ++i)
            pRecord->ExceptionInformation[i] = pGccException->private_[i];
    }
    RtlUnwindEx(pEstablisherFrame, reinterpret_cast<void*>(&TwGuardResume), pRecord, nullptr, pContext,
                pDispatch->HistoryTable);
    return ExceptionContinueSearch;  // not reached: the unwind resumes in the guard frame
}

bool CallGuarded(void (*pfn)(void*), void* pContext, DWORD* pdwCode)
{
    UINT64 nOutcome = TwGuardFrame(pfn, pContext);
    if (pdwCode != nullptr)
        *pdwCode = DWORD(nOutcome);
    return (nOutcome >> 32) == 0;
}
