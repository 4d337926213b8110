// octLevelCodes: the codes of converted pictures and of level files, each
// pixel's code the level its rebuilt pixel shows, copied only into room
// enough for them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "oct.h"

#ifdef _WIN32

TEST(LevelCodes, AreALinuxHelper) { GTEST_SKIP() << "oct.dll keeps its ten exports: no octLevelCodes"; }

#else

#include "api/level_codec.h"
#include "api/level_file.h"
#include "api/level_kernels.h"
#include "api/record.h"
#include "runtime/heap.h"

namespace oct {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The level of pixel k (its gray code, or with `alphaCode` its alpha code)
// read from the codes bit by bit, as docs/formats/level-buffer.md lays them out.
int levelAt(const Bytes& codes, std::int64_t k, bool alpha, bool alphaCode) {
    const std::int64_t first = k * (alpha ? 6 : 3) + (alphaCode ? 3 : 0);
    int code = 0;
    for (int j = 0; j < 3; ++j) code |= ((codes[static_cast<std::size_t>((first + j) / 8)] >> ((first + j) % 8)) & 1) << j;
    return lvl::kCodeLevel[code];
}

// Every pixel of the rebuilt bitmap shows the palette value of its codes.
void expectRebuiltShows(OctImage* record, const Bytes& codes) {
    OctBitmap bm{};
    ASSERT_EQ(octBitmapInfo(octHandle(record), &bm), 1);
    const bool alpha = octAlpha(record) != 0;
    const int bytes = bm.bitsPerPixel / 8;
    for (std::int64_t k = 0; k < static_cast<std::int64_t>(bm.width) * bm.height; ++k) {
        const auto* p = static_cast<const std::uint8_t*>(bm.bits) + (k / bm.width) * bm.widthBytes + (k % bm.width) * bytes;
        ASSERT_EQ(p[0], kLevelPalette[levelAt(codes, k, alpha, false)]) << "pixel " << k;
        if (alpha) {
            ASSERT_EQ(p[3], kLevelPalette[levelAt(codes, k, alpha, true)]) << "pixel " << k;
        }
    }
}

std::int64_t codeBytes(std::int64_t width, std::int64_t height, bool alpha) {
    return (width * height * (alpha ? 6 : 3) + 7) / 8;
}

TEST(LevelCodes, AreTheFrontOfTheLevelBufferCopiedOnlyWhenTheyFit) {
    struct Size {
        std::int32_t width, height;
    };
    std::uint8_t seed = 1;
    for (int bpp : {24, 32})
        for (Size s : {Size{1, 1}, Size{3, 1}, Size{8, 1}, Size{7, 3}, Size{1, 9}, Size{67, 5}}) {
            SCOPED_TRACE(testing::Message() << s.width << "x" << s.height << " at " << bpp);
            const std::int64_t section = octBitmapCreate(s.width, s.height, bpp);
            OctBitmap bm{};
            ASSERT_EQ(octBitmapInfo(section, &bm), 1);
            auto* bits = static_cast<std::uint8_t*>(bm.bits);
            for (std::int64_t i = 0; i < static_cast<std::int64_t>(bm.widthBytes) * bm.height; ++i)
                bits[i] = static_cast<std::uint8_t>(seed * 31 + i * 89 + (i >> 3));
            ++seed;
            OctImage* record = octConvert(section);
            ASSERT_NE(record, nullptr);
            const std::int64_t n = codeBytes(s.width, s.height, bpp == 32);
            EXPECT_EQ(octLevelCodes(record, nullptr, 0), n);
            EXPECT_EQ(octLevelCodes(record, nullptr, n), n);

            Bytes out(static_cast<std::size_t>(n + 16), 0xCD);
            EXPECT_EQ(octLevelCodes(record, out.data(), n - 1), n);
            EXPECT_EQ(out, Bytes(out.size(), 0xCD)) << "one byte too few must leave the buffer alone";
            EXPECT_EQ(octLevelCodes(record, out.data(), n + 16), n);
            EXPECT_EQ(Bytes(out.begin() + n, out.end()), Bytes(16, 0xCD)) << "written past the codes";
            out.resize(static_cast<std::size_t>(n));

            // The same as quantizing the pixels directly, and what the rebuilt bitmap shows.
            LevelBuffer lv;
            ASSERT_TRUE(lvlQuantize({bits, bm.width, bm.height, bm.widthBytes, bm.bitsPerPixel}, lv));
            EXPECT_EQ(out, Bytes(lv.levels, lv.levels + n));
            memFree(lv.levels);
            expectRebuiltShows(record, out);
            octFree(record);
            octBitmapDelete(section);
        }
    std::uint8_t untouched = 0xCD;
    EXPECT_EQ(octLevelCodes(nullptr, &untouched, 1), 0);
    EXPECT_EQ(untouched, 0xCD);
}

// A level file's stored buffer may end before its codes do, and its bytes
// may set bits past the last code: the codes come out as its picture shows
// them, the missing ones level 0 and the bits past them 0.
TEST(LevelCodes, OfALevelFileAreWhatItsPictureShows) {
    struct Case {
        const char* name;
        std::int32_t width, height;
        bool alpha;
        std::int64_t rawSize;
        std::uint8_t fill;
    };
    const Case cases[] = {
        {"whole buffer, bits set past the last code", 7, 5, false, 35, 0xFF},
        {"buffer ending inside the codes", 64, 64, false, 100, 0xB6},
        {"with alpha, bits set past the last code", 9, 7, true, 63, 0xFF},
        {"with alpha, buffer ending inside the codes", 64, 64, true, 200, 0x5B},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes stored(static_cast<std::size_t>(c.rawSize), c.fill);
        std::uint8_t* payload = nullptr;
        std::int64_t payloadSize = 0;
        ASSERT_TRUE(lvlPack(stored.data(), c.rawSize, payload, payloadSize));
        OctHeader header{};
        lvlFillHeader(header, c.width, c.height, c.alpha ? 1 : 0, c.rawSize);
        Bytes file(sizeof header + static_cast<std::size_t>(payloadSize));
        std::memcpy(file.data(), &header, sizeof header);
        std::memcpy(file.data() + sizeof header, payload, static_cast<std::size_t>(payloadSize));
        memFree(payload);

        OctImage* record = octCatch(file.data(), static_cast<int64_t>(file.size()));
        ASSERT_NE(record, nullptr);
        const std::int64_t n = codeBytes(c.width, c.height, c.alpha);
        Bytes out(static_cast<std::size_t>(n), 0xCD);
        ASSERT_EQ(octLevelCodes(record, out.data(), n), n);
        Bytes expected(static_cast<std::size_t>(n), 0);
        std::memcpy(expected.data(), stored.data(), static_cast<std::size_t>(std::min(n, c.rawSize)));
        const int used = static_cast<int>(std::int64_t{c.width} * c.height * (c.alpha ? 6 : 3) % 8);
        if (used && c.rawSize >= n) expected.back() &= static_cast<std::uint8_t>((1u << used) - 1);
        EXPECT_EQ(out, expected);
        expectRebuiltShows(record, out);
        octFree(record);
    }
}

}  // namespace
}  // namespace oct

#endif
