#include "pack/lz_block.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace oct {

static_assert(std::endian::native == std::endian::little, "match lengths are counted on little-endian words");
static_assert(pakWorkMemSize() >= detail::kTableBytes, "the work table holds the hash table");

// Block stream (docs/formats/packed-container.md#block-stream)
//
//   byte 0          the block's first byte, as is (a 1-byte block ends here)
//   bytes 1, 2      the first tag word (u16 LE); its bits are used from bit 15 down
//   then tokens     literal: flag 0, one data byte (the next output byte)
//                   match:   flag 1, gamma(L − 2), gamma((D − 1) div 256 + 2),
//                            one data byte (D − 1) mod 256; L ≥ 4, D ≥ 1
//
// A tag word is reserved at the output position reached when its first bit is
// written, so it follows the data bytes of the tokens before it. Bits of the
// last tag word that no token used are 0. Gamma code of v ≥ 2: the digits of v
// after its leading 1, highest first, each followed by 1 if another digit
// follows and 0 after the last one (2 → 00, 3 → 10, 4 → 0100, 13 → 110110).

namespace {

constexpr std::uint32_t kMinMatch = 4;    // shorter repeats are sent as literals
constexpr std::uint32_t kLiteralTail = 4;  // the last 4 bytes of a block are not searched

// ---------------------------------------------------------------------------
// Compression
// ---------------------------------------------------------------------------

// The low 16 bits of `v` as a u16 LE tag word.
void store16(std::uint8_t* p, std::uint64_t v) {
    const auto w = static_cast<std::uint16_t>(v);
    std::memcpy(p, &w, 2);
}

// Bits go into the tag words in groups: a token's flag and gamma codes are
// built as one number and put at once. The bits of the current tag word and
// of the words a group spills into sit in a 64-bit accumulator from its top
// (the current word's first bit is bit 63); each put stores the current word
// and the three after it without asking which of them it reached, since a
// branch on that would go either way about as often. A stored word past the
// ones in use lies at or beyond the next output byte, where a later data byte
// or tag word writes again; at the end of the block those stray bytes stay
// within pakMaxPackedSize, which leaves far more room than the worst case
// needs.
class TagWriter {
public:
    explicit TagWriter(std::uint8_t* block) : tag_(block + 1), out_(block + 3) { store16(tag_, 0); }

    // The low `n` bits of `code` (1 ≤ n ≤ 64, nothing above them set),
    // highest first. A tag word is reserved at the output position when its
    // first bit is put; the bits of one group go in with no data byte between
    // them, so the words that it spills into lie back to back.
    [[gnu::always_inline]] void put(std::uint64_t code, std::uint32_t n) {
        if (fill_ + n > 64) [[unlikely]] {
            putWithin64(code >> 32, n - 32);  // n > 48, so both halves fit
            putWithin64(code & 0xFFFFFFFFu, 32);
        } else {
            putWithin64(code, n);
        }
    }

    // A literal: flag 0, then the byte.
    void literal(std::uint8_t b) {
        if (fill_ == 16) {
            tag_ = out_;
            store16(tag_, 0);  // its flags may all be 0, and then nothing else stores it
            out_ += 2;
            acc_ = 0;
            fill_ = 0;
        }
        ++fill_;
        *out_++ = b;
    }

    void byte(std::uint8_t b) { *out_++ = b; }

