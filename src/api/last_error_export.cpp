// octLastError for Linux hosts. oct.dll's exports stay the ten they have
// always been; on Windows the tool reads the same record through
// platform/fail_reason.h.
#include "oct.h"

#ifndef _WIN32

#include <cstring>

#include "platform/fail_reason.h"

using oct::plat::FailCode;
static_assert(OCT_ENOFILE == static_cast<int>(FailCode::NoSuchFile) && OCT_EPERM == static_cast<int>(FailCode::NoPermission) &&
              OCT_EFOLDER == static_cast<int>(FailCode::IsFolder) && OCT_EUNKNOWN == static_cast<int>(FailCode::UnknownFormat) &&
              OCT_ENOCODEC == static_cast<int>(FailCode::NoCodec) && OCT_EDAMAGED == static_cast<int>(FailCode::Damaged) &&
              OCT_ETOOLARGE == static_cast<int>(FailCode::TooLarge) && OCT_ENOMEM == static_cast<int>(FailCode::NoMemory) &&
              OCT_ENOSPACE == static_cast<int>(FailCode::NoSpace) && OCT_EWRITE == static_cast<int>(FailCode::WriteFailed) &&
              OCT_ELEVELS == static_cast<int>(FailCode::LevelsUnfit) && OCT_EREAD == static_cast<int>(FailCode::ReadFailed) &&
              OCT_EARGUMENT == static_cast<int>(FailCode::BadArgument) && OCT_EOTHER == static_cast<int>(FailCode::Other));

extern "C" {

OCT_API int64_t octLastError(char* text, int64_t size) {
    const oct::plat::FailReason& reason = oct::plat::failLast();
    if (text && size > 0) {
        const std::uint64_t room = static_cast<std::uint64_t>(size - 1);
        const std::size_t length = std::strlen(reason.text);
        const std::size_t n = oct::plat::failCutLength(reason.text, length, room < length ? room : length);
        std::memcpy(text, reason.text, n);
        text[n] = '\0';
    }
    return static_cast<int64_t>(reason.code);
}

}  // extern "C"

#endif
