// The rebuilt bitmap of a conversion may take the memory of a bitmap freed
// just before (on Linux), as that bitmap left it: every pixel byte and every
// padding byte of the rebuilt picture must still be its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "oct.h"
#include "platform/platform.h"

namespace oct {
namespace {

constexpr std::uint8_t kPalette[8] = {0, 29, 59, 89, 119, 149, 179, 255};

// A bitmap of the platform layer with every byte, row padding included, set
// by `fill(x_byte, row)`.
template <typename Fill>
plat::Handle bitmapOf(std::int32_t width, std::int32_t height, int bpp, Fill fill) {
    const plat::Handle h = plat::dibSectionCreate(width, height, bpp);
    plat::BitmapDesc bm{};
    if (!h || !plat::bitmapDescribe(h, bm)) return h;
    auto* bits = static_cast<std::uint8_t*>(bm.bits);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t i = 0; i < bm.widthBytes; ++i) bits[static_cast<std::int64_t>(y) * bm.widthBytes + i] = fill(i, y);
    return h;
}

TEST(RebuildReuse, ARebuiltPictureOwesNothingToTheBitmapFreedBeforeIt) {
    // Large enough for a mapping of its own (over 8 MiB), with 3 bytes of
    // padding a row at 24 bits.
    constexpr std::int32_t kWidth = 2003, kHeight = 1501;
    for (const int bpp : {24, 32}) {
        SCOPED_TRACE(bpp);
        const int bytes = bpp / 8;
        // A freed bitmap of the rebuilt one's size, every byte 0xAB.
        const plat::Handle stale = bitmapOf(kWidth, kHeight, bpp, [](std::int32_t, std::int32_t) { return 0xAB; });
        ASSERT_NE(stale, 0u);
        ASSERT_TRUE(plat::objectDelete(stale));
        // The source: gray sums that change along each row, alpha along each column.
        const plat::Handle source = bitmapOf(kWidth, kHeight, bpp, [&](std::int32_t i, std::int32_t y) {
            if (i >= kWidth * bytes) return 0;
            const int channel = i % bytes;
            return channel == 3 ? (y * 7) & 0xFF : (i / bytes * 3 + y) & 0xFF;
        });
        ASSERT_NE(source, 0u);
        OctImage* record = octConvert(static_cast<int64_t>(source));
        ASSERT_NE(record, nullptr);
        plat::BitmapDesc in{}, out{};
        ASSERT_TRUE(plat::bitmapDescribe(source, in));
        ASSERT_TRUE(plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(record)), out));
        ASSERT_EQ(out.widthBytes, in.widthBytes);
        const auto* src = static_cast<const std::uint8_t*>(in.bits);
        const auto* dst = static_cast<const std::uint8_t*>(out.bits);
        std::int64_t wrong = 0;
        for (std::int32_t y = 0; y < kHeight; ++y)
            for (std::int32_t i = 0; i < in.widthBytes; ++i) {
                const std::int64_t at = static_cast<std::int64_t>(y) * in.widthBytes + i;
                std::uint8_t expected = 0;  // row padding
                if (i < kWidth * bytes) {
                    const std::uint8_t* p = src + static_cast<std::int64_t>(y) * in.widthBytes + i / bytes * bytes;
                    expected = i % bytes == 3 ? kPalette[p[3] / 32] : kPalette[(p[0] + p[1] + p[2]) / 96];
                }
                if (dst[at] != expected) ++wrong;
            }
        EXPECT_EQ(wrong, 0);
        octFree(record);
        plat::objectDelete(source);
    }
}

}  // namespace
}  // namespace oct
