#include "image/font.h"

#include "platform/fonts.h"
#include "platform/handles.h"
#include "platform/libraries.h"
#include "runtime/object_table.h"

namespace oct {
namespace {
ObjectTable* gFonts = nullptr;
int gScreenPixelsPerInchY = 96;
}  // namespace

void fntStartModule() {
    gFonts = objCreateTable(sizeof(FontObject), 16, fntFreeFont);
    gScreenPixelsPerInchY = plat::displayPixelsPerInchY();
}

void fntStopModule() {
    if (gFonts) objFreeAll(gFonts);
}

void fntFreeFont(std::int64_t id) {
    objFree(gFonts, id, [](void* record) { plat::objectDelete(static_cast<FontObject*>(record)->handle); });
}

std::int64_t fntCreateFont(std::int64_t id, const plat::LogFont& description) {
    if (!gFonts) return 0;
    auto* record = static_cast<FontObject*>(objNewObject(gFonts, id));
    if (!record) return 0;
    const std::int64_t releaseId = id == AnyId ? reinterpret_cast<std::int64_t>(record) : id;
    const plat::Handle font = plat::fontCreate(description);
    if (!font) {
        objReleaseObject(gFonts, releaseId);
        return 0;
    }
    record->handle = font;
    return id == AnyId ? releaseId : static_cast<std::int64_t>(font);
}

plat::Handle fntFontHandle(std::int64_t id) {
    const auto* record = gFonts ? static_cast<FontObject*>(objGetObject(gFonts, id)) : nullptr;
    return record ? record->handle : 0;
}

int fntScreenPixelsPerInchY() { return gScreenPixelsPerInchY; }

}  // namespace oct
