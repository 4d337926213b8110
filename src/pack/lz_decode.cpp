// The block decoder: a careful reader that checks every read, and a fast
// loop (lz_decode.inc) built once for each kind of processor, chosen once at
// run time. Every copy gives the same bytes.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "pack/lz_block.h"
#include "runtime/cpu_features.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace oct {
namespace {

// Reads tag bits and data bytes from a bounded stream. Past its end every
// read gives 0 and ok() turns false, so a caller checks once per token.
class TagReader {
public:
    // Starts at `pos` with `avail` unread bits of the current tag word at
    // the top of the low 16 bits of `tag` (the bits below them 0).
    TagReader(const std::uint8_t* in, std::size_t size, std::size_t pos, std::uint32_t tag, int avail)
        : in_(in), size_(size), pos_(pos), tag_(tag), avail_(avail) {}

    std::uint32_t bit() {
        if (avail_ == 0 && !refill()) return 0;
        --avail_;
        const std::uint32_t b = (tag_ >> 15) & 1;
        tag_ <<= 1;
        return b;
    }

    // Copies to `out` the literals whose flags come next in the current tag
    // word, at most `room` of them, and returns how many: 0 when the next
    // flag is a match's (left unread). A run of literals thus costs one
    // branch, not one per byte.
    std::uint32_t literals(std::uint8_t* out, std::uint32_t room) {
        if (avail_ == 0 && !refill()) return 0;
        // Unread bits sit at the top of the low 16; bits past them are 0, so
        // the count of zero flags is capped by what the word still holds.
        std::uint32_t run = static_cast<std::uint32_t>(std::countl_zero(static_cast<std::uint16_t>(tag_)));
        run = std::min({run, static_cast<std::uint32_t>(avail_), room});
        if (run == 0) return 0;
        if (size_ - pos_ < run) return fail();
        if (size_ - pos_ >= 16 && room >= 16) {
            // A fixed 16-byte copy is faster than a short variable one; the
            // bytes past the run lie inside the block and are written again
            // before anything reads them.
            std::memcpy(out, in_ + pos_, 16);
        } else {
            std::memcpy(out, in_ + pos_, run);
        }
        pos_ += run;
        tag_ <<= run;
        avail_ -= static_cast<int>(run);
        return run;
    }

    // A gamma value, or 0 (never a valid value) when it grows past `limit` or
    // the stream ends.
    std::uint64_t gamma(std::uint64_t limit) {
        std::uint64_t v = 1;
        for (;;) {
            std::uint32_t pair;  // a digit, then its continuation bit
            if (avail_ >= 2) {
                pair = (tag_ >> 14) & 3;
                tag_ <<= 2;
                avail_ -= 2;
            } else {
                pair = bit() << 1;
                pair |= bit();
                if (!ok_) return 0;
            }
            v = v * 2 + (pair >> 1);
            if (v > limit) return 0;
            if ((pair & 1) == 0) return v;
        }
    }

    std::uint8_t byte() {
        if (pos_ >= size_) return static_cast<std::uint8_t>(fail());
        return in_[pos_++];
    }

    bool ok() const { return ok_; }
    std::size_t consumed() const { return pos_; }
    // The unread bits of the current tag word, at the top of the low 16 bits,
    // and how many there are.
    std::uint32_t tag() const { return tag_ & 0xFFFF; }
    int avail() const { return avail_; }

private:
    bool refill() {
        if (size_ - pos_ < 2) return fail();
        tag_ = in_[pos_] | static_cast<std::uint32_t>(in_[pos_ + 1]) << 8;
        pos_ += 2;
        avail_ = 16;
        return true;
    }

    std::uint32_t fail() {
        ok_ = false;
        pos_ = size_;  // every later read fails as well
        return 0;
    }

