#include "pack/archive.h"

#include <cstdlib>
#include <cstring>

#include "pack/container.h"
#include "platform/fail_inject.h"
#include "platform/files.h"
#include "runtime/file_replace.h"
#include "runtime/heap.h"
#include "runtime/strings.h"

namespace oct {
namespace {

constexpr std::int32_t kDirectoryGrowth = 64;  // entry pointers added at a time
constexpr std::uint32_t kShareAll = plat::kShareRead | plat::kShareWrite | plat::kShareDelete;

std::int64_t readLe(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return static_cast<std::int64_t>(v);
}

void writeLe(std::uint8_t* p, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A UTF-8 copy of an entry name, freed when it goes out of scope.
// strToUtf8 answers a failed allocation with an empty string, which must not
// pass for the name: an entry would be stored under no name at all.
struct Utf8Name {
    char* text;
    std::size_t length;
    explicit Utf8Name(const char16_t* name) : text(strToUtf8(name)), length(text ? std::strlen(text) : 0) {
        if (text && length == 0 && name && name[0] != 0) {
            plat::crtFree(text);
            text = nullptr;
        }
    }
    ~Utf8Name() { plat::crtFree(text); }
    Utf8Name(const Utf8Name&) = delete;
    Utf8Name& operator=(const Utf8Name&) = delete;
};

// A main-heap block freed when it goes out of scope.
struct MainBlock {
    void* block = nullptr;
    MainBlock() = default;
    explicit MainBlock(void* b) : block(b) {}
    ~MainBlock() { memMainFree(block); }
    MainBlock(const MainBlock&) = delete;
    MainBlock& operator=(const MainBlock&) = delete;
    [[nodiscard]] std::uint8_t* bytes() const { return static_cast<std::uint8_t*>(block); }
};

// Drops the directory, and with it the listing.
void discardDirectory(PackArchive& a) {
    for (std::int32_t i = 0; i < a.count; ++i) memMainFree(a.entries[i]);
    memMainFree(a.entries);
    a.entries = nullptr;
    a.count = 0;
    a.room = 0;
    a.current = -1;
    a.currentValid = 0;
}

bool appendEntry(PackArchive& a, PackEntry* entry) {
    if (a.count == a.room) {
        if (a.room > INT32_MAX - kDirectoryGrowth) return false;
        const std::int32_t room = a.room + kDirectoryGrowth;
        void* grown = memMainRealloc(a.entries, static_cast<std::int64_t>(room) * sizeof(PackEntry*));
        if (!grown) return false;
        a.entries = static_cast<PackEntry**>(grown);
        a.room = room;
    }
    a.entries[a.count++] = entry;
    return true;
}

// Reads the entry headers from offset 4 on. Nothing in the file is trusted:
// every header must lie whole inside the file, with sizes and a name length
// of 0 or more, or the directory ends before it. An entry whose data runs
// past the end is a truncated last entry: it is listed (extracting it fails)
// and ends the directory. So each header moves strictly forward, the reading
// ends, and nothing is allocated beyond a name of at most 32 KiB at a time.
bool readDirectory(PackArchive& a) {
    if (a.entries) return true;
    a.entries = static_cast<PackEntry**>(memMainAlloc(kDirectoryGrowth * sizeof(PackEntry*)));
    if (!a.entries) return false;
    a.room = kDirectoryGrowth;
    const std::int64_t fileSize = plat::fileSize(a.handle);
    const std::int32_t headerSize = a.version == kPakArchiveMagicOld ? kPakEntryHeaderSizeOld : kPakEntryHeaderSize;
    std::int64_t offset = 4;
    while (fileSize - offset >= headerSize) {
        std::uint8_t header[kPakEntryHeaderSizeOld];
        if (plat::fileSeek(a.handle, offset, plat::SeekFrom::Begin) != offset ||
            plat::fileReadAll(a.handle, header, headerSize) != headerSize)
            break;
        const std::int64_t unpacked = readLe(header, 8);
        const std::int64_t stored = readLe(header + 8, 8);
        const auto nameLength = static_cast<std::int16_t>(readLe(header + 16, 2));
        const std::int64_t nameOffset = offset + headerSize;
        if (unpacked < 0 || stored < 0 || nameLength < 0 || fileSize - nameOffset < nameLength) break;

        auto* entry = static_cast<PackEntry*>(memMainAlloc(sizeof(PackEntry) + nameLength + 1, false));
        if (!entry) break;
        entry->unpackedSize = unpacked;
        entry->storedSize = stored;
        entry->dataOffset = nameOffset + nameLength;
        entry->nameLength = nameLength;
        entry->name()[nameLength] = '\0';
        if (plat::fileReadAll(a.handle, entry->name(), nameLength) != nameLength || !appendEntry(a, entry)) {
            memMainFree(entry);
            break;
        }
        if (stored > fileSize - entry->dataOffset) break;  // truncated: the last entry
        offset = entry->dataOffset + stored;
    }
    return true;
}

const PackEntry* currentEntry(const PackArchive* a) {
    return a && a->currentValid && a->entries && a->current >= 0 && a->current < a->count ? a->entries[a->current]
                                                                                            : nullptr;
}

// The entry an extract means: for a null or empty name the current entry of
// the listing, otherwise the first entry of that name, compared byte for byte.
const PackEntry* findEntry(PackArchive& a, const char16_t* entryName) {
    if (!entryName || !entryName[0]) return currentEntry(&a);
    if (!readDirectory(a)) return nullptr;
    const Utf8Name name(entryName);
    if (!name.text) return nullptr;
    for (std::int32_t i = 0; i < a.count; ++i) {
        const PackEntry* e = a.entries[i];
        if (static_cast<std::size_t>(e->nameLength) == name.length && std::memcmp(e->name(), name.text, name.length) == 0)
            return e;
    }
    return nullptr;
}

// Whether the entry's data lies inside the file and, for a packed entry, can
// be a container of its unpacked size: at least a header, no longer than the
// packer ever makes for that size, and an unpacked size the container format
// can hold. Checked before anything is allocated for the entry.
bool plausible(PackArchive& a, const PackEntry& e) {
    const std::int64_t fileSize = plat::fileSize(a.handle);
    if (fileSize < 0 || e.dataOffset > fileSize || e.storedSize > fileSize - e.dataOffset) return false;
    if (e.storedSize == e.unpackedSize) return true;
    const std::int64_t most = pakMaxContainerSize(e.unpackedSize);
    return e.storedSize >= kPackHeaderSize && most > 0 && e.storedSize <= most;
}

// Reads the entry's stored bytes; for a packed entry, into a scratch block
// that `scratch` takes over. The container's own unpacked size must be the
// entry's, so that no more is unpacked than the directory promised.
bool readStored(PackArchive& a, const PackEntry& e, MainBlock& scratch) {
    if (!plausible(a, e) || plat::fileSeek(a.handle, e.dataOffset, plat::SeekFrom::Begin) != e.dataOffset)
        return false;
    if (e.storedSize == e.unpackedSize) return true;
    scratch.block = memMainAlloc(e.storedSize, false);
    return scratch.block && plat::fileReadAll(a.handle, scratch.block, e.storedSize) == e.storedSize &&
           readLe(scratch.bytes() + 8, 8) == e.unpackedSize;
}

// Extracts into `destination` of `capacity` bytes after readStored.
bool extractStored(PackArchive& a, const PackEntry& e, const MainBlock& scratch, void* destination,
                   std::int64_t capacity) {
    if (!destination || capacity < e.unpackedSize) return false;
    if (e.storedSize == e.unpackedSize)
        return plat::fileReadAll(a.handle, destination, e.unpackedSize) == e.unpackedSize;
    return pakUnpackMemory(scratch.block, e.storedSize, destination, e.unpackedSize) == e.unpackedSize;
}

}  // namespace

PackArchive* pakArchiveCreate(ArchiveObject* object, const char16_t* fileName, std::int64_t, std::int32_t level) {
    if (!fileName) return nullptr;
    plat::File* file = plat::fileOpen(fileName, plat::kFileRead | plat::kFileWrite, plat::kShareRead,
                                      plat::FileCreation::CreateAlways);
    if (!file) return nullptr;
    std::uint8_t magic[4];
    writeLe(magic, kPakArchiveMagic, 4);
    auto* a = static_cast<PackArchive*>(memMainAlloc(sizeof(PackArchive)));
    if (!a || plat::fileWriteAll(file, magic, 4) != 4) {
        memMainFree(a);
        plat::fileClose(file);
        return nullptr;
    }
    a->handle = file;
    a->current = -1;
    a->level = level;
    if (object) object->archive = a;
    return a;
}

PackArchive* pakArchiveOpen(ArchiveObject* object, const char16_t* fileName) {
    if (!fileName) return nullptr;
    plat::File* file = plat::fileOpen(fileName, plat::kFileRead, kShareAll, plat::FileCreation::OpenExisting);
    if (!file) return nullptr;
    std::uint8_t magic[4];
    const bool read = plat::fileReadAll(file, magic, 4) == 4;
    const auto version = static_cast<std::uint32_t>(readLe(magic, 4));
    auto* a = read && (version == kPakArchiveMagic || version == kPakArchiveMagicOld)
                  ? static_cast<PackArchive*>(memMainAlloc(sizeof(PackArchive)))
                  : nullptr;
    if (!a) {
        plat::fileClose(file);
        return nullptr;
    }
    a->handle = file;
    a->current = -1;
    a->version = version;
    if (object) object->archive = a;
    return a;
}

void pakArchiveClose(PackArchive* archive) {
    if (!archive) return;
    discardDirectory(*archive);
    if (archive->handle) plat::fileClose(archive->handle);
    memMainFree(archive);
}

int pakArchiveAddMemory(PackArchive* archive, const void* data, std::int64_t size, const char16_t* entryName) {
    if (!archive || !archive->handle || size < 0 || (size > 0 && !data)) return 0;
    // The name is checked before anything is written: a name the 16-bit
    // length cannot hold fails here and leaves the archive as it was.
    const Utf8Name name(entryName);
    if (!name.text || name.length > static_cast<std::size_t>(kPakMaxNameBytes)) return 0;

    // Pack into room for n + 24 bytes; the entry stays packed only when that
    // is shorter than the data. The container's reserved bytes are cleared
    // so that the same entries always give the same archive bytes.
    MainBlock scratch;
    const void* stored = data;
    std::int64_t storedSize = size;
    if (size <= INT32_MAX - kPackHeaderSize) {
        scratch.block = memMainAlloc(size + kPackHeaderSize, false);
        if (!scratch.block) return 0;
        std::memset(scratch.bytes() + 4, 0, 4);
        const std::int32_t packed = pakPackMemory(data, static_cast<std::int32_t>(size), scratch.block,
                                                  static_cast<std::int32_t>(size + kPackHeaderSize), archive->level,
                                                  nullptr);
        if (packed > 0 && packed < size) {
            stored = scratch.block;
            storedSize = packed;
        }
    }

    std::uint8_t header[kPakEntryHeaderSize];
    writeLe(header, static_cast<std::uint64_t>(size), 8);
    writeLe(header + 8, static_cast<std::uint64_t>(storedSize), 8);
    writeLe(header + 16, name.length, 2);

    // Always at the end of the file, wherever an extract left the position.
    // A write that falls short cuts the file back, so the archive holds only
    // whole entries and later adds stay readable.
    discardDirectory(*archive);
    const std::int64_t end = plat::fileSeek(archive->handle, 0, plat::SeekFrom::End);
    if (end < 0) return 0;
    const auto nameLength = static_cast<std::int64_t>(name.length);
    const bool written = plat::fileWriteAll(archive->handle, header, kPakEntryHeaderSize) == kPakEntryHeaderSize &&
                         plat::fileWriteAll(archive->handle, name.text, nameLength) == nameLength &&
                         plat::fileWriteAll(archive->handle, stored, storedSize) == storedSize;
    if (!written) plat::fileSetEnd(archive->handle, end);
    return written ? 1 : 0;
}

int pakArchiveAddFile(PackArchive* archive, const char16_t* fileName, const char16_t* entryName) {
    if (!archive || !fileName) return 0;
    plat::File* file = plat::fileOpen(fileName, plat::kFileRead, kShareAll, plat::FileCreation::OpenExisting);
    if (!file) return 0;
    const std::int64_t size = plat::fileSize(file);
    MainBlock buffer(size > 0 ? memMainAlloc(size, false) : nullptr);
    const bool read = size == 0 || (buffer.block && plat::fileReadAll(file, buffer.block, size) == size);
    plat::fileClose(file);
    return read ? pakArchiveAddMemory(archive, buffer.block, size, entryName) : 0;
}

int pakArchiveList(PackArchive* archive) {
    if (!archive || !archive->handle || !readDirectory(*archive)) return 0;
    archive->current = -1;
    archive->currentValid = 0;
    return 1;
}

int pakArchiveNext(PackArchive* archive) {
    if (!archive) return 0;
    if (archive->current + 1 < archive->count) {
        ++archive->current;
        archive->currentValid = 1;
        return 1;
    }
    archive->currentValid = 0;
    return 0;
}

int pakEntryType(PackArchive* archive) { return currentEntry(archive) ? 0 : -1; }

std::int64_t pakEntrySize(PackArchive* archive, std::int32_t which) {
    const PackEntry* e = currentEntry(archive);
    if (!e) return -1;
    return which == 1 ? e->storedSize : e->unpackedSize;
}

// The name is a string result of the calling thread, so the thread gets its
// string block first: a host thread whose first call into the library is a
// listing has none yet, and its names would come back as nothing.
const char16_t* pakEntryName(PackArchive* archive, std::int64_t stringPosition) {
    const PackEntry* e = currentEntry(archive);
    return e && strThreadEnter() ? strFromUtf8(e->name(), stringPosition) : nullptr;
}

std::int64_t pakExtractMemory(PackArchive* archive, void* destination, std::int64_t capacity,
                              const char16_t* entryName) {
    if (!archive || !archive->handle) return -1;
    const PackEntry* e = findEntry(*archive, entryName);
    // A buffer too small fails before anything is read.
    if (!e || !destination || capacity < e->unpackedSize) return -1;
    MainBlock scratch;
    return readStored(*archive, *e, scratch) && extractStored(*archive, *e, scratch, destination, capacity)
               ? e->unpackedSize
               : -1;
}

std::int64_t pakExtractFile(PackArchive* archive, const char16_t* fileName, const char16_t* entryName) {
    if (!archive || !archive->handle || !fileName) return -1;
    const PackEntry* e = findEntry(*archive, entryName);
    MainBlock scratch;
    if (!e || !readStored(*archive, *e, scratch)) return -1;
    // An empty entry gives an empty file; the heap has no blocks of 0 bytes.
    MainBlock data(e->unpackedSize > 0 ? memMainAlloc(e->unpackedSize, false) : nullptr);
    if (e->unpackedSize > 0 && !extractStored(*archive, *e, scratch, data.block, e->unpackedSize)) return -1;
    // Through the safe replace: a failed write leaves no partial file and an
    // existing file as it was.
    FileReplace save;
    const bool ok = filBeginReplace(save, fileName) && filReplaceWrite(save, data.block, e->unpackedSize);
    return filFinishReplace(save, ok) ? e->unpackedSize : -1;
}

std::int64_t pakArchiveReserved() { return 0; }

}  // namespace oct
