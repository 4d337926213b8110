// Combining a text raster with the output's pixels. The platform draws the
// glyphs white on black into a 24-bit raster; each raster byte is then how
// much of that channel of the pixel the glyphs cover, and the session's
// drawing mode says how the front colour (or the gradient colour, or the
// filter) is laid on the output by that coverage. text_blend.cpp states the
// rules.
#pragma once

#include <cstdint>

#include "draw/context.h"

namespace oct {

// Combines the raster (`rowBytes` apart, top row first, 3 bytes a pixel:
// blue, green, red coverage) with the output: raster pixel (j, i) lands on
// area pixel (x + j, y + i), clipped to the drawing area and to the raster's
// `width` × `height`; raster columns and rows left of or above the area are
// skipped. Nothing is drawn for a null raster, a session without pixels, or
// an empty or wholly clipped rectangle. The back colour is painted where the
// text is not only when the mode asks for it (bit 0x1 clear) and the text is
// not `rotated`.
void drwBlendText(DrawContext& c, const std::uint8_t* raster, std::int64_t rowBytes, std::int32_t x, std::int32_t y,
                  std::int32_t width, std::int32_t height, bool rotated);

}  // namespace oct
