#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "draw/canvas.h"
#include "draw/primitives.h"

namespace oct {
namespace {

using test::Canvas;

// One shape drawn three ways on black pictures of the same size: filled,
// outlined, and outlined with exclusive-or (0xFF, so a pixel coloured twice
// would end black again). Grids hold 1 for a painted pixel.
struct Drawn {
    int w, h;
    std::vector<std::vector<int>> filled, outline, xorOutline, xorFilled;
};

using Shape = void (*)(DrawContext&, const int* args);

std::vector<std::vector<int>> paint(int w, int h, std::uint32_t mode, Shape shape, const int* args) {
    Canvas canvas(w, h, 24);
    EXPECT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    drwSetMode(mode);
    c.ops.setFrontColor(c, 0xFFFFFFFF);
    shape(c, args);
    std::vector<std::vector<int>> g(h, std::vector<int>(w));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) g[y][x] = canvas.painted(x, y);
    return g;
}

Drawn drawAll(int w, int h, Shape shape, const int* args) {
    return {w, h, paint(w, h, 0, shape, args), paint(w, h, DrawMode::kOutline, shape, args),
            paint(w, h, DrawMode::kOutline | DrawMode::kXor, shape, args), paint(w, h, DrawMode::kXor, shape, args)};
}

// The properties every ellipse and rounded box must have.
void checkShape(const Drawn& d, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(d.xorOutline, d.outline) << "an outline pixel was coloured twice";
    EXPECT_EQ(d.xorFilled, d.filled) << "a filled pixel was coloured twice";
    int outlinePixels = 0, firstX = -1, firstY = -1;
    for (int y = 0; y < d.h; ++y) {
        for (int x = 0; x < d.w; ++x) {
            // Symmetric about both centre lines of the picture.
            ASSERT_EQ(d.outline[y][x], d.outline[y][d.w - 1 - x]) << x << "," << y;
            ASSERT_EQ(d.outline[y][x], d.outline[d.h - 1 - y][x]) << x << "," << y;
            ASSERT_EQ(d.filled[y][x], d.filled[d.h - 1 - y][d.w - 1 - x]) << x << "," << y;
            if (!d.filled[y][x]) {
                ASSERT_FALSE(d.outline[y][x]) << "outline outside the filled shape at " << x << "," << y;
                continue;
            }
            // Every filled pixel on the shape's edge belongs to the outline.
            const bool edge = x == 0 || y == 0 || x == d.w - 1 || y == d.h - 1 || !d.filled[y][x - 1] ||
                              !d.filled[y][x + 1] || !d.filled[y - 1][x] || !d.filled[y + 1][x];
            if (edge) {
                ASSERT_TRUE(d.outline[y][x]) << "a gap in the outline at " << x << "," << y;
            }
            if (d.outline[y][x] && ++outlinePixels == 1) firstX = x, firstY = y;
        }
    }
    // The outline is one piece (8-connected).
    std::vector<std::vector<int>> seen(d.h, std::vector<int>(d.w));
    std::deque<std::pair<int, int>> todo{{firstX, firstY}};
    seen[firstY][firstX] = 1;
    int reached = 0;
    while (!todo.empty()) {
        auto [x, y] = todo.front();
        todo.pop_front();
        ++reached;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = x + dx, ny = y + dy;
                if (nx < 0 || ny < 0 || nx >= d.w || ny >= d.h || seen[ny][nx] || !d.outline[ny][nx]) continue;
                seen[ny][nx] = 1;
                todo.push_back({nx, ny});
            }
    }
    EXPECT_EQ(reached, outlinePixels);
}

void ellipseAtCentre(DrawContext& c, const int* a) { c.ops.ellipse(c, a[0], a[1], a[2], a[3]); }
void roundBoxWhole(DrawContext& c, const int* a) { c.ops.roundBox(c, 0, 0, c.width, c.height, a[0], a[1]); }

TEST(DrawEllipse, SmallOddAndLargeRadii) {
    const std::pair<int, int> radii[] = {{0, 0}, {1, 0}, {0, 3}, {1, 1}, {2, 2}, {3, 1},  {5, 7},
                                         {7, 3}, {12, 1}, {40, 9}, {33, 33}, {701, 5}, {3, 702}, {720, 705}};
    for (auto [rx, ry] : radii) {
        const int w = 2 * rx + 1, h = 2 * ry + 1;
        const int args[] = {rx, ry, rx, ry};
        const Drawn d = drawAll(w, h, ellipseAtCentre, args);
        const std::string what = "ellipse " + std::to_string(rx) + " x " + std::to_string(ry);
        checkShape(d, what.c_str());
        // It reaches its radii exactly: the centre row and column are whole.
        for (int x = 0; x < w; ++x) ASSERT_TRUE(d.filled[ry][x]) << what;
        for (int y = 0; y < h; ++y) ASSERT_TRUE(d.filled[y][rx]) << what;
    }
}

TEST(DrawEllipse, RoundBoxesOfEverySize) {
    struct Case {
        int w, h, rx, ry;
    };
    const Case cases[] = {{1, 1, 0, 0}, {1, 5, 3, 3}, {6, 1, 2, 2}, {2, 2, 1, 1},   {7, 5, 2, 1},
                          {8, 6, 9, 9}, {20, 11, 5, 3}, {31, 17, 0, 4}, {1500, 30, 710, 9}, {40, 1430, 12, 701}};
    for (const Case& k : cases) {
        const int args[] = {k.rx, k.ry};
        const std::string what = "round box " + std::to_string(k.w) + " x " + std::to_string(k.h) + " r " +
                                 std::to_string(k.rx) + "," + std::to_string(k.ry);
        const Drawn d = drawAll(k.w, k.h, roundBoxWhole, args);
        checkShape(d, what.c_str());
        // The straight middle of each side is there.
        ASSERT_TRUE(d.filled[k.h / 2][0] && d.filled[0][k.w / 2]) << what;
    }
}

TEST(DrawEllipse, TheWalkAndTheDirectFormAgree) {
    std::vector<std::int32_t> table(kEllipseWalkLimit + 1);
    for (std::int64_t rx : {0, 1, 2, 3, 10, 99, 350, 699, 700})
        for (std::int64_t ry : {0, 1, 4, 17, 250, 700}) {
            drwEllipseWalk(rx, ry, table.data());
            for (std::int64_t dy = 0; dy <= ry; ++dy)
                ASSERT_EQ(table[dy], drwEllipseHalfWidth(rx, ry, dy)) << rx << " " << ry << " " << dy;
            EXPECT_EQ(drwEllipseHalfWidth(rx, ry, ry + 1), -1);
        }
    // Radii of any size answer without overflow.
    EXPECT_EQ(drwEllipseHalfWidth(INT32_MAX, INT32_MAX, 0), std::int64_t{1} << 29);
}

TEST(DrawEllipse, HugeShapesClipToTheArea) {
    Canvas canvas(30, 20, 24);
    ASSERT_TRUE(canvas.begin());
    DrawContext& c = *drwCurrent();
    c.ops.setFrontColor(c, 0xFFFFFFFF);
    EXPECT_EQ(c.ops.ellipse(c, 15, 10, INT32_MAX, INT32_MIN), 1);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_TRUE(canvas.painted(x, y));
    canvas.clear(0);
    drwSetMode(DrawMode::kOutline);
    c.ops.ellipse(c, 15, 10, 100000, 100000);  // an outline far outside
    c.ops.roundBox(c, INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 5000, 5000);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_FALSE(canvas.painted(x, y)) << x << "," << y;
}

}  // namespace
}  // namespace oct
