// The BMP encoder: uncompressed Windows bitmaps with a 40-byte info header
// (docs/formats/bmp.md), written to a file or built in a memory block.
#pragma once

#include <cstdint>

#include "encode/encoder.h"

namespace oct {

// Registers the BMP encoder (id kBmpFormat) with the encoder registry; false
// when the registry refuses it.
[[nodiscard]] bool imgRegisterBmpEncoder();

// Writes rows of `pixelDepth` bits (24 or 32) as a BMP of `options.depth`
// bits: 24 or 32, or 1, 4 and 8 with a palette made by palette reduction
// (palette.h), where `options.flags` bit 0x100 asks for error diffusion; any
// other depth is refused before anything is made. With a file name:
// 1 for success, 0 for failure — the file is written under a temporary name
// and moved over the target only when complete, so a failed save leaves an
// existing file as it was. Without a name: the address of a memAlloc block
// of exactly the file's size (the caller frees it with memFree), or 0.
std::int64_t imgBmpEncode(const char16_t* fileName, const PixelRows& rows, const EncodeOptions& options,
                          std::int32_t pixelDepth);

}  // namespace oct
