// The icon reader: recognises the bytes of an icon file (docs/formats/icon.md),
// picks one of its images and has the platform build an icon from it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/handles.h"

namespace oct {

// The chosen image of an icon file, copied out of the caller's data into a
// main-heap block. Freed with imgFreeIconResource.
struct IconResource {
    std::uint8_t* bytes;  // the image's bytes (a BITMAPINFOHEADER image or a PNG stream)
    std::uint32_t size;   // their count, at least 1
    std::uint32_t entry;  // index of the chosen directory entry
    std::uint16_t width;  // the entry's width and height bytes, 0 read as 256
    std::uint16_t height;
};

// Reads the directory of an icon file held in `size` bytes and copies the
// chosen image: among the entries whose width and height bytes equal entry
// 0's, the one with the highest bit count, the earliest on a tie. Null when
// the data is not an icon file (reserved word not 0, type not 1 — a cursor
// is type 2 — or no entries), when the directory or the chosen image does
// not lie inside the data, or when there is no memory for the copy.
IconResource* imgReadIconDirectory(const std::uint8_t* data, std::size_t size);

// One directory entry of an icon file as stored, for tools that list them.
struct IconEntryInfo {
    std::uint16_t width;  // 0 in the file read as 256
    std::uint16_t height;
    std::uint8_t colourCount;
    std::uint16_t planes;
    std::uint16_t bitCount;
    std::uint32_t bytes;   // size of the entry's image
    std::uint32_t offset;  // of the image, from the start of the file
};

// Entry `index` of the directory of the icon file in `size` bytes. False
// when the data is not an icon directory (as for imgReadIconDirectory) or
// has no such entry.
bool imgIconEntryAt(const std::uint8_t* data, std::size_t size, std::uint32_t index, IconEntryInfo& out);

// Frees a resource of imgReadIconDirectory. Null does nothing.
void imgFreeIconResource(IconResource* resource);

// An icon built from the chosen image of the icon file in `size` bytes, at
// the size its own header gives; when that fails, at the system's default
// size (except for 16-bit images). 0 when the data is not an icon file, when
// the chosen image is a PNG stream whose header gives another size than its
// directory entry, or when no icon can be made. Nothing is left allocated.
plat::Handle imgIconFromMemory(const std::uint8_t* data, std::size_t size);

}  // namespace oct
