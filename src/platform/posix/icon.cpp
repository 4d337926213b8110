// Icons on Linux: the layer's own icon objects, built from icon-file images
// with the answers USER32 gives for the same bytes — the same images refused
// (platform/icon_image.h), the same built size (the desired one, the image's
// own where a desired side is 0, 32 × 32 by default), no colour bitmap for a
// black-and-white 1-bit image, and a colour bitmap that describes as a
// 32-bit device bitmap whose pixels are not addressable.

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "platform/handles.h"
#include "platform/icon_image.h"
#include "platform/pictures.h"
#include "platform/posix/objects.h"

namespace oct::plat {
namespace {

using posix::Icon;

// The depth Windows gives an icon's colour bitmap: that of a 32-bit display.
constexpr std::uint16_t kColourBitsPerPixel = 32;

// An image's pixels (B, G, R, A) and AND mask (1 = background shows), top row first.
struct Raster {
    std::int32_t width = 0, height = 0;
    std::uint8_t* pixels = nullptr;
    std::uint8_t* mask = nullptr;

    Raster() = default;
    Raster(const Raster&) = delete;
    Raster& operator=(const Raster&) = delete;
    ~Raster() {
        std::free(pixels);
        std::free(mask);
    }
    [[nodiscard]] bool allocate(std::int32_t w, std::int32_t h) {
        width = w;
        height = h;
        const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
        pixels = static_cast<std::uint8_t*>(std::calloc(count, 4));
        mask = static_cast<std::uint8_t*>(std::calloc(count, 1));
        return pixels && mask;
    }
};

// ---------------------------------------------------------------------------
// Bitmap images: one row routine per pixel format, picked once per image
// ---------------------------------------------------------------------------

struct RowSource {
    const std::uint8_t* data;  // the whole image; every offset below was checked against its size
    const IconImage& image;
};
using RowDecoder = void (*)(const RowSource& src, const std::uint8_t* row, std::uint8_t* out);

void putPaletteEntry(const RowSource& src, unsigned index, std::uint8_t* out) {
    // An index past the table gives black, as a GDI display of the image does.
    if (index < src.image.paletteCount) {
        const std::uint8_t* entry = src.data + src.image.paletteOffset + 4 * std::size_t{index};
        out[0] = entry[0];
        out[1] = entry[1];
        out[2] = entry[2];
    } else {
        out[0] = out[1] = out[2] = 0;
    }
}

template <int Bits>
void rowIndexed(const RowSource& src, const std::uint8_t* row, std::uint8_t* out) {
    constexpr int perByte = 8 / Bits;
    constexpr unsigned low = (1u << Bits) - 1;
    for (std::int32_t x = 0; x < src.image.width; ++x) {
        const int shift = 8 - Bits * (x % perByte + 1);
        putPaletteEntry(src, (row[x / perByte] >> shift) & low, out + 4 * x);
    }
}

std::uint8_t expand5(unsigned v) { return static_cast<std::uint8_t>(v << 3 | v >> 2); }

void row555(const RowSource& src, const std::uint8_t* row, std::uint8_t* out) {
    for (std::int32_t x = 0; x < src.image.width; ++x, out += 4) {
        const unsigned v = row[2 * x] | row[2 * x + 1] << 8;
        out[0] = expand5(v & 0x1F);
        out[1] = expand5(v >> 5 & 0x1F);
        out[2] = expand5(v >> 10 & 0x1F);
    }
}

// One channel of a bit-field pixel, scaled to 8 bits.
std::uint8_t field(std::uint32_t pixel, std::uint32_t mask) {
    if (!mask) return 0;
    const int shift = std::countr_zero(mask);
    const int bits = std::bit_width(mask >> shift);
    const std::uint32_t value = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<std::uint8_t>(value >> (bits - 8));
    return static_cast<std::uint8_t>(value * 255 / ((1u << bits) - 1));
}

template <int Bytes>
void rowFields(const RowSource& src, const std::uint8_t* row, std::uint8_t* out) {
    const std::uint32_t* m = src.image.masks;
    for (std::int32_t x = 0; x < src.image.width; ++x, out += 4) {
        std::uint32_t v = 0;
        for (int i = 0; i < Bytes; ++i) v |= static_cast<std::uint32_t>(row[Bytes * x + i]) << (8 * i);
        out[0] = field(v, m[2]);
        out[1] = field(v, m[1]);
        out[2] = field(v, m[0]);
    }
}

void rowBgr(const RowSource& src, const std::uint8_t* row, std::uint8_t* out) {
    for (std::int32_t x = 0; x < src.image.width; ++x, out += 4, row += 3) {
        out[0] = row[0];
        out[1] = row[1];
        out[2] = row[2];
    }
}

void rowBgra(const RowSource& src, const std::uint8_t* row, std::uint8_t* out) {
    std::memcpy(out, row, 4 * static_cast<std::size_t>(src.image.width));
}

RowDecoder pickRowDecoder(const IconImage& image) {
    switch (image.bitsPerPixel) {
        case 1: return rowIndexed<1>;
        case 4: return rowIndexed<4>;
        case 8: return rowIndexed<8>;
        case 16: return image.bitFields ? rowFields<2> : row555;
        case 24: return rowBgr;
        default: return image.bitFields ? rowFields<4> : rowBgra;
    }
}

bool decodeBitmap(const std::uint8_t* data, const IconImage& image, Raster& out) {
    if (!out.allocate(image.width, image.height)) return false;
    const RowSource src{data, image};
    const RowDecoder decode = pickRowDecoder(image);
    const std::size_t w = static_cast<std::size_t>(image.width);
    for (std::int32_t stored = 0; stored < image.height; ++stored) {
        const std::size_t y = static_cast<std::size_t>(image.height - 1 - stored);  // rows are stored bottom-up
        decode(src, data + image.colourOffset + stored * image.colourRowBytes, out.pixels + 4 * w * y);
        const std::uint8_t* maskRow = data + image.maskOffset + stored * image.maskRowBytes;
        for (std::size_t x = 0; x < w; ++x) out.mask[w * y + x] = maskRow[x / 8] >> (7 - x % 8) & 1;
    }
    // A 32-bit image whose alpha bytes are all zero is meant to be seen through
    // its mask; otherwise its alpha stands.
    bool ownAlpha = false;
    if (image.bitsPerPixel == 32 && !image.bitFields)
        for (std::size_t i = 0; i < w * static_cast<std::size_t>(image.height) && !ownAlpha; ++i)
            ownAlpha = out.pixels[4 * i + 3] != 0;
    if (!ownAlpha)
        for (std::size_t i = 0; i < w * static_cast<std::size_t>(image.height); ++i)
            out.pixels[4 * i + 3] = out.mask[i] ? 0 : 255;
    return true;
}

// ---------------------------------------------------------------------------
// PNG images, through the PNG picture codec
// ---------------------------------------------------------------------------

bool decodePng(const std::uint8_t* data, std::size_t size, const IconImage& image, Raster& out) {
    // The header was read once already; a stream that now says otherwise is refused.
    const PictureLimits limits{std::max(image.width, image.height),
                               4 * static_cast<std::int64_t>(image.width) * image.height, 1};
    PictureInfo info{};
    PictureReader* png = pictureOpen(PictureFormat::Png, data, size, limits, info);
    if (!png) return false;
    const bool ok = info.width == image.width && info.height == image.height &&
                    out.allocate(image.width, image.height) &&
                    pictureDecode(png, 0, out.pixels, 4 * image.width, 4, false);
    pictureClose(png);
    if (!ok) return false;
    const std::size_t count = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    for (std::size_t i = 0; i < count; ++i) out.mask[i] = out.pixels[4 * i + 3] == 0;
    return true;
}

// ---------------------------------------------------------------------------
// Building the icon
// ---------------------------------------------------------------------------

// Nearest-neighbour copy into a raster of another size, as USER32 stretches
// an image to the desired size.
bool scale(const Raster& src, std::int32_t width, std::int32_t height, Raster& out) {
    if (!out.allocate(width, height)) return false;
    for (std::int32_t y = 0; y < height; ++y) {
        const std::int64_t sy = static_cast<std::int64_t>(y) * src.height / height;
        for (std::int32_t x = 0; x < width; ++x) {
            const std::int64_t sx = static_cast<std::int64_t>(x) * src.width / width;
            const std::size_t from = static_cast<std::size_t>(sy * src.width + sx);
            const std::size_t to = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x;
            std::memcpy(out.pixels + 4 * to, src.pixels + 4 * from, 4);
            out.mask[to] = src.mask[from];
        }
    }
    return true;
}

Handle build(const std::uint8_t* data, std::size_t size, const IconImage& image, std::int32_t width,
             std::int32_t height) {
    Raster decoded;
    const bool ok = image.kind == IconImageKind::Png ? decodePng(data, size, image, decoded)
                                                     : decodeBitmap(data, image, decoded);
    if (!ok) return 0;
    Raster scaled;
    Raster* result = &decoded;
    if (width != decoded.width || height != decoded.height) {
        if (!scale(decoded, width, height, scaled)) return 0;
        result = &scaled;
    }
    auto* icon = new (std::nothrow) Icon;
    if (!icon) return 0;
    icon->kind = HandleKind::Icon;
    icon->width = width;
    icon->height = height;
    icon->colourBitmap = image.kind == IconImageKind::Png || !image.monochrome;
    icon->pixels = result->pixels;
    icon->mask = result->mask;
    result->pixels = result->mask = nullptr;
    const Handle handle = posix::objectRegister(icon);
    if (!handle) delete icon;
    return handle;
}

}  // namespace

Handle iconFromResource(const std::uint8_t* data, std::size_t size, std::int32_t width, std::int32_t height) {
    if (failThisCall(FailKind::Icon)) return 0;
    IconImage image;
    std::int32_t builtWidth, builtHeight;
    if (!iconImageRead(data, size, image) || !iconBuiltSize(image, width, height, builtWidth, builtHeight)) return 0;
    return build(data, size, image, builtWidth, builtHeight);
}

Handle iconFromResourceDefault(const std::uint8_t* data, std::size_t size) {
    if (failThisCall(FailKind::Icon)) return 0;
    IconImage image;
    if (!iconImageRead(data, size, image)) return 0;
    return build(data, size, image, kIconDefaultSide, kIconDefaultSide);
}

bool iconDescribe(Handle icon, BitmapDesc& colour) {
    auto* object = static_cast<Icon*>(posix::objectLookup(icon, HandleKind::Icon));
    if (!object || !object->colourBitmap) return false;
    colour = {0, object->width, object->height, object->width * 4, 1, kColourBitsPerPixel, nullptr};
    return true;
}

}  // namespace oct::plat
