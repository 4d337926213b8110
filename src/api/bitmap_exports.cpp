// Bitmap helpers for Linux hosts, which have no GDI to make, read or delete
// the library's bitmaps with.
#include "oct.h"

#ifndef _WIN32

#include <cstring>

#include "image/limits.h"
#include "platform/bitmaps.h"
#include "platform/fail_reason.h"
#include "platform/handles.h"

using namespace oct;

static_assert(sizeof(OctBitmap) == sizeof(plat::BitmapDesc));

namespace {

using plat::FailCode;

// The bytes of a bitmap of these sides made by octBitmapCreate (rows padded
// to 4 bytes), or -1 when they are more than a DIB section holds.
std::int64_t sectionBytes(std::int64_t width, std::int64_t height, std::int64_t bitsPerPixel) {
    if (width > INT32_MAX || height > INT32_MAX) return -1;
    const std::int64_t row = (width * bitsPerPixel + 31) / 32 * 4;
    return row > kMaxDibSectionBytes || row * height > kMaxDibSectionBytes ? -1 : row * height;
}

// Why the host's description of its pixels cannot be wrapped, recorded as
// the reason; true when it can. Nothing is read from the pixels.
bool wrappable(const void* bits, std::int64_t width, std::int64_t height, std::int64_t pitch,
               std::int64_t bitsPerPixel) {
    const auto w = static_cast<long long>(width), h = static_cast<long long>(height);
    const auto p = static_cast<long long>(pitch), bpp = static_cast<long long>(bitsPerPixel);
    if (!bits) return plat::failSet(FailCode::BadArgument, "no pixels");
    if (bitsPerPixel != 24 && bitsPerPixel != 32)
        return plat::failSet(FailCode::BadArgument, "%lld bits per pixel; a bitmap has 24 or 32", bpp);
    if (width <= 0 || height <= 0)
        return plat::failSet(FailCode::BadArgument, "a bitmap of %lld × %lld pixels; both sides must be 1 or more", w,
                             h);
    // The conversion rebuilds the pixels into a section of this size, so a
    // larger one is refused here, saying so, rather than there.
    if (sectionBytes(width, height, bitsPerPixel) < 0)
        return plat::failSet(FailCode::TooLarge, "a bitmap of %lld × %lld pixels at %lld bits; at most %lld bytes", w, h,
                             bpp, static_cast<long long>(kMaxDibSectionBytes));
    const std::int64_t rowBytes = width * (bitsPerPixel / 8);
    if (pitch > -rowBytes && pitch < rowBytes)
        return plat::failSet(FailCode::BadArgument, "rows %lld bytes apart; a row's pixels take %lld", p,
                             static_cast<long long>(rowBytes));
    if (pitch > INT32_MAX || pitch < -static_cast<std::int64_t>(INT32_MAX))
        return plat::failSet(FailCode::TooLarge, "rows %lld bytes apart; at most %d", p, INT32_MAX);
    // The first row and the last must both lie inside the address space.
    const auto first = reinterpret_cast<std::uintptr_t>(bits);
    const auto reach = static_cast<std::uint64_t>(height - 1) * static_cast<std::uint64_t>(pitch < 0 ? -pitch : pitch);
    if (pitch < 0 ? reach > first : reach + static_cast<std::uint64_t>(rowBytes) > UINTPTR_MAX - first)
        return plat::failSet(FailCode::BadArgument, "rows that would run outside the address space");
    return true;
}

}  // namespace

extern "C" {

OCT_API int64_t octBitmapCreate(int64_t width, int64_t height, int64_t bitsPerPixel) {
    if ((bitsPerPixel != 24 && bitsPerPixel != 32) || width <= 0 || height <= 0 || width > INT32_MAX ||
        height > INT32_MAX)
        return 0;
    return static_cast<int64_t>(plat::dibSectionCreate(static_cast<std::int32_t>(width),
                                                       static_cast<std::int32_t>(height),
                                                       static_cast<int>(bitsPerPixel)));
}

OCT_API int64_t octBitmapWrap(void* bits, int64_t width, int64_t height, int64_t pitch, int64_t bitsPerPixel) {
    plat::failBegin();
    if (!wrappable(bits, width, height, pitch, bitsPerPixel)) return 0;
    const plat::Handle h = plat::dibSectionWrap(bits, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                                                static_cast<std::int32_t>(pitch), static_cast<int>(bitsPerPixel));
    if (!h) plat::failSet(FailCode::NoMemory, "out of memory");
    return static_cast<int64_t>(h);
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
