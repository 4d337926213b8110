// Decoded rows brought to 8-bit BGRA and stored in the caller's rows.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/picture_pixels.h"

namespace oct::plat {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct LayoutCase {
    const char* name;
    PixelLayout layout;
    Bytes in;        // two pixels
    Bytes expected;  // their BGRA
};

TEST(PicturePixels, EveryLayoutGivesStraightBgra) {
    // CMYK expectations are Pillow's own conversions of the same samples.
    const LayoutCase cases[] = {
        {"gray16 keeps the high byte", PixelLayout::Gray16, {0xff, 0x12, 0x00, 0xab}, {0x12, 0x12, 0x12, 255, 0xab, 0xab, 0xab, 255}},
        {"rgb48", PixelLayout::Rgb48, {0, 1, 0, 2, 0, 3, 9, 4, 9, 5, 9, 6}, {3, 2, 1, 255, 6, 5, 4, 255}},
        {"bgr48", PixelLayout::Bgr48, {0, 1, 0, 2, 0, 3, 9, 4, 9, 5, 9, 6}, {1, 2, 3, 255, 4, 5, 6, 255}},
        {"rgba64", PixelLayout::Rgba64, {0, 1, 0, 2, 0, 3, 0xff, 0, 0, 4, 0, 5, 0, 6, 0, 0x80}, {3, 2, 1, 0, 6, 5, 4, 0x80}},
        {"bgra64", PixelLayout::Bgra64, {0, 1, 0, 2, 0, 3, 0, 7, 0, 4, 0, 5, 0, 6, 0, 8}, {1, 2, 3, 7, 4, 5, 6, 8}},
        {"bgra32 as it is", PixelLayout::Bgra32, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"cmyk32 as Pillow", PixelLayout::Cmyk32, {200, 100, 50, 100, 128, 64, 32, 16}, {125, 94, 33, 255, 209, 179, 119, 255}},
        {"cmyk32 extremes", PixelLayout::Cmyk32, {0, 0, 0, 0, 10, 20, 30, 255}, {255, 255, 255, 255, 0, 0, 0, 255}},
        {"cmyk64 high bytes", PixelLayout::Cmyk64, {9, 200, 9, 100, 9, 50, 9, 100, 0, 255, 0, 0, 0, 0, 0, 0},
         {125, 94, 33, 255, 255, 255, 0, 255}},
    };
    for (const LayoutCase& c : cases) {
        ASSERT_EQ(c.in.size(), 2 * pixelLayoutBytes(c.layout)) << c.name;
        Bytes out(8, 0xee);
        pixelsToBgra(c.layout, c.in.data(), out.data(), 2);
        EXPECT_EQ(out, c.expected) << c.name;
    }
}

TEST(PicturePixels, SwapTurnsHighByteFirstSamplesAround) {
    Bytes b{0x12, 0x34, 0x56, 0x78, 0x9a};
    pixelsSwap16(b.data(), b.size());
    EXPECT_EQ(b, (Bytes{0x34, 0x12, 0x78, 0x56, 0x9a}));
    EXPECT_TRUE(pixelLayoutWide(PixelLayout::Cmyk64));
    EXPECT_FALSE(pixelLayoutWide(PixelLayout::Cmyk32));
}

TEST(PicturePixels, StoreWritesOnlyItsPixels) {
    const Bytes bgra{1, 2, 3, 0, 4, 5, 6, 255};
    struct Case {
        std::int32_t bytesPerPixel;
        bool clearTransparent;
        Bytes expected;  // two pixels, then the canary
    };
    const Case cases[] = {
        {3, false, {1, 2, 3, 4, 5, 6, 0xcc}},
        {4, false, {1, 2, 3, 0, 4, 5, 6, 255, 0xcc}},
        {3, true, {0, 0, 0, 4, 5, 6, 0xcc}},
        {4, true, {0, 0, 0, 0, 4, 5, 6, 255, 0xcc}},
    };
    for (const Case& c : cases) {
        Bytes out(c.expected.size(), 0xcc);
        ASSERT_TRUE(pixelsStore(bgra.data(), out.data(), 2, c.bytesPerPixel, c.clearTransparent));
        EXPECT_EQ(out, c.expected) << c.bytesPerPixel << " " << c.clearTransparent;
    }
    Bytes out(16, 0xcc);
    for (std::int32_t bad : {0, 1, 2, 5, 8}) EXPECT_FALSE(pixelsStore(bgra.data(), out.data(), 2, bad, false));
    EXPECT_EQ(out, Bytes(16, 0xcc));
}

}  // namespace
}  // namespace oct::plat
