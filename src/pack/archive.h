// Pack archive files: codec 4's archive entry points (slots 0–12 of its
// PackPlugin).
//
// An archive file is a 4-byte magic followed by entries back to back, with no
// count, directory or trailer (docs/formats/pack-archive.md). Each entry is a
// header (unpacked size, stored size, name length), the UTF-8 name, and the
// data: the bytes themselves when the two sizes are equal, otherwise a packed
// container (container.h). An archive is either being written (created; each
// add appends an entry at the end) or being read (opened; the directory is
// read on the first listing or lookup).
//
// One archive record is used by one thread at a time.
#pragma once

#include <cstdint>

#include "pack/registry.h"
#include "platform/files.h"

namespace oct {

// Magics, as little-endian u32: the first four bytes of the file.
inline constexpr std::uint32_t kPakArchiveMagic = 0x706C7A32;     // "2zlp": written, 18-byte entry headers
inline constexpr std::uint32_t kPakArchiveMagicOld = 0x706C7A31;  // "1zlp": read, 24-byte entry headers

inline constexpr std::int32_t kPakEntryHeaderSize = 18;
inline constexpr std::int32_t kPakEntryHeaderSizeOld = 24;
// The name length is a signed 16-bit field.
inline constexpr std::int32_t kPakMaxNameBytes = 32767;

// One directory entry (main heap), followed in the same block by the name in
// UTF-8 and a terminating zero.
struct PackEntry {
    std::int64_t unpackedSize;
    std::int64_t storedSize;
    std::int64_t dataOffset;  // of the data in the file
    std::int32_t nameLength;  // bytes, without the zero

    [[nodiscard]] const char* name() const { return reinterpret_cast<const char*>(this + 1); }
    [[nodiscard]] char* name() { return reinterpret_cast<char*>(this + 1); }
};

// The in-memory record of an open archive (main heap, zero-filled).
struct PackArchive {
    plat::File* handle;
    PackEntry** entries;        // the directory, read on demand; null when not read
    std::int32_t currentValid;  // 1 while the listing stands on an entry
    std::int32_t count;         // entries in the directory
    std::int32_t current;       // index of the current entry in the listing; −1 before the first
    std::uint32_t version;      // the magic read when opening; 0 for an archive being written
    std::int32_t level;         // compression level of added entries
    std::int32_t room;          // entry pointers allocated for the directory
};

// The entry points, named by slot.
void pakArchiveClose(PackArchive* archive);                                                  // 0
PackArchive* pakArchiveOpen(ArchiveObject* object, const char16_t* fileName);                // 1
int pakArchiveAddFile(PackArchive* archive, const char16_t* fileName, const char16_t* entryName);  // 2
int pakArchiveAddMemory(PackArchive* archive, const void* data, std::int64_t size,
                        const char16_t* entryName);                                          // 3
PackArchive* pakArchiveCreate(ArchiveObject* object, const char16_t* fileName, std::int64_t unused,
                              std::int32_t level);                                           // 4
int pakArchiveList(PackArchive* archive);                                                    // 5
std::int64_t pakEntrySize(PackArchive* archive, std::int32_t which);                         // 6
int pakEntryType(PackArchive* archive);                                                      // 7
int pakArchiveNext(PackArchive* archive);                                                    // 8
const char16_t* pakEntryName(PackArchive* archive, std::int64_t stringPosition);             // 9
std::int64_t pakExtractFile(PackArchive* archive, const char16_t* fileName, const char16_t* entryName);  // 10
std::int64_t pakExtractMemory(PackArchive* archive, void* destination, std::int64_t capacity,
                              const char16_t* entryName);                                    // 11
std::int64_t pakArchiveReserved();                                                           // 12

}  // namespace oct
