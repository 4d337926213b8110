#include "image/byte_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace oct {
namespace {

TEST(ByteReader, ReadsLittleEndianAndFailsPastTheEnd) {
    const std::vector<std::uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0xFF, 0xFF, 0xFF};
    ByteReader in(bytes.data(), bytes.size());
    EXPECT_EQ(in.u8(), 0x01);
    EXPECT_EQ(in.u16(), 0x0302);
    EXPECT_EQ(in.u16(), 0x0504);
    EXPECT_TRUE(in.ok());
    // Three bytes left: a 32-bit read fails without moving, returns 0, and stays failed.
    EXPECT_EQ(in.u32(), 0u);
    EXPECT_FALSE(in.ok());
    EXPECT_EQ(in.position(), 5u);
    EXPECT_EQ(in.u8(), 0);
    EXPECT_TRUE(in.take(1).empty());
    EXPECT_TRUE(in.takeUpTo(1).empty());
}

TEST(ByteReader, SeekAndSkipStayInside) {
    const std::vector<std::uint8_t> bytes(8, 0xAB);
    {
        ByteReader in(bytes.data(), bytes.size());
        EXPECT_TRUE(in.seek(8));  // the end itself is a position
        EXPECT_EQ(in.remaining(), 0u);
        EXPECT_FALSE(in.seek(9));
        EXPECT_FALSE(in.ok());
    }
    {
        ByteReader in(bytes.data(), bytes.size());
        EXPECT_FALSE(in.skip(UINT64_MAX));
        EXPECT_EQ(in.position(), 0u);
        EXPECT_FALSE(in.ok());
    }
    {
        ByteReader in(nullptr, 100);  // no data means no bytes, whatever size is claimed
        EXPECT_EQ(in.size(), 0u);
        EXPECT_EQ(in.u8(), 0);
        EXPECT_FALSE(in.ok());
    }
}

}  // namespace
}  // namespace oct
