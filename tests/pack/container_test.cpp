#include "pack/container.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "pack/bytes.h"
#include "pack/lz_block.h"
#include "runtime/heap.h"

namespace oct {
namespace {

using test::ascii;
using test::Bytes;
using test::hex;

// Packs into a zero-filled buffer of `capacity` bytes; empty on failure.
Bytes pack(const Bytes& in, std::int32_t level, std::int32_t capacity = -1) {
    if (capacity < 0) capacity = static_cast<std::int32_t>(in.size() + in.size() / 8 + 4096);
    Bytes out(static_cast<std::size_t>(capacity));
    const std::int32_t n =
        pakPackMemory(in.data(), static_cast<std::int32_t>(in.size()), out.data(), capacity, level, nullptr);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::int64_t unpack(const Bytes& container, Bytes& out) {
    return pakUnpackMemory(container.data(), static_cast<std::int64_t>(container.size()), out.data(),
                           static_cast<std::int64_t>(out.size()));
}

std::int64_t readI64(const Bytes& b, std::size_t at) {
    std::int64_t v;
    std::memcpy(&v, b.data() + at, 8);
    return v;
}

void writeI64(Bytes& b, std::size_t at, std::int64_t v) { std::memcpy(b.data() + at, &v, 8); }

TEST(PackContainer, WorkedExampleAtLevel9) {
    EXPECT_EQ(pack(ascii("abcabcabcabc"), 9),
              hex("31 7A 6C 62 00 00 00 00 0C 00 00 00 00 00 00 00 00 00 10 00 00 00 00 00 61 00 3C 62 63 02"));
}

TEST(PackContainer, EmptyInputIsTheHeaderAlone) {
    EXPECT_EQ(pack({}, 6, 24), hex("31 7A 6C 62 00 00 00 00 00 00 00 00 00 00 00 00 00 00 08 00 00 00 00 00"));
    Bytes out;
    EXPECT_EQ(unpack(pack({}, 6, 24), out), 0);
}

TEST(PackContainer, StaysStrictlyBelowTheCapacity) {
    struct Case {
        const char* name;
        Bytes input;
        std::int32_t capacity;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"abcabcabcabc, capacity 30", ascii("abcabcabcabc"), 30, 0},
        {"abcabcabcabc, capacity 31", ascii("abcabcabcabc"), 31, 30},
        {"28 equal bytes, capacity 28", Bytes(28, 0), 28, 0},
        {"29 equal bytes, capacity 29", Bytes(29, 0), 29, 28},
        {"one byte, capacity 25", ascii("x"), 25, 0},
        {"one byte, capacity 26", ascii("x"), 26, 25},
        {"header does not fit", ascii("x"), 23, 0},
        {"negative capacity", ascii("x"), -1, 0},
    };
    for (const auto& c : cases) {
        Bytes out(64, 0xEE);
        const std::int32_t n = pakPackMemory(c.input.data(), static_cast<std::int32_t>(c.input.size()), out.data(),
                                             c.capacity, 9, nullptr);
        EXPECT_EQ(n, c.expected) << c.name;
        // Nothing is written past the capacity, and nothing at all without room for the header.
        const std::size_t untouched = c.capacity < 24 ? 0 : static_cast<std::size_t>(c.capacity);
        EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(untouched), out.end()),
                  Bytes(out.size() - untouched, 0xEE))
            << c.name;
    }
}

TEST(PackContainer, LeavesTheReservedBytesAlone) {
    Bytes out(64, 0xA5);
    const Bytes in = ascii("abcabcabcabc");
    ASSERT_EQ(pakPackMemory(in.data(), 12, out.data(), 64, 9, nullptr), 30);
    EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 8), hex("A5 A5 A5 A5"));
    out.resize(30);
    Bytes back(12);
    EXPECT_EQ(unpack(out, back), 12);
    EXPECT_EQ(back, in);
}

TEST(PackContainer, LevelChoosesTheBlockSize) {
    struct Level {
        std::int32_t level, blockSize;
    };
    const Level table[] = {{0, 8192},    {1, 32768},   {2, 65536},   {3, 98304},  {4, 131072}, {5, 262144},
                           {6, 524288},  {7, 786432},  {8, 1048576}, {9, 1048576}, {-1, 1048576}, {100, 1048576}};
    for (const auto& t : table) {
        const Bytes c = pack(ascii("abc"), t.level);
        ASSERT_EQ(c.size(), 24u + 5u) << t.level;
        EXPECT_EQ(readI64(c, 16), t.blockSize) << t.level;
        EXPECT_EQ(pakBlockSizeForLevel(t.level), t.blockSize) << t.level;
    }
}

