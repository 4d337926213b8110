// The limits that decide whether untrusted bytes become an image, and the
// overflow-checked size arithmetic for everything that turns them into one.
// Every size taken from a file header goes through these before it decides
// an allocation. Each limit names the reason that a refusal by it records
// (plat::FailCode, platform/fail_reason.h).
//
// Not here, because the platform layer below applies them by itself: an
// icon image's sides (platform/icon_image.h, as an icon directory can
// describe them) and the bands of a TIFF that libtiff reads on Linux.
#pragma once

#include <cstdint>

namespace oct {

// Largest block of image data the loaders take: the decode context keeps the
// data size as a signed 32-bit value, so files and memory blocks above it are
// refused before anything is read or allocated. Refusal: TooLarge.
constexpr std::int64_t kMaxImageDataBytes = INT32_MAX;

// Largest pixel buffer of a decoded DIB section. A DIB section's size is a
// 32-bit quantity on Windows; keeping below 2^31 bytes also keeps every
// row × row-bytes product inside int32 arithmetic. Refusal: TooLarge.
constexpr std::int64_t kMaxDibSectionBytes = INT32_MAX;

// --- Pictures read through the platform's codecs (PNG, JPEG, GIF, TIFF, WebP)

// The largest width and height of a decoded picture: the image object keeps
// sides as 16-bit values. Refusal: TooLarge.
constexpr std::int32_t kMaxPictureSide = 32767;

// The largest still picture at 4 bytes a pixel: 16384 × 16384. Refusal:
// TooLarge.
constexpr std::int64_t kMaxPictureBytes = std::int64_t{1} << 30;

// The largest number of frames of an animation. A load of the first frame
// is held to it too, so that whether a picture loads does not depend on how
// much of it is asked for. Refusal: TooLarge.
constexpr std::int32_t kMaxPictureFrames = 4096;

// The largest size of all of an animation's frames' bitmaps together, its
// screen counted as one more: a load keeps every frame's bitmap, so a few
// hundred bytes of tiny frames on a large screen would otherwise ask for
// gigabytes. Refusal: TooLarge.
constexpr std::int64_t kMaxAnimationBytes = std::int64_t{1} << 30;

// Up to this (at 4 bytes a pixel) a picture may declare any size its data
// cannot fill; above it the data must suffice (plat::pictureDataSuffices),
// for a still picture and for an animation's bitmaps together. A picture
// whose data cannot fill what it declares is not a large one but a damaged
// one. Refusal: Damaged.
constexpr std::int64_t kUnbackedPictureBytes = std::int64_t{64} << 20;

// a × b into `out`; false (out unspecified) when the product does not fit T.
template <class T>
[[nodiscard]] constexpr bool checkedMul(T a, T b, T& out) {
    return !__builtin_mul_overflow(a, b, &out);
}

// a + b into `out`; false (out unspecified) when the sum does not fit T.
template <class T>
[[nodiscard]] constexpr bool checkedAdd(T a, T b, T& out) {
    return !__builtin_add_overflow(a, b, &out);
}

}  // namespace oct
