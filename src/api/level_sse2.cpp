// The level codec for every x86-64 processor: SSE2, without byte shuffles.
//
// Quantizing 32-bit sources takes 8 pixels a step. Each pixel's gray sum is
// formed in its 32-bit lane, and its code found by comparing the sum with the
// level thresholds: the codes of adjacent levels differ by a fixed XOR, so
// the code is the XOR of those differences over the thresholds the sum
// reaches. Multiply-adds then gather the codes into one bit group for the
// writer.
//
// Decoding looks the bytes of several pixels up at once in tables indexed by
// 12 bits of codes: 4 gray pixels (12 bytes), or 2 pixels with alpha (8 bytes).
#include "api/level_kernels.h"

// The WebAssembly module builds it too: emscripten maps these intrinsics onto
// WebAssembly's 128-bit SIMD, with the same results.
#if defined(__x86_64__) || defined(_M_X64) || defined(__wasm_simd128__)

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

// The comparisons that find the codes of eight 16-bit values v < 8 × step:
// level v div step, made once per row.
struct Levels {
    __m128i below[7];  // k × step − 1, for k = 1..7
    __m128i step[7];   // kCodeStep[k]
    explicit Levels(int unit) {
        for (int k = 1; k < 8; ++k) {
            below[k - 1] = _mm_set1_epi16(static_cast<short>(k * unit - 1));
            step[k - 1] = _mm_set1_epi16(kCodeStep[k]);
        }
    }
    __m128i codesOf(__m128i v) const {
        __m128i code = _mm_setzero_si128();
        for (int k = 0; k < 7; ++k) code = _mm_xor_si128(code, _mm_and_si128(_mm_cmpgt_epi16(v, below[k]), step[k]));
        return code;
    }
};

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

void quantize32(const std::uint8_t* row, std::int32_t width, CodeWriter& writer) {
    const Levels gray(96), alpha(32);
    std::int32_t x = 0;
    for (; width - x >= 8; x += 8) {
        const std::uint8_t* p = row + static_cast<std::int64_t>(x) * 4;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i sums = _mm_packs_epi32(sumsOf(a), sumsOf(b));
        const __m128i alphas = _mm_packs_epi32(_mm_srli_epi32(a, 24), _mm_srli_epi32(b, 24));
        const __m128i codes = _mm_or_si128(gray.codesOf(sums), _mm_slli_epi16(alpha.codesOf(alphas), 3));
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

// 24-bit sources keep the portable quantizing (null below): without byte
// shuffles, moving 3-byte pixels into lanes costs more than its table lookups.
const Kernels kSse2Kernels{nullptr, quantize32, decodeGray, decodeAlpha};

}  // namespace oct::lvl

#else

namespace oct::lvl {
const Kernels kSse2Kernels{};
}

#endif
