// The property of the level-file fuzz target, as a plain function that the
// libFuzzer entry and the seed replay test both call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "api/load_save.h"
#include "api/record.h"
#include "oct.h"

namespace oct::fuzz {

// Input: any bytes, read as a level file in memory. Reading either fails or
// gives a record whose size is the header's; nothing is read outside the
// bytes. Headers asking for more than 64 K pixels are skipped: a real level
// file may unpack to 2 GiB, which is not worth a fuzzer's memory.
inline bool checkLevelFile(const std::uint8_t* data, std::size_t size) {
    constexpr std::int64_t kMaxPixels = std::int64_t{1} << 16;
    if (size >= 12) {
        std::int32_t w, h;
        std::memcpy(&w, data + 4, 4);
        std::memcpy(&h, data + 8, 4);
        if (static_cast<std::int64_t>(w) * h > kMaxPixels) return true;
    }
    OctImage* record = octCatchRecord(data, static_cast<std::int64_t>(size));
    if (!record) return true;
    std::int32_t w, h;
    std::memcpy(&w, data + 4, 4);
    std::memcpy(&h, data + 8, 4);
    const bool ok = octWidth(record) == w && octHeight(record) == h && octHandle(record) != 0;
    octFree(record);
    return ok;
}

}  // namespace oct::fuzz
