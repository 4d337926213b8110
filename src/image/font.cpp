#include "image/font.h"

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
    if (!gFonts) return;
    if (id == AnyId) {
        objFreeAll(gFonts);
        return;
    }
    auto* font = static_cast<FontObject*>(objGetObject(gFonts, id));
    if (!font) return;
    plat::objectDelete(font->handle);
    objReleaseObject(gFonts, id);
}

int fntScreenPixelsPerInchY() { return gScreenPixelsPerInchY; }

}  // namespace oct
