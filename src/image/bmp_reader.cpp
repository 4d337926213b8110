#include "image/bmp_reader.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "image/byte_reader.h"
#include "image/image.h"
#include "image/limits.h"
#include "image/bmp_direct.h"
#include "image/decoder_registry.h"
#include "platform/fail_reason.h"
#include "runtime/module.h"

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
//  28   2   bit count         1, 2, 4, 8, 16, 24, 32
//  30   4   compression       0 RGB, 1 RLE8, 2 RLE4, 3 BITFIELDS, 6 ALPHABITFIELDS; 0 when the header ends before it
//  34  20   image size, resolutions, colours used, colours important: not read — the
//           colour table is indexed directly, and the row length follows from the width
//  54  12   red, green, blue masks (docs/formats/bmp.md#bit-fields): inside headers of 52
//           bytes or more, else the 12 bytes after a 40-byte header; read only for bit fields
//  66   4   alpha mask        not read: the decoded picture has no alpha
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
constexpr std::uint32_t kMaskOffsetInHeader = 40;   // the masks follow the 40-byte header's fields

enum Compression : std::uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6 };

// Red, green and blue masks of the layouts without bit fields.
constexpr std::uint32_t kMasks555[3] = {0x7C00, 0x03E0, 0x001F};  // 16-bit BI_RGB; bit 15 unused
constexpr std::uint32_t kMasks888[3] = {0xFF0000, 0x00FF00, 0x0000FF};

struct BmpHeader {
    std::int64_t pixelOffset;  // first stored row
    std::int64_t tableOffset;  // colour table: 14 + header size
    std::uint32_t headerSize;
    std::int32_t entrySize;  // bytes per colour table entry: 4, or 3 for the core header
    std::int32_t width;
    std::int32_t height;        // rows, positive
    std::int32_t storedHeight;  // the height field as the file gives it
    bool topDown;               // the file stores its top row first
    std::uint16_t bitCount;
    std::uint32_t compression;
    bool bitFields;         // 16 or 32 bits read through masks[]
    bool masksInData;       // with bitFields: the masks lie inside the data (else the picture stays black)
    std::uint32_t masks[3]; // red, green, blue; with bitFields and masksInData
};

// A mask whose set bits are not one run cannot be read as a channel value;
// the file is refused rather than shown with made-up colours.
bool contiguous(std::uint32_t mask) {
    if (mask == 0) return true;
    const std::uint32_t low = mask & (~mask + 1);
    return ((mask + low) & mask) == 0;
}

constexpr const char* kTooLargeRefusal = "picture too large";

