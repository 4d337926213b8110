#include "pack/container.h"

#include <algorithm>
#include <cstring>

#include "pack/lz_block.h"
#include "runtime/heap.h"

namespace oct {

// Packed container, little-endian (docs/formats/packed-container.md#header)
//  off size
//   0   4   magic           u32 0x626C7A31: the bytes 31 7A 6C 62
//   4   4   reserved        not written by the packer, never read
//   8   8   unpacked size   i64; the packer's input length, 0 .. 2^31 − 1
//  16   8   block size      i64; uncompressed bytes per block, from the level
//  24   ..  blocks          back to back, no lengths or separators: block i holds
//                           bytes i·block size .. min((i+1)·block size, unpacked
//                           size); a block's end is found only by decoding it
constexpr std::uint32_t kPackMagic = 0x626C7A31;
constexpr std::size_t kMagicOffset = 0;
constexpr std::size_t kUnpackedSizeOffset = 8;
constexpr std::size_t kBlockSizeOffset = 16;
static_assert(kPackHeaderSize == 24);

namespace {

// Block size of levels 0..7; every other level gets kLargestBlock.
constexpr std::int32_t kLevelBlockSize[] = {0x2000, 0x8000, 0x10000, 0x18000, 0x20000, 0x40000, 0x80000, 0xC0000};
constexpr std::int32_t kLargestBlock = 0x100000;

void putU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void putI64(std::uint8_t* p, std::int64_t v) {
    const auto u = static_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

std::uint32_t getU32(const std::uint8_t* p) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

std::int64_t getI64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return static_cast<std::int64_t>(v);
}

// Main-heap scratch memory that goes back to the heap on every path.
struct MainBlock {
    void* p;
    explicit MainBlock(std::int64_t size, bool zero) : p(memMainAlloc(size, zero)) {}
    ~MainBlock() { memMainFree(p); }
    MainBlock(const MainBlock&) = delete;
    MainBlock& operator=(const MainBlock&) = delete;
};

}  // namespace

std::int32_t pakBlockSizeForLevel(std::int32_t level) {
    return level >= 0 && level < 8 ? kLevelBlockSize[level] : kLargestBlock;
}

std::int64_t pakMaxContainerSize(std::int64_t unpackedSize) {
    if (unpackedSize < 0 || unpackedSize > INT32_MAX) return 0;
    const std::int64_t smallest = kLevelBlockSize[0];
    const std::int64_t full = unpackedSize / smallest, rest = unpackedSize % smallest;
    std::int64_t size = kPackHeaderSize + full * pakMaxPackedSize(static_cast<std::uint32_t>(smallest));
    if (rest) size += pakMaxPackedSize(static_cast<std::uint32_t>(rest));
    return size;
}

std::int32_t pakPackMemory(const void* source, std::int32_t length, void* destination, std::int32_t capacity,
                           std::int32_t level, PackProgress progress) {
    if (length < 0 || !destination || (length > 0 && !source)) return 0;
    if (capacity < kPackHeaderSize) return 0;
    const std::int32_t blockSize = pakBlockSizeForLevel(level);

    // One block's output at a time, checked against the capacity before it
    // is copied, so the destination is never written past its capacity.
    const std::int32_t largestChunk = std::min(length, blockSize);
    MainBlock scratch(pakMaxPackedSize(static_cast<std::uint32_t>(largestChunk)), false);
    if (!scratch.p) return 0;
    // The table is kept across the blocks (see detail::compressBlockFrom), so
    // a long input clears it once; a short one clears only the entries that
    // its blocks will read.
    const bool sparse = static_cast<std::uint32_t>(length) < detail::kSparseClearLimit;
    MainBlock work(detail::kTableBytes, !sparse);
    if (!work.p) return 0;

    auto* out = static_cast<std::uint8_t*>(destination);
    putU32(out + kMagicOffset, kPackMagic);
    putI64(out + kUnpackedSizeOffset, length);
    putI64(out + kBlockSizeOffset, blockSize);

    const auto* in = static_cast<const std::uint8_t*>(source);
    auto* block = static_cast<std::uint8_t*>(scratch.p);
    auto* table = static_cast<std::uint32_t*>(work.p);
    std::int64_t total = kPackHeaderSize;
    std::int32_t done = 0;
    while (done < length) {
        const std::int32_t chunk = std::min(length - done, blockSize);
        if (sparse) detail::clearEntriesFor(in + done, static_cast<std::uint32_t>(chunk), table);
        const std::uint32_t packed = detail::compressBlockFrom(in + done, block, static_cast<std::uint32_t>(chunk),
                                                               table, static_cast<std::uint32_t>(done));
        if (packed == 0) return 0;
        total += packed;
        if (total >= capacity) return 0;
        std::memcpy(out + total - packed, block, packed);
        done += chunk;
        if (progress && progress(done, total) == 0) return 0;
    }
    return static_cast<std::int32_t>(total);
}

std::int64_t pakUnpackMemory(const void* container, std::int64_t containerSize, void* destination,
                             std::int64_t capacity) {
    if (!container || containerSize < kPackHeaderSize) return -1;
    const auto* in = static_cast<const std::uint8_t*>(container);
    if (getU32(in + kMagicOffset) != kPackMagic) return -1;
    const std::int64_t unpacked = getI64(in + kUnpackedSizeOffset);
    const std::int64_t blockSize = getI64(in + kBlockSizeOffset);
    // The packer's lengths are 32-bit signed: anything else is not a container
    // it made, and refusing it keeps every count below in range.
    if (unpacked < 0 || unpacked > INT32_MAX || blockSize <= 0) return -1;
    if (capacity < unpacked || (unpacked > 0 && !destination)) return -1;

    auto* out = static_cast<std::uint8_t*>(destination);
    const auto size = static_cast<std::uint64_t>(containerSize);
    std::uint64_t pos = kPackHeaderSize;
    std::int64_t done = 0;
    while (done < unpacked) {
        const auto chunk = static_cast<std::uint32_t>(std::min(unpacked - done, blockSize));
        const std::int64_t used = pakDecompressBlock(in + pos, static_cast<std::size_t>(size - pos), out + done, chunk);
        if (used < 0) return -1;
        pos += static_cast<std::uint64_t>(used);
        done += chunk;
    }
    return unpacked;
}

}  // namespace oct
