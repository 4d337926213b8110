// Bitmap helpers for Linux hosts, which have no GDI to make, read or delete
// the library's bitmaps with.
#include "oct.h"

#ifndef _WIN32

#include <cstring>

#include "platform/bitmaps.h"
#include "platform/handles.h"

using namespace oct;

static_assert(sizeof(OctBitmap) == sizeof(plat::BitmapDesc));

extern "C" {

OCT_API int64_t octBitmapCreate(int64_t width, int64_t height, int64_t bitsPerPixel) {
    if ((bitsPerPixel != 24 && bitsPerPixel != 32) || width <= 0 || height <= 0 || width > INT32_MAX ||
        height > INT32_MAX)
        return 0;
    return static_cast<int64_t>(plat::dibSectionCreate(static_cast<std::int32_t>(width),
                                                       static_cast<std::int32_t>(height),
                                                       static_cast<int>(bitsPerPixel)));
}

OCT_API int64_t octBitmapInfo(int64_t handle, OctBitmap* out) {
    plat::BitmapDesc d{};
    if (!out || !plat::bitmapDescribe(static_cast<plat::Handle>(handle), d)) return 0;
    *out = OctBitmap{d.type, d.width, d.height, d.widthBytes, d.planes, d.bitsPerPixel, d.bits};
    return 1;
}

OCT_API int64_t octBitmapDelete(int64_t handle) {
    const auto h = static_cast<plat::Handle>(handle);
    if (plat::handleKind(h) != plat::HandleKind::Bitmap) return 0;
    return plat::objectDelete(h) ? 1 : 0;
}

}  // extern "C"

#endif
