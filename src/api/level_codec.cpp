#include "api/level_codec.h"

#include <array>
#include <bit>
#include <cstring>

#include "api/level_kernels.h"
#include "runtime/heap.h"

namespace oct {

static_assert(std::endian::native == std::endian::little, "the level buffer is written as little-endian words");

namespace {

using namespace lvl;

constexpr std::uint32_t grayOfLevel(int level) { return kLevelPalette[level] * 0x010101u; }

// 3-bit code → gray colour; 6-bit code (gray, then alpha) → colour with alpha.
constexpr std::array<std::uint32_t, 8> kGrayColor = [] {
    std::array<std::uint32_t, 8> t{};
    for (int code = 0; code < 8; ++code) t[code] = grayOfLevel(kCodeLevel[code]);
    return t;
}();
constexpr std::array<std::uint32_t, 64> kAlphaColor = [] {
    std::array<std::uint32_t, 64> t{};
    for (int code = 0; code < 64; ++code)
        t[code] = grayOfLevel(kCodeLevel[code & 7]) |
                  static_cast<std::uint32_t>(kLevelPalette[kCodeLevel[code >> 3]]) << 24;
    return t;
}();

std::uint32_t codeAt(const std::uint8_t* buffer, std::int64_t position, int bits) {
    std::uint32_t code = 0;
    for (int j = 0; j < bits; ++j) code |= static_cast<std::uint32_t>(lvlTestBit(buffer, position + j)) << j;
    return code;
}

// Reads codes of `kBits` bits in order; past the end of the buffer every bit is 0.
template <int kBits>
class CodeReader {
public:
    CodeReader(const std::uint8_t* in, std::int64_t size) : in_(in), left_(size > 0 ? size : 0) {}

    std::uint32_t next() {
        if (have_ < kBits) refill();
        auto code = static_cast<std::uint32_t>(acc_ & ((1u << kBits) - 1));
        acc_ >>= kBits;
        have_ -= kBits;
        return code;
    }

private:
    // Tops the accumulator up with whole bytes. A word load may also OR in
    // the first bits of the byte after the last one taken; they are that
    // byte's real bits at their real positions, so taking it later ORs the
    // same values again.
    void refill() {
        if (left_ >= 8) {
            std::uint64_t word;
            std::memcpy(&word, in_, 8);
            acc_ |= word << have_;
            int taken = (63 - have_) >> 3;
            in_ += taken;
            left_ -= taken;
            have_ += taken * 8;
            return;
        }
        while (have_ <= 56) {
            std::uint64_t byte = 0;
            if (left_ > 0) {
                byte = *in_++;
                --left_;
            }
            acc_ |= byte << have_;
            have_ += 8;
        }
    }

