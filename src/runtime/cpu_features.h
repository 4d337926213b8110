// What this processor runs, asked of it once for the whole process. The
// fast paths (the level codec's versions, the resampling loops, the LZ block
// decoders) choose by these answers, so all of them see the same processor.
#pragma once

namespace oct {

// The instruction sets the fast paths are built for. Every answer is false
// on processors other than x86-64.
struct CpuFeatures {
    bool avx2;      // AVX2, with the system saving the AVX registers
    bool ssse3;
    bool bmi1;
    bool bmi2;
    bool lzcnt;
    bool fastPext;  // BMI2's PEXT runs in hardware, not as slow microcode; implies bmi2
};

// This processor's answers, probed at the first call (which any thread may
// make, at any time, constructors included) and the same for the life of
// the process.
const CpuFeatures& cpuFeatures();

}  // namespace oct
