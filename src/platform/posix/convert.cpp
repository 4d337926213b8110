// Conversions for image drawing on Linux: depth copies, the area-averaging
// stretch that stands in for GDI's halftone stretching, row copies as
// GetDIBits gives them, and icons turned into 32-bit DIB sections. There are
// no device-dependent bitmaps here: every bitmap is the layer's own DIB
// section of 24 or 32 bits, bottom-up or top-down, and every routine walks
// rows counted from the top.
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "platform/handles.h"
#include "platform/posix/objects.h"

namespace oct::plat {
namespace {

using posix::Bitmap;
using posix::Icon;

Bitmap* bitmapOf(Handle h) { return static_cast<Bitmap*>(posix::objectLookup(h, HandleKind::Bitmap)); }
Icon* iconOf(Handle h) { return static_cast<Icon*>(posix::objectLookup(h, HandleKind::Icon)); }

// One pixel row converted between 3 and 4 bytes per pixel; alpha 0 when it is added.
void convertRow(const std::uint8_t* s, int sBytes, std::uint8_t* d, int dBytes, std::int32_t width) {
    if (sBytes == dBytes) {
        std::memcpy(d, s, static_cast<std::size_t>(width) * sBytes);
        return;
    }
    for (std::int32_t x = 0; x < width; ++x, s += sBytes, d += dBytes) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        if (dBytes == 4) d[3] = 0;
    }
}

// The source pixels that cover output position `o` of `outSize` along an
// axis of `inSize`, each with its overlap in units of 1/outSize of a source
// pixel; the overlaps of one output position add up to inSize.
struct Span {
    std::int32_t first;
    std::vector<std::int64_t> overlap;
};

std::vector<Span> coverage(std::int32_t outSize, std::int32_t inSize) {
    std::vector<Span> spans(static_cast<std::size_t>(outSize));
    for (std::int32_t o = 0; o < outSize; ++o) {
        const std::int64_t lo = static_cast<std::int64_t>(o) * inSize, hi = lo + inSize;
        const std::int64_t first = lo / outSize, last = (hi - 1) / outSize;
        Span& s = spans[static_cast<std::size_t>(o)];
        s.first = static_cast<std::int32_t>(first);
        for (std::int64_t i = first; i <= last; ++i) {
            const std::int64_t a = i * outSize > lo ? i * outSize : lo;
            const std::int64_t b = (i + 1) * outSize < hi ? (i + 1) * outSize : hi;
            s.overlap.push_back(b - a);
        }
    }
    return spans;
}

}  // namespace

bool bitmapCopy(Handle destination, Handle source) {
    Bitmap* d = bitmapOf(destination);
    Bitmap* s = bitmapOf(source);
    if (!d || !s || d->width != s->width || d->height != s->height) return false;
    for (std::int32_t r = 0; r < d->height; ++r)
        convertRow(s->rowFromTop(r), s->bitsPerPixel / 8, d->rowFromTop(r), d->bitsPerPixel / 8, d->width);
    return true;
}

bool bitmapStretchHalftone(Handle destination, Handle source) {
    Bitmap* d = bitmapOf(destination);
    Bitmap* s = bitmapOf(source);
    if (!d || !s || d == s || s->bitsPerPixel > 24 || d->bitsPerPixel != 24) return false;
    try {
        const std::vector<Span> xs = coverage(d->width, s->width);
        const std::vector<Span> ys = coverage(d->height, s->height);
        // Horizontal sums, unrounded: 255 × source width at most per byte.
        const std::size_t rowValues = static_cast<std::size_t>(d->width) * 3;
        std::vector<std::int64_t> across(rowValues * static_cast<std::size_t>(s->height));
        for (std::int32_t r = 0; r < s->height; ++r) {
            const std::uint8_t* row = s->rowFromTop(r);
            std::int64_t* out = across.data() + rowValues * r;
            for (std::int32_t x = 0; x < d->width; ++x) {
                const Span& span = xs[static_cast<std::size_t>(x)];
                for (std::size_t k = 0; k < span.overlap.size(); ++k) {
                    const std::uint8_t* p = row + 3 * (static_cast<std::size_t>(span.first) + k);
                    for (int ch = 0; ch < 3; ++ch) out[3 * x + ch] += span.overlap[k] * p[ch];
                }
            }
        }
        const std::int64_t total = static_cast<std::int64_t>(s->width) * s->height;
        for (std::int32_t r = 0; r < d->height; ++r) {
            const Span& span = ys[static_cast<std::size_t>(r)];
            std::uint8_t* row = d->rowFromTop(r);
            for (std::size_t v = 0; v < rowValues; ++v) {
                std::int64_t sum = 0;
                for (std::size_t k = 0; k < span.overlap.size(); ++k)
                    sum += span.overlap[k] * across[rowValues * (static_cast<std::size_t>(span.first) + k) + v];
                row[v] = static_cast<std::uint8_t>((sum + total / 2) / total);
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::int32_t bitmapReadRows(Handle bitmap, int bitsPerPixel, bool topDown, void* out) {
    Bitmap* s = bitmapOf(bitmap);
    if (!s || !out || (bitsPerPixel != 24 && bitsPerPixel != 32)) return 0;
    const std::size_t outRow = (static_cast<std::size_t>(s->width) * bitsPerPixel + 31) / 32 * 4;
    auto* base = static_cast<std::uint8_t*>(out);
    for (std::int32_t r = 0; r < s->height; ++r) {
        const std::int32_t memoryRow = topDown ? r : s->height - 1 - r;
        convertRow(s->rowFromTop(r), s->bitsPerPixel / 8, base + outRow * memoryRow, bitsPerPixel / 8, s->width);
    }
    return s->height;
}

Handle iconColourBitmap(Handle icon) {
    Icon* i = iconOf(icon);
    if (!i || !i->colourBitmap) return 0;
    // Windows makes a device-dependent bitmap here; this layer has only DIB sections.
    if (failThisCall(FailKind::Bitmap)) return 0;
    const Handle h = dibSectionCreate(i->width, i->height, 32);
    Bitmap* d = bitmapOf(h);
    if (!d) return 0;
    const std::size_t row = static_cast<std::size_t>(i->width) * 4;
    for (std::int32_t r = 0; r < i->height; ++r) std::memcpy(d->rowFromTop(r), i->pixels + row * r, row);
    return h;
}

Handle iconRenderMasked(Handle icon) {
    Icon* i = iconOf(icon);
    if (!i || !i->colourBitmap) return 0;
    const Handle h = dibSectionCreate(i->width, i->height, 32);
    Bitmap* d = bitmapOf(h);
    if (!d) return 0;
    for (std::int32_t r = 0; r < i->height; ++r) {
        const std::size_t from = static_cast<std::size_t>(r) * i->width;
        std::uint8_t* p = d->rowFromTop(r);
        for (std::int32_t x = 0; x < i->width; ++x, p += 4) {
            std::memcpy(p, i->pixels + 4 * (from + x), 3);
            p[3] = i->mask[from + x] ? 0 : 255;
        }
    }
    return h;
}

bool alphaBlendBuiltIn() { return true; }

Handle deviceBitmapCreate(std::int32_t, std::int32_t, const std::uint8_t*) { return 0; }

}  // namespace oct::plat