    const std::uint8_t* in_;
    std::size_t size_;
    std::size_t pos_;
    std::uint32_t tag_ = 0;
    int avail_ = 0;  // bits of the current tag word not yet read
    bool ok_ = true;
};

// Bytes `start` .. len − 1 of a match from `dist` ≥ 16 bytes back, in fixed
// 16-byte pieces: each reads only bytes written before it, and the last may
// run up to 15 bytes past the match (which needs that room), still inside the
// block, where later tokens write again before anything reads.
[[gnu::always_inline]] inline void copyFarPieces(std::uint8_t* out, std::uint64_t dist, std::uint32_t start,
                                                 std::uint32_t len) {
    for (std::uint32_t i = start; i < len; i += 16) std::memcpy(out + i, out + i - dist, 16);
}

// Copies `len` bytes from `dist` bytes back (`room` ≥ len bytes are free at
// `out`), with the result of a copy made
// one byte at a time upwards: an overlapping match repeats its first `dist`
// bytes. Those are copied once, then the pattern doubles itself, so a long
// run costs a few memcpy calls rather than one step per byte.
void copyMatch(std::uint8_t* out, std::uint32_t dist, std::uint32_t len, std::uint32_t room) {
    const std::uint8_t* from = out - dist;
    if (dist >= 16 && room - len >= 15) {
        copyFarPieces(out, dist, 0, len);
        return;
    }
    if (dist >= len) {
        std::memcpy(out, from, len);
        return;
    }
    std::memcpy(out, from, dist);  // from + dist == out: no overlap
    // `done` stays a multiple of `dist`, so out[0..n) continues the pattern
    // at out + done; the two ranges never overlap because n ≤ done.
    std::uint32_t done = dist;
    while (done < len) {
        const std::uint32_t n = std::min(done, len - done);
        std::memcpy(out + done, out, n);
        done += n;
    }
}


// Repeats the `dist` (1 to 7) bytes before `out` until `len` bytes are
// written, in 8-byte stores of a pattern kept in a register; writes up to 7
// bytes past `len`, so `out` must have room for len + 7.
void copyShortPeriod(std::uint8_t* out, std::uint32_t dist, std::uint32_t len) {
    std::uint64_t first;
    std::memcpy(&first, out - dist, 8);  // the bytes past the period are masked away
    const std::uint32_t periodBits = 8 * dist;
    first &= (std::uint64_t{1} << periodBits) - 1;
    std::uint64_t p = first;
    for (std::uint32_t s = periodBits; s < 64; s += periodBits) p |= first << s;
    // The next 8 bytes continue the period `r` bytes further on.
    const std::uint32_t r = 8 % dist;
    for (std::uint32_t i = 0; i < len; i += 8) {
        std::memcpy(out + i, &p, 8);
        if (r != 0) p = (p >> (8 * r)) | (p << (periodBits - 8 * r));
    }
}

// The fast loop's copy of a match where `len` + 15 bytes are free at `out`:
// fixed-size pieces wherever the distance allows them.
[[gnu::always_inline]] inline void copyInPieces(std::uint8_t* out, std::uint64_t dist, std::uint32_t len) {
    const std::uint8_t* from = out - dist;
    if (dist >= 16) {
        copyFarPieces(out, dist, 0, len);
    } else if (dist >= 8) {
        for (std::uint32_t i = 0; i < len; i += 8) std::memcpy(out + i, from + i, 8);
    } else if (dist == 1 && len > 64) {
        std::memset(out, out[-1], len);
    } else {
        copyShortPeriod(out, static_cast<std::uint32_t>(dist), len);
    }
}

#if defined(__x86_64__)
// For a period d of 1 to 16: `start` repeats bytes 0 .. d − 1 over 16 bytes,
// and `next` takes such 16 bytes to the 16 that follow them.
struct PeriodShuffles {
    alignas(16) std::uint8_t start[17][16];
    alignas(16) std::uint8_t next[17][16];
};

constexpr PeriodShuffles makePeriodShuffles() {
    PeriodShuffles t{};
    for (int d = 1; d <= 16; ++d)
        for (int j = 0; j < 16; ++j) {
            t.start[d][j] = static_cast<std::uint8_t>(j % d);
            t.next[d][j] = static_cast<std::uint8_t>((16 + j) % d);
        }
    return t;
}

alignas(64) constexpr PeriodShuffles kPeriodShuffles = makePeriodShuffles();

// The first 16 bytes of a match from `dist` bytes back, where 16 bytes are
// free at `out`, with one load, one shuffle and one store whatever the
// distance: the whole of a match of up to 16 bytes, which most are. Returns
// the 16 bytes. A distance below 16 repeats its period out of a register
// rather than reading bytes just written, which would wait for the stores.
[[gnu::target("ssse3")]] [[gnu::always_inline]] inline __m128i copyShortByShuffle(std::uint8_t* out,
                                                                                 std::uint64_t dist) {
    // From a distance of 16 on, the shuffle keeps the 16 bytes as they are.
    // Below it, the load takes in bytes at `out` and after, which the
    // shuffle leaves out.
    const std::uint64_t period = std::min<std::uint64_t>(dist, 16);
    const __m128i piece =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(out - dist)),
                         _mm_load_si128(reinterpret_cast<const __m128i*>(kPeriodShuffles.start[period])));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), piece);
    return piece;
}

// The same copy as copyInPieces with SSSE3 byte shuffles: the first 16 bytes
// as copyShortByShuffle writes them, so that the copy chooses nothing by
// distance until the match is longer.
[[gnu::target("ssse3")]] [[gnu::always_inline]] inline void copyByShuffle(std::uint8_t* out, std::uint64_t dist,
                                                                         std::uint32_t len) {
    __m128i piece = copyShortByShuffle(out, dist);
    if (len <= 16) [[likely]]
        return;
    if (dist >= 16) {
        copyFarPieces(out, dist, 16, len);
    } else {
        const __m128i next = _mm_load_si128(reinterpret_cast<const __m128i*>(kPeriodShuffles.next[dist]));
        for (std::uint32_t i = 16; i < len; i += 16) {
            piece = _mm_shuffle_epi8(piece, next);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), piece);
        }
    }
}
#endif

