#include "file/stream.h"

#include <cstring>

#include "platform/files.h"
#include "runtime/heap.h"
#include "runtime/object_table.h"

namespace oct {
namespace {

ObjectTable* gFiles = nullptr;

static_assert(offsetof(FileStream, handle) == 0, "the handle is the table's liveness field");

FileStream* lookup(std::int64_t id) {
    return gFiles ? static_cast<FileStream*>(objGetObject(gFiles, id)) : nullptr;
}

// Writes out the bytes pending in the write state; returns false when the
// file took fewer than all of them.
bool flush(FileStream& s) {
    if (s.readState || !s.buffer) return true;
    const std::int32_t pending = s.size - s.remaining;
    s.remaining = s.size;
    return pending == 0 || plat::fileWrite(s.handle, s.buffer, static_cast<std::uint32_t>(pending)) == pending;
}

// Moves n bytes straight between the file and memory; stops at the first
// short transfer.
std::int64_t readDirect(FileStream& s, std::uint8_t* dst, std::int64_t n) {
    return plat::fileReadAll(s.handle, dst, n);
}
std::int64_t writeDirect(FileStream& s, const std::uint8_t* src, std::int64_t n) {
    return plat::fileWriteAll(s.handle, src, n);
}

std::int64_t bufferedRead(FileStream& s, std::uint8_t* dst, std::int64_t n) {
    if (!s.readState) {
        flush(s);
        s.readState = 1;
        s.remaining = 0;
    }
    if (s.remaining >= n) {
        std::memcpy(dst, s.buffer + (s.filled - s.remaining), static_cast<std::size_t>(n));
        s.remaining -= static_cast<std::int32_t>(n);
        return n;
    }
    const std::int32_t r = s.remaining;
    std::memcpy(dst, s.buffer + (s.filled - r), static_cast<std::size_t>(r));
    s.remaining = 0;
    const std::int64_t rest = n - r;
    if (rest >= s.size) return r + readDirect(s, dst + r, rest);
    const std::int64_t got = plat::fileRead(s.handle, s.buffer, static_cast<std::uint32_t>(s.size));
    const auto delivered = static_cast<std::int32_t>(got > 0 ? got : 0);
    s.filled = s.remaining = delivered;
    const std::int32_t take = static_cast<std::int32_t>(rest < delivered ? rest : delivered);
    std::memcpy(dst + r, s.buffer, static_cast<std::size_t>(take));
    s.remaining -= take;
    return r + take;
}

std::int64_t bufferedWrite(FileStream& s, const std::uint8_t* src, std::int64_t n) {
    if (s.readState) {
        // The platform position is ahead of the logical one by the unread
        // read-ahead; step back so the next byte lands where the reader stopped.
        if (s.remaining) plat::fileSeek(s.handle, -static_cast<std::int64_t>(s.remaining), plat::SeekFrom::Current);
        s.readState = 0;
        s.remaining = s.size;
    }
    if (s.remaining > n) {
        std::memcpy(s.buffer + (s.size - s.remaining), src, static_cast<std::size_t>(n));
        s.remaining -= static_cast<std::int32_t>(n);
        return n;
    }
    if (!flush(s)) return 0;
    if (n >= s.size) return writeDirect(s, src, n);
    std::memcpy(s.buffer, src, static_cast<std::size_t>(n));
    s.remaining -= static_cast<std::int32_t>(n);
    return n;
}

std::int64_t openStream(std::int64_t id, const char16_t* name, std::int32_t mode, std::uint32_t flags) {
    if (!gFiles || !name || mode < 1 || mode > 3) return 0;
    auto* s = static_cast<FileStream*>(objNewObject(gFiles, id));
    if (!s) return 0;
    const std::int64_t releaseId = id == AnyId ? reinterpret_cast<std::int64_t>(s) : id;

    const std::uint32_t access = mode == 1 ? plat::kFileRead : plat::kFileRead | plat::kFileWrite;
    const std::uint32_t share = (flags & kFileShareAll)    ? plat::kShareRead | plat::kShareWrite | plat::kShareDelete
                                : (flags & kFileShareRead) ? plat::kShareRead
                                                           : 0;
    plat::File* file = nullptr;
    if (mode == 1) {
        file = plat::fileOpen(name, access, share, plat::FileCreation::OpenExisting);
    } else if (mode == 2) {
        file = plat::fileOpen(name, access, share, plat::FileCreation::OpenAlways);
    } else {
        file = plat::fileOpen(name, access, share, plat::FileCreation::CreateAlways);
        // A file that cannot be opened for reading and writing may still be
        // truncated write-only.
        if (!file) file = plat::fileOpen(name, plat::kFileWrite, share, plat::FileCreation::TruncateExisting, false);
    }
    if (!file) {
        objReleaseObject(gFiles, releaseId);
        return 0;
    }
    s->handle = file;
    s->readState = 1;
    s->format = (flags & kFileFormatMask) ? static_cast<std::int32_t>(flags & kFileFormatMask) : 2;
    s->readOnly = mode == 1 ? 1 : 0;
    if (!(flags & kFileUnbuffered) && kFileBufferSize > 0) {
        // Without a buffer the stream still works, unbuffered.
        s->buffer = static_cast<std::uint8_t*>(memMainAlloc(kFileBufferSize, false));
        s->size = s->buffer ? kFileBufferSize : 0;
    }
    if (mode == 2 && (flags & kFileAppend)) plat::fileSeek(file, 0, plat::SeekFrom::End);
    return id == AnyId ? releaseId : static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(file));
}

void freeStream(std::int64_t id) { filClose(id); }

}  // namespace

