// The LZ block codec: one block of bytes compressed on its own with a greedy
// single-candidate LZ77 coder whose flags and numbers are bits in 16-bit tag
// words interleaved with the literal bytes (docs/formats/packed-container.md#block-stream).
//
// The output is a pure function of the input bytes: the same block always
// gives the same bytes. The decoder checks every read and write against the
// sizes it is given, so it may be handed hostile input.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oct {

// Entries of the compressor's hash table: the hash of 4 bytes is taken modulo
// this number.
inline constexpr std::uint32_t kPakHashEntries = 131072;

// Bytes of the work table that pakCompressBlock needs, whatever the block size.
[[nodiscard]] constexpr std::uint32_t pakWorkMemSize() { return 1048576; }

// The most bytes that pakCompressBlock writes for a block of `n` bytes:
// n + n div 8 + 64, in unsigned 32-bit arithmetic (so it wraps for n close to
// 2^32; blocks are never that large).
[[nodiscard]] constexpr std::uint32_t pakMaxPackedSize(std::uint32_t n) { return n + n / 8 + 64; }

// Hash of the 4 bytes at `p` (all four must be readable):
// (b0·317³ + b1·317² + b2·317 + b3) mod 131072.
[[nodiscard]] inline std::uint32_t pakHash4(const std::uint8_t* p) {
    // 317³ ≡ 4517 and 317² ≡ −30583 (mod 131072); the wrap-around of 32-bit
    // arithmetic keeps the low 17 bits exact.
    return (4517u * p[0] - 30583u * p[1] + 317u * p[2] + p[3]) & (kPakHashEntries - 1);
}

// Compresses `length` bytes of `source` into `destination` as one block and
// returns the number of bytes written; 0 only for a length of 0.
// `destination` must hold pakMaxPackedSize(length) bytes; the few bytes after
// the returned size may be changed too (the coder stores tag words ahead of
// need), never beyond that size. `work` is the
// caller's table of pakWorkMemSize() bytes, suitably aligned for 32-bit
// values; its contents on entry do not matter (it is cleared here).
std::uint32_t pakCompressBlock(const std::uint8_t* source, std::uint8_t* destination, std::uint32_t length,
                               void* work);

// Decodes one block of `length` uncompressed bytes from the `sourceSize`
// bytes at `source` into `destination`, which must hold `length` bytes.
// Returns the number of source bytes the block used (tag words included): 0
// for a length of 0, 1 for a length of 1. Returns −1, having read nothing
// beyond `sourceSize` bytes and written nothing beyond `length` bytes, when
// the stream ends early, a match reaches back before the block's first byte,
// or a match runs past the block's end. The destination then holds a partial
// block.
[[nodiscard]] std::int64_t pakDecompressBlock(const std::uint8_t* source, std::size_t sourceSize,
                                              std::uint8_t* destination, std::uint32_t length);

namespace detail {

// Compresses one block as pakCompressBlock does, but with a table that the
// caller keeps across the blocks of one input: entries hold a position in
// that input plus 1, and the block starts at position `base`. Entries of
// `base` or below belong to earlier blocks (or were never set) and count as
// empty, so the table needs clearing only once per input, not per block.
// Requires base + length < 2^32.
std::uint32_t compressBlockFrom(const std::uint8_t* block, std::uint8_t* destination, std::uint32_t length,
                                std::uint32_t* table, std::uint32_t base);

// Bytes of the table that compressBlockFrom uses: one 32-bit entry per hash,
// and a spare one after them that takes stores meant for no position.
inline constexpr std::size_t kTableBytes = (kPakHashEntries + 1) * sizeof(std::uint32_t);

// Inputs shorter than this clear only the table entries they will use.
inline constexpr std::uint32_t kSparseClearLimit = 32768;

// Empties exactly the entries that compressing `block` can read: the hashes of
// its positions that have 4 more bytes after them. Far cheaper than clearing
// the whole table when the block is short.
void clearEntriesFor(const std::uint8_t* block, std::uint32_t length, std::uint32_t* table);

// The decoders for the kinds of processor, for tests that compare them:
// pakDecompressBlock picks the fastest that runs here. kShuffle needs SSSE3
// and LZCNT, kPext those and BMI1 and BMI2; decoderRuns says whether this
// processor has what one needs.
enum class LzDecoder { kPortable, kShuffle, kPext };
bool decoderRuns(LzDecoder which);
std::int64_t decompressBlockWith(LzDecoder which, const std::uint8_t* source, std::size_t sourceSize,
                                 std::uint8_t* destination, std::uint32_t length);
}  // namespace detail
}  // namespace oct
