// Processor classification against scripted processors this machine is not,
// and against the real one.
#include <cpuid.h>
#include <string.h>
#include <xmmintrin.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/capability.h"
#include "host/entry_points.h"
#include "host/module_state.h"

namespace {

using velvane::moduleInstance;

using velvane::CpuidResult;
using velvane::ProcessorAccess;
using Events = std::vector<std::string>;

constexpr uint32_t kMmx = 1u << 23, kSse = 1u << 25, kSse2 = 1u << 26, k3dNow = 1u << 31;

enum class Fault { None, IllegalInstruction, DivideByZero };

// A processor described by its CPUID answers and by how its two probe
// instructions behave; every question asked of it is logged.
struct ScriptedProcessor {
    bool idFlagFlips = true;
    std::map<uint32_t, CpuidResult> leaves;
    Fault sseInstruction = Fault::None;
    Fault unmaskedDivide = Fault::DivideByZero;
    Events events;

    void vendor(const char (&name)[13], uint32_t maxLeaf = 1)
    {
        CpuidResult r = {maxLeaf, 0, 0, 0};
        memcpy(&r.ebx, name, 4);
        memcpy(&r.edx, name + 4, 4);
        memcpy(&r.ecx, name + 8, 4);
        leaves[0] = r;
    }
    void leaf1Edx(uint32_t edx) { leaves[1] = CpuidResult{0x673, 0, 0, edx}; }
    void extended(uint32_t maxExtended, uint32_t edx = 0)
    {
        leaves[0x80000000] = CpuidResult{maxExtended, 0, 0, 0};
        leaves[0x80000001] = CpuidResult{0, 0, 0, edx};
    }
};

ScriptedProcessor *current = nullptr;

void raiseFault(Fault f)
{
    if (f == Fault::IllegalInstruction) {
        __asm__ __volatile__("ud2");
    } else if (f == Fault::DivideByZero) {
        alignas(16) static const float lanes[4] = {1.0f, 2.0f, 3.0f, 4.0f};
        unsigned csr;
        __asm__ __volatile__("stmxcsr %0" : "=m"(csr));
        csr &= ~0x0200u;
        __asm__ __volatile__("ldmxcsr %0\n\t"
                             "movaps %1, %%xmm0\n\t"
                             "xorps %%xmm1, %%xmm1\n\t"
                             "divps %%xmm1, %%xmm0"
                             :
                             : "m"(csr), "m"(lanes)
                             : "xmm0", "xmm1", "memory");
    }
}

bool scriptedIdFlag()
{
    current->events.push_back("id");
    return current->idFlagFlips;
}

CpuidResult scriptedCpuid(uint32_t function)
{
    char name[24];
    snprintf(name, sizeof name, "cpuid %x", function);
    current->events.push_back(name);
    auto it = current->leaves.find(function);
    return it == current->leaves.end() ? CpuidResult{0, 0, 0, 0} : it->second;
}

void scriptedSse()
{
    current->events.push_back("sse");
    raiseFault(current->sseInstruction);
}

void scriptedDivide()
{
    current->events.push_back("divide");
    raiseFault(current->unmaskedDivide);
}

const ProcessorAccess scripted = {scriptedIdFlag, scriptedCpuid, scriptedSse, scriptedDivide};

class Capability : public ::testing::Test {
protected:
    ScriptedProcessor cpu;
    unsigned savedCsr = _mm_getcsr();

    void SetUp() override
    {
        current = &cpu;
        velvane::useProcessor(&scripted);
    }
    void TearDown() override
    {
        velvane::useProcessor(nullptr);
        velvane::exitFilter(nullptr);
        current = nullptr;
        _mm_setcsr(savedCsr);
    }

