// The level codec for processors with AVX2, chosen at run time; only the
// functions here are compiled for AVX2, so nothing else of the library needs
// it.
//
// Quantizing takes 16 pixels a step. A 24-bit source's pixels are moved into
// 32-bit lanes by a lane permute and a byte shuffle; byte multiply-adds form
// the gray sums; the level sum div 96 is the high half of sum × 683 (exact
// for every sum up to 767); a byte shuffle maps levels to codes; multiply-adds
// and shifts gather the codes into bit groups for the writer.
//
// Decoding spreads the codes of 16 gray pixels into bytes with shifts and
// masks, maps them to palette values with a byte shuffle and expands each to
// 3 bytes with three more; 8 pixels with alpha come from 64-bit lanes shifted
// by their own counts and one shuffle through the palette.
#include "api/level_kernels.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <immintrin.h>

#include <utility>

#define OCT_AVX2 __attribute__((target("avx2")))

namespace oct::lvl {
namespace {

constexpr const auto& kGrayCodes = kGrayCodes16;
constexpr const auto& kAlphaCodes = kAlphaCodes16;
constexpr const auto& kValues = kCodeValues16;
constexpr const auto& kLevelValues = kLevelValues16;

OCT_AVX2 inline __m256i table256(const std::array<std::uint8_t, 16>& t) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data())));
}

// Eight pixels of a 24-bit row (24 of the 32 bytes at `p`) as 32-bit lanes B, G, R, 0.
OCT_AVX2 inline __m256i lanesOf24(const std::uint8_t* p) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    // Bytes 0..15 to the low half, 12..27 to the high half.
    const __m256i halves = _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6));
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                            0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    return _mm256_shuffle_epi8(halves, spread);
}

// The gray levels (0..7) of eight 32-bit lanes B, G, R, A.
OCT_AVX2 inline __m256i grayLevels(__m256i px) {
    const __m256i pairs = _mm256_maddubs_epi16(px, _mm256_set1_epi32(0x00010101));  // B + G, R
    const __m256i sums = _mm256_madd_epi16(pairs, _mm256_set1_epi16(1));
    return _mm256_mulhi_epu16(sums, _mm256_set1_epi16(683));
}

// Sixteen codes of kBits bits (two registers of 32-bit lanes, pixels in
// order) → two groups of 8 × kBits bits, pixels 0..7 and 8..15.
template <int kBits>
OCT_AVX2 inline void groupsOf(__m256i a, __m256i b, std::uint64_t& low, std::uint64_t& high) {
    // Packing works per 128-bit half; the permute puts the pixels back in order.
    const __m256i words = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
    const __m256i pairs = _mm256_madd_epi16(words, _mm256_set1_epi32(1 << (16 + kBits) | 1));
    const __m256i quads = _mm256_or_si256(_mm256_and_si256(pairs, _mm256_set1_epi64x(0xFFFFFFFF)),
                                          _mm256_slli_epi64(_mm256_srli_epi64(pairs, 32), 2 * kBits));
    const __m256i octs = _mm256_or_si256(quads, _mm256_slli_epi64(_mm256_srli_si256(quads, 8), 4 * kBits));
    low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm256_castsi256_si128(octs)));
    high = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm256_extracti128_si256(octs, 1)));
}

// The codes of 16 gray pixels from their levels (pixels 0..7 in `a`), to the writer.
OCT_AVX2 inline void putGrayCodes(__m256i a, __m256i b, CodeWriter& writer) {
    std::uint64_t low, high;
    groupsOf<3>(_mm256_shuffle_epi8(table256(kGrayCodes), a), _mm256_shuffle_epi8(table256(kGrayCodes), b), low, high);
    writer.put(low | high << 24, 48);
}

OCT_AVX2 void quantize24(const std::uint8_t* row, std::int32_t width, CodeWriter& rowWriter) {
    CodeWriter writer = rowWriter;  // in registers: its own stores may not change it
    std::int32_t x = 0;
    // Each step reads 56 bytes from its first pixel: 8 past its 16 pixels.
    for (; width - x >= 19; x += 16) {
        const std::uint8_t* p = row + static_cast<std::int64_t>(x) * 3;
        putGrayCodes(grayLevels(lanesOf24(p)), grayLevels(lanesOf24(p + 24)), writer);
    }
    quantizeTail<3>(row + static_cast<std::int64_t>(x) * 3, width - x, writer);
    rowWriter = writer;
}

