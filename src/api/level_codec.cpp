#include "api/level_codec.h"

#include <array>
#include <bit>
#include <cstring>

#include "runtime/heap.h"

namespace oct {

static_assert(std::endian::native == std::endian::little, "the level buffer is written as little-endian words");

namespace {

// Level → its 3-bit code as a value whose bit j is buffer bit position + j.
// Levels 1..3 set one bit (p+2, p+1, p), levels 4..6 two ({p+1, p+2},
// {p, p+1}, {p, p+2}), level 7 all three.
constexpr std::uint8_t kLevelCode[8] = {0b000, 0b100, 0b010, 0b001, 0b110, 0b011, 0b101, 0b111};

// Code value → level, the inverse of kLevelCode.
constexpr std::array<std::uint8_t, 8> kCodeLevel = [] {
    std::array<std::uint8_t, 8> t{};
    for (int level = 0; level < 8; ++level) t[kLevelCode[level]] = static_cast<std::uint8_t>(level);
    return t;
}();

// Gray sum (blue + green + red, 0..765) → code of the level sum div 96.
constexpr std::array<std::uint8_t, 766> kSumCode = [] {
    std::array<std::uint8_t, 766> t{};
    for (int sum = 0; sum < 766; ++sum) t[sum] = kLevelCode[sum / 96];
    return t;
}();

// Alpha byte → code of the level alpha div 32, already shifted to bits 3..5.
constexpr std::array<std::uint8_t, 256> kAlphaCode = [] {
    std::array<std::uint8_t, 256> t{};
    for (int a = 0; a < 256; ++a) t[a] = static_cast<std::uint8_t>(kLevelCode[a / 32] << 3);
    return t;
}();

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

// Appends bit groups of up to 56 bits to a zero-filled buffer, 64 bits at a time.
class CodeWriter {
public:
    explicit CodeWriter(std::uint8_t* out) : out_(out) {}

    void put(std::uint64_t bits, int count) {
        acc_ |= bits << used_;
        used_ += count;
        if (used_ >= 64) {
            std::memcpy(out_, &acc_, 8);
            out_ += 8;
            used_ -= 64;
            // The bits of this group that did not fit start the next word.
            acc_ = used_ ? bits >> (count - used_) : 0;
        }
    }

    void flush() {
        if (used_) std::memcpy(out_, &acc_, static_cast<std::size_t>((used_ + 7) / 8));
    }

private:
    std::uint8_t* out_;
    std::uint64_t acc_ = 0;
    int used_ = 0;
};

// Codes are gathered eight pixels at a time (24 or 48 bits) before they reach
// the writer, which keeps the writer's carried state off the per-pixel path.
constexpr int kGroup = 8;

std::uint64_t code24(const std::uint8_t* p) { return kSumCode[p[0] + p[1] + p[2]]; }
std::uint64_t code32(const std::uint8_t* p) { return kSumCode[p[0] + p[1] + p[2]] | kAlphaCode[p[3]]; }

template <int kBytes, int kBits, std::uint64_t (*kCode)(const std::uint8_t*)>
void quantizeRows(const PixelSource& s, std::uint8_t* levels) {
    CodeWriter writer(levels);
    for (std::int32_t row = 0; row < s.height; ++row) {
        const std::uint8_t* p = s.bits + static_cast<std::int64_t>(row) * s.pitch;
        std::int32_t x = 0;
        for (; x + kGroup <= s.width; x += kGroup, p += kGroup * kBytes) {
            std::uint64_t group = 0;
            for (int i = 0; i < kGroup; ++i) group |= kCode(p + i * kBytes) << (i * kBits);
            writer.put(group, kGroup * kBits);
        }
        for (; x < s.width; ++x, p += kBytes) writer.put(kCode(p), kBits);
    }
    writer.flush();
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
// row's last pixel, which must not touch the row padding's neighbour.
template <int kBits, const std::array<std::uint32_t, (1u << kBits)>& kPixels>
void decodeRows(const std::uint8_t* levels, std::int64_t size, std::int32_t width, std::int32_t height,
                std::uint8_t* rows, std::int64_t pitch, int bytesPerPixel) {
    std::int64_t k = 0;
    for (std::int32_t r = 0; r < height; ++r) {
        std::uint8_t* p = rows + r * pitch;
        if (bytesPerPixel == 4) {
            for (std::int32_t x = 0; x < width; ++x, p += 4, ++k)
                std::memcpy(p, &kPixels[codeOfPixel<kBits>(levels, size, k)], 4);
        } else {
            for (std::int32_t x = 0; x + 1 < width; ++x, p += 3, ++k)
                std::memcpy(p, &kPixels[codeOfPixel<kBits>(levels, size, k)], 4);
            std::memcpy(p, &kPixels[codeOfPixel<kBits>(levels, size, k)], 3);
            ++k;
        }
    }
}

}  // namespace

bool lvlDecodeRows(const std::uint8_t* levels, std::int64_t levelsSize, std::int32_t width, std::int32_t height,
                   bool alpha, std::uint8_t* rows, std::int64_t pitch, int bytesPerPixel) {
    if (width <= 0 || height <= 0 || !rows || (bytesPerPixel != 3 && bytesPerPixel != 4) ||
        pitch < static_cast<std::int64_t>(width) * bytesPerPixel)
        return false;
    if (!levels) levelsSize = 0;
    if (alpha)
        decodeRows<6, kAlphaPixel>(levels, levelsSize, width, height, rows, pitch, bytesPerPixel);
    else
        decodeRows<3, kGrayPixel>(levels, levelsSize, width, height, rows, pitch, bytesPerPixel);
    return true;
}

bool lvlQuantize(const PixelSource& source, LevelBuffer& out) {
    if (!source.bits || source.width <= 0 || source.height <= 0) return false;
    const bool alpha = source.bitsPerPixel != 24;
    const std::int64_t rowBytes = static_cast<std::int64_t>(source.width) * (alpha ? 4 : 3);
    if (source.pitch < rowBytes) return false;

    const std::int64_t size = static_cast<std::int64_t>(source.width) * source.height;
    auto* levels = static_cast<std::uint8_t*>(memAlloc(size));
    if (!levels) return false;
    if (alpha)
        quantizeRows<4, 6, code32>(source, levels);
    else
        quantizeRows<3, 3, code24>(source, levels);
    out.levels = levels;
    out.size = size;
    out.alpha = alpha ? 1 : 0;
    return true;
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
