// The BMP encoder: uncompressed Windows bitmaps with a 40-byte info header
// (docs/formats/bmp.md), written to a file or built in a memory block.
#pragma once

#include <cstdint>

namespace oct {

// Registers the BMP encoder (id 0x504D42) with the encoder registry.
void imgRegisterBmpEncoder();

// The registered entries: imgBmpEncode with pixel depth 24 or 32.
std::int64_t imgBmpEncode24(const char16_t* fileName, const std::uint8_t* pixels, std::int32_t width,
                            std::int32_t height, std::int32_t pitch, std::int32_t mode, std::int32_t flags,
                            std::int32_t depth);
std::int64_t imgBmpEncode32(const char16_t* fileName, const std::uint8_t* pixels, std::int32_t width,
                            std::int32_t height, std::int32_t pitch, std::int32_t mode, std::int32_t flags,
                            std::int32_t depth);

// Writes rows of `pixelDepth` bits (24 or 32) as a BMP of `depth` bits:
// 24 or 32, or 1, 4 and 8 with a palette made by palette reduction
// (palette.h), where `flags` bit 0x100 asks for error diffusion; any other
// depth is refused before anything is made. With a file name:
// 1 for success, 0 for failure — the file is written under a temporary name
// and moved over the target only when complete, so a failed save leaves an
// existing file as it was. Without a name: the address of a memAlloc block
// of exactly the file's size (the caller frees it with memFree), or 0.
std::int64_t imgBmpEncode(const char16_t* fileName, const std::uint8_t* pixels, std::int32_t width,
                          std::int32_t height, std::int32_t pitch, std::int32_t mode, std::int32_t flags,
                          std::int32_t depth, std::int32_t pixelDepth);

}  // namespace oct
