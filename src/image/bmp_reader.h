// The BMP decoder (docs/formats/bmp.md): Windows bitmap files of 1, 2, 4, 8,
// 16, 24 and 32 bits per pixel, uncompressed, 8- or 4-bit run-length encoded,
// or with bit-field masks, with the 40-byte (or longer) information header or
// the 12-byte core header, decoded into 24-bit pixels. The file's bit count
// becomes the image's source depth.
#pragma once

#include <cstdint>
#include <span>

#include "image/decoder.h"
#include "image/formats.h"

namespace oct {

// Module start step "bmp codec": registers the BMP decoder, the first of
// the decoders; a refusal fails the step (modStepFailed).
void imgStartBmpCodec();

// 1 when the context's data is a BMP file that this decoder can turn into a
// bitmap, else 0. Refused: data that ends before the header fields it reads,
// a signature other than "BM", nonzero reserved words, an information header
// shorter than 16 bytes other than the 12-byte core header, a width of 0 or
// less, a height of 0, a bit count of 0 or above 32, a picture whose 24-bit
// bitmap would reach kMaxDibSectionBytes, and a 16- or 32-bit bit-field file
// with a mask whose set bits are not one run. On acceptance the context
// holds the width, the height as a positive row count (a top-down file is
// decoded upright), depth 24 and the file's bit count as source depth.
int imgBmpCheck(DecodeContext& context);

// Writes the accepted file's picture into a 24-bit bitmap (see imgBmpToRgb24).
// 1 on success; 0 only when the bitmap's rows are too short for the width.
int imgBmpDecode(DecodeContext& context, std::uint8_t* bits, std::int32_t rowBytes, std::int32_t flags);

// Nothing to release: the decoder keeps only the caller's data in its area.
void imgBmpCleanup(DecodeContext& context);

// Converts the pixels of the BMP file in `file` into 3-byte pixels (blue,
// green, red) of a bitmap of the file's width and row count, whose first
// stored row starts at `bits` and whose rows are `rowBytes` (at least
// 3 × width) apart. With kDecodeBottomUp in `flags` the bitmap is taken as
// bottom-up, else as top-down; either way the picture comes out upright, for
// bottom-up and top-down files alike. Pixels the file does not describe stay
// as they are (black in a fresh bitmap): rows missing at the end of the data,
// layouts this decoder does not convert (16-bit with compression other than
// 0, 3 or 6, bit fields whose masks lie beyond the data, bit counts other
// than 1, 2, 4, 8, 16, 24, 32), and RLE pixels that no code reaches or that
// fall outside the picture. False when the file's headers are not acceptable
// to imgBmpCheck.
bool imgBmpToRgb24(std::span<const std::uint8_t> file, std::uint8_t* bits, std::int64_t rowBytes, std::int32_t flags);

// What the headers of a BMP file say and how this decoder reads its pixels,
// for tools that explain why a picture looks the way it does.
struct BmpDescription {
    const char* refusal;       // null when imgBmpCheck accepts the file, else why it does not
    std::uint32_t headerSize;  // information header: 12 (core), 40, 108, 124, ...
    std::int32_t width;
    std::int32_t height;  // as stored: negative for a file whose top row comes first
    std::uint16_t bitCount;
    std::uint32_t compression;  // 0 RGB, 1 RLE8, 2 RLE4, 3 BITFIELDS, 6 ALPHABITFIELDS, ...
    std::uint32_t pixelOffset;
    bool bitFields;    // 16 or 32 bits read through masks the file gives
    bool masksInData;  // with bitFields: the masks lie inside the data
    std::uint32_t redMask, greenMask, blueMask;  // what 16- and 32-bit pixels are read with; else 0
    const char* pixels;  // how the pixels are read, in words; null when refused
};

// Fills `out` from the file's headers, as far as they can be read. False
// when the data does not start with a 14-byte file header whose signature is
// "BM" (out.refusal then says so too).
bool imgBmpDescribe(std::span<const std::uint8_t> file, BmpDescription& out);

}  // namespace oct