// Reads and checks the headers into `h`. Null when the file is one this
// decoder converts, else why it is refused; `h` then holds what was read
// before the refusal.
const char* readHeader(std::span<const std::uint8_t> file, BmpHeader& h) {
    h = BmpHeader{};
    ByteReader in(file);
    const std::uint16_t signature = in.u16();
    in.skip(4);  // file size
    const std::uint16_t reserved1 = in.u16();
    const std::uint16_t reserved2 = in.u16();
    h.pixelOffset = in.u32();
    h.headerSize = in.u32();
    if (!in.ok()) return "shorter than the file header";
    if (signature != kBmpSignature) return "not a BMP file";
    if (reserved1 != 0 || reserved2 != 0) return "reserved words are not 0";

    std::int64_t height = 0;
    if (h.headerSize == kCoreHeaderSize) {
        h.width = in.u16();
        height = in.u16();
        in.skip(2);  // planes
        h.bitCount = in.u16();
        h.compression = kRgb;
        h.entrySize = 3;
    } else {
        if (h.headerSize < kMinInfoHeaderSize) return "information header too short";
        h.width = in.i32();
        height = in.i32();
        in.skip(2);  // planes
        h.bitCount = in.u16();
        h.compression = h.headerSize >= kCompressionFieldEnd ? in.u32() : kRgb;
        h.entrySize = 4;
    }
    if (!in.ok()) return "data ends inside the information header";
    h.storedHeight = static_cast<std::int32_t>(height);
    h.tableOffset = kFileHeaderSize + h.headerSize;

    if (h.width <= 0) return "width is not positive";
    if (height == 0) return "height is 0";
    if (h.bitCount == 0 || h.bitCount > 32) return "bit count is not 1 to 32";
    h.topDown = height < 0;
    if (h.topDown) height = -height;
    // The 24-bit bitmap the picture goes into must be one that can be made;
    // this also refuses sizes no file could mean before anything is allocated.
    std::int64_t bytes = 0;
    if (!checkedMul<std::int64_t>(imgRowBytes(h.width, 24), height, bytes) || bytes > kMaxDibSectionBytes)
        return kTooLargeRefusal;
    h.height = static_cast<std::int32_t>(height);

    h.bitFields = (h.bitCount == 16 || h.bitCount == 32) &&
                  (h.compression == kBitfields || h.compression == kAlphaBitfields);
    if (h.bitFields) {
        ByteReader masks(file);
        masks.seek(kFileHeaderSize + std::min(h.headerSize, kMaskOffsetInHeader));
        // Bits a pixel does not have are dropped from its masks.
        const std::uint32_t pixelBits = h.bitCount == 16 ? 0xFFFF : 0xFFFFFFFF;
        for (std::uint32_t& mask : h.masks) mask = masks.u32() & pixelBits;
        h.masksInData = masks.ok();
        if (h.masksInData)
            for (const std::uint32_t mask : h.masks)
                if (!contiguous(mask)) return "a colour mask is not one run of bits";
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Colours: the colour table of indexed pixels, the channels of 16- and 32-bit ones
// ---------------------------------------------------------------------------

// One channel of a 16- or 32-bit pixel: its bits widened to 8 by a shift
// (docs/formats/bmp.md#bit-fields): (v & mask) >> down << up. A mask of w ≤ 8
// bits gives value << (8 - w), one of more than 8 bits its top 8, a mask of 0
// gives 0. 5-5-5, 5-6-5 and 8-8-8 come out as shifts by 3, 2 and 0.
struct Channel {
    std::uint32_t mask;
    std::uint8_t down;
    std::uint8_t up;

    std::uint8_t operator()(std::uint32_t v) const { return static_cast<std::uint8_t>((v & mask) >> down << up); }
};

Channel channelOf(std::uint32_t mask) {
    if (mask == 0) return {0, 0, 0};
    const int low = std::countr_zero(mask);
    const int width = std::popcount(mask);  // the bits are one run
    return width > 8 ? Channel{mask, static_cast<std::uint8_t>(low + width - 8), 0}
                     : Channel{mask, static_cast<std::uint8_t>(low), static_cast<std::uint8_t>(8 - width)};
}

// What the row conversions read besides the row: blue, green, red of every
// index a pixel can hold, and the channels in output order.
struct Colours {
    std::uint8_t bgr[256][3];
    Channel blue, green, red;
};

// Entry i of the colour table is read at the table start + entry size × i
// wherever that lies (the colours-used field is not consulted); an entry that
// is not wholly inside the data reads as black.
void readColourTable(std::span<const std::uint8_t> file, const BmpHeader& h, int count, Colours& colours) {
    for (int i = 0; i < count; ++i) {
        ByteReader in(file);
        in.seek(static_cast<std::uint64_t>(h.tableOffset) + static_cast<std::uint64_t>(h.entrySize) * i);
        const auto entry = in.take(3);  // blue, green, red; the fourth byte is reserved
        if (in.ok()) std::memcpy(colours.bgr[i], entry.data(), 3);
    }
}

void setChannels(const std::uint32_t (&masks)[3], Colours& colours) {
    colours.red = channelOf(masks[0]);
    colours.green = channelOf(masks[1]);
    colours.blue = channelOf(masks[2]);
}

// ---------------------------------------------------------------------------
// Row conversions: `pixels` output pixels from one stored row, whose bytes
// hold at least that many
// ---------------------------------------------------------------------------

using RowFn = void (*)(std::span<const std::uint8_t> row, std::uint8_t* out, std::int32_t pixels,
                       const Colours& colours);

// 1, 2, 4 or 8 bits: the highest bits of a byte are its first pixel; each
// value indexes the colour table.
template <int Bits>
void rowIndexed(std::span<const std::uint8_t> row, std::uint8_t* out, std::int32_t pixels, const Colours& colours) {
    constexpr int kPerByte = 8 / Bits;
    constexpr unsigned kMask = (1u << Bits) - 1;
    for (std::int32_t x = 0; x < pixels; ++x, out += 3) {
        const unsigned byte = row[static_cast<std::size_t>(x / kPerByte)];
        const int shift = 8 - Bits * (x % kPerByte + 1);
        std::memcpy(out, colours.bgr[byte >> shift & kMask], 3);
    }
}

// 16 or 32 bits, little-endian, each channel through its mask.
template <int Bytes>
void rowMasked(std::span<const std::uint8_t> row, std::uint8_t* out, std::int32_t pixels, const Colours& colours) {
    for (std::int32_t x = 0; x < pixels; ++x, out += 3) {
        const std::uint8_t* p = &row[static_cast<std::size_t>(x) * Bytes];
        std::uint32_t v = 0;
        for (int i = Bytes - 1; i >= 0; --i) v = v << 8 | p[i];
        out[0] = colours.blue(v), out[1] = colours.green(v), out[2] = colours.red(v);
    }
}

void rowBgr24(std::span<const std::uint8_t> row, std::uint8_t* out, std::int32_t pixels, const Colours&) {
    std::memcpy(out, row.data(), static_cast<std::size_t>(pixels) * 3);
}

// 32 bits of blue, green, red and a fourth byte (alpha or unused), which is
// dropped: what rowMasked<4> gives for the masks kMasks888, without the masking.
void rowBgrx32(std::span<const std::uint8_t> row, std::uint8_t* out, std::int32_t pixels, const Colours&) {
    for (std::int32_t x = 0; x < pixels; ++x, out += 3) std::memcpy(out, &row[static_cast<std::size_t>(x) * 4], 3);
}

// The conversion of an uncompressed layout, with its colour table or
// channels set in `colours`; null for layouts whose pixels are not converted.
RowFn prepareRows(std::span<const std::uint8_t> file, const BmpHeader& h, Colours& colours) {
    switch (h.bitCount) {
        case 1: readColourTable(file, h, 2, colours); return rowIndexed<1>;
        case 2: readColourTable(file, h, 4, colours); return rowIndexed<2>;
        case 4: readColourTable(file, h, 16, colours); return rowIndexed<4>;
        case 8: readColourTable(file, h, 256, colours); return rowIndexed<8>;
        case 16:
            if (h.bitFields) {
                setChannels(h.masks, colours);
                return h.masksInData ? rowMasked<2> : nullptr;
            }
            setChannels(kMasks555, colours);
            return h.compression == kRgb ? rowMasked<2> : nullptr;
        case 24: return rowBgr24;
        case 32:
            if (!h.bitFields || std::equal(h.masks, h.masks + 3, kMasks888)) return rowBgrx32;
            setChannels(h.masks, colours);
            return h.masksInData ? rowMasked<4> : nullptr;
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
void convertRows(ByteReader& in, const BmpHeader& h, RowFn convert, const Colours& colours, const Target& out) {
    const std::int64_t stored = (static_cast<std::int64_t>(h.width) * h.bitCount + 31) / 32 * 4;
    for (std::int32_t k = 0; k < h.height; ++k) {
        const auto row = in.takeUpTo(static_cast<std::size_t>(stored));
        const std::int64_t whole = static_cast<std::int64_t>(row.size()) * 8 / h.bitCount;
        convert(row, out.row(k), static_cast<std::int32_t>(std::min<std::int64_t>(h.width, whole)), colours);
        if (static_cast<std::int64_t>(row.size()) < stored) return;
    }
}

// ---------------------------------------------------------------------------
// Run-length decoding, 8-bit and 4-bit (docs/formats/bmp.md#rle8-and-rle4)
//   n > 0, j        n pixels of colour j; with 4 bits, the two nibbles of j
//                   alternate, high nibble first
//   0, 0            end of row
//   0, 1            end of bitmap
//   0, 2, dx, dy    move right dx and up dy stored rows
//   0, m ≥ 3, …     m indexes (bytes, or nibbles high first), padded to an
//                   even count of bytes
// Pixels outside the picture are dropped and decoding goes on; it ends at
// the end-of-bitmap code, at the end of the data, or once the position has
// left the picture's last stored row (it can never come back). Pixels that
// no code reaches stay as they are.
// ---------------------------------------------------------------------------

template <int Bits>
std::uint8_t runIndex(std::uint8_t code, std::int64_t i) {
    if constexpr (Bits == 8) return code;
    return i & 1 ? code & 15 : code >> 4;
}

template <int Bits>
std::uint8_t absoluteIndex(std::span<const std::uint8_t> run, std::int64_t i) {
    if constexpr (Bits == 8) return run[static_cast<std::size_t>(i)];
    return runIndex<4>(run[static_cast<std::size_t>(i >> 1)], i);
}

template <int Bits>
void decodeRle(ByteReader& in, const Colours& colours, const Target& out) {
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
                for (std::int64_t i = first; i < last; ++i, p += 3)
                    std::memcpy(p, colours.bgr[runIndex<Bits>(code, i - x)], 3);
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
                const std::size_t bytes = Bits == 8 ? code : (code + 1u) / 2;
                const auto run = in.takeUpTo(bytes);
                const std::int64_t present = std::min<std::int64_t>(code, static_cast<std::int64_t>(run.size()) * 8 / Bits);
                if (clip(x, present, first, last)) {
                    std::uint8_t* p = out.row(y) + first * 3;
                    for (std::int64_t i = first; i < last; ++i, p += 3)
                        std::memcpy(p, colours.bgr[absoluteIndex<Bits>(run, i - x)], 3);
                }
                if (run.size() < bytes) return;
                x += code;
                if (bytes & 1) in.skip(1);
                break;
            }
        }
    }
}

constexpr const char* kMaskedWords = "each channel's mask bits, widened to 8 bits";
constexpr const char* kMasksMissingWords = "through masks that lie beyond the data: not decoded, black";

// How the pixels of an accepted file are read, in words, for imgBmpDescribe.
const char* layoutOf(const BmpHeader& h) {
    if (h.bitCount == 8 && h.compression == kRle8) return "8-bit run-length encoded indexes into the colour table";
    if (h.bitCount == 4 && h.compression == kRle4) return "4-bit run-length encoded indexes into the colour table";
    switch (h.bitCount) {
        case 1:
        case 2:
        case 4:
        case 8: return "indexes into the colour table";
        case 16:
            if (h.bitFields) return h.masksInData ? kMaskedWords : kMasksMissingWords;
            return h.compression == kRgb ? "5-5-5, bit 15 unused" : "16 bits with this compression: not decoded";
        case 24: return "blue, green, red";
        case 32:
            if (h.bitFields && !std::equal(h.masks, h.masks + 3, kMasks888))
                return h.masksInData ? kMaskedWords : kMasksMissingWords;
            return "blue, green, red and a dropped fourth byte";
        default: return "this bit count is not decoded";
    }
}

// ---------------------------------------------------------------------------
// The decoder
// ---------------------------------------------------------------------------

// The decoder's record in the context's private area.
struct BmpPrivate {
    const std::uint8_t* data;  // the file, set by the check; the caller's, never owned
    std::int64_t size;
};

const ImageDecoder kBmpDecoder{.check = imgBmpCheck, .decode = imgBmpDecode, .cleanup = imgBmpCleanup,
                               .id = kBmpFormat, .readFile = imgBmpReadFile};

}  // namespace