TEST(PackContainer, BlockSizePlusOneGivesAVerbatimLastBlock) {
    Bytes in = test::mixedData(8192 + 1, 5);
    in.back() = 0x7B;
    const Bytes c = pack(in, 0);
    ASSERT_FALSE(c.empty());
    EXPECT_EQ(c.back(), 0x7B);
    // The first block alone, decoded, ends one byte before the container does.
    Bytes out(8192);
    EXPECT_EQ(pakDecompressBlock(c.data() + 24, c.size() - 24, out.data(), 8192),
              static_cast<std::int64_t>(c.size() - 24 - 1));
}

TEST(PackContainer, BlocksAreCodedOnTheirOwn) {
    // Each block equals what the block coder makes of it alone, with a fresh
    // table: the packer's shared table must not leak matches across blocks,
    // whether it clears the whole table once (long inputs) or only the
    // entries each block reads (short ones).
    for (const std::size_t size : {std::size_t{3 * 8192 + 777}, std::size_t{6 * 8192 + 5}}) {
        // Leave garbage in the main heap where the packer's table may land.
        void* dirty = memMainAlloc(512 * 1024, false);
        ASSERT_NE(dirty, nullptr);
        std::memset(dirty, 0xFF, 512 * 1024);
        memMainFree(dirty);

        const Bytes in = test::mixedData(size, 11);
        const Bytes c = pack(in, 0);
        Bytes expected(c.begin(), c.begin() + 24);
        std::vector<std::uint32_t> work(pakWorkMemSize() / 4);
        for (std::size_t at = 0; at < in.size(); at += 8192) {
            const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(8192, in.size() - at));
            Bytes block(pakMaxPackedSize(n));
            block.resize(pakCompressBlock(in.data() + at, block.data(), n, work.data()));
            expected.insert(expected.end(), block.begin(), block.end());
        }
        EXPECT_EQ(c, expected) << size;
    }
}

TEST(PackContainer, RoundTripsAtEveryLevel) {
    const Bytes in = test::mixedData(1100000, 3);  // more than one block at every level
    for (std::int32_t level = 0; level <= 9; ++level) {
        const Bytes c = pack(in, level);
        ASSERT_FALSE(c.empty()) << level;
        EXPECT_EQ(readI64(c, 8), static_cast<std::int64_t>(in.size()));
        Bytes out(in.size());
        ASSERT_EQ(unpack(c, out), static_cast<std::int64_t>(in.size())) << level;
        EXPECT_EQ(out, in) << level;
    }
}

TEST(PackContainer, NeverExceedsTheLargestContainerOfItsSize) {
    // Noise does not compress: every block comes out at its longest.
    Bytes noise(200000);
    std::uint32_t x = 12345;
    for (auto& b : noise) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    for (std::size_t size : {std::size_t{1}, std::size_t{8191}, std::size_t{8192}, std::size_t{8193}, noise.size()}) {
        const Bytes in(noise.begin(), noise.begin() + static_cast<std::ptrdiff_t>(size));
        for (std::int32_t level : {0, 6, 9}) {
            const Bytes c = pack(in, level, static_cast<std::int32_t>(size * 2 + 4096));
            ASSERT_FALSE(c.empty()) << size << " at " << level;
            EXPECT_LE(static_cast<std::int64_t>(c.size()), pakMaxContainerSize(static_cast<std::int64_t>(size)))
                << size << " at " << level;
        }
    }
    EXPECT_EQ(pakMaxContainerSize(0), kPackHeaderSize);
    EXPECT_EQ(pakMaxContainerSize(-1), 0);
    EXPECT_EQ(pakMaxContainerSize(std::int64_t{1} << 31), 0);
    EXPECT_GT(pakMaxContainerSize(INT32_MAX), INT32_MAX);
}

TEST(PackContainer, UnpacksIntoALargerBufferWithoutTouchingTheRest) {
    const Bytes in = ascii("abcabcabcabc");
    const Bytes c = pack(in, 9);
    Bytes out(40, 0xCC);
    EXPECT_EQ(unpack(c, out), 12);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 12), in);
    EXPECT_EQ(Bytes(out.begin() + 12, out.end()), Bytes(28, 0xCC));
}

std::vector<std::int64_t> gProgress;
int recordProgress(std::int64_t done, std::int64_t total) {
    gProgress.push_back(done);
    gProgress.push_back(total);
    return 1;
}
int abortAfterFirst(std::int64_t, std::int64_t) { return 0; }

