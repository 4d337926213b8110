#include "image/resample.h"

#include <gtest/gtest.h>

#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "test_files.h"

#include <cstdint>
#include <vector>

#include "image/image.h"
#include "runtime/cpu_features.h"

namespace oct {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A small picture with every byte different: w × h pixels of `bpp` bytes.
Bytes pattern(std::int32_t w, std::int32_t h, std::int32_t bpp) {
    Bytes b(static_cast<std::size_t>(w) * h * bpp);
    std::uint32_t v = 12345;
    for (auto& x : b) {
        v = v * 1103515245u + 12345u;
        x = static_cast<std::uint8_t>(v >> 16);
    }
    return b;
}

TEST(Resample, KernelCoefficientsForOneThird) {
    imgSetCubicFilter(1.0 / 3.0, 1.0 / 3.0);
    const CubicFilter& f = imgCubicFilter();
    EXPECT_DOUBLE_EQ(f.p0, 8.0 / 9.0);
    EXPECT_DOUBLE_EQ(f.p2, -2.0);
    EXPECT_DOUBLE_EQ(f.p3, 7.0 / 6.0);
    EXPECT_DOUBLE_EQ(f.q0, 16.0 / 9.0);
    EXPECT_DOUBLE_EQ(f.q1, -10.0 / 3.0);
    EXPECT_DOUBLE_EQ(f.q2, 2.0);
    EXPECT_DOUBLE_EQ(f.q3, -7.0 / 18.0);
    EXPECT_DOUBLE_EQ(imgCubicKernel(0.0), 8.0 / 9.0);
    EXPECT_NEAR(imgCubicKernel(1.0), 1.0 / 18.0, 1e-15);
    EXPECT_EQ(imgCubicKernel(2.0), 0.0);
}

TEST(Resample, ContributionsAtScaleOneAndWhenShrinking) {
    ContributionList* same = imgFilterContributions(6, 6);
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(same->window, 5);
    // First position: indexes 0..2, weights 8/9, 1/18, 0 renormalised.
    const Contribution& first = same->items[0];
    EXPECT_EQ(first.first, 0);
    EXPECT_EQ(first.last, 2);
    EXPECT_NEAR(first.weights[0], 16.0 / 17.0, 1e-15);
    EXPECT_NEAR(first.weights[1], 1.0 / 17.0, 1e-15);
    EXPECT_EQ(first.weights[2], 0.0);
    // An inner position: 1/18, 8/9, 1/18 around itself (and zero weights at ±2).
    const Contribution& inner = same->items[3];
    EXPECT_EQ(inner.first, 1);
    EXPECT_EQ(inner.last, 5);
    EXPECT_NEAR(inner.weights[1], 1.0 / 18.0, 1e-15);
    EXPECT_NEAR(inner.weights[2], 8.0 / 9.0, 1e-15);
    EXPECT_NEAR(inner.weights[3], 1.0 / 18.0, 1e-15);
    imgFreeContributions(same);

    // 4 → 2: support 4, window 9 (held in 4, the input size); output 0 takes 0..3.
    ContributionList* half = imgFilterContributions(2, 4);
    ASSERT_NE(half, nullptr);
    EXPECT_EQ(half->items[0].first, 0);
    EXPECT_EQ(half->items[0].last, 3);
    double sum = 0.0;
    for (int j = 0; j < 4; ++j) sum += half->items[0].weights[j];
    EXPECT_NEAR(sum, 1.0, 1e-15);
    imgFreeContributions(half);
}

TEST(Resample, OnePixelSourceGivesCopies) {
    const Bytes src{10, 200, 30, 128};
    Bytes dst(3 * 3 * 4);
    ASSERT_EQ(imgResample(src.data(), 1, 1, dst.data(), 3, 3, 32), 1);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Bytes(dst.begin() + 4 * i, dst.begin() + 4 * i + 4), src) << i;

    // And to a 1 × 1 destination: a 5 × 3 picture of one colour stays that colour.
    Bytes flat(5 * 3 * 4);
    for (std::size_t i = 0; i < flat.size(); ++i) flat[i] = src[i % 4];
    Bytes one(4);
    ASSERT_EQ(imgResample(flat.data(), 5, 3, one.data(), 1, 1, 32), 1);
    EXPECT_EQ(one, src);
}

TEST(Resample, IdentitySizeSoftensButKeepsFlatAreas) {
    const Bytes src = pattern(5, 4, 4);
    Bytes dst(src.size());
    ASSERT_EQ(imgResample(src.data(), 5, 4, dst.data(), 5, 4, 32), 1);
    EXPECT_NE(dst, src);  // an unchanged size still filters

    Bytes flat(src.size(), 77), out(src.size());
    ASSERT_EQ(imgResample(flat.data(), 5, 4, out.data(), 5, 4, 32), 1);
    EXPECT_EQ(out, flat);
}

