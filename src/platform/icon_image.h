// The image of one icon-file entry, as both backends read it before an icon
// is built: either a bitmap (BITMAPINFOHEADER, colour table, colour rows,
// AND-mask rows) or a PNG stream. Both backends refuse the same byte strings
// here, so an icon exists on Linux exactly when it exists on Windows, and
// Windows is never handed an image whose rows lie past the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oct::plat {

// Bitmap entries are at most this wide and this high (an icon directory
// cannot describe more).
constexpr std::int32_t kIconMaxBitmapSide = 256;
// PNG entries are no larger: a directory entry cannot describe more either,
// and the bound keeps what a hostile stream can make the decoder allocate small.
constexpr std::int32_t kIconMaxPngSide = 256;
// The size an icon is built at is at most this wide and high.
constexpr std::int32_t kIconMaxSide = 1024;
// The size the system gives an icon built without a desired size.
constexpr std::int32_t kIconDefaultSide = 32;

enum class IconImageKind { Bitmap, Png };

// Where the parts of an entry's image lie, all within the bytes given.
struct IconImage {
    IconImageKind kind;
    std::int32_t width;           // pixels, 1 .. the limit of the kind
    std::int32_t height;          // rows of colour (half the header's height), likewise
    // Bitmaps only:
    std::uint16_t bitsPerPixel;   // 1, 4, 8, 16, 24 or 32
    bool bitFields;               // 16 or 32 bits with red, green and blue masks
    std::uint32_t masks[3];       // red, green, blue when bitFields
    std::size_t paletteOffset;    // colour table (BGR0 entries) for 1 to 8 bits
    std::uint32_t paletteCount;
    std::size_t colourOffset;     // first stored colour row (the bottom row)
    std::size_t colourRowBytes;
    std::size_t maskOffset;       // first stored AND-mask row (the bottom row)
    std::size_t maskRowBytes;
    bool monochrome;              // 1 bit with black then white: no colour bitmap
};

// Reads and checks an entry's image. False when it is neither a bitmap that
// lies wholly within `size` (header of 40 bytes, uncompressed or bit fields,
// 1/4/8/16/24/32 bits, at most kIconMaxBitmapSide a side, a colour table no
// longer than the bit count allows, colour and mask rows present) nor a PNG
// stream whose header gives at most kIconMaxPngSide a side and whose every
// chunk, up to the closing one, holds no more bytes than remain after it
// starts (so no decoder is asked to allocate for bytes that are not there).
[[nodiscard]] bool iconImageRead(const std::uint8_t* data, std::size_t size, IconImage& out);

// True when the bytes are a PNG stream (they begin with its signature); then
// `width` and `height` are the sides its IHDR gives, or 0 when the bytes end
// before them.
[[nodiscard]] bool iconPngSides(const std::uint8_t* data, std::size_t size, std::uint32_t& width,
                                std::uint32_t& height);

// The size an icon of `image` is built at for a desired size: each side is
// the desired one, or the image's own where the desired one is 0. False for a
// negative desired side or one beyond kIconMaxSide.
[[nodiscard]] bool iconBuiltSize(const IconImage& image, std::int32_t desiredWidth, std::int32_t desiredHeight,
                                 std::int32_t& width, std::int32_t& height);

}  // namespace oct::plat
