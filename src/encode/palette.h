// Palette reduction for 1-, 4- and 8-bit BMP files: a palette built from an
// image's pixels, and each pixel row turned into palette indices packed for
// the depth. Depth 1 has a fixed black and white palette and a luminance
// threshold; depths 4 and 8 train a colour network (colour_network.h) and
// give each pixel its nearest entry, directly or with error diffusion.
#pragma once

#include <cstdint>

#include "encode/colour_network.h"

namespace oct {

// Flags bit: diffuse each pixel's error into its neighbours (depths 4 and 8).
constexpr std::int32_t kPaletteDither = 0x100;

struct PaletteReducer {
    std::uint8_t* pixels;   // width × height pixels of blue, green, red, alpha; row 0 first, 4 × width apart
    std::int32_t height;
    std::int32_t width;
    std::int32_t pixelDepth;  // of the rows handed over: 24 or 32
    std::int32_t flags;
    std::int32_t depth;       // 1, 4 or 8
    std::int32_t ownsPixels;  // 1: pixels is a private copy
    std::uint8_t* row;        // width + 8 bytes: one row of indices, packed in place
    ColourNetwork* network;   // null for depth 1
    double gamma;
    std::int32_t carry[4];    // error carried from the end of one row to the next: blue, green, red, alpha
    std::uint8_t palette[256][4];  // blue, green, red, alpha; the first 2^depth entries are used
};

// A reducer for `height` rows of `width` pixels of `pixelDepth` bits (24 or
// 32), `pitch` bytes apart in memory, to `depth` bits (1, 4 or 8). For depths
// 4 and 8 the network is trained and the palette filled before it returns.
// The pixels are copied unless they are 32-bit rows exactly 4 × width apart
// and `flags` asks for no error diffusion; then they must outlive the
// reducer. Null for any other depth or pixel depth, a negative size, or when
// memory runs out.
PaletteReducer* palCreate(const std::uint8_t* pixels, std::int32_t width, std::int32_t height,
                          std::int32_t pixelDepth, std::int32_t pitch, std::int32_t depth, std::int32_t flags);

// The packed indices of row k (in memory order) in the reducer's row buffer,
// which the next call reuses. Depth 1: 8 pixels a byte, first pixel in bit 7;
// depth 4: 2 a byte, first pixel in the high four bits; depth 8: a byte each.
// Every byte of the buffer past the row's pixels is 0, so it can be written
// as row padding. With error diffusion the error spreads into row k + 1:
// ask for the rows in ascending order.
const std::uint8_t* palIndexRow(PaletteReducer& reducer, std::int32_t k);

// Frees the pixel copy, the network, the row buffer and the reducer. Null does nothing.
void palFree(PaletteReducer* reducer);

// Error diffusion of row k into the row buffer (one index a byte). Part of palIndexRow.
void palDitherRow(PaletteReducer& reducer, std::int32_t k);

// Limits the carried error e (one value per palette byte) after a pixel
// whose own error gave `limit`, 2 × the sum of its squared errors: halves
// all four while any square exceeds 100, or their sum exceeds `limit` or 200.
void palLimitCarry(std::int32_t e[4], std::int32_t limit);

// Bytes of packed indices in one row of `width` pixels at `depth` bits.
std::int64_t palPackedBytes(std::int64_t width, std::int32_t depth);

}  // namespace oct
