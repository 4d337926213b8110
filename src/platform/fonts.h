// Fonts and text: fonts made from a description, and a text device that
// measures text and renders it white on black into a 24-bit raster (GDI on
// Windows; fontconfig and FreeType on Linux).
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace oct::plat {

// A font description, laid out as LOGFONTW (92 bytes).
struct LogFont {
    std::int32_t height;       // < 0: character height in pixels; > 0: cell height; 0: a default
    std::int32_t width;        // 0: the face's own proportions
    std::int32_t escapement;   // tenths of a degree, counter-clockwise
    std::int32_t orientation;  // tenths of a degree
    std::int32_t weight;       // 100..900: 400 normal, 700 bold; 0 a default
    std::uint8_t italic, underline, strikeOut, charSet;
    std::uint8_t outPrecision, clipPrecision, quality, pitchAndFamily;
    char16_t faceName[32];     // zero-terminated
};
static_assert(sizeof(LogFont) == 92);

// LogFont field values, as LOGFONTW defines them.
constexpr std::int32_t kFontWeightNormal = 400;            // weight: FW_NORMAL
constexpr std::int32_t kFontWeightBold = 700;              // weight: FW_BOLD
constexpr std::uint8_t kFontDefaultCharSet = 1;            // charSet: DEFAULT_CHARSET, any script the face has
constexpr std::uint8_t kFontOutlinePrecision = 7;          // outPrecision: OUT_TT_ONLY_PRECIS, outline faces only
constexpr std::uint8_t kFontAntialiasedQuality = 4;        // quality: ANTIALIASED_QUALITY, grey edges

// A new font from a description (CreateFontIndirectW): the face that best
// matches it. Linux: fontconfig picks the face by name, weight and slant and
// FreeType renders it. 0 on failure. objectDelete deletes it.
Handle fontCreate(const LogFont& description);
// The stock system font (GetStockObject(SYSTEM_FONT)), shared by everyone and
// never deleted. Linux: a bold sans face (DejaVu Sans Bold) with a cell
// height of 16.
Handle fontStock();
// The font's description as GetObjectW gives it: the number of bytes
// written, 92 for a font, 0 for anything else.
std::int32_t fontDescribe(Handle font, LogFont& out);

struct TextSize {
    std::int32_t cx, cy;
};

// A memory device context for text (CreateCompatibleDC(null)), with the
// stock font selected. Null on failure.
struct TextDevice;
TextDevice* textDeviceCreate();
// Deselects what the device holds and deletes it; the font and the raster
// selected into it stay, for their owners to delete.
void textDeviceDelete(TextDevice* device);
// Selects a font into the device (SelectObject); false for what is not a font.
bool textSelectFont(TextDevice* device, Handle font);
// Selects a 24-bit DIB section into the device as the target of textOut, with
// background mode OPAQUE, text alignment 0 (the reference point is the top
// left of the text's cell), background colour black and text colour white.
// False for what is not a 24-bit DIB section.
bool textSelectRaster(TextDevice* device, Handle raster);
// The size of `length` UTF-16 units in the selected font
// (GetTextExtentPoint32W): the advance width and the cell height, measured
// along the text (an escapement does not change it). False on failure.
bool textExtent(TextDevice* device, const char16_t* text, std::int32_t length, TextSize& out);
// True when the selected font's metrics (GetTextMetricsW) report it italic.
bool textIsItalic(TextDevice* device);
// Draws `length` UTF-16 units white on black into the selected raster
// (TextOutW), the top left of the text's cell at (x, y), turned by the
// font's escapement about that point. Glyph edges are antialiased: each
// raster byte tells how much of that pixel the glyphs cover (Linux: 8-bit
// grey from FreeType in all three bytes). A surrogate pair is one character;
// a character the face lacks is drawn as its missing-glyph box. The cell
// behind the glyphs is painted black (OPAQUE), and everything outside the
// raster is clipped. The raster's bits are complete when it returns (GdiFlush).
// False on failure.
bool textOut(TextDevice* device, std::int32_t x, std::int32_t y, const char16_t* text, std::int32_t length);
// The italic probe: in a bitmap compatible with the device (a monochrome one:
// no antialiasing) of 2·cx × 2·cy, black, draws "H" white at (0, 0) in the
// selected font and gives the highest column, scanned from 2·cx − 1 down, in
// which a pixel of rows 0 to cy − 1 is not black (GetPixel); −1 when none is,
// or on failure.
std::int32_t textInkRightColumn(TextDevice* device, std::int32_t cx, std::int32_t cy);

}  // namespace oct::plat
