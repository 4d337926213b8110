// The level file: a 22-byte header followed by the level buffer packed with
// codec 4 (docs/formats/level-file.md).
#pragma once

#include <cstdint>

namespace oct {

// Level-file header, 22 bytes, little-endian, no gaps (docs/formats/level-file.md#header)
//  off size
//   0   4   magic     "OCTL"
//   4   4   width     signed, ≥ 1
//   8   4   height    signed, ≥ 1
//  12   1   alpha     0: a gray code per pixel; anything else: gray and alpha codes
//  13   1   reserved  written 0 by a new conversion; kept as read
//  14   8   rawSize   level buffer bytes (width × height), signed
struct [[gnu::packed]] OctHeader {
    std::uint8_t magic[4];
    std::int32_t width;
    std::int32_t height;
    std::uint8_t alpha;
    std::uint8_t reserved;
    std::int64_t rawSize;
};
static_assert(sizeof(OctHeader) == 22);

constexpr std::uint32_t kLevelMagic = 0x4C54434F;  // "OCTL" read as a little-endian 32-bit value

// Fills a header for a level buffer made by lvlQuantize. The reserved byte is not touched.
void lvlFillHeader(OctHeader& header, std::int32_t width, std::int32_t height, int alpha, std::int64_t levelsSize);

// The header tests of every read: magic, width and height ≥ 1, rawSize ≥ 1.
[[nodiscard]] bool lvlCheckHeader(const OctHeader& header);

// The size tests that come before anything large is allocated for a read:
// the level buffer of width × height bytes must fit the codec's 32-bit sizes,
// and rawSize may not exceed it (the library writes exactly width × height).
[[nodiscard]] bool lvlCheckSizes(const OctHeader& header);

// The payload test that comes before the payload is allocated: no more
// bytes than the largest packed container of rawSize bytes, so a huge file
// behind a small header is refused without being read.
[[nodiscard]] bool lvlCheckPayloadSize(const OctHeader& header, std::int64_t payloadSize);

// The smallest level file or block that is read at all: more than the header.
constexpr std::int64_t kLevelHeaderSize = sizeof(OctHeader);

// The largest level buffer that never packs smaller than itself: the
// container's 24-byte header and its shortest block leave nothing to gain,
// so pictures of this many pixels or fewer make no level file.
constexpr std::int64_t kMaxUnpackableLevels = 28;

// Packs a level buffer with codec 4 at level 9 into a new memAlloc payload
// that must come out strictly smaller than the buffer. False (nothing
// allocated) for a buffer of fewer than 24 bytes or one that does not shrink.
[[nodiscard]] bool lvlPack(const std::uint8_t* levels, std::int64_t size, std::uint8_t*& payload,
                           std::int64_t& payloadSize);

// Restores a level buffer of rawSize bytes (memAlloc) from a payload; bytes
// the payload does not fill stay zero. False, nothing allocated, for a
// corrupt payload or one that unpacks to more than rawSize.
[[nodiscard]] bool lvlUnpack(const std::uint8_t* payload, std::int64_t payloadSize, std::int64_t rawSize,
                             std::uint8_t*& levels);

}  // namespace oct
