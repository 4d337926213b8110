#include "image/bmp_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "image/image.h"
#include "image/loader.h"
#include "image_bytes.h"

namespace oct {
namespace {

using octtest::BmpFields;
using octtest::Bytes;
using octtest::colours;
using octtest::makeBmp;
using octtest::Rgb;

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};

// Colour table entries for colours(): blue in the low byte, red in the third.
constexpr std::uint32_t kBlue = 0x0000FF;
constexpr std::uint32_t kYellow = 0xFFFF00;

Rgb ramp(int i) {
    return {static_cast<std::uint8_t>(10 * i), static_cast<std::uint8_t>(20 * i), static_cast<std::uint8_t>(200 - i)};
}

// A table of `count` entries whose entry i is blue 10 i, green 20 i, red 200 - i.
Bytes rampTable(int count) {
    Bytes t;
    for (int i = 0; i < count; ++i) {
        const Rgb c = ramp(i);
        t.insert(t.end(), {c.b, c.g, c.r, 0});
    }
    return t;
}

struct Loaded {
    std::int64_t id = 0;
    std::vector<Rgb> pixels;  // top row first
};

Loaded load(const Bytes& file) {
    Loaded out;
    out.id = imgLoadImageMemory(AnyId, file.data(), static_cast<std::int64_t>(file.size()));
    if (out.id) out.pixels = octtest::pixelsOf(out.id);
    return out;
}

struct PixelCase {
    const char* name;
    BmpFields fields;
    std::int32_t width, height;  // of the image
    std::vector<Rgb> expected;   // top row first
};

TEST(BmpReader, ConvertsEveryLayoutToUprightRgb24) {
    const Rgb t5 = ramp(5);
    const PixelCase cases[] = {
        // Bottom row 1 0 1, top row 0 1 1; the blue/yellow table is not read.
        {"1-bit ignores its colour table",
         {3, 2, 1, 0, colours({kBlue, kYellow}), {0xA0, 0, 0, 0, 0x60, 0, 0, 0}}, 3, 2,
         {kBlack, kWhite, kWhite, kWhite, kBlack, kWhite}},
        // Width 5: three bytes of nibbles and one fill byte per row.
        {"4-bit width 5",
         {5, 2, 4, 0, rampTable(16), {0x12, 0x34, 0x5F, 0xEE, 0x54, 0x32, 0x10, 0xEE}}, 5, 2,
         {ramp(5), ramp(4), ramp(3), ramp(2), ramp(1), ramp(1), ramp(2), ramp(3), ramp(4), ramp(5)}},
        {"8-bit", {2, 1, 8, 0, rampTable(16), {7, 15, 0, 0}}, 2, 1, {ramp(7), ramp(15)}},
        // 5-5-5: 0x7FFF white-ish, 0x0443 = r 1, g 2, b 3; bit 15 ignored.
        {"16-bit 5-5-5", {3, 1, 16, 0, {}, {0xFF, 0x7F, 0x43, 0x04, 0x00, 0x80, 0, 0}}, 3, 1,
         {{248, 248, 248}, {24, 16, 8}, kBlack}},
        // Bit fields are always 5-6-5, even when the masks say 5-5-5.
        {"16-bit bitfields as 5-6-5",
         {2, 1, 16, 3, {0x00, 0x7C, 0, 0, 0xE0, 0x03, 0, 0, 0x1F, 0, 0, 0}, {0x43, 0x04, 0xFF, 0xFF}}, 2, 1,
         {{24, 136, 0}, {248, 252, 248}}},
        // Width 1: rows of 3 bytes and 1 fill byte.
        {"24-bit width 1", {1, 2, 24, 0, {}, {1, 2, 3, 0xEE, 4, 5, 6, 0xEE}}, 1, 2, {{4, 5, 6}, {1, 2, 3}}},
        {"32-bit drops alpha", {2, 1, 32, 0, {}, {1, 2, 3, 0x80, 4, 5, 6, 0xFF}}, 2, 1, {{1, 2, 3}, {4, 5, 6}}},
        // Negative height: the first stored row is the top row.
        {"top-down 24-bit", {1, -2, 24, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0}}, 1, 2, {{1, 2, 3}, {4, 5, 6}}},
        {"top-down 8-bit", {2, -2, 8, 0, rampTable(16), {1, 2, 0, 0, 3, 4, 0, 0}}, 2, 2,
         {ramp(1), ramp(2), ramp(3), ramp(4)}},
        // Three pixels of colour 5 at the start of stored row 0, then the end.
        {"RLE8 run", {4, 2, 8, 1, rampTable(16), {0x03, 0x05, 0x00, 0x00, 0x00, 0x01}}, 4, 2,
         {kBlack, kBlack, kBlack, kBlack, t5, t5, t5, kBlack}},
        // Delta to (1, 1), an absolute run of three padded to four bytes, end of row, end.
        {"RLE8 delta and absolute run",
         {4, 3, 8, 1, rampTable(16), {0, 2, 1, 1, 0, 3, 7, 8, 9, 0, 0, 0, 0, 1}}, 4, 3,
         {kBlack, kBlack, kBlack, kBlack, kBlack, ramp(7), ramp(8), ramp(9), kBlack, kBlack, kBlack, kBlack}},
        // Runs past the row end and deltas out of the picture are dropped; decoding goes on.
        {"RLE8 drops what leaves the picture",
         {2, 2, 8, 1, rampTable(16), {5, 1, 0, 2, 5, 0, 1, 2, 0, 0, 1, 3, 0, 2, 0, 9, 2, 4, 0, 1}}, 2, 2,
         {ramp(3), kBlack, ramp(1), ramp(1)}},
        {"RLE4 stays black", {4, 2, 4, 2, rampTable(16), {0x04, 0x12, 0x00, 0x00, 0x00, 0x01}}, 4, 2,
         std::vector<Rgb>(8, kBlack)},
        {"16-bit with RLE compression stays black", {1, 1, 16, 1, {}, {0xFF, 0xFF, 0, 0}}, 1, 1, {kBlack}},
        {"2-bit stays black", {4, 1, 2, 0, rampTable(4), {0xFF, 0, 0, 0}}, 4, 1, std::vector<Rgb>(4, kBlack)},
    };
    for (const PixelCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded image = load(makeBmp(c.fields));
        ASSERT_NE(image.id, 0);
        const ImageObject* record = imgGetImage(image.id);
        EXPECT_EQ(record->width, c.width);
        EXPECT_EQ(record->height, c.height);
        EXPECT_EQ(record->depth, 24);
        EXPECT_EQ(record->sourceDepth, c.fields.bitCount);
        EXPECT_EQ(record->format, kBmpDecoderId);
        ASSERT_EQ(image.pixels.size(), c.expected.size());
        for (std::size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(image.pixels[i], c.expected[i]) << "pixel " << i << " (row " << i / c.width << " from the top)";
        imgFreeImage(image.id);
    }
}

TEST(BmpReader, ReadsTheCoreHeaderWithThreeByteColours) {
    // 12-byte core header: 16-bit width and height, 3-byte colour entries.
    Bytes file{'B', 'M'};
    octtest::put32(file, 0);
    octtest::put32(file, 0);
    octtest::put32(file, 14 + 12 + 3 * 3);
    octtest::put32(file, 12);
    octtest::put16(file, 2);  // width
    octtest::put16(file, 1);  // height
    octtest::put16(file, 1);
    octtest::put16(file, 8);
    file.insert(file.end(), {10, 20, 30, 40, 50, 60, 70, 80, 90});  // entries 0, 1, 2
    file.insert(file.end(), {2, 1, 0, 0});
    const Loaded image = load(file);
    ASSERT_NE(image.id, 0);
    EXPECT_EQ(imgGetImage(image.id)->width, 2);
    EXPECT_EQ(imgGetImage(image.id)->sourceDepth, 8);
    ASSERT_EQ(image.pixels.size(), 2u);
    EXPECT_EQ(image.pixels[0], (Rgb{70, 80, 90}));
    EXPECT_EQ(image.pixels[1], (Rgb{40, 50, 60}));
    imgFreeImage(image.id);
}

TEST(BmpReader, NeverReadsPastTheData) {
    struct Case {
        const char* name;
        Bytes file;
        std::vector<Rgb> expected;
    };
    // 24-bit, 2 × 2: stored rows of 8 bytes; the data ends after the first pixel of the second row.
    Bytes shortRows = makeBmp({2, 2, 24, 0, {}, {1, 1, 1, 2, 2, 2, 0, 0, 3, 3, 3, 4, 4, 4, 0, 0}});
    shortRows.resize(shortRows.size() - 5);
    // 8-bit with a two-entry table: index 200 lies beyond the data and reads black.
    const Bytes farIndex = makeBmp({2, 1, 8, 0, colours({0x010203, 0x040506}), {1, 200, 0, 0}});
    // Pixel data offset beyond the end.
    Bytes farPixels = makeBmp({1, 1, 24, 0, {}, {9, 9, 9, 0}});
    farPixels[10] = 0xF0, farPixels[11] = 0xFF, farPixels[12] = 0xFF, farPixels[13] = 0xFF;
    // RLE8 stream that stops in the middle of an absolute run, without an end code.
    const Bytes cutRun = makeBmp({4, 1, 8, 1, rampTable(16), {0, 4, 1, 2}});
    // The colour table runs off the end (the header claims a 1000-byte header).
    Bytes farTable = makeBmp({1, 1, 8, 0, {}, {3, 0, 0, 0}});
    farTable[14] = 0xE8, farTable[15] = 0x03;
    const Case cases[] = {
        {"rows missing at the end stay black", shortRows, {{3, 3, 3}, kBlack, {1, 1, 1}, {2, 2, 2}}},
        {"colour index past the data", farIndex, {{6, 5, 4}, kBlack}},
        {"pixel data past the end", farPixels, {kBlack}},
        {"RLE8 absolute run cut short", cutRun, {ramp(1), ramp(2), kBlack, kBlack}},
        {"colour table past the end", farTable, {kBlack}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes exact = c.file;  // copied to a block of exactly its size for the sanitizers
        const Loaded image = load(exact);
        ASSERT_NE(image.id, 0);
        EXPECT_EQ(image.pixels, c.expected);
        imgFreeImage(image.id);
    }
}

TEST(BmpReader, CheckRefusesWhatCannotBecomeAnImage) {
    auto withField = [](BmpFields fields, std::size_t at, std::vector<std::uint8_t> value) {
        Bytes b = makeBmp(fields);
        for (std::size_t i = 0; i < value.size(); ++i) b[at + i] = value[i];
        return b;
    };
    const BmpFields plain{4, 4, 24, 0, {}, Bytes(64, 0x55)};
    Bytes truncated = makeBmp(plain);
    truncated.resize(29);  // ends inside the bit count
    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        {"shorter than the file header", Bytes{'B', 'M', 0, 0, 0, 0}},
        {"header ends before the bit count", truncated},
        {"wrong signature", withField(plain, 0, {'B', 'A'})},
        {"reserved word set", withField(plain, 6, {1})},
        {"second reserved word set", withField(plain, 8, {0, 1})},
        {"header size 8", withField(plain, 14, {8})},
        {"header size 13", withField(plain, 14, {13})},
        {"width 0", makeBmp({0, 4, 24, 0, {}, {}})},
        {"negative width", makeBmp({-4, 4, 24, 0, {}, Bytes(64)})},
        {"height 0", makeBmp({4, 0, 24, 0, {}, {}})},
        {"height INT32_MIN", makeBmp({4, INT32_MIN, 24, 0, {}, {}})},
        {"bit count 0", makeBmp({4, 4, 0, 0, {}, Bytes(64)})},
        {"bit count 33", makeBmp({4, 4, 33, 0, {}, Bytes(64)})},
        {"bit count 30000", makeBmp({4, 4, 30000, 0, {}, Bytes(64)})},
        {"3,000,000 x 2,000,000", makeBmp({3000000, 2000000, 24, 0, {}, Bytes(64)})},
        // 98,304 row bytes × 21,846 rows is just past 2^31 - 1.
        {"bitmap of 2^31 bytes", makeBmp({32768, 21846, 24, 0, {}, Bytes(64)})},
        {"width beyond int32 row bytes", makeBmp({INT32_MAX, 1, 24, 0, {}, Bytes(64)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodeContext context{};
        context.data = c.file.data();
        context.dataSize = static_cast<std::int32_t>(c.file.size());
        EXPECT_EQ(imgBmpCheck(context), 0);
        EXPECT_EQ(imgLoadImageMemory(AnyId, c.file.data(), static_cast<std::int64_t>(c.file.size())), 0);
    }
}

TEST(BmpReader, CheckAcceptsTheLargestBitmapAndShortHeaders) {
    struct Case {
        const char* name;
        Bytes file;
        std::int32_t width, height, sourceDepth;
    };
    // 98,304 × 21,845 = 2,147,450,880 bytes: still below 2^31.
    const Bytes largest = makeBmp({32768, 21845, 24, 0, {}, Bytes(64)});
    // An OS/2 v2 header of 16 bytes ends at the bit count: compression reads as 0.
    Bytes shortHeader{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 30, 0, 0, 0, 16, 0, 0, 0, 3, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF,
                      1, 0, 16, 0};
    const Case cases[] = {
        {"largest bitmap", largest, 32768, 21845, 24},
        {"top-down height turns positive", makeBmp({5, -7, 8, 0, {}, {}}), 5, 7, 8},
        {"16-byte header", shortHeader, 3, 2, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodeContext context{};
        context.data = c.file.data();
        context.dataSize = static_cast<std::int32_t>(c.file.size());
        ASSERT_EQ(imgBmpCheck(context), 1);
        EXPECT_EQ(context.width, c.width);
        EXPECT_EQ(context.height, c.height);
        EXPECT_EQ(context.depth, 24);
        EXPECT_EQ(context.sourceDepth, c.sourceDepth);
        imgBmpCleanup(context);
    }
}

TEST(BmpReader, WritesTopDownTargetsWithoutTheBottomUpFlag) {
    // A bottom-up file (bottom row 1,2,3, top row 4,5,6) into a top-down buffer.
    const Bytes file = makeBmp({1, 2, 24, 0, {}, {1, 2, 3, 0, 4, 5, 6, 0}});
    std::vector<std::uint8_t> bits(8, 0xCC);
    ASSERT_TRUE(imgBmpToRgb24(file, bits.data(), 4, 0));
    EXPECT_EQ(bits, (std::vector<std::uint8_t>{4, 5, 6, 0xCC, 1, 2, 3, 0xCC}));
    // Fill bytes of the target are never written.
    ASSERT_TRUE(imgBmpToRgb24(file, bits.data(), 4, kDecodeBottomUp));
    EXPECT_EQ(bits, (std::vector<std::uint8_t>{1, 2, 3, 0xCC, 4, 5, 6, 0xCC}));
}

}  // namespace
}  // namespace oct
