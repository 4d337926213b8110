// Fonts and text on Linux: not yet available. Every call fails, so text
// draws nothing.
#include "platform/platform.h"

namespace oct::plat {

Handle dibSectionCreateTopDown(std::int32_t, std::int32_t) { return 0; }
Handle fontCreate(const LogFont&) { return 0; }
Handle fontStock() { return 0; }
std::int32_t fontDescribe(Handle, LogFont&) { return 0; }
TextDevice* textDeviceCreate() { return nullptr; }
void textDeviceDelete(TextDevice*) {}
bool textSelectFont(TextDevice*, Handle) { return false; }
bool textSelectRaster(TextDevice*, Handle) { return false; }
bool textExtent(TextDevice*, const char16_t*, std::int32_t, TextSize&) { return false; }
bool textIsItalic(TextDevice*) { return false; }
bool textOut(TextDevice*, std::int32_t, std::int32_t, const char16_t*, std::int32_t) { return false; }
std::int32_t textInkRightColumn(TextDevice*, std::int32_t, std::int32_t) { return -1; }

}  // namespace oct::plat
