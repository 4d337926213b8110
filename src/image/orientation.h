// Picture orientation: the EXIF / TIFF Orientation tag (274), which says how
// the stored rows must be turned to show the picture upright, read by one
// bounded parser for JPEG and TIFF files alike, and the turning itself.
#pragma once

#include <cstdint>
#include <span>

namespace oct {

// The eight values of the tag, by where the first stored row and column go.
//   1 as stored                  5 transposed (mirrored across the main diagonal)
//   2 mirrored left to right     6 turned 90° clockwise
//   3 turned 180°                7 transversed (mirrored across the other diagonal)
//   4 mirrored top to bottom     8 turned 90° anticlockwise
constexpr int kOrientationUpright = 1;

// True for 5 to 8, which swap width and height.
constexpr bool imgOrientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

// The orientation a TIFF structure gives: tag 274 of its first directory,
// read in the structure's own byte order ("II" or "MM"). 1 when the tag is
// absent, malformed, outside 1..8, or anything lies beyond the data.
int imgTiffOrientation(std::span<const std::uint8_t> tiff);

// The orientation of a JPEG file: from its first APP1 segment that starts
// "Exif\0\0" (a TIFF structure follows), looked for among the segments
// before the first scan. 1 when there is none or it cannot be read.
int imgJpegOrientation(std::span<const std::uint8_t> jpeg);

// Turns a picture upright: `source` holds `height` rows of `width` pixels of
// `bytesPerPixel` bytes, top row first, `sourcePitch` bytes apart; the result
// goes to a bottom-up bitmap (first stored row = bottom row) of
// `targetPitch`-byte rows, which is width × height, or height × width when
// the orientation swaps sides. Only the pixel bytes are written. Values
// outside 2..8 copy the picture as it is.
void imgTurnUpright(const std::uint8_t* source, std::int32_t width, std::int32_t height, std::int64_t sourcePitch,
                    int bytesPerPixel, int orientation, std::uint8_t* target, std::int64_t targetPitch);

}  // namespace oct
