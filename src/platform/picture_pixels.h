// Rows of decoded pixels brought to 8-bit blue, green, red and straight
// alpha by the picture rules of platform/pictures.h, for the layouts a
// system codec hands over and its own converters would get wrong (16-bit
// samples, where a converter may apply gamma; CMYK, where each converter has
// its own formula), and the store into the caller's 3- or 4-byte rows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oct::plat {

// Layouts of one decoded row; 16-bit samples are little-endian.
enum class PixelLayout : std::uint8_t {
    Bgra32,  // blue, green, red, straight alpha: 8 bits each
    Gray16,  // one 16-bit sample
    Rgb48,   // red, green, blue: 16 bits each
    Bgr48,
    Rgba64,  // red, green, blue, straight alpha: 16 bits each
    Bgra64,
    Cmyk32,  // cyan, magenta, yellow, black: 8 bits each, 0 = no ink
    Cmyk64,  // the same, 16 bits each
};

// One of red, green, blue from the amount of its ink and of black (0 = no
// ink, 255 = full): (255 − k) − c·(255 − k)/255, the quotient rounded as
// (t + 128 + ((t + 128) >> 8)) >> 8 — the rule Pillow converts CMYK by. The
// one place it is written, for every codec's CMYK.
constexpr std::uint8_t pixelCmykToLight(std::uint32_t ink, std::uint32_t black) {
    const std::uint32_t notBlack = 255 - black;
    const std::uint32_t t = ink * notBlack + 128;
    return static_cast<std::uint8_t>(notBlack - (((t >> 8) + t) >> 8));
}

// Bytes one pixel of `layout` takes.
std::size_t pixelLayoutBytes(PixelLayout layout);

// Converts `count` pixels of `layout` at `in` into blue, green, red, alpha
// at `out` (count × 4 bytes; `in` and `out` must not overlap unless the
// layout is Bgra32 and they are the same). 16-bit samples keep their high
// byte; alpha is 255 where the layout has none. CMYK by pixelCmykToLight.
void pixelsToBgra(PixelLayout layout, const std::uint8_t* in, std::uint8_t* out, std::size_t count);

// True for the layouts of 16-bit samples.
bool pixelLayoutWide(PixelLayout layout);

// Swaps the two bytes of every 16-bit sample in `bytes` bytes at `data`
// (a trailing odd byte stays): for codecs that hand samples high byte first.
void pixelsSwap16(std::uint8_t* data, std::size_t bytes);

// Stores `count` BGRA pixels into `out` as 3 bytes a pixel (alpha dropped)
// or 4. With `clearTransparent`, pixels of alpha 0 are stored as 0, 0, 0, 0
// (a GIF's transparent index). False, storing nothing, for other sizes.
bool pixelsStore(const std::uint8_t* bgra, std::uint8_t* out, std::size_t count, std::int32_t bytesPerPixel,
                 bool clearTransparent);

}  // namespace oct::plat
