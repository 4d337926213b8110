#include "draw/primitives.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "draw/canvas.h"
#include "draw/plot.h"
#include "platform/fail_inject.h"

namespace oct {
namespace {

using test::Canvas;
using test::Px;
using Pixels = std::set<std::pair<int, int>>;

// The painted pixels of a canvas.
Pixels paintedOf(Canvas& canvas) {
    Pixels out;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (canvas.painted(x, y)) out.insert({x, y});
    return out;
}

// What `draw` paints in white, with `mode`, on a black canvas.
Pixels drawn(int w, int h, std::uint32_t mode, const std::function<void(DrawContext&)>& draw) {
    Canvas canvas(w, h, 24);
    EXPECT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    drwSetMode(mode);
    c.ops.setFrontColor(c, 0xFFFFFFFF);
    draw(c);
    return paintedOf(canvas);
}

Pixels rect(int x, int y, int w, int h) {
    Pixels out;
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i) out.insert({i, j});
    return out;
}

TEST(DrawShapes, EdgeCases) {
    using Op = std::function<void(DrawContext&)>;
    struct Case {
        const char* name;
        std::uint32_t mode;
        Op draw;
        Pixels expected;
    };
    const Case cases[] = {
        {"negative sizes move the corner", 0, [](DrawContext& c) { c.ops.box(c, 10, 10, -4, -4); }, rect(6, 6, 4, 4)},
        {"filled box clipped at every edge", 0, [](DrawContext& c) { c.ops.box(c, -3, -2, 100, 5); },
         rect(0, 0, 12, 3)},
        {"outline", 4, [](DrawContext& c) { c.ops.box(c, 1, 1, 4, 3); },
         {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {1, 3}, {2, 3}, {3, 3}, {4, 3}, {1, 2}, {4, 2}}},
        {"outline of height 1 is its row", 4, [](DrawContext& c) { c.ops.box(c, 2, 2, 3, 1); }, rect(2, 2, 3, 1)},
        {"xor outline of height 1 draws the row twice", 6, [](DrawContext& c) { c.ops.box(c, 2, 2, 3, 1); }, {}},
        {"outline of width 0 draws two columns", 4, [](DrawContext& c) { c.ops.box(c, 5, 0, 0, 4); },
         {{5, 1}, {5, 2}, {4, 1}, {4, 2}}},
        {"outline partly outside", 4, [](DrawContext& c) { c.ops.box(c, -1, -1, 4, 4); },
         {{0, 2}, {1, 2}, {2, 2}, {2, 0}, {2, 1}}},
        {"line x-major", 0, [](DrawContext& c) { c.ops.line(c, 0, 0, 3, 1); }, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},
        {"line either way round", 0, [](DrawContext& c) { c.ops.line(c, 3, 1, 0, 0); },
         {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},
        {"line y-major", 0, [](DrawContext& c) { c.ops.line(c, 0, 0, 1, 3); }, {{0, 0}, {0, 1}, {1, 2}, {1, 3}}},
        {"horizontal line clipped", 0, [](DrawContext& c) { c.ops.line(c, 9, 0, 100, 0); }, {{9, 0}, {10, 0}, {11, 0}}},
        {"vertical line off the area", 0, [](DrawContext& c) { c.ops.line(c, 12, 0, 12, 5); }, {}},
        {"both ends beyond one limit", 0, [](DrawContext& c) { c.ops.line(c, -5, 0, -1, 7); }, {}},
        // Held to ±65000; the x pass puts both ends on row trunc(0.5) = 0 and trunc(0.5000…) = 0.
        {"huge ends are held, then clipped", 0, [](DrawContext& c) { c.ops.line(c, INT32_MIN, 0, INT32_MAX, 1); },
         rect(0, 0, 12, 1)},
    };
    for (const Case& k : cases) EXPECT_EQ(drawn(12, 12, k.mode, k.draw), k.expected) << k.name;
}

TEST(DrawShapes, LineThroughTheCornerIsClippedToTheDiagonal) {
    const Pixels p = drawn(5, 5, 0, [](DrawContext& c) { c.ops.line(c, -10, -10, 10, 10); });
    EXPECT_EQ(p, (Pixels{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}}));
}

TEST(DrawShapes, ClippedLineKeepsTheTruncatedEnds) {
    // x pass: (−4, 1) moves to x 0, y = trunc(1 + 4 × 6/14) = 2; (10, 7) to
    // x 7, y = trunc(7 − 3 × 6/14) = 5. The y pass has nothing to do.
    const Pixels p = drawn(8, 8, 0, [](DrawContext& c) { c.ops.line(c, -4, 1, 10, 7); });
    EXPECT_TRUE(p.count({0, 2}) && p.count({7, 5})) << p.size();
    EXPECT_EQ(p.size(), 8u);
}

// Clip rectangles: what a full-area box then paints, relative to the output.
TEST(DrawClip, NegativeOversizedAndEmptyRectangles) {
    struct Case {
        int x, y, w, h;
        Pixels expected;
    };
    const Case cases[] = {
        {2, 1, 3, 2, rect(2, 1, 3, 2)},
        {-2, -1, 5, 3, rect(0, 0, 3, 2)},      // negative corner shortens the sides
        {4, 3, 100, 100, rect(4, 3, 4, 3)},    // oversized: ends at the output's edge
        {9, 0, 2, 2, {}},                      // beyond the right edge: empty
        {2, 2, 0, 3, {}},
        {2, 2, -3, 3, {}},                     // a negative width is not turned round
        {-10, -10, 5, 5, {}},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(drawn(8, 6, 0,
                        [&](DrawContext& c) {
                            c.ops.clip(c, k.x, k.y, k.w, k.h);
                            c.ops.box(c, -50, -50, 200, 200);
                            c.ops.line(c, -50, -40, 60, 70);
                            c.ops.ellipse(c, 1, 1, 3, 2);
                            c.ops.roundBox(c, 0, 0, 4, 4, 1, 1);
                            c.ops.fill(c, 0, 0, 0xFFFFFFFF);
                            for (int y = -2; y < 10; ++y)
                                for (int x = -2; x < 12; ++x) drwPlot(x, y, 0xFFFFFFFF);
                        }),
                  k.expected)
            << k.x << " " << k.y << " " << k.w << " " << k.h;
    }
}

TEST(DrawClip, PlotUsesOutputCoordinatesAndUnclipRestores) {
    Canvas canvas(6, 6, 32);
    ASSERT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    c.ops.setFrontColor(c, 0xFFFFFFFF);
    c.ops.clip(c, 2, 3, 2, 2);
    drwPlot(3, 4, 0x000000FF);             // inside the clip, in output coordinates
    drwPlot(0, 0, 0x000000FF);             // outside it: nothing
    c.ops.box(c, 0, 0, 1, 1);              // area coordinates: output (2, 3)
    EXPECT_EQ(canvas.get(3, 4), (Px{0, 0, 0xFF, 0}));
    EXPECT_EQ(canvas.get(2, 3), (Px{0xFF, 0xFF, 0xFF, 0}));
    EXPECT_EQ(canvas.get(0, 0), (Px{}));
    c.ops.unclip(c);
    c.ops.box(c, 5, 5, 1, 1);
    EXPECT_EQ(canvas.get(5, 5), (Px{0xFF, 0xFF, 0xFF, 0}));
    EXPECT_EQ(c.width, 6);
    EXPECT_EQ(c.bits, c.baseBits);
}

TEST(DrawClip, EmptyClipKeepsBitsInsideTheBuffer) {
    Canvas canvas(4, 4, 24);
    ASSERT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    const auto* first = static_cast<const std::uint8_t*>(canvas.bitmap().bits);
    const auto* end = first + canvas.bitmap().widthBytes * canvas.bitmap().height;
    for (auto [x, y] : {std::pair{4, 0}, {0, 4}, {4, 4}, {-9, 2}}) {
        EXPECT_EQ(c.ops.clip(c, x, y, 2, 2), 0);
        EXPECT_TRUE(c.bits >= first && c.bits < end && c.topRow >= first && c.topRow < end) << x << " " << y;
    }
}

TEST(DrawFill, AfterUnclipATallerAreaGetsARowHeadForEveryRow) {
    Canvas canvas(5, 40, 24);
    ASSERT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    c.ops.setFrontColor(c, 0xFFFFFFFF);
    c.ops.clip(c, 0, 0, 5, 2);
    EXPECT_EQ(c.ops.fill(c, 0, 0, 0xFFFFFFFF), 1);  // the fill state is made for 2 rows
    c.ops.unclip(c);
    c.ops.setFrontColor(c, 0xFF0000FF);
    EXPECT_EQ(c.ops.fill(c, 0, 39, 0xFFFFFFFF), 1);
    EXPECT_EQ(canvas.get(4, 39), (Px{0, 0, 0xFF, 0}));
    EXPECT_EQ(canvas.get(4, 0), (Px{0xFF, 0xFF, 0xFF, 0})) << "the white rows stop the black fill";
}

// A recursive scanline fill on a plain grid, as the fill's rule states it:
// the order in which it colours pixels.
struct ReferenceFill {
    std::vector<std::vector<int>> grid;  // colours
    std::vector<std::vector<std::pair<int, int>>> spans;
    std::vector<std::pair<int, int>> order;
    int reference, front;

