#include "draw/session.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>

#include "draw/canvas.h"
#include "image/image.h"
#include "platform/bitmaps.h"

namespace oct {
namespace {

using test::Canvas;
using test::Px;


TEST(DrawPlot, ModesOnEachPixelFormat) {
    struct Case {
        const char* name;
        std::int32_t depth;
        std::uint32_t mode;
        Px before;
        std::uint32_t colour;  // 0xAABBGGRR
        Px after;
    };
    const Case cases[] = {
        {"all bytes 32", 32, 0x100, {1, 2, 3, 4}, 0x80FFFFFF, {0xFF, 0xFF, 0xFF, 0x80}},
        {"copy keeps alpha", 32, 0, {1, 2, 3, 4}, 0x80FFFFFF, {0xFF, 0xFF, 0xFF, 4}},
        {"copy writes blue first", 24, 0, {0, 0, 0, 0}, 0x00FF0000, {0xFF, 0, 0, 0}},
        {"0x110 as all bytes on 32", 32, 0x110, {1, 2, 3, 4}, 0x80102030, {0x10, 0x20, 0x30, 0x80}},
        {"0x110 as copy on 24", 24, 0x110, {1, 2, 3, 0}, 0x80102030, {0x10, 0x20, 0x30, 0}},
        {"xor", 32, 0x2, {0x0F, 0xF0, 0xFF, 9}, 0x11FFFFFF, {0xF0, 0x0F, 0x00, 9}},
        {"alpha only", 32, 0x8, {1, 2, 3, 4}, 0x7F000000, {1, 2, 3, 0x7F}},
        {"alpha only on 24 writes nothing", 24, 0x8, {1, 2, 3, 0}, 0x7FFFFFFF, {1, 2, 3, 0}},
        {"blend 24", 24, 0x10, {0, 0, 200, 0}, 0x80FF0000, {128, 0, 99, 0}},
        {"blend 24 by 0x20", 24, 0x20, {0, 0, 200, 0}, 0x80FF0000, {128, 0, 99, 0}},
        {"blend, alpha 0 keeps", 32, 0x10, {1, 2, 3, 4}, 0x00FFFFFF, {1, 2, 3, 4}},
        {"blend over transparent takes the colour", 32, 0x10, {1, 2, 3, 0}, 0x40102030, {0x10, 0x20, 0x30, 0x40}},
        {"blend with target alpha", 32, 0x10, {0, 0, 0, 255}, 0x80FFFFFF, {128, 128, 128, 255}},
        {"blend keeping target alpha", 32, 0x20, {0, 0, 0, 100}, 0x80FFFFFF, {183, 183, 183, 100}},
        {"gradient writes default white", 32, 0x40, {1, 2, 3, 4}, 0x00000000, {255, 255, 255, 4}},
        {"gradient all bytes", 32, 0x140, {1, 2, 3, 4}, 0x00000000, {255, 255, 255, 255}},
        {"filter keeps the target", 32, 0x80, {1, 2, 3, 4}, 0xFFFFFFFF, {1, 2, 3, 4}},
        {"filter on 24", 24, 0x80, {1, 2, 3, 0}, 0xFFFFFFFF, {1, 2, 3, 0}},
    };
    for (const Case& c : cases) {
        Canvas canvas(3, 2, c.depth);
        canvas.set(1, 1, c.before);
        ASSERT_TRUE(canvas.begin()) << c.name;
        drwSetMode(c.mode);
        drwPlot(1, 1, c.colour);
        EXPECT_EQ(canvas.get(1, 1), c.after) << c.name;
        EXPECT_EQ(canvas.get(0, 0), (Px{})) << c.name << ": a neighbour changed";
        EXPECT_EQ(drwEnd(), 1);
    }
}

TEST(DrawPlot, OriginIsTheBottomRowInMemoryLast) {
    Canvas canvas(2, 3, 24);
    ASSERT_TRUE(canvas.begin());
    drwPlot(0, 0, 0x00FFFFFF);
    EXPECT_EQ(canvas.memoryPixel(0, 2)[0], 0xFF);
    EXPECT_EQ(canvas.memoryPixel(0, 0)[0], 0);
}

TEST(DrawPlot, OutsideTheAreaOrWithoutSessionWritesNothing) {
    Canvas canvas(4, 4, 32);
    const plat::BitmapDesc& bm = canvas.bitmap();
    drwPlot(0, 0, 0xFFFFFFFF);  // no session yet
    ASSERT_TRUE(canvas.begin());
    drwSetMode(0x100);
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {4, 0}, {0, 4}, {INT32_MAX, 0}, {INT32_MIN, INT32_MIN}})
        drwPlot(x, y, 0xFFFFFFFF);
    const auto* bytes = static_cast<const std::uint8_t*>(bm.bits);
    for (int i = 0; i < bm.widthBytes * bm.height; ++i) ASSERT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(drwEnd(), 1);
    EXPECT_EQ(drwEnd(), 0);
    drwPlot(0, 0, 0xFFFFFFFF);
    drwSetMode(0x2);
    EXPECT_EQ(bytes[0], 0);
}

