// Image loading: files and memory blocks become image objects through the
// icon reader and the registered decoders.
#pragma once

#include <cstdint>

namespace oct {

// Loads an image file: for AnyId the new image's id, for a number its handle; 0 on failure.
std::int64_t imgLoadImage(std::int64_t id, const char16_t* fileName);

// The same from `size` bytes of memory (sizes beyond 32 bits are refused).
std::int64_t imgLoadImageMemory(std::int64_t id, const void* data, std::int64_t size);

}  // namespace oct
