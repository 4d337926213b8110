// libFuzzer target: see oct::fuzz::checkIconDirectory in image_targets.h for the input
// layout and the property. Seeds: corpus/icon_fuzz/.
#include <cstddef>
#include <cstdint>

#include "image_targets.h"
#include "runtime/module.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    oct::modStartAll();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!oct::fuzz::checkIconDirectory(data, size)) __builtin_trap();
    return 0;
}
