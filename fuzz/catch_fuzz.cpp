// libFuzzer target: see oct::fuzz::checkCatch in catch_targets.h. Seeds:
// corpus/catch_fuzz/ (level files); the test command adds the shared corpus's
// BMP and icon files.
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
