// The rebuilt bitmap of a conversion may take the memory of a bitmap freed
// just before (on Linux), as that bitmap left it: every pixel byte and every
// padding byte of the rebuilt picture must still be its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "oct.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"

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

// Converts a picture whose sums change along each row and alpha along each
// column (shifted by `seed`) and counts the bytes of the rebuilt bitmap,
// pixels and padding, that are not what the levels make them.
std::int64_t wrongBytesOfAConversion(std::int32_t width, std::int32_t height, int bpp, int seed) {
    const int bytes = bpp / 8;
    const plat::Handle source = bitmapOf(width, height, bpp, [&](std::int32_t i, std::int32_t y) {
        if (i >= width * bytes) return 0;
        return i % bytes == 3 ? (y * 7 + seed) & 0xFF : (i / bytes * 3 + y + seed) & 0xFF;
    });
    if (!source) return -1;
    OctImage* record = octConvert(static_cast<int64_t>(source));
    plat::BitmapDesc in{}, out{};
    std::int64_t wrong = -1;
    if (record && plat::bitmapDescribe(source, in) &&
        plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(record)), out) && out.widthBytes == in.widthBytes) {
        const auto* src = static_cast<const std::uint8_t*>(in.bits);
        const auto* dst = static_cast<const std::uint8_t*>(out.bits);
        wrong = 0;
        for (std::int32_t y = 0; y < height; ++y)
            for (std::int32_t i = 0; i < in.widthBytes; ++i) {
                const std::int64_t at = static_cast<std::int64_t>(y) * in.widthBytes + i;
                std::uint8_t expected = 0;  // row padding
                if (i < width * bytes) {
                    const std::uint8_t* p = src + static_cast<std::int64_t>(y) * in.widthBytes + i / bytes * bytes;
                    expected = i % bytes == 3 ? kPalette[p[3] / 32] : kPalette[(p[0] + p[1] + p[2]) / 96];
                }
                if (dst[at] != expected) ++wrong;
            }
    }
    octFree(record);
    plat::objectDelete(source);
    return wrong;
}

// Large enough for a mapping of its own (over 8 MiB), with 3 bytes of
// padding a row at 24 bits.
constexpr std::int32_t kWidth = 2003, kHeight = 1501;

TEST(RebuildReuse, ARebuiltPictureOwesNothingToTheBitmapFreedBeforeIt) {
    for (const int bpp : {24, 32}) {
        SCOPED_TRACE(bpp);
        // A freed bitmap of the rebuilt one's size, every byte 0xAB.
        const plat::Handle stale = bitmapOf(kWidth, kHeight, bpp, [](std::int32_t, std::int32_t) { return 0xAB; });
        ASSERT_NE(stale, 0u);
        ASSERT_TRUE(plat::objectDelete(stale));
        EXPECT_EQ(wrongBytesOfAConversion(kWidth, kHeight, bpp, 0), 0);
    }
}

// Threads converting and freeing large pictures at once hand the kept memory
// between them; each gets its own picture.
TEST(RebuildReuse, ThreadsConvertingAtOnceEachGetTheirOwnPicture) {
    std::vector<std::thread> threads;
    std::vector<std::int64_t> wrong(4, 0);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) wrong[t] += wrongBytesOfAConversion(kWidth, kHeight, 24, t * 5 + round);
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong, std::vector<std::int64_t>(4, 0));
}

}  // namespace
}  // namespace oct
