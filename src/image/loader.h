// Image loading: files and memory blocks become image objects, first through
// the icon reader (an icon handle) and then through the registered decoders
// (a 24- or 32-bit bottom-up DIB section), plus the decoder registry and the
// per-thread decode context that the decoders work in.
#pragma once

#include <cstdint>

#include "image/decoder.h"
#include "platform/platform.h"

namespace oct {

// Module start step "image decoders": empties the registry and registers the
// per-thread DecodeContext area. Runs before any decoder registers.
void imgStartDecoders();

// Appends a decoder (module start only). False for null, an id of 0, or when
// the registry's 30 places are taken.
bool imgRegisterDecoder(const ImageDecoder* decoder);

// Loads an image file: for AnyId the new image's id, for a number its handle;
// 0 on failure. A file that cannot be opened or read, or one of more than
// kMaxImageDataBytes, fails without touching the id; otherwise a number's
// previous image is freed first, and a failed load leaves the number empty.
std::int64_t imgLoadImage(std::int64_t id, const char16_t* fileName);

// The same from `size` bytes of memory. Null data and sizes of 0 or less, or
// beyond kMaxImageDataBytes, fail without touching the id.
std::int64_t imgLoadImageMemory(std::int64_t id, const void* data, std::int64_t size);

// Starts a load on the calling thread's context: the id of the first
// registered decoder whose check accepts the data, or 0.
std::uint32_t imgFindDecoder(const std::uint8_t* data, std::int32_t size);

// A new DIB section holding the current frame of the accepting decoder, or 0
// (no accepting decoder, a size the bitmap cannot have, no memory, or the
// decoder's failure).
plat::Handle imgDecodeFrame();

// Ends the load: the accepting decoder's cleanup.
void imgEndDecode();

// The calling thread's context fields (0 when the thread has no context).
std::int64_t imgDecodeWidth();
std::int64_t imgDecodeHeight();
std::int64_t imgDecodeDepth();
std::int64_t imgDecodeSourceDepth();
std::int64_t imgDecodeFrameCount();
std::int64_t imgDecodeFrameDelay();

}  // namespace oct