    const std::uint8_t* in_;
    std::int64_t left_;
    std::uint64_t acc_ = 0;
    int have_ = 0;
};

template <int kBits, const std::array<std::uint32_t, (1u << kBits)>& kColors>
void decode(const std::uint8_t* levels, std::int64_t size, std::int32_t width, std::int32_t height, LevelPlot plot,
            void* context) {
    CodeReader<kBits> reader(levels, size);
    for (std::int32_t row = 0; row < height; ++row) {
        std::int32_t y = height - 1 - row;
        for (std::int32_t x = 0; x < width; ++x) plot(context, x, y, kColors[reader.next()]);
    }
}

// The code of pixel k: one unaligned little-endian load of the 8 bytes that
// hold its bits while they lie inside the buffer, a bit-by-bit read (0 past
// the end) for the last few pixels.
template <int kBits>
std::uint32_t codeOfPixel(const std::uint8_t* levels, std::int64_t size, std::int64_t k) {
    const std::int64_t bit = k * kBits;
    const std::int64_t byte = bit >> 3;
    if (byte + 8 <= size) {
        std::uint64_t word;
        std::memcpy(&word, levels + byte, 8);
        return static_cast<std::uint32_t>(word >> (bit & 7)) & ((1u << kBits) - 1);
    }
    std::uint32_t code = 0;
    for (int j = 0; j < kBits; ++j) {
        const std::int64_t b = bit + j;
        if ((b >> 3) < size) code |= static_cast<std::uint32_t>(lvlTestBit(levels, b)) << j;
    }
    return code;
}

// Colour → its pixel bytes B, G, R, A as one value in memory order.
constexpr std::uint32_t memoryOrder(std::uint32_t c) {
    return (c >> 16 & 0xFF) | (c & 0xFF00) | (c & 0xFF) << 16 | (c & 0xFF000000);
}

template <std::size_t N>
constexpr std::array<std::uint32_t, N> inMemoryOrder(const std::array<std::uint32_t, N>& colours) {
    std::array<std::uint32_t, N> t{};
    for (std::size_t i = 0; i < N; ++i) t[i] = memoryOrder(colours[i]);
    return t;
}
constexpr auto kGrayPixel = inMemoryOrder(kGrayColor);
constexpr auto kAlphaPixel = inMemoryOrder(kAlphaColor);

// Writes the rows: 4 bytes per pixel in one store each; 3 bytes per pixel as
// a 4-byte store whose fourth byte the next pixel overwrites, except for a
// row's last pixel, which must not touch the row padding's neighbour. Codes
// and pixel sizes may be mixed here (3-bit codes into 4-byte pixels and the
// other way round); the row kernels cover the two usual pairings.
template <int kBits, const std::array<std::uint32_t, (1u << kBits)>& kPixels>
void decodeRowPart(const std::uint8_t* levels, std::int64_t size, std::int64_t first, std::int32_t from,
                   std::int32_t width, std::uint8_t* row, int bytesPerPixel) {
    std::uint8_t* p = row + static_cast<std::int64_t>(from) * bytesPerPixel;
    std::int64_t k = first + from;
    if (bytesPerPixel == 4) {
        for (std::int32_t x = from; x < width; ++x, p += 4, ++k)
            std::memcpy(p, &kPixels[codeOfPixel<kBits>(levels, size, k)], 4);
        return;
    }
    if (from >= width) return;
    for (std::int32_t x = from; x + 1 < width; ++x, p += 3, ++k)
        std::memcpy(p, &kPixels[codeOfPixel<kBits>(levels, size, k)], 4);
    std::memcpy(p, &kPixels[codeOfPixel<kBits>(levels, size, k)], 3);
}

void quantizePortable24(const std::uint8_t* row, std::int32_t width, CodeWriter& writer) {
    quantizeTail<3>(row, width, writer);
}
void quantizePortable32(const std::uint8_t* row, std::int32_t width, CodeWriter& writer) {
    quantizeTail<4>(row, width, writer);
}
void decodeGrayPortable(const std::uint8_t* levels, std::int64_t size, std::int64_t first, std::int32_t width,
                        std::uint8_t* out) {
    decodeGrayTail(levels, size, first, 0, width, out);
}
void decodeAlphaPortable(const std::uint8_t* levels, std::int64_t size, std::int64_t first, std::int32_t width,
                         std::uint8_t* out) {
    decodeAlphaTail(levels, size, first, 0, width, out);
}

}  // namespace

namespace lvl {

const Kernels kPortableKernels{quantizePortable24, quantizePortable32, decodeGrayPortable, decodeAlphaPortable,
                                convertTail<3>, convertTail<4>};

void decodeGrayTail(const std::uint8_t* levels, std::int64_t size, std::int64_t first, std::int32_t from,
                    std::int32_t width, std::uint8_t* out) {
    decodeRowPart<3, kGrayPixel>(levels, size, first, from, width, out, 3);
}

void decodeAlphaTail(const std::uint8_t* levels, std::int64_t size, std::int64_t first, std::int32_t from,
                     std::int32_t width, std::uint8_t* out) {
    decodeRowPart<6, kAlphaPixel>(levels, size, first, from, width, out, 4);
}

namespace {

// Decodes the picture's rows [from, to) into their memory rows.
void decodeRowRange(const Kernels& kernels, const std::uint8_t* levels, std::int64_t levelsSize, std::int32_t width,
                    std::int32_t from, std::int32_t to, bool alpha, std::uint8_t* rows, std::int64_t pitch,
                    int bytesPerPixel) {
    for (std::int32_t r = from; r < to; ++r) {
        std::uint8_t* row = rows + r * pitch;
        const std::int64_t first = static_cast<std::int64_t>(r) * width;
        if (alpha && bytesPerPixel == 4)
            kernels.decodeAlpha(levels, levelsSize, first, width, row);
        else if (!alpha && bytesPerPixel == 3)
            kernels.decodeGray(levels, levelsSize, first, width, row);
        else if (alpha)
            decodeRowPart<6, kAlphaPixel>(levels, levelsSize, first, 0, width, row, bytesPerPixel);
        else
            decodeRowPart<3, kGrayPixel>(levels, levelsSize, first, 0, width, row, bytesPerPixel);
    }
}

}  // namespace

bool decodeRowsWith(Isa isa, const std::uint8_t* levels, std::int64_t levelsSize, std::int32_t width,
                    std::int32_t height, bool alpha, std::uint8_t* rows, std::int64_t pitch, int bytesPerPixel) {
    if (width <= 0 || height <= 0 || !rows || (bytesPerPixel != 3 && bytesPerPixel != 4) ||
        pitch < static_cast<std::int64_t>(width) * bytesPerPixel)
        return false;
    if (!levels) levelsSize = 0;
    decodeRowRange(kernelsFor(isa), levels, levelsSize, width, 0, height, alpha, rows, pitch, bytesPerPixel);
    return true;
}

namespace {

// Rows that run downward in memory are read in bands of this many, each
// band upward in memory (see quantizeRows). On 4096 × 4096 pictures bands of
// 32 rows, whose codes are still in the cache when they are decoded, took
// 10% less time than bands of 8 and the same as bands of 128.
constexpr std::int32_t kBandRows = 32;

// Quantizes the source row by row into a new level buffer, each row through
// `row(source row, row index, writer)`, and hands each band of rows done to
// `band(first row, end row, levels, size)`.
template <typename Row, typename Band>
bool quantizeRows(const PixelSource& source, LevelBuffer& out, Row row, Band band) {
    const bool alpha = source.bitsPerPixel != 24;
    const std::int64_t size = static_cast<std::int64_t>(source.width) * source.height;
    // Zero-filled: the codes take 3 or 6 bits of the byte a pixel that the
    // buffer has, and the rest stays zero. A fresh mapping comes zero-filled,
    // so most of that rest is never touched.
    auto* levels = static_cast<std::uint8_t*>(memAlloc(size));
    if (!levels) return false;
    if (source.pitch >= 0) {
        CodeWriter writer(levels);
        for (std::int32_t r = 0; r < source.height; ++r)
            row(source.bits + static_cast<std::int64_t>(r) * source.pitch, r, writer);
        writer.flush();
        band(0, source.height, levels, size);
    } else {
        // Rows that run downward in memory are read upward in memory, a band
        // at a time from the last, each row's codes written at their own
        // place: read downward, a 4096 × 4096 picture took 65% longer to
        // convert than the same rows stored upward (8.9 ms against 5.4). A
        // row's last byte may hold the first codes of the row after it,
        // already written: the writer ORs its last bytes in.
        const std::int64_t rowBits = static_cast<std::int64_t>(source.width) * (alpha ? 6 : 3);
        for (std::int32_t end = source.height; end > 0; end -= kBandRows) {
            const std::int32_t first = end > kBandRows ? end - kBandRows : 0;
            for (std::int32_t r = end - 1; r >= first; --r) {
                CodeWriter writer(levels, r * rowBits);
                row(source.bits + static_cast<std::int64_t>(r) * source.pitch, r, writer);
                writer.flush();
            }
            band(first, end, levels, size);
        }
    }
    out.levels = levels;
    out.size = size;
    out.alpha = alpha ? 1 : 0;
    return true;
}

void noBand(std::int32_t, std::int32_t, const std::uint8_t*, std::int64_t) {}

bool sourceUsable(const PixelSource& source) {
    const std::int64_t rowBytes = static_cast<std::int64_t>(source.width) * (source.bitsPerPixel != 24 ? 4 : 3);
    const std::int64_t span = source.pitch < 0 ? -static_cast<std::int64_t>(source.pitch) : source.pitch;
    return source.bits && source.width > 0 && source.height > 0 && span >= rowBytes;
}

}  // namespace

bool quantizeWith(Isa isa, const PixelSource& source, LevelBuffer& out) {
    if (!sourceUsable(source)) return false;
    const Kernels& kernels = kernelsFor(isa);
    const QuantizeRow quantize = source.bitsPerPixel != 24 ? kernels.quantize32 : kernels.quantize24;
    return quantizeRows(
        source, out, [&](const std::uint8_t* row, std::int32_t, CodeWriter& writer) { quantize(row, source.width, writer); },
        noBand);
}

bool quantizeRebuildWith(Isa isa, const PixelSource& source, LevelBuffer& out, std::uint8_t* rows,
                         std::int64_t pitch) {
    const bool alpha = source.bitsPerPixel != 24;
    const int bytesPerPixel = alpha ? 4 : 3;
    if (!sourceUsable(source) || !rows || pitch < static_cast<std::int64_t>(source.width) * bytesPerPixel)
        return false;
    const Kernels& kernels = kernelsFor(isa);
    const ConvertRow convert = alpha ? kernels.convert32 : kernels.convert24;
    if (convert && source.pitch >= 0)
        return quantizeRows(
            source, out,
            [&](const std::uint8_t* row, std::int32_t r, CodeWriter& writer) {
                convert(row, source.width, writer, rows + r * pitch);
            },
            noBand);
    // A version without its own, or rows read in bands upward in memory:
    // quantizing and then decoding each band, so that its rebuilt rows are
    // written upward in memory too. One pass writing them downward took 6.9
    // ms where this takes 5.9 (4096 × 4096).
    const QuantizeRow quantize = alpha ? kernels.quantize32 : kernels.quantize24;
    return quantizeRows(
        source, out, [&](const std::uint8_t* row, std::int32_t, CodeWriter& writer) { quantize(row, source.width, writer); },
        [&](std::int32_t first, std::int32_t end, const std::uint8_t* levels, std::int64_t size) {
            decodeRowRange(kernels, levels, size, source.width, first, end, alpha, rows, pitch, bytesPerPixel);
        });
}

}  // namespace lvl

bool lvlDecodeRows(const std::uint8_t* levels, std::int64_t levelsSize, std::int32_t width, std::int32_t height,
                   bool alpha, std::uint8_t* rows, std::int64_t pitch, int bytesPerPixel) {
    return lvl::decodeRowsWith(lvl::bestIsa(), levels, levelsSize, width, height, alpha, rows, pitch, bytesPerPixel);
}

bool lvlQuantize(const PixelSource& source, LevelBuffer& out) { return lvl::quantizeWith(lvl::bestIsa(), source, out); }

bool lvlQuantizeRebuild(const PixelSource& source, LevelBuffer& out, std::uint8_t* rows, std::int64_t pitch) {
    return lvl::quantizeRebuildWith(lvl::bestIsa(), source, out, rows, pitch);
}

void lvlSetBit(std::uint8_t* buffer, std::int64_t bit) {
    buffer[bit >> 3] |= static_cast<std::uint8_t>(1u << (bit & 7));
}

bool lvlTestBit(const std::uint8_t* buffer, std::int64_t bit) { return (buffer[bit >> 3] >> (bit & 7)) & 1; }

void lvlPutCode(std::uint8_t* buffer, int level, std::int64_t position) {
    if (level < 0 || level > 7) return;
    for (int j = 0; j < 3; ++j)
        if (kLevelCode[level] & (1u << j)) lvlSetBit(buffer, position + j);
}

void lvlPutPixel(std::uint8_t* buffer, int gray, int alpha, std::int64_t position) {
    lvlPutCode(buffer, gray, position);
    lvlPutCode(buffer, alpha, position + 3);
}

std::uint32_t lvlGrayColor(const std::uint8_t* buffer, std::int64_t position) {
    return kGrayColor[codeAt(buffer, position, 3)];
}

std::uint32_t lvlAlphaColor(const std::uint8_t* buffer, std::int64_t position) {
    return kAlphaColor[codeAt(buffer, position, 6)];
}

bool lvlDecode(const std::uint8_t* levels, std::int64_t levelsSize, std::int32_t width, std::int32_t height,
               bool alpha, LevelPlot plot, void* context) {
    if (width <= 0 || height <= 0 || !plot) return false;
    if (!levels) levelsSize = 0;
    if (alpha)
        decode<6, kAlphaColor>(levels, levelsSize, width, height, plot, context);
    else
        decode<3, kGrayColor>(levels, levelsSize, width, height, plot, context);
    return true;
}

}  // namespace oct
