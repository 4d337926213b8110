// The level codec's inner loops, shared by the portable code in
// level_codec.cpp and its SSE2, AVX2 and WebAssembly SIMD versions
// (level_sse2.cpp, level_avx2.cpp, level_simd128.cpp). Every version writes the same bytes; the portable one is
// the reference the others are tested against.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "api/level_codec.h"

namespace oct::lvl {

// Level → its 3-bit code as a value whose bit j is buffer bit position + j.
// Levels 1..3 set one bit (p+2, p+1, p), levels 4..6 two ({p+1, p+2},
// {p, p+1}, {p, p+2}), level 7 all three.
inline constexpr std::uint8_t kLevelCode[8] = {0b000, 0b100, 0b010, 0b001, 0b110, 0b011, 0b101, 0b111};

// Code value → level, the inverse of kLevelCode.
inline constexpr std::array<std::uint8_t, 8> kCodeLevel = [] {
    std::array<std::uint8_t, 8> t{};
    for (int level = 0; level < 8; ++level) t[kLevelCode[level]] = static_cast<std::uint8_t>(level);
    return t;
}();

// 3-bit code → the palette value of its level.
inline constexpr std::array<std::uint8_t, 8> kCodeValue = [] {
    std::array<std::uint8_t, 8> t{};
    for (int code = 0; code < 8; ++code) t[code] = kLevelPalette[kCodeLevel[code]];
    return t;
}();

// Gray sum (blue + green + red, 0..765) → code of the level sum div 96.
inline constexpr std::array<std::uint8_t, 766> kSumCode = [] {
    std::array<std::uint8_t, 766> t{};
    for (int sum = 0; sum < 766; ++sum) t[sum] = kLevelCode[sum / 96];
    return t;
}();

// Alpha byte → code of the level alpha div 32, already shifted to bits 3..5.
inline constexpr std::array<std::uint8_t, 256> kAlphaCode = [] {
    std::array<std::uint8_t, 256> t{};
    for (int a = 0; a < 256; ++a) t[a] = static_cast<std::uint8_t>(kLevelCode[a / 32] << 3);
    return t;
}();

// 16-entry byte tables for the vector versions' lookups (byte shuffles and
// WebAssembly's swizzle): the 8 values of `value(0..7)`, repeated so that an
// index's fourth bit does not matter.
template <typename Value>
constexpr std::array<std::uint8_t, 16> repeated16(Value value) {
    std::array<std::uint8_t, 16> r{};
    for (int i = 0; i < 16; ++i) r[i] = static_cast<std::uint8_t>(value(i & 7));
    return r;
}
inline constexpr auto kGrayCodes16 = repeated16([](int level) { return kLevelCode[level]; });
// The same codes moved to bits 3..5, where alpha codes go.
inline constexpr auto kAlphaCodes16 = repeated16([](int level) { return kLevelCode[level] << 3; });
inline constexpr auto kCodeValues16 = repeated16([](int code) { return kCodeValue[code]; });
inline constexpr auto kLevelValues16 = repeated16([](int level) { return kLevelPalette[level]; });

inline std::uint64_t code24(const std::uint8_t* p) { return kSumCode[p[0] + p[1] + p[2]]; }
inline std::uint64_t code32(const std::uint8_t* p) { return kSumCode[p[0] + p[1] + p[2]] | kAlphaCode[p[3]]; }

// Appends bit groups of up to 56 bits to a zero-filled buffer, 64 bits at a
// time, from bit `first` on. Bits of the buffer below `first` must still be
// zero when a whole word is stored over them; the last, partial word is
// ORed in, so that bits already set past the writer's end stay.
class CodeWriter {
public:
    explicit CodeWriter(std::uint8_t* out, std::int64_t first = 0)
        : out_(out + (first >> 3)), used_(static_cast<int>(first & 7)) {}

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
        for (int i = 0; i < (used_ + 7) / 8; ++i) out_[i] |= static_cast<std::uint8_t>(acc_ >> (8 * i));
    }

private:
    std::uint8_t* out_;
    std::uint64_t acc_ = 0;
    int used_ = 0;
};

// The 8 bytes of the level buffer from bit `bit` onwards, shifted so that
// the code at `bit` starts at bit 0 (57 or more bits valid). The caller makes
// sure those 8 bytes lie inside the buffer.
inline std::uint64_t codesFrom(const std::uint8_t* levels, std::int64_t bit) {
    std::uint64_t word;
    std::memcpy(&word, levels + (bit >> 3), 8);
    return word >> (bit & 7);
}

