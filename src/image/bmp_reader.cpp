#include "image/bmp_reader.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "encode/bmp_writer.h"
#include "image/byte_reader.h"
#include "image/image.h"
#include "image/limits.h"
#include "image/loader.h"
#include "runtime/heap.h"

namespace oct {
namespace {

// ---------------------------------------------------------------------------
// Headers
// ---------------------------------------------------------------------------

// File header, 14 bytes, little-endian (docs/formats/bmp.md#file-header)
//  off size
//   0   2   "BM"              must match
//   2   4   file size         not read: many writers get it wrong, and the data's own size bounds every read
//   6   2   reserved          must be 0
//   8   2   reserved          must be 0
//  10   4   pixel data offset first stored row starts here
constexpr std::uint16_t kBmpSignature = 0x4D42;
constexpr std::int64_t kFileHeaderSize = 14;

// Information header, from offset 14 (docs/formats/bmp.md#information-header)
//  off size
//  14   4   header size       40, or longer (v4 108, v5 124, OS/2 v2 16..64); the colour table follows it
//  18   4   width, int32
//  22   4   height, int32     positive: bottom row stored first; negative: top row first
//  26   2   planes            not read
//  28   2   bit count         1, 4, 8, 16, 24, 32
//  30   4   compression       0 RGB, 1 RLE8, 2 RLE4, 3 BITFIELDS; 0 when the header ends before it
//  34  20   image size, resolutions, colours used, colours important: not read — the
//           colour table is indexed directly, and the row length follows from the width
//
// Core header, the 12-byte form (docs/formats/bmp.md#core-header)
//  off size
//  14   4   header size       12
//  18   2   width, uint16
//  20   2   height, uint16    always bottom row first
//  22   2   planes            not read
//  24   2   bit count
//           no compression field: always uncompressed; colour entries are 3 bytes
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kMinInfoHeaderSize = 16;    // up to and including the bit count
constexpr std::uint32_t kCompressionFieldEnd = 20;  // header size that includes compression

enum Compression : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3 };

struct BmpHeader {
    std::int64_t pixelOffset;  // first stored row
    std::int64_t tableOffset;  // colour table: 14 + header size
    std::int32_t entrySize;    // bytes per colour table entry: 4, or 3 for the core header
    std::int32_t width;
    std::int32_t height;  // rows, positive
    bool topDown;         // the file stores its top row first
    std::uint16_t bitCount;
    std::uint32_t compression;
};

std::optional<BmpHeader> readHeader(std::span<const std::uint8_t> file) {
    ByteReader in(file);
    const std::uint16_t signature = in.u16();
    in.skip(4);  // file size
    const std::uint16_t reserved1 = in.u16();
    const std::uint16_t reserved2 = in.u16();
    BmpHeader h{};
    h.pixelOffset = in.u32();
    const std::uint32_t headerSize = in.u32();
    if (!in.ok() || signature != kBmpSignature || reserved1 != 0 || reserved2 != 0) return std::nullopt;

    std::int64_t height = 0;
    if (headerSize == kCoreHeaderSize) {
        h.width = in.u16();
        height = in.u16();
        in.skip(2);  // planes
        h.bitCount = in.u16();
        h.compression = kRgb;
        h.entrySize = 3;
    } else {
        if (headerSize < kMinInfoHeaderSize) return std::nullopt;
        h.width = in.i32();
        height = in.i32();
        in.skip(2);  // planes
        h.bitCount = in.u16();
        h.compression = headerSize >= kCompressionFieldEnd ? in.u32() : kRgb;
        h.entrySize = 4;
    }
    if (!in.ok()) return std::nullopt;
    h.tableOffset = kFileHeaderSize + headerSize;

    if (h.width <= 0 || height == 0 || h.bitCount == 0 || h.bitCount > 32) return std::nullopt;
    h.topDown = height < 0;
    if (h.topDown) height = -height;
    // The 24-bit bitmap the picture goes into must be one that can be made;
    // this also refuses sizes no file could mean before anything is allocated.
    std::int64_t bytes = 0;
    if (!checkedMul<std::int64_t>(imgRowBytes(h.width, 24), height, bytes) || bytes > kMaxDibSectionBytes)
        return std::nullopt;
    h.height = static_cast<std::int32_t>(height);
    return h;
}

// ---------------------------------------------------------------------------
// Colour table
// ---------------------------------------------------------------------------

// Blue, green, red of every index a pixel can hold. Entry i is read at the
// colour table start + entry size × i wherever that lies (the colours-used
// field is not consulted); an entry that is not wholly inside the data reads
// as black.
struct Palette {
    std::uint8_t bgr[256][3];
};

void readPalette(std::span<const std::uint8_t> file, const BmpHeader& h, int count, Palette& palette) {
    std::memset(&palette, 0, sizeof palette);
    for (int i = 0; i < count; ++i) {
        ByteReader in(file);
        in.seek(static_cast<std::uint64_t>(h.tableOffset) + static_cast<std::uint64_t>(h.entrySize) * i);
        const auto entry = in.take(3);  // blue, green, red; the fourth byte is reserved
        if (in.ok()) std::memcpy(palette.bgr[i], entry.data(), 3);
    }
}

// ---------------------------------------------------------------------------
// Row conversions: `pixels` output pixels from one stored row, whose bytes
// hold at least that many
// ---------------------------------------------------------------------------

using RowFn = void (*)(std::span<const std::uint8_t> row, std::uint8_t* out, std::int32_t pixels,
                       const Palette& palette);

void put(std::uint8_t* out, std::uint8_t b, std::uint8_t g, std::uint8_t r) { out[0] = b, out[1] = g, out[2] = r; }

// 1 bit: highest bit first; 0 is black and 1 is white whatever the colour table holds.
void rowMono1(std::span<const std::uint8_t> row, std::uint8_t* out, std::int32_t pixels, const Palette&) {
    for (std::int32_t x = 0; x < pixels; ++x, out += 3) {
        const std::uint8_t v = (row[static_cast<std::size_t>(x >> 3)] >> (7 - (x & 7))) & 1 ? 255 : 0;
        put(out, v, v, v);
    }
}

// 4 bits: high nibble first, each an index into the colour table.
void rowIndexed4(std::span<const std::uint8_t> row, std::uint8_t* out, std::int32_t pixels, const Palette& palette) {
    for (std::int32_t x = 0; x < pixels; ++x, out += 3) {
        const std::uint8_t byte = row[static_cast<std::size_t>(x >> 1)];
        std::memcpy(out, palette.bgr[x & 1 ? byte & 15 : byte >> 4], 3);
    }
}

void rowIndexed8(std::span<const std::uint8_t> row, std::uint8_t* out, std::int32_t pixels, const Palette& palette) {
    for (std::int32_t x = 0; x < pixels; ++x, out += 3)
        std::memcpy(out, palette.bgr[row[static_cast<std::size_t>(x)]], 3);
}

std::uint32_t pixel16(std::span<const std::uint8_t> row, std::int32_t x) {
    const auto i = static_cast<std::size_t>(x) * 2;
    return row[i] | row[i + 1] << 8;
}

// 16 bits, 5-5-5: each channel's 5 bits moved to the top of its byte; bit 15 unused.
void rowRgb555(std::span<const std::uint8_t> row, std::uint8_t* out, std::int32_t pixels, const Palette&) {
    for (std::int32_t x = 0; x < pixels; ++x, out += 3) {
        const std::uint32_t v = pixel16(row, x);
        put(out, static_cast<std::uint8_t>(v << 3), static_cast<std::uint8_t>(v >> 5 << 3),
            static_cast<std::uint8_t>(v >> 10 << 3));
    }
}

// 16 bits with bit fields: always read as 5-6-5, whatever masks the file carries.
void rowRgb565(std::span<const std::uint8_t> row, std::uint8_t* out, std::int32_t pixels, const Palette&) {
    for (std::int32_t x = 0; x < pixels; ++x, out += 3) {
        const std::uint32_t v = pixel16(row, x);
        put(out, static_cast<std::uint8_t>(v << 3), static_cast<std::uint8_t>(v >> 5 << 2),
            static_cast<std::uint8_t>(v >> 11 << 3));
    }
}

void rowBgr24(std::span<const std::uint8_t> row, std::uint8_t* out, std::int32_t pixels, const Palette&) {
    std::memcpy(out, row.data(), static_cast<std::size_t>(pixels) * 3);
}

// 32 bits: blue, green, red copied; the fourth byte (alpha) is dropped.
void rowBgrx32(std::span<const std::uint8_t> row, std::uint8_t* out, std::int32_t pixels, const Palette&) {
    for (std::int32_t x = 0; x < pixels; ++x, out += 3) std::memcpy(out, &row[static_cast<std::size_t>(x) * 4], 3);
}

// The conversion of one layout; null for layouts whose pixels are not converted.
RowFn rowFunction(const BmpHeader& h) {
    switch (h.bitCount) {
        case 1: return rowMono1;
        case 4: return h.compression == kRle4 ? nullptr : rowIndexed4;
        case 8: return rowIndexed8;
        case 16: return h.compression == kRgb ? rowRgb555 : h.compression == kBitfields ? rowRgb565 : nullptr;
        case 24: return rowBgr24;
        case 32: return rowBgrx32;
        default: return nullptr;
    }
}

// Where the stored rows go in the caller's bitmap.
struct Target {
    std::uint8_t* bits;
    std::int64_t rowBytes;
    std::int32_t width;
    std::int32_t height;
    bool storedOrder;  // stored row k is bitmap row k (else height - 1 - k)