TEST(PackContainer, ReportsProgressPerBlockAndStopsWhenAsked) {
    const Bytes in = test::mixedData(2 * 8192 + 100, 9);
    Bytes out(in.size() * 2);
    gProgress.clear();
    const std::int32_t n = pakPackMemory(in.data(), static_cast<std::int32_t>(in.size()), out.data(),
                                         static_cast<std::int32_t>(out.size()), 0, recordProgress);
    ASSERT_GT(n, 0);
    ASSERT_EQ(gProgress.size(), 6u);
    EXPECT_EQ(gProgress[0], 8192);
    EXPECT_EQ(gProgress[2], 16384);
    EXPECT_EQ(gProgress[4], static_cast<std::int64_t>(in.size()));
    EXPECT_EQ(gProgress[5], n);
    EXPECT_LT(gProgress[1], gProgress[3]);
    EXPECT_EQ(pakPackMemory(in.data(), static_cast<std::int32_t>(in.size()), out.data(),
                            static_cast<std::int32_t>(out.size()), 0, abortAfterFirst),
              0);
}

TEST(PackContainer, RefusesBadArguments) {
    Bytes out(64);
    const Bytes in = ascii("abc");
    EXPECT_EQ(pakPackMemory(in.data(), -1, out.data(), 64, 6, nullptr), 0);
    EXPECT_EQ(pakPackMemory(nullptr, 3, out.data(), 64, 6, nullptr), 0);
    EXPECT_EQ(pakPackMemory(in.data(), 3, nullptr, 64, 6, nullptr), 0);
    EXPECT_EQ(pakPackMemory(nullptr, 0, out.data(), 64, 6, nullptr), 24);
}

struct BadContainer {
    const char* name;
    Bytes bytes;
    std::int64_t capacity;
};

TEST(PackContainerReader, RefusesMalformedContainers) {
    const Bytes good = pack(ascii("abcabcabcabc"), 9);
    auto with = [&](std::size_t at, std::int64_t v) {
        Bytes b = good;
        writeI64(b, at, v);
        return b;
    };
    Bytes badMagic = good;
    badMagic[3] = 0x63;
    Bytes corrupt = good;
    corrupt[29] = 0x40;  // offset low byte: distance 65 before the block start
    const BadContainer cases[] = {
        {"wrong magic", badMagic, 64},
        {"shorter than its header", Bytes(good.begin(), good.begin() + 23), 64},
        {"nothing at all", {}, 64},
        {"block size 0", with(16, 0), 64},
        {"negative block size", with(16, -8192), 64},
        {"negative unpacked size", with(8, -1), 64},
        {"unpacked size of 2^31", with(8, std::int64_t{1} << 31), std::int64_t{1} << 32},
        {"unpacked size beyond 32 bits, low bits 12", with(8, (std::int64_t{1} << 32) + 12), 64},
        {"capacity below the unpacked size", good, 11},
        {"negative capacity", good, -1},
        {"corrupt distance", corrupt, 64},
        {"more blocks announced than present", with(8, 13), 64},
    };
    for (const auto& c : cases) {
        Bytes out(64, 0xCC);
        EXPECT_EQ(pakUnpackMemory(c.bytes.data(), static_cast<std::int64_t>(c.bytes.size()), out.data(), c.capacity),
                  -1)
            << c.name;
    }
    Bytes out(12);
    EXPECT_EQ(pakUnpackMemory(nullptr, 30, out.data(), 12), -1);
    EXPECT_EQ(pakUnpackMemory(good.data(), 30, nullptr, 12), -1);
}

TEST(PackContainerReader, EveryTruncationFails) {
    const Bytes in = test::mixedData(3 * 8192 + 500, 4);
    const Bytes c = pack(in, 0);
    Bytes out(in.size());
    for (std::size_t cut = 0; cut < c.size(); cut += (cut < 64 || c.size() - cut < 64) ? 1 : 97) {
        // A copy of exactly `cut` bytes, so a read past it is a sanitizer error.
        const Bytes part(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(unpack(part, out), -1) << cut;
    }
    EXPECT_EQ(unpack(c, out), static_cast<std::int64_t>(in.size()));
}

TEST(PackContainerReader, AcceptsAnyPositiveBlockSize) {
    // A block size that no level gives still describes a valid container.
    Bytes c = hex("31 7A 6C 62 00 00 00 00 03 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 61 62 63");
    Bytes out(3);
    EXPECT_EQ(unpack(c, out), 3);
    EXPECT_EQ(out, ascii("abc"));
    c = hex("31 7A 6C 62 00 00 00 00 02 00 00 00 00 00 00 00 FF FF FF FF FF FF FF 7F 61 00 00 62");
    out.assign(2, 0);  // block size INT64_MAX: one block of everything
    EXPECT_EQ(unpack(c, out), 2);
    EXPECT_EQ(out, ascii("ab"));
}

}  // namespace
}  // namespace oct
