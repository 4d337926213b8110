#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "platform/platform.h"

namespace oct::plat {
namespace {

TEST(PlatformBitmap, DibSectionsAreZeroFilledBottomUpAndPadded) {
    struct Case {
        int width, height, bpp, wantBpp, wantRowBytes;
    };
    const Case cases[] = {
        {1, 1, 24, 24, 4}, {3, 2, 24, 24, 12}, {5, 3, 8, 24, 16}, {3, 2, 32, 32, 12}, {7, 1, 16, 24, 24},
    };
    for (const Case& c : cases) {
        Handle h = dibSectionCreate(c.width, c.height, c.bpp);
        ASSERT_NE(h, 0u) << c.width << "x" << c.height << "@" << c.bpp;
        EXPECT_EQ(handleKind(h), HandleKind::Bitmap);
        EXPECT_TRUE(bitmapIsDibSection(h));
        BitmapDesc d{};
        ASSERT_TRUE(bitmapDescribe(h, d));
        EXPECT_EQ(d.type, 0);
        EXPECT_EQ(d.width, c.width);
        EXPECT_EQ(d.height, c.height);
        EXPECT_EQ(d.planes, 1);
        EXPECT_EQ(d.bitsPerPixel, c.wantBpp);
        EXPECT_EQ(d.widthBytes, c.wantRowBytes);
        ASSERT_NE(d.bits, nullptr);
        auto* bytes = static_cast<const std::uint8_t*>(d.bits);
        for (int i = 0; i < d.widthBytes * d.height; ++i) ASSERT_EQ(bytes[i], 0) << i;
        EXPECT_TRUE(objectDelete(h));
    }
}

TEST(PlatformBitmap, RefusesSizesAndDepthsItCannotMake) {
    for (auto [w, h, bpp] : {std::tuple{0, 1, 24}, {1, 0, 24}, {-1, 1, 24}, {1, 1, 48}, {1, 1, 31}}) {
        Handle bm = dibSectionCreate(w, h, bpp);
        EXPECT_EQ(bm, 0u) << w << "x" << h << "@" << bpp;
        if (bm) objectDelete(bm);
    }
}

TEST(PlatformBitmap, DeadAndForgedHandlesAreRefused) {
    Handle h = dibSectionCreate(2, 2, 24);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(objectDelete(h));
    BitmapDesc d{};
    std::uint64_t local = 0x1234;
    for (Handle bad : {Handle{0}, h, reinterpret_cast<Handle>(&local)}) {
        EXPECT_EQ(handleKind(bad), HandleKind::None);
        EXPECT_FALSE(bitmapDescribe(bad, d));
        EXPECT_FALSE(bitmapIsDibSection(bad));
        EXPECT_FALSE(objectDelete(bad));
    }
}

TEST(PlatformBitmap, DeadHandlesStayDeadWhenNewBitmapsTakeTheirPlace) {
    // Bitmaps of one size, made and deleted in turn, are apt to land where the
    // previous one was; none of the earlier handles may name the new bitmap.
    std::vector<Handle> dead;
    for (int round = 0; round < 32; ++round) {
        Handle h = dibSectionCreate(2, 2, 24);
        ASSERT_NE(h, 0u);
        ASSERT_GT(static_cast<std::int64_t>(h), 0);
        BitmapDesc d{};
        for (Handle old : dead) {
            ASSERT_NE(old, h);
            EXPECT_EQ(handleKind(old), HandleKind::None) << "round " << round;
            EXPECT_FALSE(bitmapDescribe(old, d));
            EXPECT_FALSE(objectDelete(old));
        }
        EXPECT_EQ(handleKind(h), HandleKind::Bitmap);
        ASSERT_TRUE(objectDelete(h));
        dead.push_back(h);
    }
}

TEST(PlatformBitmap, SurfaceOpensOnABitmapOnly) {
    Handle h = dibSectionCreate(4, 4, 32);
    ASSERT_NE(h, 0u);
    DrawSurface* s = surfaceOpen(h);
    ASSERT_NE(s, nullptr);
    surfaceClose(s);
    EXPECT_TRUE(objectDelete(h));
}

}  // namespace
}  // namespace oct::plat
