// Text on Linux: measuring and drawing UTF-16 text with FreeType, white on
// black into a 24-bit raster, as TextOutW does into a DIB section.
//
// Glyphs are hinted, and each advances the pen by its hinted whole-pixel
// advance, as GDI's widths are whole pixels; the extent is their sum. Outlines
// are rendered straight into the raster through FreeType's span callback,
// clipped to the raster, so no glyph bitmap is ever allocated, however large
// the font. A font with an escapement draws its text turned about the
// reference point; a font asked for italic whose face is upright is sheared.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/fonts.h"
#include "platform/handles.h"
#include "platform/posix/font.h"
#include "platform/posix/objects.h"

namespace oct::plat {

// The device's selections; both are looked up again at every use, so a
// deleted font or raster is refused rather than followed.
struct TextDevice {
    Handle font = 0;
    Handle raster = 0;
};

namespace {

using posix::Bitmap;
using posix::Font;

// The slant of a synthesised italic: x moves by this much of y.
constexpr double kSyntheticShear = 0.2;
// Columns rendered at once: FreeType's spans count columns in 16 bits.
constexpr std::int64_t kTileColumns = 16384;
// A pen this far from the origin has left every raster: drawing stops.
constexpr std::int64_t kPenLimit = std::int64_t{1} << 40;

constexpr char32_t kNoCharacter = 0xFFFFFFFF;  // an unpaired surrogate: drawn as the missing glyph

// The characters of UTF-16 text, a surrogate pair as one.
template <typename Fn>
void forEachCharacter(const char16_t* text, std::int32_t length, Fn&& fn) {
    for (std::int32_t i = 0; i < length; ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            fn(0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u < 0xE000) {
            fn(kNoCharacter);
        } else {
            fn(static_cast<char32_t>(u));
        }
    }
}

// The face's glyph for a character; 0, its missing glyph, when it has none.
FT_UInt glyphIndex(FT_Face face, char32_t c) { return c == kNoCharacter ? 0 : FT_Get_Char_Index(face, c); }

std::int64_t floorDiv64(std::int64_t v) { return v >= 0 ? v / 64 : -((-v + 63) / 64); }
std::int64_t ceilDiv64(std::int64_t v) { return -floorDiv64(-v); }

// Where rendered coverage goes: an area of pixels, rows counted from the top.
struct Sink {
    std::int64_t width, height;
    void (*put)(void* target, std::int64_t row, std::int64_t x, std::int64_t count, std::uint8_t coverage);
    void* target;
};

struct SpanContext {
    const Sink* sink;
    std::int64_t left, bottom;  // the area pixel of the tile's local (0, 0) column and the row below the band
};

void spanToSink(int y, int count, const FT_Span* spans, void* user) {
    const auto* ctx = static_cast<const SpanContext*>(user);
    const std::int64_t row = ctx->bottom - 1 - y;
    for (int i = 0; i < count; ++i)
        ctx->sink->put(ctx->sink->target, row, ctx->left + spans[i].x, spans[i].len, spans[i].coverage);
}

// Renders an outline (FreeType's y-up coordinates, relative to its pen
// origin) antialiased into the sink, the pen origin at (x64, y64): 26.6
// pixels of the area, y counted down. Only the part inside the area is
// rendered, a band of at most kTileColumns columns at a time.
void renderOutline(FT_Library library, FT_Outline& outline, std::int64_t x64, std::int64_t y64, const Sink& sink) {
    FT_BBox box;
    FT_Outline_Get_CBox(&outline, &box);
    const std::int64_t left = std::max<std::int64_t>(floorDiv64(x64 + box.xMin), 0);
    const std::int64_t right = std::min(ceilDiv64(x64 + box.xMax), sink.width);
    const std::int64_t top = std::max<std::int64_t>(floorDiv64(y64 - box.yMax), 0);
    const std::int64_t bottom = std::min(ceilDiv64(y64 - box.yMin), sink.height);
    if (left >= right || top >= bottom) return;
    for (std::int64_t tile = left; tile < right; tile += kTileColumns) {
        // Local coordinates: the tile's first column is 0, the band's last row is scanline 0.
        const FT_Pos dx = static_cast<FT_Pos>(x64 - tile * 64), dy = static_cast<FT_Pos>(bottom * 64 - y64);
        SpanContext ctx{&sink, tile, bottom};
        FT_Raster_Params params{};
        params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
        params.gray_spans = spanToSink;
        params.user = &ctx;
        params.clip_box = {0, 0, static_cast<FT_Pos>(std::min(kTileColumns, right - tile)),
                           static_cast<FT_Pos>(bottom - top)};
        FT_Outline_Translate(&outline, dx, dy);
        FT_Outline_Render(library, &outline, &params);
        FT_Outline_Translate(&outline, -dx, -dy);
    }
}

// The whole-pixel advance of the glyph just loaded (its hinted advance).
std::int64_t loadedAdvance(FT_Face face) { return (face->glyph->metrics.horiAdvance + 32) >> 6; }

FT_Int32 loadFlags(FT_Int32 target) { return FT_LOAD_NO_BITMAP | target; }

// The sum of the glyphs' advances in pixels; under the font's lock. False
// when a glyph cannot be loaded.
bool advanceSum(Font& font, const char16_t* text, std::int32_t length, std::int64_t& sum) {
    FT_Face face = font.face;
    FT_Set_Transform(face, nullptr, nullptr);
    bool ok = true;
    sum = 0;
    forEachCharacter(text, length, [&](char32_t c) {
        if (ok && FT_Load_Glyph(face, glyphIndex(face, c), loadFlags(FT_LOAD_TARGET_NORMAL)) == 0)
            sum += loadedAdvance(face);
        else
            ok = false;
    });
    return ok;
}

// The turn of a font's escapement: exact for the quarter turns.
struct Turn {
    double cos = 1, sin = 0;
    bool turned = false;
};

Turn turnOf(const Font& font) {
    const std::int32_t tenths = font.description.escapement % 3600;
    Turn t;
    t.turned = tenths != 0;
    switch ((tenths + 3600) % 3600) {
        case 0: break;
        case 900: t = {0, 1, true}; break;
        case 1800: t = {-1, 0, true}; break;
        case 2700: t = {0, -1, true}; break;
        default: {
            const double r = tenths * 3.14159265358979323846 / 1800;
            t.cos = std::cos(r);
            t.sin = std::sin(r);
        }
    }
    return t;
}

FT_Fixed fixed16(double v) { return static_cast<FT_Fixed>(std::lround(v * 65536)); }

// Draws the text's glyphs into the sink, the top left of the cell at (x, y)
// and the text turned by the font's escapement; under the font's lock.
// Glyphs are loaded for `target` (FT_LOAD_TARGET_NORMAL or _MONO). A point
// (u, v) of the unturned text (u along the text, v down) lands at
// (x + u·cos + v·sin, y − u·sin + v·cos).
bool drawGlyphs(Font& font, std::int64_t x, std::int64_t y, const char16_t* text, std::int32_t length,
                FT_Int32 target, const Sink& sink) {
    FT_Face face = font.face;
    const Turn t = turnOf(font);
    // In FreeType's y-up frame the turn is counter-clockwise too; the shear
    // of a synthesised italic applies before it.
    const double shear = font.syntheticItalic ? kSyntheticShear : 0;
    FT_Matrix m{fixed16(t.cos), fixed16(shear * t.cos - t.sin), fixed16(t.sin), fixed16(shear * t.sin + t.cos)};
    FT_Set_Transform(face, &m, nullptr);
    const double originX = static_cast<double>(x) + font.ascent * t.sin;
    const double originY = static_cast<double>(y) + font.ascent * t.cos;
    std::int64_t u = 0;
    bool ok = true;
    forEachCharacter(text, length, [&](char32_t c) {
        if (!ok || u > kPenLimit) return;
        if (FT_Load_Glyph(face, glyphIndex(face, c), loadFlags(target)) != 0) {
            ok = false;
            return;
        }
        FT_GlyphSlot slot = face->glyph;
        if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
            std::int64_t x64, y64;
            if (t.turned) {
                x64 = std::llround((originX + static_cast<double>(u) * t.cos) * 64);
                y64 = std::llround((originY - static_cast<double>(u) * t.sin) * 64);
            } else {
                x64 = (x + u) * 64;  // whole pixels: the hinted glyph stays on the grid
                y64 = (y + font.ascent) * 64;
            }
            renderOutline(slot->library, slot->outline, x64, y64, sink);
        }
        u += loadedAdvance(face);
    });
    FT_Set_Transform(face, nullptr, nullptr);
    return ok;
}

// White text on black: each byte keeps the larger of its value and the coverage.
void putCoverage(void* target, std::int64_t row, std::int64_t x, std::int64_t count, std::uint8_t coverage) {
    std::uint8_t* p = static_cast<const Bitmap*>(target)->rowFromTop(static_cast<std::int32_t>(row)) + 3 * x;
    for (std::int64_t i = 0; i < 3 * count; ++i) p[i] = std::max(p[i], coverage);
}

// The italic probe's sink: the rightmost column that a monochrome rendering
// would set (coverage of at least half).
void putInkColumn(void* target, std::int64_t, std::int64_t x, std::int64_t count, std::uint8_t coverage) {
    auto* column = static_cast<std::int64_t*>(target);
    if (coverage >= 128) *column = std::max(*column, x + count - 1);
}

// Paints the cell rectangle black, clipped to the raster.
void paintBlack(const Bitmap& raster, std::int64_t x, std::int64_t y, std::int64_t cx, std::int64_t cy) {
    const std::int64_t x0 = std::max<std::int64_t>(x, 0), x1 = std::min<std::int64_t>(x + cx, raster.width);
    const std::int64_t y0 = std::max<std::int64_t>(y, 0), y1 = std::min<std::int64_t>(y + cy, raster.height);
    if (x0 >= x1) return;
    for (std::int64_t r = y0; r < y1; ++r)
        std::memset(raster.rowFromTop(static_cast<std::int32_t>(r)) + 3 * x0, 0, static_cast<std::size_t>(3 * (x1 - x0)));
}

bool textArgumentsValid(const char16_t* text, std::int32_t length) { return length >= 0 && (text || length == 0); }

Bitmap* rasterOf(Handle h) {
    auto* bm = static_cast<Bitmap*>(posix::objectLookup(h, HandleKind::Bitmap));
    return bm && bm->bits && bm->bitsPerPixel == 24 ? bm : nullptr;
}

}  // namespace

