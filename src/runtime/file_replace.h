// Saving without destroying, one writer for every save of the library.
//
// A save to a disk file writes a temporary file beside it and moves that over
// the file only once every byte is written and has reached the disk, so a
// failed save leaves an existing file as it was and no temporary file behind.
// What decides the route is the file the name leads to:
//   - a symbolic link is followed, through chains of links, to the file at its
//     end; that file is replaced and the links stay as they were;
//   - a device, FIFO or pipe is written in place: it has no old bytes to keep,
//     and a plain file put in its stead would break whoever relies on it;
//   - a read-only file, a folder and links that lead nowhere are refused,
//     before anything is created.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace oct {

// One save from filBeginReplace to filFinishReplace. Destroying it unfinished
// discards the save as filFinishReplace(save, false) does.
struct FileReplace {
    plat::File* file = nullptr;  // where the bytes go; non-null while the save is open
    std::u16string target;       // the file that receives them: the name, or where its links end
    std::u16string temp;         // the temporary file beside target; empty when writing in place
    bool failed = false;         // a write fell short: the save can only be discarded
    std::int64_t written = 0;    // bytes written so far

    FileReplace() = default;
    FileReplace(const FileReplace&) = delete;
    FileReplace& operator=(const FileReplace&) = delete;
    ~FileReplace();
};

// A name in the target's folder that no other save of this process or of a
// concurrent process picks: the target's name followed by ".~" and a number.
std::u16string filTempName(const char16_t* target);

// Whether `name` is such a temporary name of `target` (both file names
// without their folder): TARGET.~PID-N. Its process number goes to `process`.
bool filIsTempNameOf(std::u16string_view name, std::u16string_view target, std::uint32_t& process);

// Opens a save of `name`. A temporary name that is taken already (a file
// left by a save that was killed) is passed over for the next. False, with
// nothing created, for a null or empty name, a read-only file, a folder,
// links that lead nowhere usable, or when the temporary file (or the device)
// cannot be opened.
[[nodiscard]] bool filBeginReplace(FileReplace& save, const char16_t* name);

// Tells a save to a temporary file that about `bytes` bytes will follow, so
// that the file system can reserve them at once; a hint that changes no
// result (nothing happens for a target written in place).
void filReplaceReserve(FileReplace& save, std::int64_t bytes);

// Writes all `count` bytes. False, and the save turns failed for good, when
// the platform takes fewer or the save is not open. A temporary file gets
// large writes in pieces, each sent on to the disk while the next is copied,
// so that the flush at the end waits for little more than the last piece.
[[nodiscard]] bool filReplaceWrite(FileReplace& save, const void* bytes, std::int64_t count);

// Ends the save. With `ok` and no failed write: makes a temporary file's bytes
// durable, closes it and moves it over the target; a target written in place
// is closed. Otherwise closes and deletes the temporary file, leaving the
// target untouched. True when the target now holds the new bytes; false also
// for a save that is not open (begin failed, or finished already).
bool filFinishReplace(FileReplace& save, bool ok);

}  // namespace oct
