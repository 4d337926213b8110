// Image saving: a registry of encoders by four-character id, and the save
// call that hands an image's pixels to the encoder entry that suits them,
// flattening 32-bit pixels onto white where 24-bit input is needed.
#pragma once

#include <cstdint>

namespace oct {

// An encoder entry: (file name or null for a memory block, pixels, width,
// height, pitch, mode, flags, depth) → 0 for failure; 1 for a file; the
// block's address for memory.
using EncodeFn = std::int64_t (*)(const char16_t* fileName, const std::uint8_t* pixels, std::int32_t width,
                                  std::int32_t height, std::int32_t pitch, std::int32_t mode, std::int32_t flags,
                                  std::int32_t depth);

// One registered encoder; a static record of the encoder's module.
struct ImageEncoder {
    std::uint32_t id;   // four characters, the first in the lowest byte
    EncodeFn encode24;  // rows of 3-byte pixels; always present
    EncodeFn encode32;  // rows of 4-byte pixels; may be null
};

// Mode bit: the rows lie bottom-up in memory (the first row in memory is the bottom row).
constexpr std::int32_t kEncodeBottomUp = 2;
// The output depth of a save that names none: the image's source depth.
constexpr std::int32_t kSourceDepth = -1;
// The BMP encoder's id: "B", "M", "P", 0.
constexpr std::uint32_t kBmpFormat = 0x504D42;

// Appends an encoder to the registry (module start only). True, entering
// nothing, when that very encoder is registered already; false when another
// encoder has its id, or when the registry's 30 places are taken.
bool imgRegisterEncoder(const ImageEncoder* encoder);

// Saves an image through an encoder: 1 for success, 0 for failure (no name,
// no such image or encoder, an image without addressable bits, or the
// encoder's refusal). Depth −1 takes the image's source depth.
std::int64_t imgSave(std::int64_t image, const char16_t* fileName, std::uint32_t encoderId = kBmpFormat,
                     std::int32_t flags = 7, std::int32_t depth = kSourceDepth);

// Hands pixels of `pixelDepth` bits (24 or 32) to the encoder entry that suits
// them; see EncodeFn for the result. 0 for no such encoder, another pixel
// depth, or no memory for flattening.
std::int64_t imgEncode(const char16_t* fileName, const std::uint8_t* pixels, std::uint32_t encoderId,
                       std::int32_t width, std::int32_t height, std::int32_t pitch, std::int32_t pixelDepth,
                       std::int32_t mode, std::int32_t flags, std::int32_t depth);

// One colour byte of a pixel with alpha `a` composited over white:
// ((c − 255) × a + 65025) div 255, which equals (255 − a) + ⌊c × a / 255⌋.
constexpr std::uint8_t imgOverWhite(std::uint32_t c, std::uint32_t a) {
    return static_cast<std::uint8_t>(((static_cast<std::int32_t>(c) - 255) * static_cast<std::int32_t>(a) + 65025) / 255);
}

}  // namespace oct
