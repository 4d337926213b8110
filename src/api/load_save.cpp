#include "api/load_save.h"

#include "encode/encoder.h"
#include "file/stream.h"
#include "image/image.h"
#include "image/loader.h"
#include "platform/bitmaps.h"
#include "runtime/file_replace.h"
#include "runtime/heap.h"
#include "runtime/object_table.h"

namespace oct {
namespace {

// A record whose source is a decoded picture: quantize its bitmap and
// rebuild; on failure the record goes, with the image it now owns.
OctImage* fromImage(OctImage* record, std::int64_t image) {
    record->source = image;
    record->sourceBitmap = imgImageHandle(image);
    // An icon holds no bitmap to read: refused, not tried as a level file.
    if (plat::bitmapDescribe(record->sourceBitmap, record->bitmapInfo) && octConvertRecord(*record, true))
        return record;
    octFreeRecord(record);
    return nullptr;
}

// Restores levels from the payload now in the record and rebuilds; on
// failure the record goes with all it holds.
OctImage* fromPayload(OctImage* record) {
    if (octUnpackRecord(*record) && octRebuildRecord(*record)) return record;
    octFreeRecord(record);
    return nullptr;
}

// The tests a level file's header must pass before its payload is allocated.
bool headerAdmits(const OctHeader& header, std::int64_t fileSize) {
    return lvlCheckHeader(header) && lvlCheckSizes(header) &&
           lvlCheckPayloadSize(header, fileSize - kLevelHeaderSize);
}

}  // namespace

OctImage* octLoadRecord(const char16_t* fileName) {
    if (!fileName) return nullptr;
    OctImage* record = octNewRecord();
    if (!record) return nullptr;
    if (std::int64_t image = imgLoadImage(AnyId, fileName)) return fromImage(record, image);

    const std::int64_t file = filOpenRead(AnyId, fileName);
    if (!file) {
        octFreeRecord(record);
        return nullptr;
    }
    // A level file holds more than its header. (Files of 23 to 70 bytes are
    // real level files too: a uniform picture packs that small.)
    const std::int64_t size = filSize(file);
    bool ok = size > kLevelHeaderSize &&
              filRead(file, &record->header, kLevelHeaderSize) == kLevelHeaderSize && headerAdmits(record->header, size);
    if (ok) {
        record->packedSize = size - kLevelHeaderSize;
        record->packed = static_cast<std::uint8_t*>(memAlloc(record->packedSize));
        ok = record->packed && filRead(file, record->packed, record->packedSize) == record->packedSize;
    }
    filClose(file);
    if (!ok) {
        octFreeRecord(record);
        return nullptr;
    }
    return fromPayload(record);
}

OctImage* octCatchRecord(const std::uint8_t* data, std::int64_t size) {
    // The image loaders take 32-bit sizes.
    if (!data || size <= 0 || size > INT32_MAX) return nullptr;
    OctImage* record = octNewRecord();
    if (!record) return nullptr;
    if (std::int64_t image = imgLoadImageMemory(AnyId, data, size)) return fromImage(record, image);

    if (size <= kLevelHeaderSize) {
        octFreeRecord(record);
        return nullptr;
    }
    memCopy(data, &record->header, kLevelHeaderSize);
    if (!headerAdmits(record->header, size)) {
        octFreeRecord(record);
        return nullptr;
    }
    record->packedSize = size - kLevelHeaderSize;
    record->packed = static_cast<std::uint8_t*>(memAlloc(record->packedSize));
    if (!record->packed) {
        octFreeRecord(record);
        return nullptr;
    }
    memCopy(data + kLevelHeaderSize, record->packed, record->packedSize);
    return fromPayload(record);
}

bool octSaveRecord(OctImage& record, const char16_t* fileName, bool bitmap) {
    if (!fileName || !fileName[0]) return false;
    if (bitmap) {
        if (!record.image) return false;
        // The rebuilt picture at its own depth, 24 bits or 32 with alpha.
        return imgSave(record.image, fileName, kBmpFormat, {.depth = record.header.alpha ? 32 : 24}) == 1;
    }
    if (!octPackRecord(record)) return false;

    FileReplace save;
    if (!filBeginReplace(save, fileName)) return false;
    filReplaceReserve(save, kLevelHeaderSize + record.packedSize);
    const bool ok = filReplaceWrite(save, &record.header, kLevelHeaderSize) &&
                    filReplaceWrite(save, record.packed, record.packedSize);
    return filFinishReplace(save, ok);
}

}  // namespace oct
