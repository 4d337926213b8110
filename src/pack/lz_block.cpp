#include "pack/lz_block.h"

#include <algorithm>
#include <bit>
#include <cstring>

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

// Bits go into the tag words in groups: a token's flag and gamma codes are
// built as numbers and put at once, and a tag word is stored only when full.
class TagWriter {
public:
    explicit TagWriter(std::uint8_t* block) : tag_(block + 1), out_(block + 3) {}

    // The low `n` bits of `code` (n ≤ 64, nothing above them set), highest
    // first. A tag word is reserved at the output position when its first
    // bit is put; the bits of one token go in with no data byte between them,
    // so the words that one group spills into lie back to back.
    void put(std::uint64_t code, std::uint32_t n) {
        if (n <= free_) {
            acc_ = (acc_ << n) | code;  // bits above bit 15 are never stored
            free_ -= n;
            return;
        }
        n -= free_;
        acc_ = (acc_ << free_) | (code >> n);
        code &= (std::uint64_t{1} << n) - 1;
        for (;;) {
            nextWord();
            if (n <= 16) {
                acc_ = code;
                free_ = 16 - n;
                return;
            }
            n -= 16;
            acc_ = code >> n;
            code &= (std::uint64_t{1} << n) - 1;
        }
    }

    // A literal: flag 0, then the byte.
    void literal(std::uint8_t b) {
        if (free_ == 0) {
            nextWord();
            free_ = 16;
        }
        --free_;
        acc_ <<= 1;
        *out_++ = b;
    }

    void byte(std::uint8_t b) { *out_++ = b; }

    // Moves the used bits of the last tag word to its top and stores it;
    // returns the end of the output.
    std::uint8_t* finish() {
        acc_ <<= free_;
        store();
        return out_;
    }

private:
    void store() {
        tag_[0] = static_cast<std::uint8_t>(acc_);
        tag_[1] = static_cast<std::uint8_t>(acc_ >> 8);
    }

    // Stores the full tag word and reserves the next one at the output position.
    void nextWord() {
        store();
        tag_ = out_;
        out_ += 2;
    }

    std::uint8_t* tag_;   // where the tag word being filled goes
    std::uint8_t* out_;   // the next output byte
    std::uint64_t acc_ = 0;
    std::uint32_t free_ = 16;  // bits of the current tag word not yet used
};

