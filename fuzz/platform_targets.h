// The property of the picture-header fuzz target, as a plain function that
// the libFuzzer entry and the seed replay test both call. False when the
// property is broken; a crash or sanitizer report is a failure too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/picture_header.h"
#include "platform/pictures.h"

namespace oct::fuzz {

// Input: the format (first byte, modulo 5), then the picture's bytes, copied
// so that a read past their end is caught. A header that is read must
// declare at least one frame, a depth of at least one bit and sizes that are
// not negative; the limits check must agree with the declared sizes.
inline bool checkPictureHeader(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return true;
    const auto format = static_cast<plat::PictureFormat>(data[0] % 8);
    const std::vector<std::uint8_t> bytes(data + 1, data + size);
    plat::PictureHeader header;
    if (!plat::pictureHeaderRead(format, bytes.empty() ? nullptr : bytes.data(), bytes.size(), header)) return true;
    if (header.frameCount < 1 || header.width < 0 || header.height < 0 || header.frameArea < 0) return false;
    const plat::PictureLimits limits{.maxSide = 32767, .maxBytes = std::int64_t{1} << 31, .maxFrames = 1000};
    const bool within = plat::pictureHeaderWithin(header, limits);
    return !within || (header.width >= 1 && header.width <= limits.maxSide && header.height >= 1 &&
                       header.height <= limits.maxSide);
}

}  // namespace oct::fuzz