TEST(DrawSession, EndLeavesNoCurrentContext) {
    Canvas canvas(2, 2, 24);
    ASSERT_TRUE(canvas.begin());
    EXPECT_NE(drwCurrent(), nullptr);
    EXPECT_EQ(drwEnd(), 1);
    EXPECT_EQ(drwCurrent(), nullptr);
}

TEST(DrawSession, NoOutputForWhatIsNotAnImage) {
    EXPECT_EQ(drwImageOutput(AnyId), nullptr);
    EXPECT_EQ(drwImageOutput(12345), nullptr);
    std::int64_t id = imgCreateImage(AnyId, 2, 2, 24);
    imgFreeImage(id);
    EXPECT_EQ(drwImageOutput(id), nullptr);
    EXPECT_EQ(drwCurrent(), nullptr);
    EXPECT_EQ(drwBegin(nullptr), 0);
}

TEST(DrawSession, AFailedNewOutputLeavesTheCurrentSessionRunning) {
    Canvas canvas(2, 2, 24);
    ASSERT_TRUE(canvas.begin());
    DrawContext* running = drwCurrent();
    std::int64_t freed = imgCreateImage(AnyId, 2, 2, 24);
    imgFreeImage(freed);
    for (std::int64_t id : {AnyId, std::int64_t{12345}, freed}) {
        EXPECT_EQ(drwImageOutput(id), nullptr) << id;
        EXPECT_EQ(drwCurrent(), running) << id;
    }
    drwPlot(1, 1, 0x00FFFFFF);
    const auto* bytes = static_cast<const std::uint8_t*>(canvas.bitmap().bits);
    EXPECT_EQ(bytes[3], 0xFF) << "the session still plots";
    EXPECT_EQ(drwEnd(), 1);
    EXPECT_EQ(drwCurrent(), nullptr);
}

TEST(DrawSession, ANewOutputOnTheSameImageReplacesTheSession) {
    Canvas canvas(2, 2, 24);
    ASSERT_TRUE(canvas.begin());
    DrawContext* first = drwCurrent();
    ASSERT_TRUE(canvas.begin());  // the same bitmap, while the first session still holds it
    EXPECT_NE(drwCurrent(), nullptr);
    EXPECT_NE(drwCurrent(), first);
    drwPlot(0, 1, 0x000000FF);
    const auto* bytes = static_cast<const std::uint8_t*>(canvas.bitmap().bits);
    EXPECT_EQ(bytes[2], 0xFF);
    EXPECT_EQ(drwEnd(), 1);
    EXPECT_EQ(drwEnd(), 0) << "the replaced session was ended, not left behind";
}

TEST(DrawSession, PointReadsBackByMode) {
    Canvas canvas(2, 2, 32);
    canvas.set(1, 0, {0x30, 0x20, 0x10, 0x40});
    ASSERT_TRUE(canvas.begin());
    DrawContext* c = drwCurrent();
    EXPECT_EQ(c->ops.point(*c, 1, 0), 0x00302010u);
    drwSetMode(0x100);
    EXPECT_EQ(c->ops.point(*c, 1, 0), 0x40302010u);
}

}  // namespace
}  // namespace oct
