// Files on Linux: UTF-16 names converted to UTF-8 paths. Linux has no share
// modes, so the sharing bits are accepted and ignored; a "read-only file" is
// one without write permission, which DeleteFileW-like deletion refuses.
#include <fcntl.h>
#include <signal.h>
#if defined(__linux__)
#include <linux/magic.h>
#endif
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "platform/fail_reason.h"
#include "platform/file_calls.h"
#include "platform/fail_inject.h"
#include "platform/files.h"
#include "platform/utf8.h"

namespace oct::plat {
namespace {

// strerror_r's text: glibc's returns it, the XSI one (musl, and so the
// WebAssembly module) fills the buffer and returns 0.
[[maybe_unused]] const char* errorWords(const char* text, const char*) { return text; }
[[maybe_unused]] const char* errorWords(int rc, const char* words) { return rc == 0 ? words : nullptr; }

// The UTF-8 path of a UTF-16 name (lone surrogates become U+FFFD).
std::string pathOf(const char16_t* name) {
    const std::u16string_view text(name);
    std::string out(utf8LengthOf(text), '\0');
    utf8Encode(text, out.data());
    return out;
}

// The UTF-16 name of a path; false when the path is not valid UTF-8, so that
// no UTF-16 name leads back to it.
bool setName(std::u16string& name, const std::string& path) {
    name.assign(utf16LengthOf(path), u'\0');
    utf16Encode(path, name.data());
    return pathOf(name.c_str()) == path;
}

// The text of a symbolic link, never empty on success.
bool readLink(const std::string& path, std::string& out) {
    for (std::size_t size = 256; size <= 65536; size *= 4) {
        out.resize(size);
        const ssize_t n = ::readlink(path.c_str(), out.data(), size);
        if (n <= 0) return false;
        if (static_cast<std::size_t>(n) < size) {
            out.resize(static_cast<std::size_t>(n));
            return true;
        }
    }
    return false;
}

// A "read-only file": no write permission bit for anyone. The bits are read
// themselves rather than asked through access(2), which says yes to root.
bool noWriteBit(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

bool isReadOnly(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && noWriteBit(st.st_mode);
}

// The paths above are strings that may fail to allocate: the calls of this
// layer report that as their failure result, and no exception reaches the
// core, whose callers hold resources that an unwinding would leak.
template <class Result, class Fn>
Result unlessNoMemory(Result failure, Fn&& fn) {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return failure;
    }
}

}  // namespace

bool failSetSystem(std::uint32_t systemError, bool writing) {
    const int e = static_cast<int>(systemError);
    switch (e) {
        case ENOENT:
        case ENOTDIR: return failSet(FailCode::NoSuchFile, writing ? "no such folder" : "no such file");
        case EACCES:
        case EPERM: return failSet(FailCode::NoPermission, "permission denied");
        case EROFS: return failSet(FailCode::NoPermission, "a read-only file system");
        case EISDIR: return failSet(FailCode::IsFolder, "a folder, not a file");
        case ENOSPC:
        case EDQUOT: return failSet(FailCode::NoSpace, "no space left on the device");
        case ENOMEM: return failSet(FailCode::NoMemory, "out of memory");
        default: break;
    }
    // strerror's words for the rest, as a shell would show them.
    char words[96];
    const char* text = errorWords(::strerror_r(e, words, sizeof words), words);
    return failSet(writing ? FailCode::WriteFailed : FailCode::ReadFailed, "%s", text ? text : "an I/O error");
}

struct File {
    int fd;
};

File* fileOpen(const char16_t* name, std::uint32_t access, std::uint32_t, FileCreation creation, bool) {
    const bool writing = (access & kFileWrite) != 0;
    if (!name || !name[0] || !(access & (kFileRead | kFileWrite))) {
        failSet(FailCode::BadArgument, "no file name");
        return nullptr;
    }
    if (failThisCall(FailKind::FileOpen)) {
        failSetSystem(EIO, writing);
        return nullptr;
    }
    int flags = O_CLOEXEC;
    flags |= (access & kFileRead) && (access & kFileWrite) ? O_RDWR : (access & kFileWrite) ? O_WRONLY : O_RDONLY;
    switch (creation) {
        case FileCreation::CreateAlways: flags |= O_CREAT | O_TRUNC; break;
        case FileCreation::CreateNew: flags |= O_CREAT | O_EXCL; break;
        case FileCreation::OpenExisting: break;
        case FileCreation::OpenAlways: flags |= O_CREAT; break;
        case FileCreation::TruncateExisting: flags |= O_TRUNC; break;
    }
    // The record before the file: a file created and then given up for want
    // of memory would stay behind with nobody to delete it.
    auto* f = new (std::nothrow) File{-1};
    if (!f) {
        failSet(FailCode::NoMemory, "out of memory");
        return nullptr;
    }
    errno = ENOMEM;
    const int fd = unlessNoMemory(-1, [&] { return ::open(pathOf(name).c_str(), flags, 0666); });
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) {  // Windows does not open folders as files
        f->fd = fd;
        return f;
    }
    if (fd >= 0) {
        failSet(FailCode::IsFolder, "a folder, not a file");
        ::close(fd);
    } else {
        failSetSystem(static_cast<std::uint32_t>(errno), writing);
    }
    delete f;
    return nullptr;
}

