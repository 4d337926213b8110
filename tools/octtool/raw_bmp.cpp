#include "raw_bmp.h"

#include <cstring>

#include "image/byte_reader.h"
#include "image/image.h"
#include "image/limits.h"

namespace oct::tool {
namespace {

// BMP file header (14 bytes) and the information header fields read here,
// little-endian (docs/formats/bmp.md):
//  off size
//   0   2   "BM"
//  10   4   offset of the pixel rows
//  14   4   information header size: 40, or 52 and more with the masks inside
//  18   4   width
//  22   4   height; negative for top-down rows
//  28   2   bits per pixel
//  30   4   compression: 0 BI_RGB, 3 BI_BITFIELDS
//  54  12   red, green, blue masks (inside the header from size 52, else after it)
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;

void put16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
    put16(b, v);
    put16(b, v >> 16);
}

}  // namespace

std::optional<RawPicture> readRawBmp(const Bytes& file, std::string& error) {
    ByteReader r(file.data(), file.size());
    const std::uint16_t magic = r.u16();
    r.seek(10);
    const std::uint32_t offset = r.u32();
    const std::uint32_t headerSize = r.u32();
    const std::int32_t width = r.i32();
    const std::int32_t height = r.i32();
    r.u16();  // planes: not needed to find the rows
    const std::uint16_t bits = r.u16();
    const std::uint32_t compression = r.u32();
    if (!r.ok() || magic != 0x4D42 || headerSize < kInfoHeaderSize) {
        error = "not a BMP file";
        return std::nullopt;
    }
    if (bits != 24 && bits != 32) {
        error = "a BMP file of " + std::to_string(bits) + " bits per pixel; only 24 and 32 are read";
        return std::nullopt;
    }
    bool ok = compression == kBiRgb;
    if (bits == 32 && compression == kBiBitfields) {
        r.seek(kFileHeaderSize + kInfoHeaderSize);
        const std::uint32_t red = r.u32(), green = r.u32(), blue = r.u32();
        ok = r.ok() && red == 0xFF0000 && green == 0xFF00 && blue == 0xFF;
    }
    if (!ok) {
        error = "a compressed BMP file or one with unusual bit fields; only BI_RGB and the usual masks are read";
        return std::nullopt;
    }
    if (width <= 0 || height == 0 || height == INT32_MIN) {
        error = "a BMP file without pixels";
        return std::nullopt;
    }
    RawPicture p;
    p.width = width;
    p.height = height < 0 ? -height : height;
    p.bitsPerPixel = bits;
    const std::int64_t rowBytes = imgRowBytes(width, bits);
    std::int64_t total;
    if (!checkedMul<std::int64_t>(rowBytes, p.height, total) || total > kMaxDibSectionBytes) {
        error = "a BMP file too large for a picture";
        return std::nullopt;
    }
    if (!r.seek(offset) || r.remaining() < static_cast<std::uint64_t>(total)) {
        error = "a BMP file whose pixel rows are cut short";
        return std::nullopt;
    }
    const std::span<const std::uint8_t> stored = r.take(static_cast<std::size_t>(total));
    p.rows.resize(static_cast<std::size_t>(total));
    const auto row = static_cast<std::size_t>(rowBytes);
    for (std::int32_t i = 0; i < p.height; ++i) {
        const std::int32_t from = height < 0 ? p.height - 1 - i : i;
        std::memcpy(p.rows.data() + row * i, stored.data() + row * from, row);
    }
    return p;
}

Bytes writeBmp32(std::int32_t width, std::int32_t height, const std::uint8_t* rows) {
    const auto image = static_cast<std::uint32_t>(imgRowBytes(width, 32) * height);
    Bytes b{'B', 'M'};
    put32(b, kFileHeaderSize + kInfoHeaderSize + image);
    put32(b, 0);
    put32(b, kFileHeaderSize + kInfoHeaderSize);
    put32(b, kInfoHeaderSize);
    put32(b, static_cast<std::uint32_t>(width));
    put32(b, static_cast<std::uint32_t>(height));
    put16(b, 1);
    put16(b, 32);
    put32(b, kBiRgb);
    put32(b, image);
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    put32(b, 0);
    b.insert(b.end(), rows, rows + image);
    return b;
}

}  // namespace oct::tool
