#include "image/orientation.h"

#include <cstring>

#include "image/byte_reader.h"
#include "platform/jpeg_segments.h"

namespace oct {
namespace {

// TIFF header, 8 bytes (the same in a JPEG's EXIF segment after "Exif\0\0"):
//  off size
//   0   2   byte order: "II" little-endian, "MM" big-endian
//   2   2   42 (43 for BigTIFF, whose directories are laid out otherwise: not read)
//   4   4   offset of the first directory from the header's start
// Directory: a 2-byte entry count, then 12-byte entries:
//   0   2   tag            274 is the orientation
//   2   2   type           3 SHORT (the tag's type), 4 LONG accepted too
//   4   4   count          1
//   8   4   value          a SHORT lies in the first two bytes, in the byte order
constexpr std::uint16_t kTagOrientation = 274;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;

// The few reads the directory needs, in the structure's byte order.
struct OrderedReader {
    ByteReader in;
    bool bigEndian;
    std::uint16_t u16() { return bigEndian ? in.u16be() : in.u16(); }
    std::uint32_t u32() { return bigEndian ? in.u32be() : in.u32(); }
};

constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint8_t kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};

}  // namespace

int imgTiffOrientation(std::span<const std::uint8_t> tiff) {
    if (tiff.size() < 8) return kOrientationUpright;
    OrderedReader r{ByteReader(tiff), false};
    const std::uint16_t order = r.in.u16();
    if (order != 0x4949 && order != 0x4D4D) return kOrientationUpright;
    r.bigEndian = order == 0x4D4D;
    if (r.u16() != 42 || !r.in.seek(r.u32())) return kOrientationUpright;
    const std::uint16_t entries = r.u16();
    for (std::uint16_t i = 0; i < entries && r.in.ok(); ++i) {
        const std::uint16_t tag = r.u16();
        const std::uint16_t type = r.u16();
        const std::uint32_t count = r.u32();
        const std::uint32_t value = type == kTypeShort ? r.u16() : r.u32();
        if (type == kTypeShort) r.u16();  // the rest of the value field
        if (!r.in.ok()) break;
        if (tag != kTagOrientation) continue;
        if ((type != kTypeShort && type != kTypeLong) || count != 1 || value < 1 || value > 8)
            return kOrientationUpright;
        return static_cast<int>(value);
    }
    return kOrientationUpright;
}

int imgJpegOrientation(std::span<const std::uint8_t> jpeg) {
    plat::JpegSegments segments(jpeg);
    plat::JpegSegment segment{};
    while (segments.next(segment)) {
        if (segment.marker == kApp1 && segment.body.size() >= sizeof kExifId &&
            std::memcmp(segment.body.data(), kExifId, sizeof kExifId) == 0)
            return imgTiffOrientation(segment.body.subspan(sizeof kExifId));
    }
    return kOrientationUpright;
}

void imgTurnUpright(const std::uint8_t* source, std::int32_t width, std::int32_t height, std::int64_t sourcePitch,
                    int bytesPerPixel, int orientation, std::uint8_t* target, std::int64_t targetPitch) {
    const bool swap = imgOrientationSwapsSides(orientation);
    const std::int32_t outWidth = swap ? height : width;
    const std::int32_t outHeight = swap ? width : height;
    const auto bpp = static_cast<std::size_t>(bytesPerPixel);
    for (std::int32_t y = 0; y < outHeight; ++y) {
        // Row y from the top is stored outHeight − 1 − y rows from the bitmap's start.
        std::uint8_t* out = target + static_cast<std::int64_t>(outHeight - 1 - y) * targetPitch;
        // Each output pixel (x, y) comes from source pixel (sx, sy), which
        // moves by (dx, dy) as x grows.
        std::int64_t sx, sy, dx, dy;
        switch (orientation) {
            case 2: sx = width - 1, sy = y, dx = -1, dy = 0; break;
            case 3: sx = width - 1, sy = height - 1 - y, dx = -1, dy = 0; break;
            case 4: sx = 0, sy = height - 1 - y, dx = 1, dy = 0; break;
            case 5: sx = y, sy = 0, dx = 0, dy = 1; break;
            case 6: sx = y, sy = height - 1, dx = 0, dy = -1; break;
            case 7: sx = width - 1 - y, sy = height - 1, dx = 0, dy = -1; break;
            case 8: sx = width - 1 - y, sy = 0, dx = 0, dy = 1; break;
            default:
                std::memcpy(out, source + static_cast<std::int64_t>(y) * sourcePitch, bpp * width);
                continue;
        }
        const std::uint8_t* in = source + sy * sourcePitch + sx * static_cast<std::int64_t>(bpp);
        const std::int64_t step = dy * sourcePitch + dx * static_cast<std::int64_t>(bpp);
        for (std::int32_t x = 0; x < outWidth; ++x, out += bpp, in += step) std::memcpy(out, in, bpp);
    }
}

}  // namespace oct