std::int64_t fileRead(File* file, void* destination, std::uint32_t count) {
    if (!fileNoteRead(count) || !file) return -1;
    std::uint32_t done = 0;
    auto* p = static_cast<std::uint8_t*>(destination);
    while (done < count) {
        ssize_t n = ::read(file->fd, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            failSetSystem(static_cast<std::uint32_t>(errno), false);
            return done ? done : -1;
        }
        if (n == 0) break;
        done += static_cast<std::uint32_t>(n);
    }
    return done;
}

std::int64_t fileWrite(File* file, const void* source, std::uint32_t count) {
    if (!fileNoteWrite(count) || !file) return -1;
    std::uint32_t done = 0;
    auto* p = static_cast<const std::uint8_t*>(source);
    while (done < count) {
        ssize_t n = ::write(file->fd, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A write that takes nothing has found the device full.
            failSetSystem(static_cast<std::uint32_t>(n < 0 ? errno : ENOSPC), true);
            return done ? done : -1;
        }
        done += static_cast<std::uint32_t>(n);
    }
    return done;
}

std::int64_t fileSeek(File* file, std::int64_t distance, SeekFrom from) {
    if (!file) return -1;
    const int whence = from == SeekFrom::Begin ? SEEK_SET : from == SeekFrom::Current ? SEEK_CUR : SEEK_END;
    off_t pos = ::lseek(file->fd, static_cast<off_t>(distance), whence);
    return pos < 0 ? -1 : static_cast<std::int64_t>(pos);
}

