#include "api/record.h"

#include "api/level_codec.h"
#include "draw/session.h"
#include "image/image.h"
#include "runtime/heap.h"
#include "runtime/object_table.h"

namespace oct {
namespace {

void plotLevel(void*, std::int32_t x, std::int32_t y, std::uint32_t colour) { drwPlot(x, y, colour); }

}  // namespace

std::int64_t octQuantizeRecord(OctImage& record) {
    if (record.levels) return 1;
    const plat::BitmapDesc& bm = record.bitmapInfo;
    PixelSource source{static_cast<const std::uint8_t*>(bm.bits), bm.width, bm.height, bm.widthBytes,
                       bm.bitsPerPixel};
    LevelBuffer lv;
    if (!lvlQuantize(source, lv)) return 0;
    record.levels = lv.levels;
    record.levelsSize = lv.size;
    lvlFillHeader(record.header, bm.width, bm.height, lv.alpha, lv.size);
    return 1;
}

std::int64_t octRebuildRecord(OctImage& record) {
    if (record.image) return 1;
    const bool alpha = record.header.alpha != 0;
    const std::int32_t width = record.header.width, height = record.header.height;
    // Every byte of every pixel is written below and the row padding cleared
    // after, so the section may come uncleared: a host converting picture
    // after picture then reuses the memory of the last one it freed.
    const std::int64_t image = imgCreateImageForOverwrite(AnyId, width, height, alpha ? 32 : 24);
    if (!image) return 0;
    if (!drwBegin(drwImageOutput(image))) {
        imgFreeImage(image);
        return 0;
    }
    record.image = image;
    record.imageBitmap = imgImageHandle(image);
    // Under mode 0x100 a plot writes all four bytes of a 32-bit pixel, alpha
    // included, and the three colour bytes of a 24-bit one.
    drwSetMode(DrawMode::kAllBytes);
    // The session's target is the fresh bottom-up image made above, whole:
    // its rows take the decoded pixels directly, byte for byte what plotting
    // each pixel under that mode writes, without a call per pixel.
    const DrawContext* c = drwCurrent();
    const bool direct = c && c->bottomUp && c->width == width && c->height == height &&
                        c->bytesPerPixel == (alpha ? 4 : 3) && c->mode == (alpha ? DrawMode::kAllBytes : 0u);
    if (!direct || !lvlDecodeRows(record.levels, record.levelsSize, width, height, alpha, c->bits, c->pitch,
                                  c->bytesPerPixel))
        lvlDecode(record.levels, record.levelsSize, width, height, alpha, plotLevel, nullptr);
    drwEnd();
    plat::BitmapDesc bm{};
    if (plat::bitmapDescribe(record.imageBitmap, bm))
        imgZeroRowPadding(bm.bits, bm.width, bm.height, bm.widthBytes, bm.bitsPerPixel / 8);
    return 1;
}

std::int64_t octRebuildIntoSource(OctImage& record) {
    if (record.image || !record.source || !record.levels) return 0;
    ImageObject* source = imgGetImage(record.source);
    const bool alpha = record.header.alpha != 0;
    const std::int32_t width = record.header.width, height = record.header.height;
    bool topDown = true;
    plat::BitmapDesc bm{};
    if (!source || source->frameCount != 1 || source->frames || source->handle != record.sourceBitmap ||
        !plat::bitmapIsDibSection(source->handle, &topDown) || topDown ||
        !plat::bitmapDescribe(source->handle, bm) || !bm.bits || bm.width != width || bm.height != height ||
        bm.bitsPerPixel != (alpha ? 32 : 24))
        return 0;
    auto* rows = static_cast<std::uint8_t*>(bm.bits);
    const int bytesPerPixel = alpha ? 4 : 3;
    if (!lvlDecodeRows(record.levels, record.levelsSize, width, height, alpha, rows, bm.widthBytes, bytesPerPixel))
        return 0;
    // A fresh image's row padding is zero; so is this one's now.
    imgZeroRowPadding(rows, width, height, bm.widthBytes, bytesPerPixel);
    // Now an image as imgCreateImage makes it: no decoder, no frames.
    source->sourceDepth = source->depth;
    source->format = 0;
    record.image = record.source;
    record.imageBitmap = source->handle;
    record.source = 0;
    record.sourceBitmap = 0;
    return 1;
}

std::int64_t octPackRecord(OctImage& record) {
    if (record.packed) return 1;
    if (!record.levels) return 0;
    std::uint8_t* payload = nullptr;
    std::int64_t size = 0;
    if (!lvlPack(record.levels, record.levelsSize, payload, size)) return 0;
    record.packed = payload;
    record.packedSize = size;
    return 1;
}

std::int64_t octUnpackRecord(OctImage& record) {
    if (record.levels) return 1;
    if (!record.packed) return 0;
    record.levelsSize = record.header.rawSize;
    std::uint8_t* levels = nullptr;
    if (!lvlUnpack(record.packed, record.packedSize, record.levelsSize, levels)) {
        record.levels = nullptr;
        record.levelsSize = 0;
        return 0;
    }
    record.levels = levels;
    return 1;
}

OctImage* octNewRecord() { return static_cast<OctImage*>(memBlockAlloc(sizeof(OctImage))); }

void octFreeRecord(OctImage* record) {
    if (!record) return;
    memFree(record->packed);
    memFree(record->levels);
    if (record->image && imgIsImage(record->image)) imgFreeImage(record->image);
    if (record->source && imgIsImage(record->source)) imgFreeImage(record->source);
    memBlockFree(record);
}

}  // namespace oct
