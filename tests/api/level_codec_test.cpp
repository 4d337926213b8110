#include "api/level_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "runtime/heap.h"

namespace oct {
namespace {

struct Plotted {
    std::int32_t x, y;
    std::uint32_t colour;
    bool operator==(const Plotted&) const = default;
};

void record(void* context, std::int32_t x, std::int32_t y, std::uint32_t colour) {
    static_cast<std::vector<Plotted>*>(context)->push_back({x, y, colour});
}

// A level buffer that frees itself.
struct Levels : LevelBuffer {
    ~Levels() { memFree(levels); }
};

// A bottom-up picture held as plain rows.
struct Picture {
    std::int32_t width, height, bpp, pitch;
    std::vector<std::uint8_t> bytes;

    Picture(std::int32_t w, std::int32_t h, std::int32_t bitsPerPixel)
        : width(w), height(h), bpp(bitsPerPixel), pitch((w * (bitsPerPixel / 8) + 3) & ~3),
          bytes(static_cast<std::size_t>(pitch) * h) {}

    void set(std::int32_t x, std::int32_t row, std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t a = 0) {
        std::uint8_t* p = &bytes[static_cast<std::size_t>(row) * pitch + x * (bpp / 8)];
        p[0] = b, p[1] = g, p[2] = r;
        if (bpp == 32) p[3] = a;
    }

    PixelSource source() const {
        return {bytes.data(), width, height, pitch, static_cast<std::uint16_t>(bpp)};
    }
};

TEST(LevelCodec, WorkedExampleOfTwoPixels) {
    Picture pic(2, 1, 24);
    pic.set(0, 0, 200, 100, 50);
    pic.set(1, 0, 255, 255, 255);
    Levels lv;
    ASSERT_TRUE(lvlQuantize(pic.source(), lv));
    ASSERT_EQ(lv.size, 2);
    EXPECT_EQ(lv.alpha, 0);
    EXPECT_EQ(lv.levels[0], 0x39);
    EXPECT_EQ(lv.levels[1], 0x00);

    std::vector<Plotted> got;
    ASSERT_TRUE(lvlDecode(lv.levels, lv.size, 2, 1, false, record, &got));
    EXPECT_EQ(got, (std::vector<Plotted>{{0, 0, 0x595959}, {1, 0, 0xFFFFFF}}));
}

TEST(LevelCodec, CodeBitsFollowTheTable) {
    // Level → bits p, p+1, p+2 as a value (bit p lowest).
    const std::uint8_t kBits[8] = {0b000, 0b100, 0b010, 0b001, 0b110, 0b011, 0b101, 0b111};
    for (int level = 0; level < 8; ++level) {
        std::uint8_t buf[4] = {};
        lvlPutCode(buf, level, 13);
        std::uint32_t word = buf[0] | buf[1] << 8 | buf[2] << 16 | buf[3] << 24;
        EXPECT_EQ(word, static_cast<std::uint32_t>(kBits[level]) << 13) << level;
        EXPECT_EQ(lvlGrayColor(buf, 13), kLevelPalette[level] * 0x010101u) << level;
    }
    std::uint8_t buf[2] = {};
    lvlPutCode(buf, 8, 0);
    lvlPutCode(buf, -1, 0);
    EXPECT_EQ(buf[0] | buf[1], 0);
}

TEST(LevelCodec, EveryLevelRoundTripsAsItsPaletteValue) {
    for (int bpp : {24, 32}) {
        Picture pic(8, 8, bpp);
        for (int i = 0; i < 64; ++i) {
            int level = i % 8, alphaLevel = i / 8;
            // The middle of each level's sum range, spread over the channels.
            int sum = level * 96 + 40;
            auto c = static_cast<std::uint8_t>(sum / 3);
            pic.set(i % 8, i / 8, c, c, static_cast<std::uint8_t>(sum - 2 * c), static_cast<std::uint8_t>(alphaLevel * 32 + 5));
        }
        Levels lv;
        ASSERT_TRUE(lvlQuantize(pic.source(), lv));
        std::vector<Plotted> got;
        ASSERT_TRUE(lvlDecode(lv.levels, lv.size, 8, 8, lv.alpha, record, &got));
        ASSERT_EQ(got.size(), 64u);
        for (int i = 0; i < 64; ++i) {
            std::uint32_t want = kLevelPalette[i % 8] * 0x010101u;
            if (bpp == 32) want |= static_cast<std::uint32_t>(kLevelPalette[i / 8]) << 24;
            EXPECT_EQ(got[i], (Plotted{i % 8, 7 - i / 8, want})) << "bpp " << bpp << " pixel " << i;
        }
    }
}

TEST(LevelCodec, LevelBoundariesOfGrayAndAlpha) {
    struct Case {
        int sum, alpha;
        std::uint32_t colour;
    };
    const Case cases[] = {
        {95, 255, 0xFF000000}, {96, 31, 0x001D1D1D}, {671, 32, 0x1DB3B3B3}, {672, 0, 0x00FFFFFF},
        {0, 64, 0x3B000000},   {765, 224, 0xFFFFFFFF},
    };
    Picture pic(6, 1, 32);
    for (int i = 0; i < 6; ++i) {
        int s = cases[i].sum;
        auto b = static_cast<std::uint8_t>(s > 510 ? 255 : s > 255 ? 255 : s);
        auto g = static_cast<std::uint8_t>(s > 510 ? 255 : s > 255 ? s - 255 : 0);
        auto r = static_cast<std::uint8_t>(s > 510 ? s - 510 : 0);
        pic.set(i, 0, b, g, r, static_cast<std::uint8_t>(cases[i].alpha));
    }
    Levels lv;
    ASSERT_TRUE(lvlQuantize(pic.source(), lv));
    EXPECT_EQ(lv.alpha, 1);
    std::vector<Plotted> got;
    ASSERT_TRUE(lvlDecode(lv.levels, lv.size, 6, 1, true, record, &got));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i].colour, cases[i].colour) << "sum " << cases[i].sum;
}

