#include "draw/blit.h"

#include <cstring>

#include "image/image.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"

namespace oct {
namespace {

using namespace DrawMode;

// One call's work after clipping: the visible rectangle of the drawing area
// and the source pixel that lands on its top-left corner.
struct BlitJob {
    DrawContext* c;
    const std::uint8_t* src;  // source pixel at the rectangle's top-left
    std::int64_t srcStep;     // from one source row to the next one down
    std::int32_t x, y, w, h;  // the rectangle, in drawing-area coordinates
    std::uint32_t opacity;
    std::uint8_t alpha[256];  // 32-bit sources: the alpha A drawn for each source alpha a
};

// ---------------------------------------------------------------------------
// Pixel rules: d the output pixel, s the source pixel, a the alpha A drawn
// ---------------------------------------------------------------------------

struct CopyColour {
    static void apply(std::uint8_t* d, const std::uint8_t* s, std::uint32_t) { std::memcpy(d, s, 3); }
};

struct CopyAll {
    static void apply(std::uint8_t* d, const std::uint8_t* s, std::uint32_t a) {
        std::memcpy(d, s, 3);
        d[3] = static_cast<std::uint8_t>(a);
    }
};

struct AlphaOnly {
    static void apply(std::uint8_t* d, const std::uint8_t*, std::uint32_t a) { d[3] = static_cast<std::uint8_t>(a); }
};

struct Xor {
    static void apply(std::uint8_t* d, const std::uint8_t* s, std::uint32_t) {
        d[0] ^= s[0];
        d[1] ^= s[1];
        d[2] ^= s[2];
    }
};

// 3-byte output: (s × A + d × (255 − A)) div 255.
struct Blend3 {
    static void apply(std::uint8_t* d, const std::uint8_t* s, std::uint32_t a) {
        for (int ch = 0; ch < 3; ++ch) d[ch] = static_cast<std::uint8_t>((s[ch] * a + d[ch] * (255 - a)) / 255);
    }
};

// 4-byte output over its alpha t, red first, then green, then blue.
inline void blendChannels(std::uint8_t* d, const std::uint8_t* s, std::uint32_t a, std::uint32_t t) {
    if (a == 0) return;
    if (t == 0) {
        d[2] = s[2];
        d[1] = s[1];
        d[0] = s[0];
        return;
    }
    const std::uint32_t below = (255 - a) * t;
    const std::uint32_t total = a * 255 + below;
    for (int ch = 2; ch >= 0; --ch) d[ch] = static_cast<std::uint8_t>((s[ch] * a * 255 + d[ch] * below) / total);
}

struct BlendOver {
    static void apply(std::uint8_t* d, const std::uint8_t* s, std::uint32_t a) {
        const std::uint32_t t = d[3];
        blendChannels(d, s, a, t);
        d[3] = static_cast<std::uint8_t>((a * 255 + (255 - a) * t) / 255);
    }
};

struct BlendKeep {
    static void apply(std::uint8_t* d, const std::uint8_t* s, std::uint32_t a) { blendChannels(d, s, a, d[3]); }
};

// ---------------------------------------------------------------------------
// Loops, one per source depth, output depth and rule
// ---------------------------------------------------------------------------

template <int SB>
inline std::uint32_t drawnAlpha(const BlitJob& j, const std::uint8_t* s) {
    if constexpr (SB == 4)
        return j.alpha[s[3]];
    else
        return j.opacity;
}

template <int SB, int DB, class Rule>
void loop(const BlitJob& j) {
    for (std::int32_t r = 0; r < j.h; ++r) {
        const std::uint8_t* s = j.src + j.srcStep * r;
        std::uint8_t* d = drwPixel(*j.c, j.x, j.y + r);
        for (std::int32_t i = 0; i < j.w; ++i, s += SB, d += DB) Rule::apply(d, s, drawnAlpha<SB>(j, s));
    }
}

// Whole rows as they are: 32 onto 32 bits with every byte, 24 onto 24 bits.
template <int B>
void copyRows(const BlitJob& j) {
    const std::size_t bytes = static_cast<std::size_t>(j.w) * B;
    for (std::int32_t r = 0; r < j.h; ++r) std::memcpy(drwPixel(*j.c, j.x, j.y + r), j.src + j.srcStep * r, bytes);
}

// The context's filter callback for every pixel, colours as 0xAABBGGRR.
template <int SB, int DB>
void filterLoop(const BlitJob& j) {
    DrawContext& c = *j.c;
    for (std::int32_t r = 0; r < j.h; ++r) {
        const std::uint8_t* s = j.src + j.srcStep * r;
        std::uint8_t* d = drwPixel(c, j.x, j.y + r);
        for (std::int32_t i = 0; i < j.w; ++i, s += SB, d += DB) {
            const std::uint32_t source =
                drawnAlpha<SB>(j, s) << 24 | static_cast<std::uint32_t>(s[0]) << 16 | s[1] << 8 | s[2];
            const std::uint32_t outAlpha = DB == 4 ? d[3] : 0xFF;
            const std::uint32_t target = outAlpha << 24 | static_cast<std::uint32_t>(d[0]) << 16 | d[1] << 8 | d[2];
            const std::uint32_t v = c.filter(c, j.x + i, j.y + r, source, target);
            d[0] = static_cast<std::uint8_t>(v >> 16);
            d[1] = static_cast<std::uint8_t>(v >> 8);
            d[2] = static_cast<std::uint8_t>(v);
            if constexpr (DB == 4) d[3] = static_cast<std::uint8_t>(v >> 24);
        }
    }
}

using JobFn = void (*)(const BlitJob&);

template <int DB>
JobFn choose32(std::uint32_t mode, std::uint32_t opacity, bool alphaFlag) {
    constexpr bool four = DB == 4;
    if (mode & kFilter) return filterLoop<4, DB>;
    if (mode & kXor) return loop<4, DB, Xor>;
    if constexpr (four) {
        if (mode & kAllBytes) return opacity == 255 ? copyRows<4> : loop<4, 4, CopyAll>;
        if (mode & kAlphaOnly) return loop<4, 4, AlphaOnly>;
        if (mode & kBlend) return loop<4, 4, BlendOver>;
        if (mode & kBlendKeepAlpha) return loop<4, 4, BlendKeep>;
        if (alphaFlag) return loop<4, 4, BlendOver>;
    } else {
        if (mode & kAlphaOnly) return nullptr;
        if (mode & (kBlend | kBlendKeepAlpha) || alphaFlag) return loop<4, 3, Blend3>;
    }
    return loop<4, DB, CopyColour>;
}

template <int DB>
JobFn choose24(std::uint32_t mode, std::uint32_t opacity) {
    constexpr bool four = DB == 4;
    if (mode & kFilter) return filterLoop<3, DB>;
    if (mode & kXor) return loop<3, DB, Xor>;
    if constexpr (four) {
        if (mode & kAllBytes) return loop<3, 4, CopyAll>;
        if (mode & kAlphaOnly) return loop<3, 4, AlphaOnly>;
        if (mode & kBlend) return loop<3, 4, BlendOver>;
        if (mode & kBlendKeepAlpha) return loop<3, 4, BlendKeep>;
        if (opacity == 255) return loop<3, 4, CopyColour>;
        if (opacity == 0) return nullptr;
        return loop<3, 4, BlendOver>;
    } else {
        if (mode & kAlphaOnly) return nullptr;
        if (opacity == 255) return copyRows<3>;
        if (opacity == 0) return nullptr;
        return loop<3, 3, Blend3>;
    }
}

// Clips the source rectangle to the drawing area; false when nothing is left.
bool clip(const DrawContext& c, const std::uint8_t* bits, std::int64_t rowBytes, int sourceBytes, std::int32_t x,
          std::int32_t y, std::int32_t w, std::int32_t h, BlitJob& j) {
    if (!bits || !c.topRow || w <= 0 || h <= 0 || rowBytes == 0) return false;
    const DrawRect r = drwClipToArea(c, x, y, w, h);
    if (r.width <= 0 || r.height <= 0) return false;
    const std::int64_t left = r.left, top = r.top, width = r.width, height = r.height, skipX = r.skipX, skipY = r.skipY;
    // Bottom-up rows: the top row is the last in memory, and the next row down precedes it.
    const std::uint8_t* topRow = rowBytes > 0 ? bits + (h - 1) * rowBytes : bits;
    j.srcStep = -rowBytes;
    j.src = topRow + j.srcStep * skipY + sourceBytes * skipX;
    j.x = static_cast<std::int32_t>(left);
    j.y = static_cast<std::int32_t>(top);
    j.w = static_cast<std::int32_t>(width);
    j.h = static_cast<std::int32_t>(height);
    return true;
}

std::uint32_t clampOpacity(std::int32_t o) { return o < 0 ? 0 : o > 255 ? 255 : static_cast<std::uint32_t>(o); }

}  // namespace

void drwBlit32(DrawContext& c, const std::uint8_t* bits, std::int64_t rowBytes, std::int32_t x, std::int32_t y,
               std::int32_t w, std::int32_t h, std::int32_t opacity, bool alphaFlag) {
    BlitJob j;
    if (!clip(c, bits, rowBytes, 4, x, y, w, h, j)) return;
    j.c = &c;
    j.opacity = clampOpacity(opacity);
    const JobFn fn = c.bytesPerPixel == 4 ? choose32<4>(c.mode, j.opacity, alphaFlag)
                                          : choose32<3>(c.mode, j.opacity, alphaFlag);
    if (!fn) return;
    for (std::uint32_t a = 0; a < 256; ++a)
        j.alpha[a] = static_cast<std::uint8_t>(j.opacity == 255 ? a : j.opacity * a / 255);
    fn(j);
}

void drwBlit24(DrawContext& c, const std::uint8_t* bits, std::int64_t rowBytes, std::int32_t x, std::int32_t y,
               std::int32_t w, std::int32_t h, std::int32_t opacity) {
    BlitJob j;
    if (!clip(c, bits, rowBytes, 3, x, y, w, h, j)) return;
    j.c = &c;
    j.opacity = clampOpacity(opacity);
    const JobFn fn = c.bytesPerPixel == 4 ? choose24<4>(c.mode, j.opacity) : choose24<3>(c.mode, j.opacity);
    if (fn) fn(j);
}

void drwBlitDib(DrawContext& c, plat::Handle dib, std::int32_t x, std::int32_t y, std::int32_t opacity, bool alphaFlag) {
    bool topDown = false;
    plat::BitmapDesc bm{};
    if (!plat::bitmapIsDibSection(dib, &topDown) || !plat::bitmapDescribe(dib, bm) || !bm.bits) return;
    const std::int64_t rowBytes = imgRowBytes(bm.width, bm.bitsPerPixel);
    const std::int32_t height = bm.height < 0 ? -bm.height : bm.height;
    if (rowBytes <= 0 || rowBytes > bm.widthBytes) return;
    // A top-down section (a host's) is read from its first row down.
    const std::int64_t step = topDown ? -rowBytes : rowBytes;
    const auto* bits = static_cast<const std::uint8_t*>(bm.bits);
    if (bm.bitsPerPixel == 32)
        drwBlit32(c, bits, step, x, y, bm.width, height, opacity, alphaFlag);
    else if (bm.bitsPerPixel == 24)
        drwBlit24(c, bits, step, x, y, bm.width, height, opacity);
}

DrawRect drwClipToArea(const DrawContext& c, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
    std::int64_t left = x, top = y, width = w, height = h, skipX = 0, skipY = 0;
    if (left < 0) {
        skipX = -left;
        width += left;
        left = 0;
    }
    if (top < 0) {
        skipY = -top;
        height += top;
        top = 0;
    }
    if (width > c.width - left) width = c.width - left;
    if (height > c.height - top) height = c.height - top;
    return {left, top, width, height, skipX, skipY};
}

}  // namespace oct
