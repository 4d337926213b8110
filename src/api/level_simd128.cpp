// The level codec in WebAssembly's 128-bit SIMD, for the WebAssembly module:
// the AVX2 version's steps (level_avx2.cpp) at half their width, in the
// operations WebAssembly has. Where AVX2 forms the gray sums with byte
// multiply-adds, this adds byte pairs and then 16-bit pairs; and a table
// lookup (swizzle) gives 0 for an index of 16 or more where a byte shuffle
// takes its low four bits, so the indices are masked to the table's 8
// entries first.
//
// Quantizing takes 16 pixels a step, and so does quantizing with the rebuilt
// row written at once.
#include "api/level_kernels.h"

#if defined(__wasm_simd128__)

#include <wasm_simd128.h>

namespace oct::lvl {
namespace {

constexpr const auto& kGrayCodes = kGrayCodes16;
constexpr const auto& kAlphaCodes = kAlphaCodes16;
constexpr const auto& kLevelValues = kLevelValues16;

inline v128_t table(const std::array<std::uint8_t, 16>& t) { return wasm_v128_load(t.data()); }

// The gray levels (0..7) of four 32-bit lanes B, G, R and a fourth byte,
// which is left out: the low half of (B + G + R) × 683 >> 16, exact for
// every sum up to 767.
inline v128_t grayLevels(v128_t px) {
    const v128_t rgb = wasm_v128_and(px, wasm_i32x4_const_splat(0x00FFFFFF));
    const v128_t sums = wasm_u32x4_extadd_pairwise_u16x8(wasm_u16x8_extadd_pairwise_u8x16(rgb));
    return wasm_u32x4_shr(wasm_i32x4_mul(sums, wasm_i32x4_const_splat(683)), 16);
}

// Four pixels of a 24-bit row (12 of the 16 bytes at `p`) as 32-bit lanes B, G, R, 0.
inline v128_t lanesOf24(const std::uint8_t* p) {
    const v128_t v = wasm_v128_load(p);
    return wasm_i8x16_shuffle(v, wasm_i64x2_const_splat(0), 0, 1, 2, 16, 3, 4, 5, 16, 6, 7, 8, 16, 9, 10, 11, 16);
}

// Eight codes of kBits bits (pixels 0..3 in `a`, 4..7 in `b`, one a 32-bit
// lane) → their group of 8 × kBits bits, pixel 0 lowest.
// Eight codes of kBits bits, one a 16-bit lane → their group of 8 × kBits
// bits, pixel 0 lowest.
template <int kBits>
inline std::uint64_t groupOf(v128_t words) {
    // Pairs of codes in 32-bit lanes, then fours in 64-bit lanes.
    const v128_t pairs = wasm_i32x4_dot_i16x8(words, wasm_i32x4_const_splat(1 << (16 + kBits) | 1));
    const v128_t quads = wasm_v128_or(wasm_v128_and(pairs, wasm_i64x2_const_splat(0xFFFFFFFF)),
                                      wasm_i64x2_shl(wasm_u64x2_shr(pairs, 32), 2 * kBits));
    return static_cast<std::uint64_t>(wasm_i64x2_extract_lane(quads, 0)) |
           static_cast<std::uint64_t>(wasm_i64x2_extract_lane(quads, 1)) << (4 * kBits);
}

// The 3-bit codes of eight pixels whose gray levels are in the 32-bit lanes
// of `a` (pixels 0..3) and `b`, one a 16-bit lane: the lanes are narrowed
// first, so that one lookup serves all eight.
inline v128_t grayCodes(v128_t a, v128_t b) {
    return wasm_i8x16_swizzle(table(kGrayCodes), wasm_u16x8_narrow_i32x4(a, b));
}

// The 6-bit codes of eight pixels B, G, R, A (0..3 in `a`) whose gray levels
// are `levelsA` and `levelsB`, one a 16-bit lane.
inline v128_t codesOf(v128_t a, v128_t b, v128_t levelsA, v128_t levelsB) {
    const v128_t alpha = wasm_u16x8_narrow_i32x4(wasm_u32x4_shr(a, 29), wasm_u32x4_shr(b, 29));
    return wasm_v128_or(grayCodes(levelsA, levelsB), wasm_i8x16_swizzle(table(kAlphaCodes), alpha));
}

inline v128_t alphaCodes(v128_t a, v128_t b) { return codesOf(a, b, grayLevels(a), grayLevels(b)); }

void quantize24(const std::uint8_t* row, std::int32_t width, CodeWriter& rowWriter) {
    CodeWriter writer = rowWriter;  // in locals: its own stores may not change it
    std::int32_t x = 0;
    // Each step reads 52 bytes from its first pixel: 4 past its 16 pixels.
    for (; width - x >= 18; x += 16) {
        const std::uint8_t* p = row + static_cast<std::int64_t>(x) * 3;
        const std::uint64_t low = groupOf<3>(grayCodes(grayLevels(lanesOf24(p)), grayLevels(lanesOf24(p + 12))));
        const std::uint64_t high = groupOf<3>(grayCodes(grayLevels(lanesOf24(p + 24)), grayLevels(lanesOf24(p + 36))));
        writer.put(low | high << 24, 48);
    }
    quantizeTail<3>(row + static_cast<std::int64_t>(x) * 3, width - x, writer);
    rowWriter = writer;
}

void quantize32(const std::uint8_t* row, std::int32_t width, CodeWriter& rowWriter) {
    CodeWriter writer = rowWriter;
    std::int32_t x = 0;
    for (; width - x >= 16; x += 16) {
        const std::uint8_t* p = row + static_cast<std::int64_t>(x) * 4;
        const v128_t a = wasm_v128_load(p), b = wasm_v128_load(p + 16);
        const v128_t c = wasm_v128_load(p + 32), d = wasm_v128_load(p + 48);
        writer.put(groupOf<6>(alphaCodes(a, b)), 48);
        writer.put(groupOf<6>(alphaCodes(c, d)), 48);
    }
    quantizeTail<4>(row + static_cast<std::int64_t>(x) * 4, width - x, writer);
    rowWriter = writer;
}

// quantize24 and the rebuilt row at once: the levels give the codes and,
// through the palette, the gray bytes, packed from 32-bit lanes to 3 bytes a
// pixel. Each 16-byte store but the last holds 4 bytes that the next one
// writes again, and the last stores exactly 12, so a step writes only its
// own 48 bytes, after reading its source: `out` may be `row`.
void convert24(const std::uint8_t* row, std::int32_t width, CodeWriter& rowWriter, std::uint8_t* out) {
    CodeWriter writer = rowWriter;
    const v128_t values = table(kLevelValues);
    std::int32_t x = 0;
    for (; width - x >= 18; x += 16) {
        const std::uint8_t* p = row + static_cast<std::int64_t>(x) * 3;
        v128_t levels[4];
        for (int i = 0; i < 4; ++i) levels[i] = grayLevels(lanesOf24(p + 12 * i));
        const std::uint64_t low = groupOf<3>(grayCodes(levels[0], levels[1]));
        const std::uint64_t high = groupOf<3>(grayCodes(levels[2], levels[3]));
        writer.put(low | high << 24, 48);
        std::uint8_t* o = out + static_cast<std::int64_t>(x) * 3;
        v128_t gray[4];
        for (int i = 0; i < 4; ++i) {
            const v128_t v = wasm_i8x16_swizzle(values, levels[i]);
            gray[i] = wasm_i8x16_shuffle(v, v, 0, 0, 0, 4, 4, 4, 8, 8, 8, 12, 12, 12, 12, 12, 12, 12);
        }
        wasm_v128_store(o, gray[0]);
        wasm_v128_store(o + 12, gray[1]);
        wasm_v128_store(o + 24, gray[2]);
        wasm_v128_store64_lane(o + 36, gray[3], 0);
        wasm_v128_store32_lane(o + 44, gray[3], 2);
    }
    convertTail<3>(row + static_cast<std::int64_t>(x) * 3, width - x, writer, out + static_cast<std::int64_t>(x) * 3);
    rowWriter = writer;
}

// quantize32 and the rebuilt row at once, as the AVX2 version does it: both
// levels through the palette in one lookup, the gray one in a lane's low
// byte and the alpha one in its top byte, then the gray value copied to the
// two bytes above it. `out` may be `row`: a step reads its 64 bytes before
// it writes them.
void convert32(const std::uint8_t* row, std::int32_t width, CodeWriter& rowWriter, std::uint8_t* out) {
    CodeWriter writer = rowWriter;
    const v128_t values = table(kLevelValues);
    std::int32_t x = 0;
    for (; width - x >= 16; x += 16) {
        const std::uint8_t* p = row + static_cast<std::int64_t>(x) * 4;
        const v128_t px[4] = {wasm_v128_load(p), wasm_v128_load(p + 16), wasm_v128_load(p + 32), wasm_v128_load(p + 48)};
        v128_t levels[4];
        for (int i = 0; i < 4; ++i) levels[i] = grayLevels(px[i]);
        writer.put(groupOf<6>(codesOf(px[0], px[1], levels[0], levels[1])), 48);
        writer.put(groupOf<6>(codesOf(px[2], px[3], levels[2], levels[3])), 48);
        std::uint8_t* o = out + static_cast<std::int64_t>(x) * 4;
        for (int i = 0; i < 4; ++i) {
            const v128_t both = wasm_v128_or(levels[i], wasm_i32x4_shl(wasm_u32x4_shr(px[i], 29), 24));
            const v128_t v = wasm_i8x16_swizzle(values, both);
            wasm_v128_store(o + 16 * i, wasm_i8x16_shuffle(v, v, 0, 0, 0, 3, 4, 4, 4, 7, 8, 8, 8, 11, 12, 12, 12, 15));
        }
    }
    convertTail<4>(row + static_cast<std::int64_t>(x) * 4, width - x, writer, out + static_cast<std::int64_t>(x) * 4);
    rowWriter = writer;
}

}  // namespace

// Decoding alone is the SSE2 version's (its table lookups beat shuffling
// here), which the module also builds: null members take it
// (level_dispatch.cpp).
const Kernels kSimd128Kernels{quantize24, quantize32, nullptr, nullptr, convert24, convert32};

}  // namespace oct::lvl

#else

namespace oct::lvl {
const Kernels kSimd128Kernels{};
}

#endif
