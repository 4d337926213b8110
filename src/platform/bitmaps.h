// Bitmaps and icons: DIB sections and their descriptions, the device contexts
// a drawing session holds, icons built from an icon file's images, and the
// conversions that drawing a bitmap or an icon into an image needs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/handles.h"

namespace oct::plat {

// The description of a bitmap, laid out as the Windows BITMAP record.
struct BitmapDesc {
    std::int32_t type;          // 0
    std::int32_t width;
    std::int32_t height;        // positive, for bottom-up and top-down DIB sections alike
    std::int32_t widthBytes;    // row bytes, padded to a multiple of 4; for a section over a host's
                                // memory (dibSectionWrap) its pitch, which may be negative or unpadded
    std::uint16_t planes;       // 1
    std::uint16_t bitsPerPixel;
    void* bits;                 // the pixels, or null when not directly addressable
};
static_assert(sizeof(BitmapDesc) == (sizeof(void*) == 8 ? 32 : 24));  // 32 with 64-bit pointers, as BITMAP

// Fills `out` for a bitmap handle (the 32-byte BITMAP). False for anything
// that is not a live bitmap.
bool bitmapDescribe(Handle handle, BitmapDesc& out);

// True when the handle is a DIB section whose full description (DIBSECTION)
// holds a bits pointer. `topDown`, when given, tells whether its rows are
// stored top row first (a negative height in its header).
bool bitmapIsDibSection(Handle handle, bool* topDown = nullptr);

// A zero-filled bottom-up DIB section of `width` × `height` pixels (BI_RGB,
// no colour table, rows padded to 4 bytes) with the larger of bitsPerPixel
// and 24 bits; 0 when the bit count is not 24 or 32 after that, or on failure.
Handle dibSectionCreate(std::int32_t width, std::int32_t height, int bitsPerPixel);

// The same with its bytes unspecified, for a caller that writes every byte of
// every row, padding included: on Linux a large one may take the memory of a
// section deleted before, as it was left, which spares the clearing and
// faulting of fresh pages; on Windows it is the same as dibSectionCreate.
Handle dibSectionCreateForOverwrite(std::int32_t width, std::int32_t height, int bitsPerPixel);

// A bottom-up DIB section over pixels that the caller owns and keeps alive
// while the section lives. Linux only, where the library's bitmaps are its
// own objects; 0 on Windows, whose sections own their memory. `bits` is the
// first row in memory order, the bottom row; `pitch` the bytes from it to
// the next row up, negative when the rows run downward in memory (a
// top-row-first raster seen bottom-up, `bits` then being its last row), and
// of any size at least a row of pixels. Deleting the section leaves the
// memory alone, and octConvert only reads it. 0 for null bits, sides of 0
// or less, a depth other than 24 or 32 bits, a pitch shorter than a row, or
// (with a reason) when memory runs out.
Handle dibSectionWrap(void* bits, std::int32_t width, std::int32_t height, std::int32_t pitch, int bitsPerPixel);

// A zero-filled top-down DIB section (top row first: a negative height in its
// header) of `width` × `height` pixels at 24 bits, BI_RGB, rows padded to 4
// bytes: the raster that text is rendered into. 0 on failure.
Handle dibSectionCreateTopDown(std::int32_t width, std::int32_t height);

// While a drawing session runs on a bitmap: a memory device context with the
// bitmap selected and the thread's GDI batch limit at 1. Null on failure.
// Surfaces of one thread may overlap; the batch limit the thread had before
// its first open surface comes back when its last one closes.
struct DrawSurface;
DrawSurface* surfaceOpen(Handle bitmap);
// Selects the bitmap where surfaceOpen could not because another open
// surface held it then (a bitmap is in one device context at a time).
void surfaceSelect(DrawSurface* surface);
// Deselects and deletes the device context and restores the batch limit.
void surfaceClose(DrawSurface* surface);

// ---------------------------------------------------------------------------
// Icons
// ---------------------------------------------------------------------------

// Builds an icon from one image of an icon file — a BITMAPINFOHEADER image
// (colour rows, then the AND mask; its height counts both) or a PNG stream —
// at the desired size (CreateIconFromResourceEx, version 0x00030000,
// LR_DEFAULTCOLOR); a desired side of 0 takes the image's own. 0 when no icon
// can be made from the bytes: an image that does not lie within `size` or
// breaks the limits of platform/icon_image.h, or a negative desired side or
// one above kIconMaxSide. A 1-bit image whose table starts with black and
// white becomes a monochrome icon, which has no colour bitmap.
Handle iconFromResource(const std::uint8_t* data, std::size_t size, std::int32_t width, std::int32_t height);
// The same at the system's default icon size (32 × 32), as
// CreateIconFromResource builds it, but not shared: objectDelete destroys it.
Handle iconFromResourceDefault(const std::uint8_t* data, std::size_t size);
// Describes the icon's colour bitmap as GetIconInfo + GetObjectW would
// (the colour bitmap's BITMAP: a 32-bit device bitmap of the icon's size).
// Its bits are always null: the pixels are not addressable. False for what is
// not an icon, and for a monochrome icon that has no colour bitmap.
bool iconDescribe(Handle icon, BitmapDesc& colour);

// ---------------------------------------------------------------------------
// Converting bitmaps and icons for image drawing
// ---------------------------------------------------------------------------

// Copies `source` into the DIB section `destination` of the same size,
// converting the depth (BitBlt SRCCOPY). From 24 to 32 bits the alpha bytes
// become 0; from 32 to 24 they are dropped. False when either handle is not
// a bitmap, the sizes differ or the copy fails.
bool bitmapCopy(Handle destination, Handle source);

// Stretches a bitmap of at most 24 bits per pixel into the 24-bit DIB section
// `destination` of another size. Windows: StretchBlt in HALFTONE mode with
// the brush origin at (0, 0). Linux: area averaging — every output pixel is
// the mean of the source area it covers, each source pixel weighted by the
// part of it that lies inside, rounded to nearest. False when a handle is not
// a bitmap of the kinds above or memory runs out.
bool bitmapStretchHalftone(Handle destination, Handle source);

// Copies every row of a bitmap into `out` at 24 or 32 bits per pixel, rows
// padded to 4 bytes, top row first when `topDown`, else bottom row first
// (GetDIBits, DIB_RGB_COLORS). From 24 to 32 bits the alpha bytes are 0.
// `out` holds height × row bytes. The number of rows copied; 0 on failure.
std::int32_t bitmapReadRows(Handle bitmap, int bitsPerPixel, bool topDown, void* out);

// The icon's colour bitmap (GetIconInfo; the mask is deleted), owned by the
// caller: on Windows a device-dependent bitmap, on Linux a 32-bit DIB section
// of the icon's pixels and alpha. 0 for what is not an icon and for a
// monochrome icon.
Handle iconColourBitmap(Handle icon);

// A new 32-bit DIB section of the colour bitmap's size holding the icon's
// colour image (DrawIconEx with DI_IMAGE) with each alpha byte from the mask:
// 255 where the mask is black, 0 elsewhere. 0 for what is not an icon, for a
// monochrome icon and on failure.
Handle iconRenderMasked(Handle icon);

// True when the layer blends by alpha without a system library: on Linux,
// where bitmaps and icons are the layer's own objects whose alpha channel is
// kept in full and every blend is the library's own pixel code. False on
// Windows, where the capability is AlphaBlend of msimg32.dll, found at run time.
bool alphaBlendBuiltIn();

// A device-dependent bitmap (compatible with the screen) of 32 bits holding
// `pixels` (width × height B, G, R, A, top row first), for tests of the
// conversions that such bitmaps need. Windows only: 0 on Linux, which has
// no device-dependent bitmaps.
Handle deviceBitmapCreate(std::int32_t width, std::int32_t height, const std::uint8_t* pixels);

}  // namespace oct::plat
