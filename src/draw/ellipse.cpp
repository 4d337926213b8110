// Ellipses and rounded boxes.
//
// The shape. An ellipse of radii rx, ry about (0, 0) holds the pixels
// (dx, dy) whose centres lie in the ellipse of radii rx + ½ and ry + ½:
// (2dx)² (2ry + 1)² + (2dy)² (2rx + 1)² ≤ (2rx + 1)² (2ry + 1)². It reaches
// exactly rx to each side and ry up and down, and the half radius keeps the
// four extreme rows and columns from ending in a lone pixel. For each row
// offset dy from 0 to ry it holds the pixels with |dx| ≤ w(dy), the row's
// half-width. A rounded box is the same ellipse cut open at its centre
// lines: its left half about x + rx, its right half about x + width − 1 − rx,
// the top about y + ry and the bottom about y + height − 1 − ry, with the
// straight rows and columns between. An ellipse is thus a rounded box whose
// two centres coincide, and both are drawn by one routine, row by row, only
// for the rows inside the area.
//
// Filled, each row is one span from the left edge to the right edge, so
// every pixel is coloured exactly once. Outlined (mode bit 0x4), a row
// colours, on each side, the pixels from its edge inwards down to one past
// the edge of the next row outwards (the row further from the centre): a
// run of at least one pixel, so that consecutive rows touch at least
// diagonally and the outline has no gap; the outermost row (top and bottom)
// is coloured whole. The two sides of a row merge into one span where they
// meet, and rows never overlap, so no pixel is coloured twice and
// exclusive-or drawing is exact. Every row is mirrored about the centres, so
// the outline is symmetric both ways.
//
// The half-widths. Up to a radius of 700 they come from a walk down the
// quarter outline: dx starts at rx and drops, row by row from dy = 0, while
// the pixel lies outside — O(rx + ry) steps in 64-bit integers. Above 700
// a walk would cost time in proportion to the radius even when a few rows
// are visible, and its products outgrow 64 bits: each visible row's
// half-width is then computed directly, (rx + ½) · √(1 − (dy / (ry + ½))²)
// in double precision, corrected by the exact test in 128-bit integers.
// Both give the same half-widths, so the switch changes no pixel. Radii are
// held to 2^29, which keeps the exact test inside 128 bits; such an ellipse
// is far larger than any drawing area.
#include <algorithm>
#include <cmath>

#include "draw/primitives.h"

