// Pixel memory for the Linux layer's bitmaps: zero-filled, and for large
// bitmaps mapped in 2 MiB pages where the kernel offers them, because a fresh
// picture is written whole at once and a fault per 4 KiB page would cost more
// than the writing itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oct::plat::posix {

// `bytes` zero-filled bytes, or null. With `zeroed` false the bytes are
// unspecified: a large request may then take the mapping of a bitmap freed
// before, as it was left, saving the kernel's clearing of fresh pages and
// their faults (a host converting picture after picture pays them once).
std::uint8_t* pixelsAlloc(std::size_t bytes, bool zeroed = true);
// Frees what pixelsAlloc gave for that size. Null does nothing.
void pixelsFree(std::uint8_t* pixels, std::size_t bytes);

}  // namespace oct::plat::posix
