// The Linux picture codecs behind pictureOpen .. pictureClose: one table of
// functions per format (picture_png.cpp, picture_jpeg.cpp, picture_gif.cpp,
// picture_tiff.cpp, picture_webp.cpp) and the helpers they share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/pictures.h"

namespace oct::plat {

struct PictureCodec;

// Every codec's state begins with this, so picture.cpp can dispatch.
struct PictureReader {
    const PictureCodec* codec;
};

// Where decoded rows go, as the caller laid them out.
struct RowTarget {
    std::uint8_t* rows;     // first row in memory
    std::int32_t pitch;     // > 0
    std::int32_t bpp;       // 3 (blue, green, red) or 4 (and straight alpha)
    bool bottomUp;          // the first row in memory is the frame's bottom row
    std::int32_t width;     // of the frame
    std::int32_t height;

    // Row `y` of the frame, counted from its top.
    std::uint8_t* row(std::int32_t y) const {
        const std::int32_t at = bottomUp ? height - 1 - y : y;
        return rows + static_cast<std::ptrdiff_t>(at) * pitch;
    }
};

// Codec entry points. picture.cpp has checked the arguments before it calls
// frameInfo and decode: the index is in range and the target fits the frame.
struct PictureCodec {
    PictureReader* (*open)(const std::uint8_t* data, std::size_t size, const PictureLimits& limits,
                           PictureInfo& info);
    bool (*frameInfo)(PictureReader* reader, std::int32_t index, PictureFrame& frame);
    bool (*decode)(PictureReader* reader, std::int32_t index, const RowTarget& target);
    void (*close)(PictureReader* reader);
};

extern const PictureCodec kPngCodec;
extern const PictureCodec kJpegCodec;
extern const PictureCodec kGifCodec;
extern const PictureCodec kTiffCodec;
extern const PictureCodec kWebPCodec;
extern const PictureCodec kHeifCodec;  // picture_heif.cpp
extern const PictureCodec kAvifCodec;  // picture_avif.cpp
extern const PictureCodec kJxlCodec;   // picture_jxl.cpp

// True when a width × height picture may be decoded under `limits`: each side
// in 1 .. maxSide and width × height × 4 bytes within maxBytes.
bool pictureFits(const PictureLimits& limits, std::int64_t width, std::int64_t height);

// Frame `index` of a still picture of width × height: frame 0, covering it.
bool pictureStillFrame(std::int32_t width, std::int32_t height, std::int32_t index, PictureFrame& frame);

// Pillow's rule for making premultiplied colour straight (platform/pictures.h):
// 255 × c / a, left alone where a is 0 or 255.
inline std::uint8_t unpremultiply(std::uint32_t c, std::uint32_t a) {
    if (a == 0 || a == 255) return static_cast<std::uint8_t>(c);
    const std::uint32_t v = 255 * c / a;
    return static_cast<std::uint8_t>(v < 255 ? v : 255);
}

// Writes one pixel at column x of a target row from blue, green, red, alpha.
inline void putPixel(std::uint8_t* row, std::int32_t x, std::int32_t bpp, std::uint8_t b, std::uint8_t g,
                     std::uint8_t r, std::uint8_t a) {
    std::uint8_t* p = row + static_cast<std::ptrdiff_t>(x) * bpp;
    p[0] = b;
    p[1] = g;
    p[2] = r;
    if (bpp == 4) p[3] = a;
}

// Writes `width` pixels of RGB (channels 3) or RGBA (channels 4) samples to
// a target row of `bpp` bytes a pixel. Opaque when the source has no alpha.
void putRgbRow(std::uint8_t* row, const std::uint8_t* rgb, std::int32_t width, int channels, std::int32_t bpp);

}  // namespace oct::plat
