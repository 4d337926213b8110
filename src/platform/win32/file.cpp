// Files on Windows: kernel file handles by UTF-16 name.
#include <windows.h>

#include <cstdio>
#include <new>
#include <string>
#include <string_view>

#include "platform/fail_reason.h"
#include "platform/file_calls.h"
#include "platform/fail_inject.h"
#include "platform/files.h"
#include "platform/utf8.h"

namespace oct::plat {
namespace {
const wchar_t* wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

// The system's own words for an error, in UTF-8, without the full stop and
// line end that FormatMessageW puts after them.
bool systemWords(DWORD error, char* out, std::size_t size) {
    wchar_t text[128];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             sizeof text / sizeof text[0], nullptr);
    while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L'.' || text[n - 1] == L' ')) --n;
    if (n == 0) return false;
    const std::u16string_view view(reinterpret_cast<const char16_t*>(text), n);
    const std::size_t length = utf8LengthOf(view);
    if (length >= size) return false;
    utf8Encode(view, out);
    out[length] = '\0';
    return true;
}

}  // namespace

bool failSetSystem(std::uint32_t systemError, bool writing) {
    switch (systemError) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH: return failSet(FailCode::NoSuchFile, writing ? "no such folder" : "no such file");
        case ERROR_ACCESS_DENIED: return failSet(FailCode::NoPermission, "permission denied");
        case ERROR_WRITE_PROTECT: return failSet(FailCode::NoPermission, "a read-only file system");
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return failSet(FailCode::NoPermission, "in use by another program");
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return failSet(FailCode::NoSpace, "no space left on the device");
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return failSet(FailCode::NoMemory, "out of memory");
        default: break;
    }
    char words[128];
    if (!systemWords(systemError, words, sizeof words)) std::snprintf(words, sizeof words, "system error %lu", static_cast<unsigned long>(systemError));
    return failSet(writing ? FailCode::WriteFailed : FailCode::ReadFailed, "%s", words);
}

struct File {
    HANDLE handle;
};

File* fileOpen(const char16_t* name, std::uint32_t access, std::uint32_t share, FileCreation creation,
               bool normalAttributes) {
    const bool writing = (access & kFileWrite) != 0;
    if (!name || !name[0]) {
        failSet(FailCode::BadArgument, "no file name");
        return nullptr;
    }
    if (failThisCall(FailKind::FileOpen)) {
        failSetSystem(ERROR_GEN_FAILURE, writing);
        return nullptr;
    }
    DWORD desired = ((access & kFileRead) ? GENERIC_READ : 0) | ((access & kFileWrite) ? GENERIC_WRITE : 0);
    DWORD shareMode = ((share & kShareRead) ? FILE_SHARE_READ : 0) | ((share & kShareWrite) ? FILE_SHARE_WRITE : 0) |
                      ((share & kShareDelete) ? FILE_SHARE_DELETE : 0);
    DWORD disposition = CREATE_ALWAYS;
    switch (creation) {
        case FileCreation::CreateAlways: disposition = CREATE_ALWAYS; break;
        case FileCreation::CreateNew: disposition = CREATE_NEW; break;
        case FileCreation::OpenExisting: disposition = OPEN_EXISTING; break;
        case FileCreation::OpenAlways: disposition = OPEN_ALWAYS; break;
        case FileCreation::TruncateExisting: disposition = TRUNCATE_EXISTING; break;
    }
    // The record before the file: a file created and then given up for want
    // of memory would stay behind with nobody to delete it.
    auto* f = new (std::nothrow) File{nullptr};
    if (!f) {
        failSet(FailCode::NoMemory, "out of memory");
        return nullptr;
    }
    HANDLE h = CreateFileW(wide(name), desired, shareMode, nullptr, disposition,
                           normalAttributes ? FILE_ATTRIBUTE_NORMAL : 0, nullptr);
    // A handle of 0 counts as a failure as well as the invalid-handle value.
    if (h == INVALID_HANDLE_VALUE || h == nullptr) {
        const DWORD error = GetLastError();
        // Opening a folder as a file is refused as access denied; say what it is.
        const DWORD attributes = GetFileAttributesW(wide(name));
        if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY))
            failSet(FailCode::IsFolder, "a folder, not a file");
        else
            failSetSystem(error, writing);
        delete f;
        return nullptr;
    }
    f->handle = h;
    return f;
}

std::int64_t fileRead(File* file, void* destination, std::uint32_t count) {
    DWORD got = 0;
    if (!fileNoteRead(count) || !file) return -1;
    if (!ReadFile(file->handle, destination, count, &got, nullptr)) return failSetSystem(GetLastError(), false), -1;
    return got;
}

std::int64_t fileWrite(File* file, const void* source, std::uint32_t count) {
    if (!fileNoteWrite(count)) return -1;
    DWORD put = 0;
    if (!file) return -1;
    if (!WriteFile(file->handle, source, count, &put, nullptr)) return failSetSystem(GetLastError(), true), -1;
    return put;
}

