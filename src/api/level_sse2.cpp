// The level codec for every x86-64 processor: SSE2, without byte shuffles.
//
// Quantizing takes 8 pixels a step. Each pixel is moved into a 32-bit lane
// (24-bit sources by whole-register byte shifts), its gray sum formed there,
// and its code found by comparing the sum with the level thresholds: the
// codes of adjacent levels differ by a fixed XOR, so the code is the XOR of
// those differences over the thresholds the sum reaches. Multiply-adds then
// gather the codes into one bit group for the writer.
//
// Decoding looks the bytes of several pixels up at once in tables indexed by
// 12 bits of codes: 4 gray pixels (12 bytes), or 2 pixels with alpha (8 bytes).
#include "api/level_kernels.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <emmintrin.h>

namespace oct::lvl {
namespace {

// Bits of level differences: the code of level k is the code of level k − 1
// XOR kCodeStep[k].
constexpr std::array<std::uint8_t, 8> kCodeStep = [] {
    std::array<std::uint8_t, 8> t{};
    for (int k = 1; k < 8; ++k) t[k] = static_cast<std::uint8_t>(kLevelCode[k] ^ kLevelCode[k - 1]);
    return t;
}();

// Codes of eight 16-bit values, one per level from `step` upwards: level
// v div step (v < 8 × step).
inline __m128i codesOf(__m128i v, int step) {
    __m128i code = _mm_setzero_si128();
    for (int k = 1; k < 8; ++k) {
        const __m128i reached = _mm_cmpgt_epi16(v, _mm_set1_epi16(static_cast<short>(k * step - 1)));
        code = _mm_xor_si128(code, _mm_and_si128(reached, _mm_set1_epi16(kCodeStep[k])));
    }
    return code;
}

// Four pixels of a 24-bit row (12 of the 16 bytes at `p`) as 32-bit lanes
// B, G, R, 0.
inline __m128i lanesOf24(const std::uint8_t* p) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i m0 = _mm_set_epi32(0, 0, 0, 0x00FFFFFF);
    const __m128i m1 = _mm_set_epi32(0, 0, 0x00FFFFFF, 0);
    const __m128i m2 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0);
    const __m128i m3 = _mm_set_epi32(0x00FFFFFF, 0, 0, 0);
    return _mm_or_si128(_mm_or_si128(_mm_and_si128(x, m0), _mm_and_si128(_mm_slli_si128(x, 1), m1)),
                        _mm_or_si128(_mm_and_si128(_mm_slli_si128(x, 2), m2), _mm_and_si128(_mm_slli_si128(x, 3), m3)));
}

// B + G + R of each 32-bit lane B, G, R, A.
inline __m128i sumsOf(__m128i px) {
    const __m128i br = _mm_and_si128(px, _mm_set1_epi32(0x00FF00FF));
    const __m128i g = _mm_and_si128(_mm_srli_epi16(px, 8), _mm_set1_epi32(0x000000FF));
    return _mm_madd_epi16(_mm_add_epi16(br, g), _mm_set1_epi16(1));
}

// Eight codes of kBits bits in 16-bit lanes → one group of 8 × kBits bits.
template <int kBits>
inline std::uint64_t groupOf(__m128i codes) {
    const __m128i pairs = _mm_madd_epi16(codes, _mm_set1_epi32(1 << (16 + kBits) | 1));
    const __m128i quads = _mm_or_si128(_mm_and_si128(pairs, _mm_set_epi32(0, -1, 0, -1)),
                                       _mm_slli_epi64(_mm_srli_epi64(pairs, 32), 2 * kBits));
    const auto low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(quads));
    const auto high = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(quads, quads)));
    return low | high << (4 * kBits);
}

void quantize24(const std::uint8_t* row, std::int32_t width, CodeWriter& writer) {
    std::int32_t x = 0;
    // Each step reads 28 bytes from its first pixel: 4 past its 8 pixels.
    for (; width - x >= 10; x += 8) {
        const std::uint8_t* p = row + static_cast<std::int64_t>(x) * 3;
        const __m128i sums = _mm_packs_epi32(sumsOf(lanesOf24(p)), sumsOf(lanesOf24(p + 12)));
        writer.put(groupOf<3>(codesOf(sums, 96)), 24);
    }
    quantizeTail<3>(row + static_cast<std::int64_t>(x) * 3, width - x, writer);
}

