#include "image/image.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace oct {
namespace {

std::vector<std::uint8_t> pixelBytes(plat::Handle h) {
    plat::BitmapDesc bm{};
    EXPECT_TRUE(plat::bitmapDescribe(h, bm));
    auto* p = static_cast<const std::uint8_t*>(bm.bits);
    return {p, p + static_cast<std::size_t>(bm.widthBytes) * bm.height};
}

TEST(ImageObjects, BlankImagesTakeTheirBackground) {
    struct Case {
        std::int32_t depth;
        std::uint32_t background;
        std::uint8_t pixel[4];  // what every pixel reads (B, G, R[, A])
    };
    const Case cases[] = {
        {32, 0xFFFFFFFF, {0, 0, 0, 0}},         // transparent black
        {32, 0x000000FF, {0, 0, 255, 255}},     // red, made opaque
        {32, 0x00123456, {0x12, 0x34, 0x56, 255}},
        {24, 0x00123456, {0x12, 0x34, 0x56}},
        {24, 0, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        std::int64_t id = imgCreateImage(AnyId, 10, 5, c.depth, c.background);
        ASSERT_NE(id, 0);
        ImageObject* image = imgGetImage(id);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->width, 10);
        EXPECT_EQ(image->height, 5);
        EXPECT_EQ(image->depth, c.depth);
        EXPECT_EQ(image->sourceDepth, c.depth);
        EXPECT_EQ(image->frameCount, 1);
        EXPECT_EQ(image->format, 0u);
        const int bpp = c.depth / 8;
        const std::int64_t rowBytes = imgRowBytes(10, c.depth);
        std::vector<std::uint8_t> bytes = pixelBytes(image->handle);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 10; ++x)
                for (int b = 0; b < bpp; ++b)
                    ASSERT_EQ(bytes[y * rowBytes + x * bpp + b], c.pixel[b]) << std::hex << c.background;
        imgFreeImage(id);
        EXPECT_EQ(imgIsImage(id), 0);
    }
}

TEST(ImageObjects, LowDepthsMakeTwentyFourBitImages) {
    for (std::int32_t depth : {1, 8, 16, 24}) {
        std::int64_t id = imgCreateImage(AnyId, 3, 3, depth);
        ASSERT_NE(id, 0) << depth;
        EXPECT_EQ(imgGetImage(id)->depth, 24);
        EXPECT_EQ(imgGetImage(id)->sourceDepth, 24);
        imgFreeImage(id);
    }
    EXPECT_EQ(imgCreateImage(AnyId, 3, 3, 48), 0);
    EXPECT_EQ(imgCreateImage(AnyId, 0, 3, 24), 0);
}

TEST(ImageObjects, RowBytesPerDepth) {
    struct Case {
        std::int64_t width;
        std::int32_t bpp;
        std::int64_t bytes;
    };
    const Case cases[] = {{3, 24, 12}, {1, 24, 4}, {2, 24, 8}, {5, 24, 16}, {3, 32, 12}, {1, 1, 4}, {33, 1, 8},
                          {9, 4, 8},   {5, 8, 8},  {3, 16, 8}, {3, 15, 8},  {0, 24, 0}, {7, 12, 0}};
    for (const Case& c : cases) EXPECT_EQ(imgRowBytes(c.width, c.bpp), c.bytes) << c.width << "@" << c.bpp;
}

TEST(ImageObjects, NumbersAreReusedAndFreedFirst) {
    plat::Handle first = static_cast<plat::Handle>(imgCreateImage(2, 4, 4, 24));
    ASSERT_NE(first, 0u);
    EXPECT_EQ(imgImageHandle(2), first);
    plat::Handle second = static_cast<plat::Handle>(imgCreateImage(2, 6, 6, 32));
    ASSERT_NE(second, 0u);
    EXPECT_EQ(plat::handleKind(first), plat::HandleKind::None) << "the old image's bitmap was not deleted";
    EXPECT_EQ(imgImageHandle(2), second);
    // A failed re-creation leaves the number empty.
    EXPECT_EQ(imgCreateImage(2, -1, 6, 24), 0);
    EXPECT_EQ(imgIsImage(2), 0);
    EXPECT_EQ(imgImageHandle(2), 0u);
    EXPECT_EQ(plat::handleKind(second), plat::HandleKind::None);
}

TEST(ImageObjects, FreedIdsAnswerZero) {
    std::int64_t id = imgCreateImage(AnyId, 2, 2, 24);
    ASSERT_NE(id, 0);
    plat::Handle h = imgImageHandle(id);
    EXPECT_EQ(imgIsImage(id), id);
    imgFreeImage(id);
    EXPECT_EQ(plat::handleKind(h), plat::HandleKind::None);
    ASSERT_NE(imgCreateImage(7, 2, 2, 24), 0);
    imgFreeImage(7);
    EXPECT_EQ(imgImageHandle(7), 0u);
    EXPECT_EQ(imgIsImage(7), 0);
    imgFreeImage(7);  // twice is harmless
}

TEST(ImageObjects, WideImagesKeepTheirSize) {
    std::int64_t id = imgCreateImage(AnyId, 40000, 1, 24);
    ASSERT_NE(id, 0);
    EXPECT_EQ(imgGetImage(id)->width, 40000);
    imgFreeImage(id);
}

}  // namespace
}  // namespace oct
