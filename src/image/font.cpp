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
    objFree(gFonts, id, [](void* record) { plat::objectDelete(static_cast<FontObject*>(record)->handle); });
}

int fntScreenPixelsPerInchY() { return gScreenPixelsPerInchY; }

}  // namespace oct
