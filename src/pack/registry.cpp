#include "pack/registry.h"

#include <algorithm>

#include "pack/archive.h"
#include "pack/container.h"

namespace oct {

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------

namespace {

constexpr std::uint32_t kIdMask = 0xFFFF;  // ids are in effect 16-bit

constexpr std::int32_t kMinLevel = 0;
constexpr std::int32_t kMaxLevel = 9;
constexpr std::int32_t kDefaultLevel = 6;

PackRegistry gRegistry;

}  // namespace

bool PackRegistry::add(std::uint32_t id, const PackPlugin* plugin) {
    if (!plugin) return false;
    if (find(static_cast<std::int32_t>(id & kIdMask))) return true;
    // The table has a fixed size; a codec past it is refused rather than
    // written beyond the end.
    if (count_ >= kCapacity) return false;
    codecs_[count_++] = {id, plugin};
    return true;
}

const PackCodec* PackRegistry::find(std::int32_t id) const {
    if (id == kPakAnyCodec) return count_ > 0 ? &codecs_[0] : nullptr;
    const std::uint32_t wanted = static_cast<std::uint32_t>(id) & kIdMask;
    for (std::int32_t i = 0; i < count_; ++i)
        if ((codecs_[i].id & kIdMask) == wanted) return &codecs_[i];
    return nullptr;
}

bool pakRegisterCodec(std::uint32_t id, const PackPlugin* plugin) { return gRegistry.add(id, plugin); }

const PackCodec* pakFindCodec(std::int32_t id) { return gRegistry.find(id); }

std::int64_t pakCompress(const void* source, std::int64_t sourceSize, void* destination, std::int64_t capacity,
                         std::int32_t codecId, std::int32_t level) {
    const PackCodec* codec = pakFindCodec(codecId);
    if (!codec || !codec->plugin->compressMemory) return 0;
    return codec->plugin->compressMemory(source, sourceSize, destination, capacity,
                                         std::clamp(level, kMinLevel, kMaxLevel));
}

std::int64_t pakCompressDefault(const void* source, std::int64_t sourceSize, void* destination,
                                std::int64_t capacity) {
    return pakCompress(source, sourceSize, destination, capacity, kPakAnyCodec, kDefaultLevel);
}

std::int64_t pakCompressWith(const void* source, std::int64_t sourceSize, void* destination, std::int64_t capacity,
                             std::int32_t codecId) {
    return pakCompress(source, sourceSize, destination, capacity, codecId, kDefaultLevel);
}

std::int64_t pakUncompress(const void* source, std::int64_t sourceSize, void* destination, std::int64_t capacity,
                           std::int32_t codecId) {
    const PackCodec* codec = pakFindCodec(codecId);
    if (!codec || !codec->plugin->uncompressMemory) return -1;
    return codec->plugin->uncompressMemory(source, sourceSize, destination, capacity);
}

std::int64_t pakUncompressDefault(const void* source, std::int64_t sourceSize, void* destination,
                                  std::int64_t capacity) {
    return pakUncompress(source, sourceSize, destination, capacity, kPakAnyCodec);
}

// ---------------------------------------------------------------------------
// Codec 4: the packed container
// ---------------------------------------------------------------------------

namespace {

// The container functions count in 32 bits. A source that does not fit is
// refused instead of being cut to its low 32 bits; a capacity beyond the
// 32-bit range only means "room enough", so it counts as the largest one.
std::int64_t lzCompressMemory(const void* source, std::int64_t sourceSize, void* destination, std::int64_t capacity,
                              std::int32_t level) {
    if (sourceSize < 0 || sourceSize > INT32_MAX || capacity < 0) return 0;
    const auto room = static_cast<std::int32_t>(std::min<std::int64_t>(capacity, INT32_MAX));
    return pakPackMemory(source, static_cast<std::int32_t>(sourceSize), destination, room, level, nullptr);
}

std::int64_t lzUncompressMemory(const void* source, std::int64_t sourceSize, void* destination,
                                std::int64_t capacity) {
    return pakUnpackMemory(source, sourceSize, destination, capacity);
}

constexpr PackPlugin kLzSlots{
    .closeArchive = pakArchiveClose,
    .openArchive = pakArchiveOpen,
    .addFile = pakArchiveAddFile,
    .addMemory = pakArchiveAddMemory,
    .createArchive = pakArchiveCreate,
    .listEntries = pakArchiveList,
    .entrySize = pakEntrySize,
    .entryType = pakEntryType,
    .nextEntry = pakArchiveNext,
    .entryName = pakEntryName,
    .extractFile = pakExtractFile,
    .extractMemory = pakExtractMemory,
    .reserved = pakArchiveReserved,
    .compressMemory = lzCompressMemory,
    .uncompressMemory = lzUncompressMemory,
};

// Registered first, filled after: the registry holds its address from the
// start, and the slots are written before anything can call them.
PackPlugin gLzPlugin{};

}  // namespace

void pakStartCodecs() {
    pakRegisterCodec(kPakCodecLz, &gLzPlugin);
    gLzPlugin = kLzSlots;
}

}  // namespace oct
