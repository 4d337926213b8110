#include "platform/picture_pixels.h"

#include <cstring>
#include <utility>

namespace oct::plat {
namespace {

using RowConvert = void (*)(const std::uint8_t* in, std::uint8_t* out, std::size_t count);

// High byte of the little-endian sample `n` of a pixel.
constexpr std::uint8_t high(const std::uint8_t* pixel, int n) { return pixel[2 * n + 1]; }

void convertBgra32(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    if (in != out) std::memmove(out, in, count * 4);
}

void convertGray16(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, in += 2, out += 4) {
        out[0] = out[1] = out[2] = high(in, 0);
        out[3] = 255;
    }
}

// Samples red, green, blue (and alpha) are at positions r, g, b (a) of each pixel.
template <int Samples, int R, int G, int B, int A>
void convertWide(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, in += 2 * Samples, out += 4) {
        out[0] = high(in, B);
        out[1] = high(in, G);
        out[2] = high(in, R);
        out[3] = A < 0 ? 255 : high(in, A);
    }
}

template <int SampleBytes>
void convertCmyk(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    // With 16-bit samples the high byte of each (the second, little-endian).
    constexpr int at = SampleBytes - 1;
    for (std::size_t i = 0; i < count; ++i, in += 4 * SampleBytes, out += 4) {
        const std::uint32_t k = in[3 * SampleBytes + at];
        out[0] = pixelCmykToLight(in[2 * SampleBytes + at], k);
        out[1] = pixelCmykToLight(in[1 * SampleBytes + at], k);
        out[2] = pixelCmykToLight(in[at], k);
        out[3] = 255;
    }
}

struct LayoutEntry {
    std::size_t bytes;
    RowConvert convert;
};

// Indexed by PixelLayout.
constexpr LayoutEntry kLayouts[] = {
    {.bytes = 4, .convert = convertBgra32},
    {.bytes = 2, .convert = convertGray16},
    {.bytes = 6, .convert = convertWide<3, 0, 1, 2, -1>},
    {.bytes = 6, .convert = convertWide<3, 2, 1, 0, -1>},
    {.bytes = 8, .convert = convertWide<4, 0, 1, 2, 3>},
    {.bytes = 8, .convert = convertWide<4, 2, 1, 0, 3>},
    {.bytes = 4, .convert = convertCmyk<1>},
    {.bytes = 8, .convert = convertCmyk<2>},
};
static_assert(sizeof kLayouts / sizeof kLayouts[0] == static_cast<std::size_t>(PixelLayout::Cmyk64) + 1);

}  // namespace

std::size_t pixelLayoutBytes(PixelLayout layout) { return kLayouts[static_cast<std::size_t>(layout)].bytes; }

bool pixelLayoutWide(PixelLayout layout) { return layout != PixelLayout::Bgra32 && layout != PixelLayout::Cmyk32; }

void pixelsSwap16(std::uint8_t* data, std::size_t bytes) {
    for (std::size_t i = 0; i + 1 < bytes; i += 2) std::swap(data[i], data[i + 1]);
}

void pixelsToBgra(PixelLayout layout, const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    kLayouts[static_cast<std::size_t>(layout)].convert(in, out, count);
}

bool pixelsStore(const std::uint8_t* bgra, std::uint8_t* out, std::size_t count, std::int32_t bytesPerPixel,
                 bool clearTransparent) {
    if (bytesPerPixel != 3 && bytesPerPixel != 4) return false;
    for (std::size_t i = 0; i < count; ++i, bgra += 4, out += bytesPerPixel) {
        const bool clear = clearTransparent && bgra[3] == 0;
        for (int c = 0; c < bytesPerPixel; ++c) out[c] = clear ? 0 : bgra[c];
    }
    return true;
}

}  // namespace oct::plat