    // A Pentium 4 class processor: Intel, MMX, SSE, SSE2.
    void modernIntel()
    {
        cpu.vendor("GenuineIntel");
        cpu.leaf1Edx(kMmx | kSse | kSse2);
        cpu.extended(0x80000008);
    }
    int32_t levelAfterInit()
    {
        moduleInstance.cpuLevel = -7;
        EXPECT_EQ(velvane::initFilter(nullptr), 1);
        return moduleInstance.cpuLevel;
    }
    bool probed() const
    {
        for (const auto &e : cpu.events)
            if (e == "sse" || e == "divide")
                return true;
        return false;
    }
};

TEST_F(Capability, NoIdFlagMeansLevelZeroWithoutCpuid)
{
    modernIntel();
    cpu.idFlagFlips = false;
    EXPECT_EQ(velvane::cpuCapabilityLevel(), 0);
    EXPECT_EQ(cpu.events, Events{"id"});
    cpu.events.clear();
    EXPECT_EQ(levelAfterInit(), 0);
    EXPECT_EQ(cpu.events, Events{"id"}); // no CPUID and no probe either
}

TEST_F(Capability, SseReportedIsLevelTwoFromFunctionOneAlone)
{
    modernIntel();
    EXPECT_EQ(velvane::cpuCapabilityLevel(), 2);
    EXPECT_EQ(cpu.events, (Events{"id", "cpuid 1"}));
}

TEST_F(Capability, ThreeDNowWithoutSseIsLevelOneAndDisablesProcessing)
{
    cpu.vendor("AuthenticAMD");
    cpu.leaf1Edx(kMmx);
    cpu.extended(0x80000005, k3dNow);
    EXPECT_EQ(velvane::cpuCapabilityLevel(), 1);
    EXPECT_EQ(cpu.events, (Events{"id", "cpuid 1", "cpuid 80000000", "cpuid 80000001"}));
    cpu.events.clear();
    EXPECT_EQ(levelAfterInit(), 1);
    EXPECT_FALSE(probed()); // the probes run only for level 2
}

TEST_F(Capability, NoSseNo3DNowIsLevelZero)
{
    cpu.leaf1Edx(kMmx);
    cpu.extended(0x80000005, 0);
    EXPECT_EQ(velvane::cpuCapabilityLevel(), 0);
}

TEST_F(Capability, ExtendedFunctionBelowIsNeverExecuted)
{
    cpu.leaf1Edx(kMmx);
    cpu.extended(0x80000000, k3dNow);
    EXPECT_EQ(velvane::cpuCapabilityLevel(), 0);
    EXPECT_EQ(cpu.events, (Events{"id", "cpuid 1", "cpuid 80000000"}));

    // A processor without extended functions echoes some standard leaf; the
    // comparison is unsigned, so a small value is below the threshold too.
    cpu.events.clear();
    cpu.extended(4, k3dNow);
    EXPECT_EQ(velvane::cpuCapabilityLevel(), 0);
    EXPECT_EQ(cpu.events, (Events{"id", "cpuid 1", "cpuid 80000000"}));
}

TEST_F(Capability, NonIntelWithSseIsLevelTwo)
{
    cpu.vendor("AuthenticAMD");
    cpu.leaf1Edx(kMmx | kSse | kSse2);
    cpu.extended(0x80000008, k3dNow);
    EXPECT_EQ(velvane::cpuCapabilityLevel(), 2);
    const int32_t mask = velvane::osFeatureMask();
    EXPECT_EQ(mask & velvane::PROBE_INTEL_SSE, 0);
    EXPECT_NE(mask & velvane::PROBE_SSE_RUNS, 0);
    EXPECT_EQ(levelAfterInit(), 2);
}

TEST_F(Capability, SseThatDoesNotRunIsLevelZero)
{
    modernIntel();
    cpu.sseInstruction = Fault::IllegalInstruction;
    cpu.unmaskedDivide = Fault::IllegalInstruction;
    const int32_t mask = velvane::osFeatureMask();
    EXPECT_EQ(mask, velvane::PROBE_MMX | velvane::PROBE_INTEL_SSE);
    EXPECT_EQ(levelAfterInit(), 0);
}

TEST_F(Capability, SseWithoutSse2IsLevelZero)
{
    // An Athlon XP or Pentium III: SSE runs, but every build uses SSE2.
    cpu.vendor("AuthenticAMD");
    cpu.leaf1Edx(kMmx | kSse);
    cpu.extended(0x80000008, k3dNow);
    EXPECT_EQ(velvane::cpuCapabilityLevel(), 2);
    EXPECT_EQ(levelAfterInit(), 0);
}

TEST_F(Capability, ProbesRunInOrderMmxIntelSseExecutionSimdException)
{
    modernIntel();
    EXPECT_EQ(velvane::osFeatureMask(), velvane::PROBE_MMX | velvane::PROBE_INTEL_SSE | velvane::PROBE_SSE_RUNS |
                                            velvane::PROBE_SIMD_EXCEPTIONS);
    EXPECT_EQ(cpu.events, (Events{"cpuid 1", "cpuid 0", "cpuid 1", "sse", "divide"}));

    // Another vendor: function 1 is not asked again for the Intel-SSE probe.
    cpu.events.clear();
    cpu.vendor("AuthenticAMD");
    EXPECT_EQ(velvane::osFeatureMask(), velvane::PROBE_MMX | velvane::PROBE_SSE_RUNS | velvane::PROBE_SIMD_EXCEPTIONS);
    EXPECT_EQ(cpu.events, (Events{"cpuid 1", "cpuid 0", "sse", "divide"}));
}

TEST_F(Capability, InitialisationProbesOnceAfterCpuid)
{
    modernIntel();
    EXPECT_EQ(levelAfterInit(), 2);
    ASSERT_GE(cpu.events.size(), 7u);
    EXPECT_EQ(Events(cpu.events.begin(), cpu.events.begin() + 7),
              (Events{"id", "cpuid 1", "cpuid 1", "cpuid 0", "cpuid 1", "sse", "divide"}));
}

TEST_F(Capability, IntelSseProbeComparesAllTwelveVendorBytes)
{
    modernIntel();
    cpu.vendor("GenuineIntex");
    EXPECT_EQ(velvane::osFeatureMask() & velvane::PROBE_INTEL_SSE, 0);
    cpu.vendor("GenuineIntel");
    cpu.leaf1Edx(kMmx | kSse2); // Intel, but SSE not reported
    EXPECT_EQ(velvane::osFeatureMask() & velvane::PROBE_INTEL_SSE, 0);
}

TEST_F(Capability, MmxProbeReadsEdxBit23)
{
    modernIntel();
    cpu.leaf1Edx(kSse | kSse2);
    EXPECT_EQ(velvane::osFeatureMask() & velvane::PROBE_MMX, 0);
    cpu.leaf1Edx(kMmx);
    EXPECT_NE(velvane::osFeatureMask() & velvane::PROBE_MMX, 0);
}

TEST_F(Capability, SimdExceptionProbeTellsIllegalInstructionApart)
{
    modernIntel();
    cpu.unmaskedDivide = Fault::DivideByZero;
    EXPECT_NE(velvane::osFeatureMask() & velvane::PROBE_SIMD_EXCEPTIONS, 0);
    cpu.unmaskedDivide = Fault::None; // no fault at all still counts
    EXPECT_NE(velvane::osFeatureMask() & velvane::PROBE_SIMD_EXCEPTIONS, 0);
    cpu.unmaskedDivide = Fault::IllegalInstruction;
    EXPECT_EQ(velvane::osFeatureMask() & velvane::PROBE_SIMD_EXCEPTIONS, 0);
}

TEST_F(Capability, CallersMxcsrIsPutBackAfterTheDivideFaults)
{
    modernIntel();
    // Round toward zero, flush to zero, inexact flag raised: nothing default.
    const unsigned unusual = 0x1F80u | 0x6000u | 0x8000u | 0x0020u;
    for (Fault f : {Fault::DivideByZero, Fault::IllegalInstruction, Fault::None}) {
        cpu.unmaskedDivide = f;
        _mm_setcsr(unusual);
        velvane::osFeatureMask();
        EXPECT_EQ(_mm_getcsr(), unusual) << static_cast<int>(f);
    }
}

// The real processor of this machine.

TEST(NativeCapability, ThisMachineIsLevelTwoAndRunsSse)
{
    EXPECT_EQ(velvane::cpuCapabilityLevel(), 2);
    unsigned a, b, c, d;
    ASSERT_TRUE(__get_cpuid(0, &a, &b, &c, &d));
    const bool intel = b == 0x756E6547 && d == 0x49656E69 && c == 0x6C65746E; // "Genu" "ineI" "ntel"
    const int32_t mask = velvane::osFeatureMask();
    EXPECT_EQ(mask & ~15, 0);
    EXPECT_NE(mask & velvane::PROBE_MMX, 0);
    EXPECT_NE(mask & velvane::PROBE_SSE_RUNS, 0);
    EXPECT_NE(mask & velvane::PROBE_SIMD_EXCEPTIONS, 0);
    EXPECT_EQ((mask & velvane::PROBE_INTEL_SSE) != 0, intel);
    EXPECT_TRUE(velvane::sse2Reported());
}

uint64_t flagsRegister()
{
    uint64_t flags;
    __asm__ __volatile__("add $-128, %%rsp\n\t"
                         "pushfq\n\t"
                         "popq %0\n\t"
                         "sub $-128, %%rsp"
                         : "=r"(flags)
                         :
                         : "cc");
    return flags;
}

TEST(NativeCapability, IdFlagFlipsAndIsPutBack)
{
    constexpr uint64_t kId = 0x00200000;
    for (int i = 0; i < 3; ++i) {
        const uint64_t before = flagsRegister() & kId;
        EXPECT_TRUE(velvane::nativeProcessor().idFlagFlips()) << i;
        EXPECT_EQ(flagsRegister() & kId, before) << i;
    }
}

TEST(NativeCapability, InitialisationLeavesMxcsrUnchanged)
{
    const unsigned saved = _mm_getcsr();
    const unsigned values[] = {saved, 0x1F80u, 0x1F80u | 0x6000u | 0x8000u | 0x0020u, 0x1F80u | 0x0040u | 0x2000u};
    for (unsigned v : values) {
        _mm_setcsr(v);
        EXPECT_EQ(velvane::initFilter(nullptr), 1);
        EXPECT_EQ(_mm_getcsr(), v);
        EXPECT_EQ(moduleInstance.cpuLevel, 2);
        EXPECT_EQ(velvane::exitFilter(nullptr), 1);
    }
    _mm_setcsr(saved);
}

} // namespace
