#include "runtime/cpu_features.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "api/level_kernels.h"
#include "pack/lz_block.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace oct {
namespace {

#if defined(__x86_64__)
// LZCNT's encoding runs as BSR on a processor without it, which gives the
// index of the highest set bit instead of the count of zeros above it: for 1,
// 0 rather than 31. So the instruction itself tells whether the CPUID bit
// was read right, on any x86-64 processor.
[[gnu::target("lzcnt")]] std::uint32_t lzcntOfOne() {
    volatile std::uint32_t one = 1;
    return _lzcnt_u32(one);
}
#endif

TEST(CpuFeatures, LzcntAnswerMatchesWhatTheInstructionDoes) {
#if defined(__x86_64__)
    EXPECT_EQ(lzcntOfOne() == 31, cpuFeatures().lzcnt) << "lzcnt(1) gave " << lzcntOfOne();
#else
    EXPECT_FALSE(cpuFeatures().lzcnt);
    GTEST_SKIP() << "no x86-64 here";
#endif
}

// Each fast path runs only where the processor has every instruction set
// its build uses.
TEST(CpuFeatures, FastPathsRunOnlyWithWhatTheyUse) {
    const CpuFeatures& cpu = cpuFeatures();
    const struct {
        const char* what;
        bool runs, has;
    } cases[] = {
        {"PEXT called fast", cpu.fastPext, cpu.bmi2},
        {"LZ shuffle decoder", detail::decoderRuns(detail::LzDecoder::kShuffle), cpu.ssse3 && cpu.lzcnt},
        {"LZ PEXT decoder", detail::decoderRuns(detail::LzDecoder::kPext), cpu.ssse3 && cpu.lzcnt && cpu.bmi2},
        {"AVX2 level codec", lvl::isaRuns(lvl::Isa::kAvx2), cpu.avx2},
    };
    for (const auto& k : cases) EXPECT_TRUE(!k.runs || k.has) << k.what;
}

}  // namespace
}  // namespace oct
