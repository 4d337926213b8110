#include "encode/palette.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace oct {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ReducerDeleter {
    void operator()(PaletteReducer* r) const { palFree(r); }
};
using Reducer = std::unique_ptr<PaletteReducer, ReducerDeleter>;

// 24-bit rows of (blue, green, red) pixels, padded to 4 bytes.
Bytes rows24(const std::vector<std::array<std::uint8_t, 3>>& px, std::int32_t width, std::int32_t& pitch) {
    pitch = (3 * width + 3) & ~3;
    const std::int32_t height = static_cast<std::int32_t>(px.size()) / width;
    Bytes b(static_cast<std::size_t>(pitch * height), 0xEE);
    for (std::size_t i = 0; i < px.size(); ++i) {
        std::uint8_t* p = b.data() + (i / width) * pitch + (i % width) * 3;
        std::memcpy(p, px[i].data(), 3);
    }
    return b;
}

// The bytes of row k as the encoder writes them: `n` bytes of the row buffer.
Bytes indexRow(PaletteReducer& r, std::int32_t k, std::size_t n) {
    const std::uint8_t* row = palIndexRow(r, k);
    return Bytes(row, row + n);
}

TEST(PaletteReducer, DepthOneThresholdIsLuminanceAbove160) {
    struct Case {
        const char* name;
        std::array<std::uint8_t, 3> bgr;
        int index;
    };
    const Case cases[] = {
        {"pure green: 182.4", {0, 255, 0}, 1},
        {"pure red: 54.2", {0, 0, 255}, 0},
        {"exactly 160 in doubles (red 30, green 194, blue 206)", {206, 194, 30}, 0},
        {"gray 160: 159.99999999999997", {160, 160, 160}, 0},
        {"gray 161", {161, 161, 161}, 1},
        {"white", {255, 255, 255}, 1},
        {"black", {0, 0, 0}, 0},
    };
    for (const Case& c : cases) {
        std::int32_t pitch = 0;
        const Bytes px = rows24({c.bgr}, 1, pitch);
        Reducer r(palCreate(px.data(), 1, 1, 24, pitch, 1, kPaletteDither));  // depth 1 never dithers
        ASSERT_TRUE(r) << c.name;
        EXPECT_EQ(palIndexRow(*r, 0)[0], c.index << 7) << c.name;
    }
    Reducer r(palCreate(Bytes(4).data(), 1, 1, 24, 4, 1, 0));
    ASSERT_TRUE(r);
    const std::uint8_t blackWhite[2][4] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
    EXPECT_EQ(std::memcmp(r->palette, blackWhite, sizeof blackWhite), 0);
    EXPECT_EQ(r->network, nullptr);
}