// Quantizes `count` pixels of one row starting at `p`, the portable way, in
// groups of eight (24 or 48 bits) and then one at a time.
template <int kBytes>
void quantizeTail(const std::uint8_t* p, std::int32_t count, CodeWriter& writer) {
    constexpr int kBits = kBytes == 3 ? 3 : 6;
    std::int32_t x = 0;
    for (; x + 8 <= count; x += 8, p += 8 * kBytes) {
        std::uint64_t group = 0;
        for (int i = 0; i < 8; ++i)
            group |= (kBytes == 3 ? code24(p + i * kBytes) : code32(p + i * kBytes)) << (i * kBits);
        writer.put(group, 8 * kBits);
    }
    for (; x < count; ++x, p += kBytes) writer.put(kBytes == 3 ? code24(p) : code32(p), kBits);
}

// Quantizes one row of `width` pixels (3 bytes each for 24-bit sources, else 4).
using QuantizeRow = void (*)(const std::uint8_t* row, std::int32_t width, CodeWriter& writer);

// Quantizes one row as QuantizeRow does and writes the same row rebuilt into
// `out` as DecodeRow would from its codes, in one pass: width × 3 bytes of
// gray from a 24-bit row, width × 4 with alpha from a 32-bit one. `out` may
// be `row` itself: no pixel is written before it has been read.
using ConvertRow = void (*)(const std::uint8_t* row, std::int32_t width, CodeWriter& writer, std::uint8_t* out);

// The portable ConvertRow of `count` pixels from `p`, for the tails of the wide versions.
template <int kBytes>
void convertTail(const std::uint8_t* p, std::int32_t count, CodeWriter& writer, std::uint8_t* out) {
    for (std::int32_t x = 0; x < count; ++x, p += kBytes, out += kBytes) {
        const auto code = static_cast<std::uint32_t>(kBytes == 3 ? code24(p) : code32(p));
        writer.put(code, kBytes == 3 ? 3 : 6);
        out[0] = out[1] = out[2] = kCodeValue[code & 7];
        if (kBytes == 4) out[3] = kCodeValue[code >> 3];
    }
}

// Decodes `width` pixels of one row whose first code is pixel `first` of the
// level buffer into `out`: 3 bytes per pixel from 3-bit codes, or 4 bytes per
// pixel from 6-bit codes. Writes exactly width × bytes per pixel bytes.
using DecodeRow = void (*)(const std::uint8_t* levels, std::int64_t size, std::int64_t first, std::int32_t width,
                           std::uint8_t* out);

// The instruction sets with versions of their own (kSimd128: WebAssembly's
// 128-bit SIMD, in the WebAssembly module only).
enum class Isa { kPortable, kSse2, kAvx2, kSimd128 };

// The best version this processor runs, decided once.
Isa bestIsa();
// True when this build has a version for `isa` and the processor runs it.
bool isaRuns(Isa isa);

struct Kernels {
    QuantizeRow quantize24, quantize32;
    DecodeRow decodeGray, decodeAlpha;
    // Null where the version has none: the quantizing and decoding above then
    // run one after the other.
    ConvertRow convert24 = nullptr, convert32 = nullptr;
};

// The versions of `isa`; it must be one that isaRuns.
const Kernels& kernelsFor(Isa isa);

// The versions of each instruction set; null members fall back to the
// portable versions.
extern const Kernels kPortableKernels;
extern const Kernels kSse2Kernels;
extern const Kernels kAvx2Kernels;
extern const Kernels kSimd128Kernels;

// Portable decoding of a row's pixels [from, width), used by every version
// for what its wide steps leave over.
void decodeGrayTail(const std::uint8_t* levels, std::int64_t size, std::int64_t first, std::int32_t from,
                    std::int32_t width, std::uint8_t* out);
void decodeAlphaTail(const std::uint8_t* levels, std::int64_t size, std::int64_t first, std::int32_t from,
                     std::int32_t width, std::uint8_t* out);

// Quantizes and decodes with the versions of `isa`, as lvlQuantize and
// lvlDecodeRows do with the best one.
[[nodiscard]] bool quantizeWith(Isa isa, const PixelSource& source, LevelBuffer& out);
bool decodeRowsWith(Isa isa, const std::uint8_t* levels, std::int64_t levelsSize, std::int32_t width,
                    std::int32_t height, bool alpha, std::uint8_t* rows, std::int64_t pitch, int bytesPerPixel);
// Both at once, as lvlQuantizeRebuild does with the best version.
[[nodiscard]] bool quantizeRebuildWith(Isa isa, const PixelSource& source, LevelBuffer& out, std::uint8_t* rows,
                                       std::int64_t pitch);

}  // namespace oct::lvl
