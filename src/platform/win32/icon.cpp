// Icons on Windows: USER32 builds them from icon-file images.
#include <windows.h>

#include "platform/icon_image.h"
#include "platform/fail_points.h"
#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "platform/handles.h"

namespace oct::plat {
namespace {

constexpr DWORD kIconVersion = 0x00030000;

// USER32 trusts the image's header and reads the rows it declares wherever
// they lie, so every image is checked against its size first.
bool acceptable(const std::uint8_t* data, std::size_t size, IconImage& image) {
    return size <= MAXDWORD && iconImageRead(data, size, image);
}

}  // namespace

Handle iconFromResource(const std::uint8_t* data, std::size_t size, std::int32_t width, std::int32_t height) {
    if (failThisCall(FailKind::Icon)) return 0;
    IconImage image;
    std::int32_t builtWidth, builtHeight;
    if (!acceptable(data, size, image) || !iconBuiltSize(image, width, height, builtWidth, builtHeight)) return 0;
    HICON icon = CreateIconFromResourceEx(const_cast<PBYTE>(data), static_cast<DWORD>(size), TRUE, kIconVersion,
                                          width, height, LR_DEFAULTCOLOR);
    if (icon) objectNoteMade();
    return reinterpret_cast<Handle>(icon);
}

// CreateIconFromResource would build the same icon as a shared one, which
// DestroyIcon reports destroyed but keeps: every such icon would leak. The
// same call without LR_SHARED gives the system's default size and an icon that
// objectDelete really destroys.
Handle iconFromResourceDefault(const std::uint8_t* data, std::size_t size) {
    if (failThisCall(FailKind::Icon)) return 0;
    IconImage image;
    if (!acceptable(data, size, image)) return 0;
    HICON icon = CreateIconFromResourceEx(const_cast<PBYTE>(data), static_cast<DWORD>(size), TRUE, kIconVersion, 0, 0,
                                          LR_DEFAULTSIZE);
    if (icon) objectNoteMade();
    return reinterpret_cast<Handle>(icon);
}

bool iconDescribe(Handle icon, BitmapDesc& colour) {
    if (!icon) return false;
    ICONINFO info;
    if (!GetIconInfo(reinterpret_cast<HICON>(icon), &info)) return false;
    bool ok = false;
    BITMAP bm;
    if (info.hbmColor && GetObjectW(info.hbmColor, sizeof bm, &bm) == sizeof bm) {
        // The bitmaps are copies that are deleted below, so a bits pointer
        // would outlive its pixels; none is reported.
        colour = {bm.bmType, bm.bmWidth, bm.bmHeight, bm.bmWidthBytes, bm.bmPlanes, bm.bmBitsPixel, nullptr};
        ok = true;
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return ok;
}

}  // namespace oct::plat
