// Pictures known by their signature that no decoder of this library reads
// yet, so that a refusal can name what the file is ("a HEIF picture, which
// this system has no codec for") instead of calling it unknown.
#pragma once

#include <cstdint>
#include <span>

namespace oct {

// The name of the format whose signature starts `data` ("HEIF", "AVIF",
// "JPEG XL"), or null when it is none of them. Looks at the first bytes only.
const char* imgForeignFormatName(std::span<const std::uint8_t> data);

// Records that a picture of the named format has no codec on this system
// ("an AVIF picture, which this system has no codec for"), over any reason
// recorded before: that is what the file is. Returns false.
bool imgFailNoCodec(const char* formatName);

}  // namespace oct