namespace oct {
namespace {

using Wide = unsigned __int128;

constexpr std::int64_t kRadiusLimit = std::int64_t{1} << 29;

std::int64_t magnitude(std::int32_t v) { return v < 0 ? -static_cast<std::int64_t>(v) : v; }

// Whether pixel (dx, dy) lies in the ellipse of radii rx, ry (all ≥ 0,
// radii at most kRadiusLimit).
bool insideExact(std::int64_t rx, std::int64_t ry, std::int64_t dx, std::int64_t dy) {
    const Wide x = static_cast<Wide>(2 * dx), y = static_cast<Wide>(2 * dy);
    const Wide a = static_cast<Wide>(2 * rx + 1), b = static_cast<Wide>(2 * ry + 1);
    return x * x * b * b + y * y * a * a <= a * a * b * b;
}

// The rows of a rounded shape: centres cx0 ≤ cx1 and cy0 ≤ cy1, radii rx, ry.
struct Rounded {
    std::int64_t cx0, cx1, cy0, cy1, rx, ry;
};

class HalfWidths {
public:
    HalfWidths(std::int64_t rx, std::int64_t ry)
        : rx_(rx), ry_(ry), walked_(rx <= kEllipseWalkLimit && ry <= kEllipseWalkLimit) {
        if (walked_) drwEllipseWalk(rx, ry, table_);
    }
    std::int64_t operator()(std::int64_t dy) const {
        if (dy > ry_) return -1;
        return walked_ ? table_[dy] : drwEllipseHalfWidth(rx_, ry_, dy);
    }

private:
    std::int64_t rx_, ry_;
    bool walked_;
    std::int32_t table_[kEllipseWalkLimit + 1];
};

void drawRounded(DrawContext& c, const Rounded& s, bool outline) {
    const HalfWidths w(s.rx, s.ry);
    const std::int64_t top = s.cy0 - s.ry, bottom = s.cy1 + s.ry;
    const std::int64_t first = std::max<std::int64_t>(top, 0), last = std::min<std::int64_t>(bottom, c.height - 1);
    for (std::int64_t row = first; row <= last; ++row) {
        const std::int64_t dy = row < s.cy0 ? s.cy0 - row : row > s.cy1 ? row - s.cy1 : 0;
        const std::int64_t half = w(dy);
        const std::int64_t left = s.cx0 - half, right = s.cx1 + half;
        if (!outline || row == top || row == bottom) {
            drwRowClipped(c, left, right, row);
            continue;
        }
        // The next row outwards: in the straight middle part a row like this one.
        const bool middle = row > s.cy0 && row < s.cy1;
        const std::int64_t outer = middle ? half : w(dy + 1);
        const std::int64_t inset = std::min(half, outer + 1);
        if (s.cx0 - inset + 1 >= s.cx1 + inset) {
            drwRowClipped(c, left, right, row);
        } else {
            drwRowClipped(c, left, s.cx0 - inset, row);
            drwRowClipped(c, s.cx1 + inset, right, row);
        }
    }
}

}  // namespace

void drwEllipseWalk(std::int64_t rx, std::int64_t ry, std::int32_t* out) {
    const std::int64_t a2 = (2 * rx + 1) * (2 * rx + 1), b2 = (2 * ry + 1) * (2 * ry + 1), limit = a2 * b2;
    std::int64_t dx = rx;
    for (std::int64_t dy = 0; dy <= ry; ++dy) {
        while (dx > 0 && 4 * dx * dx * b2 + 4 * dy * dy * a2 > limit) --dx;
        out[dy] = static_cast<std::int32_t>(dx);
    }
}

std::int64_t drwEllipseHalfWidth(std::int64_t rx, std::int64_t ry, std::int64_t dy) {
    rx = std::min(rx, kRadiusLimit);
    ry = std::min(ry, kRadiusLimit);
    if (dy < 0) dy = -dy;
    if (dy > ry) return -1;
    const double f = static_cast<double>(2 * dy) / static_cast<double>(2 * ry + 1);
    const double estimate = std::floor((static_cast<double>(rx) + 0.5) * std::sqrt(std::max(0.0, 1.0 - f * f)));
    std::int64_t dx = std::clamp<std::int64_t>(static_cast<std::int64_t>(estimate), 0, rx);
    while (dx < rx && insideExact(rx, ry, dx + 1, dy)) ++dx;
    while (dx > 0 && !insideExact(rx, ry, dx, dy)) --dx;
    return dx;
}

std::int64_t drwEllipseOp(DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t rx, std::int32_t ry) {
    if (!drwHasArea(c)) return 0;
    const std::int64_t a = std::min(magnitude(rx), kRadiusLimit), b = std::min(magnitude(ry), kRadiusLimit);
    drawRounded(c, {x, x, y, y, a, b}, (c.mode & DrawMode::kOutline) != 0);
    return 1;
}

std::int64_t drwRoundBoxOp(DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                           std::int32_t rx, std::int32_t ry) {
    if (!drwHasArea(c)) return 0;
    std::int64_t left = x, top = y, width = w, height = h;
    if (width < 0) left += width, width = -width;
    if (height < 0) top += height, height = -height;
    if (width == 0 || height == 0) return 1;
    // The corners may take at most half of each side.
    const std::int64_t a = std::min({magnitude(rx), (width - 1) / 2, kRadiusLimit});
    const std::int64_t b = std::min({magnitude(ry), (height - 1) / 2, kRadiusLimit});
    drawRounded(c, {left + a, left + width - 1 - a, top + b, top + height - 1 - b, a, b},
                (c.mode & DrawMode::kOutline) != 0);
    return 1;
}

}  // namespace oct
