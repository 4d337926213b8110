#include "api/record.h"

#include "api/level_codec.h"
#include "draw/session.h"
#include "image/image.h"
#include "platform/bitmaps.h"
#include "runtime/heap.h"
#include "runtime/object_table.h"

namespace oct {
namespace {

void plotLevel(void*, std::int32_t x, std::int32_t y, std::uint32_t colour) { drwPlot(x, y, colour); }

// The record's own source image when the rebuilt picture can take its place:
// a single bottom-up DIB section of `width` × `height` at the rebuilt depth.
ImageObject* replaceableSource(const OctImage& record, std::int32_t width, std::int32_t height, bool alpha,
                               plat::BitmapDesc& bm) {
    ImageObject* source = record.source ? imgGetImage(record.source) : nullptr;
    bool topDown = true;
    if (!source || source->frameCount != 1 || source->frames || source->handle != record.sourceBitmap ||
        !plat::bitmapIsDibSection(source->handle, &topDown) || topDown ||
        !plat::bitmapDescribe(source->handle, bm) || !bm.bits || bm.width != width || bm.height != height ||
        bm.bitsPerPixel != (alpha ? 32 : 24))
        return nullptr;
    return source;
}

// The source image, its rows now the rebuilt picture and its row padding
// zero, becomes the record's rebuilt image: as imgCreateImage makes one,
// with no decoder and no frames.
void adoptSource(OctImage& record, ImageObject& source) {
    source.sourceDepth = source.depth;
    source.format = 0;
    record.image = record.source;
    record.imageBitmap = source.handle;
    record.source = 0;
    record.sourceBitmap = 0;
}

void keepLevels(OctImage& record, const LevelBuffer& lv) {
    record.levels = lv.levels;
    record.levelsSize = lv.size;
    lvlFillHeader(record.header, record.bitmapInfo.width, record.bitmapInfo.height, lv.alpha, lv.size);
}
}  // namespace

std::int64_t octQuantizeRecord(OctImage& record) {
    if (record.levels) return 1;
    const plat::BitmapDesc& bm = record.bitmapInfo;
    PixelSource source{static_cast<const std::uint8_t*>(bm.bits), bm.width, bm.height, bm.widthBytes,
                       bm.bitsPerPixel};
    LevelBuffer lv;
    if (!lvlQuantize(source, lv)) return 0;
    keepLevels(record, lv);
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


std::int64_t octConvertRecord(OctImage& record, bool intoSource) {
    if (record.levels || record.image) return octQuantizeRecord(record) && octRebuildRecord(record);
    const plat::BitmapDesc& in = record.bitmapInfo;
    const PixelSource pixels{static_cast<const std::uint8_t*>(in.bits), in.width, in.height, in.widthBytes,
                             in.bitsPerPixel};
    const bool alpha = in.bitsPerPixel != 24;
    // The rebuilt rows go over the source's own where it can take them, else
    // into a new image. Every pixel byte of it is written and its padding
    // cleared, so a new one may come uncleared (imgCreateImageForOverwrite).
    plat::BitmapDesc bm{};
    ImageObject* source = intoSource ? replaceableSource(record, in.width, in.height, alpha, bm) : nullptr;
    std::int64_t image = 0;
    if (!source) {
        image = imgCreateImageForOverwrite(AnyId, in.width, in.height, alpha ? 32 : 24);
        if (!image) return 0;
    }
    LevelBuffer lv;
    if ((image && (!plat::bitmapDescribe(imgImageHandle(image), bm) || !bm.bits)) ||
        !lvlQuantizeRebuild(pixels, lv, static_cast<std::uint8_t*>(bm.bits), bm.widthBytes)) {
        if (image) imgFreeImage(image);
        return 0;
    }
    imgZeroRowPadding(bm.bits, bm.width, bm.height, bm.widthBytes, bm.bitsPerPixel / 8);
    keepLevels(record, lv);
    if (source) {
        adoptSource(record, *source);
    } else {
        record.image = image;
        record.imageBitmap = imgImageHandle(image);
    }
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