// quantize24 and the rebuilt row at once: the levels give both the codes
// and, through the palette, the gray bytes, packed from 32-bit lanes to 3
// bytes a pixel. Each 16-byte store but the last holds 4 bytes that the
// next one writes again, and the last stores exactly 12, so a step writes
// only its own 48 bytes, after reading its source: `out` may be `row`.
OCT_AVX2 void convert24(const std::uint8_t* row, std::int32_t width, CodeWriter& rowWriter, std::uint8_t* out) {
    CodeWriter writer = rowWriter;  // in registers: the stores below may not change it
    // Each lane's palette value, in its low byte, three times: pixels of 3
    // bytes, four to each half.
    const __m256i pack = _mm256_setr_epi8(0, 0, 0, 4, 4, 4, 8, 8, 8, 12, 12, 12, -1, -1, -1, -1,  //
                                          0, 0, 0, 4, 4, 4, 8, 8, 8, 12, 12, 12, -1, -1, -1, -1);
    const __m256i values = table256(kLevelValues);
    std::int32_t x = 0;
    for (; width - x >= 19; x += 16) {
        const std::uint8_t* p = row + static_cast<std::int64_t>(x) * 3;
        const __m256i a = grayLevels(lanesOf24(p)), b = grayLevels(lanesOf24(p + 24));
        putGrayCodes(a, b, writer);
        std::uint8_t* o = out + static_cast<std::int64_t>(x) * 3;
        const __m256i grayA = _mm256_shuffle_epi8(_mm256_shuffle_epi8(values, a), pack);
        const __m256i grayB = _mm256_shuffle_epi8(_mm256_shuffle_epi8(values, b), pack);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(grayA));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 12), _mm256_extracti128_si256(grayA, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 24), _mm256_castsi256_si128(grayB));
        const __m128i last = _mm256_extracti128_si256(grayB, 1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 36), last);
        const auto tail = static_cast<std::uint32_t>(_mm_extract_epi32(last, 2));
        std::memcpy(o + 44, &tail, 4);
    }
    convertTail<3>(row + static_cast<std::int64_t>(x) * 3, width - x, writer, out + static_cast<std::int64_t>(x) * 3);
    rowWriter = writer;
}

// The 6-bit codes of eight 32-bit lanes B, G, R, A whose gray levels are `levels`.
OCT_AVX2 inline __m256i alphaCodes(__m256i px, __m256i levels) {
    return _mm256_or_si256(_mm256_shuffle_epi8(table256(kGrayCodes), levels),
                           _mm256_shuffle_epi8(table256(kAlphaCodes), _mm256_srli_epi32(px, 29)));
}

// The codes of 16 pixels with alpha (pixels 0..7 in `a`, their gray levels
// in `levelsA`), to the writer.
OCT_AVX2 inline void putAlphaCodes(__m256i a, __m256i levelsA, __m256i b, __m256i levelsB, CodeWriter& writer) {
    std::uint64_t low, high;
    groupsOf<6>(alphaCodes(a, levelsA), alphaCodes(b, levelsB), low, high);
    writer.put(low, 48);
    writer.put(high, 48);
}

OCT_AVX2 void quantize32(const std::uint8_t* row, std::int32_t width, CodeWriter& rowWriter) {
    CodeWriter writer = rowWriter;  // in registers: its own stores may not change it
    std::int32_t x = 0;
    for (; width - x >= 16; x += 16) {
        const std::uint8_t* p = row + static_cast<std::int64_t>(x) * 4;
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        putAlphaCodes(a, grayLevels(a), b, grayLevels(b), writer);
    }
    quantizeTail<4>(row + static_cast<std::int64_t>(x) * 4, width - x, writer);
    rowWriter = writer;
}

// quantize32 and the rebuilt row at once: gray values in the three low
// bytes, the alpha level's value (alpha div 32 through the palette) on top.
// Both levels go through the palette in one shuffle, the gray one in a
// lane's low byte and the alpha one in its top byte; a second shuffle copies
// the gray value to the two bytes above it.
OCT_AVX2 void convert32(const std::uint8_t* row, std::int32_t width, CodeWriter& rowWriter, std::uint8_t* out) {
    CodeWriter writer = rowWriter;  // in registers: the stores below may not change it
    const __m256i values = table256(kLevelValues);
    const __m256i spread = _mm256_setr_epi8(0, 0, 0, 3, 4, 4, 4, 7, 8, 8, 8, 11, 12, 12, 12, 15,  //
                                            0, 0, 0, 3, 4, 4, 4, 7, 8, 8, 8, 11, 12, 12, 12, 15);
    std::int32_t x = 0;
    for (; width - x >= 16; x += 16) {
        const std::uint8_t* p = row + static_cast<std::int64_t>(x) * 4;
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        const __m256i levelsA = grayLevels(a), levelsB = grayLevels(b);
        putAlphaCodes(a, levelsA, b, levelsB, writer);
        std::uint8_t* o = out + static_cast<std::int64_t>(x) * 4;
        for (const auto& [px, levels] : {std::pair{a, levelsA}, std::pair{b, levelsB}}) {
            const __m256i both = _mm256_or_si256(levels, _mm256_slli_epi32(_mm256_srli_epi32(px, 29), 24));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(o),
                                _mm256_shuffle_epi8(_mm256_shuffle_epi8(values, both), spread));
            o += 32;
        }
    }
    convertTail<4>(row + static_cast<std::int64_t>(x) * 4, width - x, writer, out + static_cast<std::int64_t>(x) * 4);
    rowWriter = writer;
}

