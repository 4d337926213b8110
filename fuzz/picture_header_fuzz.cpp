// libFuzzer target: see oct::fuzz::checkPictureHeader in platform_targets.h
// for the input layout and the property. Seeds: corpus/picture_header_fuzz/.
#include <cstddef>
#include <cstdint>

#include "platform_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!oct::fuzz::checkPictureHeader(data, size)) __builtin_trap();
    return 0;
}
