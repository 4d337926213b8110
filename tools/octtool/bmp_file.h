// BMP files for octtool's commands: pixel rows written through the
// library's BMP encoder, and why a file's stored rows were refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "image/bmp_rows.h"
#include "tool.h"

namespace oct::tool {

// Bytes in front of the rows of a 24- or 32-bit file the encoder writes:
// the 14-byte file header and the 40-byte information header.
inline constexpr std::int64_t kBmpHeadersSize = 54;

// Every call of the library's encoder that octtool makes. Rows of `depth`
// bits (24 or 32), bottom row first, `pitch` bytes apart, as a BMP file of
// that depth whose rows are the given bytes (a 32-bit file keeps the fourth
// byte): with a file name 1 for a saved file, else 0; without one the
// address of a memory block of kBmpHeadersSize + the rows' size (free it
// with memFree), or 0.
std::int64_t toolEncodeBmp(const char16_t* fileName, const std::uint8_t* rows, std::int32_t width,
                           std::int32_t height, std::int32_t pitch, std::int32_t depth);

// The same file written to OUT (a file name or "-") by writeOutput. False
// with `error` set when it cannot be written; false with `error` left empty
// when the encoder refused the rows or had no memory.
bool toolWriteBmp(std::string_view out, const std::uint8_t* rows, std::int32_t width, std::int32_t height,
                  std::int32_t pitch, std::int32_t depth, ToolContext& context, std::string& error);

// The image layer's one-line reason for a refused file (imgStoredBmpReason).
std::string toolStoredBmpReason(const StoredBmp& bmp);

}  // namespace oct::tool
