// Files, addressed by zero-terminated UTF-16 names (CreateFileW and its kin on
// Windows; POSIX calls on UTF-8 names on Linux), what a save finds at a name,
// and the counts of the calls made.
#pragma once

#include <cstdint>
#include <string>

namespace oct::plat {

struct File;

// Access bits.
constexpr std::uint32_t kFileRead = 1;
constexpr std::uint32_t kFileWrite = 2;
// Sharing bits (accepted and ignored on Linux, which has no share modes).
constexpr std::uint32_t kShareRead = 1;
constexpr std::uint32_t kShareWrite = 2;
constexpr std::uint32_t kShareDelete = 4;

enum class FileCreation {
    CreateAlways,      // create, or truncate an existing file
    CreateNew,         // create; fail when the file exists
    OpenExisting,      // open; fail when it does not exist
    OpenAlways,        // open, or create when it does not exist
    TruncateExisting,  // open and truncate; fail when it does not exist
};

enum class SeekFrom { Begin, Current, End };

// Opens or creates a file (CreateFileW; FILE_ATTRIBUTE_NORMAL when
// `normalAttributes`, else none). Null on failure.
File* fileOpen(const char16_t* name, std::uint32_t access, std::uint32_t share, FileCreation creation,
               bool normalAttributes = true);
// Reads up to `count` bytes: the number read (0 at the end of the file), or −1 on failure.
std::int64_t fileRead(File* file, void* destination, std::uint32_t count);
// Writes `count` bytes: the number written, or −1 on failure.
std::int64_t fileWrite(File* file, const void* source, std::uint32_t count);
// Whole transfers of any length, in pieces of at most 1 GiB, which keep every
// call inside the 32-bit counts (and a read of a regular file on Linux, which
// stops near 2 GiB). They stop at the first piece that moves fewer bytes than
// asked. The number of bytes moved; less than `count` at the end of the file
// or on failure.
std::int64_t fileReadAll(File* file, void* destination, std::int64_t count);
std::int64_t fileWriteAll(File* file, const void* source, std::int64_t count);
// Moves the file position; the new position, or −1 on failure.
std::int64_t fileSeek(File* file, std::int64_t distance, SeekFrom from);
// The file's size, or −1.
std::int64_t fileSize(File* file);
// Cuts the file (or extends it with zeros) to `size` bytes, leaving the file
// position at `size` (SetFilePointerEx + SetEndOfFile); false on failure.
bool fileSetEnd(File* file, std::int64_t size);
// Reserves disk space for the first `size` bytes of the file without
// changing its size (fallocate with KEEP_SIZE on Linux, the allocation size on
// Windows), so that writing them allocates nothing more. Only a hint: false
// when the system did not reserve, which changes nothing else.
bool fileReserve(File* file, std::int64_t size);
// Asks the system to start writing the `count` bytes at `offset`, already
// written to the file, to the disk now without waiting for them
// (sync_file_range on Linux), so that a later fileFlush has less left to wait
// for. Only a hint: nothing happens where the system has no such request
// (Windows), and no result changes.
void fileStartWriteback(File* file, std::int64_t offset, std::int64_t count);
// Makes the file's written bytes durable (fsync on Linux, FlushFileBuffers on
// Windows); false when the system reports that they may not have reached the
// disk. Devices and pipes may refuse this: call it for disk files only.
bool fileFlush(File* file);
// Gives the file the permission bits of the file `model` (Linux; a file
// replacing another keeps its mode). True when done or when there is nothing
// to give: on Windows, and when `model` does not exist.
bool fileTakeMode(File* file, const char16_t* model);
// Closes the file; false when the close reported an error (on Linux, a
// failed close may mean that written bytes did not reach the disk).
bool fileClose(File* file);
// Deletes a file by name (DeleteFileW): as on Windows, a read-only file is not deleted.
bool fileDelete(const char16_t* name);
// Clears the file's attributes to normal (SetFileAttributesW), making a read-only file deletable.
bool fileSetNormalAttributes(const char16_t* name);
// Moves `from` over `to`, replacing an existing `to` (MoveFileExW with
// MOVEFILE_REPLACE_EXISTING; rename on Linux).
bool fileReplace(const char16_t* from, const char16_t* to);
// A number that tells this process apart from others, for temporary names.
std::uint32_t processId();
// Whether a process of that number is running, so that the temporary files
// of one that was killed may be told from those of one still writing. True
// when it cannot be told: nothing of a live process is taken for a leftover.
bool processRunning(std::uint32_t id);

// What a save finds at a name.
enum class FileTarget {
    None,      // nothing that needs care: no file of that name, or one that cannot be examined
    Disk,      // a disk file that may be replaced
    ReadOnly,  // a disk file that must not be written: on Linux one without any write
               // permission bit (whoever the caller is, root included), on Windows one
               // with FILE_ATTRIBUTE_READONLY
    Folder,
    Device,    // not a disk file (device, FIFO, pipe, socket, console): written in place
    Broken,    // links that lead nowhere usable: a loop, more than kFileMaxLinks links, a
               // link name that is not valid UTF-8 (Linux), a link to nothing (Windows);
               // also a name that could not be followed for want of memory
};

// The longest chain of symbolic links followed to a save's target.
constexpr int kFileMaxLinks = 40;

// Examines `name` for a save, following symbolic links. `finalName` gets the
// name that the bytes should go to: where the chain of links ends (Linux: a
// relative link is taken relative to the folder of the link; a link to a name
// that does not exist yet gives that name and None), otherwise `name` itself.
// On Windows a name that opens a device (NUL, COM1, \\.\…) is a Device; a symbolic
// link ends at the final path of the file it leads to.
FileTarget fileExamine(const char16_t* name, std::u16string& finalName);

// The process's file reads, writes and flushes so far (calls of fileRead,
// fileWrite and fileFlush) and the byte count each read and write last asked
// for: a diagnostic that lets the buffering of streams, and the flushing of
// saves, be observed.
struct FileCallCounts {
    std::uint64_t reads;
    std::uint64_t writes;
    std::uint32_t lastReadSize;
    std::uint32_t lastWriteSize;
    std::uint64_t flushes;  // calls of fileFlush
};
FileCallCounts fileCallCounts();

}  // namespace oct::plat
