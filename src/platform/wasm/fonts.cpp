// Fonts and text in the WebAssembly module: none. It carries no faces and no
// renderer (the browser draws text), so making a font or a text device fails
// with that reason, and drawing text fails as it does where no face is found.
#include "platform/fail_reason.h"
#include "platform/fonts.h"
#include "platform/handles.h"
#include "platform/posix/font.h"

namespace oct::plat {

posix::Font::~Font() = default;

posix::Font* posix::fontOf(Handle handle) { return static_cast<posix::Font*>(posix::objectLookup(handle, HandleKind::Font)); }

void posix::fontsRelease() {}

namespace {

bool noFonts() { return failSet(FailCode::NoCodec, "this module has no fonts; the browser draws text"); }

}  // namespace

Handle fontCreate(const LogFont&) {
    noFonts();
    return 0;
}

Handle fontStock() {
    noFonts();
    return 0;
}

std::int32_t fontDescribe(Handle, LogFont&) { return 0; }

TextDevice* textDeviceCreate() {
    noFonts();
    return nullptr;
}

void textDeviceDelete(TextDevice*) {}
bool textSelectFont(TextDevice*, Handle) { return false; }
bool textSelectRaster(TextDevice*, Handle) { return false; }
bool textExtent(TextDevice*, const char16_t*, std::int32_t, TextSize&) { return false; }
bool textIsItalic(TextDevice*) { return false; }
bool textOut(TextDevice*, std::int32_t, std::int32_t, const char16_t*, std::int32_t) { return false; }
std::int32_t textInkRightColumn(TextDevice*, std::int32_t, std::int32_t) { return -1; }

}  // namespace oct::plat
