// Drawing whole bitmaps and icons into a session's output, and grabbing an
// area of it back as a new image. Sources of any kind — DIB sections of any
// depth, device-dependent bitmaps, icons — are converted when needed into a
// bottom-up DIB section of 24 or 32 bits and then combined with the output in
// memory by drwBlit32 / drwBlit24 (draw/blit.h).
#pragma once

#include <cstdint>

#include "draw/context.h"
#include "platform/handles.h"

namespace oct {

// Fills the drawImage, drawImageSized, drawImageAlpha and grabImage entries.
void drwInstallImageOps(DrawContext& c);

// The operation-table entries. Each returns 0: failures draw nothing.
// drawImage: at the bitmap's own size, opacity 255; nothing for a null handle.
std::int64_t drwDrawImage(DrawContext& c, plat::Handle bitmap, std::int32_t x, std::int32_t y);
// drawImageSized: scaled to w × h (−1 keeps that side's own size).
std::int64_t drwDrawImageSized(DrawContext& c, plat::Handle bitmap, std::int32_t x, std::int32_t y, std::int32_t w,
                               std::int32_t h);
// drawImageAlpha: a bitmap (not an icon) blended by its alpha with opacity `alpha`.
std::int64_t drwDrawImageAlpha(DrawContext& c, plat::Handle bitmap, std::int32_t x, std::int32_t y,
                               std::int32_t alpha);
// grabImage: a new image (id AnyId or a number) holding a copy of the
// drawing area's w × h pixels at (x, y), at the output's depth; the parts
// outside the area stay zero. The record's address for AnyId, else the new
// bitmap; 0 on failure, and for the id of the image being drawn on.
std::int64_t drwGrabImage(DrawContext& c, std::int64_t image, std::int32_t x, std::int32_t y, std::int32_t w,
                          std::int32_t h);

// Converts and draws any bitmap or icon handle: scaled to w × h when a side
// is not −1 and differs, with the opacity and alpha flag (icons always blend
// by their alpha). False when a conversion it needed failed (no memory for a
// copy, say) and nothing was drawn; true otherwise, also when clipping leaves
// nothing to draw or a monochrome icon has no colour image to draw.
bool drwBlitHandle(DrawContext& c, plat::Handle handle, std::int32_t x, std::int32_t y, std::int32_t w,
                   std::int32_t h, std::int32_t opacity, bool alphaFlag);

// A new bottom-up DIB section of w × h (−1: the bitmap's own side) holding
// the bitmap: 24 bits for sources of at most 24, else 32. Same size: a depth
// copy; 32 bits: the cubic resampler; at most 24 bits: the platform's
// halftone stretch. 0 on failure.
plat::Handle drwResizeBitmap(plat::Handle bitmap, std::int32_t w, std::int32_t h);

// A device-dependent bitmap copied into a new DIB section of its size, 24
// bits or 32 for more than 24; a 32-bit copy whose alpha bytes are all 0
// becomes opaque. 0 on failure (always on Linux, which has no such bitmaps).
plat::Handle drwDdbToDib(plat::Handle bitmap);

// An icon as a 32-bit bitmap with alpha: its colour bitmap when that carries
// alpha (imgUsesAlpha), otherwise its image with alpha from its mask. The
// caller deletes it. 0 on failure.
plat::Handle drwIconToDib(plat::Handle icon);

}  // namespace oct
