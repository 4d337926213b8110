// The BMP decoder (docs/formats/bmp.md): Windows bitmap files of 1, 4, 8, 16,
// 24 and 32 bits per pixel, uncompressed or 8-bit run-length encoded, with the
// 40-byte (or longer) information header or the 12-byte core header, decoded
// into 24-bit pixels. The file's bit count becomes the image's source depth.
#pragma once

#include <cstdint>
#include <span>

#include "image/decoder.h"

namespace oct {

// The decoder's id and the format of the images it reads: "B", "M", "P", 0.
constexpr std::uint32_t kBmpDecoderId = 0x504D42;

// Module start step "bmp codec": registers the BMP decoder, then the BMP encoder.
void imgStartBmpCodec();

// 1 when the context's data is a BMP file that this decoder can turn into a
// bitmap, else 0. Refused: data that ends before the header fields it reads,
// a signature other than "BM", nonzero reserved words, an information header
// shorter than 16 bytes other than the 12-byte core header, a width of 0 or
// less, a height of 0, a bit count of 0 or above 32, and a picture whose
// 24-bit bitmap would reach kMaxDibSectionBytes. On acceptance the context
// holds the width, the height as a positive row count (a top-down file is
// decoded upright), depth 24 and the file's bit count as source depth.
int imgBmpCheck(DecodeContext& context);

// Writes the accepted file's picture into a 24-bit bitmap (see imgBmpToRgb24).
// 1 on success; 0 only when the bitmap's rows are too short for the width.
int imgBmpDecode(DecodeContext& context, std::uint8_t* bits, std::int32_t rowBytes, std::int32_t flags);

// Frees the private buffer, if the check set one, and clears it.
void imgBmpCleanup(DecodeContext& context);

// Converts the pixels of the BMP file in `file` into 3-byte pixels (blue,
// green, red) of a bitmap of the file's width and row count, whose first
// stored row starts at `bits` and whose rows are `rowBytes` (at least
// 3 × width) apart. With kDecodeBottomUp in `flags` the bitmap is taken as
// bottom-up, else as top-down; either way the picture comes out upright, for
// bottom-up and top-down files alike. Pixels the file does not describe stay
// as they are (black in a fresh bitmap): rows missing at the end of the data,
// layouts this decoder does not convert (4-bit RLE, 16-bit with compression
// other than 0 or 3, bit counts other than 1, 4, 8, 16, 24, 32), and RLE
// pixels that fall outside the picture. False when the file's headers are
// not acceptable to imgBmpCheck.
bool imgBmpToRgb24(std::span<const std::uint8_t> file, std::uint8_t* bits, std::int64_t rowBytes, std::int32_t flags);

}  // namespace oct