// The gamma code of v (2 ≤ v < 2^32) as a number of `n` bits. Digit j of v
// (below its leading 1) sits at bit 2j + 1, its continuation bit at 2j: 1 for
// every digit but the last (j = 0).
[[gnu::always_inline]] inline std::uint64_t gammaCode(std::uint32_t v, std::uint32_t& n) {
    const auto digits = static_cast<std::uint32_t>(std::bit_width(v)) - 1;
    n = 2 * digits;
    std::uint64_t x = v ^ (std::uint64_t{1} << digits);
    // Spread the digits to the even bits.
    x = (x | x << 16) & 0x0000FFFF0000FFFFull;
    x = (x | x << 8) & 0x00FF00FF00FF00FFull;
    x = (x | x << 4) & 0x0F0F0F0F0F0F0F0Full;
    x = (x | x << 2) & 0x3333333333333333ull;
    x = (x | x << 1) & 0x5555555555555555ull;
    const std::uint64_t continuation = 0x5555555555555554ull & ((std::uint64_t{1} << n) - 1);
    return (x << 1) | continuation;
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
    while (cur < searchEnd) {
        const std::uint32_t hash = pakHash4(block + cur);
        const std::uint32_t entry = table[hash];
        table[hash] = base + cur + 1;
        if (entry > base) {
            const std::uint32_t candidate = entry - 1 - base;
            // The first 4 bytes at once: most candidates fail there.
            if (load32(block + candidate) == load32(block + cur)) {
                const std::uint32_t len =
                    kMinMatch + matchLength(block + candidate + kMinMatch, block + cur + kMinMatch,
                                            length - cur - kMinMatch);
                // The next lookup's table entry and the bytes it points at
                // are fetched while this match is coded and entered (a hint
                // only: an entry changed meanwhile is read again below).
                const std::uint32_t d = cur - candidate - 1;
                std::uint32_t lenBits, distBits;
                const std::uint64_t lenCode = gammaCode(len - 2, lenBits);
                const std::uint64_t distCode = gammaCode((d >> 8) + 2, distBits);
                out.put((std::uint64_t{1} << lenBits) | lenCode, 1 + lenBits);  // the flag, then the length
                out.put(distCode, distBits);
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
                enterPositions(block, from, to, table, base);
                cur += len;
                continue;
            }
        }
        out.literal(block[cur]);
        ++cur;
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

// ---------------------------------------------------------------------------
// Decompression
// ---------------------------------------------------------------------------
namespace {

// Reads tag bits and data bytes from a bounded stream. Past its end every
// read gives 0 and ok() turns false, so a caller checks once per token.
class TagReader {
public:
    TagReader(const std::uint8_t* in, std::size_t size) : in_(in), size_(size), pos_(1) {}

    // Resumes at `pos` with `avail` unread bits of the current tag word at
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

// Copies `len` bytes from `dist` bytes back (`room` ≥ len bytes are free at
// `out`), with the result of a copy made
// one byte at a time upwards: an overlapping match repeats its first `dist`
// bytes. Those are copied once, then the pattern doubles itself, so a long
// run costs a few memcpy calls rather than one step per byte.
void copyMatch(std::uint8_t* out, std::uint32_t dist, std::uint32_t len, std::uint32_t room) {
    const std::uint8_t* from = out - dist;
    if (dist >= 16 && room - len >= 15) {
        // Fixed 16-byte pieces: each reads only bytes written before it, and
        // the last may run up to 15 bytes past the match, still inside the
        // block, where later tokens write again before anything reads.
        for (std::uint32_t i = 0; i < len; i += 16) std::memcpy(out + i, from + i, 16);
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

// The u16 LE tag word at `p`, as the bits of a 64-bit word from the top.
std::uint64_t tagWordAt(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(p[0] | static_cast<std::uint32_t>(p[1]) << 8) << 48;
}

// The four tag words at `p`, in the order their bits are read: the first
// word's bit 15 becomes bit 63.
std::uint64_t tagWordsAt(const std::uint8_t* p) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    x = (x << 32) | (x >> 32);
    return ((x & 0x0000FFFF0000FFFFull) << 16) | ((x >> 16) & 0x0000FFFF0000FFFFull);
}

// The gamma value whose code starts at bit 63 of `t`, and in `used` the bits
// of its code. A code longer than the 64 bits gives a `used` above 64 (and
// one whose end lies in bits that were shifted in must be refused by the
// caller through the same count).
[[gnu::always_inline]] inline std::uint64_t gammaAt(std::uint64_t t, std::uint32_t& used) {
    constexpr std::uint64_t kOdd = 0x5555555555555555ull;  // every second bit, from bit 0
    // A code is pairs of (digit, continuation); its last pair has continuation 0.
    const auto c = static_cast<std::uint32_t>(std::countl_zero(~t & kOdd));
    used = c + 1;
    const std::uint32_t digits = (c + 1) >> 1;  // 1 .. 32
    // Gather the digits (bits 63, 61, ...) into the low 32 bits, first at 31.
    std::uint64_t x = (t >> 1) & kOdd;
    x = (x | x >> 1) & 0x3333333333333333ull;
    x = (x | x >> 2) & 0x0F0F0F0F0F0F0F0Full;
    x = (x | x >> 4) & 0x00FF00FF00FF00FFull;
    x = (x | x >> 8) & 0x0000FFFF0000FFFFull;
    x = (x | x >> 16) & 0x00000000FFFFFFFFull;
    return (x >> (32 - digits)) | (std::uint64_t{1} << digits);
}

}  // namespace

std::int64_t pakDecompressBlock(const std::uint8_t* source, std::size_t sourceSize, std::uint8_t* destination,
                                std::uint32_t length) {
    if (length == 0) return 0;
    if (sourceSize == 0) return -1;
    destination[0] = source[0];
    if (length == 1) return 1;

    // Fast loop: while kFastInput input bytes and 16 output bytes remain,
    // reads and writes of fixed sizes need no further checks. The unread bits of the
    // current tag word sit at the top of `bits`, the bits below them 0.
    // A match's bits may run into the next tag words; during those bits no
    // data byte is read, so those words lie back to back at `ip` and are
    // peeked at once, and taken only if the match used their bits.
    // One step reads a tag word, 16 literal bytes, 8 bytes of tag words
    // peeked at and at most 4 of them taken, and an offset byte.
    constexpr std::ptrdiff_t kFastInput = 2 + 16 + 9;
    const std::uint8_t* ip = source + 1;
    const std::uint8_t* const ipEnd = source + sourceSize;
    std::uint8_t* op = destination + 1;
    std::uint8_t* const opEnd = destination + length;
    std::uint64_t bits = 0;
    std::uint32_t avail = 0;
    for (;;) {
        while (ipEnd - ip >= kFastInput && opEnd - op >= 16) {
            if (avail == 0) {
                bits = tagWordAt(ip);
                ip += 2;
                avail = 16;
            }
            // The literals whose flags come next in this tag word, all at once
            // (often none); the fixed 16-byte copy may write past them, inside
            // the block, where later tokens write again before anything reads.
            // Unless the run takes the rest of the tag word, a match follows,
            // so the two come in one step without a branch between them.
            const std::uint32_t run = std::min(static_cast<std::uint32_t>(std::countl_zero(bits)), avail);
            std::memcpy(op, ip, 16);
            ip += run;
            op += run;
            bits <<= run;
            avail -= run;
            if (avail == 0) continue;
            // A match: its flag, gamma(L − 2) and gamma((D − 1) div 256 + 2).
            const std::uint64_t buf = bits | (tagWordsAt(ip) >> avail);
            std::uint32_t lenBits, distBits;
            const std::uint64_t lenCode = gammaAt(buf << 1, lenBits);
            if (lenBits > 62) break;  // too long for the 64 bits at hand: see below
            const std::uint64_t distHigh = gammaAt(buf << (1 + lenBits), distBits);
            const std::uint32_t used = 1 + lenBits + distBits;
            if (used > 63) break;
            const std::size_t room = static_cast<std::size_t>(opEnd - op);
            const std::size_t produced = static_cast<std::size_t>(op - destination);
            if (lenCode + 2 > room) return -1;
            if (used > avail) {
                const std::uint32_t words = (used - avail + 15) >> 4;
                ip += 2 * words;
                avail += 16 * words;
            }
            avail -= used;
            bits = (buf << used) & ~(~std::uint64_t{0} >> avail);
            const std::uint64_t dist = (distHigh - 2) * 256 + *ip++ + 1;
            if (dist > produced) return -1;
            const auto len = static_cast<std::uint32_t>(lenCode + 2);
            const std::uint8_t* from = op - dist;
            if (dist >= 16 && room - len >= 15) {
                for (std::uint32_t i = 0; i < len; i += 16) std::memcpy(op + i, from + i, 16);
            } else if (dist >= 8 && room - len >= 7) {
                for (std::uint32_t i = 0; i < len; i += 8) std::memcpy(op + i, from + i, 8);
            } else if (dist == 1 && len > 64) {
                std::memset(op, op[-1], len);
            } else if (dist < 8 && room - len >= 7) {
                copyShortPeriod(op, static_cast<std::uint32_t>(dist), len);
            } else {
                copyMatch(op, static_cast<std::uint32_t>(dist), len, static_cast<std::uint32_t>(room));
            }
            op += len;
        }

        // Near the end of the stream or the block, or a code too long for
        // the fast loop: one token, each read checked.
        auto produced = static_cast<std::uint32_t>(op - destination);
        if (produced == length) break;
        TagReader in(source, sourceSize, static_cast<std::size_t>(ip - source),
                     static_cast<std::uint32_t>(bits >> 48), static_cast<int>(avail));
        const std::uint32_t run = in.literals(destination + produced, length - produced);
        if (!in.ok()) return -1;
        if (run > 0) {
            produced += run;
        } else {
            in.bit();  // the match flag
            // A match may neither run past the block's end nor reach back
            // before its first byte; the gamma limits stop both before any
            // arithmetic could wrap.
            const std::uint32_t room = length - produced;
            const std::uint64_t lenCode = in.gamma(std::uint64_t{room} + 1);
            if (lenCode == 0 || lenCode + 2 > room) return -1;
            const std::uint64_t distHigh = in.gamma(std::uint64_t{produced} / 256 + 2);
            const std::uint8_t distLow = in.byte();
            if (distHigh == 0 || !in.ok()) return -1;
            const std::uint64_t dist = (distHigh - 2) * 256 + distLow + 1;
            if (dist > produced) return -1;
            const auto len = static_cast<std::uint32_t>(lenCode + 2);
            copyMatch(destination + produced, static_cast<std::uint32_t>(dist), len, room);
            produced += len;
        }
        ip = source + in.consumed();
        op = destination + produced;
        bits = static_cast<std::uint64_t>(in.tag()) << 48;
        avail = static_cast<std::uint32_t>(in.avail());
    }
    return ip - source;
}

}  // namespace oct
