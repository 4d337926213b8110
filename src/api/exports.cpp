// The library's exported functions. Each body runs inside one guard, so that
// an exception from the standard library becomes a failed result instead of
// crossing the C interface.
#include "oct.h"

#include <cstring>
#include <new>

#include "api/load_save.h"
#include "api/record.h"
#include "platform/bitmaps.h"
#include "platform/fail_reason.h"
#include "platform/handles.h"
#include "runtime/heap.h"
#include "runtime/strings.h"

using namespace oct;

namespace {

template <typename Fn>
std::int64_t guarded(Fn&& fn) {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        plat::failSet(plat::FailCode::NoMemory, "out of memory");
    } catch (...) {
        plat::failSet(plat::FailCode::Other, "an unexpected failure");
    }
    return 0;
}

// The same for the calls that can fail with a reason (octLastError): each
// starts by forgetting the reason of the one before.
template <typename Fn>
std::int64_t operation(Fn&& fn) {
    plat::failBegin();
    const std::int64_t result = guarded(fn);
    if (result == 0 && plat::failLast().code == plat::FailCode::None)
        plat::failSet(plat::FailCode::Other, "%s", plat::failCodeText(plat::FailCode::Other));
    return result;
}

// A private copy of a file-name argument, released on every return path.
class NameCopy {
public:
    explicit NameCopy(const char16_t* name) { strCopyArg(copy_, name); }
    ~NameCopy() { strFreeArg(copy_); }
    NameCopy(const NameCopy&) = delete;
    NameCopy& operator=(const NameCopy&) = delete;
    const char16_t* get() const { return copy_; }

private:
    char16_t* copy_ = nullptr;
};

}  // namespace

extern "C" {

OCT_API OctImage* octConvert(int64_t bitmap) {
    return reinterpret_cast<OctImage*>(operation([&]() -> std::int64_t {
        if (!strThreadEnter()) return 0;
        if (!bitmap) return plat::failSet(plat::FailCode::BadArgument, "no bitmap");
        // Only a DIB section of 24 or 32 bits, stored bottom-up, has the
        // addressable rows that the conversion reads; anything else is refused
        // rather than read from memory the bitmap does not have.
        const auto handle = static_cast<plat::Handle>(bitmap);
        bool topDown = false;
        plat::BitmapDesc bm{};
        if (!plat::bitmapIsDibSection(handle, &topDown) || topDown || !plat::bitmapDescribe(handle, bm) ||
            (bm.bitsPerPixel != 24 && bm.bitsPerPixel != 32))
            return plat::failSet(plat::FailCode::BadArgument, "not a bottom-up DIB section of 24 or 32 bits");
        OctImage* record = octNewRecord();
        if (!record) return 0;
        // The host's bitmap is read, never owned or written: the record's
        // source stays 0.
        record->sourceBitmap = handle;
        record->bitmapInfo = bm;
        if (!octConvertRecord(*record, false)) {
            octFreeRecord(record);
            return 0;
        }
        // The host may delete its bitmap, or free the memory under one it
        // wrapped (octBitmapWrap), as soon as this returns: the record keeps
        // neither, so that nothing can reach them later.
        record->sourceBitmap = 0;
        record->bitmapInfo.bits = nullptr;
        return reinterpret_cast<std::int64_t>(record);
    }));
}

OCT_API OctImage* octLoad(const char16_t* fileName) {
    return reinterpret_cast<OctImage*>(operation([&]() -> std::int64_t {
        if (!strThreadEnter()) return 0;
        if (!fileName) return plat::failSet(plat::FailCode::BadArgument, "no file name");
        NameCopy name(fileName);
        if (!name.get()) return 0;
        return reinterpret_cast<std::int64_t>(octLoadRecord(name.get()));
    }));
}

OCT_API OctImage* octCatch(const void* data, int64_t size) {
    return reinterpret_cast<OctImage*>(operation([&]() -> std::int64_t {
        if (!strThreadEnter()) return 0;
        if (!data || size == 0) return plat::failSet(plat::FailCode::BadArgument, "no data");
        return reinterpret_cast<std::int64_t>(octCatchRecord(static_cast<const std::uint8_t*>(data), size));
    }));
}

OCT_API int64_t octSave(OctImage* record, const char16_t* fileName, int64_t flag) {
    return operation([&]() -> std::int64_t {
        if (!strThreadEnter()) return 0;
        if (!record) return plat::failSet(plat::FailCode::BadArgument, "no image");
        if (!fileName || !fileName[0]) return plat::failSet(plat::FailCode::BadArgument, "no file name");
        NameCopy name(fileName);
        if (!name.get()) return 0;
        return octSaveRecord(*record, name.get(), flag != 0) ? 1 : 0;
    });
}

OCT_API int64_t octFree(OctImage* record) {
    guarded([&]() -> std::int64_t {
        octFreeRecord(record);
        return 0;
    });
    return 0;
}

OCT_API int64_t octWidth(OctImage* record) { return record ? record->header.width : 0; }
OCT_API int64_t octHeight(OctImage* record) { return record ? record->header.height : 0; }
OCT_API int64_t octAlpha(OctImage* record) { return record ? record->header.alpha : 0; }
OCT_API int64_t octHandle(OctImage* record) { return record ? static_cast<int64_t>(record->imageBitmap) : 0; }
OCT_API int64_t octVersion(void) { return 1; }

}  // extern "C"