TEST(Resample, TransparentStaysTransparentAndOvershootIsClamped) {
    Bytes src(4 * 4 * 4, 0);
    // One opaque white pixel in the middle of a transparent black picture.
    for (int k = 0; k < 4; ++k) src[4 * (1 * 4 + 1) + k] = 255;
    Bytes dst(16 * 16 * 4);
    ASSERT_EQ(imgResample(src.data(), 4, 4, dst.data(), 16, 16, 32), 1);
    int partial = 0;
    for (int i = 0; i < 16 * 16; ++i) {
        const std::uint8_t a = dst[4 * i + 3];
        if (a > 0 && a < 255) ++partial;
    }
    EXPECT_GT(partial, 0);
    // The far corner lies outside the kernel's reach: still alpha 0.
    EXPECT_EQ(dst[4 * (15 * 16 + 15) + 3], 0);
}

// The pass that shrinks the pixel count more runs first; the two orders
// round differently, so the order is visible in the bytes.
TEST(Resample, PassOrderFollowsTheSmallerIntermediate) {
    const Bytes src = pattern(6, 5, 4);
    struct Case {
        std::int32_t dw, dh;
        bool rowsFirst;
    } cases[] = {{3, 9, true}, {11, 2, false}, {12, 10, true}, {2, 2, true}};
    for (const Case& k : cases) {
        Bytes got(static_cast<std::size_t>(k.dw) * k.dh * 4);
        ASSERT_EQ(imgResample(src.data(), 6, 5, got.data(), k.dw, k.dh, 32), 1);
        Bytes expected(got.size());
        if (k.rowsFirst) {
            Bytes mid(static_cast<std::size_t>(k.dw) * 5 * 4);
            ASSERT_TRUE(imgResampleRows(src.data(), 6, 5, mid.data(), k.dw, 5, 4));
            ASSERT_TRUE(imgResampleColumns(mid.data(), k.dw, 5, expected.data(), k.dw, k.dh, 4));
        } else {
            Bytes mid(static_cast<std::size_t>(6) * k.dh * 4);
            ASSERT_TRUE(imgResampleColumns(src.data(), 6, 5, mid.data(), 6, k.dh, 4));
            ASSERT_TRUE(imgResampleRows(mid.data(), 6, k.dh, expected.data(), k.dw, k.dh, 4));
        }
        EXPECT_EQ(got, expected) << k.dw << "x" << k.dh;
    }
}

// Enlarging and shrinking on each axis, at 1 to 4 bytes per pixel: the bytes
// are pinned, and both platforms reproduce them.
TEST(Resample, GoldenBytes) {
    struct Case {
        std::int32_t sw, sh, dw, dh, bits;
        std::uint64_t hash;
    } cases[] = {
        {4, 3, 9, 3, 32, 7578114353892606206ull},  {4, 3, 4, 7, 32, 8966444206061545174ull},
        {9, 7, 3, 7, 32, 2967099945859600789ull},  {9, 7, 9, 2, 32, 16843757479288575215ull},
        {7, 5, 13, 2, 32, 296718769047675477ull},  {7, 5, 3, 11, 24, 10733886958572294871ull},
        {5, 5, 8, 3, 8, 9446059514948941433ull},   {6, 4, 3, 9, 16, 15577424617147638043ull},
    };
    for (const Case& k : cases) {
        const Bytes src = pattern(k.sw, k.sh, k.bits / 8);
        Bytes dst(static_cast<std::size_t>(k.dw) * k.dh * (k.bits / 8));
        ASSERT_EQ(imgResample(src.data(), k.sw, k.sh, dst.data(), k.dw, k.dh, k.bits), 1);
        EXPECT_EQ(octtest::fingerprint(dst), k.hash) << k.sw << "x" << k.sh << " -> " << k.dw << "x" << k.dh << " @" << k.bits;
    }
    // A tiny case worked out by hand: 2 × 1 to 3 × 1. The outer outputs weigh
    // their near source pixel 1.00765 and the far one −0.00765 (overshoot
    // clamped); the middle one takes half of each, 127.5 rounding up.
    const Bytes two{0, 100, 200, 255, 200, 100, 0, 0};
    Bytes three(12);
    ASSERT_EQ(imgResample(two.data(), 2, 1, three.data(), 3, 1, 32), 1);
    EXPECT_EQ(three, (Bytes{0, 100, 202, 255, 100, 100, 100, 128, 202, 100, 0, 0}));
}

TEST(Resample, BadSizesAndPixelSizesFailWithoutWriting) {
    const Bytes src = pattern(4, 4, 4);
    Bytes dst(64, 0xAB);
    struct Case {
        std::int32_t sw, sh, dw, dh, bits;
    } cases[] = {
        {0, 4, 4, 4, 32},  {4, -1, 4, 4, 32}, {4, 4, 0, 4, 32}, {4, 4, 4, -5, 32},
        {4, 4, 4, 4, 0},   {4, 4, 4, 4, 7},   {4, 4, 4, 4, 40},
        {4, 4, INT32_MAX, INT32_MAX, 32},  // a product past 32 bits
        {4, 4, 1 << 16, 1 << 15, 32},      // 8 GiB: past the largest pixel buffer
    };
    for (const Case& k : cases) {
        EXPECT_EQ(imgResample(src.data(), k.sw, k.sh, dst.data(), k.dw, k.dh, k.bits), 0)
            << k.sw << " " << k.sh << " " << k.dw << " " << k.dh << " " << k.bits;
        EXPECT_EQ(dst, Bytes(64, 0xAB));
    }
    EXPECT_EQ(imgResample(nullptr, 4, 4, dst.data(), 4, 4, 32), 0);
    EXPECT_FALSE(imgResampleRows(src.data(), 4, 4, dst.data(), 2, 3, 4));     // heights differ
    EXPECT_FALSE(imgResampleColumns(src.data(), 4, 4, dst.data(), 2, 2, 4));  // widths differ
    EXPECT_EQ(imgFilterContributions(0, 4), nullptr);
    EXPECT_EQ(imgFilterContributions(4, -1), nullptr);
}

