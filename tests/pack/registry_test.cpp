#include "pack/registry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "pack/bytes.h"

namespace oct {
namespace {

using test::ascii;
using test::Bytes;

std::int64_t blockSizeOf(const Bytes& container) {
    std::int64_t v;
    std::memcpy(&v, container.data() + 16, 8);
    return v;
}

TEST(PackRegistry, HoldsCodec4AfterStart) {
    const PackCodec* lz = pakFindCodec(4);
    ASSERT_NE(lz, nullptr);
    EXPECT_EQ(lz->id, 4u);
    EXPECT_EQ(pakFindCodec(-1), lz) << "the first registered codec";
    EXPECT_EQ(pakFindCodec(4 + 65536), lz) << "only the low 16 bits count";
    EXPECT_EQ(pakFindCodec(7), nullptr);
}

TEST(PackRegistry, SecondRegistrationOfAnIdChangesNothing) {
    const PackCodec* before = pakFindCodec(4);
    ASSERT_NE(before, nullptr);
    const PackPlugin* plugin = before->plugin;
    static const PackPlugin other{};
    EXPECT_TRUE(pakRegisterCodec(4, &other));
    EXPECT_TRUE(pakRegisterCodec(4 + 65536, &other));
    EXPECT_EQ(pakFindCodec(4), before);
    EXPECT_EQ(pakFindCodec(4)->plugin, plugin);
    pakStartCodecs();  // a second start leaves one codec 4 as well
    EXPECT_EQ(pakFindCodec(4), before);
}

TEST(PackRegistry, IsAFixedTableOf64) {
    static const PackPlugin plugin{};
    PackRegistry r;
    EXPECT_EQ(r.find(-1), nullptr);
    for (std::uint32_t id = 100; id < 164; ++id) EXPECT_TRUE(r.add(id, &plugin)) << id;
    EXPECT_EQ(r.count(), 64);
    EXPECT_FALSE(r.add(500, &plugin)) << "no room for a 65th codec";
    EXPECT_EQ(r.count(), 64);
    EXPECT_EQ(r.find(500), nullptr);
    EXPECT_TRUE(r.add(163, &plugin)) << "an id already there needs no room";
    EXPECT_EQ(r.find(-1)->id, 100u);
    EXPECT_FALSE(PackRegistry{}.add(1, nullptr));
}

TEST(PackRegistry, IdsAreComparedOnTheirLow16Bits) {
    static const PackPlugin a{}, b{};
    PackRegistry r;
    EXPECT_TRUE(r.add(0x10009, &a));
    EXPECT_TRUE(r.add(9, &b));  // the same codec as far as lookups go
    EXPECT_EQ(r.count(), 1);
    ASSERT_NE(r.find(9), nullptr);
    EXPECT_EQ(r.find(9)->plugin, &a);
    EXPECT_EQ(r.find(0x20009)->plugin, &a);
    EXPECT_EQ(r.find(0xFFFF), nullptr);
}

TEST(PakCompress, Codec4MakesThePackedContainer) {
    const Bytes in = ascii("abcabcabcabc");
    Bytes out(31);
    EXPECT_EQ(pakCompress(in.data(), 12, out.data(), 30, 4, 9), 0) << "must stay below the capacity";
    EXPECT_EQ(pakCompress(in.data(), 12, out.data(), 31, 4, 9), 30);
    out.resize(30);
    Bytes back(12);
    EXPECT_EQ(pakUncompress(out.data(), 30, back.data(), 12, 4), 12);
    EXPECT_EQ(back, in);
}

TEST(PakCompress, LevelIsLimitedTo0Through9) {
    struct Case {
        std::int32_t level;
        std::int64_t blockSize;
    };
    for (const auto& c : {Case{-5, 8192}, Case{0, 8192}, Case{6, 524288}, Case{8, 1048576}, Case{12, 1048576},
                          Case{INT32_MIN, 8192}, Case{INT32_MAX, 1048576}}) {
        Bytes out(64);
        ASSERT_EQ(pakCompress("abcabcabcabc", 12, out.data(), 64, 4, c.level), 30) << c.level;
        EXPECT_EQ(blockSizeOf(out), c.blockSize) << c.level;
    }
}

TEST(PakCompress, DefaultsUseTheFirstCodecAtLevel6) {
    Bytes a(64), b(64), c(64);
    ASSERT_EQ(pakCompressDefault("abcabcabcabc", 12, a.data(), 64), 30);
    ASSERT_EQ(pakCompressWith("abcabcabcabc", 12, b.data(), 64, 4), 30);
    ASSERT_EQ(pakCompress("abcabcabcabc", 12, c.data(), 64, 4, 6), 30);
    EXPECT_EQ(a, c);
    EXPECT_EQ(b, c);
    EXPECT_EQ(blockSizeOf(a), 524288);
    Bytes back(12);
    EXPECT_EQ(pakUncompressDefault(a.data(), 30, back.data(), 12), 12);
    EXPECT_EQ(back, ascii("abcabcabcabc"));
}

TEST(PakCompress, UnknownCodecFails) {
    Bytes out(64, 0xCC);
    EXPECT_EQ(pakCompress("abcabcabcabc", 12, out.data(), 64, 7, 6), 0);
    EXPECT_EQ(pakCompressWith("abcabcabcabc", 12, out.data(), 64, 7), 0);
    EXPECT_EQ(pakUncompress(out.data(), 64, out.data(), 64, 7), -1);
    EXPECT_EQ(out, Bytes(64, 0xCC));
}

TEST(PakCompress, SizesAreNeverCutTo32Bits) {
    const Bytes in = ascii("abcabcabcabc");
    Bytes out(64, 0xCC);
    // 2^32 + 12 would be 12 if its low 32 bits were taken: the call must
    // refuse it before reading a byte (the buffer has only 12).
    EXPECT_EQ(pakCompress(in.data(), (std::int64_t{1} << 32) + 12, out.data(), 64, 4, 9), 0);
    EXPECT_EQ(pakCompress(in.data(), std::int64_t{1} << 31, out.data(), 64, 4, 9), 0);
    EXPECT_EQ(pakCompress(in.data(), -1, out.data(), 64, 4, 9), 0);
    EXPECT_EQ(out, Bytes(64, 0xCC));
    // A capacity past the 32-bit range is room enough, not its low bits (10).
    EXPECT_EQ(pakCompress(in.data(), 12, out.data(), (std::int64_t{1} << 32) + 10, 4, 9), 30);
    EXPECT_EQ(pakCompress(in.data(), 12, out.data(), -1, 4, 9), 0);
}

TEST(PakUncompress, HonoursTheSourceSize) {
    Bytes c(30);
    ASSERT_EQ(pakCompress("abcabcabcabc", 12, c.data(), 31, 4, 9), 30);
    Bytes out(12);
    const Bytes cut(c.begin(), c.begin() + 29);
    EXPECT_EQ(pakUncompress(cut.data(), 29, out.data(), 12, 4), -1);
    EXPECT_EQ(pakUncompress(c.data(), 30, out.data(), 11, 4), -1) << "capacity below the unpacked size";
    EXPECT_EQ(pakUncompress(c.data(), 30, out.data(), 12, 4), 12);
}

TEST(PakCompress, LevelFileCallsNeedAShrinkingContainer) {
    // As the level file calls it: capacity equal to the source size.
    for (std::int64_t n : {1, 24, 28}) {
        const Bytes zeros(static_cast<std::size_t>(n), 0);
        Bytes out(static_cast<std::size_t>(n));
        EXPECT_EQ(pakCompress(zeros.data(), n, out.data(), n, 4, 9), 0) << n;
    }
    const Bytes zeros(29, 0);
    Bytes out(29);
    EXPECT_EQ(pakCompress(zeros.data(), 29, out.data(), 29, 4, 9), 28);
}

TEST(PackPlugin, ArchiveSlotsReportFailureWithoutAnArchive) {
    const PackPlugin& p = *pakFindCodec(4)->plugin;
    EXPECT_EQ(p.addFile(nullptr, u"a", u"b"), 0);
    EXPECT_EQ(p.addMemory(nullptr, "a", 1, u"a"), 0);
    EXPECT_EQ(p.listEntries(nullptr), 0);
    EXPECT_EQ(p.entrySize(nullptr, 1), -1);
    EXPECT_EQ(p.entryType(nullptr), -1);
    EXPECT_EQ(p.nextEntry(nullptr), 0);
    EXPECT_EQ(p.entryName(nullptr, 0), nullptr);
    EXPECT_EQ(p.extractFile(nullptr, u"a", u""), -1);
    EXPECT_EQ(p.extractMemory(nullptr, nullptr, 0, u""), -1);
    EXPECT_EQ(p.reserved(), 0);
    p.closeArchive(nullptr);
}

}  // namespace
}  // namespace oct
