// Combining a text raster with the output, by mode, from hand-made rasters:
// independent of any font rendering, so the same bytes on every platform.
#include <gtest/gtest.h>

#include <vector>

#include "canvas.h"
#include "draw/text_blend.h"

namespace oct {
namespace {

using test::Canvas;
using test::Px;

struct BlendCase {
    const char* what;
    std::int32_t depth;
    std::uint32_t mode;
    std::uint32_t front, back;  // 0xAABBGGRR
    bool rotated;
    std::array<std::uint8_t, 3> raster;  // blue, green, red coverage
    Px before, after;                    // blue, green, red, alpha
};

// Expected values worked out by hand from the rules.
const BlendCase kCases[] = {
    // Copy. Without a background a white raster pixel writes the front colour
    // whatever its alpha, and a black one leaves the pixel.
    {"copy white", 24, 0x1, 0x80FF0000, 0, false, {255, 255, 255}, {10, 20, 30, 0}, {255, 0, 0, 0}},
    {"copy black", 24, 0x1, 0x80FF0000, 0, false, {0, 0, 0}, {10, 20, 30, 0}, {10, 20, 30, 0}},
    {"copy back", 24, 0x0, 0xFF0000FF, 0x00332211, false, {0, 0, 0}, {10, 20, 30, 0}, {0x33, 0x22, 0x11, 0}},
    {"copy mixed", 24, 0x0, 0xFF0000FF, 0x00FFFFFF, false, {128, 64, 0}, {10, 20, 30, 0}, {127, 191, 255, 0}},
    {"copy keeps alpha", 32, 0x1, 0xFF0000FF, 0, false, {255, 255, 255}, {1, 2, 3, 77}, {0, 0, 255, 77}},
    {"turned text paints no back", 24, 0x0, 0xFF0000FF, 0x00332211, true, {0, 0, 0}, {10, 20, 30, 0}, {10, 20, 30, 0}},
    // Exclusive or: the front where cov > 0.5, the back elsewhere when painted.
    {"xor back", 24, 0x2, 0xFF0000FF, 0x000F0F0F, false, {100, 100, 100}, {0xF0, 0xF0, 0xF0, 0}, {255, 255, 255, 0}},
    {"xor front", 24, 0x2, 0xFF0000FF, 0x000F0F0F, false, {200, 200, 200}, {0xF0, 0xF0, 0xF0, 0}, {0xF0, 0xF0, 0x0F, 0}},
    {"xor no back", 24, 0x3, 0xFF0000FF, 0x000F0F0F, false, {100, 100, 100}, {0xF0, 0xF0, 0xF0, 0}, {0xF0, 0xF0, 0xF0, 0}},
    // All four bytes over a back of alpha 192: each channel by its own coverage.
    {"all bytes", 32, 0x100, 0xFF0000FF, 0xC0000000, false, {0, 255, 128}, {9, 9, 9, 9}, {0, 0, 145, 223}},
    {"all bytes no back, bare", 32, 0x101, 0x80112233, 0, false, {0, 0, 0}, {9, 9, 9, 9}, {9, 9, 9, 9}},
    {"all bytes no back, covered", 32, 0x101, 0x80332211, 0, false, {255, 255, 255}, {9, 9, 9, 9}, {0x33, 0x22, 0x11, 128}},
    // Alpha only, in single precision: (1 - cov) x under + o x cov.
    {"alpha over back", 32, 0x8, 0xFF000000, 0x40000000, false, {255, 0, 0}, {1, 2, 3, 200}, {1, 2, 3, 127}},
    {"alpha over target", 32, 0x9, 0xFF000000, 0x40000000, false, {255, 0, 0}, {1, 2, 3, 200}, {1, 2, 3, 218}},
    {"alpha on 24 bits", 24, 0x9, 0xFF000000, 0, false, {255, 0, 0}, {1, 2, 3, 0}, {1, 2, 3, 0}},
    // Blend without a background.
    {"blend 24", 24, 0x11, 0x80FF0000, 0, false, {255, 255, 255}, {10, 20, 30, 0}, {132, 9, 14, 0}},
    {"blend opaque target", 32, 0x11, 0x80FF0000, 0, false, {255, 255, 255}, {10, 20, 30, 255}, {132, 9, 14, 255}},
    {"blend clear target", 32, 0x11, 0x80FF0000, 0, false, {255, 255, 255}, {10, 20, 30, 0}, {255, 0, 0, 128}},
    {"blend keeping alpha", 32, 0x21, 0x80FF0000, 0, false, {255, 255, 255}, {10, 20, 30, 0}, {255, 0, 0, 0}},
    {"blend bare pixel", 32, 0x11, 0x80FF0000, 0, false, {0, 0, 0}, {10, 20, 30, 99}, {10, 20, 30, 99}},
    // Blend with a background: front and back mixed by coverage, then over the output once.
    {"blend back 24", 24, 0x10, 0xFF0000FF, 0x80FF0000, false, {0, 0, 0}, {0, 0, 0, 0}, {128, 0, 0, 0}},
    {"blend back covered", 24, 0x10, 0xFF0000FF, 0x80FF0000, false, {255, 255, 255}, {0, 0, 0, 0}, {0, 0, 255, 0}},
    {"blend back 32", 32, 0x10, 0xFF0000FF, 0x80FF0000, false, {0, 0, 0}, {7, 7, 7, 0}, {255, 0, 0, 128}},
    // Gradient colouring: the default gradient is opaque white, whatever the front colour.
    {"gradient", 24, 0x41, 0xFF0000FF, 0, false, {255, 255, 255}, {10, 20, 30, 0}, {255, 255, 255, 0}},
};

TEST(TextBlend, EveryModeGivesItsBytes) {
    for (const BlendCase& k : kCases) {
        Canvas canvas(1, 1, k.depth);
        ASSERT_TRUE(canvas.begin());
        DrawContext& c = *drwCurrent();
        canvas.set(0, 0, k.before);
        c.ops.setMode(c, k.mode);
        c.ops.setFrontColor(c, k.front);
        c.ops.setBackColor(c, k.back);
        const std::uint8_t raster[4] = {k.raster[0], k.raster[1], k.raster[2], 0};
        drwBlendText(c, raster, 4, 0, 0, 1, 1, k.rotated);
        Px after = canvas.get(0, 0);
        EXPECT_EQ(after, k.after) << k.what << ": " << int(after[0]) << "," << int(after[1]) << "," << int(after[2])
                                  << "," << int(after[3]);
    }
}

TEST(TextBlend, TheFilterSeesCoverageAsAlphaAndTheOutputColour) {
    Canvas canvas(1, 1, 32);
    ASSERT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    canvas.set(0, 0, {1, 2, 3, 4});
    static std::uint32_t seenSource, seenTarget;
    c.filter = [](DrawContext&, std::int32_t, std::int32_t, std::uint32_t source, std::uint32_t target) {
        seenSource = source;
        seenTarget = target;
        return 0x11223344u;
    };
    c.ops.setMode(c, 0x81);
    c.ops.setFrontColor(c, 0x80FF0000);
    const std::uint8_t raster[4] = {255, 255, 255, 0};
    drwBlendText(c, raster, 4, 0, 0, 1, 1, false);
    EXPECT_EQ(seenSource, 0x80FF0000u);  // E = 128 on top of the front colour
    EXPECT_EQ(seenTarget, 0x04010203u);
    EXPECT_EQ(canvas.get(0, 0), (Px{0x22, 0x33, 0x44, 0x11}));
}

TEST(TextBlend, ClipsToTheAreaAndSkipsWhatLiesBeforeIt) {
    // A white 4 x 3 raster in red over a 3 x 2 picture, copy mode without a background.
    const std::int64_t rowBytes = 12;
    const std::vector<std::uint8_t> white(rowBytes * 3, 255);
    struct Case {
        std::int32_t x, y;
        bool clip;  // to the area (1, 0, 2, 2) first
        const char* expected;  // rows top first, 'r' red, '.' untouched
    };
    const Case cases[] = {
        {-1, -1, false, "rrrrrr"}, {2, 1, false, ".....r"}, {3, 0, false, "......"},
        {-4, 0, false, "......"}, {0, -3, false, "......"}, {0, 0, true, ".rr.rr"},
    };
    for (const Case& k : cases) {
        Canvas canvas(3, 2, 24);
        ASSERT_TRUE(canvas.begin());
        DrawContext& c = *drwCurrent();
        if (k.clip) c.ops.clip(c, 1, 0, 2, 2);
        c.ops.setMode(c, 0x1);
        c.ops.setFrontColor(c, 0xFF0000FF);
        drwBlendText(c, white.data(), rowBytes, k.x, k.y, 4, 3, false);
        std::string got;
        for (std::int32_t y = 0; y < 2; ++y)
            for (std::int32_t x = 0; x < 3; ++x) got += canvas.painted(x, y) ? 'r' : '.';
        EXPECT_EQ(got, std::string(k.expected) + std::string(6 - std::string(k.expected).size(), '.'))
            << k.x << "," << k.y;
    }
}

TEST(TextBlend, NothingForEmptyOrHugeRectangles) {
    Canvas canvas(2, 2, 24);
    ASSERT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    c.ops.setMode(c, 0x1);
    c.ops.setFrontColor(c, 0xFF0000FF);
    const std::uint8_t raster[8] = {255, 255, 255, 255, 255, 255, 0, 0};
    drwBlendText(c, raster, 8, 0, 0, 0, 1, false);
    drwBlendText(c, raster, 8, 0, 0, 2, -1, false);
    drwBlendText(c, nullptr, 8, 0, 0, 2, 1, false);
    drwBlendText(c, raster, 8, INT32_MAX, 0, INT32_MAX, 1, false);
    drwBlendText(c, raster, 8, INT32_MIN, 0, 2, 1, false);
    for (std::int32_t y = 0; y < 2; ++y)
        for (std::int32_t x = 0; x < 2; ++x) EXPECT_FALSE(canvas.painted(x, y)) << x << "," << y;
}

}  // namespace
}  // namespace oct