    // Stores the last tag word (its unused bits are 0); returns the end of
    // the output.
    std::uint8_t* finish() {
        store16(tag_, acc_ >> 48);
        return out_;
    }

private:
    // put() of a group that ends within 64 bits of the current word's start.
    // put() is not recursive and this is inlined, so that the writer's state
    // stays in registers rather than in memory that every store may change.
    [[gnu::always_inline]] void putWithin64(std::uint64_t code, std::uint32_t n) {
        const std::uint32_t t = fill_ + n;  // bits from the current word's start
        acc_ |= code << (64 - t);
        store16(tag_, acc_ >> 48);
        store16(out_, acc_ >> 32);
        store16(out_ + 2, acc_ >> 16);
        store16(out_ + 4, acc_);
        const std::uint32_t spilled = (t - 1) >> 4;  // words after the current one that got bits: 0 to 3
        // tag_ moves to the last of them, if any: a select by mask, since
        // the compiler would make a branch of a conditional.
        const auto keep = static_cast<std::ptrdiff_t>(spilled != 0) - 1;  // all ones when none got bits
        const std::ptrdiff_t last = (out_ - tag_) + 2 * static_cast<std::ptrdiff_t>(spilled) - 2;
        tag_ += last & ~keep;
        out_ += 2 * spilled;
        acc_ <<= 16 * spilled;
        fill_ = t - 16 * spilled;
    }

    std::uint8_t* tag_;  // where the tag word being filled goes
    std::uint8_t* out_;  // the next output byte
    std::uint64_t acc_ = 0;
    std::uint32_t fill_ = 0;  // bits of the current tag word used, 0 to 16
};

// Each 8-bit number with its bits spread to the even bits of 16: bit j to bit 2j.
constexpr auto kSpread = [] {
    std::array<std::uint16_t, 256> t{};
    for (std::uint32_t v = 0; v < 256; ++v)
        for (std::uint32_t j = 0; j < 8; ++j) t[v] |= static_cast<std::uint16_t>(((v >> j) & 1) << (2 * j));
    return t;
}();

// The gamma code of v (2 ≤ v < 2^32) as a number of `n` bits. Digit j of v
// (below its leading 1) sits at bit 2j + 1, its continuation bit at 2j: 1 for
// every digit but the last (j = 0).
constexpr std::uint64_t gammaCodeBySpread(std::uint32_t v, std::uint32_t& n) {
    const auto digits = static_cast<std::uint32_t>(std::bit_width(v)) - 1;
    n = 2 * digits;
    const std::uint32_t x = v ^ (std::uint32_t{1} << digits);
    std::uint64_t spread = kSpread[x & 0xFF] | std::uint64_t{kSpread[(x >> 8) & 0xFF]} << 16;
    if (x >= 0x10000) [[unlikely]]
        spread |= std::uint64_t{kSpread[(x >> 16) & 0xFF]} << 32 | std::uint64_t{kSpread[x >> 24]} << 48;
    const std::uint64_t continuation = (0x5555555555555555ull >> (64 - n)) - 1;  // every even bit below n but bit 0
    return (spread << 1) | continuation;
}

// The codes of the values below 4098, which cover every distance in a block
// of up to 1 MiB and nearly every length: the code in the low 24 bits, its
// number of bits above them. A shorter table left the distances of text,
// often further back, to a branch that went the wrong way on 4 % of matches.
constexpr auto kSmallGamma = [] {
    std::array<std::uint32_t, 4098> t{};
    for (std::uint32_t v = 2; v < t.size(); ++v) {
        std::uint32_t n = 0;
        const std::uint64_t code = gammaCodeBySpread(v, n);
        t[v] = static_cast<std::uint32_t>(code) | n << 24;
    }
    return t;
}();

// The same code, from the table where it is small.
[[gnu::always_inline]] inline std::uint64_t gammaCode(std::uint32_t v, std::uint32_t& n) {
    if (v < kSmallGamma.size()) [[likely]] {
        const std::uint32_t e = kSmallGamma[v];
        n = e >> 24;
        return e & 0xFFFFFF;
    }
    return gammaCodeBySpread(v, n);
}

std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Number of equal bytes at `a` and `b`, at most `limit`. `a` lies before `b`,
// so reading `limit` bytes from `b` keeps both reads inside the block.
std::uint32_t matchLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t limit) {
    std::uint32_t i = 0;
    while (limit - i >= 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (std::uint64_t diff = x ^ y) return i + static_cast<std::uint32_t>(std::countr_zero(diff) >> 3);
        i += 8;
    }
    while (i < limit && a[i] == b[i]) ++i;
    return i;
}

