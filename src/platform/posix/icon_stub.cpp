// TEMPORARY stand-in for the icon entry points until src/platform/posix/icon.cpp
// lands: no icon can be built, so icon files fail to load. Remove at merge.
#include "platform/platform.h"

namespace oct::plat {

Handle iconFromResource(const std::uint8_t*, std::size_t, std::int32_t, std::int32_t) { return 0; }
Handle iconFromResourceDefault(const std::uint8_t*, std::size_t) { return 0; }
bool iconDescribe(Handle, BitmapDesc&) { return false; }

}  // namespace oct::plat
