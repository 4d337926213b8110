// The property of the memory-reading fuzz target (octCatch: pictures through
// the image decoders, else level files), as a plain function that the
// libFuzzer entry and the seed replay test both call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "api/load_save.h"
#include "api/record.h"
#include "oct.h"

namespace oct::fuzz {

namespace detail {

inline std::int64_t i32At(const std::uint8_t* p) {
    std::int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The number of pixels the input's header asks for, as a level file or a
// BMP file would state it; 0 when it states none.
inline std::int64_t statedPixels(const std::uint8_t* data, std::size_t size) {
    if (size >= 26 && data[0] == 'B' && data[1] == 'M') {
        if (i32At(data + 14) == 12) return std::int64_t{data[18] | data[19] << 8} * (data[20] | data[21] << 8);
        return std::llabs(i32At(data + 18) * i32At(data + 22));
    }
    if (size >= 12) return std::llabs(i32At(data + 4) * i32At(data + 8));
    return 0;
}

}  // namespace detail

// Input: any bytes, read as octCatch reads a memory block. Reading either
// fails or gives a record whose size is positive and whose rebuilt bitmap
// exists; nothing is read outside the bytes. Inputs that state more than
// 64 K pixels are skipped: a real file may ask for 2 GiB of pixels, which is
// not worth a fuzzer's memory or time.
inline bool checkCatch(const std::uint8_t* data, std::size_t size) {
    constexpr std::int64_t kMaxPixels = std::int64_t{1} << 16;
    if (detail::statedPixels(data, size) > kMaxPixels) return true;
    OctImage* record = octCatchRecord(data, static_cast<std::int64_t>(size));
    if (!record) return true;
    const bool ok = octWidth(record) > 0 && octHeight(record) > 0 && octHandle(record) != 0;
    octFree(record);
    return ok;
}

}  // namespace oct::fuzz