// Enters positions [from, to) of the block in the table, in that order; each
// must have 4 bytes after it inside the block, and `to` must lie at least 4
// bytes before the block's end. Four positions come from one 8-byte load
// (which then stays inside the block) with their hashes independent of each
// other.
void enterPositions(const std::uint8_t* block, std::uint32_t from, std::uint32_t to, std::uint32_t* table,
                    std::uint32_t base) {
    constexpr std::uint32_t kMask = kPakHashEntries - 1;
    std::uint32_t p = from;
    for (; to - p >= 4; p += 4) {
        std::uint64_t x;
        std::memcpy(&x, block + p, 8);
        const auto b = [x](int k) { return static_cast<std::uint32_t>(x >> (8 * k)) & 0xFF; };
        // 317 b1 + b2 and its neighbours: each hash is 317² times one pair plus the pair two on.
        const std::uint32_t pair0 = 317u * b(0) + b(1), pair1 = 317u * b(1) + b(2), pair2 = 317u * b(2) + b(3),
                            pair3 = 317u * b(3) + b(4), pair4 = 317u * b(4) + b(5), pair5 = 317u * b(5) + b(6);
        constexpr std::uint32_t k317Squared = 317u * 317u;
        const std::uint32_t h0 = (k317Squared * pair0 + pair2) & kMask, h1 = (k317Squared * pair1 + pair3) & kMask,
                            h2 = (k317Squared * pair2 + pair4) & kMask, h3 = (k317Squared * pair3 + pair5) & kMask;
        table[h0] = base + p + 1;
        table[h1] = base + p + 2;
        table[h2] = base + p + 3;
        table[h3] = base + p + 4;
    }
    for (; p < to; ++p) table[pakHash4(block + p)] = base + p + 1;
}

#if defined(__SSE2__)
// pakHash4 of 4 positions at once: the first 4 bytes of `raw` (the 8 bytes
// from position 0 on are used), or with kHigh the next 4 (the 11 bytes from
// position 0 on).
template <bool kHigh>
[[gnu::always_inline]] inline __m128i hashesOf4(__m128i raw) {
    const __m128i zero = _mm_setzero_si128();
    // Bytes k, k+1, k+2 and k+3 after each of 8 positions, widened to 16 bits.
    const __m128i b0 = _mm_unpacklo_epi8(raw, zero), b1 = _mm_unpacklo_epi8(_mm_srli_si128(raw, 1), zero),
                  b2 = _mm_unpacklo_epi8(_mm_srli_si128(raw, 2), zero),
                  b3 = _mm_unpacklo_epi8(_mm_srli_si128(raw, 3), zero);
    // Two multiply-adds of 16-bit pairs: 4517 b0 − 30583 b1 and 317 b2 + b3,
    // whose sum agrees with the unsigned one in its low 17 bits.
    const __m128i first = _mm_set1_epi32(static_cast<std::int32_t>((std::uint32_t{0x10000u - 30583u} << 16) | 4517u));
    const __m128i second = _mm_set1_epi32(static_cast<std::int32_t>((std::uint32_t{1} << 16) | 317u));
    const __m128i pairs01 = kHigh ? _mm_unpackhi_epi16(b0, b1) : _mm_unpacklo_epi16(b0, b1);
    const __m128i pairs23 = kHigh ? _mm_unpackhi_epi16(b2, b3) : _mm_unpacklo_epi16(b2, b3);
    return _mm_and_si128(_mm_add_epi32(_mm_madd_epi16(pairs01, first), _mm_madd_epi16(pairs23, second)),
                         _mm_set1_epi32(kPakHashEntries - 1));
}

// The hashes of the 8 positions from `p` on, made from the 16 bytes at `p`.
struct EightHashes {
    __m128i first4, last4;
};

[[gnu::always_inline]] inline EightHashes hashesOf8(const std::uint8_t* p) {
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return {hashesOf4<false>(raw), hashesOf4<true>(raw)};
}

