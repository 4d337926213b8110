// The pixel rows of a 24- or 32-bit BMP file exactly as stored, and the
// writing of 32-bit rows as a BMP file: for the commands that work on a
// file's own bytes rather than on what the library's BMP decoder makes of
// it (which always gives 24 bits and drops the fourth byte).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "file_io.h"

namespace oct::tool {

struct RawPicture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int bitsPerPixel = 0;              // 24 or 32
    std::vector<std::uint8_t> rows;    // bottom row first, each padded to 4 bytes
};

// The rows of an uncompressed 24-bit BMP (BI_RGB) or 32-bit BMP (BI_RGB, or
// BI_BITFIELDS with red 0xFF0000, green 0xFF00, blue 0xFF), the fourth byte of
// a 32-bit pixel kept whatever the header says of it. Top-down files are
// turned bottom-up. Nothing, with a one-line reason in `error`, for other
// files.
std::optional<RawPicture> readRawBmp(const Bytes& file, std::string& error);

// A 32-bit BMP file: a 54-byte header (BITMAPINFOHEADER, BI_RGB, positive
// height) and then `rows` as given, bottom row first.
Bytes writeBmp32(std::int32_t width, std::int32_t height, const std::uint8_t* rows);

}  // namespace oct::tool
