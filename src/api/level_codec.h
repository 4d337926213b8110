// The level codec: every pixel becomes one of 8 gray levels, (blue + green +
// red) div 96, and for 32-bit pictures also one of 8 alpha levels, alpha div
// 32. Each level is a 3-bit code in a bit string, the level buffer
// (docs/formats/level-buffer.md).
//
// Bit i of the level buffer lives in byte i div 8 at bit i mod 8. Pixel k of a
// 24-bit source takes bits 3k..3k+2 (gray code); of any other source bits
// 6k..6k+5 (gray code, then alpha code). Pixels follow the source rows in
// memory order, each row left to right.
#pragma once

#include <cstdint>

namespace oct {

// A picture in memory, as the rows of a DIB section hold them.
struct PixelSource {
    const std::uint8_t* bits;    // the first row in memory order, whose codes come first
    std::int32_t width;          // pixels per row
    std::int32_t height;         // rows
    std::int32_t pitch;          // bytes from one row to the next; negative when they run downward in memory
    std::uint16_t bitsPerPixel;  // 24: B, G, R; anything else is read as 32: B, G, R, A
};

// A level buffer and what describes it.
struct LevelBuffer {
    std::uint8_t* levels = nullptr;  // memAlloc block; the caller frees it with memFree
    std::int64_t size = 0;           // width × height bytes, zero beyond the codes
    int alpha = 0;                   // 1 when each pixel holds a gray and an alpha code
};

// Quantizes every pixel of the source into a new level buffer, rows in the
// order bits, bits + pitch, bits + 2 × pitch... Fails (false, nothing
// allocated) for a width or height of 0 or less, a null bits pointer, a
// pitch whose size is less than a row of pixels, or when the buffer cannot
// be allocated.
[[nodiscard]] bool lvlQuantize(const PixelSource& source, LevelBuffer& out);

// lvlQuantize, and the rebuilt pixels of the same levels written into `rows`
// in the same pass (as lvlDecodeRows writes them from the buffer; for a
// source with a negative pitch, band by band): rows `pitch` bytes apart
// (never negative) in the source's order, 3 bytes a pixel for a 24-bit
// source, 4 with alpha otherwise. Bytes past each row's pixels are not written.
// `rows` may be the source's own rows (with its pitch, then positive): the
// rebuilt picture then replaces it.
// Fails as lvlQuantize does, and for null rows or a pitch shorter than a row.
[[nodiscard]] bool lvlQuantizeRebuild(const PixelSource& source, LevelBuffer& out, std::uint8_t* rows,
                                      std::int64_t pitch);

// The bytes that the codes of `pixels` pixels take at the front of a level
// buffer: ceil(3 × pixels / 8), or ceil(6 × pixels / 8) with alpha.
constexpr std::int64_t lvlCodeBytes(std::int64_t pixels, bool alpha) { return (pixels * (alpha ? 6 : 3) + 7) / 8; }

// Single bits, numbered as above. `bit` is never negative.
void lvlSetBit(std::uint8_t* buffer, std::int64_t bit);
bool lvlTestBit(const std::uint8_t* buffer, std::int64_t bit);

// Sets the bits of a level's code at `position`; levels outside 0..7 set nothing.
void lvlPutCode(std::uint8_t* buffer, int level, std::int64_t position);
// The gray level's code at `position`, then the alpha level's at position + 3.
void lvlPutPixel(std::uint8_t* buffer, int gray, int alpha, std::int64_t position);

// Colours are 0xAABBGGRR. The gray colour of the code at `position`: the
// level's palette value in the three colour bytes, alpha byte 0.
std::uint32_t lvlGrayColor(const std::uint8_t* buffer, std::int64_t position);
// The gray colour of the code at `position` with the palette value of the
// alpha code at position + 3 in the top byte.
std::uint32_t lvlAlphaColor(const std::uint8_t* buffer, std::int64_t position);

// The level palette: level → value of each colour byte.
inline constexpr std::uint8_t kLevelPalette[8] = {0, 29, 59, 89, 119, 149, 179, 255};

// Receives one decoded pixel: its target position and 0xAABBGGRR colour.
using LevelPlot = void (*)(void* context, std::int32_t x, std::int32_t y, std::uint32_t colour);

// Hands every pixel's colour to `plot`, stored row r at y = height − 1 − r, so
// that a bottom-up target gets the source's orientation. Codes past the end of
// the `levelsSize` bytes read as level 0 (black, and transparent with alpha);
// nothing beyond the buffer is read. False for a width or height of 0 or less
// or no plot.
bool lvlDecode(const std::uint8_t* levels, std::int64_t levelsSize, std::int32_t width, std::int32_t height,
               bool alpha, LevelPlot plot, void* context);

// Writes the decoded pixels straight into a bottom-up bitmap's rows instead of
// plotting them: stored row r goes to memory row r, each pixel as the bytes
// B, G, R (3 bytes per pixel) or B, G, R, A (4 bytes), exactly what plotting
// every colour with the all-bytes mode writes. `rows` is the first row in
// memory, `pitch` the bytes from one row to the next (at least width ×
// bytesPerPixel). False for sizes of 0 or less, a short pitch, or a
// bytesPerPixel other than 3 or 4.
bool lvlDecodeRows(const std::uint8_t* levels, std::int64_t levelsSize, std::int32_t width, std::int32_t height,
                   bool alpha, std::uint8_t* rows, std::int64_t pitch, int bytesPerPixel);

}  // namespace oct
