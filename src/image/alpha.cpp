#include "image/alpha.h"

#include "image/image.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "platform/libraries.h"
#include "runtime/heap.h"

namespace oct {
namespace {

plat::Library* gImagingLibrary = nullptr;
void* gAlphaBlend = nullptr;

}  // namespace

void imgStartAlpha() {
    gImagingLibrary = plat::libraryLoad(u"msimg32.dll");
    gAlphaBlend = plat::libraryProc(gImagingLibrary, "AlphaBlend");
}

void imgStopAlpha() {
    plat::libraryFree(gImagingLibrary);
    gImagingLibrary = nullptr;
    gAlphaBlend = nullptr;
}

void* imgAlphaBlendEntry() { return gAlphaBlend; }

bool imgAlphaBlendPresent() { return gAlphaBlend != nullptr || plat::alphaBlendBuiltIn(); }

std::uint8_t* imgBitmapBits(plat::Handle bitmap, std::int32_t& copied) {
    copied = 0;
    plat::BitmapDesc bm{};
    if (!plat::bitmapDescribe(bitmap, bm) || bm.width <= 0 || bm.height <= 0) return nullptr;
    if (bm.bits) return static_cast<std::uint8_t*>(bm.bits);
    // The copy is written at 32 bits per pixel whatever the bitmap's own depth.
    const std::int64_t bytes = imgRowBytes(bm.width, 32) * bm.height;
    auto* buffer = static_cast<std::uint8_t*>(memMainAlloc(bytes, false));
    if (!buffer) return nullptr;
    if (plat::bitmapReadRows(bitmap, 32, true, buffer) <= 0) {
        memMainFree(buffer);
        return nullptr;
    }
    copied = 1;
    return buffer;
}

std::int32_t imgUsesAlpha(plat::Handle bitmap) {
    if (!imgAlphaBlendPresent() || plat::handleKind(bitmap) != plat::HandleKind::Bitmap) return 0;
    plat::BitmapDesc bm{};
    if (plat::bitmapIsDibSection(bitmap)) return plat::bitmapDescribe(bitmap, bm) && bm.bitsPerPixel == 32 ? 1 : 0;
    if (!plat::bitmapDescribe(bitmap, bm) || bm.bitsPerPixel != 32) return 0;
    std::int32_t copied = 0;
    std::uint8_t* bits = imgBitmapBits(bitmap, copied);
    if (!bits) return 0;
    const std::int64_t rowBytes = imgRowBytes(bm.width, 32);
    std::int32_t found = 0;
    for (std::int64_t y = 0; y < bm.height && !found; ++y) {
        const std::uint8_t* row = bits + y * rowBytes;
        for (std::int32_t x = 0; x < bm.width; ++x)
            if (row[4 * x + 3] != 0) {
                found = 1;
                break;
            }
    }
    if (copied) memMainFree(bits);
    return found;
}

}  // namespace oct
