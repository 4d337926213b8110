// The state of a drawing session and its operation table.
//
// A thread has at most one current session; its DrawContext is reached
// through the thread's slot, so the session calls name no context. The table
// begins the context; entries that an output does not serve are harmless
// no-ops.
#pragma once

#include <cstdint>

#include "platform/bitmaps.h"
#include "platform/fonts.h"
#include "platform/handles.h"

namespace oct {

struct DrawContext;
struct FillState;

// One stop of a colour gradient: the colour at a position between 0 (the
// second gradient colour) and 1 (the first).
struct GradientStop {
    double position;
    std::uint32_t colour;  // 0xAABBGGRR
};

// Output flags: the target's pixel format.
namespace OutputFlags {
constexpr std::uint32_t kRgb24 = 0x10;     // 3 bytes: blue, green, red
constexpr std::uint32_t kRgba32Alt = 0x20; // also 4 bytes
constexpr std::uint32_t kRgba32 = 0x40;    // 4 bytes: blue, green, red, alpha
constexpr std::uint32_t kBottomUp = 0x8000;
}  // namespace OutputFlags

// Drawing-mode bits.
namespace DrawMode {
constexpr std::uint32_t kTransparentText = 0x1;  // text without a painted background
constexpr std::uint32_t kXor = 0x2;
constexpr std::uint32_t kOutline = 0x4;          // outlined shapes
constexpr std::uint32_t kAlphaOnly = 0x8;
constexpr std::uint32_t kBlend = 0x10;
constexpr std::uint32_t kBlendKeepAlpha = 0x20;
constexpr std::uint32_t kGradient = 0x40;
constexpr std::uint32_t kFilter = 0x80;
constexpr std::uint32_t kAllBytes = 0x100;
}  // namespace DrawMode

// Colour components for plotting: red, green, blue (multiplied by alpha when
// the mode premultiplies), alpha and 255 − alpha.
struct ColorParts {
    std::uint32_t red, green, blue, alpha, inverse;
};

using PlotFn = void (*)(DrawContext& c, std::int32_t x, std::int32_t y, std::uint32_t colour);
using PlotFrontFn = void (*)(DrawContext& c, std::int32_t x, std::int32_t y);
using PointFn = std::uint32_t (*)(const DrawContext& c, std::int32_t x, std::int32_t y);
using GradientFn = double (*)(DrawContext& c, std::int32_t x, std::int32_t y);
using FilterFn = std::uint32_t (*)(DrawContext& c, std::int32_t x, std::int32_t y, std::uint32_t source,
                                   std::uint32_t target);

// The operation table, in its fixed order.
struct DrawOps {
    void (*setBackColor)(DrawContext&, std::uint32_t colour);
    std::int64_t (*box)(DrawContext&, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);
    std::int64_t (*roundBox)(DrawContext&, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                             std::int32_t rx, std::int32_t ry);
    void* unused;
    std::int64_t (*setFont)(DrawContext&, std::int64_t font);
    void* (*getBits)(DrawContext&);
    std::int64_t (*getPitch)(DrawContext&);
    std::uint32_t (*getFlags)(DrawContext&);
    void (*setMode)(DrawContext&, std::uint32_t mode);
    std::int64_t (*drawImage)(DrawContext&, plat::Handle bitmap, std::int32_t x, std::int32_t y);
    std::int64_t (*drawImageSized)(DrawContext&, plat::Handle bitmap, std::int32_t x, std::int32_t y,
                                   std::int32_t w, std::int32_t h);
    std::int64_t (*drawImageAlpha)(DrawContext&, plat::Handle bitmap, std::int32_t x, std::int32_t y,
                                   std::int32_t alpha);
    std::int64_t (*drawText)(DrawContext&, std::int32_t x, std::int32_t y, const char16_t* text);
    void (*drawTextAngle)(DrawContext&, std::int32_t x, std::int32_t y, const char16_t* text, float angle);
    std::int64_t (*ellipse)(DrawContext&, std::int32_t x, std::int32_t y, std::int32_t rx, std::int32_t ry);
    std::int64_t (*fill)(DrawContext&, std::int32_t x, std::int32_t y, std::uint32_t border);
    void (*setFrontColor)(DrawContext&, std::uint32_t colour);
    std::int64_t (*grabImage)(DrawContext&, std::int64_t image, std::int32_t x, std::int32_t y, std::int32_t w,
                              std::int32_t h);
    std::int64_t (*line)(DrawContext&, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
    PlotFrontFn plotFront;
    PlotFn plot;
    PointFn point;
    std::int64_t (*start)(DrawContext&);
    void (*stop)(DrawContext&);
    std::int64_t (*textHeight)(DrawContext&, const char16_t* text);
    std::int64_t (*textWidth)(DrawContext&, const char16_t* text);
    std::int64_t (*clip)(DrawContext&, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);
    void (*unclip)(DrawContext&);
    void (*release)(DrawContext&, bool success);
};

struct DrawContext {
    DrawOps ops;

    std::int32_t width, height;          // the current drawing area
    std::int32_t depth;                  // 24 or 32
    std::int32_t originX, originY;       // added by drwPlot to every coordinate
    std::int32_t fullWidth, fullHeight;  // the output's size, saved by drwBegin
    std::uint32_t gradientFirst, gradientSecond;
    std::uint32_t frontColor, backColor; // 0xAABBGGRR
    GradientFn gradient;
    FilterFn filter;
    GradientStop* stops;                 // stopCount stops by rising position, from the main heap; stop frees them
    std::int32_t stopCount;
    FillState* fill;                     // made by the first fill, released by stop

    std::uint8_t* bits;                  // first byte of the current drawing area in memory
    std::int64_t pitch;                  // bytes per row in memory (positive)
    std::uint32_t outputFlags;
    std::int32_t bytesPerPixel;          // 3 or 4
    std::uint32_t mode;                  // after adjustment by setMode
    bool premultiply;
    std::uint32_t gradientMode, filterMode;
    bool bottomUp;
    std::uint8_t* baseBits;              // the output's first pixel byte, kept for unclip
    ColorParts front, back;

    // Text state: the selected font; the text device, with the font and the
    // raster selected; the raster (a top-down 24-bit DIB section, white
    // glyphs on black), its bits, row distance, width and height; the italic
    // overhang of the font; and the turned font kept for the angle it was
    // made for.
    plat::Handle font;
    plat::TextDevice* textDevice;
    plat::Handle raster;
    std::uint8_t* rasterBits;
    std::int64_t rasterPitch;
    std::int32_t rasterWidth, rasterHeight;
    std::int32_t italicOverhang;
    plat::Handle rotatedFont;
    float rotatedAngle;
    bool textTried;  // the text device was asked for (made on first use, not at start)

    // Row addressing fixed at start: the top row of the area and the signed
    // distance to the next row down (−pitch on a bottom-up output), so that no
    // plot routine branches on orientation.
    std::uint8_t* topRow;
    std::int64_t rowStep;

    plat::DrawSurface* surface;          // memory device context with the target selected
    plat::Handle target;                 // the target bitmap, owned by its image object
};

// The pixel address of (x, y) in the current area; the caller has checked bounds.
inline std::uint8_t* drwPixel(const DrawContext& c, std::int32_t x, std::int32_t y) {
    return c.topRow + c.rowStep * y + static_cast<std::int64_t>(c.bytesPerPixel) * x;
}

// Recomputes topRow and rowStep from bits, height, pitch and bottomUp. An
// empty area (a height of 0 or less) keeps topRow at bits, inside the buffer.
void drwUpdateRows(DrawContext& c);

}  // namespace oct
