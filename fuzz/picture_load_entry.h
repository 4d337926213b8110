// The libFuzzer entry points shared by the per-format picture targets
// (png_fuzz, jpeg_fuzz, gif_fuzz, tiff_fuzz, webp_fuzz): each is this one
// property, oct::fuzz::checkPictureLoad, with its own seeds (scripts/fuzz
// adds the format's pictures of tests/data), so that each campaign stays
// near its format's code.
#pragma once

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