    bool inside(int x, int y) const { return grid[y][x] == reference; }
    void colour(int x, int y) {
        grid[y][x] = front;
        order.push_back({x, y});
    }
    void span(int x, int y) {
        const int w = static_cast<int>(grid[0].size()), h = static_cast<int>(grid.size());
        int l = x - 1;
        for (; l >= 0 && inside(l, y); --l) colour(l, y);
        int r = x;
        for (; r < w && inside(r, y); ++r) colour(r, y);
        spans[y].push_back({l, r});
        for (int row : {y - 1, y + 1}) {
            if (row < 0 || row >= h) continue;
            bool previous = false;
            for (int i = l + 1; i < r; ++i) {
                const bool in = inside(i, row);
                if (in && !previous) {
                    bool covered = false;
                    for (auto [a, b] : spans[row]) covered |= a < i && i < b;
                    if (!covered) span(i, row);
                }
                previous = in;
            }
        }
    }
};

std::vector<std::pair<int, int>> gFilterOrder;
std::uint32_t recordingFilter(DrawContext&, std::int32_t x, std::int32_t y, std::uint32_t, std::uint32_t) {
    gFilterOrder.push_back({x, y});
    return 0xFF0000FF;
}

TEST(DrawFill, ColoursPixelsInTheOrderOfTheRecursiveFill) {
    // A maze of walls (white) with black passages; the fill starts in a passage.
    const char* rows[] = {
        "..........#.....",
        ".####.###.#.###.",
        ".#..#...#...#...",
        ".#.##.#.#####.#.",
        "...#..#.......#.",
        ".###.######.###.",
        ".....#......#...",
        "####.#.####.#.##",
        "...........#....",
    };
    const int w = 16, h = 9;
    Canvas canvas(w, h, 24);
    ReferenceFill ref{std::vector<std::vector<int>>(h, std::vector<int>(w)), std::vector<std::vector<std::pair<int, int>>>(h), {}, 0, 1};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (rows[y][x] == '#') {
                canvas.set(x, y, {0xFF, 0xFF, 0xFF, 0});
                ref.grid[y][x] = 2;
            }
    ref.span(7, 4);
    ASSERT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    c.filter = recordingFilter;
    drwSetMode(DrawMode::kFilter);
    gFilterOrder.clear();
    EXPECT_EQ(c.ops.fill(c, 7, 4, 0xFFFFFFFF), 1);
    EXPECT_EQ(gFilterOrder, ref.order);
    EXPECT_GT(ref.order.size(), 60u);
}

TEST(DrawFill, HundredsOfThousandsOfSpansDoNotExhaustTheStack) {
    // Vertical passages one pixel wide, joined alternately at the bottom and
    // the top: one span per row per passage, all in one chain.
    const int w = 401, h = 1000;
    Canvas canvas(w, h, 24);
    for (int x = 1; x < w; x += 2)
        for (int y = 0; y < h; ++y)
            if (y != ((x / 2) % 2 ? 0 : h - 1)) canvas.set(x, y, {0xFF, 0xFF, 0xFF, 0});
    ASSERT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    c.ops.setFrontColor(c, 0xFF00FF00);
    EXPECT_EQ(c.ops.fill(c, 0, 0, 0xFFFFFFFF), 1);
    for (int x = 0; x < w; x += 2) {
        ASSERT_EQ(canvas.get(x, 0), (Px{0, 0xFF, 0, 0})) << x;
        ASSERT_EQ(canvas.get(x, h - 1), (Px{0, 0xFF, 0, 0})) << x;
    }
}

TEST(DrawFill, BorderColourFrontEqualToTheRegionAndPointsOutside) {
    // A ring of red around black, filled up to red with blue.
    Canvas canvas(7, 7, 32);
    ASSERT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    drwSetMode(DrawMode::kOutline);
    c.ops.setFrontColor(c, 0xFF0000FF);
    c.ops.box(c, 1, 1, 5, 5);
    drwSetMode(0);
    c.ops.setFrontColor(c, 0xFFFF0000);
    EXPECT_EQ(c.ops.fill(c, 3, 3, 0x000000FF), 1);  // alpha of the border ignored
    EXPECT_EQ(canvas.get(3, 3), (Px{0xFF, 0, 0, 0}));
    EXPECT_EQ(canvas.get(2, 4), (Px{0xFF, 0, 0, 0}));
    EXPECT_EQ(canvas.get(1, 3), (Px{0, 0, 0xFF, 0}));
    EXPECT_EQ(canvas.get(0, 0), (Px{})) << "outside the ring";
    // The colour of the region itself: every span once, then it stops.
    c.ops.setFrontColor(c, 0xFFFF0000);
    EXPECT_EQ(c.ops.fill(c, 3, 3, 0xFFFFFFFF), 1);
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {7, 0}, {0, 7}}) {
        EXPECT_EQ(c.ops.fill(c, x, y, 0xFFFFFFFF), 0);
        EXPECT_EQ(drwFill(c, x, y, 0xFFFFFFFF), FillResult::Outside);
    }
    // A clip that leaves no area: nothing to fill, which is not a lack of memory.
    c.ops.clip(c, 2, 2, 0, 0);
    EXPECT_EQ(drwFill(c, 0, 0, 0xFFFFFFFF), FillResult::Outside);
    c.ops.unclip(c);
    EXPECT_EQ(drwFill(c, 3, 3, 0xFFFFFFFF), FillResult::Filled);
}

