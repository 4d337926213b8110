// Blits of bottom-up 24- and 32-bit pixels into the drawing area: clipping
// and the pixel loops, one pixel rule per call chosen by the drawing mode,
// the source depth, the output's bytes per pixel, the opacity and the alpha
// flag.
#pragma once

#include <cstdint>

#include "draw/context.h"
#include "platform/handles.h"

namespace oct {

// Draws w × h source pixels of 32 bits (blue, green, red, alpha), stored
// bottom-up (first row in memory = bottom row) `rowBytes` apart, with their
// top-left pixel at (x, y) of the drawing area, clipped to the area.
// `opacity` 0..255 scales the source alpha (255: as it is); `alphaFlag` makes
// plain copy mode blend by the source alpha. A negative `rowBytes` gives
// top-down source rows (the first row in memory is then the top row).
// Nothing is drawn for null bits, a size clipped away, or a context without
// pixels.
void drwBlit32(DrawContext& c, const std::uint8_t* bits, std::int64_t rowBytes, std::int32_t x, std::int32_t y,
               std::int32_t w, std::int32_t h, std::int32_t opacity, bool alphaFlag);

// The same for 24-bit sources (blue, green, red), whose alpha is the opacity.
void drwBlit24(DrawContext& c, const std::uint8_t* bits, std::int64_t rowBytes, std::int32_t x, std::int32_t y,
               std::int32_t w, std::int32_t h, std::int32_t opacity);

// Draws a DIB section of 24 or 32 bits at its own size; other bit counts,
// and handles that are not DIB sections, draw nothing.
void drwBlitDib(DrawContext& c, plat::Handle dib, std::int32_t x, std::int32_t y, std::int32_t opacity, bool alphaFlag);

// A w × h rectangle at (x, y) of the drawing area, cut to the area: where the
// part inside starts, its size (0 or less when nothing is left), and how
// many columns and rows were cut off at the left and the top.
struct DrawRect {
    std::int64_t left, top, width, height, skipX, skipY;
};
DrawRect drwClipToArea(const DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);

}  // namespace oct
