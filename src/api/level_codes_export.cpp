// octLevelCodes for Linux hosts: the record's level codes, copied out, so
// that a binding reads the levels without going through the rebuilt bitmap.
#include "oct.h"

#ifndef _WIN32

#include <cstring>

#include "api/level_codec.h"
#include "api/record.h"

using namespace oct;

extern "C" {

OCT_API int64_t octLevelCodes(OctImage* record, void* out, int64_t size) {
    if (!record) return 0;
    const bool alpha = record->header.alpha != 0;
    const std::int64_t pixels = static_cast<std::int64_t>(record->header.width) * record->header.height;
    if (pixels <= 0) return 0;
    const std::int64_t bytes = lvlCodeBytes(pixels, alpha);
    if (!out || size < bytes) return bytes;
    // A level file may store fewer bytes than its codes take; the codes it
    // leaves out decode as level 0, and so they read here: zero.
    std::int64_t stored = record->levels ? record->levelsSize : 0;
    if (stored < 0) stored = 0;
    if (stored > bytes) stored = bytes;
    auto* to = static_cast<std::uint8_t*>(out);
    if (stored > 0) std::memcpy(to, record->levels, static_cast<std::size_t>(stored));
    std::memset(to + stored, 0, static_cast<std::size_t>(bytes - stored));
    // Bits past the last code belong to no pixel: they read as 0 whatever a
    // level file holds there.
    const int used = static_cast<int>(pixels * (alpha ? 6 : 3) % 8);
    if (used) to[bytes - 1] &= static_cast<std::uint8_t>((1u << used) - 1);
    return bytes;
}

}  // extern "C"

#endif
