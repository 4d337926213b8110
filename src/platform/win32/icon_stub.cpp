// TEMPORARY stand-in for the icon entry points until src/platform/win32/icon.cpp
// lands: the plain USER32 calls, enough for the loader's tests. Remove at merge.
#include <windows.h>

#include "platform/platform.h"

namespace oct::plat {

Handle iconFromResource(const std::uint8_t* data, std::size_t size, std::int32_t width, std::int32_t height) {
    if (!data || size == 0 || size > MAXDWORD) return 0;
    return reinterpret_cast<Handle>(CreateIconFromResourceEx(const_cast<PBYTE>(data), static_cast<DWORD>(size), TRUE,
                                                             0x00030000, width, height, LR_DEFAULTCOLOR));
}

Handle iconFromResourceDefault(const std::uint8_t* data, std::size_t size) {
    if (!data || size == 0 || size > MAXDWORD) return 0;
    return reinterpret_cast<Handle>(
        CreateIconFromResource(const_cast<PBYTE>(data), static_cast<DWORD>(size), TRUE, 0x00030000));
}

bool iconDescribe(Handle icon, BitmapDesc& colour) {
    ICONINFO info;
    if (!icon || !GetIconInfo(reinterpret_cast<HICON>(icon), &info)) return false;
    BITMAP bm;
    const bool ok = info.hbmColor && GetObjectW(info.hbmColor, sizeof bm, &bm) == sizeof bm;
    if (ok) colour = {bm.bmType, bm.bmWidth, bm.bmHeight, bm.bmWidthBytes, bm.bmPlanes, bm.bmBitsPixel, bm.bmBits};
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return ok;
}

}  // namespace oct::plat
