// Processor exception guard for POSIX systems: the faults arrive as signals,
// which are caught for the duration of the body and turned into the codes the
// host's platform would report. The handlers in place before are put back.
#include "os/guard.h"

#include <setjmp.h>
#include <signal.h>

#include <mutex>

namespace velvane {
namespace {

constexpr int kSignals[] = {SIGILL, SIGFPE, SIGSEGV, SIGBUS};
constexpr int kSignalCount = sizeof kSignals / sizeof kSignals[0];

struct GuardFrame {
    sigjmp_buf resume;
    volatile uint32_t code;
    GuardFrame *outer;
};

// The innermost guard of this thread; a fault on any other thread is not ours.
thread_local GuardFrame *activeGuard = nullptr;

// Only one thread at a time may have the handlers installed.
std::mutex installLock;
struct sigaction previousActions[kSignalCount];

int signalIndex(int sig)
{
    for (int i = 0; i < kSignalCount; ++i)
        if (kSignals[i] == sig)
            return i;
    return -1;
}

uint32_t exceptionCodeFor(int sig, const siginfo_t *info)
{
    switch (sig) {
    case SIGILL:
        return kExceptionIllegalInstruction;
    case SIGFPE:
        switch (info ? info->si_code : 0) {
        case FPE_INTDIV: return kExceptionIntegerDivideByZero;
        case FPE_FLTDIV: return kExceptionFloatDivideByZero;
        case FPE_FLTOVF: return kExceptionFloatOverflow;
        case FPE_FLTUND: return kExceptionFloatUnderflow;
        case FPE_FLTRES: return kExceptionFloatInexact;
        case FPE_FLTINV: return kExceptionFloatInvalid;
        default: return kExceptionMultipleTraps;
        }
    default:
        return kExceptionAccessViolation;
    }
}

// A signal from a thread that is not inside a guard goes where it would have
// gone without us.
void forwardSignal(int sig, siginfo_t *info, void *uc)
{
    int i = signalIndex(sig);
    if (i < 0)
        return;
    const struct sigaction &prev = previousActions[i];
    if (prev.sa_flags & SA_SIGINFO) {
        if (prev.sa_sigaction)
            prev.sa_sigaction(sig, info, uc);
        return;
    }
    if (prev.sa_handler != SIG_DFL && prev.sa_handler != SIG_IGN) {
        prev.sa_handler(sig);
        return;
    }
    // Default action (an ignored fault would only recur): restore it and let
    // the pending signal take its course once this handler returns.
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);
}

void onSignal(int sig, siginfo_t *info, void *uc)
{
    GuardFrame *guard = activeGuard;
    if (!guard) {
        forwardSignal(sig, info, uc);
        return;
    }
    guard->code = exceptionCodeFor(sig, info);
    siglongjmp(guard->resume, 1);
}

} // namespace

uint32_t runGuarded(GuardedBody body, void *context)
{
    GuardFrame frame;
    frame.code = kExceptionNone;
    frame.outer = activeGuard;
    const bool outermost = frame.outer == nullptr;

    std::unique_lock<std::mutex> lock(installLock, std::defer_lock);
    if (outermost) {
        lock.lock();
        struct sigaction action = {};
        action.sa_sigaction = onSignal;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        for (int i = 0; i < kSignalCount; ++i)
            sigaction(kSignals[i], &action, &previousActions[i]);
    }

    activeGuard = &frame;
    // Saving the signal mask lets the jump back unblock the signal that was
    // being handled.
    if (sigsetjmp(frame.resume, 1) == 0)
        body(context);
    activeGuard = frame.outer;

    if (outermost) {
        for (int i = 0; i < kSignalCount; ++i)
            sigaction(kSignals[i], &previousActions[i], nullptr);
    }
    return frame.code;
}

} // namespace velvane
