// The properties of the picture fuzz targets (PNG, JPEG, GIF, TIFF, WebP, the
// orientation parser and the PNG encoder's round trip), as plain functions: the libFuzzer entries call
// them, and tests/fuzz replays their seeds on every build, under wine too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "encode/png_writer.h"
#include "image/formats.h"
#include "image/image.h"
#include "image/limits.h"
#include "image/loader.h"
#include "image/orientation.h"
#include "image/picture_decoders.h"
#include "platform/bitmaps.h"
#include "runtime/heap.h"

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
    // Every frame, so that each is decoded and composed (a conversion takes
    // frame 0 alone, through the same steps).
    const std::int64_t id =
        imgLoadImageMemory(AnyId, bytes.data(), static_cast<std::int64_t>(size), LoadFrames::All);
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

// Input: byte 0 and 1 give a width and height of 1 .. 64, bit 0 of byte 2
// 24 or 32 bits a pixel, bits 1-2 how few colours the pixels take (all 256
// values of a byte, or 2, 5 or 17 of them, so that every kind of PNG is
// made); the rest are the pixels, repeated as needed. The PNG encoder's file
// must load as a PNG of the same size and give back exactly those pixels (at
// 24 bits when every pixel is opaque).
inline bool checkPngRoundTrip(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return true;
    const int width = data[0] % 64 + 1, height = data[1] % 64 + 1, bytes = data[2] & 1 ? 4 : 3;
    const int levels[] = {256, 2, 5, 17};
    const int kinds = levels[(data[2] >> 1) & 3];
    const std::uint8_t* body = data + 3;
    const std::size_t bodySize = size - 3;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * bytes);
    bool opaque = true;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>(body[i % bodySize] % kinds * (255 / (kinds - 1)));
        if (bytes == 4 && i % 4 == 3 && pixels[i] != 255) opaque = false;
    }
    const std::int64_t block = imgPngEncode(nullptr, {pixels.data(), width, height, width * bytes, 0},
                                            {.flags = 0, .depth = 8 * bytes}, 8 * bytes);
    if (!block) return false;
    std::uint64_t fileSize = 0;
    const std::uint8_t* p = imgPngBlockFile(block, fileSize);
    const std::vector<std::uint8_t> file(p, p + fileSize);
    memFree(reinterpret_cast<void*>(block));
    const std::int64_t id = imgLoadImageMemory(AnyId, file.data(), static_cast<std::int64_t>(file.size()));
    const ImageObject* image = imgGetImage(id);
    plat::BitmapDesc bm{};
    bool topDown = false;
    bool ok = image && image->format == kPngFormat && image->width == width && image->height == height &&
              plat::bitmapIsDibSection(image->handle, &topDown) && plat::bitmapDescribe(image->handle, bm) &&
              bm.bits && bm.bitsPerPixel == (bytes == 4 && !opaque ? 32 : 24);
    for (int y = 0; ok && y < height; ++y) {
        const auto* row = static_cast<const std::uint8_t*>(bm.bits) +
                          static_cast<std::size_t>(topDown ? y : height - 1 - y) * bm.widthBytes;
        const int got = bm.bitsPerPixel / 8;
        for (int x = 0; ok && x < width; ++x)
            ok = std::memcmp(row + x * got, &pixels[(static_cast<std::size_t>(y) * width + x) * bytes], static_cast<std::size_t>(got)) == 0;
    }
    if (id) imgFreeImage(id);
    return ok;
}

}  // namespace oct::fuzz
