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
constexpr Rgb kBlueRgb{255, 0, 0};
constexpr Rgb kYellowRgb{0, 255, 255};

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
        // Bottom row 1 0 1, top row 0 1 1, indexing a blue/yellow table.
        {"1-bit indexes its colour table",
         {3, 2, 1, 0, colours({kBlue, kYellow}), {0xA0, 0, 0, 0, 0x60, 0, 0, 0}}, 3, 2,
         {kBlueRgb, kYellowRgb, kYellowRgb, kYellowRgb, kBlueRgb, kYellowRgb}},
        // 00 01 10 11, then index 2 again: the highest bits first.
        {"2-bit", {5, 1, 2, 0, rampTable(4), {0x1B, 0x80, 0, 0}}, 5, 1, {ramp(0), ramp(1), ramp(2), ramp(3), ramp(2)}},
        // A two-entry table: indexes 2 and 3 lie in the pixel rows, past the end of the data.
        {"2-bit index past the table", {2, 1, 2, 0, colours({0x010203, 0x040506}), {0xB0}}, 2, 1, {kBlack, kBlack}},
        // Width 5: three bytes of nibbles and one fill byte per row.
        {"4-bit width 5",
         {5, 2, 4, 0, rampTable(16), {0x12, 0x34, 0x5F, 0xEE, 0x54, 0x32, 0x10, 0xEE}}, 5, 2,
         {ramp(5), ramp(4), ramp(3), ramp(2), ramp(1), ramp(1), ramp(2), ramp(3), ramp(4), ramp(5)}},
        {"8-bit", {2, 1, 8, 0, rampTable(16), {7, 15, 0, 0}}, 2, 1, {ramp(7), ramp(15)}},
        // 5-5-5: 0x7FFF white-ish, 0x0443 = r 1, g 2, b 3; bit 15 ignored.
        {"16-bit 5-5-5", {3, 1, 16, 0, {}, {0xFF, 0x7F, 0x43, 0x04, 0x00, 0x80, 0, 0}}, 3, 1,
         {{248, 248, 248}, {24, 16, 8}, kBlack}},
        // Bit fields with 5-5-5 masks read as 5-5-5.
        {"16-bit bit fields 5-5-5",
         {2, 1, 16, 3, {0x00, 0x7C, 0, 0, 0xE0, 0x03, 0, 0, 0x1F, 0, 0, 0}, {0x43, 0x04, 0xFF, 0xFF}}, 2, 1,
         {{24, 16, 8}, {248, 248, 248}}},
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
        {"16-bit with RLE compression stays black", {1, 1, 16, 1, {}, {0xFF, 0xFF, 0, 0}}, 1, 1, {kBlack}},
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
        EXPECT_EQ(record->format, kBmpFormat);
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


// Stored rows of `width` pixels as decoded by imgBmpToRgb24 into a bottom-up
// buffer of exactly 3 × width bytes a row; 0xCC where nothing was written.
std::vector<std::uint8_t> decodeRaw(const Bytes& file, std::int32_t width, std::int32_t rows) {
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(width) * 3 * rows, 0xCC);
    EXPECT_TRUE(imgBmpToRgb24(file, bits.data(), width * 3, kDecodeBottomUp));
    return bits;
}

Rgb pixelOf(const std::vector<std::uint8_t>& bits, std::size_t i) { return {bits[3 * i], bits[3 * i + 1], bits[3 * i + 2]}; }

