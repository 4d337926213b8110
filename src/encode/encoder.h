// Image saving: a registry of encoders by four-character id, and the save
// call that hands an image's pixels to the encoder entry that suits them,
// flattening 32-bit pixels onto white where 24-bit input is needed.
#pragma once

#include <cstdint>

#include "image/formats.h"

namespace oct {

// Mode bit: the rows lie bottom-up in memory (the first row in memory is the bottom row).
constexpr std::int32_t kEncodeBottomUp = 2;
// The output depth of a save that names none: the image's source depth.
constexpr std::int32_t kSourceDepth = -1;

// The rows an encoder reads: `height` rows of `width` pixels, the first row
// as it lies in memory at `pixels`, each `pitch` bytes after the one before.
struct PixelRows {
    const std::uint8_t* pixels;
    std::int32_t width;
    std::int32_t height;
    std::int32_t pitch;
    std::int32_t mode;  // kEncodeBottomUp when the first row in memory is the picture's bottom row
};

// What a save asks of the encoder, by name, so that an encoder with options
// of its own adds a field here rather than another argument everywhere.
struct EncodeOptions {
    std::int32_t flags = 7;             // encoder options; the BMP encoder reads 0x100 (error diffusion) only
    std::int32_t depth = kSourceDepth;  // output bits per pixel; imgSave resolves kSourceDepth
};

// An encoder entry: (file name or null for a memory block, rows, options) →
// 0 for failure; 1 for a file; the block's address for memory.
using EncodeFn = std::int64_t (*)(const char16_t* fileName, const PixelRows& rows, const EncodeOptions& options);

// One registered encoder; a static record of the encoder's module.
struct ImageEncoder {
    std::uint32_t id;   // four characters, the first in the lowest byte
    EncodeFn encode24;  // rows of 3-byte pixels; always present
    EncodeFn encode32;  // rows of 4-byte pixels; may be null
    // The encoder chooses what the file holds from the pixels (PNG: a
    // palette, RGB or RGBA) and takes no source depth: imgSave hands it
    // kSourceDepth as it is rather than the image's 1, 8, 16 or 48 bits.
    bool choosesForm = false;
};

// Appends an encoder to the registry (module start only). True, entering
// nothing, when that very encoder is registered already; false for null or
// an encoder without its 24-bit entry, when another encoder has its id, or
// when the registry's 30 places are taken.
[[nodiscard]] bool imgRegisterEncoder(const ImageEncoder* encoder);

// Module start step "image encoders": registers the BMP encoder, then the
// PNG encoder; both are tried, and a refusal of either fails the step
// (modStepFailed).
void imgStartEncoders();

// Module stop: empties the encoder registry.
void imgStopEncoders();

// Saves an image through an encoder: 1 for success, 0 for failure (no name,
// no such image or encoder, an image without addressable bits, or the
// encoder's refusal). A depth of kSourceDepth takes the image's source depth,
// except for an encoder that chooses its form itself (ImageEncoder::choosesForm).
std::int64_t imgSave(std::int64_t image, const char16_t* fileName, std::uint32_t encoderId = kBmpFormat,
                     const EncodeOptions& options = {});

// Hands rows of `pixelDepth` bits (24 or 32) to the encoder entry that suits
// them; see EncodeFn for the result. 0 for no such encoder, another pixel
// depth, or no memory for flattening.
std::int64_t imgEncode(const char16_t* fileName, const PixelRows& rows, std::int32_t pixelDepth,
                       std::uint32_t encoderId, const EncodeOptions& options);

// One colour byte of a pixel with alpha `a` composited over white:
// ((c − 255) × a + 65025) div 255, which equals (255 − a) + ⌊c × a / 255⌋.
constexpr std::uint8_t imgOverWhite(std::uint32_t c, std::uint32_t a) {
    return static_cast<std::uint8_t>(((static_cast<std::int32_t>(c) - 255) * static_cast<std::int32_t>(a) + 65025) / 255);
}

}  // namespace oct
