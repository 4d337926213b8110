// Image objects: a bitmap (or, for images read from icon data, an icon) with
// a small record of its size and depth, kept in the image table and addressed
// by id — a number of 0 or more, or AnyId for a dynamic image whose id is its
// record's address.
//
// Every image bitmap is a bottom-up DIB section of 24 or 32 bits whose rows
// are padded to a multiple of 4 bytes.
#pragma once

#include <cstdint>

#include "image/formats.h"
#include "platform/handles.h"
#include "runtime/object_table.h"

namespace oct {

// One frame of a multi-frame image.
struct ImageFrame {
    plat::Handle bitmap;
    std::int32_t delay;
};

// The image table's record. The handle is non-zero exactly while the image is live.
struct ImageObject {
    plat::Handle handle;          // DIB section, or icon for an image read from icon data
    std::int32_t width;           // pixels; held in full (no 16-bit truncation)
    std::int32_t height;
    std::uint8_t depth;           // bits per pixel of the held bitmap: 24 or 32
    std::uint8_t sourceDepth;     // bits per pixel of the source file; saves default to it
    std::uint32_t format;         // format id (formats.h) of the decoder or icon data it came from, or 0 for a created image
    std::int32_t frameCount;      // 1, or the number of frames a decoder reported
    std::int32_t firstFrameDelay; // delay of frame 0 when frameCount > 1
    ImageFrame* frames;           // frameCount entries when frameCount > 1 (owns their bitmaps), else null
};

// Module start: creates the image table (16 slots, growth 16). Stop: frees every live image.
void imgStartModule();
void imgStopModule();

// The image table, for the loaders that enter images into it.
ObjectTable* imgTable();

// A blank image of width × height pixels and the given depth (32 gives a
// 32-bit bitmap, anything else 24), every pixel the background colour
// (0x00BBGGRR; on 32 bits −1 means transparent black and any other colour is
// made opaque). Returns the record's address for AnyId, the bitmap handle for a
// number, 0 on failure (with nothing left behind; a re-used number ends up empty).
std::int64_t imgCreateImage(std::int64_t id, std::int32_t width, std::int32_t height, std::int32_t depth,
                            std::uint32_t background = 0);

// The same with the pixels unspecified (plat::dibSectionCreateForOverwrite),
// for a caller that writes every pixel and then clears the row padding
// (imgZeroRowPadding).
std::int64_t imgCreateImageForOverwrite(std::int64_t id, std::int32_t width, std::int32_t height, std::int32_t depth);

// Frees one image, or every image for AnyId. The image table's free callback.
void imgFreeImage(std::int64_t id);

// Non-zero when id names an image of the table.
std::int64_t imgIsImage(std::int64_t id);

// The handle of a live image, else 0.
plat::Handle imgImageHandle(std::int64_t id);

// The live image record of an id, else null.
ImageObject* imgGetImage(std::int64_t id);

// A new zero-filled bottom-up DIB section (depth 32 → 32 bits, up to 24 → 24 bits), or 0.
plat::Handle imgCreateDIBSection(std::int32_t width, std::int32_t height, std::int32_t depth);

// Bytes per DIB row for 1, 4, 8, 15, 16, 24 and 32 bits per pixel; 0 for any
// other bit count or a negative width.
std::int64_t imgRowBytes(std::int64_t width, std::int32_t bitsPerPixel);

// Zeroes the bytes past each row's `width` pixels of `bytesPerPixel` bytes up
// to `rowBytes`, in `height` rows `rowBytes` apart: the padding a fresh
// bitmap has, for rows filled from somewhere else.
void imgZeroRowPadding(void* bits, std::int32_t width, std::int32_t height, std::int64_t rowBytes,
                       int bytesPerPixel);

}  // namespace oct
