#include "pack/registry.h"

#include <algorithm>

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

// Archive entry points, until the archive module provides them: each reports
// failure as its slot does.
void archiveCloseMissing(PackArchive*) {}
PackArchive* archiveOpenMissing(ArchiveObject*, const char16_t*) { return nullptr; }
int archiveAddFileMissing(PackArchive*, const char16_t*, const char16_t*) { return 0; }
int archiveAddMemoryMissing(PackArchive*, const void*, std::int64_t, const char16_t*) { return 0; }
PackArchive* archiveCreateMissing(ArchiveObject*, const char16_t*, std::int64_t, std::int32_t) { return nullptr; }
int archiveListMissing(PackArchive*) { return 0; }
std::int64_t entrySizeMissing(PackArchive*, std::int32_t) { return -1; }
int entryTypeMissing(PackArchive*) { return -1; }
int entryNextMissing(PackArchive*) { return 0; }
const char16_t* entryNameMissing(PackArchive*, std::int64_t) { return nullptr; }
std::int64_t extractFileMissing(PackArchive*, const char16_t*, const char16_t*) { return -1; }
std::int64_t extractMemoryMissing(PackArchive*, void*, std::int64_t, const char16_t*) { return -1; }
std::int64_t reservedSlot() { return 0; }

constexpr PackPlugin kLzSlots{
    .closeArchive = archiveCloseMissing,
    .openArchive = archiveOpenMissing,
    .addFile = archiveAddFileMissing,
    .addMemory = archiveAddMemoryMissing,
    .createArchive = archiveCreateMissing,
    .listEntries = archiveListMissing,
    .entrySize = entrySizeMissing,
    .entryType = entryTypeMissing,
    .nextEntry = entryNextMissing,
    .entryName = entryNameMissing,
    .extractFile = extractFileMissing,
    .extractMemory = extractMemoryMissing,
    .reserved = reservedSlot,
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