// Enters `count` (at most 8) positions in the table, in order, given the
// hashes of the 8 from the first on; the first gets the entry `v`. There is
// no branch on how many: the stores of those past `count` go to the spare
// entry after the table, which no lookup reads. After a short match the
// count varies from one match to the next, and a loop's exit would often go
// the wrong way.
[[gnu::always_inline]] inline void enterHashed(const EightHashes& h, std::uint32_t count, std::uint32_t* table,
                                               std::uint32_t v) {
    const __m128i n = _mm_set1_epi32(static_cast<std::int32_t>(count));
    const __m128i spare = _mm_set1_epi32(kPakHashEntries);
    const __m128i inLo = _mm_cmpgt_epi32(n, _mm_setr_epi32(0, 1, 2, 3));
    const __m128i inHi = _mm_cmpgt_epi32(n, _mm_setr_epi32(4, 5, 6, 7));
    alignas(16) std::uint32_t slot[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(slot),
                    _mm_or_si128(_mm_and_si128(inLo, h.first4), _mm_andnot_si128(inLo, spare)));
    _mm_store_si128(reinterpret_cast<__m128i*>(slot + 4),
                    _mm_or_si128(_mm_and_si128(inHi, h.last4), _mm_andnot_si128(inHi, spare)));
    // Written out: a loop here is not always unrolled.
    table[slot[0]] = v;
    table[slot[1]] = v + 1;
    table[slot[2]] = v + 2;
    table[slot[3]] = v + 3;
    table[slot[4]] = v + 4;
    table[slot[5]] = v + 5;
    table[slot[6]] = v + 6;
    table[slot[7]] = v + 7;
}

// Enters positions [from, to) of the block in the table, in that order, as
// enterPositions does, for at most 8 of them. Reads the 16 bytes at `from`,
// which must lie inside the block.
void enterFewPositions(const std::uint8_t* block, std::uint32_t from, std::uint32_t to, std::uint32_t* table,
                       std::uint32_t base) {
    enterHashed(hashesOf8(block + from), to - from, table, base + from + 1);
}
#endif

}  // namespace

