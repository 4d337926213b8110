// Picture codecs: PNG, JPEG, GIF, TIFF and WebP through the system's own
// (WIC on Windows; libspng, libjpeg-turbo, giflib, libtiff and libwebp on Linux);
// HEIF, AVIF and JPEG XL on Linux alone (libheif, libjxl), which apply the
// orientation these formats carry themselves.
// Both give the same pixels by these rules:
//   - 16-bit samples become their high byte (v >> 8); gray samples of 1, 2
//     and 4 bits are scaled by bit replication; palettes are expanded; gray
//     goes into blue, green and red alike.
//   - No colour management: gamma, chromaticities, sRGB and ICC profiles are
//     ignored. CMYK and YCCK JPEGs are taken to be stored inverted, as
//     Adobe's are, with or without Adobe's marker (as Pillow takes them),
//     and become RGB by the same integer rule as Pillow's conversion to RGB.
//   - Alpha is straight, never premultiplied; colour stored premultiplied (a
//     TIFF's associated alpha) is made straight as Pillow does it: 255 × c / a,
//     truncated, and left alone where a is 0 or 255.
//   - Orientation (EXIF, TIFF tag 274) is not applied here: the image layer
//     reads it and turns the picture upright itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oct::plat {

// The formats. The image layer recognises each by its signature before it asks.
enum class PictureFormat : std::uint8_t { Png, Jpeg, Gif, Tiff, WebP, Heif, Avif, Jxl };

// What a codec may allocate for one picture; a header that asks for more is
// refused before any pixel buffer exists.
struct PictureLimits {
    std::int32_t maxSide;    // width and height each in 1 .. maxSide
    std::int64_t maxBytes;   // any one allocation, and width × height × 4
    std::int32_t maxFrames;  // frames of an animation
    // A picture whose width × height × 4 is above this must come with data
    // enough to fill it (pictureDataSuffices); at most this, it need not.
    std::int64_t unbackedBytes = INT64_MAX;
};

// Whether `size` bytes of `format` can hold a picture of width × height: true
// up to limits.unbackedBytes; above it, when the picture has no more pixels
// than the format's coder can give from that many bytes. Each format's
// coders have a largest expansion (PNG: deflate's 1032 to 1 on a bit a pixel;
// GIF: a code of at least 3 bits for at most 4096 pixels; JPEG: at least one
// bit for each 8 × 8 block's DC; TIFF: a blank row of group 4 fax in one
// bit), so a few hundred bytes declaring a huge picture are refused before
// anything is allocated for it. A lossless WebP of one colour costs no bits a
// pixel, so WebP has no such bound; it is held to PNG's.
bool pictureDataSuffices(PictureFormat format, std::int64_t width, std::int64_t height, std::size_t size,
                         const PictureLimits& limits);
// The same rule for `pixels` in all, whatever their shape: an animation's
// frames, each kept as a bitmap of the whole screen.
bool pictureDataSufficesFor(PictureFormat format, std::int64_t pixels, std::size_t size, const PictureLimits& limits);

// What a picture's headers say.
struct PictureInfo {
    std::int32_t width;        // pixels; GIF and animated WebP: the logical screen (canvas), for GIF
    std::int32_t height;       // widened to hold the first frame where it reaches past the declared one
    std::int32_t sourceDepth;  // bits per pixel as stored: samples × bits per sample; a palette's index bits
    bool alpha;                // an alpha channel or a transparent colour (PNG types 4 and 6 or tRNS, a
                               // transparent index in a GIF's first frame, WebP alpha, a TIFF extra alpha sample)
    std::int32_t frameCount;   // 1 for still pictures; TIFF: the first page only
    std::uint32_t clearColour; // red << 16 | green << 8 | blue of the screen where nothing is drawn (with
                               // alpha 0): a GIF's first frame's transparent colour, as viewers fill it; else 0
};

// How a frame leaves the screen before the next one is laid (GIF, WebP).
enum class FrameDisposal : std::uint8_t {
    Keep,        // it stays
    Background,  // its rectangle becomes transparent
    Previous,    // its rectangle goes back to what it was before the frame
};

// One frame as stored: the rectangle it covers on the screen and how it is
// laid there. A still picture has one frame covering the whole picture.
struct PictureFrame {
    std::int32_t left, top, width, height;  // inside the screen (a codec clips what lies outside; a frame
                                            // wholly outside is empty, and decoding it writes nothing)
    std::int32_t delayMs;                   // display time in milliseconds; 0 for still pictures
    FrameDisposal disposal;
    bool blend;  // laid over the screen by its alpha (GIF: transparent pixels show what is below); false replaces
};

struct PictureReader;  // a codec's state for one picture

// Opens a picture held in memory; `data` stays the caller's and must outlive
// the reader. Reads the headers only. Null when the platform has no codec for
// the format (WebP and JPEG-in-TIFF under wine), the headers are corrupt or
// beyond `limits`, or memory runs out. Both systems first pass the bytes
// through the one gate of platform/picture_header.h (pictureHeaderAdmits), so
// that sizes refuse a picture on both or on neither. Thread-safe: any thread
// may open and use its own readers (on Windows COM is initialised on the
// calling thread).
PictureReader* pictureOpen(PictureFormat format, const std::uint8_t* data, std::size_t size,
                           const PictureLimits& limits, PictureInfo& info);

// Frame `index` (0 .. frameCount − 1). False when it cannot be read.
bool pictureFrameInfo(PictureReader* reader, std::int32_t index, PictureFrame& frame);

// Decodes frame `index` into frame.height rows of frame.width pixels, each
// `bytesPerPixel` bytes: 3 (blue, green, red) or 4 (blue, green, red, straight
// alpha; 255 where the picture has none). `rows` is the first row in memory,
// rows lie `pitch` bytes apart (pitch > 0), and with `bottomUp` the first row
// in memory is the frame's bottom row. Pixels of a GIF's transparent index
// keep their palette colour with alpha 0 (as Pillow shows them). False on a
// truncated or corrupt stream; the rows may then be partly written.
bool pictureDecode(PictureReader* reader, std::int32_t index, std::uint8_t* rows, std::int32_t pitch,
                   std::int32_t bytesPerPixel, bool bottomUp);

// Ends the reader and frees what it holds; null does nothing. Called on the
// thread that opened it.
void pictureClose(PictureReader* reader);

// Whether this system has a codec for the format at all (wine has none for
// WebP; Windows none here for HEIF, AVIF and JPEG XL), so that a refusal can say "no codec" rather than "corrupt".
bool pictureHasCodec(PictureFormat format);

}  // namespace oct::plat
