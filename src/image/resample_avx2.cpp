// The resampling loops compiled for processors with AVX2 (chosen at run time
// by resample.cpp): four double sums per register instead of two. Fused
// multiply-add stays off (-ffp-contract=off, and FMA is not enabled here), so
// every sum is rounded exactly as in the portable loops.
#include <cstddef>
#include <cstdint>

#include "image/resample.h"

namespace oct {

#if defined(__x86_64__) || defined(_M_X64)

#pragma GCC push_options
#pragma GCC target("avx2")
#define RESAMPLE_LOOPS_NAMESPACE avx2_loops
#include "image/resample_loops.inc"
#undef RESAMPLE_LOOPS_NAMESPACE
#pragma GCC pop_options

const ResampleLoops kAvx2ResampleLoops{avx2_loops::rowsPass, avx2_loops::columnsPass, avx2_loops::columnsPassDirect};

#else

const ResampleLoops kAvx2ResampleLoops = kPortableResampleLoops;

#endif

}  // namespace oct
