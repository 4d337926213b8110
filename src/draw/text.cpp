#include "draw/text.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "draw/plot.h"

namespace oct {
namespace {

using namespace DrawMode;

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

// ---------------------------------------------------------------------------
// Combining the raster with the output
// ---------------------------------------------------------------------------

// What every rule knows of one raster pixel. Channels are indexed as the
// pixel bytes lie: 0 blue, 1 green, 2 red.
struct Coverage {
    const std::uint8_t* raster;  // the raster pixel's three bytes, the per-channel coverage
    float cov;                   // (blue + green + red) / 765
    std::uint32_t sum;           // blue + green + red
    std::uint32_t front[3];      // the front colour's channels
    std::uint32_t alpha;         // its alpha, o
    std::uint32_t part[3];       // per-channel coverage of the front alpha: raster byte × o div 255
    std::uint32_t whole;         // E = cov × o, truncated
};

// What the rules read of the session, fixed for the call.
struct TextPaint {
    bool background;       // P: paint the back colour where the text is not
    std::uint32_t back[3]; // the back colour's stored components
    std::uint32_t backAlpha;
    std::uint32_t backRaw[3];  // the back colour's own channels, not multiplied by its alpha
};

// The output colour for the filter: 0xAABBGGRR read from the pixel, alpha
// 0xFF on 3-byte pixels.
template <bool kFour>
std::uint32_t outputColour(const std::uint8_t* d) {
    std::uint32_t v = static_cast<std::uint32_t>(d[0]) << 16 | static_cast<std::uint32_t>(d[1]) << 8 | d[2];
    return v | (kFour ? static_cast<std::uint32_t>(d[3]) << 24 : 0xFF000000u);
}

std::uint8_t byte(std::uint32_t v) { return static_cast<std::uint8_t>(v); }

// One output channel seen through a source of colour s and coverage F over
// a target of colour d and alpha t: the blend that keeps colours exact on a
// transparent target.
std::uint32_t overAlpha(std::uint32_t s, std::uint32_t F, std::uint32_t d, std::uint32_t t) {
    if (F == 0) return d;
    if (t == 0) return s;
    return (s * F * 255 + d * (255 - F) * t) / (F * 255 + (255 - F) * t);
}

template <bool kFour>
struct FilterRule {
    void operator()(DrawContext& c, const TextPaint&, const Coverage& k, std::uint8_t* d, std::int32_t x,
                    std::int32_t y, std::uint32_t f) const {
        const std::uint32_t v = c.filter(c, x, y, k.whole << 24 | (f & 0xFFFFFF), outputColour<kFour>(d));
        d[0] = byte(v >> 16);
        d[1] = byte(v >> 8);
        d[2] = byte(v);
        if (kFour) d[3] = byte(v >> 24);
    }
};

template <bool kFour>
struct XorRule {
    void operator()(DrawContext&, const TextPaint& p, const Coverage& k, std::uint8_t* d, std::int32_t,
                    std::int32_t, std::uint32_t) const {
        if (k.cov > 0.5f) {
            for (int i = 0; i < 3; ++i) d[i] = byte(d[i] ^ k.front[i]);
        } else if (p.background) {
            for (int i = 0; i < 3; ++i) d[i] = byte(d[i] ^ p.back[i]);
        }
    }
};

// All four bytes (4-byte outputs only). Without a painted background a pixel
// the text does not cover stays as it is, and a covered one takes the front
// colour with alpha by coverage: the rule of a painted background whose back
// colour is transparent, kept to the text's pixels.
struct AllBytesRule {
    void operator()(DrawContext&, const TextPaint& p, const Coverage& k, std::uint8_t* d, std::int32_t,
                    std::int32_t, std::uint32_t) const {
        if (!p.background) {
            if (k.whole == 0 && k.part[0] == 0 && k.part[1] == 0 && k.part[2] == 0) return;
            for (int i = 0; i < 3; ++i) d[i] = byte(k.front[i]);
            d[3] = byte(k.whole);
            return;
        }
        const std::uint32_t C = p.backAlpha;
        for (int i = 0; i < 3; ++i) {
            const std::uint32_t F = C >= 192 ? k.part[i] : k.whole;
            d[i] = byte(F == 0 ? p.back[i] : C == 0 ? k.front[i]
                                                    : (k.front[i] * F * 255 + p.back[i] * (255 - F) * C) /
                                                          (F * 255 + (255 - F) * C));
        }
        d[3] = byte((k.whole * 255 + (255 - k.whole) * C) / 255);
    }
};

template <bool kFour>
struct AlphaOnlyRule {
    void operator()(DrawContext&, const TextPaint& p, const Coverage& k, std::uint8_t* d, std::int32_t,
                    std::int32_t, std::uint32_t) const {
        if (!kFour) return;
        const float under = static_cast<float>(p.background ? p.backAlpha : d[3]);
        d[3] = byte(static_cast<std::uint32_t>((1.0f - k.cov) * under + static_cast<float>(k.alpha) * k.cov));
    }
};

template <bool kFour>
struct BlendRule {
    bool setAlpha;  // mode 0x10; 0x20 alone keeps the target's alpha

