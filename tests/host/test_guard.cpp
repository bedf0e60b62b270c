// The exception guard with bodies that really fault.
#include <signal.h>
#include <string.h>
#include <xmmintrin.h>

#include <gtest/gtest.h>

#include "fault_bodies.h"
#include "os/guard.h"

namespace {

using velvane::runGuarded;

void finishes(void *p)
{
    auto *t = static_cast<Trace *>(p);
    t->before = 1;
    t->after = 1;
}

struct Nested {
    uint32_t innerCode = 0;
    volatile int afterInner = 0;
};

void nestedFault(void *p)
{
    auto *n = static_cast<Nested *>(p);
    Trace inner;
    n->innerCode = runGuarded(illegalInstruction, &inner);
    n->afterInner = 1;
    __asm__ __volatile__("ud2");
}

volatile sig_atomic_t ownHandlerCalls = 0;
void ownHandler(int) { ownHandlerCalls = ownHandlerCalls + 1; }

class Guard : public ::testing::Test {
protected:
    unsigned savedCsr = _mm_getcsr();
    void TearDown() override { _mm_setcsr(savedCsr); }
};

TEST_F(Guard, BodyThatFinishesReportsNoException)
{
    Trace t;
    EXPECT_EQ(runGuarded(finishes, &t), velvane::kExceptionNone);
    EXPECT_EQ(t.after, 1);
}

TEST_F(Guard, IllegalInstructionIsCaughtAndTheBodyAbandoned)
{
    Trace t;
    EXPECT_EQ(runGuarded(illegalInstruction, &t), velvane::kExceptionIllegalInstruction);
    EXPECT_EQ(t.before, 1);
    EXPECT_EQ(t.after, 0);
}

TEST_F(Guard, UnmaskedPackedDivideByZeroIsAnotherCode)
{
    Trace t;
    const uint32_t code = runGuarded(unmaskedDivideByZero, &t);
    EXPECT_NE(code, velvane::kExceptionNone);
    EXPECT_NE(code, velvane::kExceptionIllegalInstruction);
    EXPECT_EQ(code, velvane::kExceptionFloatDivideByZero);
    EXPECT_EQ(t.before, 1);
    EXPECT_EQ(t.after, 0);
}

TEST_F(Guard, RepeatedFaultsAreEachCaught)
{
    // A signal left blocked after the first jump back would end the process
    // on the second fault.
    for (int i = 0; i < 50; ++i) {
        Trace t;
        ASSERT_EQ(runGuarded(illegalInstruction, &t), velvane::kExceptionIllegalInstruction) << i;
        _mm_setcsr(savedCsr);
        Trace d;
        ASSERT_EQ(runGuarded(unmaskedDivideByZero, &d), velvane::kExceptionFloatDivideByZero) << i;
    }
    sigset_t blocked;
    ASSERT_EQ(sigprocmask(SIG_BLOCK, nullptr, &blocked), 0);
    EXPECT_FALSE(sigismember(&blocked, SIGILL));
    EXPECT_FALSE(sigismember(&blocked, SIGFPE));
}

TEST_F(Guard, NestedGuardsEachCatchTheirOwnFault)
{
    Nested n;
    EXPECT_EQ(runGuarded(nestedFault, &n), velvane::kExceptionIllegalInstruction);
    EXPECT_EQ(n.innerCode, velvane::kExceptionIllegalInstruction);
    EXPECT_EQ(n.afterInner, 1);
}

TEST_F(Guard, PreviousHandlersAreInForceAfterwards)
{
    struct sigaction own = {}, before[2] = {}, after = {};
    own.sa_handler = ownHandler;
    sigemptyset(&own.sa_mask);
    ASSERT_EQ(sigaction(SIGILL, &own, &before[0]), 0);
    ASSERT_EQ(sigaction(SIGFPE, &own, &before[1]), 0);

    Trace t;
    EXPECT_EQ(runGuarded(illegalInstruction, &t), velvane::kExceptionIllegalInstruction);
    EXPECT_EQ(ownHandlerCalls, 0); // the guard, not the process's handler, saw the fault

    ASSERT_EQ(sigaction(SIGILL, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, &ownHandler);
    ASSERT_EQ(sigaction(SIGFPE, nullptr, &after), 0);
    EXPECT_EQ(after.sa_handler, &ownHandler);
    raise(SIGILL);
    EXPECT_EQ(ownHandlerCalls, 1);

    sigaction(SIGILL, &before[0], nullptr);
    sigaction(SIGFPE, &before[1], nullptr);
}

} // namespace
