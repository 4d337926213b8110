#include "draw/plot.h"

#include <cstring>

#include "runtime/heap.h"

namespace oct {
namespace {

using namespace DrawMode;

// ---------------------------------------------------------------------------
// Pixel operations on one pixel (blue, green, red[, alpha] in memory) with
// colour components; "R" below is red already multiplied by alpha where the
// mode premultiplies.
// ---------------------------------------------------------------------------

void opCopy(std::uint8_t* p, const ColorParts& s) {
    p[0] = static_cast<std::uint8_t>(s.blue);
    p[1] = static_cast<std::uint8_t>(s.green);
    p[2] = static_cast<std::uint8_t>(s.red);
}

void opAllBytes(std::uint8_t* p, const ColorParts& s) {
    opCopy(p, s);
    p[3] = static_cast<std::uint8_t>(s.alpha);
}

void opXor(std::uint8_t* p, const ColorParts& s) {
    p[0] ^= static_cast<std::uint8_t>(s.blue);
    p[1] ^= static_cast<std::uint8_t>(s.green);
    p[2] ^= static_cast<std::uint8_t>(s.red);
}

void opAlphaOnly(std::uint8_t* p, const ColorParts& s) { p[3] = static_cast<std::uint8_t>(s.alpha); }

void opNothing(std::uint8_t*, const ColorParts&) {}

// 3 bytes: (d × (255 − A) + R) div 255, R premultiplied.
void opBlend24(std::uint8_t* p, const ColorParts& s) {
    p[0] = static_cast<std::uint8_t>((p[0] * s.inverse + s.blue) / 255);
    p[1] = static_cast<std::uint8_t>((p[1] * s.inverse + s.green) / 255);
    p[2] = static_cast<std::uint8_t>((p[2] * s.inverse + s.red) / 255);
}

// 4 bytes over a target with alpha t: A = 0 keeps d; t = 0 takes the plain
// channel R div A; otherwise (R × 255 + d × (255 − A) × t) div ((255 − A) × t + A × 255).
std::uint8_t blendChannel(std::uint32_t d, std::uint32_t r, const ColorParts& s, std::uint32_t t) {
    if (s.alpha == 0) return static_cast<std::uint8_t>(d);
    if (t == 0) return static_cast<std::uint8_t>(r / s.alpha);
    return static_cast<std::uint8_t>((r * 255 + d * s.inverse * t) / (s.inverse * t + s.alpha * 255));
}

void opBlendKeepAlpha32(std::uint8_t* p, const ColorParts& s) {
    const std::uint32_t t = p[3];
    p[2] = blendChannel(p[2], s.red, s, t);
    p[1] = blendChannel(p[1], s.green, s, t);
    p[0] = blendChannel(p[0], s.blue, s, t);
}

void opBlend32(std::uint8_t* p, const ColorParts& s) {
    const std::uint32_t t = p[3];
    opBlendKeepAlpha32(p, s);
    p[3] = static_cast<std::uint8_t>((s.alpha * 255 + s.inverse * t) / 255);
}

ColorParts partsOf(std::uint32_t colour, bool premultiply) {
    ColorParts s;
    s.alpha = colour >> 24;
    s.inverse = 255 - s.alpha;
    s.red = colour & 0xFF;
    s.green = (colour >> 8) & 0xFF;
    s.blue = (colour >> 16) & 0xFF;
    if (premultiply) {
        s.red *= s.alpha;
        s.green *= s.alpha;
        s.blue *= s.alpha;
    }
    return s;
}

// Channel by channel (alpha included), hi × t + lo × (1 − t), truncated.
std::uint32_t mix(std::uint32_t hi, std::uint32_t lo, double t) {
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const double first = (hi >> shift) & 0xFF;
        const double second = (lo >> shift) & 0xFF;
        double v = first * t + second * (1.0 - t);
        v = v < 0 ? 0 : v > 255 ? 255 : v;
        out |= static_cast<std::uint32_t>(v) << shift;
    }
    return out;
}

}  // namespace

// The gradient runs from the second gradient colour at 0 through the stops
// to the first at 1; p is placed between the two points around it (the
// outermost pair when it lies beyond them).
std::uint32_t drwGradientColour(DrawContext& c, std::int32_t x, std::int32_t y) {
    const double p = c.gradient(c, x, y);
    if (c.stopCount <= 0) return mix(c.gradientFirst, c.gradientSecond, p);
    double loPos = 0, hiPos = 1;
    std::uint32_t lo = c.gradientSecond, hi = c.gradientFirst;
    for (std::int32_t i = 0; i <= c.stopCount; ++i) {
        hiPos = i < c.stopCount ? c.stops[i].position : 1.0;
        hi = i < c.stopCount ? c.stops[i].colour : c.gradientFirst;
        if (p <= hiPos || i == c.stopCount) break;
        loPos = hiPos;
        lo = hi;
    }
    const double t = hiPos > loPos ? (p - loPos) / (hiPos - loPos) : 1.0;
    return mix(hi, lo, t);
}

