// Chooses the level codec's versions once, by what the processor runs: AVX2
// where it has it, else SSE2 (every x86-64 processor), else the portable
// code; in the WebAssembly module its own SIMD version (the SSE2 one runs
// there too, its intrinsics mapped onto the same SIMD by emscripten).
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
#elif defined(__wasm_simd128__)
    case Isa::kSse2:  // its intrinsics through WebAssembly's SIMD
    case Isa::kSimd128:
        return true;
#endif
    default:
        return false;
    }
}

// A version with null members takes those of `p` (the portable ones unless named).
Kernels completed(const Kernels& k, const Kernels& p = kPortableKernels) {
    return {k.quantize24 ? k.quantize24 : p.quantize24, k.quantize32 ? k.quantize32 : p.quantize32,
            k.decodeGray ? k.decodeGray : p.decodeGray, k.decodeAlpha ? k.decodeAlpha : p.decodeAlpha,
            k.convert24, k.convert32};
}

}  // namespace

bool isaRuns(Isa isa) { return processorRuns(isa); }

Isa bestIsa() {
    static const Isa best = processorRuns(Isa::kAvx2)      ? Isa::kAvx2
                            : processorRuns(Isa::kSimd128) ? Isa::kSimd128
                            : processorRuns(Isa::kSse2)    ? Isa::kSse2
                                                           : Isa::kPortable;
    return best;
}

const Kernels& kernelsFor(Isa isa) {
    static const Kernels sse2 = completed(kSse2Kernels);
    static const Kernels avx2 = completed(kAvx2Kernels);
    // WebAssembly's own takes the SSE2 version's decoding, which runs there too.
    static const Kernels simd128 = completed(kSimd128Kernels, completed(kSse2Kernels));
    if (isa == Isa::kAvx2 && processorRuns(isa)) return avx2;
    if (isa == Isa::kSimd128 && processorRuns(isa)) return simd128;
    if (isa == Isa::kSse2 && processorRuns(isa)) return sse2;
    return kPortableKernels;
}

}  // namespace oct::lvl