std::uint32_t detail::compressBlockFrom(const std::uint8_t* block, std::uint8_t* destination, std::uint32_t length,
                                        std::uint32_t* table, std::uint32_t base) {
    if (length == 0) return 0;
    destination[0] = block[0];
    if (length == 1) return 1;

    TagWriter out(destination);
    std::uint32_t cur = 1;  // next byte to code
    // Every position is entered before the lookup at the next token start:
    // position 0 now, a token's start right after its own lookup, and the
    // positions inside a match with the match. Positions entered near the
    // end that no lookup will read do not change the output; all of them
    // have at least 4 bytes after them inside the block.
    const std::uint32_t searchEnd = length > kLiteralTail ? length - kLiteralTail : 0;  // lookups stay below
    if (searchEnd > 1) table[pakHash4(block)] = base + 1;
    std::uint32_t hash = cur < searchEnd ? pakHash4(block + cur) : 0;  // of the position at `cur`
    while (cur < searchEnd) {
#if defined(__SSE2__)
        // The hashes of the 8 positions after `cur`: a match of up to 9
        // bytes enters those it covers, and the lookup after a match of up
        // to 8 bytes reads one of them. The table entries of cur + 4 ..
        // cur + 7, where most next lookups fall, start to be fetched now:
        // the next lookup's position depends on the match's length, which
        // depends on the bytes its candidate points at, so otherwise one
        // token's table miss would wait for the token before; text, with its
        // short matches spread over the whole table, gains most.
        const bool haveNext = length - cur > 16;  // the 16 bytes at cur + 1 lie inside the block
        EightHashes next{};
        alignas(16) std::uint32_t nextHash[8];
        if (haveNext) {
            next = hashesOf8(block + cur + 1);
            _mm_store_si128(reinterpret_cast<__m128i*>(nextHash), next.first4);
            _mm_store_si128(reinterpret_cast<__m128i*>(nextHash + 4), next.last4);
            __builtin_prefetch(table + nextHash[3]);
            __builtin_prefetch(table + nextHash[4]);
            __builtin_prefetch(table + nextHash[5]);
            __builtin_prefetch(table + nextHash[6]);
        }
#else
        constexpr bool haveNext = false;
        const std::uint32_t* nextHash = nullptr;
#endif
        const std::uint32_t entry = table[hash];
        table[hash] = base + cur + 1;
        if (entry > base) {
            const std::uint32_t candidate = entry - 1 - base;
            // The first 4 bytes at once: most candidates fail there.
            if (load32(block + candidate) == load32(block + cur)) {
                const std::uint32_t len =
                    kMinMatch + matchLength(block + candidate + kMinMatch, block + cur + kMinMatch,
                                            length - cur - kMinMatch);
                const std::uint32_t d = cur - candidate - 1;
                std::uint32_t lenBits, distBits;
                const std::uint64_t lenCode = gammaCode(len - 2, lenBits);
                const std::uint64_t distCode = gammaCode((d >> 8) + 2, distBits);
                // The flag, the length and the distance's high part, in one
                // group when they fit in 64 bits (always, for blocks the
                // container makes).
                const std::uint64_t flagAndLength = (std::uint64_t{1} << lenBits) | lenCode;
                if (lenBits + distBits < 64) {
                    out.put(flagAndLength << distBits | distCode, 1 + lenBits + distBits);
                } else {
                    out.put(flagAndLength, 1 + lenBits);
                    out.put(distCode, distBits);
                }
                out.byte(static_cast<std::uint8_t>(d));
                // The 4 bytes at a position that lies 4 or more before the
                // match's end repeat those `period` bytes earlier, and so does
                // its hash: of those positions, the last `period` leave the
                // same table as all of them would, since each hash that an
                // earlier one enters comes again among them. A long run of
                // one short pattern thus costs a few entries, not one each.
                const std::uint32_t period = cur - candidate;
                const std::uint32_t to = std::min(cur + len, searchEnd);
                const std::uint32_t repeating = std::min(cur + len - 3, to);
                const std::uint32_t from = repeating - cur - 1 > period ? repeating - period : cur + 1;
#if defined(__SSE2__)
                if (haveNext && from == cur + 1 && to - from <= 8)
                    enterHashed(next, to - from, table, base + from + 1);
                else if (to - from <= 8 && length - from >= 16)
                    enterFewPositions(block, from, to, table, base);
                else
#endif
                    enterPositions(block, from, to, table, base);
                cur += len;
                // A branch, not a select: the hash made ahead is ready long
                // before one made from the bytes at `cur` would be.
                if (haveNext && len <= 8) [[likely]] {
                    hash = nextHash[len - 1];
                } else if (cur < searchEnd) {
                    hash = pakHash4(block + cur);
                }
                continue;
            }
        }
        out.literal(block[cur]);
        ++cur;
        if (cur < searchEnd) hash = pakHash4(block + cur);
    }
    for (; cur < length; ++cur) out.literal(block[cur]);
    return static_cast<std::uint32_t>(out.finish() - destination);
}

void detail::clearEntriesFor(const std::uint8_t* block, std::uint32_t length, std::uint32_t* table) {
    // Lookups happen at positions up to length − 5, insertions below that.
    for (std::uint32_t p = 0; p + kLiteralTail < length; ++p) table[pakHash4(block + p)] = 0;
}

std::uint32_t pakCompressBlock(const std::uint8_t* source, std::uint8_t* destination, std::uint32_t length,
                               void* work) {
    if (length == 0) return 0;
    // The table holds positions plus 1 as 32-bit values, so at most its first
    // half needs clearing, and a short block clears only what it will read.
    auto* table = static_cast<std::uint32_t*>(work);
    if (length < detail::kSparseClearLimit)
        detail::clearEntriesFor(source, length, table);
    else
        std::memset(table, 0, detail::kTableBytes);
    return detail::compressBlockFrom(source, destination, length, table, 0);
}

}  // namespace oct