void quantize32(const std::uint8_t* row, std::int32_t width, CodeWriter& writer) {
    std::int32_t x = 0;
    for (; width - x >= 8; x += 8) {
        const std::uint8_t* p = row + static_cast<std::int64_t>(x) * 4;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i sums = _mm_packs_epi32(sumsOf(a), sumsOf(b));
        const __m128i alphas = _mm_packs_epi32(_mm_srli_epi32(a, 24), _mm_srli_epi32(b, 24));
        const __m128i codes = _mm_or_si128(codesOf(sums, 96), _mm_slli_epi16(codesOf(alphas, 32), 3));
        writer.put(groupOf<6>(codes), 48);
    }
    quantizeTail<4>(row + static_cast<std::int64_t>(x) * 4, width - x, writer);
}

// 12 bits of 3-bit codes → the 12 bytes of their 4 gray pixels, then 4 zero bytes.
struct alignas(16) Quad {
    std::uint8_t bytes[16];
};
constexpr std::array<Quad, 4096> kGrayQuads = [] {
    std::array<Quad, 4096> t{};
    for (int i = 0; i < 4096; ++i)
        for (int j = 0; j < 4; ++j)
            for (int c = 0; c < 3; ++c) t[i].bytes[3 * j + c] = kCodeValue[(i >> (3 * j)) & 7];
    return t;
}();

// 12 bits of 6-bit codes → the 8 bytes B, G, R, A of their 2 pixels.
constexpr std::array<std::uint64_t, 4096> kAlphaPairs = [] {
    std::array<std::uint64_t, 4096> t{};
    for (int i = 0; i < 4096; ++i)
        for (int j = 0; j < 2; ++j) {
            const int code = (i >> (6 * j)) & 63;
            const std::uint64_t gray = kCodeValue[code & 7], alpha = kCodeValue[code >> 3];
            t[i] |= (gray * 0x010101 | alpha << 24) << (32 * j);
        }
    return t;
}();

// The 8 bytes of codes that hold pixel `k`'s bits onwards, shifted so that
// its code starts at bit 0 (57 or more bits valid).
inline std::uint64_t codesFrom(const std::uint8_t* levels, std::int64_t bit) {
    std::uint64_t word;
    std::memcpy(&word, levels + (bit >> 3), 8);
    return word >> (bit & 7);
}

void decodeGray(const std::uint8_t* levels, std::int64_t size, std::int64_t first, std::int32_t width,
                std::uint8_t* out) {
    std::int32_t x = 0;
    // 16 pixels a step; the last 16-byte store runs 4 bytes past them, so
    // two more pixels of the row must follow.
    for (; width - x >= 18 && ((first + x) * 3 >> 3) + 8 <= size; x += 16) {
        const std::uint64_t codes = codesFrom(levels, (first + x) * 3);
        std::uint8_t* p = out + static_cast<std::int64_t>(x) * 3;
        for (int j = 0; j < 4; ++j)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 12 * j),
                             _mm_load_si128(reinterpret_cast<const __m128i*>(kGrayQuads[(codes >> (12 * j)) & 0xFFF].bytes)));
    }
    decodeGrayTail(levels, size, first, x, width, out);
}

void decodeAlpha(const std::uint8_t* levels, std::int64_t size, std::int64_t first, std::int32_t width,
                 std::uint8_t* out) {
    std::int32_t x = 0;
    for (; width - x >= 8 && ((first + x) * 6 >> 3) + 8 <= size; x += 8) {
        const std::uint64_t codes = codesFrom(levels, (first + x) * 6);
        std::uint8_t* p = out + static_cast<std::int64_t>(x) * 4;
        for (int j = 0; j < 4; ++j) std::memcpy(p + 8 * j, &kAlphaPairs[(codes >> (12 * j)) & 0xFFF], 8);
    }
    decodeAlphaTail(levels, size, first, x, width, out);
}

}  // namespace

const Kernels kSse2Kernels{quantize24, quantize32, decodeGray, decodeAlpha};

}  // namespace oct::lvl

#else

namespace oct::lvl {
const Kernels kSse2Kernels{};
}

#endif
