// libFuzzer target: see oct::fuzz::checkLevelFile in level_targets.h.
// Seeds: corpus/level_file_fuzz/.
#include <cstddef>
#include <cstdint>

#include "level_targets.h"
#include "runtime/module.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    oct::modStartAll();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!oct::fuzz::checkLevelFile(data, size)) __builtin_trap();
    return 0;
}
