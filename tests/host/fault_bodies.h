// Bodies for the exception guard that really fault, shared by the native
// guard test and the Windows guard check. Each records whether it got past
// its faulting instruction.
#ifndef VELVANE_TESTS_HOST_FAULT_BODIES_H
#define VELVANE_TESTS_HOST_FAULT_BODIES_H

namespace {

struct Trace {
    volatile int before = 0;
    volatile int after = 0;
};

void illegalInstruction(void *p)
{
    auto *t = static_cast<Trace *>(p);
    t->before = 1;
    __asm__ __volatile__("ud2");
    t->after = 1;
}

void unmaskedDivideByZero(void *p)
{
    auto *t = static_cast<Trace *>(p);
    t->before = 1;
    alignas(16) static const float lanes[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    unsigned csr;
    __asm__ __volatile__("stmxcsr %0" : "=m"(csr));
    csr &= ~0x0200u; // divide by zero unmasked
    __asm__ __volatile__("ldmxcsr %0\n\t"
                         "movaps %1, %%xmm0\n\t"
                         "xorps %%xmm1, %%xmm1\n\t"
                         "divps %%xmm1, %%xmm0"
                         :
                         : "m"(csr), "m"(lanes)
                         : "xmm0", "xmm1", "memory");
    t->after = 1;
}

} // namespace

#endif
