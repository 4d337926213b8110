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

namespace oct::plat {
namespace {

TEST(PlatformHeap, LargeBlocksKeepTheHeapsPromises) {
    Heap* heap = heapCreate();
    ASSERT_NE(heap, nullptr);
    constexpr std::size_t kBig = std::size_t{9} << 20;
    auto* big = static_cast<std::uint8_t*>(heapAlloc(heap, kBig, true));
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big[0] | big[kBig / 2] | big[kBig - 1], 0);
    big[0] = 1, big[kBig - 1] = 2;
    // Growing keeps the bytes and zero-fills the rest; shrinking below the
    // threshold keeps the front.
    auto* bigger = static_cast<std::uint8_t*>(heapRealloc(heap, big, 2 * kBig, true));
    ASSERT_NE(bigger, nullptr);
    EXPECT_EQ(bigger[0], 1);
    EXPECT_EQ(bigger[kBig - 1], 2);
    EXPECT_EQ(bigger[kBig] | bigger[2 * kBig - 1], 0);
    auto* small = static_cast<std::uint8_t*>(heapRealloc(heap, bigger, 64, true));
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small[0], 1);
    auto* grown = static_cast<std::uint8_t*>(heapRealloc(heap, small, kBig, true));
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(grown[0], 1);
    EXPECT_EQ(grown[64] | grown[kBig - 1], 0);
    ASSERT_NE(heapAlloc(heap, kBig, false), nullptr);  // left for the heap's destruction
    heapDestroy(heap);
}

TEST(PlatformBitmap, LargeSectionsAreZeroFilled) {
    Handle h = dibSectionCreate(2048, 1100, 32);
    ASSERT_NE(h, 0u);
    BitmapDesc d{};
    ASSERT_TRUE(bitmapDescribe(h, d));
    const auto* p = static_cast<const std::uint8_t*>(d.bits);
    const std::size_t n = static_cast<std::size_t>(d.widthBytes) * d.height;
    EXPECT_EQ(p[0] | p[n / 3] | p[n - 1], 0);
    EXPECT_TRUE(objectDelete(h));
}

}  // namespace
}  // namespace oct::plat
