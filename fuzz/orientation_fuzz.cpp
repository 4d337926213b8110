// libFuzzer target: see oct::fuzz::checkOrientation in picture_targets.h for
// the input layout and the property. Seeds: corpus/orientation_fuzz/.
#include <cstddef>
#include <cstdint>

#include "picture_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!oct::fuzz::checkOrientation(data, size)) __builtin_trap();
    return 0;
}
