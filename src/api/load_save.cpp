#include "api/load_save.h"

#include <cstring>

#include "encode/encoder.h"
#include "file/stream.h"
#include "image/image.h"
#include "image/loader.h"
#include "platform/bitmaps.h"
#include "platform/fail_reason.h"
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
    if (!plat::bitmapDescribe(record->sourceBitmap, record->bitmapInfo))
        plat::failSet(plat::FailCode::UnknownFormat, "an icon file; only pictures and level files are converted");
    else if (octConvertRecord(*record, true))
        return record;
    octFreeRecord(record);
    return nullptr;
}

// Restores levels from the payload now in the record and rebuilds; on
// failure the record goes with all it holds.
OctImage* fromPayload(OctImage* record) {
    if (!octUnpackRecord(*record))
        plat::failSet(plat::FailCode::Damaged, "damaged level file (its packed levels are corrupt)");
    else if (octRebuildRecord(*record))
        return record;
    octFreeRecord(record);
    return nullptr;
}

bool hasLevelMagic(const void* bytes, std::int64_t size) {
    std::uint32_t magic = 0;
    if (size >= 4) std::memcpy(&magic, bytes, 4);
    return magic == kLevelMagic;
}

// The tests a level file's header must pass before its payload is
// allocated, each failure with its reason. The magic is tested before.
bool headerAdmits(const OctHeader& header, std::int64_t fileSize) {
    using plat::FailCode;
    if (fileSize <= kLevelHeaderSize) return plat::failSet(FailCode::Damaged, "damaged level file (cut short)");
    if (!lvlCheckHeader(header))
        return plat::failSet(FailCode::Damaged, "damaged level file (its header gives no size)");
    if (!lvlCheckSizes(header)) {
        if (static_cast<std::int64_t>(header.width) * header.height > INT32_MAX)
            return plat::failSet(FailCode::TooLarge, "a level file of %d × %d pixels; at most %d pixels in all",
                                 header.width, header.height, INT32_MAX);
        return plat::failSet(FailCode::Damaged, "damaged level file (more levels than pixels)");
    }
    if (!lvlCheckPayloadSize(header, fileSize - kLevelHeaderSize))
        return plat::failSet(FailCode::Damaged, "damaged level file (more packed bytes than its levels can need)");
    return true;
}

// Neither a picture nor a level file: what is left to say.
OctImage* unknown(OctImage* record) {
    plat::failSet(plat::FailCode::UnknownFormat, "%s", plat::failCodeText(plat::FailCode::UnknownFormat));
    octFreeRecord(record);
    return nullptr;
}

}  // namespace

OctImage* octLoadRecord(const char16_t* fileName) {
    plat::failBegin();
    if (!fileName) return plat::failSet(plat::FailCode::BadArgument, "no file name"), nullptr;
    OctImage* record = octNewRecord();
    if (!record) return nullptr;
    if (std::int64_t image = imgLoadImage(AnyId, fileName)) return fromImage(record, image);
    // The picture readers said why (no such file, a damaged picture, no
    // codec): the file is no level file either.
    if (plat::failLast().code != plat::FailCode::None) {
        octFreeRecord(record);
        return nullptr;
    }

    const std::int64_t file = filOpenRead(AnyId, fileName);
    if (!file) {
        octFreeRecord(record);
        return nullptr;
    }
    // A level file holds more than its header. (Files of 23 to 70 bytes are
    // real level files too: a uniform picture packs that small.)
    const std::int64_t size = filSize(file);
    const std::int64_t got = size >= 4 ? filRead(file, &record->header, kLevelHeaderSize) : 0;
    if (!hasLevelMagic(&record->header, got)) {
        filClose(file);
        return unknown(record);
    }
    bool ok = got == kLevelHeaderSize ? headerAdmits(record->header, size)
                                      : plat::failSet(plat::FailCode::Damaged, "damaged level file (cut short)");
    if (ok) {
        record->packedSize = size - kLevelHeaderSize;
        record->packed = static_cast<std::uint8_t*>(memAlloc(record->packedSize));
        ok = record->packed && filRead(file, record->packed, record->packedSize) == record->packedSize;
        if (record->packed && !ok) plat::failSet(plat::FailCode::ReadFailed, "the file changed or could not be read");
    }
    filClose(file);
    if (!ok) {
        octFreeRecord(record);
        return nullptr;
    }
    return fromPayload(record);
}

OctImage* octCatchRecord(const std::uint8_t* data, std::int64_t size) {
    plat::failBegin();
    // The image loaders take 32-bit sizes.
    if (!data || size <= 0) return plat::failSet(plat::FailCode::BadArgument, "no data"), nullptr;
    if (size > INT32_MAX)
        return plat::failSet(plat::FailCode::TooLarge, "%lld MB of data; at most %d MB are read",
                             static_cast<long long>(size >> 20), INT32_MAX >> 20),
               nullptr;
    OctImage* record = octNewRecord();
    if (!record) return nullptr;
    if (std::int64_t image = imgLoadImageMemory(AnyId, data, size)) return fromImage(record, image);
    if (plat::failLast().code != plat::FailCode::None) {
        octFreeRecord(record);
        return nullptr;
    }
    if (!hasLevelMagic(data, size)) return unknown(record);
    if (size > kLevelHeaderSize) memCopy(data, &record->header, kLevelHeaderSize);
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
    plat::failBegin();
    if (!fileName || !fileName[0]) return plat::failSet(plat::FailCode::BadArgument, "no file name");
    if (bitmap) {
        if (!record.image) return plat::failSet(plat::FailCode::BadArgument, "the image holds no rebuilt picture");
        // The rebuilt picture at its own depth, 24 bits or 32 with alpha.
        return imgSave(record.image, fileName, kBmpFormat, {.depth = record.header.alpha ? 32 : 24}) == 1;
    }
    if (!octPackRecord(record)) {
        // Allocation failures have said so; what remains is the format's rule.
        if (record.levelsSize <= kMaxUnpackableLevels)
            return plat::failSet(plat::FailCode::LevelsUnfit,
                                 "a level file cannot hold a picture of %lld pixels: it needs more than %lld",
                                 static_cast<long long>(record.levelsSize), static_cast<long long>(kMaxUnpackableLevels));
        return plat::failSet(plat::FailCode::LevelsUnfit, "a level file cannot hold these levels: they do not compress");
    }

    FileReplace save;
    if (!filBeginReplace(save, fileName)) return false;
    filReplaceReserve(save, kLevelHeaderSize + record.packedSize);
    const bool ok = filReplaceWrite(save, &record.header, kLevelHeaderSize) &&
                    filReplaceWrite(save, record.packed, record.packedSize);
    return filFinishReplace(save, ok);
}

}  // namespace oct
