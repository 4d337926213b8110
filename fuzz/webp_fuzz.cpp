// libFuzzer target: see oct::fuzz::checkPictureLoad in picture_targets.h for
// the property. Seeds: corpus/webp_fuzz/ and the WebP pictures of tests/data.
#include <cstddef>
#include <cstdint>

#include "picture_targets.h"
#include "runtime/module.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    oct::modStartAll();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!oct::fuzz::checkPictureLoad(data, size)) __builtin_trap();
    return 0;
}
