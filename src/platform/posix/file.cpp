// Files on Linux: UTF-16 names converted to UTF-8 paths. Linux has no share
// modes, so the sharing bits are accepted and ignored; a "read-only file" is
// one without write permission, which DeleteFileW-like deletion refuses.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "platform/file_calls.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace oct::plat {
namespace {

// The UTF-8 path of a UTF-16 name (lone surrogates become U+FFFD).
std::string pathOf(const char16_t* name) {
    const std::u16string_view text(name);
    std::string out(utf8LengthOf(text), '\0');
    utf8Encode(text, out.data());
    return out;
}

bool isReadOnly(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

struct File {
    int fd;
};

File* fileOpen(const char16_t* name, std::uint32_t access, std::uint32_t, FileCreation creation, bool) {
    if (!name || !name[0] || !(access & (kFileRead | kFileWrite))) return nullptr;
    int flags = O_CLOEXEC;
    flags |= (access & kFileRead) && (access & kFileWrite) ? O_RDWR : (access & kFileWrite) ? O_WRONLY : O_RDONLY;
    switch (creation) {
        case FileCreation::CreateAlways: flags |= O_CREAT | O_TRUNC; break;
        case FileCreation::CreateNew: flags |= O_CREAT | O_EXCL; break;
        case FileCreation::OpenExisting: break;
        case FileCreation::OpenAlways: flags |= O_CREAT; break;
        case FileCreation::TruncateExisting: flags |= O_TRUNC; break;
    }
    const std::string path = pathOf(name);
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {  // Windows does not open folders as files
        ::close(fd);
        return nullptr;
    }
    auto* f = new (std::nothrow) File{fd};
    if (!f) ::close(fd);
    return f;
}

std::int64_t fileRead(File* file, void* destination, std::uint32_t count) {
    fileNoteRead(count);
    if (!file) return -1;
    std::uint32_t done = 0;
    auto* p = static_cast<std::uint8_t*>(destination);
    while (done < count) {
        ssize_t n = ::read(file->fd, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done ? done : -1;
        if (n == 0) break;
        done += static_cast<std::uint32_t>(n);
    }
    return done;
}

std::int64_t fileWrite(File* file, const void* source, std::uint32_t count) {
    fileNoteWrite(count);
    if (!file) return -1;
    std::uint32_t done = 0;
    auto* p = static_cast<const std::uint8_t*>(source);
    while (done < count) {
        ssize_t n = ::write(file->fd, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return done ? done : -1;
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

bool fileClose(File* file) {
    if (!file) return false;
    bool ok = ::close(file->fd) == 0;
    delete file;
    return ok;
}

bool fileDelete(const char16_t* name) {
    if (!name || !name[0]) return false;
    const std::string path = pathOf(name);
    if (isReadOnly(path)) return false;
    return ::unlink(path.c_str()) == 0;
}

bool fileSetNormalAttributes(const char16_t* name) {
    if (!name || !name[0]) return false;
    const std::string path = pathOf(name);
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool fileReplace(const char16_t* from, const char16_t* to) {
    if (!from || !to || !from[0] || !to[0]) return false;
    return std::rename(pathOf(from).c_str(), pathOf(to).c_str()) == 0;
}

std::uint32_t processId() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace oct::plat
