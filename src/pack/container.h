// The packed container: a 24-byte header followed by the input cut into
// fixed-size blocks, each compressed on its own with the LZ block codec
// (docs/formats/packed-container.md). This is codec 4's memory format and the
// payload of level files.
#pragma once

#include <cstdint>

namespace oct {

// Size of the container header.
inline constexpr std::int32_t kPackHeaderSize = 24;

// Called after each block while packing, with the input bytes done so far and
// the container bytes written so far (header included). Non-zero continues,
// 0 aborts the packing.
using PackProgress = int (*)(std::int64_t inputDone, std::int64_t outputSoFar);

// Uncompressed bytes per block for a compression level: 0 → 8 KiB, 1 → 32 KiB,
// 2 → 64 KiB, 3 → 96 KiB, 4 → 128 KiB, 5 → 256 KiB, 6 → 512 KiB,
// 7 → 768 KiB, anything else → 1 MiB.
[[nodiscard]] std::int32_t pakBlockSizeForLevel(std::int32_t level);

// Packs the `length` bytes at `source` into a container at `destination`,
// which has room for `capacity` bytes. Returns the container size, or 0 when
// the length is negative, a pointer is missing, the capacity cannot hold the
// header, the container would reach the capacity (it must stay strictly
// below it, except that an empty input gives the 24-byte header alone), the
// scratch memory cannot be had, or `progress` (may be null) aborts. On
// failure the destination may hold a partial container. Bytes 4..7 of the
// destination are left as they were.
[[nodiscard]] std::int32_t pakPackMemory(const void* source, std::int32_t length, void* destination,
                                         std::int32_t capacity, std::int32_t level, PackProgress progress);

// The largest container the packer makes for `unpackedSize` bytes at any
// level: the header and, over blocks of the smallest block size (8 KiB),
// each block's pakMaxPackedSize. 0 for a size below 0 or of 2^31 or more.
// A reader refuses anything longer before it allocates for it.
[[nodiscard]] std::int64_t pakMaxContainerSize(std::int64_t unpackedSize);

// Unpacks the container of `containerSize` bytes at `container` into
// `destination`, which has room for `capacity` bytes. Returns the unpacked
// size, or −1 for: a container shorter than its header, a wrong magic, a
// block size of 0 or less, an unpacked size below 0 or of 2^31 or more, a
// capacity below the unpacked size, or a block that is corrupt or runs past
// the container's end. Nothing outside either buffer is read or written; on
// failure the destination may hold part of the data.
[[nodiscard]] std::int64_t pakUnpackMemory(const void* container, std::int64_t containerSize, void* destination,
                                           std::int64_t capacity);

}  // namespace oct