std::int64_t fileSeek(File* file, std::int64_t distance, SeekFrom from) {
    if (!file) return -1;
    LONG high = static_cast<LONG>(distance >> 32);
    const DWORD method = from == SeekFrom::Begin ? FILE_BEGIN : from == SeekFrom::Current ? FILE_CURRENT : FILE_END;
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(file->handle, static_cast<LONG>(distance & 0xFFFFFFFF), &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
    return (static_cast<std::int64_t>(high) << 32) | low;
}

std::int64_t fileSize(File* file) {
    if (!file) return -1;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(file->handle, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
    return (static_cast<std::int64_t>(high) << 32) | low;
}

bool fileSetEnd(File* file, std::int64_t size) {
    if (!file || size < 0) return false;
    LARGE_INTEGER position;
    position.QuadPart = size;
    return SetFilePointerEx(file->handle, position, nullptr, FILE_BEGIN) && SetEndOfFile(file->handle);
}

bool fileReserve(File* file, std::int64_t size) {
    if (!file || size <= 0) return false;
    FILE_ALLOCATION_INFO info{};
    info.AllocationSize.QuadPart = size;
    return SetFileInformationByHandle(file->handle, FileAllocationInfo, &info, sizeof info) != 0;
}

// Windows has no request to start writing a range early; FlushFileBuffers
// writes everything when the save ends.
void fileStartWriteback(File*, std::int64_t, std::int64_t) {}

bool fileFlush(File* file) {
    fileNoteFlush();
    return file && (FlushFileBuffers(file->handle) != 0 || failSetSystem(GetLastError(), true));
}

bool fileTakeMode(File* file, const char16_t*) { return file != nullptr; }

bool fileClose(File* file) {
    if (!file) return false;
    bool ok = CloseHandle(file->handle) != 0;
    delete file;
    return ok;
}

bool fileDelete(const char16_t* name) { return name && name[0] && DeleteFileW(wide(name)) != 0; }

bool fileSetNormalAttributes(const char16_t* name) {
    return name && name[0] && SetFileAttributesW(wide(name), FILE_ATTRIBUTE_NORMAL) != 0;
}

bool fileReplace(const char16_t* from, const char16_t* to) {
    if (!from || !to) return false;
    return MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING) != 0 || failSetSystem(GetLastError(), true);
}

std::uint32_t processId() { return GetCurrentProcessId(); }

bool processRunning(std::uint32_t id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    // No such process, or one that has ended and is gone; a process this one
    // may not look at is taken as running.
    if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const bool ended = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
    CloseHandle(process);
    return !ended;
}

namespace {

FileTarget examine(const char16_t* name, std::u16string& finalName) {
    finalName = name;
    // The device namespace (\\.\NUL, \\.\COM1, \\.\pipe\…) is never a disk file;
    // opening a pipe there just to look would take one of its instances.
    const std::u16string_view text(name);
    if (text.size() >= 4 && (text[0] == u'\\' || text[0] == u'/') && (text[1] == u'\\' || text[1] == u'/') &&
        text[2] == u'.' && (text[3] == u'\\' || text[3] == u'/'))
        return FileTarget::Device;

    const DWORD own = GetFileAttributesW(wide(name));
    const bool link = own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT);
    // Opened only to be looked at, following links: no access asked, all sharing
    // allowed; backup semantics let a folder open too.
    HANDLE h = CreateFileW(wide(name), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return link ? FileTarget::Broken : FileTarget::None;

    FileTarget kind = FileTarget::Disk;
    BY_HANDLE_FILE_INFORMATION info;
    // Reserved names such as NUL or COM1, in any folder, open devices.
    if (GetFileType(h) != FILE_TYPE_DISK)
        kind = FileTarget::Device;
    else if (GetFileInformationByHandle(h, &info)) {
        if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            kind = FileTarget::Folder;
        else if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            kind = FileTarget::ReadOnly;
    }
    if (link && kind != FileTarget::Device) {
        // The final path names the file at the end of every link, relative or not.
        DWORD need = GetFinalPathNameByHandleW(h, nullptr, 0, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        try {
            std::u16string path(need, u'\0');
            const DWORD got = need ? GetFinalPathNameByHandleW(h, reinterpret_cast<wchar_t*>(path.data()), need,
                                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)
                                   : 0;
            if (got == 0 || got >= need) {
                kind = FileTarget::Broken;
            } else {
                path.resize(got);
                finalName = std::move(path);
            }
        } catch (const std::bad_alloc&) {
            kind = FileTarget::Broken;
        }
    }
    CloseHandle(h);
    return kind;
}

}  // namespace

// Without the memory to hold the name, nothing may be written there; no
// exception leaves this layer.
FileTarget fileExamine(const char16_t* name, std::u16string& finalName) {
    finalName.clear();
    if (!name || !name[0]) return FileTarget::None;
    FileTarget target;
    try {
        target = examine(name, finalName);
    } catch (const std::bad_alloc&) {
        target = FileTarget::Broken;
    }
    if (target == FileTarget::Broken) finalName.clear();
    return target;
}

}  // namespace oct::plat