    void operator()(DrawContext&, const TextPaint& p, const Coverage& k, std::uint8_t* d, std::int32_t,
                    std::int32_t, std::uint32_t) const {
        if (p.background) {
            // Front and back are first mixed by coverage (the back colour's own
            // channels: its stored components are already multiplied by its
            // alpha), and the mix is composited over the output once.
            std::uint32_t mixed[3];
            for (int i = 0; i < 3; ++i)
                mixed[i] = (k.front[i] * k.raster[i] + p.backRaw[i] * (255 - k.raster[i])) / 255;
            const std::uint32_t a = (k.alpha * k.sum + p.backAlpha * (765 - k.sum)) / 765;
            if (!kFour) {
                for (int i = 0; i < 3; ++i) d[i] = byte((mixed[i] * a + d[i] * (255 - a)) / 255);
                return;
            }
            const std::uint32_t t = d[3];
            for (int i = 0; i < 3; ++i) d[i] = byte(overAlpha(mixed[i], a, d[i], t));
            if (setAlpha) d[3] = byte((a * 255 + (255 - a) * t) / 255);
            return;
        }
        if (!kFour) {
            for (int i = 0; i < 3; ++i) d[i] = byte((k.front[i] * k.part[i] + d[i] * (255 - k.part[i])) / 255);
            return;
        }
        const std::uint32_t t = d[3];
        const std::uint32_t G = (k.sum * k.alpha) / 765;
        for (int i = 0; i < 3; ++i) d[i] = byte(overAlpha(k.front[i], t >= 192 ? k.part[i] : G, d[i], t));
        if (setAlpha) {
            const std::uint32_t H = t >= 192 ? k.whole : G;
            d[3] = byte((H * 255 + (255 - H) * t) / 255);
        }
    }
};

// Copy: each channel mixed by its own raster byte; the front alpha is not
// used and the alpha byte stays.
template <bool kFour>
struct CopyRule {
    void operator()(DrawContext&, const TextPaint& p, const Coverage& k, std::uint8_t* d, std::int32_t,
                    std::int32_t, std::uint32_t) const {
        for (int i = 0; i < 3; ++i) {
            const std::uint32_t D = k.raster[i];
            d[i] = byte(p.background ? ((255 - D) * p.back[i] + k.front[i] * D) / 255
                                     : (k.front[i] * D + (255 - D) * d[i]) / 255);
        }
    }
};

// The clipped rectangle of a raster on the drawing area.
struct TextSpan {
    std::int32_t x, y;          // area position of raster pixel (0, 0)
    std::int32_t firstColumn, firstRow, columns, rows;
};

template <typename Rule>
void blendWith(DrawContext& c, const TextPaint& paint, const std::uint8_t* raster, std::int64_t rowBytes,
               const TextSpan& s, Rule rule) {
    Coverage k{};
    // The front colour is read per pixel only in gradient mode.
    const auto setFront = [&k](std::uint32_t f) {
        k.alpha = f >> 24;
        k.front[0] = (f >> 16) & 0xFF;
        k.front[1] = (f >> 8) & 0xFF;
        k.front[2] = f & 0xFF;
    };
    std::uint32_t f = c.frontColor;
    setFront(f);
    for (std::int32_t i = s.firstRow; i < s.rows; ++i) {
        const std::uint8_t* r = raster + static_cast<std::int64_t>(i) * rowBytes + 3 * static_cast<std::int64_t>(s.firstColumn);
        const std::int32_t y = s.y + i;
        std::uint8_t* d = drwPixel(c, s.x + s.firstColumn, y);
        for (std::int32_t j = s.firstColumn; j < s.columns; ++j, r += 3, d += c.bytesPerPixel) {
            const std::int32_t x = s.x + j;
            if (c.gradientMode) {
                f = drwGradientColour(c, x, y);
                setFront(f);
            }
            k.raster = r;
            k.sum = static_cast<std::uint32_t>(r[0]) + r[1] + r[2];
            k.cov = static_cast<float>(k.sum) / 765.0f;
            for (int ch = 0; ch < 3; ++ch) k.part[ch] = r[ch] * k.alpha / 255;
            k.whole = static_cast<std::uint32_t>(k.cov * static_cast<float>(k.alpha));
            rule(c, paint, k, d, x, y, f);
        }
    }
}

template <bool kFour>
void blendByMode(DrawContext& c, const TextPaint& paint, const std::uint8_t* raster, std::int64_t rowBytes,
                 const TextSpan& s) {
    const std::uint32_t mode = c.mode;
    if (c.filterMode) return blendWith(c, paint, raster, rowBytes, s, FilterRule<kFour>{});
    if (mode & kXor) return blendWith(c, paint, raster, rowBytes, s, XorRule<kFour>{});
    if (kFour && (mode & kAllBytes)) return blendWith(c, paint, raster, rowBytes, s, AllBytesRule{});
    if (mode & kAlphaOnly) return blendWith(c, paint, raster, rowBytes, s, AlphaOnlyRule<kFour>{});
    if (mode & (kBlend | kBlendKeepAlpha))
        return blendWith(c, paint, raster, rowBytes, s, BlendRule<kFour>{(mode & kBlend) != 0});
    blendWith(c, paint, raster, rowBytes, s, CopyRule<kFour>{});
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

void drwBlendText(DrawContext& c, const std::uint8_t* raster, std::int64_t rowBytes, std::int32_t x, std::int32_t y,
                  std::int32_t width, std::int32_t height, bool rotated) {
    if (!raster || !c.topRow) return;
    // 64-bit bounds: x + width may pass 2^31.
    const std::int64_t right = std::min<std::int64_t>(std::int64_t{x} + width, c.width);
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{y} + height, c.height);
    if (width <= 0 || height <= 0 || right <= 0 || bottom <= 0 || x >= c.width || y >= c.height) return;
    const TextSpan span{x, y, x < 0 ? -x : 0, y < 0 ? -y : 0, static_cast<std::int32_t>(right - x),
                        static_cast<std::int32_t>(bottom - y)};
    TextPaint paint{};
    paint.background = (c.mode & kTransparentText) == 0 && !rotated;
    paint.back[0] = c.back.blue;
    paint.back[1] = c.back.green;
    paint.back[2] = c.back.red;
    paint.backAlpha = c.back.alpha;
    paint.backRaw[0] = (c.backColor >> 16) & 0xFF;
    paint.backRaw[1] = (c.backColor >> 8) & 0xFF;
    paint.backRaw[2] = c.backColor & 0xFF;
    if (c.bytesPerPixel == 4) blendByMode<true>(c, paint, raster, rowBytes, span);
    else blendByMode<false>(c, paint, raster, rowBytes, span);
}

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