std::int64_t fileSize(File* file) {
    struct stat st;
    if (!file || ::fstat(file->fd, &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool fileSetEnd(File* file, std::int64_t size) {
    if (!file || size < 0) return false;
    int rc;
    do rc = ::ftruncate(file->fd, static_cast<off_t>(size));
    while (rc != 0 && errno == EINTR);
    return rc == 0 && ::lseek(file->fd, static_cast<off_t>(size), SEEK_SET) == static_cast<off_t>(size);
}

bool fileReserve(File* file, std::int64_t size) {
    if (!file || size <= 0) return false;
    // On a file system in memory the reservation is the pages themselves,
    // cleared by it and written again by the save: twice the work, and
    // nothing for a disk to keep together. A full one fails the writes.
#if defined(__linux__)
    struct statfs fs;
    if (::fstatfs(file->fd, &fs) == 0 && (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC)) return false;
#endif
    // (The WebAssembly module's file system is all memory.)
#if defined(FALLOC_FL_KEEP_SIZE) && !defined(__EMSCRIPTEN__)
    int rc;
    do rc = ::fallocate(file->fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size));
    while (rc != 0 && errno == EINTR);
    return rc == 0;
#else
    return false;
#endif
}

void fileStartWriteback(File* file, std::int64_t offset, std::int64_t count) {
    if (!file || offset < 0 || count <= 0) return;
#if defined(SYNC_FILE_RANGE_WRITE) && !defined(__EMSCRIPTEN__)  // emscripten declares it, has none
    ::sync_file_range(file->fd, static_cast<off_t>(offset), static_cast<off_t>(count), SYNC_FILE_RANGE_WRITE);
#endif
}

bool fileFlush(File* file) {
    fileNoteFlush();
    if (!file) return false;
    int rc;
    do rc = ::fsync(file->fd);
    while (rc != 0 && errno == EINTR);
    return rc == 0 || failSetSystem(static_cast<std::uint32_t>(errno), true);
}

bool fileTakeMode(File* file, const char16_t* model) {
    if (!file || !model || !model[0]) return false;
    struct stat st;
    errno = 0;
    if (unlessNoMemory(-1, [&] { return ::stat(pathOf(model).c_str(), &st); }) != 0) return errno == ENOENT;
    // The permission bits only: set-id bits do not pass to a new file.
    return ::fchmod(file->fd, st.st_mode & 0777) == 0;
}

bool fileClose(File* file) {
    if (!file) return false;
    bool ok = ::close(file->fd) == 0;
    if (!ok) failSetSystem(static_cast<std::uint32_t>(errno), true);
    delete file;
    return ok;
}

bool fileDelete(const char16_t* name) {
    if (!name || !name[0]) return false;
    return unlessNoMemory(false, [&] {
        const std::string path = pathOf(name);
        return !isReadOnly(path) && ::unlink(path.c_str()) == 0;
    });
}

bool fileSetNormalAttributes(const char16_t* name) {
    if (!name || !name[0]) return false;
    return unlessNoMemory(false, [&] {
        const std::string path = pathOf(name);
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 && ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
    });
}

bool fileReplace(const char16_t* from, const char16_t* to) {
    if (!from || !to || !from[0] || !to[0]) return false;
    errno = ENOMEM;
    if (unlessNoMemory(false, [&] { return std::rename(pathOf(from).c_str(), pathOf(to).c_str()) == 0; })) return true;
    return failSetSystem(static_cast<std::uint32_t>(errno), true);
}

std::uint32_t processId() { return static_cast<std::uint32_t>(::getpid()); }

bool processRunning(std::uint32_t id) {
    // Signal 0 only asks: ESRCH means there is no such process; EPERM one
    // that belongs to someone else.
    if (id == 0 || id > static_cast<std::uint32_t>(INT32_MAX)) return true;
    return ::kill(static_cast<pid_t>(id), 0) == 0 || errno != ESRCH;
}

namespace {

FileTarget examine(const char16_t* name, std::u16string& finalName) {
    std::string path = pathOf(name);
    for (int links = 0;; ++links) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) {
            if (!setName(finalName, path)) return FileTarget::Broken;
            return FileTarget::None;
        }
        if (!S_ISLNK(st.st_mode)) {
            if (!setName(finalName, path)) return FileTarget::Broken;
            if (S_ISDIR(st.st_mode)) return FileTarget::Folder;
            if (!S_ISREG(st.st_mode)) return FileTarget::Device;
            return noWriteBit(st.st_mode) ? FileTarget::ReadOnly : FileTarget::Disk;
        }
        if (links == kFileMaxLinks) return FileTarget::Broken;
        std::string link;
        if (!readLink(path, link)) return FileTarget::Broken;
        if (link[0] != '/') {
            const std::size_t slash = path.rfind('/');
            if (slash != std::string::npos) link.insert(0, path, 0, slash + 1);
        }
        path = std::move(link);
    }
}

}  // namespace

// Without the memory to follow the name, nothing may be written there.
FileTarget fileExamine(const char16_t* name, std::u16string& finalName) {
    finalName.clear();
    if (!name || !name[0]) return FileTarget::None;
    const FileTarget target = unlessNoMemory(FileTarget::Broken, [&] { return examine(name, finalName); });
    if (target == FileTarget::Broken) finalName.clear();
    return target;
}

}  // namespace oct::plat
