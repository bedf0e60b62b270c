// Processor exception guard for Windows. The mingw compilers have no
// __try/__except, so a vectored exception handler catches the fault: it
// records the code and lets the thread continue in a small routine that
// jumps back to the guard, above the abandoned body.
#include "os/guard.h"

#include <windows.h>

namespace velvane {
namespace {

struct GuardFrame {
    void *resume[5]; // __builtin_setjmp buffer
    volatile uint32_t code;
    DWORD thread;
    GuardFrame *outer;
};

// The innermost guard (one thread at a time holds guards, see installLock).
GuardFrame *volatile activeGuard = nullptr;
volatile LONG installLock = 0;

[[noreturn]] void resumeAfterFault()
{
    __builtin_longjmp(activeGuard->resume, 1);
}

LONG CALLBACK onException(EXCEPTION_POINTERS *info)
{
    GuardFrame *guard = activeGuard;
    if (!guard || guard->thread != GetCurrentThreadId())
        return EXCEPTION_CONTINUE_SEARCH;
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    // Processor faults carry the error severity; breakpoints, debugger
    // notifications and language exceptions are left to their handlers.
    if ((code & 0xC0000000u) != 0xC0000000u)
        return EXCEPTION_CONTINUE_SEARCH;
    guard->code = code;
    // Continue in resumeAfterFault on the faulting thread's stack, below the
    // fault's frame, aligned as right after a call.
    CONTEXT *ctx = info->ContextRecord;
#if defined(_WIN64)
    ctx->Rsp = ((ctx->Rsp - 256) & ~(DWORD64)15) - 8;
    ctx->Rip = (DWORD64)(uintptr_t)&resumeAfterFault;
#else
    ctx->Esp = ((ctx->Esp - 256) & ~(DWORD)15) - 4;
    ctx->Eip = (DWORD)(uintptr_t)&resumeAfterFault;
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

} // namespace

uint32_t runGuarded(GuardedBody body, void *context)
{
    GuardFrame frame;
    frame.code = kExceptionNone;
    frame.thread = GetCurrentThreadId();
    GuardFrame *const outer = activeGuard;
    const bool nested = outer != nullptr && outer->thread == frame.thread;
    void *volatile handler = nullptr;
    if (!nested) {
        while (InterlockedCompareExchange(&installLock, 1, 0) != 0)
            Sleep(0);
        frame.outer = nullptr;
        handler = AddVectoredExceptionHandler(1, onException);
        if (!handler) {
            // Unprotected, the body could bring the host down: report it as
            // not runnable instead.
            InterlockedExchange(&installLock, 0);
            return kExceptionIllegalInstruction;
        }
    } else {
        frame.outer = outer;
    }

    activeGuard = &frame;
    if (__builtin_setjmp(frame.resume) == 0)
        body(context);
    activeGuard = frame.outer;

    if (!nested) {
        RemoveVectoredExceptionHandler(handler);
        InterlockedExchange(&installLock, 0);
    }
    return frame.code;
}

} // namespace velvane
