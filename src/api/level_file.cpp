#include "api/level_file.h"

#include <cstdint>
#include <cstring>

#include "pack/container.h"
#include "pack/registry.h"
#include "runtime/heap.h"

namespace oct {

void lvlFillHeader(OctHeader& header, std::int32_t width, std::int32_t height, int alpha, std::int64_t levelsSize) {
    std::memcpy(header.magic, "OCTL", 4);
    header.width = width;
    header.height = height;
    header.alpha = alpha ? 1 : 0;
    header.rawSize = levelsSize;
}

bool lvlCheckHeader(const OctHeader& header) {
    std::uint32_t magic;
    std::memcpy(&magic, header.magic, 4);
    return magic == kLevelMagic && header.width >= 1 && header.height >= 1 && header.rawSize >= 1;
}

bool lvlCheckSizes(const OctHeader& header) {
    const std::int64_t pixels = static_cast<std::int64_t>(header.width) * header.height;
    return pixels <= INT32_MAX && header.rawSize <= pixels;
}

bool lvlCheckPayloadSize(const OctHeader& header, std::int64_t payloadSize) {
    return payloadSize <= pakMaxContainerSize(header.rawSize);
}

namespace {
constexpr std::int32_t kLevelCodec = 4;
constexpr std::int32_t kLevelPackLevel = 9;
constexpr std::int64_t kContainerHeader = 24;
}  // namespace

bool lvlPack(const std::uint8_t* levels, std::int64_t size, std::uint8_t*& payload, std::int64_t& payloadSize) {
    // The container's 24-byte header alone would not fit a smaller capacity.
    if (!levels || size < kContainerHeader) return false;
    auto* out = static_cast<std::uint8_t*>(memAlloc(size));
    if (!out) return false;
    // The capacity is the buffer's own size: a payload must shrink. The
    // buffer is zero-filled, so the container's reserved bytes are 0.
    const std::int64_t packed = pakCompress(levels, size, out, size, kLevelCodec, kLevelPackLevel);
    if (packed <= 0) {
        memFree(out);
        return false;
    }
    payload = out;
    payloadSize = packed;
    return true;
}

bool lvlUnpack(const std::uint8_t* payload, std::int64_t payloadSize, std::int64_t rawSize, std::uint8_t*& levels) {
    auto* out = static_cast<std::uint8_t*>(memAlloc(rawSize));
    if (!out) return false;
    if (pakUncompress(payload, payloadSize, out, rawSize, kLevelCodec) == -1) {
        memFree(out);
        return false;
    }
    levels = out;
    return true;
}

}  // namespace oct
