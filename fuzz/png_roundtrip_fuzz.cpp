// libFuzzer target: see oct::fuzz::checkPngRoundTrip in picture_targets.h for
// the input layout and the property. Seeds: corpus/png_roundtrip_fuzz/.
#include <cstddef>
#include <cstdint>

#include "picture_targets.h"
#include "runtime/module.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    oct::modStartAll();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!oct::fuzz::checkPngRoundTrip(data, size)) __builtin_trap();
    return 0;
}
