// Bitmaps on Linux: the layer's own DIB sections, laid out as Windows lays
// them out (rows of 24 or 32 bits, each padded to 4 bytes; bottom-up, or
// top-down for the text raster), and sections over a host's own pixels.
#include <cstdlib>
#include <initializer_list>
#include <new>

#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "platform/fail_reason.h"
#include "platform/handles.h"
#include "platform/posix/objects.h"
#include "platform/posix/pixels.h"

namespace oct::plat {

using posix::Bitmap;

namespace {

Handle bitmapMake(std::int32_t width, std::int32_t height, int bpp, bool topDown, bool zeroed = true) {
    if ((bpp != 24 && bpp != 32) || width <= 0 || height <= 0) return 0;
    const std::int64_t widthBytes = (static_cast<std::int64_t>(width) * bpp + 31) / 32 * 4;
    if (failThisCall(FailKind::DibSection, static_cast<std::uint64_t>(widthBytes) * static_cast<std::uint64_t>(height)))
        return failNoMemory(static_cast<std::uint64_t>(widthBytes) * static_cast<std::uint64_t>(height)), 0;
    if (widthBytes > INT32_MAX) return 0;
    const std::int64_t bytes = widthBytes * height;
    // The same limit as the Windows DIB section: its size is a 32-bit quantity.
    if (bytes > INT32_MAX) return 0;
    auto* bm = new (std::nothrow) Bitmap;
    if (!bm) return failNoMemory(sizeof(Bitmap)), 0;
    bm->kind = HandleKind::Bitmap;
    bm->width = width;
    bm->height = height;
    bm->widthBytes = static_cast<std::int32_t>(widthBytes);
    bm->bitsPerPixel = static_cast<std::uint16_t>(bpp);
    bm->topDown = topDown;
    bm->bits = posix::pixelsAlloc(static_cast<std::size_t>(bytes), zeroed);
    Handle h = bm->bits ? posix::objectRegister(bm) : 0;
    if (!h) {
        failNoMemory(static_cast<std::uint64_t>(bytes));
        delete bm;
    }
    return h;
}

}  // namespace

HandleKind handleKind(Handle handle) {
    for (HandleKind kind : {HandleKind::Bitmap, HandleKind::Icon, HandleKind::Font})
        if (posix::objectLookup(handle, kind)) return kind;
    return HandleKind::None;
}

bool bitmapDescribe(Handle handle, BitmapDesc& out) {
    auto* bm = static_cast<Bitmap*>(posix::objectLookup(handle, HandleKind::Bitmap));
    if (!bm) return false;
    out = {0, bm->width, bm->height, bm->widthBytes, 1, bm->bitsPerPixel, bm->bits};
    return true;
}

bool bitmapIsDibSection(Handle handle, bool* topDown) {
    auto* bm = static_cast<Bitmap*>(posix::objectLookup(handle, HandleKind::Bitmap));
    if (topDown) *topDown = bm && bm->topDown;
    return bm && bm->bits;
}

Handle dibSectionCreate(std::int32_t width, std::int32_t height, int bitsPerPixel) {
    return bitmapMake(width, height, bitsPerPixel < 24 ? 24 : bitsPerPixel, false);
}

Handle dibSectionWrap(void* bits, std::int32_t width, std::int32_t height, std::int32_t pitch, int bitsPerPixel) {
    const std::int64_t rowBytes = static_cast<std::int64_t>(width) * (bitsPerPixel / 8);
    const std::int64_t span = pitch < 0 ? -static_cast<std::int64_t>(pitch) : pitch;
    if (!bits || (bitsPerPixel != 24 && bitsPerPixel != 32) || width <= 0 || height <= 0 || span < rowBytes)
        return 0;
    auto* bm = new (std::nothrow) Bitmap;
    if (!bm) return failNoMemory(sizeof(Bitmap)), 0;
    bm->kind = HandleKind::Bitmap;
    bm->width = width;
    bm->height = height;
    bm->widthBytes = pitch;
    bm->bitsPerPixel = static_cast<std::uint16_t>(bitsPerPixel);
    bm->borrowed = true;
    bm->bits = static_cast<std::uint8_t*>(bits);
    const Handle h = posix::objectRegister(bm);
    if (!h) {
        failNoMemory(sizeof(Bitmap));
        delete bm;
    }
    return h;
}

Handle dibSectionCreateTopDown(std::int32_t width, std::int32_t height) {
    return bitmapMake(width, height, 24, true);
}

Handle dibSectionCreateForOverwrite(std::int32_t width, std::int32_t height, int bitsPerPixel) {
    return bitmapMake(width, height, bitsPerPixel < 24 ? 24 : bitsPerPixel, false, false);
}

bool objectDelete(Handle handle) {
    // The stock font is shared by every device and session: as GDI ignores
    // DeleteObject of a stock object, it stays.
    auto* font = static_cast<posix::Font*>(posix::objectLookup(handle, HandleKind::Font));
    if (font && font->stock) return false;
    return posix::objectRemove(handle);
}

// No device contexts on Linux: a session needs only the bitmap's memory.
struct DrawSurface {};

DrawSurface* surfaceOpen(Handle bitmap) {
    if (!posix::objectLookup(bitmap, HandleKind::Bitmap)) return nullptr;
    return new (std::nothrow) DrawSurface;
}

void surfaceSelect(DrawSurface*) {}

void surfaceClose(DrawSurface* surface) { delete surface; }

}  // namespace oct::plat
