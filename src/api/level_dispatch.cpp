// Chooses the level codec's versions once, by what the processor runs: AVX2
// where it has it, else SSE2 (every x86-64 processor), else the portable code.
#include "api/level_kernels.h"
#include "runtime/cpu_features.h"

namespace oct::lvl {
namespace {

bool processorRuns(Isa isa) {
    switch (isa) {
    case Isa::kPortable:
        return true;
#if defined(__x86_64__) || defined(_M_X64)
    case Isa::kSse2:
        return true;
    case Isa::kAvx2:
        return cpuFeatures().avx2;
#endif
    default:
        return false;
    }
}

// A version with null members takes the portable ones for those.
Kernels completed(const Kernels& k) {
    const Kernels& p = kPortableKernels;
    return {k.quantize24 ? k.quantize24 : p.quantize24, k.quantize32 ? k.quantize32 : p.quantize32,
            k.decodeGray ? k.decodeGray : p.decodeGray, k.decodeAlpha ? k.decodeAlpha : p.decodeAlpha,
            k.convert24, k.convert32};
}

}  // namespace

bool isaRuns(Isa isa) { return processorRuns(isa); }

Isa bestIsa() {
    static const Isa best = processorRuns(Isa::kAvx2) ? Isa::kAvx2
                            : processorRuns(Isa::kSse2) ? Isa::kSse2
                                                        : Isa::kPortable;
    return best;
}

const Kernels& kernelsFor(Isa isa) {
    static const Kernels sse2 = completed(kSse2Kernels);
    static const Kernels avx2 = completed(kAvx2Kernels);
    if (isa == Isa::kAvx2 && processorRuns(isa)) return avx2;
    if (isa == Isa::kSse2 && processorRuns(isa)) return sse2;
    return kPortableKernels;
}

}  // namespace oct::lvl
