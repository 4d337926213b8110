// Image loading: files and memory blocks become image objects, first through
// the icon reader (an icon handle) and then through the registered decoders
// (a 24- or 32-bit bottom-up DIB section; decoder_registry.h).
#pragma once

#include <cstdint>

#include "image/decoder_registry.h"

namespace oct {

// Which frames of an animation a load keeps. A conversion shows frame 0 only,
// and decoding the others would cost a pass and a screen-sized bitmap each.
enum class LoadFrames : std::uint8_t {
    First,  // frame 0 as a still image: frameCount 1, no frame list
    All,    // every frame, composed on the screen, in ImageObject::frames
};

// Loads an image file: for AnyId the new image's id, for a number its handle;
// 0 on failure. A file that cannot be opened or read, or one of more than
// kMaxImageDataBytes, fails without touching the id; otherwise a number's
// previous image is freed first, and a failed load leaves the number empty.
// An animation gives its first frame unless `frames` asks for all of them.
std::int64_t imgLoadImage(std::int64_t id, const char16_t* fileName, LoadFrames frames = LoadFrames::First);

// The same from `size` bytes of memory. Null data and sizes of 0 or less, or
// beyond kMaxImageDataBytes, fail without touching the id.
std::int64_t imgLoadImageMemory(std::int64_t id, const void* data, std::int64_t size,
                                LoadFrames frames = LoadFrames::First);

}  // namespace oct