OCT_AVX2 void decodeGray(const std::uint8_t* levels, std::int64_t size, std::int64_t first, std::int32_t width,
                         std::uint8_t* out) {
    const __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kValues.data()));
    const __m128i e0 = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i e1 = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i e2 = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    std::int32_t x = 0;
    for (; width - x >= 16 && ((first + x) * 3 >> 3) + 8 <= size; x += 16) {
        const std::uint64_t codes = codesFrom(levels, (first + x) * 3);
        // Pixels 0..7 in the low 64-bit lane, 8..15 in the high one, then
        // each 3-bit code into a byte of its own: 12-bit halves 32 bits
        // apart, 6-bit quarters 16 apart, codes 8 apart.
        __m128i v = _mm_srlv_epi64(_mm_set1_epi64x(static_cast<long long>(codes)), _mm_set_epi64x(24, 0));
        v = _mm_and_si128(v, _mm_set1_epi64x(0xFFFFFF));
        v = _mm_or_si128(_mm_and_si128(v, _mm_set1_epi64x(0xFFF)),
                         _mm_slli_epi64(_mm_and_si128(v, _mm_set1_epi64x(0xFFF000)), 20));
        v = _mm_or_si128(_mm_and_si128(v, _mm_set1_epi64x(0x0000003F0000003F)),
                         _mm_slli_epi64(_mm_and_si128(v, _mm_set1_epi64x(0x00000FC000000FC0)), 10));
        v = _mm_or_si128(_mm_and_si128(v, _mm_set1_epi64x(0x0007000700070007)),
                         _mm_slli_epi64(_mm_and_si128(v, _mm_set1_epi64x(0x0038003800380038)), 5));
        const __m128i gray = _mm_shuffle_epi8(values, v);
        auto* p = reinterpret_cast<__m128i*>(out + static_cast<std::int64_t>(x) * 3);
        _mm_storeu_si128(p, _mm_shuffle_epi8(gray, e0));
        _mm_storeu_si128(p + 1, _mm_shuffle_epi8(gray, e1));
        _mm_storeu_si128(p + 2, _mm_shuffle_epi8(gray, e2));
    }
    decodeGrayTail(levels, size, first, x, width, out);
}

OCT_AVX2 void decodeAlpha(const std::uint8_t* levels, std::int64_t size, std::int64_t first, std::int32_t width,
                          std::uint8_t* out) {
    const __m256i values = table256(kValues);
    const __m256i shifts = _mm256_setr_epi64x(0, 12, 24, 36);
    const __m256i grayBytes = _mm256_setr_epi8(0, 0, 0, -1, 4, 4, 4, -1, 8, 8, 8, -1, 12, 12, 12, -1,  //
                                               0, 0, 0, -1, 4, 4, 4, -1, 8, 8, 8, -1, 12, 12, 12, -1);
    std::int32_t x = 0;
    for (; width - x >= 8 && ((first + x) * 6 >> 3) + 8 <= size; x += 8) {
        const std::uint64_t codes = codesFrom(levels, (first + x) * 6);
        // Two pixels per 64-bit lane, then one per 32-bit lane.
        const __m256i v = _mm256_srlv_epi64(_mm256_set1_epi64x(static_cast<long long>(codes)), shifts);
        const __m256i c = _mm256_or_si256(_mm256_and_si256(v, _mm256_set1_epi64x(0x3F)),
                                          _mm256_and_si256(_mm256_slli_epi64(v, 26), _mm256_set1_epi64x(0x3F00000000)));
        // Bytes: the code three times (its alpha bits fall outside the
        // table's 8 entries, which repeat), then the alpha code.
        const __m256i index = _mm256_or_si256(_mm256_shuffle_epi8(c, grayBytes),
                                              _mm256_slli_epi32(_mm256_srli_epi32(c, 3), 24));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + static_cast<std::int64_t>(x) * 4),
                            _mm256_shuffle_epi8(values, index));
    }
    decodeAlphaTail(levels, size, first, x, width, out);
}

}  // namespace

const Kernels kAvx2Kernels{quantize24, quantize32, decodeGray, decodeAlpha, convert24, convert32};

}  // namespace oct::lvl

#else

namespace oct::lvl {
const Kernels kAvx2Kernels{};
}

#endif
