// The registry of memory-compression codecs.
//
// A codec registers once, at module start, under a numeric id with a
// PackPlugin: its entry points for archive files and for memory compression.
// The compress and uncompress calls below find the codec by id and call its
// memory entry points. The library registers one codec, id 4, whose memory
// format is the packed container (container.h).
//
// The registry is written only during module start, on one thread; afterwards
// it is read without locks, so the calls below may run on any thread at once.
#pragma once

#include <cstdint>

namespace oct {

struct PackArchive;  // a codec's record of an open archive
struct PackPlugin;

// An archive object: what the packer's object table holds for an archive.
struct ArchiveObject {
    const PackPlugin* plugin;  // the codec that opened or created it
    PackArchive* archive;      // that codec's record, null until opened
};

// The entry points of one codec, in slot order. Failures: null, 0 or −1 as
// listed.
struct PackPlugin {
    // 0: closes the archive's file and frees its record.
    void (*closeArchive)(PackArchive* archive);
    // 1: opens an archive file for reading; its record, or null.
    PackArchive* (*openArchive)(ArchiveObject* object, const char16_t* fileName);
    // 2: adds a file as an entry; non-zero for success.
    int (*addFile)(PackArchive* archive, const char16_t* fileName, const char16_t* entryName);
    // 3: adds a memory block as an entry; non-zero for success.
    int (*addMemory)(PackArchive* archive, const void* data, std::int64_t size, const char16_t* entryName);
    // 4: creates an archive file; `unused` is ignored. Its record, or null.
    PackArchive* (*createArchive)(ArchiveObject* object, const char16_t* fileName, std::int64_t unused,
                                  std::int32_t level);
    // 5: starts listing the entries; 1, or 0 when the archive has no file.
    int (*listEntries)(PackArchive* archive);
    // 6: size of the current entry (which = 1: stored, else unpacked); −1 without one.
    std::int64_t (*entrySize)(PackArchive* archive, std::int32_t which);
    // 7: type of the current entry: 0, or −1 without one.
    int (*entryType)(PackArchive* archive);
    // 8: moves to the next entry; 1 if there is one, else 0.
    int (*nextEntry)(PackArchive* archive);
    // 9: the current entry's name as the thread's string result; null without one.
    const char16_t* (*entryName)(PackArchive* archive, std::int64_t stringPosition);
    // 10: extracts an entry (empty name: the current one) to a file; unpacked size or −1.
    std::int64_t (*extractFile)(PackArchive* archive, const char16_t* fileName, const char16_t* entryName);
    // 11: extracts an entry into memory; unpacked size or −1.
    std::int64_t (*extractMemory)(PackArchive* archive, void* destination, std::int64_t capacity,
                                  const char16_t* entryName);
    // 12: reserved; returns 0.
    std::int64_t (*reserved)();
    // 13: compresses memory at level 0..9; the compressed size, or 0.
    std::int64_t (*compressMemory)(const void* source, std::int64_t sourceSize, void* destination,
                                   std::int64_t capacity, std::int32_t level);
    // 14: uncompresses memory; the unpacked size, or −1.
    std::int64_t (*uncompressMemory)(const void* source, std::int64_t sourceSize, void* destination,
                                     std::int64_t capacity);
};
static_assert(sizeof(PackPlugin) == 15 * sizeof(void*), "a plugin is a table of 15 entry points");

// One registered codec.
struct PackCodec {
    std::uint32_t id;          // lookups compare only its low 16 bits
    const PackPlugin* plugin;  // owned by the codec's module, never freed
};

// Codec ids.
inline constexpr std::int32_t kPakAnyCodec = -1;  // the first registered codec
inline constexpr std::int32_t kPakCodecLz = 4;    // the packed container

// A table of codecs in registration order, never shrunk.
class PackRegistry {
public:
    static constexpr std::int32_t kCapacity = 64;

    // Appends (id, plugin) unless a codec with the same low 16 bits of its id
    // is there already, which then stays as it is. False when the id is new
    // but the table is full (nothing changes) or the plugin is null.
    bool add(std::uint32_t id, const PackPlugin* plugin);

    // kPakAnyCodec: the first entry. Otherwise the entry whose id has the same
    // low 16 bits as `id`. Null when there is none.
    [[nodiscard]] const PackCodec* find(std::int32_t id) const;

    [[nodiscard]] std::int32_t count() const { return count_; }

private:
    PackCodec codecs_[kCapacity] = {};
    std::int32_t count_ = 0;
};

// The library's registry. Registration happens only during module start.
bool pakRegisterCodec(std::uint32_t id, const PackPlugin* plugin);
[[nodiscard]] const PackCodec* pakFindCodec(std::int32_t id);

// Compresses through codec `codecId` with `level` limited to 0..9 (below 0
// counts as 0, above 9 as 9). Returns the compressed size, or 0 when no codec
// has the id or the codec fails. For codec 4: the packed container, which must
// come out strictly smaller than `capacity`; sources of 2^31 bytes or more are
// refused.
[[nodiscard]] std::int64_t pakCompress(const void* source, std::int64_t sourceSize, void* destination,
                                       std::int64_t capacity, std::int32_t codecId, std::int32_t level);
// pakCompress with the first registered codec and level 6.
[[nodiscard]] std::int64_t pakCompressDefault(const void* source, std::int64_t sourceSize, void* destination,
                                              std::int64_t capacity);
// pakCompress with level 6.
[[nodiscard]] std::int64_t pakCompressWith(const void* source, std::int64_t sourceSize, void* destination,
                                           std::int64_t capacity, std::int32_t codecId);

// Uncompresses the `sourceSize` bytes at `source` through codec `codecId`.
// Returns the unpacked size, or −1 when no codec has the id or the codec
// fails (for codec 4: see pakUnpackMemory).
[[nodiscard]] std::int64_t pakUncompress(const void* source, std::int64_t sourceSize, void* destination,
                                         std::int64_t capacity, std::int32_t codecId);
// pakUncompress with the first registered codec.
[[nodiscard]] std::int64_t pakUncompressDefault(const void* source, std::int64_t sourceSize, void* destination,
                                                std::int64_t capacity);

// Last start step ("packer codecs"): registers codec 4, then fills its entry
// points. Running it again changes nothing.
void pakStartCodecs();

}  // namespace oct