TEST(LevelCodec, BytesBeyondTheCodesStayZero) {
    for (int bpp : {24, 32}) {
        for (int w : {1, 3, 7, 21, 64, 65}) {
            Picture pic(w, 3, bpp);
            for (auto& b : pic.bytes) b = 0xFF;  // level 7, alpha 7: every code bit set
            Levels lv;
            ASSERT_TRUE(lvlQuantize(pic.source(), lv));
            const std::int64_t bits = static_cast<std::int64_t>(w) * 3 * (bpp == 24 ? 3 : 6);
            const std::int64_t used = (bits + 7) / 8;
            ASSERT_EQ(lv.size, w * 3);
            for (std::int64_t i = 0; i < lv.size; ++i) {
                std::uint8_t want = i < bits / 8 ? 0xFF : i < used ? static_cast<std::uint8_t>((1u << (bits % 8)) - 1) : 0;
                ASSERT_EQ(lv.levels[i], want) << "bpp " << bpp << " width " << w << " byte " << i;
            }
        }
    }
}

TEST(LevelCodec, ShortBufferDecodesMissingPixelsAsBlackAndTransparent) {
    for (bool alpha : {false, true}) {
        std::vector<std::uint8_t> full(100, 0xFF);
        for (std::int64_t size : {0, 1, 2, 5}) {
            std::vector<std::uint8_t> shortBuf(full.begin(), full.begin() + size);
            std::vector<Plotted> got;
            ASSERT_TRUE(lvlDecode(shortBuf.data(), size, 10, 10, alpha, record, &got));
            ASSERT_EQ(got.size(), 100u);
            const int codeBits = alpha ? 6 : 3;
            const std::uint32_t white = alpha ? 0xFFFFFFFF : 0xFFFFFF;
            for (int k = 0; k < 100; ++k) {
                std::int64_t firstBit = static_cast<std::int64_t>(k) * codeBits;
                if (firstBit + codeBits <= size * 8) {
                    EXPECT_EQ(got[k].colour, white) << k;
                } else if (firstBit >= size * 8) {
                    EXPECT_EQ(got[k].colour, 0u) << k;
                }
            }
        }
    }
}

