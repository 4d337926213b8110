// The PNG encoder: what a picture's PNG holds is chosen here, the same on
// every system; the platform's encoder compresses it (plat::pngEncode).
#pragma once

#include <cstdint>

#include "encode/encoder.h"

namespace oct {

// Registers the PNG encoder (id kPngFormat) with the encoder registry; false
// when the registry refuses it.
[[nodiscard]] bool imgRegisterPngEncoder();

// Writes rows of `pixelDepth` bits (24 or 32) as a PNG:
//   - at most 256 distinct colours (alpha counted): an indexed PNG at the
//     smallest bit depth of 1, 2, 4 and 8 that holds the palette, with a
//     tRNS chunk for the entries that are not opaque (they come first);
//   - else RGB for 24-bit rows, RGBA with straight alpha for 32-bit rows,
//     8 bits a sample.
// `options.depth` other than kSourceDepth, 24 or 32 is refused. With a file
// name: 1 for success, 0 for failure, written through a temporary file so
// that a failed save leaves an existing file as it was. Without a name: the
// address of a memAlloc block holding the file after its 8-byte size
// (little-endian), or 0; the caller frees it with memFree.
std::int64_t imgPngEncode(const char16_t* fileName, const PixelRows& rows, const EncodeOptions& options,
                          std::int32_t pixelDepth);

// The file in a block that imgPngEncode made without a name: its bytes, and
// their count in `size`.
inline const std::uint8_t* imgPngBlockFile(std::int64_t block, std::uint64_t& size) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(block);
    size = 0;
    for (int i = 0; i < 8; ++i) size |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    return p + 8;
}

}  // namespace oct
