// Making the benchmark picture: a real photograph scaled to a square with
// integer arithmetic only, so that every build and every machine makes the
// same bytes. The photograph is tests/data/photo/harvesters.bmp ("The
// Harvesters", Pieter Bruegel the Elder; the Metropolitan Museum of Art lists
// the artwork as public domain; see tests/data/SOURCES.md).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct BenchPicture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t bitsPerPixel = 0;  // 24 or 32
    std::int32_t pitch = 0;         // bytes per row, a multiple of 4
    std::vector<std::uint8_t> pixels;  // bottom-up rows, as stored in the file
};

// Reads the rows of a 24- or 32-bit BMP file as stored (any info header of
// 40 bytes or more; uncompressed, or 32 bits with the usual bit fields; rows
// bottom-up or top-down, held here bottom-up) through the library's
// imgFindStoredBmpRows. Nothing when the file cannot be read, is of another
// kind, or is wider or taller than 65536 pixels.
std::optional<BenchPicture> benchReadBmp(const std::string& path);

// The whole BMP file of a picture: a 14-byte file header, a 40-byte info
// header (BI_RGB) and the rows as held.
std::vector<std::uint8_t> benchBmpFile(const BenchPicture& pic);

// `photo` (24-bit) scaled to size × size by cubic convolution (a = −3/4) in
// fixed point, sample centres aligned. With `alpha` the result is 32-bit,
// the fourth byte a vertical ramp from 255 in the top row to 0 in the bottom
// one. Nothing when size is not in 1 .. 16384 or the photo is empty.
std::optional<BenchPicture> benchScalePhoto(const BenchPicture& photo, std::int32_t size, bool alpha);

// The same to width × height, each in 1 .. 16384 (the ramp runs over the height).
std::optional<BenchPicture> benchScalePhoto(const BenchPicture& photo, std::int32_t width, std::int32_t height,
                                            bool alpha);