    std::uint8_t* row(std::int64_t k) const { return bits + (storedOrder ? k : height - 1 - k) * rowBytes; }
};

// Uncompressed rows, each padded to a multiple of 4 bytes. Where the data
// ends inside a row, that row's complete pixels are converted and the rows
// after it stay as they are.
void convertRows(ByteReader& in, const BmpHeader& h, RowFn convert, const Palette& palette, const Target& out) {
    const std::int64_t stored = (static_cast<std::int64_t>(h.width) * h.bitCount + 31) / 32 * 4;
    for (std::int32_t k = 0; k < h.height; ++k) {
        const auto row = in.takeUpTo(static_cast<std::size_t>(stored));
        const std::int64_t whole = static_cast<std::int64_t>(row.size()) * 8 / h.bitCount;
        convert(row, out.row(k), static_cast<std::int32_t>(std::min<std::int64_t>(h.width, whole)), palette);
        if (static_cast<std::int64_t>(row.size()) < stored) return;
    }
}

// ---------------------------------------------------------------------------
// 8-bit run-length decoding (docs/formats/bmp.md#rle8)
//   n > 0, j        n pixels of colour j
//   0, 0            end of row
//   0, 1            end of bitmap
//   0, 2, dx, dy    move right dx and up dy stored rows
//   0, m ≥ 3, …     m indexes, padded to an even count
// Pixels outside the picture are dropped and decoding goes on; it ends at
// the end-of-bitmap code, at the end of the data, or once the position has
// left the picture's last stored row (it can never come back).
// ---------------------------------------------------------------------------

void decodeRle8(ByteReader& in, const Palette& palette, const Target& out) {
    std::int64_t x = 0, y = 0;
    // Columns [from, from + count) of stored row y that lie inside the picture.
    auto clip = [&](std::int64_t from, std::int64_t count, std::int64_t& first, std::int64_t& last) {
        first = std::max<std::int64_t>(from, 0);
        last = std::min<std::int64_t>(from + count, out.width);
        return y < out.height && first < last;
    };
    while (y < out.height) {
        const std::uint8_t n = in.u8();
        const std::uint8_t code = in.u8();
        if (!in.ok()) return;
        std::int64_t first = 0, last = 0;
        if (n > 0) {
            if (clip(x, n, first, last)) {
                std::uint8_t* p = out.row(y) + first * 3;
                for (std::int64_t i = first; i < last; ++i, p += 3) std::memcpy(p, palette.bgr[code], 3);
            }
            x += n;
            continue;
        }
        switch (code) {
            case 0:
                x = 0;
                ++y;
                break;
            case 1: return;
            case 2: {
                const std::uint8_t dx = in.u8();
                const std::uint8_t dy = in.u8();
                if (!in.ok()) return;
                x += dx;
                y += dy;
                break;
            }
            default: {
                const auto run = in.takeUpTo(code);
                if (clip(x, static_cast<std::int64_t>(run.size()), first, last)) {
                    std::uint8_t* p = out.row(y) + first * 3;
                    for (std::int64_t i = first; i < last; ++i, p += 3)
                        std::memcpy(p, palette.bgr[run[static_cast<std::size_t>(i - x)]], 3);
                }
                if (run.size() < code) return;
                x += code;
                if (code & 1) in.skip(1);
                break;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// The decoder
// ---------------------------------------------------------------------------

// The decoder's record in the context's private area.
struct BmpPrivate {
    const std::uint8_t* data;  // the file, set by the check
    std::int64_t size;
    void* buffer;  // freed by cleanup when set; loads from memory never set it
};

const ImageDecoder kBmpDecoder{
    .check = imgBmpCheck,
    .decode = imgBmpDecode,
    .cleanup = imgBmpCleanup,
    .id = kBmpDecoderId,
};

}  // namespace

void imgStartBmpCodec() {
    imgRegisterDecoder(&kBmpDecoder);
    imgRegisterBmpEncoder();
}

int imgBmpCheck(DecodeContext& context) {
    if (!context.data || context.dataSize <= 0) return 0;
    const auto h = readHeader({context.data, static_cast<std::size_t>(context.dataSize)});
    if (!h) return 0;
    context.width = h->width;
    context.height = h->height;
    context.depth = 24;
    context.sourceDepth = h->bitCount;
    auto& own = decoderPrivateStart<BmpPrivate>(context);
    own.data = context.data;
    own.size = context.dataSize;
    return 1;
}

int imgBmpDecode(DecodeContext& context, std::uint8_t* bits, std::int32_t rowBytes, std::int32_t flags) {
    const auto& own = decoderPrivate<BmpPrivate>(context);
    if (!bits || rowBytes < static_cast<std::int64_t>(context.width) * 3) return 0;
    return imgBmpToRgb24({own.data, static_cast<std::size_t>(own.size)}, bits, rowBytes, flags) ? 1 : 0;
}

void imgBmpCleanup(DecodeContext& context) {
    auto& own = decoderPrivate<BmpPrivate>(context);
    memMainFree(own.buffer);
    own.buffer = nullptr;
}

bool imgBmpToRgb24(std::span<const std::uint8_t> file, std::uint8_t* bits, std::int64_t rowBytes, std::int32_t flags) {
    const auto h = readHeader(file);
    if (!h) return false;
    const bool bottomUpTarget = (flags & kDecodeBottomUp) != 0;
    const Target out{bits, rowBytes, h->width, h->height, bottomUpTarget != h->topDown};

    ByteReader in(file);
    if (!in.seek(static_cast<std::uint64_t>(h->pixelOffset))) return true;  // no pixel data: all black

    Palette palette;
    if (h->bitCount == 8 && h->compression == kRle8) {
        readPalette(file, *h, 256, palette);
        decodeRle8(in, palette, out);
        return true;
    }
    const RowFn convert = rowFunction(*h);
    if (!convert) return true;
    readPalette(file, *h, h->bitCount == 4 ? 16 : h->bitCount == 8 ? 256 : 0, palette);
    convertRows(in, *h, convert, palette, out);
    return true;
}

}  // namespace oct
