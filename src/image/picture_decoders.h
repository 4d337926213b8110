// The decoders of the pictures people have — PNG, JPEG, GIF, TIFF and WebP —
// each recognising its format by its signature and decoding through the
// platform's codec (platform/pictures.h). On top of the codec they
// check every size before a pixel buffer exists, turn JPEG and TIFF pictures
// upright by their orientation tag, and compose the frames of animations on
// the screen as a viewer shows them.
#pragma once

#include <cstdint>
#include <span>

#include "image/decoder.h"

namespace oct {

// Module start step "picture codecs": registers the five decoders after the
// BMP decoder, in the order PNG, JPEG, GIF, TIFF, WebP; a refusal fails the
// step (modStepFailed).
void imgStartPictureCodecs();

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

}  // namespace oct
