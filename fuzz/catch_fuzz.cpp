// libFuzzer target: see oct::fuzz::checkCatch in catch_targets.h. Seeds:
// corpus/catch_fuzz/ (level files) and regressions/catch_fuzz/; scripts/fuzz
// adds the BMP and icon files of tests/data.
#include <cstddef>
#include <cstdint>

#include "catch_targets.h"
#include "runtime/module.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    oct::modStartAll();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!oct::fuzz::checkCatch(data, size)) __builtin_trap();
    return 0;
}
