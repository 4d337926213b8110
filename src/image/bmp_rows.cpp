#include "image/bmp_rows.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "image/bmp_reader.h"
#include "image/byte_reader.h"
#include "image/image.h"
#include "image/limits.h"
#include "platform/bitmaps.h"

namespace oct {
namespace {

// What decides whether the rows are taken (docs/formats/bmp.md#stored-rows),
// little-endian; imgBmpDescribe reads the fields:
//  off size
//   0   2   "BM"
//   6   4   reserved words     not needed to find the rows, and some writers keep their own data there
//  10   4   offset of the first stored row
//  14   4   information header size: 40 or more
//  18   4   width
//  22   4   height             negative for top-down rows
//  28   2   bits per pixel     24 or 32
//  30   4   compression        0 BI_RGB, or 3 BI_BITFIELDS on 32 bits with the usual masks
//  54  12   red, green, blue masks (inside headers from 52 bytes, else right after the 40-byte one)
constexpr std::size_t kReservedOffset = 6;
constexpr std::size_t kReservedSize = 4;
constexpr std::size_t kFieldsEnd = 34;      // every field up to and including the compression
constexpr std::size_t kDescribedSize = 66;  // every byte the description reads: through the masks
constexpr std::uint32_t kMinHeaderSize = 40;
constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kBitfields = 3;
constexpr std::uint32_t kUsualMasks[3] = {0xFF0000, 0x00FF00, 0x0000FF};

bool refuse(StoredBmp& out, StoredBmpRefusal why) {
    out.refusal = why;
    out.rows = {};
    return false;
}

// Whether the pixels are plain blue, green, red (and a fourth byte). A
// description without bit fields on a 32-bit BI_BITFIELDS file is one whose
// size was refused before the masks were read; the size refuses it below.
bool plainLayout(const BmpDescription& d) {
    if (d.compression == kRgb) return true;
    if (d.bitCount != 32 || d.compression != kBitfields) return false;
    if (!d.bitFields) return true;
    return d.masksInData && d.redMask == kUsualMasks[0] && d.greenMask == kUsualMasks[1] &&
           d.blueMask == kUsualMasks[2];
}

}  // namespace

bool imgFindStoredBmpRows(std::span<const std::uint8_t> file, StoredBmp& out) {
    out = StoredBmp{};
    // The decoder refuses nonzero reserved words; rows are found without
    // them, so the headers are described from a copy with those cleared.
    std::uint8_t headers[kDescribedSize] = {};
    const std::size_t described = std::min(file.size(), kDescribedSize);
    std::copy_n(file.begin(), described, headers);
    if (described >= kReservedOffset + kReservedSize) std::fill_n(headers + kReservedOffset, kReservedSize, 0);
    BmpDescription d;
    if (!imgBmpDescribe({headers, described}, d) || described < kFieldsEnd || d.headerSize < kMinHeaderSize)
        return refuse(out, StoredBmpRefusal::kNotBmp);

    out.bitsPerPixel = d.bitCount;
    if (d.bitCount != 24 && d.bitCount != 32) return refuse(out, StoredBmpRefusal::kBitCount);
    if (!plainLayout(d)) return refuse(out, StoredBmpRefusal::kLayout);
    if (d.width <= 0 || d.height == 0 || d.height == INT32_MIN) return refuse(out, StoredBmpRefusal::kNoPixels);

    out.width = d.width;
    out.topDown = d.height < 0;
    out.height = out.topDown ? -d.height : d.height;
    out.rowBytes = imgRowBytes(out.width, out.bitsPerPixel);
    std::int64_t total = 0;
    if (!checkedMul<std::int64_t>(out.rowBytes, out.height, total) || total > kMaxDibSectionBytes)
        return refuse(out, StoredBmpRefusal::kTooLarge);

    ByteReader in(file);
    in.seek(d.pixelOffset);
    out.rows = in.take(static_cast<std::size_t>(total));
    if (!in.ok()) return refuse(out, StoredBmpRefusal::kRowsCutShort);
    out.refusal = StoredBmpRefusal::kNone;
    return true;
}

void imgStoredBmpReason(const StoredBmp& bmp, char (&text)[kStoredBmpReasonSize]) {
    const char* reason = "";
    switch (bmp.refusal) {
        case StoredBmpRefusal::kNone: break;
        case StoredBmpRefusal::kNotBmp: reason = "not a BMP file"; break;
        case StoredBmpRefusal::kBitCount:
            std::snprintf(text, sizeof text, "a BMP file of %d bits per pixel; only 24 and 32 are read",
                          static_cast<int>(bmp.bitsPerPixel));
            return;
        case StoredBmpRefusal::kLayout:
            reason = "a compressed BMP file or one with unusual bit fields; only BI_RGB and the usual masks are read";
            break;
        case StoredBmpRefusal::kNoPixels: reason = "a BMP file without pixels"; break;
        case StoredBmpRefusal::kTooLarge: reason = "a BMP file too large for a picture"; break;
        case StoredBmpRefusal::kRowsCutShort: reason = "a BMP file whose pixel rows are cut short"; break;
    }
    std::snprintf(text, sizeof text, "%s", reason);
}

void imgCopyStoredBmpRows(const StoredBmp& bmp, std::uint8_t* bits, std::int64_t pitch) {
    const auto row = static_cast<std::size_t>(bmp.rowBytes);
    // Only rows that were found, into rows that can hold them.
    if (bmp.refusal != StoredBmpRefusal::kNone || !bits || pitch < bmp.rowBytes ||
        bmp.rows.size() < row * static_cast<std::size_t>(bmp.height))
        return;
    for (std::int32_t i = 0; i < bmp.height; ++i) {
        const std::int32_t stored = bmp.topDown ? bmp.height - 1 - i : i;
        std::memcpy(bits + i * pitch, bmp.rows.data() + row * static_cast<std::size_t>(stored), row);
    }
}

std::int64_t imgLoadStoredBmp(std::int64_t id, const void* data, std::int64_t size, StoredBmp& out) {
    out = StoredBmp{};
    if (!data || size <= 0) return 0;
    if (!imgFindStoredBmpRows({static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)}, out)) return 0;
    // On 32 bits −1 leaves the fresh bitmap's bytes as they are: every one
    // of them is overwritten by the rows.
    const std::int64_t result =
        imgCreateImage(id, out.width, out.height, out.bitsPerPixel, out.bitsPerPixel == 32 ? 0xFFFFFFFFu : 0);
    const std::int64_t key = id == AnyId ? result : id;
    ImageObject* image = result ? imgGetImage(key) : nullptr;
    plat::BitmapDesc bm{};
    if (!image || !plat::bitmapDescribe(image->handle, bm) || !bm.bits || bm.bitsPerPixel != out.bitsPerPixel ||
        bm.height != out.height || bm.widthBytes < out.rowBytes) {
        if (result) imgFreeImage(key);
        return 0;
    }
    imgCopyStoredBmpRows(out, static_cast<std::uint8_t*>(bm.bits), bm.widthBytes);
    image->sourceDepth = static_cast<std::uint8_t>(out.bitsPerPixel);
    image->format = kBmpFormat;
    return result;
}

}  // namespace oct
