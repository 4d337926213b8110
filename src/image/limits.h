// Size limits and overflow-checked size arithmetic for everything that turns
// untrusted bytes into images. Every size taken from a file header goes
// through these before it decides an allocation.
#pragma once

#include <cstdint>

namespace oct {

// Largest block of image data the loaders take: the decode context keeps the
// data size as a signed 32-bit value, so files and memory blocks above it are
// refused before anything is read or allocated.
constexpr std::int64_t kMaxImageDataBytes = INT32_MAX;

// Largest pixel buffer of a decoded DIB section. A DIB section's size is a
// 32-bit quantity on Windows; keeping below 2^31 bytes also keeps every
// row × row-bytes product inside int32 arithmetic.
constexpr std::int64_t kMaxDibSectionBytes = INT32_MAX;

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