namespace {

// A pixel as 0x00BBGGRR, with its alpha byte on top when asked.
std::uint32_t readPixel(const std::uint8_t* p, bool withAlpha) {
    std::uint32_t v = static_cast<std::uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
    if (withAlpha) v |= static_cast<std::uint32_t>(p[3]) << 24;
    return v;
}

// ---------------------------------------------------------------------------
// Plot tables
// ---------------------------------------------------------------------------

template <PixelOp kOp>
void plotWith(DrawContext& c, std::int32_t x, std::int32_t y, std::uint32_t colour) {
    kOp(drwPixel(c, x, y), partsOf(colour, c.premultiply));
}

template <PixelOp kOp>
void plotFrontWith(DrawContext& c, std::int32_t x, std::int32_t y) {
    kOp(drwPixel(c, x, y), c.front);
}

void plotColouring(DrawContext& c, std::int32_t x, std::int32_t y, std::uint32_t colour) {
    c.frontColor = colour;
    drwColourPixel(c, x, y, drwPixel(c, x, y));
}

void plotFrontColouring(DrawContext& c, std::int32_t x, std::int32_t y) { drwColourPixel(c, x, y, drwPixel(c, x, y)); }

struct PlotFuncs {
    PlotFn plot;
    PlotFrontFn plotFront;
};

template <PixelOp kOp>
constexpr PlotFuncs kFuncs{.plot = plotWith<kOp>, .plotFront = plotFrontWith<kOp>};
constexpr PlotFuncs kColouring{.plot = plotColouring, .plotFront = plotFrontColouring};

std::uint32_t pointRgb(const DrawContext& c, std::int32_t x, std::int32_t y) {
    return readPixel(drwPixel(c, x, y), false);
}

std::uint32_t pointRgba(const DrawContext& c, std::int32_t x, std::int32_t y) {
    return readPixel(drwPixel(c, x, y), true);
}

const PlotFuncs& choosePlot(std::uint32_t mode, bool four) {
    if (mode & (kGradient | kFilter)) return kColouring;
    if (mode & kXor) return kFuncs<opXor>;
    if (four && (mode & kAllBytes)) return kFuncs<opAllBytes>;
    if (mode & kAlphaOnly) return four ? kFuncs<opAlphaOnly> : kFuncs<opNothing>;
    if (mode & kBlend) return four ? kFuncs<opBlend32> : kFuncs<opBlend24>;
    if (mode & kBlendKeepAlpha) return four ? kFuncs<opBlendKeepAlpha32> : kFuncs<opBlend24>;
    return kFuncs<opCopy>;
}

}  // namespace

PixelOp drwModeOp(std::uint32_t mode, int bytesPerPixel) {
    const bool four = bytesPerPixel == 4;
    if (mode & kXor) return opXor;
    if (mode & kAllBytes) return four ? opAllBytes : opCopy;
    if (mode & kAlphaOnly) return four ? opAlphaOnly : opNothing;
    if (mode & kBlend) return four ? opBlend32 : opBlend24;
    if (mode & kBlendKeepAlpha) return four ? opBlendKeepAlpha32 : opBlend24;
    return opCopy;
}

void drwSetFrontColorOp(DrawContext& c, std::uint32_t colour) {
    c.frontColor = colour;
    c.front = partsOf(colour, c.premultiply);
}

void drwSetBackColorOp(DrawContext& c, std::uint32_t colour) {
    c.backColor = colour;
    c.back = partsOf(colour, c.premultiply);
}

bool drwSetGradientStops(DrawContext& c, const GradientStop* stops, std::int32_t count) {
    GradientStop* copy = nullptr;
    if (count > 0) {
        copy = static_cast<GradientStop*>(memMainAlloc(static_cast<std::int64_t>(sizeof(GradientStop)) * count, false));
        if (!copy) return false;
        std::memcpy(copy, stops, sizeof(GradientStop) * static_cast<std::size_t>(count));
    }
    memMainFree(c.stops);
    c.stops = copy;
    c.stopCount = count > 0 ? count : 0;
    return true;
}

void drwSetModeOp(DrawContext& c, std::uint32_t mode) {
    const bool four = c.bytesPerPixel == 4;
    if (mode & kAllBytes) {
        mode &= ~(kAlphaOnly | kBlend | kBlendKeepAlpha);
        if (!four) mode &= ~kAllBytes;
    }
    c.mode = mode;
    c.premultiply = (mode & (kBlend | kBlendKeepAlpha)) && !(mode & (kXor | kGradient | kFilter | kAllBytes));
    c.gradientMode = mode & kGradient;
    c.filterMode = mode & kFilter;

    const PlotFuncs& funcs = choosePlot(mode, four);
    c.ops.plot = funcs.plot;
    c.ops.plotFront = funcs.plotFront;
    c.ops.point = four && (mode & (kAlphaOnly | kBlend | kBlendKeepAlpha | kFilter | kAllBytes)) ? pointRgba : pointRgb;

    c.ops.setFrontColor(c, c.frontColor);
    c.ops.setBackColor(c, c.backColor);
}

void drwColourPixel(DrawContext& c, std::int32_t x, std::int32_t y, std::uint8_t* pixel) {
    const bool four = c.bytesPerPixel == 4;
    if (c.filterMode) {
        const std::uint32_t source = c.gradientMode ? drwGradientColour(c, x, y) : c.frontColor;
        std::uint32_t target = readPixel(pixel, four);
        if (!four) target |= 0xFF000000u;
        const std::uint32_t out = c.filter(c, x, y, source, target);
        pixel[0] = static_cast<std::uint8_t>(out >> 16);
        pixel[1] = static_cast<std::uint8_t>(out >> 8);
        pixel[2] = static_cast<std::uint8_t>(out);
        if (four) pixel[3] = static_cast<std::uint8_t>(out >> 24);
        return;
    }
    if (c.gradientMode) c.front = partsOf(drwGradientColour(c, x, y), (c.mode & (kBlend | kBlendKeepAlpha)) != 0);
    drwModeOp(c.mode, c.bytesPerPixel)(pixel, c.front);
}

double drwDefaultGradient(DrawContext&, std::int32_t, std::int32_t) { return 1.0; }

std::uint32_t drwDefaultFilter(DrawContext&, std::int32_t, std::int32_t, std::uint32_t, std::uint32_t target) {
    return target;
}

}  // namespace oct