TEST(BmpReader, DecodesRle4) {
    // A 6 × 3 picture over the ramp table. Expected indexes are stored row 0
    // (the bottom row) first; -1 is a pixel that no code reaches.
    struct Case {
        const char* name;
        Bytes stream;
        std::vector<int> stored;
    };
    constexpr int _ = -1;
    const Case cases[] = {
        {"run alternates its two indexes", {0x05, 0x12, 0, 1}, {1, 2, 1, 2, 1, _, _, _, _, _, _, _, _, _, _, _, _, _}},
        {"absolute run of four nibbles", {0, 4, 0x34, 0x56, 0, 1}, {3, 4, 5, 6, _, _, _, _, _, _, _, _, _, _, _, _, _, _}},
        // Three nibbles fill two bytes: no fill byte before the next code.
        {"absolute run of three nibbles", {0, 3, 0x9A, 0xB0, 0x01, 0xC0, 0, 1},
         {9, 10, 11, 12, _, _, _, _, _, _, _, _, _, _, _, _, _, _}},
        // Five nibbles fill three bytes, padded to four; the run of two then
        // leaves the row at its second pixel, which is dropped.
        {"absolute run of five nibbles is padded", {0, 5, 0x12, 0x34, 0x50, 0x00, 0x02, 0x77, 0, 1},
         {1, 2, 3, 4, 5, 7, _, _, _, _, _, _, _, _, _, _, _, _}},
        {"end of row and delta", {0x02, 0x11, 0, 0, 0, 2, 2, 1, 0x01, 0x30, 0, 1},
         {1, 1, _, _, _, _, _, _, _, _, _, _, _, _, 3, _, _, _}},
        // A run past the row end, a delta past it, a delta above the top row:
        // all dropped, and nothing after the last can land in the picture.
        {"what leaves the picture is dropped", {0x08, 0x12, 0, 0, 0, 2, 9, 0, 0x01, 0x40, 0, 2, 0, 5, 0x01, 0x50, 0, 1},
         {1, 2, 1, 2, 1, 2, _, _, _, _, _, _, _, _, _, _, _, _}},
        {"stream ends inside an absolute run", {0, 6, 0x12}, {1, 2, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _}},
        {"stream ends inside a delta", {0x02, 0x33, 0, 2, 1}, {3, 3, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _}},
        {"stream without an end code", {0x03, 0x44}, {4, 4, 4, _, _, _, _, _, _, _, _, _, _, _, _, _, _, _}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bits = decodeRaw(makeBmp({6, 3, 4, 2, rampTable(16), c.stream}), 6, 3);
        for (std::size_t i = 0; i < c.stored.size(); ++i) {
            const Rgb want = c.stored[i] < 0 ? Rgb{0xCC, 0xCC, 0xCC} : ramp(c.stored[i]);
            EXPECT_EQ(pixelOf(bits, i), want) << "pixel " << i % 6 << " of stored row " << i / 6;
        }
    }
    // Through the loader, pixels no code reaches are black.
    const Loaded image = load(makeBmp({2, 1, 4, 2, rampTable(16), {0x01, 0x50, 0, 1}}));
    ASSERT_NE(image.id, 0);
    EXPECT_EQ(image.pixels, (std::vector<Rgb>{ramp(5), kBlack}));
    imgFreeImage(image.id);
}

// The 12 mask bytes (red, green, blue) that follow a 40-byte header.
Bytes masks(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    Bytes b;
    for (std::uint32_t m : {red, green, blue}) octtest::put32(b, m);
    return b;
}

Bytes pixels16(std::initializer_list<std::uint32_t> values) {
    Bytes b;
    for (std::uint32_t v : values) octtest::put16(b, v);
    while (b.size() % 4) b.push_back(0);
    return b;
}

Bytes pixels32(std::initializer_list<std::uint32_t> values) {
    Bytes b;
    for (std::uint32_t v : values) octtest::put32(b, v);
    return b;
}

TEST(BmpReader, ReadsBitFieldMasks) {
    struct Case {
        const char* name;
        Bytes file;
        std::vector<Rgb> expected;
    };
    // Red 1 bit (15), green 4 bits (11-14), blue 10 bits (0-9); bit 10 unused.
    const Bytes masks1410 = masks(0x8000, 0x7800, 0x03FF);
    // The same 5-6-5 file with its masks inside a 124-byte header.
    Bytes inHeader = makeBmp({1, 1, 16, 3, masks(0xF800, 0x07E0, 0x001F), pixels16({0xFFFF})});
    inHeader.insert(inHeader.begin() + 66, 124 - 52, 0);
    inHeader[14] = 124;
    inHeader[10] += 124 - 52;
    // BI_ALPHABITFIELDS: an alpha mask follows the three, and is not used.
    Bytes alphaMasks = masks(0x0000FF00, 0x00FF0000, 0xFF000000);
    octtest::put32(alphaMasks, 0x000000FF);
    const Case cases[] = {
        {"masks of 1, 4 and 10 bits", makeBmp({3, 1, 16, 3, masks1410, pixels16({0xFFFF, 0x8A01, 0x4155})}),
         {{255, 240, 128}, {128, 16, 128}, {85, 128, 0}}},
        {"a zero mask reads 0", makeBmp({1, 1, 16, 3, masks(0, 0x07E0, 0x001F), pixels16({0xFFFF})}), {{248, 252, 0}}},
        {"mask bits beyond 16 are dropped", makeBmp({1, 1, 16, 3, masks(0x1F000, 0x0F00, 0x00F0), pixels16({0xF0F0})}),
         {{240, 0, 240}}},
        {"overlapping masks each read their bits", makeBmp({1, 1, 16, 3, masks(0xFF, 0xFF, 0xFF), pixels16({0x80})}),
         {{128, 128, 128}}},
        {"masks inside a v5 header", inHeader, {{248, 252, 248}}},
        {"32-bit 10-10-10", makeBmp({1, 1, 32, 3, masks(0x3FF00000, 0x000FFC00, 0x000003FF), pixels32({0xFFF80001})}),
         {{0, 128, 255}}},
        {"32-bit red in the top byte", makeBmp({1, 1, 32, 3, masks(0xFF000000, 0x00000FF0, 0x00FF0000), pixels32({0x11223344})}),
         {{0x22, 0x34, 0x11}}},
        {"BI_ALPHABITFIELDS", makeBmp({1, 1, 32, 6, alphaMasks, pixels32({0x04030201})}), {{4, 3, 2}}},
        {"16-bit bit fields without their masks stay black", makeBmp({1, 1, 16, 3, {}, {}}), {kBlack}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Loaded image = load(c.file);
        ASSERT_NE(image.id, 0);
        EXPECT_EQ(image.pixels, c.expected);
        imgFreeImage(image.id);
    }
    // A mask whose bits are not one run cannot say what a channel's value is.
    for (const Bytes& file : {makeBmp({1, 1, 16, 3, masks(0xF801, 0x07E0, 0x001E), pixels16({0})}),
                              makeBmp({1, 1, 32, 6, masks(0xFF0000, 0xFF00, 0xF0F), pixels32({0})})})
        EXPECT_EQ(imgLoadImageMemory(AnyId, file.data(), static_cast<std::int64_t>(file.size())), 0);
    // Masks are only read for 16 and 32 bits: an 8-bit file with compression
    // 3 and any bytes after its header still loads.
    const Bytes eightBit = makeBmp({1, 1, 8, 3, masks(0x0505, 0x0505, 0x0505), {0, 0, 0, 0}});
    const std::int64_t id = imgLoadImageMemory(AnyId, eightBit.data(), static_cast<std::int64_t>(eightBit.size()));
    EXPECT_NE(id, 0);
    imgFreeImage(id);
}

// Files whose data agrees with the fixed layouts decoded before bit-field
// masks and colour tables of 1-bit files were read keep exactly those bytes.
TEST(BmpReader, KeepsTheBytesOfTheFixedLayouts) {
    Bytes every16;  // a 256 × 256 picture holding every 16-bit value once
    for (std::uint32_t v = 0; v < 65536; ++v) octtest::put16(every16, v);
    struct Case16 {
        const char* name;
        std::uint32_t compression;
        Bytes masks;
        Rgb (*fixed)(std::uint32_t v);
    };
    const Case16 cases16[] = {
        {"16-bit RGB, 5-5-5", 0, {},
         [](std::uint32_t v) {
             return Rgb{static_cast<std::uint8_t>(v * 8), static_cast<std::uint8_t>((v >> 5) * 8),
                        static_cast<std::uint8_t>((v >> 10) * 8)};
         }},
        {"16-bit bit fields, 5-6-5", 3, masks(0xF800, 0x07E0, 0x001F),
         [](std::uint32_t v) {
             return Rgb{static_cast<std::uint8_t>(v * 8), static_cast<std::uint8_t>((v >> 5) * 4),
                        static_cast<std::uint8_t>((v >> 11) * 8)};
         }},
    };
    for (const Case16& c : cases16) {
        SCOPED_TRACE(c.name);
        const auto bits = decodeRaw(makeBmp({256, 256, 16, c.compression, c.masks, every16}), 256, 256);
        int wrong = 0;
        for (std::uint32_t v = 0; v < 65536; ++v) wrong += pixelOf(bits, v) != c.fixed(v);
        EXPECT_EQ(wrong, 0);
    }

    // 32 bits: blue, green, red copied whether the file says BI_RGB or gives
    // the blue-green-red masks.
    Bytes mixed32;
    for (std::uint32_t i = 0; i < 64; ++i) octtest::put32(mixed32, i * 0x9E3779B9u);
    for (const std::uint32_t compression : {0u, 3u}) {
        SCOPED_TRACE(compression);
        const Bytes table = compression ? masks(0xFF0000, 0xFF00, 0xFF) : Bytes{};
        const auto bits = decodeRaw(makeBmp({64, 1, 32, compression, table, mixed32}), 64, 1);
        for (std::size_t i = 0; i < 64; ++i)
            EXPECT_EQ(pixelOf(bits, i), (Rgb{mixed32[4 * i], mixed32[4 * i + 1], mixed32[4 * i + 2]}));
    }

    // 1 bit with a black-then-white table: 0 black, 1 white.
    Bytes every8;
    for (std::uint32_t v = 0; v < 256; ++v) every8.push_back(static_cast<std::uint8_t>(v));
    const auto bits = decodeRaw(makeBmp({2048, 1, 1, 0, colours({0x000000, 0xFFFFFF}), every8}), 2048, 1);
    int wrong = 0;
    for (std::size_t i = 0; i < 2048; ++i) wrong += pixelOf(bits, i) != ((every8[i / 8] >> (7 - i % 8)) & 1 ? kWhite : kBlack);
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace oct