TEST(ResampleBitmap, NeedsTwo32BitSectionsOfTheGivenSizes) {
    const plat::Handle src = imgCreateDIBSection(2, 2, 32);
    const plat::Handle dst = imgCreateDIBSection(4, 4, 32);
    const plat::Handle dst24 = imgCreateDIBSection(4, 4, 24);
    plat::BitmapDesc s{}, d{};
    ASSERT_TRUE(plat::bitmapDescribe(src, s));
    ASSERT_TRUE(plat::bitmapDescribe(dst, d));
    for (int i = 0; i < 16; ++i) static_cast<std::uint8_t*>(s.bits)[i] = 90;
    EXPECT_EQ(imgResampleBitmap(dst, 4, 4, src, 2, 2), 1);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(static_cast<std::uint8_t*>(d.bits)[i], 90);
    EXPECT_EQ(imgResampleBitmap(dst, 5, 4, src, 2, 2), 0);    // wrong size
    EXPECT_EQ(imgResampleBitmap(dst24, 4, 4, src, 2, 2), 0);  // wrong depth
    EXPECT_EQ(imgResampleBitmap(dst, 4, 4, 0, 2, 2), 0);
    EXPECT_EQ(imgResampleBitmap(dst, 4, 4, 0x12345678, 2, 2), 0);  // forged
    for (plat::Handle h : {src, dst, dst24}) plat::objectDelete(h);
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

// A strong reduction of a wide picture reads the bytes directly instead of
// through the ring of converted rows; the sums are the same either way.
TEST(Resample, StrongReductionGivesTheSameSums) {
    const std::int32_t w = 4096, h = 1024;
    const Bytes src = pattern(w, h, 4);
    for (std::int32_t dh : {1, 300}) {  // ring of 1024 rows (past its limit), and of 10
        Bytes got(static_cast<std::size_t>(w) * dh * 4);
        ASSERT_TRUE(imgResampleColumns(src.data(), w, h, got.data(), w, dh, 4));
        ContributionList* list = imgFilterContributions(dh, h);
        ASSERT_NE(list, nullptr);
        for (std::int32_t y = 0; y < dh; y += 97)
            for (std::size_t k : {std::size_t{0}, std::size_t{5}, std::size_t{4 * w - 1}}) {
                const Contribution& c = list->items[y];
                double sum = 0.0;
                for (std::int32_t j = c.first; j <= c.last; ++j)
                    sum = sum + c.weights[j - c.first] * src[static_cast<std::size_t>(j) * 4 * w + k];
                const double v = sum + 0.5;
                const int expected = v <= 0 ? 0 : v >= 255 ? 255 : static_cast<int>(v);
                EXPECT_EQ(got[static_cast<std::size_t>(y) * 4 * w + k], expected) << dh << " " << y << " " << k;
            }
        imgFreeContributions(list);
    }
}

// The AVX2 loops against the portable ones: every pixel size, enlarging and
// shrinking each way, widths that leave every remainder of a 4-wide step, and
// a reduction strong enough to take the direct column pass.
TEST(Resample, WideLoopsGiveThePortableBytes) {
    if (!cpuFeatures().avx2) GTEST_SKIP() << "no AVX2 here";
    struct Case {
        std::int32_t sw, sh, dw, dh;
    } cases[] = {{5, 4, 13, 9}, {13, 9, 5, 4}, {17, 3, 31, 40}, {64, 48, 29, 7}, {33, 65, 33, 64}, {2048, 1200, 7, 2}};
    for (const Case& k : cases)
        for (std::int32_t bits : {8, 16, 24, 32}) {
            if (k.sw == 2048 && bits != 32) continue;
            const Bytes src = pattern(k.sw, k.sh, bits / 8);
            Bytes portable(static_cast<std::size_t>(k.dw) * k.dh * (bits / 8)), wide(portable.size());
            ASSERT_EQ(imgResampleWith(kPortableResampleLoops, src.data(), k.sw, k.sh, portable.data(), k.dw, k.dh, bits), 1);
            ASSERT_EQ(imgResampleWith(kAvx2ResampleLoops, src.data(), k.sw, k.sh, wide.data(), k.dw, k.dh, bits), 1);
            EXPECT_EQ(wide, portable) << k.sw << "x" << k.sh << " -> " << k.dw << "x" << k.dh << " @" << bits;
        }
}

}  // namespace
}  // namespace oct