// The u16 LE tag word at `p`, as the bits of a 64-bit word from the top.
std::uint64_t tagWordAt(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(p[0] | static_cast<std::uint32_t>(p[1]) << 8) << 48;
}

// The two tag words at `p` in the order their bits are read: the first in
// bits 31..16, its bit 15 at bit 31.
[[gnu::always_inline]] inline std::uint64_t twoTagWordsAt(const std::uint8_t* p) {
    std::uint32_t x;
    std::memcpy(&x, p, 4);
    return std::rotr(x, 16);
}

// Bits 63, 61, ..., 1 of `t` in bits 31, 30, ..., 0, with shifts and masks.
[[gnu::always_inline]] inline std::uint64_t gatherOddBits(std::uint64_t t) {
    std::uint64_t x = (t >> 1) & 0x5555555555555555ull;
    x = (x | x >> 1) & 0x3333333333333333ull;
    x = (x | x >> 2) & 0x0F0F0F0F0F0F0F0Full;
    x = (x | x >> 4) & 0x00FF00FF00FF00FFull;
    x = (x | x >> 8) & 0x0000FFFF0000FFFFull;
    return (x | x >> 16) & 0x00000000FFFFFFFFull;
}

#define OCT_LZ_NAMESPACE portable
#define OCT_LZ_TARGET
#define OCT_LZ_GATHER_DIGITS(t) gatherOddBits(t)
#define OCT_LZ_COPY(out, dist, len) copyInPieces(out, dist, len)
#define OCT_LZ_COPY_SHORT(out, dist) copyInPieces(out, dist, 16)
#include "pack/lz_decode.inc"
#undef OCT_LZ_NAMESPACE
#undef OCT_LZ_TARGET
#undef OCT_LZ_GATHER_DIGITS
#undef OCT_LZ_COPY
#undef OCT_LZ_COPY_SHORT

#if defined(__x86_64__)
#define OCT_LZ_HAVE_X86 1
#define OCT_LZ_NAMESPACE shuffle
#define OCT_LZ_TARGET [[gnu::target("ssse3,lzcnt")]]
#define OCT_LZ_GATHER_DIGITS(t) gatherOddBits(t)
#define OCT_LZ_COPY(out, dist, len) copyByShuffle(out, dist, len)
#define OCT_LZ_COPY_SHORT(out, dist) static_cast<void>(copyShortByShuffle(out, dist))
#include "pack/lz_decode.inc"
#undef OCT_LZ_NAMESPACE
#undef OCT_LZ_TARGET
#undef OCT_LZ_GATHER_DIGITS

#define OCT_LZ_NAMESPACE pext
// BMI1 for ANDN: one instruction less on the chain from token to token.
#define OCT_LZ_TARGET [[gnu::target("bmi,bmi2,lzcnt,ssse3")]]
#define OCT_LZ_GATHER_DIGITS(t) __builtin_ia32_pext_di((t), 0xAAAAAAAAAAAAAAAAull)
#include "pack/lz_decode.inc"
#undef OCT_LZ_NAMESPACE
#undef OCT_LZ_TARGET
#undef OCT_LZ_GATHER_DIGITS
#undef OCT_LZ_COPY
#undef OCT_LZ_COPY_SHORT
#endif

// The fastest decoder this processor runs: PEXT where it is fast, else the
// shuffles alone.
detail::LzDecoder fastestDecoder() {
    using detail::LzDecoder;
#ifdef OCT_LZ_HAVE_X86
    if (detail::decoderRuns(LzDecoder::kPext) && cpuFeatures().fastPext)
        return LzDecoder::kPext;
    if (detail::decoderRuns(LzDecoder::kShuffle)) return LzDecoder::kShuffle;
#endif
    return LzDecoder::kPortable;
}

}  // namespace

bool detail::decoderRuns(LzDecoder which) {
    if (which == LzDecoder::kPortable) return true;
#ifdef OCT_LZ_HAVE_X86
    const CpuFeatures& cpu = cpuFeatures();
    const bool shuffles = cpu.ssse3 && cpu.lzcnt;
    return which == LzDecoder::kShuffle ? shuffles : shuffles && cpu.bmi1 && cpu.bmi2;
#else
    (void)which;
    return false;
#endif
}

std::int64_t detail::decompressBlockWith(LzDecoder which, const std::uint8_t* source, std::size_t sourceSize,
                                         std::uint8_t* destination, std::uint32_t length) {
#ifdef OCT_LZ_HAVE_X86
    if (which == LzDecoder::kPext) return pext::decompressBlock(source, sourceSize, destination, length);
    if (which == LzDecoder::kShuffle) return shuffle::decompressBlock(source, sourceSize, destination, length);
#else
    (void)which;
#endif
    return portable::decompressBlock(source, sourceSize, destination, length);
}

std::int64_t pakDecompressBlock(const std::uint8_t* source, std::size_t sourceSize, std::uint8_t* destination,
                                std::uint32_t length) {
    static const detail::LzDecoder decoder = fastestDecoder();
    return detail::decompressBlockWith(decoder, source, sourceSize, destination, length);
}

}  // namespace oct