void imgStartBmpCodec() {
    if (!imgRegisterDecoder(&kBmpDecoder)) modStepFailed();
}

int imgBmpCheck(DecodeContext& context) {
    if (!context.data || context.dataSize <= 0) return 0;
    BmpHeader h;
    if (const char* refusal = readHeader({context.data, static_cast<std::size_t>(context.dataSize)}, h)) {
        // Only a file that says it is a BMP has a reason to be refused as one.
        if (context.dataSize >= 2 && context.data[0] == 'B' && context.data[1] == 'M') {
            if (std::strcmp(refusal, kTooLargeRefusal) == 0)
                plat::failSet(plat::FailCode::TooLarge, "%d × %lld pixels; at most %lld MB a picture", h.width,
                              static_cast<long long>(std::abs(static_cast<std::int64_t>(h.storedHeight))),
                              static_cast<long long>(kMaxDibSectionBytes >> 20));
            else
                plat::failSet(plat::FailCode::Damaged, "damaged BMP (%s)", refusal);
        }
        return 0;
    }
    context.width = h.width;
    context.height = h.height;
    context.depth = 24;
    context.sourceDepth = h.bitCount;
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

void imgBmpCleanup(DecodeContext&) {}

bool imgBmpDescribe(std::span<const std::uint8_t> file, BmpDescription& out) {
    BmpHeader h;
    out = BmpDescription{};
    out.refusal = readHeader(file, h);
    if (file.size() < kFileHeaderSize || file[0] != 'B' || file[1] != 'M') return false;
    out.headerSize = h.headerSize;
    out.width = h.width;
    out.height = h.storedHeight;
    out.bitCount = h.bitCount;
    out.compression = h.compression;
    out.pixelOffset = static_cast<std::uint32_t>(h.pixelOffset);
    out.bitFields = h.bitFields;
    out.masksInData = h.masksInData;
    const std::uint32_t* masks = h.bitFields ? h.masks : h.bitCount == 16 ? kMasks555 : h.bitCount == 32 ? kMasks888 : nullptr;
    if (masks) out.redMask = masks[0], out.greenMask = masks[1], out.blueMask = masks[2];
    if (!out.refusal) out.pixels = layoutOf(h);
    return true;
}

bool imgBmpToRgb24(std::span<const std::uint8_t> file, std::uint8_t* bits, std::int64_t rowBytes, std::int32_t flags) {
    BmpHeader h;
    if (readHeader(file, h)) return false;
    const bool bottomUpTarget = (flags & kDecodeBottomUp) != 0;
    const Target out{bits, rowBytes, h.width, h.height, bottomUpTarget != h.topDown};

    ByteReader in(file);
    if (!in.seek(static_cast<std::uint64_t>(h.pixelOffset))) return true;  // no pixel data: all black

    Colours colours{};
    if (h.bitCount == 8 && h.compression == kRle8) {
        readColourTable(file, h, 256, colours);
        decodeRle<8>(in, colours, out);
    } else if (h.bitCount == 4 && h.compression == kRle4) {
        readColourTable(file, h, 16, colours);
        decodeRle<4>(in, colours, out);
    } else if (const RowFn convert = prepareRows(file, h, colours)) {
        convertRows(in, h, convert, colours, out);
    }
    return true;
}

}  // namespace oct
