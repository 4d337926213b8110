// Handles of the layer's objects (bitmaps, icons, fonts) as 64-bit values on
// both systems, what kind of object one names, and deleting one.
#pragma once

#include <cstdint>

namespace oct::plat {

// A GDI object handle as a 64-bit value: HBITMAP or HICON on Windows; on Linux
// a handle of the layer's own objects, checked against the live set before
// use, so a forged or stale handle is refused rather than followed.
using Handle = std::uint64_t;

enum class HandleKind { None, Bitmap, Icon, Font };

// What a handle names; None for 0, a dead or a forged handle.
HandleKind handleKind(Handle handle);

// Deletes a bitmap or a font (DeleteObject), or destroys an icon. False when
// the handle names none of them, and for the stock font, which is shared.
bool objectDelete(Handle handle);

}  // namespace oct::plat
