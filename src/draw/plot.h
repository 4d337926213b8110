// Plot routines: one per drawing mode and pixel format, chosen once by
// setMode so that a plot makes no mode or format test.
#pragma once

#include <cstdint>

#include "draw/context.h"

namespace oct {

// The setMode entry: adjusts the mode to the pixel format, picks plot,
// plotFront and point, and recomputes the front and back components.
void drwSetModeOp(DrawContext& c, std::uint32_t mode);

// The setFrontColor and setBackColor entries: store the colour as frontColor
// or backColor, then compute its components, red, green and blue multiplied
// by alpha when the mode premultiplies. Storing it keeps the colour across
// the next setMode, which recomputes the components from those fields.
void drwSetFrontColorOp(DrawContext& c, std::uint32_t colour);
void drwSetBackColorOp(DrawContext& c, std::uint32_t colour);

// The step of the colouring rule that follows gradient and filter: the
// mode's operation on one pixel with colour components.
using PixelOp = void (*)(std::uint8_t* pixel, const ColorParts& colour);
PixelOp drwModeOp(std::uint32_t mode, int bytesPerPixel);

// Replaces the context's gradient stops with a copy of `count` stops (0
// removes them). False, with the old stops kept, when there is no memory.
bool drwSetGradientStops(DrawContext& c, const GradientStop* stops, std::int32_t count);

// Colours one pixel by the full rule of the current mode, gradient and filter
// included (the pixel colouring that shapes and spans use).
void drwColourPixel(DrawContext& c, std::int32_t x, std::int32_t y, std::uint8_t* pixel);

// The gradient colour of (x, y): the gradient callback's position between
// the second gradient colour (0) and the first (1), through the stops.
std::uint32_t drwGradientColour(DrawContext& c, std::int32_t x, std::int32_t y);

// The default gradient (1.0 everywhere) and filter (the target unchanged).
double drwDefaultGradient(DrawContext& c, std::int32_t x, std::int32_t y);
std::uint32_t drwDefaultFilter(DrawContext& c, std::int32_t x, std::int32_t y, std::uint32_t source,
                               std::uint32_t target);

}  // namespace oct
