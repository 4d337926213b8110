// What a picture's own headers declare, read before any codec sees the
// bytes. Some codecs allocate for the whole picture (every GIF frame, every
// PNG row) as soon as they are opened, so a picture that declares more than
// the caller allows must be refused here, before they are asked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/pictures.h"

namespace oct::plat {

struct PictureHeader {
    std::int32_t width = 0;        // GIF: the logical screen, widened to hold the first frame; WebP: the canvas
    std::int32_t height = 0;
    std::int32_t sourceDepth = 0;  // samples × bits per sample; a palette's index bits
    bool alpha = false;            // an alpha channel or a transparent colour is declared (GIF: for frame 0)
    std::uint32_t clearColour = 0; // GIF: frame 0's transparent colour, red << 16 | green << 8 | blue
    std::int32_t frameCount = 1;   // GIF: image descriptors; WebP: animation frames; else 1
    std::int32_t largestFrameSide = 0;  // GIF: the widest or highest frame rectangle
    std::int64_t frameArea = 0;    // GIF: the frames' areas added up (what a whole-file reader holds)
    bool bigEndian = false;        // TIFF: samples wider than a byte stored high byte first ("MM")
};

// Reads the headers of a picture of `format`. False when the bytes are not
// such a picture or are damaged where they were read: a PNG whose critical
// chunks do not fit or fail their CRC, a GIF whose blocks run past the end
// before any frame, a JPEG without a frame header, a TIFF whose first
// directory lies outside the bytes. Never reads outside `data[0, size)`.
// Sizes are reported as declared; pictureHeaderWithin checks them.
bool pictureHeaderRead(PictureFormat format, const std::uint8_t* data, std::size_t size, PictureHeader& header);

// True when the declared picture lies within `limits`: width and height in
// 1 .. maxSide, width × height × 4 bytes at most maxBytes, at most maxFrames
// frames, no frame rectangle beyond maxSide and the frames' areas together
// at most maxBytes.
bool pictureHeaderWithin(const PictureHeader& header, const PictureLimits& limits);

// The one gate that a picture passes, on every system, before any codec is
// opened for it: its headers read (pictureHeaderRead), what they declare
// within `limits` (pictureHeaderWithin), and data enough to fill it
// (pictureDataSuffices). For HEIF, AVIF and JPEG XL only the sides are read
// here; their codecs check the same limits again from what they parse.
// False refuses the picture; `header` holds what was read either way.
bool pictureHeaderAdmits(PictureFormat format, const std::uint8_t* data, std::size_t size,
                         const PictureLimits& limits, PictureHeader& header);

}  // namespace oct::plat
