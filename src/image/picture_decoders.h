// The decoders of the pictures people have — PNG, JPEG, GIF, TIFF and WebP —
// each recognising its format by its signature and decoding through the
// platform's codec (platform.h, "Picture codecs"). On top of the codec they
// check every size before a pixel buffer exists, turn JPEG and TIFF pictures
// upright by their orientation tag, and compose the frames of animations on
// the screen as a viewer shows them.
#pragma once

#include <cstdint>
#include <span>

#include "image/decoder.h"

namespace oct {

// Module start step "picture codecs": registers the five decoders after the
// BMP decoder, in the order PNG, JPEG, GIF, TIFF, WebP, and the PNG encoder;
// a refusal fails the step (modStepFailed).
void imgStartPictureCodecs();

// The format id (formats.h) whose signature starts `data`, among the five,
// BMP and BigTIFF (which no decoder takes); 0 for none. Looks at the first bytes only: the file may still be
// corrupt.
std::uint32_t imgSniffFormat(std::span<const std::uint8_t> data);

// The format's name for people ("PNG", "JPEG", "GIF", "TIFF", "WebP", "BMP",
// "icon", "BigTIFF"), or null for an id it does not know.
const char* imgFormatName(std::uint32_t format);

// What the decoders make of a picture's headers, for tools that describe it.
struct PictureSummary {
    std::uint32_t format;      // the accepting decoder's id (BMP included)
    std::int32_t width;        // as loaded: upright
    std::int32_t height;
    std::int32_t depth;        // bits per pixel of the loaded bitmap: 24, or 32 with alpha
    std::int32_t sourceDepth;  // bits per pixel as stored
    std::int32_t frameCount;
    int orientation;           // the orientation tag applied (1: none)
};

// Fills `out` through the registered decoders, as a load would see the data,
// without decoding pixels. False when no decoder takes the data.
bool imgDescribePicture(std::span<const std::uint8_t> data, PictureSummary& out);

// Whether this system can decode a format id at all: true for BMP and
// icons, and for the five when the platform has their codec.
bool imgHasCodec(std::uint32_t format);

// The largest width and height of a decoded picture: the image object keeps
// sides as 16-bit values.
constexpr std::int32_t kMaxPictureSide = 32767;

// The largest number of frames of an animation, and of all its frames'
// bitmaps together: a load of every frame keeps each one's bitmap, so a few
// hundred bytes of tiny frames on a large screen would otherwise ask for
// gigabytes. A load of the first frame is held to the same, so that whether
// a picture loads does not depend on how much of it is asked for.
constexpr std::int32_t kMaxPictureFrames = 4096;
// The largest still picture at 4 bytes a pixel: 16384 × 16384.
constexpr std::int64_t kMaxPictureBytes = std::int64_t{1} << 30;
// Up to this (at 4 bytes a pixel) a picture may declare any size its data
// cannot fill; above it the data must suffice (plat::pictureDataSuffices).
constexpr std::int64_t kUnbackedPictureBytes = std::int64_t{64} << 20;
constexpr std::int64_t kMaxAnimationBytes = std::int64_t{1} << 30;

}  // namespace oct
