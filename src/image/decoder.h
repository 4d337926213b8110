// The decoder contract: a registered ImageDecoder accepts or refuses the bytes
// of a load in its check, then writes each frame into a DIB section that the
// loader makes, and finally releases what its check kept. Between the calls
// the decoder keeps its state in the private area of the calling thread's
// DecodeContext.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "platform/files.h"
#include "platform/handles.h"

namespace oct {

struct DecodeContext;

// Nonzero when the decoder accepts the data of the context; it then sets
// width, height (positive: the bitmap is made bottom-up), depth, source depth
// and, when it has more than one, the frame count and delay.
using DecodeCheckFn = int (*)(DecodeContext& context);
// Writes the current frame into a bitmap of the context's width × height and
// depth whose first stored row starts at `bits`; rows are `rowBytes` apart.
// `flags` holds kDecodeBottomUp when that bitmap is bottom-up. Nonzero on success.
using DecodeFrameFn = int (*)(DecodeContext& context, std::uint8_t* bits, std::int32_t rowBytes, std::int32_t flags);
// Releases what the check left in the private area.
using DecodeCleanupFn = void (*)(DecodeContext& context);

// What a direct read of a file made: a bottom-up DIB section of 24 or 32
// bits, and what the image records of it.
struct DirectPicture {
    plat::Handle bitmap;
    std::int32_t width;
    std::int32_t height;
    std::int32_t depth;        // bits per pixel of the bitmap
    std::int32_t sourceDepth;  // bits per pixel stored in the file
};

// A decoder's direct read of an open file of `size` bytes, for the files it
// can read straight into a bitmap without holding the whole file in memory.
// True with `out` filled when it read the picture; false, with nothing made,
// leaves the load to the general way (the file position then does not
// matter). The result must be byte for byte what the decoder makes of the
// whole file, and the read may take only files that its check accepts and
// that no reader asked before it (the icon reader, earlier decoders) takes.
using DecodeFileFn = bool (*)(plat::File* file, std::int64_t size, DirectPicture& out);

// Flag of DecodeFrameFn: the target bitmap stores its bottom row first, as
// every image bitmap of this library does.
constexpr std::int32_t kDecodeBottomUp = 2;

// One decoder: a static record of the decoder's module.
struct ImageDecoder {
    DecodeCheckFn check;
    DecodeFrameFn decode;
    DecodeCleanupFn cleanup;
    std::uint32_t id;  // nonzero format code (formats.h); becomes the image's format field
    DecodeFileFn readFile = nullptr;  // optional direct read of files (see DecodeFileFn)
};

// Bytes of the decoder-private area, zero-filled before each decoder's check.
constexpr std::size_t kDecoderPrivateBytes = 64;

// One per thread (a per-thread area): valid from imgFindDecoder to
// imgEndDecode of one load, and left behind afterwards until the next load.
struct DecodeContext {
    const ImageDecoder* decoder;  // the decoder that accepted the data
    const std::uint8_t* data;     // the whole file in memory
    std::int32_t dataSize;        // its size in bytes
    std::int32_t width;           // pixels, set by the check
    std::int32_t height;          // rows, set by the check
    std::int32_t depth;           // bits per pixel of the bitmap that decode fills
    // The accepting decoder's own state, zero-filled before each check.
    alignas(8) std::uint8_t privateArea[kDecoderPrivateBytes];
    std::int32_t sourceDepth;  // bits per pixel stored in the file
    std::int32_t frameCount;   // 1 unless the check sets more
    std::int32_t frameDelay;   // delay of the frame decoded last
};

// The decoder-private area as a decoder's own record (a trivial type that
// fits the area). The check starts it with decoderPrivateStart; decode and
// cleanup reach it with decoderPrivate.
template <class T>
T& decoderPrivateStart(DecodeContext& context) {
    static_assert(sizeof(T) <= kDecoderPrivateBytes && alignof(T) <= 8 && std::is_trivially_destructible_v<T>);
    return *new (context.privateArea) T{};
}
template <class T>
T& decoderPrivate(DecodeContext& context) {
    return *std::launder(reinterpret_cast<T*>(context.privateArea));
}

}  // namespace oct