TEST(PaletteReducer, PacksFirstPixelHighestAndClearsTheRest) {
    // Depth 1, width 10: white at pixels 0, 3 and 8.
    std::vector<std::array<std::uint8_t, 3>> px(10, {0, 0, 0});
    px[0] = px[3] = px[8] = {255, 255, 255};
    std::int32_t pitch = 0;
    const Bytes one = rows24(px, 10, pitch);
    Reducer r1(palCreate(one.data(), 10, 1, 24, pitch, 1, 0));
    ASSERT_TRUE(r1);
    std::memset(r1->row, 0xFF, 18);  // whatever the buffer held before
    EXPECT_EQ(indexRow(*r1, 0, 18), (Bytes{0x90, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    // Depth 4, width 3: pixels 0 and 2 alike, pixel 2 in the high four bits of the second byte.
    const Bytes four = rows24({{10, 200, 30}, {250, 20, 20}, {10, 200, 30}}, 3, pitch);
    Reducer r4(palCreate(four.data(), 3, 1, 24, pitch, 4, 0));
    ASSERT_TRUE(r4);
    std::memset(r4->row, 0xFF, 11);
    const Bytes row4 = indexRow(*r4, 0, 11);
    EXPECT_EQ(row4[1] >> 4, row4[0] >> 4);
    EXPECT_NE(row4[0] & 15, row4[0] >> 4);
    EXPECT_EQ(row4[1] & 15, 0) << "the bits past the last pixel";
    EXPECT_EQ(Bytes(row4.begin() + 2, row4.end()), Bytes(9, 0));

    // Depth 8: one byte a pixel, then zeros.
    Reducer r8(palCreate(four.data(), 3, 1, 24, pitch, 8, kPaletteDither));
    ASSERT_TRUE(r8);
    std::memset(r8->row, 0xFF, 11);
    const Bytes row8 = indexRow(*r8, 0, 11);
    EXPECT_EQ(Bytes(row8.begin() + 3, row8.end()), Bytes(8, 0));
}

TEST(PaletteReducer, CarryLimitHalvesTowardsZero) {
    struct Case {
        const char* name;
        std::array<std::int32_t, 4> in;
        std::int32_t limit;
        std::array<std::int32_t, 4> out;
    };
    const Case cases[] = {
        {"within every bound", {3, -4, 5, 0}, 200, {3, -4, 5, 0}},
        {"-1 against an exact match ends at 0", {-1, 0, 0, 0}, 0, {0, 0, 0, 0}},
        {"all -1, limit 2", {-1, -1, -1, -1}, 2, {0, 0, 0, 0}},
        {"a square above 100", {-30, 5, 0, 0}, 2000, {-7, 1, 0, 0}},
        {"sum above 200", {-9, 9, -9, 9}, 1000, {-4, 4, -4, 4}},
        {"sum above the pixel's own error", {6, 6, 0, 0}, 50, {3, 3, 0, 0}},
    };
    for (const Case& c : cases) {
        std::int32_t e[4] = {c.in[0], c.in[1], c.in[2], c.in[3]};
        palLimitCarry(e, c.limit);
        EXPECT_EQ((std::array<std::int32_t, 4>{e[0], e[1], e[2], e[3]}), c.out) << c.name;
    }
}

TEST(PaletteReducer, SamePaletteFromCopiedOrBorrowedPixels) {
    // 32-bit rows exactly 4 × width apart are used in place; with another pitch they are copied.
    const std::int32_t w = 7, h = 5;
    Bytes tight(4 * w * h), wide(40 * h, 0xAB);
    for (std::int32_t i = 0; i < w * h; ++i) {
        const std::uint8_t px[4] = {static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(i * 11),
                                    static_cast<std::uint8_t>(255 - i * 5), static_cast<std::uint8_t>(i * 60)};
        std::memcpy(&tight[4 * i], px, 4);
        std::memcpy(&wide[(i / w) * 40 + (i % w) * 4], px, 4);
    }
    Reducer borrowed(palCreate(tight.data(), w, h, 32, 4 * w, 8, 0));
    Reducer copied(palCreate(wide.data(), w, h, 32, 40, 8, 0));
    ASSERT_TRUE(borrowed && copied);
    EXPECT_EQ(borrowed->ownsPixels, 0);
    EXPECT_EQ(copied->ownsPixels, 1);
    EXPECT_EQ(std::memcmp(borrowed->palette, copied->palette, sizeof borrowed->palette), 0);
    for (std::int32_t k = 0; k < h; ++k) EXPECT_EQ(indexRow(*borrowed, k, w), indexRow(*copied, k, w)) << k;
}

TEST(PaletteReducer, DitheringWritesIntoItsOwnCopyOnly) {
    const std::int32_t w = 16, h = 16;
    Bytes px(4 * w * h);
    for (std::int32_t i = 0; i < w * h; ++i) {
        px[4 * i] = static_cast<std::uint8_t>(i);
        px[4 * i + 1] = static_cast<std::uint8_t>(255 - i);
        px[4 * i + 2] = static_cast<std::uint8_t>(i * 3);
        px[4 * i + 3] = static_cast<std::uint8_t>(i % 3 == 0 ? 0 : 255);
    }
    const Bytes before = px;
    Reducer r(palCreate(px.data(), w, h, 32, 4 * w, 4, kPaletteDither));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->ownsPixels, 1);
    for (std::int32_t k = 0; k < h; ++k) palIndexRow(*r, k);
    EXPECT_EQ(px, before);
    // The carry is a fraction of an error limited to squares of 100.
    for (std::int32_t c : r->carry) EXPECT_LE(c * c, 100);
}

TEST(PaletteReducer, RefusesWhatItCannotReduce) {
    const Bytes px(64);
    EXPECT_EQ(palCreate(px.data(), 2, 2, 24, 8, 2, 0), nullptr) << "depth 2";
    EXPECT_EQ(palCreate(px.data(), 2, 2, 24, 8, 24, 0), nullptr) << "depth 24";
    EXPECT_EQ(palCreate(px.data(), 2, 2, 16, 8, 8, 0), nullptr) << "16-bit rows";
    EXPECT_EQ(palCreate(px.data(), -1, 2, 24, 8, 8, 0), nullptr) << "negative width";
    EXPECT_EQ(palCreate(nullptr, 2, 2, 24, 8, 8, 0), nullptr) << "no pixels";
    // No pixels at all is a picture too: an untrained palette, empty rows.
    Reducer empty(palCreate(px.data(), 0, 3, 24, 0, 8, kPaletteDither));
    ASSERT_TRUE(empty);
    EXPECT_EQ(indexRow(*empty, 0, 8), Bytes(8, 0));
}

}  // namespace
}  // namespace oct
