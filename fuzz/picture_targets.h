// The properties of the picture fuzz targets (PNG, JPEG, GIF, TIFF, WebP and
// the orientation parser), as plain functions: the libFuzzer entries call
// them, and tests/fuzz replays their seeds on every build, under wine too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/image.h"
#include "image/loader.h"
#include "image/orientation.h"
#include "image/picture_decoders.h"

namespace oct::fuzz {

// Input: any bytes, loaded as the library loads a picture from memory. A
// load that works gives an image of the format its signature names, at 24
// or 32 bits, with every frame's bitmap present, within the side limit for
// the formats beyond BMP (a BMP's sides are bounded by its bitmap's bytes
// alone); the description agrees with it. Either way nothing is left behind (the
// sanitizers' leak check) and nothing is read outside the data.
inline bool checkPictureLoad(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > (std::size_t{64} << 20)) return true;
    const std::vector<std::uint8_t> bytes(data, data + size);  // exactly its size
    const std::int64_t id = imgLoadImageMemory(AnyId, bytes.data(), static_cast<std::int64_t>(size));
    if (!id) return true;
    const ImageObject* image = imgGetImage(id);
    bool ok = image && image->width >= 1 && image->height >= 1 && (image->depth == 24 || image->depth == 32) &&
              image->handle;
    if (ok && image->format != kIconFormat && image->format != kBmpFormat)
        ok = image->width <= kMaxPictureSide && image->height <= kMaxPictureSide;
    if (ok && image->format != kIconFormat) {
        ok = image->format == imgSniffFormat(bytes);
        for (std::int32_t i = 0; ok && image->frames && i < image->frameCount; ++i) ok = image->frames[i].bitmap != 0;
        PictureSummary summary{};
        ok = ok && imgDescribePicture(bytes, summary) && summary.width == image->width &&
             summary.height == image->height && summary.depth == image->depth &&
             summary.frameCount == image->frameCount;
    }
    imgFreeImage(id);
    return ok;
}

// Input: any bytes, read as a JPEG file and as a TIFF structure for their
// orientation, which is always 1..8. Then the first two bytes make a picture
// of up to 16 × 16 one-byte pixels, each its own number, turned by the first
// result: every pixel lands exactly once.
inline bool checkOrientation(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const int jpeg = imgJpegOrientation(bytes);
    const int tiff = imgTiffOrientation(bytes);
    if (jpeg < 1 || jpeg > 8 || tiff < 1 || tiff > 8) return false;
    if (size < 2) return true;
    const int width = data[0] % 16 + 1, height = data[1] % 16 + 1;
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(width * height));
    for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<std::uint8_t>(i);
    std::vector<std::uint8_t> turned(picture.size(), 0xFF);
    const int orientation = (jpeg + tiff + data[0]) % 8 + 1;
    const int outWidth = imgOrientationSwapsSides(orientation) ? height : width;
    imgTurnUpright(picture.data(), width, height, width, 1, orientation, turned.data(), outWidth);
    std::vector<int> seen(picture.size(), 0);
    for (std::uint8_t v : turned)
        if (v >= picture.size() || seen[v]++) return false;
    return true;
}

}  // namespace oct::fuzz
