#ifndef VELVANE_OS_GUARD_H
#define VELVANE_OS_GUARD_H

#include <stdint.h>

namespace velvane {

// Exception codes as the host's platform reports them. Elsewhere the guard
// translates its signals into the same codes.
constexpr uint32_t kExceptionNone = 0;
constexpr uint32_t kExceptionIllegalInstruction = 0xC000001D;
constexpr uint32_t kExceptionAccessViolation = 0xC0000005;
constexpr uint32_t kExceptionFloatDivideByZero = 0xC000008E;
constexpr uint32_t kExceptionFloatInvalid = 0xC0000090;
constexpr uint32_t kExceptionFloatOverflow = 0xC0000091;
constexpr uint32_t kExceptionFloatUnderflow = 0xC0000093;
constexpr uint32_t kExceptionFloatInexact = 0xC000008F;
constexpr uint32_t kExceptionFloatDenormal = 0xC000008D;
constexpr uint32_t kExceptionIntegerDivideByZero = 0xC0000094;
constexpr uint32_t kExceptionMultipleTraps = 0xC00002B5;

using GuardedBody = void (*)(void *context);

// Runs body(context) on the calling thread under a guard that catches any
// processor exception the body raises (illegal instruction, arithmetic
// fault, protection fault). Returns kExceptionNone when the body finished,
// otherwise the exception code; execution then resumes here, abandoning the
// rest of the body. Whatever the body wrote to memory before the fault stays;
// the body must take no locks and allocate nothing, since it may be cut off
// at any instruction. The process's own exception handling is as before once
// the call returns.
uint32_t runGuarded(GuardedBody body, void *context);

} // namespace velvane

#endif
