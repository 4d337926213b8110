#include "api/level_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/heap.h"

namespace oct {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes headerBytes(const OctHeader& h) {
    Bytes b(sizeof h);
    std::memcpy(b.data(), &h, sizeof h);
    return b;
}

TEST(LevelFile, HeaderOfTheWorkedExample) {
    OctHeader h{};
    lvlFillHeader(h, 640, 480, 0, 640 * 480);
    EXPECT_EQ(headerBytes(h), (Bytes{0x4F, 0x43, 0x54, 0x4C, 0x80, 0x02, 0, 0, 0xE0, 0x01, 0, 0, 0, 0, 0x00, 0xB0,
                                     0x04, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(lvlCheckHeader(h));
    h.reserved = 0x5A;
    lvlFillHeader(h, 1, 1, 1, 1);
    EXPECT_EQ(h.reserved, 0x5A) << "filling leaves the reserved byte alone";
    EXPECT_EQ(h.alpha, 1);
}

TEST(LevelFile, HeaderChecks) {
    struct Case {
        const char* name;
        std::int32_t width, height;
        std::int64_t rawSize;
        bool magicOk, passes;
    };
    const Case cases[] = {
        {"good", 3, 2, 6, true, true},          {"width 0", 0, 2, 6, true, false},
        {"height 0", 3, 0, 6, true, false},     {"negative width", -3, 2, 6, true, false},
        {"negative height", 3, -2, 6, true, false}, {"raw size 0", 3, 2, 0, true, false},
        {"negative raw size", 3, 2, -6, true, false}, {"magic", 3, 2, 6, false, false},
    };
    for (const Case& c : cases) {
        OctHeader h{};
        lvlFillHeader(h, c.width, c.height, 0, c.rawSize);
        if (!c.magicOk) h.magic[3] = 'X';
        EXPECT_EQ(lvlCheckHeader(h), c.passes) << c.name;
    }
}

TEST(LevelFile, SizesAreCheckedBeforeAllocating) {
    OctHeader h{};
    lvlFillHeader(h, 100, 100, 0, 10000);
    EXPECT_TRUE(lvlCheckSizes(h));
    h.rawSize = 9999;  // shorter than the pixels: missing codes decode as black
    EXPECT_TRUE(lvlCheckSizes(h));
    h.rawSize = 10001;
    EXPECT_FALSE(lvlCheckSizes(h));
    lvlFillHeader(h, 65536, 65536, 0, 1);
    EXPECT_FALSE(lvlCheckSizes(h)) << "a level buffer beyond 32-bit sizes";
    lvlFillHeader(h, INT32_MAX, 1, 0, INT32_MAX);
    EXPECT_TRUE(lvlCheckSizes(h));
}

TEST(LevelFile, PackingNeedsMoreThanTwentyEightBytes) {
    for (std::int64_t n : {1, 23, 24, 28}) {
        Bytes zeros(static_cast<std::size_t>(n), 0);
        std::uint8_t* payload = nullptr;
        std::int64_t size = 0;
        EXPECT_FALSE(lvlPack(zeros.data(), n, payload, size)) << n;
        EXPECT_EQ(payload, nullptr);
    }
    Bytes zeros(29, 0);
    std::uint8_t* payload = nullptr;
    std::int64_t size = 0;
    ASSERT_TRUE(lvlPack(zeros.data(), 29, payload, size));
    EXPECT_EQ(size, 28);
    // Container header: magic, reserved 0, unpacked size 29, block size 1 MiB (level 9).
    EXPECT_EQ(Bytes(payload, payload + 24), (Bytes{0x31, 0x7A, 0x6C, 0x62, 0, 0, 0, 0, 29, 0, 0, 0, 0, 0, 0, 0,
                                                   0, 0, 0x10, 0, 0, 0, 0, 0}));
    std::uint8_t* levels = nullptr;
    ASSERT_TRUE(lvlUnpack(payload, size, 29, levels));
    EXPECT_EQ(Bytes(levels, levels + 29), zeros);
    memFree(levels);
    memFree(payload);
}

TEST(LevelFile, IncompressibleLevelsDoNotPack) {
    Bytes noise(4000);
    std::uint32_t x = 12345;
    for (auto& b : noise) b = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 24);
    std::uint8_t* payload = nullptr;
    std::int64_t size = 0;
    EXPECT_FALSE(lvlPack(noise.data(), 4000, payload, size));
}

TEST(LevelFile, UnpackFillsWhatThePayloadHoldsAndRefusesMore) {
    Bytes ones(100, 0xFF);
    std::uint8_t* payload = nullptr;
    std::int64_t size = 0;
    ASSERT_TRUE(lvlPack(ones.data(), 100, payload, size));
    std::uint8_t* levels = nullptr;
    ASSERT_TRUE(lvlUnpack(payload, size, 150, levels));  // room to spare: the rest stays zero
    EXPECT_EQ(Bytes(levels, levels + 100), ones);
    EXPECT_EQ(Bytes(levels + 100, levels + 150), Bytes(50, 0));
    memFree(levels);
    levels = nullptr;
    EXPECT_FALSE(lvlUnpack(payload, size, 99, levels)) << "the container holds more than the raw size";
    EXPECT_FALSE(lvlUnpack(payload, size - 1, 100, levels)) << "a payload cut short";
    EXPECT_FALSE(lvlUnpack(payload, 10, 100, levels));
    EXPECT_EQ(levels, nullptr);
    memFree(payload);
}

}  // namespace
}  // namespace oct
