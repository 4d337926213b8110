#include "platform/fail_reason.h"

#include <cstdarg>
#include <cstdio>

namespace oct::plat {
namespace {

// Plain data, so that no thread pays for a constructor or a destructor and
// the first use allocates nothing a failure could need.
thread_local FailReason tReason{};

void record(FailCode code, const char* format, std::va_list args) {
    tReason.code = code;
    tReason.text[0] = '\0';
    if (format && std::vsnprintf(tReason.text, sizeof tReason.text, format, args) < 0) tReason.text[0] = '\0';
    // A cut text ends on a whole UTF-8 character.
    std::size_t n = 0;
    while (n < sizeof tReason.text && tReason.text[n]) ++n;
    if (n == sizeof tReason.text - 1) {
        while (n > 0 && (static_cast<unsigned char>(tReason.text[n - 1]) & 0xC0) == 0x80) --n;
        if (n > 0 && static_cast<unsigned char>(tReason.text[n - 1]) >= 0xC0) --n;
        tReason.text[n] = '\0';
    }
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
