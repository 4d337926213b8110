// Horizontal and vertical spans, the pixel runs every shape is drawn with,
// and the installation of the primitive entries.
#include <algorithm>

#include "draw/plot.h"
#include "draw/primitives.h"
#include "runtime/heap.h"

namespace oct {
namespace {

// Colours `count` pixels from `p`, `step` bytes apart, moving (dx, dy) in
// picture terms per pixel. The mode's operation is chosen once per span.
void span(DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t count, std::int32_t dx, std::int32_t dy,
          std::int64_t step) {
    std::uint8_t* p = drwPixel(c, x, y);
    if (c.gradientMode || c.filterMode) {
        for (std::int32_t i = 0; i < count; ++i, p += step, x += dx, y += dy) drwColourPixel(c, x, y, p);
        return;
    }
    const PixelOp op = drwModeOp(c.mode, c.bytesPerPixel);
    for (std::int32_t i = 0; i < count; ++i, p += step) op(p, c.front);
}

}  // namespace

void drwHorizontalSpan(DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t count) {
    span(c, x, y, count, 1, 0, c.bytesPerPixel);
}

void drwVerticalSpan(DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t count) {
    span(c, x, y, count, 0, 1, c.rowStep);
}

void drwRowClipped(DrawContext& c, std::int64_t x0, std::int64_t x1, std::int64_t y) {
    if (y < 0 || y >= c.height) return;
    x0 = std::max<std::int64_t>(x0, 0);
    x1 = std::min<std::int64_t>(x1, c.width - 1);
    if (x1 >= x0)
        drwHorizontalSpan(c, static_cast<std::int32_t>(x0), static_cast<std::int32_t>(y),
                          static_cast<std::int32_t>(x1 - x0 + 1));
}

void drwColumnClipped(DrawContext& c, std::int64_t x, std::int64_t y0, std::int64_t y1) {
    if (x < 0 || x >= c.width) return;
    y0 = std::max<std::int64_t>(y0, 0);
    y1 = std::min<std::int64_t>(y1, c.height - 1);
    if (y1 >= y0)
        drwVerticalSpan(c, static_cast<std::int32_t>(x), static_cast<std::int32_t>(y0),
                        static_cast<std::int32_t>(y1 - y0 + 1));
}

void drwInstallPrimitives(DrawContext& c) {
    c.ops.box = drwBoxOp;
    c.ops.roundBox = drwRoundBoxOp;
    c.ops.ellipse = drwEllipseOp;
    c.ops.fill = drwFillOp;
    c.ops.line = drwLineOp;
    c.ops.clip = drwClipOp;
    c.ops.unclip = drwUnclipOp;
}

void drwReleasePrimitives(DrawContext& c) {
    drwReleaseFill(c);
    memMainFree(c.stops);
    c.stops = nullptr;
    c.stopCount = 0;
}

}  // namespace oct