void filStartModule() { gFiles = objCreateTable(sizeof(FileStream), 16, freeStream); }

void filStopModule() {
    if (gFiles) objFreeAll(gFiles);
}

std::int64_t filOpenRead(std::int64_t id, const char16_t* name) { return openStream(id, name, 1, 0); }
std::int64_t filCreate(std::int64_t id, const char16_t* name) { return openStream(id, name, 3, 0); }
std::int64_t filOpen(std::int64_t id, const char16_t* name) { return openStream(id, name, 2, 0); }
std::int64_t filOpenEx(std::int64_t id, const char16_t* name, std::int32_t mode, std::uint32_t flags) {
    return openStream(id, name, mode, flags);
}

std::int64_t filSize(std::int64_t id) {
    FileStream* s = lookup(id);
    if (!s) return -1;
    flush(*s);
    return plat::fileSize(s->handle);
}

std::int64_t filRead(std::int64_t id, void* destination, std::int64_t count) {
    FileStream* s = lookup(id);
    if (!s || !destination || count <= 0) return 0;
    auto* dst = static_cast<std::uint8_t*>(destination);
    return s->buffer ? bufferedRead(*s, dst, count) : readDirect(*s, dst, count);
}

std::int64_t filWrite(std::int64_t id, const void* source, std::int64_t count) {
    FileStream* s = lookup(id);
    if (!s || !source || count <= 0 || s->readOnly) return 0;
    auto* src = static_cast<const std::uint8_t*>(source);
    return s->buffer ? bufferedWrite(*s, src, count) : writeDirect(*s, src, count);
}

std::int64_t filClose(std::int64_t id) {
    if (!gFiles) return 0;
    if (id == AnyId) {
        objFreeAll(gFiles);
        return 1;
    }
    FileStream* s = lookup(id);
    if (!s) return 0;
    bool ok = true;
    if (s->buffer) {
        ok = flush(*s);
        memMainFree(s->buffer);
    }
    ok = plat::fileClose(s->handle) && ok;
    objReleaseObject(gFiles, id);
    return ok ? 1 : 0;
}

std::int64_t filDelete(const char16_t* name) { return filDeleteEx(name, 0); }

std::int64_t filDeleteEx(const char16_t* name, std::int32_t flags) {
    if (!name) return 0;
    if (flags & 2) plat::fileSetNormalAttributes(name);
    return plat::fileDelete(name) ? 1 : 0;
}

}  // namespace oct
