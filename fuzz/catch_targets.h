// The property of the memory-reading fuzz target (octCatch: pictures through
// the image decoders, else level files), as a plain function that the
// libFuzzer entry and the seed replay test both call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "api/load_save.h"
#include "api/record.h"
#include "image/loader.h"
#include "oct.h"
#include "platform/bitmaps.h"
#include "platform/files.h"
#include "platform/handles.h"

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

// True when both records hold the same picture: size, depth, alpha flag and
// every byte of the rebuilt bitmap's rows.
inline bool samePicture(OctImage* a, OctImage* b) {
    if (octWidth(a) != octWidth(b) || octHeight(a) != octHeight(b) || octAlpha(a) != octAlpha(b)) return false;
    plat::BitmapDesc x{}, y{};
    if (!plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(a)), x) ||
        !plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(b)), y))
        return false;
    if (x.width != y.width || x.height != y.height || x.bitsPerPixel != y.bitsPerPixel ||
        x.widthBytes != y.widthBytes || !x.bits || !y.bits)
        return false;
    return std::memcmp(x.bits, y.bits, static_cast<std::size_t>(x.widthBytes) * static_cast<std::size_t>(x.height)) ==
           0;
}

}  // namespace detail

// Input: any bytes, read as octCatch reads a memory block. Reading either
// fails or gives a record whose size is positive and whose rebuilt bitmap
// exists; nothing is read outside the bytes. Inputs that state more than
// 64 K pixels are skipped: a real file may ask for 2 GiB of pixels, which is
// not worth a fuzzer's memory or time.
//
// The same bytes as a file, through octLoad (which reads plain 24-bit BMP
// files straight into their bitmap and the rest through the same decoders),
// give the same answer: both fail, or both give the same picture.
//
// A record read and saved as a level file loads again as the same picture
// with the same header. When an image decoder takes the bytes, the
// decode state states what any picture of this library has: a positive size,
// 24 or 32 bits from a source of 1 to 255 bits a pixel (48 and 64 for
// 16-bit samples), one frame without a delay.
inline bool checkCatch(const std::uint8_t* data, std::size_t size) {
    constexpr std::int64_t kMaxPixels = std::int64_t{1} << 16;
    if (detail::statedPixels(data, size) > kMaxPixels) return true;
    static const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("oct-catch-fuzz-" + std::to_string(plat::processId()) + ".bin");
    bool written;
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        written = static_cast<bool>(out);
    }
    OctImage* record = octCatchRecord(data, static_cast<std::int64_t>(size));
    OctImage* loaded = written ? octLoadRecord(file.u16string().c_str()) : nullptr;
    bool ok = !written || (record == nullptr) == (loaded == nullptr);
    if (record) ok = ok && octWidth(record) > 0 && octHeight(record) > 0 && octHandle(record) != 0;
    if (record && loaded) ok = ok && detail::samePicture(record, loaded);
    if (record && ok) {
        // A level buffer that does not pack smaller than itself (a picture
        // of a few pixels, or noise) has no level file: the save fails and
        // writes nothing.
        const std::filesystem::path saved = file.string() + ".oct";
        if (octSaveRecord(*record, saved.u16string().c_str(), false)) {
            OctImage* again = octLoadRecord(saved.u16string().c_str());
            ok = again && std::memcmp(&again->header, &record->header, sizeof record->header) == 0 &&
                 detail::samePicture(record, again);
            if (again) octFree(again);
        } else {
            ok = !std::filesystem::exists(saved);
        }
        std::filesystem::remove(saved);
    }
    if (ok && size <= INT32_MAX && imgFindDecoder(data, static_cast<std::int32_t>(size))) {
        ok = imgDecodeWidth() > 0 && imgDecodeHeight() > 0 && (imgDecodeDepth() == 24 || imgDecodeDepth() == 32) &&
             imgDecodeSourceDepth() >= 1 && imgDecodeSourceDepth() <= 255 && imgDecodeFrameCount() == 1 &&
             imgDecodeFrameDelay() == 0;
        imgEndDecode();
    }
    if (loaded) octFree(loaded);
    if (record) octFree(record);
    return ok;
}

}  // namespace oct::fuzz
