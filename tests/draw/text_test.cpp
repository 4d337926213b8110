// Text drawn through a session with the platform's real fonts: sizes are
// the platform's own, so these tests check what must hold on each platform
// rather than exact bytes (those are in text_blend_test.cpp).
#include "draw/text.h"

#include <gtest/gtest.h>

#include "canvas.h"
#include "image/font.h"
#include "platform/fail_inject.h"
#include "platform/fonts.h"
#include "platform/handles.h"

namespace oct {
namespace {

using test::Canvas;
using test::Px;

constexpr std::uint32_t kWhite = 0xFFFFFFFF;
constexpr std::uint32_t kBlue = 0x00FF0000;  // 0x00BBGGRR

struct Box {
    std::int32_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
    std::int32_t count = 0;
};

// The smallest rectangle holding every pixel whose colour bytes are not 0.
Box paintedBox(Canvas& canvas) {
    Box b;
    for (std::int32_t y = 0; y < canvas.height(); ++y)
        for (std::int32_t x = 0; x < canvas.width(); ++x)
            if (canvas.painted(x, y)) {
                b.left = std::min(b.left, x);
                b.top = std::min(b.top, y);
                b.right = std::max(b.right, x + 1);
                b.bottom = std::max(b.bottom, y + 1);
                ++b.count;
            }
    return b;
}

class Text : public ::testing::Test {
protected:
    Text() : canvas(200, 80, 24) {
        EXPECT_TRUE(canvas.begin());
        c = drwCurrent();
    }
    Canvas canvas;
    DrawContext* c = nullptr;
};

TEST_F(Text, HgInTheStockFontHasAPlausibleSizeAndStaysInsideIt) {
    // A session makes its text device at the first text call, not at start.
    EXPECT_EQ(c->textDevice, nullptr);
    const std::int64_t w = c->ops.textWidth(*c, u"Hg"), h = c->ops.textHeight(*c, u"Hg");
    ASSERT_NE(c->textDevice, nullptr);
    EXPECT_EQ(c->font, plat::fontStock());
    EXPECT_GT(w, 4);
    EXPECT_GT(h, 4);
    EXPECT_LE(h, c->rasterHeight);
    EXPECT_GE(c->rasterHeight, 50);

    c->ops.setMode(*c, DrawMode::kTransparentText);
    c->ops.setFrontColor(*c, kWhite);
    EXPECT_EQ(c->ops.drawText(*c, 10, 7, u"Hg"), 10 + w);
    const Box b = paintedBox(canvas);
    ASSERT_GT(b.count, 10);
    EXPECT_GE(b.left, 10);
    EXPECT_GE(b.top, 7);
    EXPECT_LE(b.right, 10 + w);
    EXPECT_LE(b.bottom, 7 + h);
}

TEST_F(Text, EmptyAndMissingTextsDrawNothing) {
    EXPECT_EQ(c->ops.textWidth(*c, u""), 0);
    EXPECT_EQ(c->ops.textHeight(*c, u""), 0);
    EXPECT_EQ(c->ops.textWidth(*c, nullptr), 0);
    EXPECT_EQ(c->ops.drawText(*c, 12, 3, u""), 12);
    EXPECT_EQ(c->ops.drawText(*c, 12, 3, nullptr), 12);
    c->ops.drawTextAngle(*c, 12, 3, u"", 30.0f);
    EXPECT_EQ(paintedBox(canvas).count, 0);
}

TEST_F(Text, TheBackgroundIsPaintedOverTheTextRectangleOnly) {
    c->ops.setFrontColor(*c, kWhite);
    c->ops.setBackColor(*c, kBlue);
    const std::int64_t w = c->ops.textWidth(*c, u"Hg"), h = c->ops.textHeight(*c, u"Hg");
    c->ops.drawText(*c, 20, 10, u"Hg");
    const Box b = paintedBox(canvas);
    EXPECT_EQ(b.left, 20);
    EXPECT_EQ(b.top, 10);
    EXPECT_EQ(b.right, 20 + w);
    EXPECT_EQ(b.bottom, 10 + h);
    EXPECT_EQ(b.count, w * h);  // every pixel of it: back, glyph or a mix
    EXPECT_EQ(canvas.get(20, 10), (Px{255, 0, 0, 0}));  // the top left corner is background
}

TEST_F(Text, AtMinusTenOnlyTheVisiblePartIsDrawn) {
    // The same pixels as at x = 0, shifted ten to the left.
    c->ops.setMode(*c, DrawMode::kTransparentText);
    c->ops.setFrontColor(*c, kWhite);
    const std::int64_t w = c->ops.textWidth(*c, u"Hello");
    EXPECT_EQ(c->ops.drawText(*c, 0, 0, u"Hello"), w);
    std::vector<Px> atZero;
    for (std::int32_t y = 0; y < canvas.height(); ++y)
        for (std::int32_t x = 0; x < canvas.width(); ++x) atZero.push_back(canvas.get(x, y));
    canvas.clear(0);
    EXPECT_EQ(c->ops.drawText(*c, -10, 0, u"Hello"), -10 + w);
    ASSERT_GT(paintedBox(canvas).count, 0);
    EXPECT_LE(paintedBox(canvas).right, w - 10);
    for (std::int32_t y = 0; y < canvas.height(); ++y)
        for (std::int32_t x = 0; x + 10 < canvas.width(); ++x)
            ASSERT_EQ(canvas.get(x, y), atZero[y * canvas.width() + x + 10]) << x << "," << y;
}

TEST_F(Text, TurnedTextPaintsNoBackgroundAndReusesItsFont) {
    c->ops.setFrontColor(*c, kWhite);
    c->ops.setBackColor(*c, kBlue);
    c->ops.drawTextAngle(*c, 60, 60, u"Hg", 0.0f);
    c->ops.drawTextAngle(*c, 100, 60, u"Hg", 30.0f);
    const Box b = paintedBox(canvas);
    EXPECT_GT(b.count, 10);
    bool anyBack = false;
    for (std::int32_t y = 0; y < canvas.height(); ++y)
        for (std::int32_t x = 0; x < canvas.width(); ++x) anyBack |= canvas.get(x, y) == Px{255, 0, 0, 0};
    EXPECT_FALSE(anyBack);

    const plat::Handle turned = c->rotatedFont;
    ASSERT_NE(turned, 0u);
    c->ops.drawTextAngle(*c, 100, 60, u"Hg", 30.0f);
    EXPECT_EQ(c->rotatedFont, turned);
    c->ops.drawTextAngle(*c, 100, 60, u"Hg", 390.0f);
    EXPECT_EQ(c->rotatedFont, turned);
    c->ops.drawTextAngle(*c, 100, 60, u"Hg", 45.0f);
    EXPECT_NE(c->rotatedFont, 0u);
    EXPECT_EQ(c->rotatedAngle, 45.0f);
    c->ops.setFont(*c, -1);
    EXPECT_EQ(c->rotatedFont, 0u);  // a new font drops the turned one
}

TEST_F(Text, TextTurnedAQuarterRunsUpwards) {
    c->ops.setMode(*c, DrawMode::kTransparentText);
    c->ops.setFrontColor(*c, kWhite);
    const std::int64_t w = c->ops.textWidth(*c, u"HHHH"), h = c->ops.textHeight(*c, u"HHHH");
    c->ops.drawTextAngle(*c, 50, 70, u"HHHH", 90.0f);
    const Box b = paintedBox(canvas);
    ASSERT_GT(b.count, 10);
    EXPECT_GT(b.bottom - b.top, b.right - b.left);  // taller than wide
    EXPECT_GE(b.left, 50 - 1);
    EXPECT_LE(b.right, 50 + h + 1);
    EXPECT_LE(b.bottom, 70 + 1);
    EXPECT_GE(b.top, 70 - w - 1);
}

TEST_F(Text, ItalicFontsOverhangAndUprightOnesDoNot) {
    plat::LogFont lf{};
    lf.height = -24;
    lf.weight = 400;
    const char16_t face[] = u"DejaVu Sans";
    std::copy(std::begin(face), std::end(face), lf.faceName);
    const std::int64_t upright = fntCreateFont(AnyId, lf);
    lf.italic = 1;
    const std::int64_t italic = fntCreateFont(AnyId, lf);
    ASSERT_NE(upright, 0);
    ASSERT_NE(italic, 0);
    EXPECT_EQ(drwItalicOverhang(fntFontHandle(upright)), 0);
    EXPECT_GT(drwItalicOverhang(fntFontHandle(italic)), 0);

    EXPECT_EQ(c->ops.setFont(*c, static_cast<std::int64_t>(fntFontHandle(italic))), 1);
    EXPECT_GT(c->italicOverhang, 0);
    const std::int64_t width = c->ops.textWidth(*c, u"H");
    EXPECT_EQ(c->ops.drawText(*c, 0, 0, u"H"), width);
    c->ops.setFont(*c, -1);  // the session lets go of the font before it is freed
    fntFreeFont(italic);
    fntFreeFont(upright);
}

TEST(FontTable, FreedFontsAreDeletedAndTheStockFontStays) {
    plat::LogFont lf{};
    lf.height = -12;
    const std::int64_t id = fntCreateFont(AnyId, lf);
    ASSERT_NE(id, 0);
    const plat::Handle handle = fntFontHandle(id);
    EXPECT_EQ(plat::handleKind(handle), plat::HandleKind::Font);
    plat::LogFont back{};
    EXPECT_EQ(plat::fontDescribe(handle, back), 92);
    EXPECT_EQ(back.height, -12);
    fntFreeFont(id);
    EXPECT_EQ(fntFontHandle(id), 0u);
    EXPECT_EQ(plat::handleKind(handle), plat::HandleKind::None);  // deleted, not sent elsewhere
    EXPECT_FALSE(plat::objectDelete(plat::fontStock()));
    EXPECT_EQ(plat::handleKind(plat::fontStock()), plat::HandleKind::Font);
    // A number id gives the handle itself.
    const std::int64_t numbered = fntCreateFont(7, lf);
    EXPECT_EQ(static_cast<plat::Handle>(numbered), fntFontHandle(7));
    fntFreeFont(7);
}

TEST_F(Text, SetFontRefusesWhatIsNotAFont) {
    ASSERT_GT(c->ops.textHeight(*c, u"H"), 0);
    const plat::Handle before = c->font;
    ASSERT_NE(before, 0u);
    EXPECT_EQ(c->ops.setFont(*c, 0), 0);
    EXPECT_EQ(c->ops.setFont(*c, 0x12345678), 0);
    EXPECT_EQ(c->ops.setFont(*c, static_cast<std::int64_t>(imgImageHandle(canvas.id()))), 0);
    EXPECT_EQ(c->font, before);
}

TEST_F(Text, ATallerRasterIsNeverNarrower) {
    // A font chosen while the area is narrowed gets a taller raster as wide
    // as the old one, so text after unclip is not cut at the clip's width.
    ASSERT_GT(c->ops.textHeight(*c, u"H"), 0);
    const std::int32_t wide = c->rasterWidth;
    EXPECT_EQ(wide, 200);
    c->ops.clip(*c, 0, 0, 30, 80);
    plat::LogFont lf{};
    lf.height = -60;
    const char16_t face[] = u"DejaVu Sans";
    std::copy(std::begin(face), std::end(face), lf.faceName);
    const std::int64_t big = fntCreateFont(AnyId, lf);
    ASSERT_NE(big, 0);
    const std::int32_t lowBefore = c->rasterHeight;
    c->ops.setFont(*c, static_cast<std::int64_t>(fntFontHandle(big)));
    EXPECT_GT(c->rasterHeight, lowBefore);
    EXPECT_EQ(c->rasterWidth, wide);
    c->ops.unclip(*c);
    c->ops.setMode(*c, DrawMode::kTransparentText);
    c->ops.setFrontColor(*c, kWhite);
    c->ops.drawText(*c, 0, 0, u"WWWW");
    EXPECT_GT(paintedBox(canvas).right, 30);
    c->ops.setFont(*c, -1);
    fntFreeFont(big);
}

TEST_F(Text, TextFirstUsedWhileClippedStillGetsARasterAsWideAsTheOutput) {
    c->ops.clip(*c, 0, 0, 30, 80);
    ASSERT_GT(c->ops.textHeight(*c, u"H"), 0);
    EXPECT_EQ(c->rasterWidth, 200);
    c->ops.unclip(*c);
    c->ops.setMode(*c, DrawMode::kTransparentText);
    c->ops.setFrontColor(*c, kWhite);
    c->ops.drawText(*c, 0, 0, u"WWWWWWWW");
    EXPECT_GT(paintedBox(canvas).right, 30);
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

// Turned text whose raster cannot be made draws nothing and says so; an
// empty text is no failure.
TEST_F(Text, TurnedTextReportsARasterItCouldNotMake) {
    c->ops.setFrontColor(*c, kWhite);
    ASSERT_TRUE(drwDrawTextTurned(*c, 60, 60, u"Hg", 30.0f));
    canvas.clear(0);
    plat::failCallAt(plat::FailKind::DibSection, 1, true);
    const bool drawn = drwDrawTextTurned(*c, 60, 60, u"Hg", 30.0f);
    plat::failNone();
    EXPECT_FALSE(drawn);
    EXPECT_EQ(paintedBox(canvas).count, 0);
    EXPECT_TRUE(drwDrawTextTurned(*c, 60, 60, u"", 30.0f));
}

}  // namespace
}  // namespace oct
