// Boxes, lines and the clip rectangle.
#include <algorithm>
#include <cstdlib>

#include "draw/plot.h"
#include "draw/primitives.h"

namespace oct {
namespace {

// Line ends are held to this range before clipping, so that the clipping
// arithmetic stays far from any overflow.
constexpr std::int64_t kLineLimit = 65000;

struct Point {
    std::int64_t x, y;
};

// One clipping pass along one axis (`along` picks x or y of each end) onto
// 0 .. limit. False when both ends lie beyond the same limit. The slope is
// taken once from the ends as they enter the pass; an end beyond a limit
// moves onto it and its other coordinate moves along the segment, truncated
// toward zero.
bool clipPass(Point& a, Point& b, std::int64_t Point::*along, std::int64_t Point::*other, std::int64_t limit) {
    if ((a.*along < 0 && b.*along < 0) || (a.*along > limit && b.*along > limit)) return false;
    if (a.*along >= 0 && a.*along <= limit && b.*along >= 0 && b.*along <= limit) return true;
    // Some end is outside and the two are not beyond the same limit, so they differ along the axis.
    const double slope = static_cast<double>(b.*other - a.*other) / static_cast<double>(b.*along - a.*along);
    for (Point* p : {&a, &b}) {
        const std::int64_t to = std::clamp<std::int64_t>(p->*along, 0, limit);
        if (to == p->*along) continue;
        p->*other = static_cast<std::int64_t>(static_cast<double>(p->*other) + static_cast<double>(to - p->*along) * slope);
        p->*along = to;
    }
    return true;
}

void colourAt(DrawContext& c, std::int64_t x, std::int64_t y) {
    const auto px = static_cast<std::int32_t>(x), py = static_cast<std::int32_t>(y);
    drwColourPixel(c, px, py, drwPixel(c, px, py));
}

// Bresenham's integer line between two ends inside the area, both coloured:
// from the end with the smaller major coordinate, error 2|minor| − |major|;
// a step with an error of 0 or more also steps the minor axis.
void bresenham(DrawContext& c, Point a, Point b) {
    const bool xMajor = std::llabs(b.y - a.y) <= std::llabs(b.x - a.x);
    std::int64_t Point::*major = xMajor ? &Point::x : &Point::y;
    std::int64_t Point::*minor = xMajor ? &Point::y : &Point::x;
    if (b.*major < a.*major) std::swap(a, b);
    const std::int64_t dMajor = b.*major - a.*major;
    const std::int64_t dMinor = std::llabs(b.*minor - a.*minor);
    const std::int64_t minorStep = b.*minor < a.*minor ? -1 : 1;
    std::int64_t e = 2 * dMinor - dMajor;
    Point p = a;
    colourAt(c, p.x, p.y);
    for (std::int64_t i = 0; i < dMajor; ++i) {
        p.*major += 1;
        if (e < 0) {
            e += 2 * dMinor;
        } else {
            p.*minor += minorStep;
            e += 2 * dMinor - 2 * dMajor;
        }
        colourAt(c, p.x, p.y);
    }
}

}  // namespace

std::int64_t drwBoxOp(DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
    if (!drwHasArea(c)) return 0;
    std::int64_t left = x, top = y, width = w, height = h;
    if (width < 0) left += width, width = -width;
    if (height < 0) top += height, height = -height;
    if (c.mode & DrawMode::kOutline) {
        // Rows first, then the columns between them. Rows of a box of height
        // 1 (and columns of width 1) are drawn twice, as the outline's rule says.
        if (width > 0) {
            drwRowClipped(c, left, left + width - 1, top);
            drwRowClipped(c, left, left + width - 1, top + height - 1);
        }
        if (height - 2 > 0) {
            drwColumnClipped(c, left, top + 1, top + height - 2);
            drwColumnClipped(c, left + width - 1, top + 1, top + height - 2);
        }
        return 1;
    }
    for (std::int64_t row = std::max<std::int64_t>(top, 0); row < std::min<std::int64_t>(top + height, c.height); ++row)
        drwRowClipped(c, left, left + width - 1, row);
    return 1;
}

std::int64_t drwLineOp(DrawContext& c, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
    // On an empty area the clipping limits (0 and −1) enclose no pixel:
    // nothing is drawn rather than a line outside the area.
    if (!drwHasArea(c)) return 0;
    if (y1 == y2) {
        drwRowClipped(c, std::min(x1, x2), std::max(x1, x2), y1);
        return 1;
    }
    if (x1 == x2) {
        drwColumnClipped(c, x1, std::min(y1, y2), std::max(y1, y2));
        return 1;
    }
    auto held = [](std::int32_t v) { return std::clamp<std::int64_t>(v, -kLineLimit, kLineLimit); };
    Point a{held(x1), held(y1)}, b{held(x2), held(y2)};
    if (clipPass(a, b, &Point::x, &Point::y, c.width - 1) && clipPass(a, b, &Point::y, &Point::x, c.height - 1))
        bresenham(c, a, b);
    return 1;
}

std::int64_t drwClipOp(DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
    if (!c.baseBits) return 0;
    std::int64_t left = x, top = y, width = w, height = h;
    if (left < 0) width += left, left = 0;
    else left = std::min<std::int64_t>(left, c.fullWidth);
    if (top < 0) height += top, top = 0;
    else top = std::min<std::int64_t>(top, c.fullHeight);
    width = std::min<std::int64_t>(width, c.fullWidth - left);
    height = std::min<std::int64_t>(height, c.fullHeight - top);
    c.width = static_cast<std::int32_t>(std::max<std::int64_t>(width, INT32_MIN));
    c.height = static_cast<std::int32_t>(std::max<std::int64_t>(height, INT32_MIN));
    c.originX = static_cast<std::int32_t>(-left);
    c.originY = static_cast<std::int32_t>(-top);
    // An empty rectangle keeps bits at the output's first byte: its address
    // could lie outside the buffer, and nothing is drawn there anyway.
    c.bits = c.baseBits;
    if (width > 0 && height > 0)
        c.bits += c.pitch * (c.bottomUp ? c.fullHeight - top - height : top) + c.bytesPerPixel * left;
    drwUpdateRows(c);
    return width > 0 && height > 0 ? 1 : 0;
}

void drwUnclipOp(DrawContext& c) {
    if (!c.baseBits) return;
    c.width = c.fullWidth;
    c.height = c.fullHeight;
    c.bits = c.baseBits;
    c.originX = c.originY = 0;
    drwUpdateRows(c);
}

}  // namespace oct