TEST(LevelCodec, RowsKeepTheSourceOrientation) {
    Picture pic(2, 3, 24);
    pic.set(0, 0, 255, 255, 255);  // first row in memory: the bottom row
    Levels lv;
    ASSERT_TRUE(lvlQuantize(pic.source(), lv));
    std::vector<Plotted> got;
    ASSERT_TRUE(lvlDecode(lv.levels, lv.size, 2, 3, false, record, &got));
    EXPECT_EQ(got.front(), (Plotted{0, 2, 0xFFFFFF}));
    EXPECT_EQ(got.back(), (Plotted{1, 0, 0}));
}

TEST(LevelCodec, RefusesSourcesItCannotReadSafely) {
    std::vector<std::uint8_t> bytes(64);
    const PixelSource bad[] = {
        {bytes.data(), 0, 1, 4, 24},   {bytes.data(), 1, 0, 4, 24},   {bytes.data(), -2, 1, 8, 24},
        {bytes.data(), 2, -1, 8, 24},  {nullptr, 1, 1, 4, 24},        {bytes.data(), 2, 2, 5, 24},
        {bytes.data(), 2, 2, 7, 32},   {bytes.data() + 32, 2, 2, -7, 32},
    };
    for (const PixelSource& s : bad) {
        LevelBuffer lv;
        EXPECT_FALSE(lvlQuantize(s, lv)) << s.width << "x" << s.height << " pitch " << s.pitch;
        EXPECT_EQ(lv.levels, nullptr);
    }
    std::vector<Plotted> got;
    EXPECT_FALSE(lvlDecode(bytes.data(), 64, 0, 4, false, record, &got));
    EXPECT_FALSE(lvlDecode(bytes.data(), 64, 4, -1, false, record, &got));
    EXPECT_FALSE(lvlDecode(bytes.data(), 64, 4, 4, false, nullptr, nullptr));
    EXPECT_TRUE(got.empty());
}

// A negative pitch walks the rows downward in memory: a raster stored top
// row first, seen from its last row, gives the codes of the same rows stored
// bottom row first.
TEST(LevelCodec, NegativePitchReadsRowsDownwardInMemory) {
    for (int bpp : {24, 32}) {
        Picture bottomUp(5, 4, bpp);
        for (std::int32_t row = 0; row < 4; ++row)
            for (std::int32_t x = 0; x < 5; ++x)
                bottomUp.set(x, row, static_cast<std::uint8_t>(60 * row), static_cast<std::uint8_t>(50 * x),
                             static_cast<std::uint8_t>(row * x * 11), static_cast<std::uint8_t>(40 * x + row));
        std::vector<std::uint8_t> topDown(bottomUp.bytes.size());
        for (std::int32_t row = 0; row < 4; ++row)
            std::copy_n(&bottomUp.bytes[static_cast<std::size_t>(row) * bottomUp.pitch], bottomUp.pitch,
                        &topDown[static_cast<std::size_t>(3 - row) * bottomUp.pitch]);
        Levels want, got;
        ASSERT_TRUE(lvlQuantize(bottomUp.source(), want));
        const PixelSource flipped{topDown.data() + 3 * bottomUp.pitch, 5, 4, -bottomUp.pitch,
                                  static_cast<std::uint16_t>(bpp)};
        ASSERT_TRUE(lvlQuantize(flipped, got));
        ASSERT_EQ(got.size, want.size);
        EXPECT_EQ(std::vector<std::uint8_t>(got.levels, got.levels + got.size),
                  std::vector<std::uint8_t>(want.levels, want.levels + want.size))
            << bpp;
    }
}

TEST(LevelCodec, DepthsOtherThan24ReadAsThirtyTwo) {
    Picture pic(1, 1, 32);
    pic.set(0, 0, 255, 255, 255, 255);
    PixelSource s = pic.source();
    s.bitsPerPixel = 16;
    Levels lv;
    ASSERT_TRUE(lvlQuantize(s, lv));
    EXPECT_EQ(lv.alpha, 1);
    EXPECT_EQ(lvlAlphaColor(lv.levels, 0), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace oct
