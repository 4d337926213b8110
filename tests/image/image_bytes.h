// Small BMP and icon files built in memory for the image reader tests, and
// pixel access to a loaded image.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "image/image.h"
#include "platform/bitmaps.h"

namespace octtest {

using Bytes = std::vector<std::uint8_t>;

inline void put16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void put32(Bytes& b, std::uint32_t v) {
    put16(b, v);
    put16(b, v >> 16);
}
inline void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// A BMP file with a 40-byte information header: the colour table (4-byte
// entries, already laid out) and the pixel bytes (already padded) follow it.
struct BmpFields {
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    Bytes colourTable{};
    Bytes pixels{};
};

inline Bytes makeBmp(const BmpFields& s) {
    const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(s.colourTable.size());
    Bytes b{'B', 'M'};
    put32(b, offset + static_cast<std::uint32_t>(s.pixels.size()));
    put32(b, 0);
    put32(b, offset);
    put32(b, 40);
    put32(b, static_cast<std::uint32_t>(s.width));
    put32(b, static_cast<std::uint32_t>(s.height));
    put16(b, 1);
    put16(b, s.bitCount);
    put32(b, s.compression);
    put32(b, static_cast<std::uint32_t>(s.pixels.size()));
    for (int i = 0; i < 4; ++i) put32(b, 0);
    append(b, s.colourTable);
    append(b, s.pixels);
    return b;
}

// A colour table of 4-byte entries from (blue, green, red) triples.
inline Bytes colours(std::initializer_list<std::uint32_t> rgb) {
    Bytes t;
    for (std::uint32_t c : rgb)
        t.insert(t.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                           static_cast<std::uint8_t>(c >> 16), 0});
    return t;
}

// One directory entry of an icon file, and its image bytes.
struct IconEntryFields {
    std::uint8_t width;
    std::uint8_t height;
    std::uint16_t bitCount;
    Bytes image;
};

// An icon file (type 1, or another type for the refusals) with the images
// laid out after the directory in entry order.
inline Bytes makeIcon(const std::vector<IconEntryFields>& entries, std::uint16_t type = 1) {
    Bytes b;
    put16(b, 0);
    put16(b, type);
    put16(b, static_cast<std::uint32_t>(entries.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(entries.size());
    for (const auto& e : entries) {
        b.insert(b.end(), {e.width, e.height, 0, 0});
        put16(b, 1);
        put16(b, e.bitCount);
        put32(b, static_cast<std::uint32_t>(e.image.size()));
        put32(b, offset);
        offset += static_cast<std::uint32_t>(e.image.size());
    }
    for (const auto& e : entries) append(b, e.image);
    return b;
}

// The image of one icon entry: a BITMAPINFOHEADER of size × 2·size rows,
// `bitCount` bits, then colour rows (each pixel's bytes = `fill`) and a
// clear AND mask. Depths up to 8 get a grey colour table.
inline Bytes iconImage(std::int32_t size, std::uint16_t bitCount, std::uint8_t fill = 0x80) {
    Bytes b;
    put32(b, 40);
    put32(b, static_cast<std::uint32_t>(size));
    put32(b, static_cast<std::uint32_t>(size * 2));
    put16(b, 1);
    put16(b, bitCount);
    for (int i = 0; i < 6; ++i) put32(b, 0);
    if (bitCount <= 8)
        for (int i = 0; i < (1 << bitCount); ++i) put32(b, static_cast<std::uint32_t>(i * 0x010101 & 0xFFFFFF));
    const std::int32_t colourRow = (size * bitCount + 31) / 32 * 4;
    const std::int32_t maskRow = (size + 31) / 32 * 4;
    b.insert(b.end(), static_cast<std::size_t>(colourRow * size), fill);
    b.insert(b.end(), static_cast<std::size_t>(maskRow * size), 0);
    return b;
}

// Blue, green, red of pixel (x, y) of a loaded image, y counted from the top.
struct Rgb {
    std::uint8_t b, g, r;
    bool operator==(const Rgb&) const = default;
};

inline Rgb pixelAt(const oct::plat::BitmapDesc& bm, std::int32_t x, std::int32_t y) {
    const auto* p = static_cast<const std::uint8_t*>(bm.bits) +
                    static_cast<std::int64_t>(bm.height - 1 - y) * bm.widthBytes + x * (bm.bitsPerPixel / 8);
    return {p[0], p[1], p[2]};
}

// Every pixel of a loaded image, top row first, as B, G, R triples.
inline std::vector<Rgb> pixelsOf(std::int64_t id) {
    std::vector<Rgb> out;
    oct::plat::BitmapDesc bm{};
    if (!oct::plat::bitmapDescribe(oct::imgImageHandle(id), bm) || !bm.bits) return out;
    for (std::int32_t y = 0; y < bm.height; ++y)
        for (std::int32_t x = 0; x < bm.width; ++x) out.push_back(pixelAt(bm, x, y));
    return out;
}

}  // namespace octtest
