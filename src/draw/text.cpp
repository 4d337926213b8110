// Text in a drawing session: the font and its raster, the text device that
// renders into it, measuring, and plain and turned text. text_blend.cpp lays
// the rendered raster on the output.
#include "draw/text.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "draw/text_blend.h"
#include "platform/bitmaps.h"
#include "platform/fonts.h"
#include "platform/handles.h"

namespace oct {
namespace {

constexpr std::int32_t kMinRasterHeight = 50;
// Rasters are kept to 64 MiB: a font or a turned text that would need more
// is drawn cut (drawText) or not at all (drawTextAngle) rather than exhaust
// memory.
constexpr std::int64_t kMaxRasterBytes = std::int64_t{64} << 20;

bool rasterFits(std::int64_t width, std::int64_t height) {
    return width > 0 && height > 0 && (width * 3 + 3) / 4 * 4 * height <= kMaxRasterBytes;
}
constexpr float kPi = 3.14159265358979f;

// The length of a zero-terminated UTF-16 text, at most INT32_MAX units.
std::int32_t lengthOf(const char16_t* text) {
    std::int32_t n = 0;
    while (n < INT32_MAX && text[n]) ++n;
    return n;
}

// Deletes a handle held in a field and clears the field.
void drop(plat::Handle& h) {
    if (h) plat::objectDelete(h);
    h = 0;
}

// A text device of the call's own, deleted at the end of the scope.
struct ScopedDevice {
    plat::TextDevice* device = plat::textDeviceCreate();
    ScopedDevice() = default;
    ScopedDevice(const ScopedDevice&) = delete;
    ScopedDevice& operator=(const ScopedDevice&) = delete;
    ~ScopedDevice() { plat::textDeviceDelete(device); }
};

}  // namespace

std::int32_t drwItalicOverhang(plat::Handle font) {
    ScopedDevice probe;
    if (!probe.device) return -1;
    if (!plat::textSelectFont(probe.device, font) || !plat::textIsItalic(probe.device)) return 0;
    plat::TextSize h{};
    if (!plat::textExtent(probe.device, u"H", 1, h)) return -1;
    const std::int32_t column = plat::textInkRightColumn(probe.device, h.cx, h.cy);
    // An ink column left of the advance is no overhang at all.
    return column < 0 ? 0 : std::max(0, column - h.cx + 2);
}

namespace {

// Makes the session's text device, with the stock font and its raster, at the
// first call that needs it: a session that draws no text (a rebuilt image,
// say) never starts the font machinery, which on Linux means loading the
// font configuration. False when the device cannot be made.
bool textReady(DrawContext& c) {
    if (c.textDevice) return true;
    if (c.textTried) return false;
    c.textTried = true;
    c.textDevice = plat::textDeviceCreate();
    if (!c.textDevice) return false;
    drwSetFont(c, -1);
    return true;
}

}  // namespace

std::int64_t drwSetFont(DrawContext& c, std::int64_t font) {
    if (!textReady(c)) return 0;
    const plat::Handle handle = font == -1 ? plat::fontStock() : static_cast<plat::Handle>(font);
    // A handle that is not a font, or a font whose slant cannot be measured,
    // leaves the session's font as it was.
    const std::int32_t overhang = plat::handleKind(handle) == plat::HandleKind::Font ? drwItalicOverhang(handle) : -1;
    if (overhang < 0 || !plat::textSelectFont(c.textDevice, handle)) return 0;
    c.italicOverhang = overhang;
    c.font = handle;
    drop(c.rotatedFont);

    plat::TextSize hg{};
    if (!plat::textExtent(c.textDevice, u"Hg", 2, hg)) hg.cy = 0;
    const std::int32_t needed = std::max(hg.cy + 20, kMinRasterHeight);
    if (c.rasterHeight >= needed) return 1;
    // As wide as the whole output and never narrower than the raster it
    // replaces: a font chosen while the area is clipped still serves the
    // whole output after unclip.
    const std::int32_t width = std::max({c.width, c.fullWidth, c.rasterWidth});
    if (!rasterFits(width, needed)) return 1;
    const plat::Handle raster = plat::dibSectionCreateTopDown(width, needed);
    plat::BitmapDesc bm{};
    if (!raster || !plat::bitmapDescribe(raster, bm) || !bm.bits || !plat::textSelectRaster(c.textDevice, raster)) {
        if (raster) plat::objectDelete(raster);
        return 1;  // the font is selected; the old raster stays
    }
    drop(c.raster);
    c.raster = raster;
    c.rasterBits = static_cast<std::uint8_t*>(bm.bits);
    c.rasterPitch = bm.widthBytes;
    c.rasterWidth = width;
    c.rasterHeight = needed;
    return 1;
}

void drwStartText(DrawContext& c) {
    c.textDevice = nullptr;
    c.textTried = false;
}

void drwStopText(DrawContext& c) {
    plat::textDeviceDelete(c.textDevice);
    c.textDevice = nullptr;
    drop(c.raster);
    drop(c.rotatedFont);
    c.rasterBits = nullptr;
    c.rasterPitch = 0;
    c.rasterWidth = c.rasterHeight = 0;
    c.font = 0;
    c.textTried = false;
}

std::int64_t drwTextHeight(DrawContext& c, const char16_t* text) {
    plat::TextSize size{};
    if (!text || !*text || !textReady(c) || !plat::textExtent(c.textDevice, text, lengthOf(text), size)) return 0;
    return size.cy;
}

std::int64_t drwTextWidth(DrawContext& c, const char16_t* text) {
    plat::TextSize size{};
    if (!text || !*text || !textReady(c) || !plat::textExtent(c.textDevice, text, lengthOf(text), size)) return 0;
    return std::int64_t{c.italicOverhang} + size.cx;
}

std::int64_t drwDrawText(DrawContext& c, std::int32_t x, std::int32_t y, const char16_t* text) {
    if (!text || !*text || !textReady(c) || !c.rasterBits) return x;
    const std::int32_t length = lengthOf(text);
    plat::TextSize size{};
    if (!plat::textExtent(c.textDevice, text, length, size)) return x;
    std::int64_t width = size.cx;
    if (c.italicOverhang > 0) {
        // The slanted glyphs reach past the cell that the opaque background clears.
        std::memset(c.rasterBits, 0, static_cast<std::size_t>(c.rasterPitch) * static_cast<std::size_t>(c.rasterHeight));
        width += c.italicOverhang;
    }
    const std::int32_t height = std::min(size.cy, c.rasterHeight);
    const std::int32_t rx = x < 0 ? x : 0;
    if (!plat::textOut(c.textDevice, rx, 0, text, length)) return x;
    // The raster is as wide as the area was when it was made; an area grown
    // since (unclip) reads no further than the raster.
    const std::int64_t shown = std::min<std::int64_t>(std::int64_t{rx} + width, c.rasterWidth);
    if (shown > 0) drwBlendText(c, c.rasterBits, c.rasterPitch, x - rx, y, static_cast<std::int32_t>(shown), height, false);
    return static_cast<std::int64_t>(x) + width;
}

bool drwRotatedFont(DrawContext& c, plat::TextDevice* device, float angle) {
    const float a = std::fmod(angle, 360.0f);
    if (c.rotatedFont && c.rotatedAngle == a) return plat::textSelectFont(device, c.rotatedFont);
    plat::LogFont lf{};
    if (plat::fontDescribe(c.font, lf) != static_cast<std::int32_t>(sizeof lf)) return false;
    lf.outPrecision = plat::kFontOutlinePrecision;  // only outline faces turn
    lf.escapement = lf.orientation = static_cast<std::int32_t>(a * 10.0f);
    drop(c.rotatedFont);
    c.rotatedFont = plat::fontCreate(lf);
    if (!c.rotatedFont) return false;
    c.rotatedAngle = a;
    return plat::textSelectFont(device, c.rotatedFont);
}

bool drwDrawTextTurned(DrawContext& c, std::int32_t x, std::int32_t y, const char16_t* text, float angle) {
    if (!text || !*text || !std::isfinite(angle)) return true;
    if (!textReady(c)) return false;
    ScopedDevice dc;
    if (!dc.device || !drwRotatedFont(c, dc.device, angle)) return false;
    const std::int32_t length = lengthOf(text);
    plat::TextSize size{};
    if (!plat::textExtent(dc.device, text, length, size)) return false;
    // Sides beyond 2^24 would not survive the single-precision corners.
    if (size.cx <= 0 || size.cy <= 0 || size.cx > (1 << 24) || size.cy > (1 << 24)) return true;

    // The turned cell's corners relative to its origin, each coordinate truncated.
    const float r = angle * kPi / 180.0f;
    const float cx = static_cast<float>(size.cx), cy = static_cast<float>(size.cy);
    const float alongX = std::cos(-r) * cx, alongY = std::sin(-r) * cx;
    // (0, 0), the end of the top edge, the end of the left edge, and the far corner.
    const std::int32_t corners[3][2] = {
        {0, 0},
        {static_cast<std::int32_t>(alongX), static_cast<std::int32_t>(alongY)},
        {static_cast<std::int32_t>(std::cos(kPi / 2 - r) * cy), static_cast<std::int32_t>(std::sin(kPi / 2 - r) * cy)},
    };
    const std::int32_t lastX = static_cast<std::int32_t>(static_cast<float>(corners[2][0]) + alongX);
    const std::int32_t lastY = static_cast<std::int32_t>(static_cast<float>(corners[2][1]) + alongY);
    const std::int32_t minX = std::min({0, corners[1][0], corners[2][0], lastX});
    const std::int32_t maxX = std::max({0, corners[1][0], corners[2][0], lastX});
    const std::int32_t minY = std::min({0, corners[1][1], corners[2][1], lastY});
    const std::int32_t maxY = std::max({0, corners[1][1], corners[2][1], lastY});
    const std::int32_t boxWidth = maxX - minX, boxHeight = maxY - minY;
    if (!rasterFits(boxWidth, boxHeight)) return true;

    const plat::Handle box = plat::dibSectionCreateTopDown(boxWidth, boxHeight);
    plat::BitmapDesc bm{};
    const bool drawn = box && plat::bitmapDescribe(box, bm) && bm.bits && plat::textSelectRaster(dc.device, box) &&
                       plat::textOut(dc.device, -minX, -minY, text, length);
    if (drawn) {
        const std::int64_t left = std::int64_t{x} + minX, top = std::int64_t{y} + minY;
        if (left >= INT32_MIN && left <= INT32_MAX && top >= INT32_MIN && top <= INT32_MAX)
            drwBlendText(c, static_cast<const std::uint8_t*>(bm.bits), bm.widthBytes, static_cast<std::int32_t>(left),
                         static_cast<std::int32_t>(top), boxWidth, boxHeight, true);
    }
    // The device lets go of the box before it is deleted.
    plat::textDeviceDelete(dc.device);
    dc.device = nullptr;
    if (box) plat::objectDelete(box);
    return drawn;
}

void drwDrawTextAngle(DrawContext& c, std::int32_t x, std::int32_t y, const char16_t* text, float angle) {
    drwDrawTextTurned(c, x, y, text, angle);
}

void drwInstallTextOps(DrawContext& c) {
    c.ops.setFont = drwSetFont;
    c.ops.drawText = drwDrawText;
    c.ops.drawTextAngle = drwDrawTextAngle;
    c.ops.textWidth = drwTextWidth;
    c.ops.textHeight = drwTextHeight;
}

}  // namespace oct
