// Drawing primitives: the shape entries of the operation table (box, line,
// ellipse, roundBox, fill) and the clipping pair. Every entry takes
// coordinates relative to the current drawing area and clips what it draws
// to that area; each pixel is coloured by the full rule of the mode
// (drwColourPixel), with the front colour.
//
// The entries return 1 when they ran on a drawing area and 0 when there is
// none to draw on (no session started, or an empty clip rectangle).
#pragma once

#include <cstdint>

#include "draw/context.h"

namespace oct {

// Fills the shape and clipping entries of the table (drwInitPixelOutput).
void drwInstallPrimitives(DrawContext& c);

// Releases what the primitives made in the context (the fill state and the
// gradient stops); the output's stop entry calls it.
void drwReleasePrimitives(DrawContext& c);

// True when the context has a started, non-empty drawing area.
inline bool drwHasArea(const DrawContext& c) { return c.topRow && c.width > 0 && c.height > 0; }

// Spans: count pixels to the right of, or below, (x, y) in picture terms,
// already clipped by the caller. Gradient and filter modes colour each pixel
// with its own coordinates; other modes apply their operation with the front
// components.
void drwHorizontalSpan(DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t count);
void drwVerticalSpan(DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t count);

// The same from x0 to x1 (or y0 to y1), both included, clipped to the area:
// nothing when the row (column) lies outside it or x1 < x0.
void drwRowClipped(DrawContext& c, std::int64_t x0, std::int64_t x1, std::int64_t y);
void drwColumnClipped(DrawContext& c, std::int64_t x, std::int64_t y0, std::int64_t y1);

// The entries (see the operation table in context.h).
std::int64_t drwBoxOp(DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);
std::int64_t drwLineOp(DrawContext& c, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2);
std::int64_t drwClipOp(DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h);
void drwUnclipOp(DrawContext& c);
std::int64_t drwEllipseOp(DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t rx, std::int32_t ry);
std::int64_t drwRoundBoxOp(DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
                           std::int32_t rx, std::int32_t ry);
std::int64_t drwFillOp(DrawContext& c, std::int32_t x, std::int32_t y, std::uint32_t border);

// How a flood fill ended.
enum class FillResult : std::uint8_t {
    Filled,    // the region is filled
    Outside,   // nothing to fill: no area, or (x, y) outside it
    NoMemory,  // memory ran out, before the fill or part way
};
// The fill of the entry drwFillOp (1 for Filled, else 0), with its reason.
FillResult drwFill(DrawContext& c, std::int32_t x, std::int32_t y, std::uint32_t border);

// Releases the fill state (pool, row heads, work list) of a context.
void drwReleaseFill(DrawContext& c);

// Radius above which ellipse and roundBox compute each row's half-width
// directly instead of walking the whole quarter outline.
constexpr std::int64_t kEllipseWalkLimit = 700;

// Half-widths of an ellipse of radii rx, ry ≥ 0 (ellipse.cpp): for row
// offset dy, the largest dx with (2dx)² (2ry + 1)² + (2dy)² (2rx + 1)² ≤
// (2rx + 1)² (2ry + 1)², or −1 when |dy| > ry. The walk fills out[0..ry]
// (both radii at most kEllipseWalkLimit); the direct form answers one row
// for any radii (held to 2^29).
void drwEllipseWalk(std::int64_t rx, std::int64_t ry, std::int32_t* out);
std::int64_t drwEllipseHalfWidth(std::int64_t rx, std::int64_t ry, std::int64_t dy);

}  // namespace oct