// The fill says when memory ran out, on its first request or part way.
TEST(DrawFill, RunningOutOfMemoryIsToldApart) {
    Canvas canvas(64, 64, 24);
    ASSERT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    c.ops.setFrontColor(c, 0xFF00FF00);
    plat::failCallAt(plat::FailKind::Alloc, 1, true);
    const FillResult result = drwFill(c, 5, 5, 0xFFFFFFFF);
    plat::failNone();
    EXPECT_EQ(result, FillResult::NoMemory);
    EXPECT_EQ(drwFill(c, 5, 5, 0xFFFFFFFF), FillResult::Filled);
}

// Every mode on both pixel formats: a box (spans) and a fill colour each
// pixel exactly as plotting the front colour on it does.
TEST(DrawSpans, BoxesAndFillsMatchPlotsInEveryMode) {
    const std::uint32_t modes[] = {0, 0x2, 0x8, 0x10, 0x20, 0x40, 0x50, 0x80, 0x100, 0x110, 0x140};
    const std::uint32_t colour = 0x80C04020;
    for (int depth : {24, 32}) {
        for (std::uint32_t mode : modes) {
            for (bool fill : {false, true}) {
                Canvas shape(6, 5, depth), plotted(6, 5, depth);
                for (Canvas* k : {&shape, &plotted})
                    for (int y = 0; y < 5; ++y)
                        for (int x = 0; x < 6; ++x)
                            k->set(x, y, {static_cast<std::uint8_t>(x * 40), static_cast<std::uint8_t>(y * 50),
                                          static_cast<std::uint8_t>(fill ? 0x99 : 200), static_cast<std::uint8_t>(x * 50)});
                // The fill's border is a colour no pixel has: it fills the whole picture.
                ASSERT_TRUE(plotted.begin());
                drwSetMode(mode);
                for (int y = 0; y < 5; ++y)
                    for (int x = 0; x < 6; ++x)
                        if (fill || (x >= 1 && x < 5 && y >= 1 && y < 4)) drwPlot(x, y, colour);
                drwEnd();
                ASSERT_TRUE(shape.begin());
                DrawContext& c = *drwCurrent();
                drwSetMode(mode);
                c.ops.setFrontColor(c, colour);
                if (fill)
                    c.ops.fill(c, 2, 2, 0x00123456);
                else
                    c.ops.box(c, 1, 1, 4, 3);
                drwEnd();
                EXPECT_EQ(shape.bytes(), plotted.bytes()) << "depth " << depth << " mode " << mode << (fill ? " fill" : " box");
            }
        }
    }
}

