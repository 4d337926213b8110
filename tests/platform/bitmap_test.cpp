#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <vector>

#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "platform/heaps.h"

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


// Row `r` from the top of a 24-bit DIB section, whatever its row order.
std::uint8_t* sectionRow(Handle h, int r) {
    BitmapDesc d{};
    bool topDown = false;
    if (!bitmapIsDibSection(h, &topDown) || !bitmapDescribe(h, d)) return nullptr;
    const int memoryRow = topDown ? r : d.height - 1 - r;
    return static_cast<std::uint8_t*>(d.bits) + static_cast<std::ptrdiff_t>(memoryRow) * d.widthBytes;
}

TEST(PlatformBitmap, TopDownSectionsKeepTheirRowOrderThroughEveryConversion) {
    // A 2 × 3 top-down section whose rows from the top are grey 10, 20, 30:
    // its first memory row is its top row.
    Handle td = dibSectionCreateTopDown(2, 3);
    ASSERT_NE(td, 0u);
    bool topDown = false;
    ASSERT_TRUE(bitmapIsDibSection(td, &topDown));
#ifdef _WIN32
    // Wine 8 describes every DIB section with a positive height, so the
    // row order of a top-down section cannot be read back there.
    if (!topDown) {
        objectDelete(td);
        GTEST_SKIP() << "this GDI does not report top-down DIB sections";
    }
#endif
    EXPECT_TRUE(topDown);
    BitmapDesc d{};
    ASSERT_TRUE(bitmapDescribe(td, d));
    EXPECT_EQ(d.height, 3);  // positive, as GetObject reports it
    EXPECT_EQ(d.bitsPerPixel, 24);
    EXPECT_EQ(d.widthBytes, 8);
    auto* bits = static_cast<std::uint8_t*>(d.bits);
    for (int r = 0; r < 3; ++r)
        for (int b = 0; b < 6; ++b) bits[r * d.widthBytes + b] = static_cast<std::uint8_t>(10 * (r + 1));

    Handle bu = dibSectionCreate(2, 3, 24);
    ASSERT_TRUE(bitmapIsDibSection(bu, &topDown));
    EXPECT_FALSE(topDown);
    ASSERT_TRUE(bitmapCopy(bu, td));
    for (int r = 0; r < 3; ++r) EXPECT_EQ(sectionRow(bu, r)[0], 10 * (r + 1)) << "copy, row " << r;

    // Back from bottom-up into a fresh top-down section.
    Handle td2 = dibSectionCreateTopDown(2, 3);
    ASSERT_TRUE(bitmapCopy(td2, bu));
    for (int r = 0; r < 3; ++r) EXPECT_EQ(sectionRow(td2, r)[5], 10 * (r + 1)) << "copy back, row " << r;

    for (bool wantTopDown : {true, false}) {
        std::vector<std::uint8_t> rows(3 * 8);
        ASSERT_EQ(bitmapReadRows(td, 24, wantTopDown, rows.data()), 3);
        for (int r = 0; r < 3; ++r)
            EXPECT_EQ(rows[(wantTopDown ? r : 2 - r) * 8], 10 * (r + 1)) << wantTopDown << " row " << r;
    }

    // Stretched to 1 × 6 (each row doubled), into either row order.
    for (Handle out : {dibSectionCreate(1, 6, 24), dibSectionCreateTopDown(1, 6)}) {
        ASSERT_TRUE(bitmapStretchHalftone(out, td));
        for (int r = 0; r < 6; ++r) EXPECT_EQ(sectionRow(out, r)[2], 10 * (r / 2 + 1)) << "stretch, row " << r;
        EXPECT_TRUE(objectDelete(out));
    }
    for (Handle h : {td, td2, bu}) EXPECT_TRUE(objectDelete(h));
    EXPECT_EQ(dibSectionCreateTopDown(0, 1), 0u);
    EXPECT_EQ(dibSectionCreateTopDown(1, -1), 0u);
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
