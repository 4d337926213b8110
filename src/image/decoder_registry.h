// The decoder registry and the per-thread decode context: which registered
// decoder takes a block of data, and the steps of one decode on the calling
// thread (find, frames, end).
#pragma once

#include <cstdint>
#include <span>

#include "image/decoder.h"
#include "platform/handles.h"

namespace oct {

// Module start step "image decoders": empties the registry and registers the
// per-thread DecodeContext area. Runs before any decoder registers.
void imgStartDecoders();

// Module stop: empties the registry.
void imgStopDecoders();

// Appends a decoder (module start only), after those registered before it.
// True, entering nothing, when that very decoder is registered already; false
// for null, an id of 0 or a missing entry point, when another decoder has its
// id, or when the registry's 30 places are taken.
[[nodiscard]] bool imgRegisterDecoder(const ImageDecoder* decoder);

// Every registered decoder, in registration order.
std::span<const ImageDecoder* const> imgDecoders();

// Starts a load on the calling thread's context: the id of the first
// registered decoder whose check accepts the data, or 0.
std::uint32_t imgFindDecoder(const std::uint8_t* data, std::int32_t size);

// A new DIB section holding the current frame of the accepting decoder, or 0
// (no accepting decoder, a size the bitmap cannot have, no memory, or the
// decoder's failure).
plat::Handle imgDecodeFrame();

// Ends the load: the accepting decoder's cleanup.
void imgEndDecode();

// The calling thread's context, or null when the thread has none (its area
// could not be made).
DecodeContext* imgDecodeContext();

// The calling thread's context fields (0 when the thread has no context).
std::int64_t imgDecodeWidth();
std::int64_t imgDecodeHeight();
std::int64_t imgDecodeDepth();
std::int64_t imgDecodeSourceDepth();
std::int64_t imgDecodeFrameCount();
std::int64_t imgDecodeFrameDelay();

}  // namespace oct
