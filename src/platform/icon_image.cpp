#include "platform/icon_image.h"

namespace oct::plat {
namespace {

// Bitmap image of an icon entry, little-endian:
//  off size
//   0   4   header size        40; other header kinds are refused
//   4   4   width
//   8   4   height             colour rows + mask rows, so twice the icon's height
//  12   2   planes             not read: an icon is built whatever it says
//  14   2   bits per pixel     1, 4, 8, 16, 24, 32
//  16   4   compression        0 (none) or 3 (bit fields, 16 and 32 bits only)
//  20  12   image size, resolution: not read
//  32   4   colours used       0 means all that the bit count allows
//  36   4   important colours  not read
//  40       bit-field masks (3 × 4 bytes) or colour table (4 bytes an entry),
//           then the colour rows and the AND-mask rows, bottom row first,
//           each padded to a multiple of 4 bytes
constexpr std::size_t kHeaderSize = 40;
constexpr std::uint32_t kUncompressed = 0;
constexpr std::uint32_t kBitFields = 3;

// PNG stream: the 8-byte signature, then chunks, the IHDR chunk first
// (length 13, big-endian width and height at offsets 16 and 20), IEND last.
// A chunk, big-endian:
//  off size
//   0   4   data length      at most 2^31 - 1
//   4   4   type             four letters
//   8   n   data
//  8+n  4   CRC
constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::size_t kPngHeaderEnd = 33;  // signature, IHDR length, type, 13 bytes, CRC
constexpr std::size_t kPngChunkFrame = 12;  // length, type and CRC around the data

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint32_t be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::size_t rowBytes(std::int32_t width, int bitsPerPixel) {
    return (static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32 * 4;
}

bool isChunk(const std::uint8_t* type, const char (&name)[5]) {
    return type[0] == name[0] && type[1] == name[1] && type[2] == name[2] && type[3] == name[3];
}

// Walks the chunks after the signature: each one's data must lie within the
// bytes given. The walk ends at IEND (whose CRC may be cut short, as every
// pixel is there by then) or at the end of the bytes; a stream cut between
// chunks is left to the decoder, which refuses it.
bool pngChunksFit(const std::uint8_t* data, std::size_t size) {
    std::size_t at = sizeof kPngSignature;
    while (size - at >= 8) {
        const std::uint32_t length = be32(data + at);
        if (length > INT32_MAX || length > size - at - 8) return false;
        if (isChunk(data + at + 4, "IEND")) return true;
        if (length + kPngChunkFrame > size - at) return false;
        at += length + kPngChunkFrame;
    }
    return true;
}

bool readPng(const std::uint8_t* data, std::size_t size, IconImage& out) {
    if (size < kPngHeaderEnd) return false;
    if (be32(data + 8) != 13 || !isChunk(data + 12, "IHDR")) return false;
    const std::uint32_t width = be32(data + 16), height = be32(data + 20);
    if (width == 0 || height == 0 || width > kIconMaxPngSide || height > kIconMaxPngSide) return false;
    if (!pngChunksFit(data, size)) return false;
    out = {};
    out.kind = IconImageKind::Png;
    out.width = static_cast<std::int32_t>(width);
    out.height = static_cast<std::int32_t>(height);
    return true;
}

bool readBitmap(const std::uint8_t* data, std::size_t size, IconImage& out) {
    if (size < kHeaderSize || le32(data) != kHeaderSize) return false;
    const auto width = static_cast<std::int32_t>(le32(data + 4));
    // The stored height counts the mask rows too; an odd one loses its last row.
    const std::int32_t height = static_cast<std::int32_t>(le32(data + 8)) / 2;
    const std::uint16_t bpp = le16(data + 14);
    const std::uint32_t compression = le32(data + 16);
    const std::uint32_t coloursUsed = le32(data + 32);
    // Top-down icons (a negative height) do not exist in icon files; refused.
    if (width < 1 || width > kIconMaxBitmapSide || height < 1 || height > kIconMaxBitmapSide) return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;

    IconImage image{};
    image.kind = IconImageKind::Bitmap;
    image.width = width;
    image.height = height;
    image.bitsPerPixel = bpp;
    image.paletteOffset = kHeaderSize;
    std::size_t tableBytes = 0;
    if (compression == kBitFields) {
        if ((bpp != 16 && bpp != 32) || coloursUsed != 0) return false;
        tableBytes = 12;
        if (size < kHeaderSize + tableBytes) return false;
        image.bitFields = true;
        for (int i = 0; i < 3; ++i) image.masks[i] = le32(data + kHeaderSize + 4 * i);
    } else if (compression == kUncompressed) {
        if (bpp <= 8) {
            const std::uint32_t all = 1u << bpp;
            if (coloursUsed > all) return false;
            image.paletteCount = coloursUsed ? coloursUsed : all;
            tableBytes = 4 * std::size_t{image.paletteCount};
        } else {
            // A table before deeper pixels only helps a palette display; it is skipped.
            if (coloursUsed > 256) return false;
            tableBytes = 4 * std::size_t{coloursUsed};
        }
    } else {
        return false;
    }

    image.colourOffset = kHeaderSize + tableBytes;
    image.colourRowBytes = rowBytes(width, bpp);
    image.maskOffset = image.colourOffset + image.colourRowBytes * static_cast<std::size_t>(height);
    image.maskRowBytes = rowBytes(width, 1);
    // Sides of at most 256 keep every sum here far from overflowing.
    if (image.maskOffset + image.maskRowBytes * static_cast<std::size_t>(height) > size) return false;
    // Windows keeps a 1-bit image whose first two table entries are exactly
    // black and white (whatever the colours-used field says) as a monochrome
    // icon. The rows that follow the header always hold those 8 bytes.
    image.monochrome = bpp == 1 && le32(data + kHeaderSize) == 0 && le32(data + kHeaderSize + 4) == 0x00FFFFFF;
    out = image;
    return true;
}

}  // namespace

bool iconPngSides(const std::uint8_t* data, std::size_t size, std::uint32_t& width, std::uint32_t& height) {
    if (!data || size < sizeof kPngSignature) return false;
    for (std::size_t i = 0; i < sizeof kPngSignature; ++i)
        if (data[i] != kPngSignature[i]) return false;
    const bool sides = size >= 24;  // signature, IHDR length and type, width, height
    width = sides ? be32(data + 16) : 0;
    height = sides ? be32(data + 20) : 0;
    return true;
}

bool iconImageRead(const std::uint8_t* data, std::size_t size, IconImage& out) {
    if (!data) return false;
    std::uint32_t width, height;
    if (iconPngSides(data, size, width, height)) return readPng(data, size, out);
    return readBitmap(data, size, out);
}

bool iconBuiltSize(const IconImage& image, std::int32_t desiredWidth, std::int32_t desiredHeight,
                   std::int32_t& width, std::int32_t& height) {
    if (desiredWidth < 0 || desiredHeight < 0 || desiredWidth > kIconMaxSide || desiredHeight > kIconMaxSide)
        return false;
    width = desiredWidth ? desiredWidth : image.width;
    height = desiredHeight ? desiredHeight : image.height;
    return true;
}

}  // namespace oct::plat
