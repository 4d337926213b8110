// Bitmaps on Windows: GDI DIB sections and icons.
#include <windows.h>

#include <new>

#include "platform/fail_points.h"
#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "platform/fail_reason.h"
#include "platform/handles.h"

namespace oct::plat {
namespace {
HGDIOBJ gdi(Handle h) { return reinterpret_cast<HGDIOBJ>(h); }
}  // namespace

static_assert(sizeof(BitmapDesc) == sizeof(BITMAP));

HandleKind handleKind(Handle handle) {
    if (!handle) return HandleKind::None;
    switch (GetObjectType(gdi(handle))) {
        case OBJ_BITMAP: return HandleKind::Bitmap;
        case OBJ_FONT: return HandleKind::Font;
        default: break;
    }
    ICONINFO info;
    if (GetIconInfo(reinterpret_cast<HICON>(handle), &info)) {
        if (info.hbmColor) DeleteObject(info.hbmColor);
        if (info.hbmMask) DeleteObject(info.hbmMask);
        return HandleKind::Icon;
    }
    return HandleKind::None;
}

bool bitmapDescribe(Handle handle, BitmapDesc& out) {
    if (!handle || GetObjectType(gdi(handle)) != OBJ_BITMAP) return false;
    BITMAP bm;
    if (GetObjectW(gdi(handle), sizeof bm, &bm) != sizeof bm) return false;
    out = {bm.bmType, bm.bmWidth, bm.bmHeight, bm.bmWidthBytes, bm.bmPlanes, bm.bmBitsPixel, bm.bmBits};
    return true;
}

bool bitmapIsDibSection(Handle handle, bool* topDown) {
    if (topDown) *topDown = false;
    if (!handle || GetObjectType(gdi(handle)) != OBJ_BITMAP) return false;
    DIBSECTION ds;
    if (GetObjectW(gdi(handle), sizeof ds, &ds) != sizeof ds || !ds.dsBm.bmBits) return false;
    if (topDown) *topDown = ds.dsBmih.biHeight < 0;
    return true;
}

namespace {
HBITMAP createSection(std::int32_t width, std::int32_t height, int bitsPerPixel, bool topDown) {
    const std::uint64_t rowBytes = (static_cast<std::uint64_t>(width > 0 ? width : 0) * (bitsPerPixel < 24 ? 24 : bitsPerPixel) + 31) / 32 * 4;
    const std::uint64_t bytes = rowBytes * static_cast<std::uint64_t>(height > 0 ? height : 0);
    if (failThisCall(FailKind::DibSection, bytes)) return failNoMemory(bytes), nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return 0;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = topDown ? -height : height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bitsPerPixel < 24 ? 24 : bitsPerPixel);
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bm = (width > 0 && height > 0) ? CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    DeleteDC(dc);
    if (bm) objectNoteMade();
    else if (width > 0 && height > 0) failNoMemory(bytes);
    return bm;
}
}  // namespace

Handle dibSectionCreate(std::int32_t width, std::int32_t height, int bitsPerPixel) {
    return reinterpret_cast<Handle>(createSection(width, height, bitsPerPixel, false));
}

Handle dibSectionCreateTopDown(std::int32_t width, std::int32_t height) {
    return reinterpret_cast<Handle>(createSection(width, height, 24, true));
}

// A DIB section owns its memory (or a file mapping's): none is made over a
// host's pixels.
Handle dibSectionWrap(void*, std::int32_t, std::int32_t, std::int32_t, int) { return 0; }

// GDI makes every section fresh and zero-filled.
Handle dibSectionCreateForOverwrite(std::int32_t width, std::int32_t height, int bitsPerPixel) {
    return dibSectionCreate(width, height, bitsPerPixel);
}

namespace {
bool deleteNative(Handle handle) {
    switch (GetObjectType(gdi(handle))) {
        case OBJ_BITMAP: return DeleteObject(gdi(handle)) != 0;
        // The stock font is shared by the whole process and stays.
        case OBJ_FONT: return gdi(handle) != GetStockObject(SYSTEM_FONT) && DeleteObject(gdi(handle)) != 0;
        default: break;
    }
    return DestroyIcon(reinterpret_cast<HICON>(handle)) != 0;
}
}  // namespace

bool objectDelete(Handle handle) {
    if (!handle || !deleteNative(handle)) return false;
    objectNoteGone();
    return true;
}

struct DrawSurface {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ previous;  // what the DC held before the bitmap; null until the bitmap is selected
};

namespace {
// The thread's open surfaces and the batch limit it had before the first one
// opened: sessions may overlap while one output replaces another, and the
// limit comes back only when the last of them closes, whatever the order.
thread_local int tOpenSurfaces = 0;
thread_local DWORD tSavedBatchLimit = 0;
}  // namespace

DrawSurface* surfaceOpen(Handle bitmap) {
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return nullptr;
    auto* s = new (std::nothrow) DrawSurface{dc, static_cast<HBITMAP>(gdi(bitmap)), nullptr};
    if (!s) {
        DeleteDC(dc);
        return nullptr;
    }
    if (tOpenSurfaces++ == 0) tSavedBatchLimit = GdiGetBatchLimit();
    GdiSetBatchLimit(1);
    surfaceSelect(s);
    return s;
}

void surfaceSelect(DrawSurface* surface) {
    // A bitmap is selected into one DC at a time: while the surface of the
    // session it replaces still holds it, this selection fails and is tried
    // again once that one has closed.
    if (surface && !surface->previous) surface->previous = SelectObject(surface->dc, surface->bitmap);
}

void surfaceClose(DrawSurface* surface) {
    if (!surface) return;
    if (surface->previous) SelectObject(surface->dc, surface->previous);
    DeleteDC(surface->dc);
    if (--tOpenSurfaces == 0) GdiSetBatchLimit(tSavedBatchLimit);
    delete surface;
}

}  // namespace oct::plat
