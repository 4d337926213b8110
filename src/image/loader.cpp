#include "image/loader.h"

namespace oct {

std::int64_t imgLoadImage(std::int64_t, const char16_t*) { return 0; }
std::int64_t imgLoadImageMemory(std::int64_t, const void*, std::int64_t) { return 0; }

}  // namespace oct
