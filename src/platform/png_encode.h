// PNG out. The image layer chooses what a PNG holds (a palette, RGB or RGBA)
// and lays out its rows; the platform's PNG encoder (on Linux libdeflate for
// indexed pictures and libspng for the others, WIC on Windows) compresses
// them. The bytes may differ between the two; the pixels
// do not.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oct::plat {

enum class PngColour : std::uint8_t {
    Indexed,  // a palette of 1 .. 256 entries, indices of `bitDepth` bits packed from the high bit
    Rgb,      // red, green, blue, 8 bits each
    Rgba,     // red, green, blue, straight alpha
};

struct PngPicture {
    std::int32_t width, height;     // 1 .. 2^31 − 1
    PngColour colour;
    std::int32_t bitDepth;          // Indexed: 1, 2, 4 or 8; else 8
    const std::uint8_t* palette;    // Indexed: paletteSize entries of red, green, blue
    std::int32_t paletteSize;
    const std::uint8_t* alpha;      // Indexed: the alpha of the first alphaCount entries (tRNS); the rest are opaque
    std::int32_t alphaCount;
    std::int32_t level;             // deflate effort, 1 .. 9
    bool filter;                    // per-row filters chosen adaptively; false: none (better for palettes)
    // Fills `out` with row `y` (top row first) as the PNG stores it, without
    // the filter byte: ⌈width × bits per pixel / 8⌉ bytes.
    void (*row)(void* context, std::int32_t y, std::uint8_t* out);
    void* rowContext;
};

// The bytes of one of the picture's rows as the PNG stores them.
inline std::size_t pngRowBytes(const PngPicture& p) {
    const std::size_t bits = p.colour == PngColour::Indexed ? static_cast<std::size_t>(p.bitDepth)
                             : p.colour == PngColour::Rgb   ? 24
                                                            : 32;
    return (static_cast<std::size_t>(p.width) * bits + 7) / 8;
}

// Where encoded bytes go, in order; false stops the encoder.
struct ByteSink {
    bool (*write)(void* context, const void* bytes, std::size_t n);
    void* context;
};

// Encodes the picture as a PNG into the sink. False when the encoder fails
// or the sink refuses; what reached the sink is then to be discarded.
bool pngEncode(const PngPicture& picture, const ByteSink& sink);

}  // namespace oct::plat
