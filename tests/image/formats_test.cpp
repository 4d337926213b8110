#include "image/formats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace oct {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Formats, SignaturesNameTheFormat) {
    const struct {
        Bytes head;
        std::uint32_t format;
    } cases[] = {
        {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, kPngFormat},
        {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A}, 0},
        {{0xFF, 0xD8, 0xFF, 0xE0}, kJpegFormat},
        {{0xFF, 0xD8, 0x00}, 0},
        {{'G', 'I', 'F', '8', '9', 'a'}, kGifFormat},
        {{'G', 'I', 'F', '8', '7', 'a'}, kGifFormat},
        {{'G', 'I', 'F', '8', '8', 'a'}, 0},
        {{'I', 'I', 42, 0}, kTiffFormat},
        {{'M', 'M', 0, 42}, kTiffFormat},
        {{'I', 'I', 43, 0}, kBigTiffFormat},
        {{'M', 'M', 0, 43}, kBigTiffFormat},
        {{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P'}, kWebpFormat},
        {{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, 0},
        {{0xFF, 0x0A}, kJxlFormat},
        {{0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A}, kJxlFormat},
        {{0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0B}, 0},
        {{0, 0, 0, 0x10, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c', 0, 0, 0, 0}, kHeifFormat},
        // The brand may come among the compatible ones only; AVIF wins over mif1.
        {{0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'x', 'x', 'x', 'x', 0, 0, 0, 0, 'm', 'i', 'f', '1', 'm', 's', 'f', '1'},
         kHeifFormat},
        {{0, 0, 0, 0x18, 'f', 't', 'y', 'p', 'm', 'i', 'f', '1', 0, 0, 0, 0, 'm', 'i', 'a', 'f', 'a', 'v', 'i', 's'},
         kAvifFormat},
        {{0, 0, 0, 0x10, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0, 0, 0}, 0},  // a video
        {{0, 0, 0, 0x08, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c', 0, 0, 0, 0}, 0},  // a box too short for brands
        {{'B', 'M'}, kBmpFormat},
        {{'O', 'C', 'T', 'L'}, 0},
        {{}, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(imgSniffFormat(c.head), c.format) << imgFormatName(c.format);
    EXPECT_STREQ(imgFormatName(kWebpFormat), "WebP");
    EXPECT_STREQ(imgFormatName(kJxlFormat), "JPEG XL");
    EXPECT_EQ(imgFormatName(0x12345678), nullptr);
}

}  // namespace
}  // namespace oct
