// Buffered file streams: numbered or dynamic file objects over platform file
// handles, each with one buffer that serves both reading ahead and collecting
// writes. The buffer never becomes exactly full: a write that would fill it
// to the last byte first flushes what is there, and blocks of the buffer's
// size or more bypass it.
#pragma once

#include <cstdint>

#include "platform/files.h"

namespace oct {

// The file table's record.
struct FileStream {
    plat::File* handle;     // non-zero exactly while the stream is open
    std::uint8_t* buffer;   // main heap; null for an unbuffered stream
    std::int32_t size;      // buffer capacity
    std::int32_t remaining; // read state: buffered bytes not yet handed out; write state: free bytes
    std::int32_t filled;    // read state: bytes the last refill delivered
    std::int32_t readState; // 1: read-ahead (or nothing) buffered; 0: written bytes pending
    std::int32_t format;    // text format code: low 5 bits of the open flags, 2 when they are 0
    std::int32_t readOnly;  // 1 for streams opened for reading, which refuse writes
};

// The runtime-wide stream buffer size.
constexpr std::int32_t kFileBufferSize = 4096;

// Flags of filOpenEx.
constexpr std::uint32_t kFileFormatMask = 0x1F;
constexpr std::uint32_t kFileShareRead = 0x20000;
constexpr std::uint32_t kFileShareAll = 0x40000;   // reading, writing and deleting; wins over kFileShareRead
constexpr std::uint32_t kFileUnbuffered = 0x80000;
constexpr std::uint32_t kFileAppend = 0x100000;    // mode 2 only: start at the end of the file

// Module start: the file table (16 slots). Stop: closes every stream, flushing pending writes.
void filStartModule();
void filStopModule();

// Openers. Each returns, for AnyId, the stream's address (its id from then
// on); for a number, a non-zero handle value; 0 on failure (slot released).
std::int64_t filOpenRead(std::int64_t id, const char16_t* name);  // reading; existing file
std::int64_t filCreate(std::int64_t id, const char16_t* name);    // read/write; created or truncated
std::int64_t filOpen(std::int64_t id, const char16_t* name);      // read/write; opened or created
// mode 1: read an existing file; 2: read/write, open or create; 3: read/write, create or truncate.
std::int64_t filOpenEx(std::int64_t id, const char16_t* name, std::int32_t mode, std::uint32_t flags);

// The file's size including pending writes, or −1 for an id that names no open stream.
std::int64_t filSize(std::int64_t id);
// Bytes delivered (short at the end of the file); 0 for an id that names no open stream.
std::int64_t filRead(std::int64_t id, void* destination, std::int64_t count);
// Bytes accepted; 0 for no source, no count, a read-only stream or an id that names no open stream.
std::int64_t filWrite(std::int64_t id, const void* source, std::int64_t count);
// Writes out pending bytes, frees the buffer, closes the handle and releases
// the id; AnyId closes every stream. 1 when everything reached the file, else 0.
std::int64_t filClose(std::int64_t id);
// Deletes a file by name: non-zero for success, 0 for a null name or failure.
std::int64_t filDelete(const char16_t* name);
// As filDelete; with flag 2 a read-only file's attributes are cleared first.
std::int64_t filDeleteEx(const char16_t* name, std::int32_t flags);

}  // namespace oct
