#include "image/image.h"

#include <cstring>

#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "runtime/heap.h"

namespace oct {
namespace {

ObjectTable* gImages = nullptr;

// The first-field liveness rule of object tables relies on the handle coming first.
static_assert(offsetof(ImageObject, handle) == 0);

void deleteHandle(plat::Handle h) {
    if (h) plat::objectDelete(h);
}

// Fills every pixel of a bottom-up bitmap with a pixel value (B, G, R[, A]):
// the first row pixel by pixel, every other row as a copy of it.
void fillPixels(const plat::BitmapDesc& bm, std::uint32_t colour, int bytesPerPixel) {
    auto* first = static_cast<std::uint8_t*>(bm.bits);
    const std::uint8_t px[4] = {static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
                                static_cast<std::uint8_t>(colour), static_cast<std::uint8_t>(colour >> 24)};
    if (bm.height <= 0 || bm.width <= 0) return;
    std::uint8_t* p = first;
    for (std::int32_t x = 0; x < bm.width; ++x, p += bytesPerPixel) std::memcpy(p, px, bytesPerPixel);
    const auto rowBytes = static_cast<std::size_t>(bm.width) * static_cast<std::size_t>(bytesPerPixel);
    std::uint8_t* row = first;
    for (std::int32_t y = 1; y < bm.height; ++y) {
        row += bm.widthBytes;
        std::memcpy(row, first, rowBytes);
    }
}

}  // namespace

void imgStartModule() { gImages = objCreateTable(sizeof(ImageObject), 16, imgFreeImage); }

void imgStopModule() {
    if (gImages) objFreeAll(gImages);
}

ObjectTable* imgTable() { return gImages; }

namespace {

// The bit count of the DIB section for an image of `depth`: 32, else 24 at least.
int sectionDepth(std::int32_t depth) { return depth == 32 ? 32 : depth <= 24 ? 24 : depth; }

// imgCreateImage; without `filled` the pixels are left as the section comes.
std::int64_t createImage(std::int64_t id, std::int32_t width, std::int32_t height, std::int32_t depth,
                         std::uint32_t background, bool filled) {
    if (!gImages) return 0;
    if (depth == 32) background = background == 0xFFFFFFFFu ? 0 : background | 0xFF000000u;

    auto* image = static_cast<ImageObject*>(objNewObject(gImages, id));
    if (!image) return 0;
    const std::int64_t releaseId = id == AnyId ? reinterpret_cast<std::int64_t>(image) : id;

    plat::Handle bitmap = filled ? imgCreateDIBSection(width, height, depth)
                                 : plat::dibSectionCreateForOverwrite(width, height, sectionDepth(depth));
    plat::BitmapDesc bm{};
    if (!bitmap || !plat::bitmapDescribe(bitmap, bm)) {
        deleteHandle(bitmap);
        objReleaseObject(gImages, releaseId);
        return 0;
    }
    // A fresh DIB section is zero-filled, so black needs no pass over the pixels.
    if (filled && bm.bits && background != 0) fillPixels(bm, background, bm.bitsPerPixel == 32 ? 4 : 3);

    image->handle = bitmap;
    image->width = bm.width;
    image->height = bm.height;
    image->depth = static_cast<std::uint8_t>(bm.bitsPerPixel);
    image->sourceDepth = image->depth;
    image->frameCount = 1;
    return id == AnyId ? releaseId : static_cast<std::int64_t>(bitmap);
}

}  // namespace

std::int64_t imgCreateImage(std::int64_t id, std::int32_t width, std::int32_t height, std::int32_t depth,
                            std::uint32_t background) {
    return createImage(id, width, height, depth, background, true);
}

std::int64_t imgCreateImageForOverwrite(std::int64_t id, std::int32_t width, std::int32_t height, std::int32_t depth) {
    return createImage(id, width, height, depth, 0, false);
}

void imgFreeImage(std::int64_t id) {
    objFree(gImages, id, [](void* record) {
        auto* image = static_cast<ImageObject*>(record);
        if (image->frameCount <= 1 || !image->frames) {
            deleteHandle(image->handle);
        } else {
            for (std::int32_t i = 0; i < image->frameCount; ++i) deleteHandle(image->frames[i].bitmap);
        }
        memMainFree(image->frames);
    });
}

std::int64_t imgIsImage(std::int64_t id) {
    return gImages ? reinterpret_cast<std::int64_t>(objIsObject(gImages, id)) : 0;
}

ImageObject* imgGetImage(std::int64_t id) {
    return gImages ? static_cast<ImageObject*>(objGetObject(gImages, id)) : nullptr;
}

plat::Handle imgImageHandle(std::int64_t id) {
    ImageObject* image = imgGetImage(id);
    return image ? image->handle : 0;
}

plat::Handle imgCreateDIBSection(std::int32_t width, std::int32_t height, std::int32_t depth) {
    return plat::dibSectionCreate(width, height, sectionDepth(depth));
}

void imgZeroRowPadding(void* bits, std::int32_t width, std::int32_t height, std::int64_t rowBytes,
                       int bytesPerPixel) {
    const std::int64_t used = static_cast<std::int64_t>(width) * bytesPerPixel;
    if (!bits || rowBytes <= used) return;
    auto* row = static_cast<std::uint8_t*>(bits) + used;
    for (std::int32_t r = 0; r < height; ++r, row += rowBytes)
        std::memset(row, 0, static_cast<std::size_t>(rowBytes - used));
}

std::int64_t imgRowBytes(std::int64_t width, std::int32_t bitsPerPixel) {
    if (width < 0) return 0;
    switch (bitsPerPixel) {
        case 1: return (width + 31) / 32 * 4;
        case 4: return (width + 7) / 8 * 4;
        case 8: return (width + 3) / 4 * 4;
        case 15:
        case 16: return (width + 1) / 2 * 4;
        case 24: return ((width + 1) * 3 / 4) * 4;
        case 32: return width * 4;
        default: return 0;
    }
}

}  // namespace oct
