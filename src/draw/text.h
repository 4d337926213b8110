// Text in a drawing session. The platform renders the glyphs white on black
// into a 24-bit raster; the raster's brightness is then the coverage with
// which the front colour (or the gradient colour, or the filter) is combined
// with the output's pixels in memory, by the session's drawing mode. Where
// the text is not, the back colour can be painted (mode bit 0x1 clear, text
// not turned); draw/text_blend.h has those rules.
#pragma once

#include <cstdint>

#include "draw/context.h"
#include "platform/fonts.h"
#include "platform/handles.h"

namespace oct {

// Fills the setFont, drawText, drawTextAngle, textWidth and textHeight entries.
void drwInstallTextOps(DrawContext& c);

// The text state of a session's start: no text device yet. The first text
// call makes it, with the stock font and a raster as wide as the whole
// output and at least 50 rows high; when it cannot be made, text draws
// nothing.
void drwStartText(DrawContext& c);
// Deletes the text device, the raster and the turned font.
void drwStopText(DrawContext& c);

// The entries. setFont takes a font handle, or −1 for the stock font; it
// returns 1 when the font was selected, 0 without a text device or for what
// is not a font (the old font stays).
std::int64_t drwSetFont(DrawContext& c, std::int64_t font);
// Returns x plus the text's width (overhang included), or x when nothing was drawn.
std::int64_t drwDrawText(DrawContext& c, std::int32_t x, std::int32_t y, const char16_t* text);
// Text turned counter-clockwise by `angle` degrees about (x, y); it never
// paints the background.
void drwDrawTextAngle(DrawContext& c, std::int32_t x, std::int32_t y, const char16_t* text, float angle);
// The same, telling whether it worked: false when the text device, the
// turned font, the measuring or the raster failed and nothing was drawn; true
// when drawn, and when there is nothing to draw (an empty text, an angle that
// is not a number, a turned box too large for a raster).
bool drwDrawTextTurned(DrawContext& c, std::int32_t x, std::int32_t y, const char16_t* text, float angle);
// 0 for a null or empty text and without a text device.
std::int64_t drwTextWidth(DrawContext& c, const char16_t* text);
std::int64_t drwTextHeight(DrawContext& c, const char16_t* text);

// How far an italic font's "H" reaches past its advance, in pixels; 0 for
// an upright font and for what is not a font; −1 when the probe could not be
// made or measured (no device), so that nobody takes an italic font for an
// upright one.
std::int32_t drwItalicOverhang(plat::Handle font);

// Selects into `device` the session font turned by `angle` degrees (taken
// modulo 360), made once and kept for the next text at the same angle.
// False when the font cannot be described or made.
bool drwRotatedFont(DrawContext& c, plat::TextDevice* device, float angle);

}  // namespace oct
