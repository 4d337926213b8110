// Fonts and text through the platform layer: what GDI gives on Windows and
// FreeType with fontconfig gives on Linux, checked by the same expectations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/bitmaps.h"
#include "platform/fonts.h"
#include "platform/handles.h"

namespace oct::plat {
namespace {

LogFont fontDesc(const char16_t* face, std::int32_t height, std::int32_t weight = 400, bool italic = false,
                 std::int32_t escapement = 0) {
    LogFont d{};
    d.height = height;
    d.weight = weight;
    d.italic = italic ? 1 : 0;
    d.escapement = d.orientation = escapement;
    for (int i = 0; face[i] && i < 31; ++i) d.faceName[i] = face[i];
    return d;
}

// A text device and the font it holds, released together.
struct Device {
    TextDevice* dc = textDeviceCreate();
    Handle font = 0;
    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    explicit Device(const LogFont& d) : font(fontCreate(d)) { EXPECT_TRUE(textSelectFont(dc, font)); }
    ~Device() {
        textDeviceDelete(dc);
        if (font) { EXPECT_TRUE(objectDelete(font)); }
    }
    TextSize extent(std::u16string_view text) const {
        TextSize s{-1, -1};
        EXPECT_TRUE(textExtent(dc, text.data(), static_cast<std::int32_t>(text.size()), s));
        return s;
    }
};

// A top-down 24-bit raster, read back by pixel.
struct Raster {
    Handle h;
    BitmapDesc d{};
    Raster(int w, int hgt) : h(dibSectionCreateTopDown(w, hgt)) { EXPECT_TRUE(bitmapDescribe(h, d)); }
    Raster(const Raster&) = delete;
    Raster& operator=(const Raster&) = delete;
    ~Raster() { EXPECT_TRUE(objectDelete(h)); }
    std::uint8_t* px(int x, int y) const { return static_cast<std::uint8_t*>(d.bits) + y * d.widthBytes + 3 * x; }
    void fill(std::uint8_t v) const { std::memset(d.bits, v, static_cast<std::size_t>(d.widthBytes) * d.height); }
    bool inked(int x, int y) const { return px(x, y)[0] || px(x, y)[1] || px(x, y)[2]; }
    // The bounding box of the inked pixels: {x0, y0, x1, y1} (exclusive), x0 = −1 when none.
    std::vector<int> inkBox() const {
        int x0 = d.width, y0 = d.height, x1 = -1, y1 = -1;
        for (int y = 0; y < d.height; ++y)
            for (int x = 0; x < d.width; ++x)
                if (inked(x, y)) {
                    x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x + 1), y1 = std::max(y1, y + 1);
                }
        return x1 < 0 ? std::vector<int>{-1, -1, -1, -1} : std::vector<int>{x0, y0, x1, y1};
    }
};

bool draw(const Device& dev, const Raster& r, int x, int y, std::u16string_view text) {
    return textSelectRaster(dev.dc, r.h) && textOut(dev.dc, x, y, text.data(), static_cast<std::int32_t>(text.size()));
}

TEST(PlatformText, StockFontMeasuresAPlausibleCell) {
    Device dev;
    ASSERT_NE(dev.dc, nullptr);
    const TextSize hg = dev.extent(u"Hg");
    EXPECT_GT(hg.cx, 0);
    EXPECT_GE(hg.cy, 10);
    EXPECT_LE(hg.cy, 40);
    EXPECT_FALSE(textIsItalic(dev.dc));
    // Widths add up glyph by glyph; an empty text has no width but the cell's height.
    EXPECT_EQ(dev.extent(u"HgHg").cx, 2 * hg.cx);
    const TextSize empty = dev.extent(u"");
    EXPECT_EQ(empty.cx, 0);
#ifndef _WIN32
    EXPECT_EQ(empty.cy, hg.cy);  // GDI under wine gives 0 here; the library never measures an empty text
#endif
    TextSize s{};
    EXPECT_FALSE(textExtent(dev.dc, u"H", -1, s));
    EXPECT_FALSE(textExtent(dev.dc, nullptr, 1, s));
}

TEST(PlatformText, HeightFollowsTheLogFontRules) {
    // Positive: the cell height itself; negative: the em, so the cell is taller.
    Device cell(fontDesc(u"DejaVu Sans", 20));
    Device em(fontDesc(u"DejaVu Sans", -20));
    Device byDefault(fontDesc(u"DejaVu Sans", 0));
    EXPECT_EQ(cell.extent(u"H").cy, 20);
    EXPECT_GT(em.extent(u"H").cy, 20);
    EXPECT_GT(em.extent(u"H").cx, cell.extent(u"H").cx);
    EXPECT_GT(byDefault.extent(u"H").cy, 0);
    // A heavier weight gives a wider face.
    Device bold(fontDesc(u"DejaVu Sans", 20, 700));
    EXPECT_GT(bold.extent(u"Hello").cx, cell.extent(u"Hello").cx);
}

TEST(PlatformText, HgInksItsCellOnlyAndPaintsTheCellBlack) {
    Device dev;
    const TextSize s = dev.extent(u"Hg");
    const int margin = 8, x = margin, y = margin;
    Raster r(s.cx + 2 * margin, s.cy + 2 * margin);
    r.fill(0);
    ASSERT_TRUE(draw(dev, r, x, y, u"Hg"));
    const std::vector<int> box = r.inkBox();
    ASSERT_GE(box[0], 0) << "nothing inked";
    EXPECT_GE(box[0], x);
    EXPECT_GE(box[1], y);
    EXPECT_LE(box[2], x + s.cx);
    EXPECT_LE(box[3], y + s.cy);
    // Solid strokes reach full white somewhere.
    int brightest = 0;
    for (int yy = 0; yy < r.d.height; ++yy)
        for (int xx = 0; xx < r.d.width; ++xx) brightest = std::max<int>(brightest, r.px(xx, yy)[1]);
    EXPECT_EQ(brightest, 255);

    // OPAQUE: over white, the cell turns black where no glyph is and
    // everything outside the cell stays as it was.
    r.fill(255);
    ASSERT_TRUE(draw(dev, r, x, y, u"Hg"));
    int black = 0;
    for (int yy = 0; yy < r.d.height; ++yy)
        for (int xx = 0; xx < r.d.width; ++xx) {
            const bool inCell = xx >= x && xx < x + s.cx && yy >= y && yy < y + s.cy;
            if (!inCell) { ASSERT_EQ(r.px(xx, yy)[0], 255) << xx << "," << yy; }
            if (inCell && !r.inked(xx, yy)) ++black;
        }
    EXPECT_GT(black, s.cx * s.cy / 4);
}

TEST(PlatformText, TextIsClippedToTheRaster) {
    Device dev;
    const TextSize s = dev.extent(u"Hg");
    Raster r(s.cx, s.cy);
    // Far outside, partly outside on every side: nothing is written outside, and the call succeeds.
    for (auto [x, y] : {std::pair{-5, -5}, {s.cx - 3, s.cy - 3}, {-100000, 0}, {0, 2000000000}, {INT32_MIN, INT32_MIN}}) {
        r.fill(0);
        EXPECT_TRUE(draw(dev, r, x, y, u"Hg")) << x << "," << y;
    }
    r.fill(0);
    ASSERT_TRUE(draw(dev, r, -s.cx / 2, 0, u"Hg"));
    EXPECT_GE(r.inkBox()[0], 0) << "the visible half of the text is drawn";
    EXPECT_TRUE(draw(dev, r, 0, 0, u""));
}

TEST(PlatformText, ItalicFontsOverhangAndUprightOnesDoNot) {
    struct Case {
        const char16_t* face;
        bool italic;
    };
    // A family with an italic face, one without (slanted by the system),
    // and an unknown name that the system substitutes.
    const Case cases[] = {{u"DejaVu Serif", true}, {u"DejaVu Math TeX Gyre", true}, {u"NoSuchFaceAnywhere", true},
                          {u"DejaVu Serif", false}, {u"DejaVu Sans", false}};
    for (const Case& c : cases) {
        Device dev(fontDesc(c.face, -24, 400, c.italic));
        const TextSize h = dev.extent(u"H");
        const std::int32_t column = textInkRightColumn(dev.dc, h.cx, h.cy);
        ASSERT_GE(column, 0) << "no ink for " << std::string(c.face, c.face + 4);
        EXPECT_EQ(textIsItalic(dev.dc), c.italic);
        if (c.italic)
            EXPECT_GT(column - h.cx + 2, 0) << "italic " << column << " cx " << h.cx;
        else
            EXPECT_LE(column, h.cx) << "upright " << column << " cx " << h.cx;
    }
    Device dev;
    EXPECT_EQ(textInkRightColumn(dev.dc, 0, 10), -1);
    EXPECT_EQ(textInkRightColumn(dev.dc, 10, 0), -1);
}

TEST(PlatformText, FontsDescribeThemselvesAndOnlyTheStockFontStays) {
    const LogFont d = fontDesc(u"DejaVu Serif", -17, 600, true, 450);
    const Handle font = fontCreate(d);
    ASSERT_NE(font, 0u);
    EXPECT_EQ(handleKind(font), HandleKind::Font);
    LogFont out{};
    ASSERT_EQ(fontDescribe(font, out), 92);
    EXPECT_EQ(out.height, -17);
    EXPECT_EQ(out.weight, 600);
    EXPECT_EQ(out.italic, 1);
    EXPECT_EQ(out.escapement, 450);
    EXPECT_EQ(std::u16string(out.faceName), u"DejaVu Serif");

    const Handle stock = fontStock();
    ASSERT_NE(stock, 0u);
    EXPECT_EQ(fontStock(), stock);
    EXPECT_EQ(handleKind(stock), HandleKind::Font);
    ASSERT_EQ(fontDescribe(stock, out), 92);
    EXPECT_FALSE(objectDelete(stock));
    EXPECT_EQ(handleKind(stock), HandleKind::Font);

    EXPECT_TRUE(objectDelete(font));
    EXPECT_EQ(handleKind(font), HandleKind::None);
    EXPECT_EQ(fontDescribe(font, out), 0);
    EXPECT_FALSE(objectDelete(font));
}

TEST(PlatformText, SurrogatePairsAreOneCharacter) {
    Device dev;
    const std::u16string pair = u"\xD834\xDD1E";  // U+1D11E MUSICAL SYMBOL G CLEF
    const TextSize one = dev.extent(pair);
    EXPECT_GT(one.cx, 0);
    EXPECT_EQ(dev.extent(pair + pair).cx, 2 * one.cx);
    // Its two units read apart would be two missing glyphs.
    const std::u16string lone(1, u'\xD834');
    const TextSize missing = dev.extent(lone);
    EXPECT_GT(missing.cx, 0);
#ifndef _WIN32
    // GDI under wine measures the pair as two missing glyphs.
    EXPECT_NE(one.cx, 2 * missing.cx);
    EXPECT_EQ(one.cx, missing.cx) << "the face has no G clef: both are its missing glyph";
#endif
    // The missing glyph is drawn as a box: it inks something.
    Raster r(missing.cx + 4, missing.cy + 4);
    ASSERT_TRUE(draw(dev, r, 2, 2, lone));
    EXPECT_GE(r.inkBox()[0], 0);
}

// The box that the drawing core computes for turned text: the corners of the
// turned cell, each truncated, as {minX, minY, maxX, maxY}.
std::vector<int> turnedBox(TextSize s, float degrees) {
    const float r = degrees * 3.14159265f / 180.0f;
    const int c1x = static_cast<int>(std::cos(-r) * s.cx), c1y = static_cast<int>(std::sin(-r) * s.cx);
    const float c2xf = std::cos(1.5707964f - r) * s.cy, c2yf = std::sin(1.5707964f - r) * s.cy;
    const int c2x = static_cast<int>(c2xf), c2y = static_cast<int>(c2yf);
    const int c3x = static_cast<int>(c2x + std::cos(-r) * s.cx), c3y = static_cast<int>(c2y + std::sin(-r) * s.cx);
    return {std::min({0, c1x, c2x, c3x}), std::min({0, c1y, c2y, c3y}), std::max({0, c1x, c2x, c3x}),
            std::max({0, c1y, c2y, c3y})};
}

TEST(PlatformText, TurnedTextStaysInsideItsTurnedCell) {
    for (int degrees : {90, 30, 180, 270, -45}) {
        Device dev(fontDesc(u"DejaVu Sans", 16, 700, false, degrees * 10));
        const TextSize s = dev.extent(u"Hg");
        const std::vector<int> b = turnedBox(s, static_cast<float>(degrees));
        const int margin = 6, w = b[2] - b[0], h = b[3] - b[1];
        Raster r(w + 2 * margin, h + 2 * margin);
        r.fill(0);
        ASSERT_TRUE(draw(dev, r, margin - b[0], margin - b[1], u"Hg")) << degrees;
        const std::vector<int> ink = r.inkBox();
        ASSERT_GE(ink[0], 0) << degrees;
        // One pixel of slack: the core's corners are truncated.
        EXPECT_GE(ink[0], margin - 1) << degrees;
        EXPECT_GE(ink[1], margin - 1) << degrees;
        EXPECT_LE(ink[2], margin + w + 1) << degrees;
        EXPECT_LE(ink[3], margin + h + 1) << degrees;
    }
}

TEST(PlatformText, AQuarterTurnIsCounterClockwise) {
    Device upright(fontDesc(u"DejaVu Sans", 16, 700));
    Device turned(fontDesc(u"DejaVu Sans", 16, 700, false, 900));
    const TextSize s = upright.extent(u"Hg");
    EXPECT_EQ(turned.extent(u"Hg").cx, s.cx) << "measured along the text";
    Raster a(s.cx + 20, s.cx + 20), b(s.cx + 20, s.cx + 20);
    a.fill(0);
    b.fill(0);
    const int x = 10, y = s.cx + 10;
    ASSERT_TRUE(draw(upright, a, x, 10, u"Hg"));
    ASSERT_TRUE(draw(turned, b, x, y, u"Hg"));
    // A pixel (u, v) of the upright text lands at column x + v, row y − 1 − u.
    const std::vector<int> ia = a.inkBox(), ib = b.inkBox();
    const int u0 = ia[0] - x, u1 = ia[2] - x, v0 = ia[1] - 10, v1 = ia[3] - 10;
    EXPECT_NEAR(ib[0], x + v0, 1);
    EXPECT_NEAR(ib[2], x + v1, 1);
    EXPECT_NEAR(ib[1], y - u1, 1);
    EXPECT_NEAR(ib[3], y - u0, 1);
}

TEST(PlatformText, ForgedAndWrongHandlesAreRefused) {
    Device dev;
    const Handle bitmap32 = dibSectionCreate(4, 4, 32);
    const Handle font = fontCreate(fontDesc(u"DejaVu Sans", 12));
    std::uint64_t local = 0;
    const Handle forged = reinterpret_cast<Handle>(&local);
    for (Handle bad : {Handle{0}, forged, bitmap32}) {
        EXPECT_FALSE(textSelectFont(dev.dc, bad));
        LogFont out{};
        EXPECT_EQ(fontDescribe(bad, out), 0);
    }
    for (Handle bad : {Handle{0}, forged, bitmap32, font}) EXPECT_FALSE(textSelectRaster(dev.dc, bad));
    EXPECT_FALSE(textOut(dev.dc, 0, 0, u"H", 1)) << "no raster selected";

    TextSize s{};
    EXPECT_FALSE(textSelectFont(nullptr, font));
    EXPECT_FALSE(textSelectRaster(nullptr, bitmap32));
    EXPECT_FALSE(textExtent(nullptr, u"H", 1, s));
    EXPECT_FALSE(textIsItalic(nullptr));
    EXPECT_FALSE(textOut(nullptr, 0, 0, u"H", 1));
    EXPECT_EQ(textInkRightColumn(nullptr, 10, 10), -1);
    textDeviceDelete(nullptr);

#ifndef _WIN32
    // A deleted raster is refused. (GDI keeps a bitmap selected into a DC
    // alive until it is deselected, so this holds on Linux only.)
    Handle raster = dibSectionCreateTopDown(8, 8);
    ASSERT_TRUE(textSelectRaster(dev.dc, raster));
    ASSERT_TRUE(objectDelete(raster));
    EXPECT_FALSE(textSelectRaster(dev.dc, raster));
#endif
    EXPECT_TRUE(objectDelete(bitmap32));
    EXPECT_TRUE(objectDelete(font));
}

TEST(PlatformTextThreads, SessionsDrawAtOnceWithTheirOwnAndTheStockFont) {
    // Each thread renders the same texts as a lone thread did; the stock
    // font is shared by all, the other fonts are each thread's own.
    auto render = [](bool ownFont) {
        Device dev = ownFont ? Device(fontDesc(u"DejaVu Serif", -15, 400, true, 300)) : Device();
        Raster r(80, 60);
        std::vector<std::uint8_t> out;
        for (int i = 0; i < 20; ++i) {
            r.fill(0);
            EXPECT_TRUE(draw(dev, r, 3, 20, u"Hg\xD834\xDD1E text"));
            TextSize s{};
            EXPECT_TRUE(textExtent(dev.dc, u"Hg", 2, s));
            out.assign(static_cast<std::uint8_t*>(r.d.bits), static_cast<std::uint8_t*>(r.d.bits) + 60 * r.d.widthBytes);
        }
        return out;
    };
    const std::vector<std::uint8_t> stock = render(false), own = render(true);
    ASSERT_NE(std::count(stock.begin(), stock.end(), 0), static_cast<std::ptrdiff_t>(stock.size())) << "no ink";
    ASSERT_NE(stock, own);
    std::vector<std::vector<std::uint8_t>> results(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back([&, t] { results[t] = render(t % 2 == 1); });
    for (std::thread& t : threads) t.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(results[t], t % 2 ? own : stock) << "thread " << t;
}

}  // namespace
}  // namespace oct::plat
