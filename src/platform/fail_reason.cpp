#include "platform/fail_reason.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace oct::plat {
namespace {

// Plain data, so that no thread pays for a constructor or a destructor and
// the first use allocates nothing a failure could need.
thread_local FailReason tReason{};

void record(FailCode code, const char* format, std::va_list args) {
    // One byte more than the record holds, so that the cut can see whether
    // the byte after it starts a character.
    char text[kFailTextSize + 1];
    const int length = format ? std::vsnprintf(text, sizeof text, format, args) : 0;
    const std::size_t kept = length > 0 ? failCutLength(text, std::strlen(text), kFailTextSize - 1) : 0;
    tReason.code = code;
    std::memcpy(tReason.text, text, kept);
    tReason.text[kept] = '\0';
}

}  // namespace

void failBegin() {
    tReason.code = FailCode::None;
    tReason.text[0] = '\0';
}

bool failSet(FailCode code, const char* format, ...) {
    if (tReason.code != FailCode::None) return false;
    std::va_list args;
    va_start(args, format);
    record(code, format, args);
    va_end(args);
    return false;
}

bool failReplace(FailCode code, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    record(code, format, args);
    va_end(args);
    return false;
}

bool failNoMemory(std::uint64_t bytes) {
    if (bytes >= (std::uint64_t{1} << 20))
        return failSet(FailCode::NoMemory, "out of memory (%llu MB asked for)",
                       static_cast<unsigned long long>((bytes + (1u << 20) - 1) >> 20));
    return failSet(FailCode::NoMemory, "out of memory");
}

void failRestore(const FailReason& reason) { tReason = reason; }

std::size_t failCutLength(const char* text, std::size_t length, std::size_t room) {
    if (length <= room) return length;
    std::size_t n = room;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    return n;
}

const FailReason& failLast() { return tReason; }

const char* failCodeText(FailCode code) {
    switch (code) {
        case FailCode::None: return "";
        case FailCode::NoSuchFile: return "no such file";
        case FailCode::NoPermission: return "permission denied";
        case FailCode::IsFolder: return "a folder, not a file";
        case FailCode::UnknownFormat: return "not a picture or level file this library knows";
        case FailCode::NoCodec: return "a picture this system has no codec for";
        case FailCode::Damaged: return "damaged";
        case FailCode::TooLarge: return "too large";
        case FailCode::NoMemory: return "out of memory";
        case FailCode::NoSpace: return "no space left on the device";
        case FailCode::WriteFailed: return "the write failed";
        case FailCode::LevelsUnfit: return "a level file cannot hold these levels";
        case FailCode::ReadFailed: return "the read failed";
        case FailCode::BadArgument: return "not something this call takes";
        case FailCode::Other: return "the call failed";
    }
    return "";
}

}  // namespace oct::plat