TextDevice* textDeviceCreate() {
    const Handle stock = fontStock();
    if (!stock) return nullptr;
    auto* device = new (std::nothrow) TextDevice;
    if (device) device->font = stock;
    return device;
}

void textDeviceDelete(TextDevice* device) { delete device; }

bool textSelectFont(TextDevice* device, Handle font) {
    if (!device || !posix::fontOf(font)) return false;
    device->font = font;
    return true;
}

bool textSelectRaster(TextDevice* device, Handle raster) {
    if (!device || !rasterOf(raster)) return false;
    device->raster = raster;
    return true;
}

bool textExtent(TextDevice* device, const char16_t* text, std::int32_t length, TextSize& out) {
    Font* font = device ? posix::fontOf(device->font) : nullptr;
    if (!font || !textArgumentsValid(text, length)) return false;
    std::int64_t cx;
    {
        std::lock_guard guard(font->use);
        if (!advanceSum(*font, text, length, cx)) return false;
    }
    if (cx > INT32_MAX) return false;
    out = {static_cast<std::int32_t>(cx), font->ascent + font->descent};
    return true;
}

bool textIsItalic(TextDevice* device) {
    const Font* font = device ? posix::fontOf(device->font) : nullptr;
    return font && font->italic;
}

bool textOut(TextDevice* device, std::int32_t x, std::int32_t y, const char16_t* text, std::int32_t length) {
    Font* font = device ? posix::fontOf(device->font) : nullptr;
    Bitmap* raster = device ? rasterOf(device->raster) : nullptr;
    if (!font || !raster || !textArgumentsValid(text, length)) return false;
    std::lock_guard guard(font->use);
    // OPAQUE: the cell behind unturned text is painted black first. Turned
    // text paints no background: the turned cell is not a rectangle of the
    // raster, and the raster it is drawn into is black already.
    if (!turnOf(*font).turned) {
        std::int64_t cx;
        if (!advanceSum(*font, text, length, cx)) return false;
        paintBlack(*raster, x, y, cx, font->ascent + font->descent);
    }
    const Sink sink{raster->width, raster->height, putCoverage, raster};
    return drawGlyphs(*font, x, y, text, length, FT_LOAD_TARGET_NORMAL, sink);
}

std::int32_t textInkRightColumn(TextDevice* device, std::int32_t cx, std::int32_t cy) {
    Font* font = device ? posix::fontOf(device->font) : nullptr;
    if (!font || cx <= 0 || cy <= 0) return -1;
    std::int64_t column = -1;
    // Only rows 0 to cy − 1 of the 2·cx × 2·cy probe are scanned: the sink is that band.
    const Sink sink{2 * static_cast<std::int64_t>(cx), cy, putInkColumn, &column};
    std::lock_guard guard(font->use);
    if (!drawGlyphs(*font, 0, 0, u"H", 1, FT_LOAD_TARGET_MONO, sink)) return -1;
    return static_cast<std::int32_t>(column);
}

}  // namespace oct::plat