TEST(DrawColour, AStoredFrontColourSurvivesAModeChange) {
    Canvas canvas(2, 1, 24);
    ASSERT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    c.ops.setFrontColor(c, 0xFF0000FF);
    c.ops.setBackColor(c, 0xFF00FF00);
    drwSetMode(0x2);
    drwSetMode(0);
    EXPECT_EQ(c.frontColor, 0xFF0000FFu);
    EXPECT_EQ(c.backColor, 0xFF00FF00u);
    c.ops.box(c, 0, 0, 1, 1);
    EXPECT_EQ(canvas.get(0, 0), (Px{0, 0, 0xFF, 0}));
}

double half(DrawContext&, std::int32_t x, std::int32_t) { return x == 0 ? 0.5 : x == 1 ? 0.25 : 1.0; }

TEST(DrawColour, GradientColoursWithAndWithoutStops) {
    Canvas canvas(3, 1, 32);
    ASSERT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    c.gradient = half;
    drwSetMode(0x140);  // gradient, all four bytes
    c.ops.box(c, 0, 0, 2, 1);
    // 0xFFFFFFFF × p + 0xFF000000 × (1 − p), channel by channel, truncated.
    EXPECT_EQ(canvas.get(0, 0), (Px{127, 127, 127, 255}));
    EXPECT_EQ(canvas.get(1, 0), (Px{63, 63, 63, 255}));
    const GradientStop stops[] = {{0.5, 0x800000FF}};
    ASSERT_TRUE(drwSetGradientStops(c, stops, 1));
    c.ops.box(c, 0, 0, 3, 1);
    EXPECT_EQ(canvas.get(0, 0), (Px{0, 0, 255, 128}));         // on the stop
    EXPECT_EQ(canvas.get(1, 0), (Px{0, 0, 127, 191}));         // halfway from the second colour to the stop
    EXPECT_EQ(canvas.get(2, 0), (Px{255, 255, 255, 255}));     // the first colour at 1
    EXPECT_EQ(drwEnd(), 1);  // frees the stops (the leak check would see them)
}

}  // namespace
}  // namespace oct
