// The data a picture needs behind its declared size, the same on every
// system, so that a codec is never asked to fill a huge picture from a few
// bytes.
#include <algorithm>

#include "platform/pictures.h"

namespace oct::plat {

namespace {

// The most pixels one byte of the format's data can give.
std::int64_t mostPixelsPerByte(PictureFormat format, const PictureLimits& limits) {
    switch (format) {
        case PictureFormat::Png:
        case PictureFormat::WebP:
        // A flat HEIF, AVIF or JPEG XL costs next to nothing a pixel too: held to PNG's.
        case PictureFormat::Heif:
        case PictureFormat::Avif:
        case PictureFormat::Jxl: return 8 * 1032;
        case PictureFormat::Gif: return (4096 * 8 + 2) / 3;
        case PictureFormat::Jpeg: return 64 * 8;
        case PictureFormat::Tiff: return 8 * static_cast<std::int64_t>(limits.maxSide);
    }
    return 0;
}

}  // namespace

bool pictureDataSuffices(PictureFormat format, std::int64_t width, std::int64_t height, std::size_t size,
                         const PictureLimits& limits) {
    if (width < 1 || height < 1 || width > limits.maxSide || height > limits.maxSide) return false;
    // Sides of at most 2^31 keep width × height × 4 within 64 bits.
    return pictureDataSufficesFor(format, width * height, size, limits);
}

bool pictureDataSufficesFor(PictureFormat format, std::int64_t pixels, std::size_t size, const PictureLimits& limits) {
    if (pixels < 1 || pixels > INT64_MAX / 4) return false;
    if (pixels * 4 <= limits.unbackedBytes) return true;
    const std::int64_t bytes = static_cast<std::uint64_t>(size) > static_cast<std::uint64_t>(INT64_MAX)
                                   ? INT64_MAX
                                   : static_cast<std::int64_t>(size);
    std::int64_t most = 0;
    return __builtin_mul_overflow(bytes, mostPixelsPerByte(format, limits), &most) || pixels <= most;
}

}  // namespace oct::plat
