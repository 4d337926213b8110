#include "image/frame_screen.h"
#include "platform/pictures.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace oct {
namespace {

using Pixel = std::array<std::uint8_t, 4>;

struct Screen {
    std::vector<std::uint8_t> pixels;
    FrameScreen screen;
    Screen(std::int32_t w, std::int32_t h, std::uint32_t clear = 0)
        : pixels(static_cast<std::size_t>(w) * h * 4), screen{pixels.data(), w, h, clear} {}
    Pixel at(int x, int y) const {
        const std::uint8_t* p = pixels.data() + (static_cast<std::size_t>(y) * screen.width + x) * 4;
        return {p[0], p[1], p[2], p[3]};
    }
};

plat::PictureFrame rect(int left, int top, int width, int height, bool blend = true) {
    return {left, top, width, height, 0, plat::FrameDisposal::Keep, blend};
}

TEST(FrameScreen, BlendingFollowsTheAlphaOfBoth) {
    const struct {
        const char* name;
        Pixel under, over, result;
    } cases[] = {
        {"opaque replaces", {1, 2, 3, 200}, {10, 20, 30, 255}, {10, 20, 30, 255}},
        {"transparent keeps", {1, 2, 3, 200}, {10, 20, 30, 0}, {1, 2, 3, 200}},
        {"over nothing stays itself", {0, 0, 0, 0}, {10, 20, 30, 77}, {10, 20, 30, 77}},
        // alpha (128 × 255 + 255 × 127) / 255 = 255; colour (200 × 128 × 255 + 0 × 255 × 127) / 65025 = 100
        {"half over opaque black", {0, 0, 0, 255}, {200, 200, 200, 128}, {100, 100, 100, 255}},
        // alpha (128 × 255 + 100 × 127) / 255 = 177; blue (100 × 32640 + 50 × 12700) / 45340 = 85
        {"half over part", {50, 50, 50, 100}, {100, 100, 100, 128}, {85, 85, 85, 177}},
    };
    for (const auto& c : cases) {
        Screen s(1, 1);
        std::copy(c.under.begin(), c.under.end(), s.pixels.begin());
        imgLayFrame(s.screen, rect(0, 0, 1, 1), c.over.data(), 4);
        EXPECT_EQ(s.at(0, 0), c.result) << c.name;
    }
    Screen s(1, 1);
    s.pixels = {1, 2, 3, 200};
    const Pixel clear{9, 9, 9, 0};
    imgLayFrame(s.screen, rect(0, 0, 1, 1, false), clear.data(), 4);
    EXPECT_EQ(s.at(0, 0), clear) << "without blend the frame replaces, transparent pixels too";
}

TEST(FrameScreen, RectanglesAreClippedSavedClearedAndRestored) {
    Screen s(4, 3);
    EXPECT_EQ(imgClipFrame(s.screen, rect(2, 1, 5, 5)).width, 2);
    EXPECT_EQ(imgClipFrame(s.screen, rect(2, 1, 5, 5)).height, 2);
    EXPECT_EQ(imgClipFrame(s.screen, rect(-3, 0, 2, 2)).width, 0);
    EXPECT_EQ(imgClipFrame(s.screen, rect(INT32_MAX, 0, INT32_MAX, 2)).width, 0) << "no overflow";

    // A 2 × 2 frame at (1, 1): its rows land on screen rows 1 and 2.
    const std::vector<std::uint8_t> frame = {1, 1, 1, 255, 2, 2, 2, 255, 3, 3, 3, 255, 4, 4, 4, 255};
    const plat::PictureFrame r = rect(1, 1, 2, 2);
    std::vector<std::uint8_t> saved(16);
    imgSaveRect(s.screen, r, saved.data());
    imgLayFrame(s.screen, r, frame.data(), 8);
    EXPECT_EQ(s.at(1, 1), (Pixel{1, 1, 1, 255}));
    EXPECT_EQ(s.at(2, 2), (Pixel{4, 4, 4, 255}));
    EXPECT_EQ(s.at(0, 0), (Pixel{0, 0, 0, 0}));
    imgRestoreRect(s.screen, r, saved.data());
    EXPECT_EQ(s.at(2, 2), (Pixel{0, 0, 0, 0})) << "put back as it was";
    imgLayFrame(s.screen, r, frame.data(), 8);
    imgClearRect(s.screen, rect(2, 1, 1, 2));
    EXPECT_EQ(s.at(1, 2), (Pixel{3, 3, 3, 255}));
    EXPECT_EQ(s.at(2, 2), (Pixel{0, 0, 0, 0}));

    // A GIF's screen clears to its transparent colour, still transparent.
    Screen g(2, 1, 0x102030);
    imgClearRect(g.screen, rect(1, 0, 1, 1));
    EXPECT_EQ(g.at(1, 0), (Pixel{0x30, 0x20, 0x10, 0}));
    EXPECT_EQ(g.at(0, 0), (Pixel{0, 0, 0, 0})) << "only the rectangle";
}

}  // namespace
}  // namespace oct
