// The reason of the calling thread's last failure: a small code and a short
// text saying what is known (never the file's name: that stays the caller's).
//
// The exports answer a failure with 0, as they always have; beside that, the
// code that finds the cause records it here, lowest layer first. An operation
// (an export, a command of the tool) starts with failBegin; from then on the
// first reason recorded stands, so the file layer's "no such file" or a
// codec's own words are not overwritten by the general words of a layer
// above that sees only a null result. A layer that knows better (the loader,
// which tries a picture and then a level file) says so with failReplace.
//
// The record is a fixed block in thread-local storage: recording a reason
// allocates nothing and cannot fail, so a failure is never lost for want of
// memory to describe it. Plain code with no system calls; it sits with the
// platform layer so that the backends and codecs, the lowest layer, record
// their causes themselves.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oct::plat {

// The causes. The numbers are what octLastError returns (oct.h, OCT_E…): keep them.
enum class FailCode : std::int32_t {
    None = 0,
    NoSuchFile = 1,      // the file, or the folder to write into, does not exist
    NoPermission = 2,    // the system refuses access
    IsFolder = 3,        // a folder where a file belongs
    UnknownFormat = 4,   // not a picture or a level file this library knows
    NoCodec = 5,         // a known format that this system has no codec for
    Damaged = 6,         // a known format whose bytes are corrupt or cut short
    TooLarge = 7,        // sides, bytes or frames beyond the library's limits
    NoMemory = 8,        // an allocation failed
    NoSpace = 9,         // no space left on the device
    WriteFailed = 10,    // a write that the system refused for another reason
    LevelsUnfit = 11,    // levels a level file cannot hold (too few pixels, or they do not compress)
    ReadFailed = 12,     // a read that the system refused (an I/O error)
    BadArgument = 13,    // a call with what it cannot take: a null name, a handle that is no image
    Other = 14,          // a failure whose cause no layer could name
};

// Room for a reason's text, terminator included; longer texts are cut.
constexpr std::size_t kFailTextSize = 192;

struct FailReason {
    FailCode code;
    char text[kFailTextSize];  // UTF-8, zero-terminated; empty with FailCode::None
};

// Starts an operation: forgets the last reason.
void failBegin();

// Records a reason (printf-style text) unless one has been recorded since
// failBegin. Returns false, so that a failing path can end with
// `return failSet(...);`.
bool failSet(FailCode code, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Records a reason over whatever was recorded before. Returns false.
bool failReplace(FailCode code, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Records NoMemory for an allocation of `bytes` that failed. Returns false.
bool failNoMemory(std::uint64_t bytes);

// Puts back a reason taken earlier with failLast, for a path that tried
// something, failed, and went on another way: the trial's reason is not the
// operation's.
void failRestore(const FailReason& reason);

// The calling thread's last reason; code None when nothing failed since
// failBegin.
const FailReason& failLast();

// How many bytes of `text` (`length` of them) to keep within `room`: all,
// or the most that end on a whole UTF-8 character.
std::size_t failCutLength(const char* text, std::size_t length, std::size_t room);

// The text that a code stands for where nothing more is known ("no such
// file"); "" for None.
const char* failCodeText(FailCode code);

// Records the cause the system gave for a failed call: its error number
// (errno on Linux, GetLastError on Windows) mapped to a code, with the
// system's own words. `writing` says whether the call wrote, so that an error
// the system does not name becomes WriteFailed rather than ReadFailed.
// Implemented by each backend (file.cpp). Returns false.
bool failSetSystem(std::uint32_t systemError, bool writing);

}  // namespace oct::plat
