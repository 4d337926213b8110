// The one place that asks the processor what it runs.
#include "runtime/cpu_features.h"

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace oct {
namespace {

CpuFeatures probe() {
    CpuFeatures f{};
#if defined(__x86_64__)
    // The compiler's answers come from a table its runtime fills in a
    // constructor; a first call from another constructor may come before it.
    __builtin_cpu_init();
    // False too when the system does not save the AVX registers.
    f.avx2 = __builtin_cpu_supports("avx2");
    f.ssse3 = __builtin_cpu_supports("ssse3");
    f.bmi1 = __builtin_cpu_supports("bmi");
    f.bmi2 = __builtin_cpu_supports("bmi2");
    // LZCNT is asked of CPUID itself: not every compiler's feature test knows it.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    f.lzcnt = __get_cpuid(0x80000001u, &eax, &ebx, &ecx, &edx) && (ecx & bit_LZCNT) != 0;
    // AMD processors before Zen 3, families 15h and 17h, run PEXT as
    // microcode, far slower than the shifts and masks it would replace.
    f.fastPext = f.bmi2 && !__builtin_cpu_is("amdfam15h") && !__builtin_cpu_is("amdfam17h");
#endif
    return f;
}

}  // namespace

const CpuFeatures& cpuFeatures() {
    static const CpuFeatures features = probe();
    return features;
}

}  // namespace oct
