// Alpha support for drawing images and icons: the system's alpha-blend entry
// point, loaded once at start, the test whether a bitmap carries alpha worth
// blending, and the pixels of any bitmap.
#pragma once

#include <cstdint>

#include "platform/handles.h"

namespace oct {

// Start step: loads "msimg32.dll" and looks up "AlphaBlend"; either may be
// missing, nothing fails. Stop step: frees the library.
void imgStartAlpha();
void imgStopAlpha();

// The loaded AlphaBlend entry, or null.
void* imgAlphaBlendEntry();
// True when images can be blended by their alpha channel: the AlphaBlend
// entry was found, or the platform layer blends alpha itself (Linux).
bool imgAlphaBlendPresent();

// The pixels of a bitmap. A DIB section gives its own rows (its order and
// depth) with `copied` = 0. A device-dependent bitmap is copied into a new
// main-heap buffer of top-down 32-bit rows (width × 4 bytes each) with
// `copied` = 1; the caller frees it with memMainFree. Null for what is not a
// bitmap, or when no row can be copied.
std::uint8_t* imgBitmapBits(plat::Handle bitmap, std::int32_t& copied);

// 1 when the bitmap carries alpha worth blending: alpha blending is present
// and the bitmap is a 32-bit DIB section (whatever its alpha bytes), or a
// 32-bit device-dependent bitmap with at least one non-zero alpha byte.
// 0 otherwise, and for anything that is not a bitmap.
std::int32_t imgUsesAlpha(plat::Handle bitmap);

}  // namespace oct
