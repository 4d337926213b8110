// The BMP encoder's palette path: 1-, 4- and 8-bit files through palette
// reduction, to files and to memory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "encode/bmp_writer.h"
#include "encode/encoder.h"
#include "encode/palette.h"
#include "image/image.h"
#include "image/loader.h"
#include "platform/bitmaps.h"
#include "runtime/heap.h"
#include "runtime/object_table.h"
#include "test_files.h"

namespace oct {
namespace {

using octtest::Bytes;
using octtest::TempDir;
namespace fs = std::filesystem;

const fs::path kCorpus = OCT_CORPUS_DIR;

std::uint32_t u32At(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Encodes into memory; the file's bytes, or nothing on failure.
Bytes encode(const Bytes& pixels, std::int32_t w, std::int32_t h, std::int32_t pitch, std::int32_t depth,
             std::int32_t flags = 0, std::int32_t pixelDepth = 24, std::int32_t mode = kEncodeBottomUp) {
    auto* block = reinterpret_cast<std::uint8_t*>(
        imgBmpEncode(nullptr, {pixels.data(), w, h, pitch, mode}, {.flags = flags, .depth = depth}, pixelDepth));
    if (!block) return {};
    Bytes out(block, block + u32At(Bytes(block, block + 6), 2));
    memFree(block);
    return out;
}

// The picture of the golden files, 12 × 6, 24-bit rows bottom-up: blue 21 x,
// green 50 y, red 255 − 21 x (y counted from the bottom row).
constexpr std::int32_t kGoldenWidth = 12, kGoldenHeight = 6, kGoldenPitch = 36;
Bytes goldenPicture() {
    Bytes px(kGoldenPitch * kGoldenHeight, 0);
    for (std::int32_t y = 0; y < kGoldenHeight; ++y)
        for (std::int32_t x = 0; x < kGoldenWidth; ++x) {
            std::uint8_t* p = &px[static_cast<std::size_t>(y * kGoldenPitch + 3 * x)];
            p[0] = static_cast<std::uint8_t>(21 * x);
            p[1] = static_cast<std::uint8_t>(50 * y);
            p[2] = static_cast<std::uint8_t>(255 - 21 * x);
        }
    return px;
}

TEST(BmpPaletteFile, HeadersPaletteAndRowsOfEachDepth) {
    struct Case {
        std::int32_t depth, width, height;
        std::uint32_t rowLength, bitsOffset, fileSize;
    };
    const Case cases[] = {
        {8, 5, 2, 8, 1078, 1094},  {1, 10, 3, 4, 62, 74},     {4, 3, 2, 4, 118, 126},
        {4, 9, 1, 8, 118, 126},    {8, 0, 3, 4, 1078, 1090},  {1, 0, 2, 4, 62, 70},
        {1, 33, 1, 8, 62, 70},     {8, 4, 0, 4, 1078, 1078},  {1, 1, 1, 4, 62, 66},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.depth << " bits, " << c.width << " x " << c.height);
        const Bytes px = octtest::pattern(static_cast<std::size_t>(12 * (c.width + 1) * (c.height + 1)), 9);
        const Bytes f = encode(px, c.width, c.height, 3 * c.width + 4, c.depth);
        ASSERT_EQ(f.size(), c.fileSize);
        EXPECT_EQ(u32At(f, 10), c.bitsOffset);
        EXPECT_EQ(f[28], c.depth);
        EXPECT_EQ(u32At(f, 34), c.rowLength * c.height);
        EXPECT_EQ(u32At(f, 46), 0u) << "colours used";
        for (std::uint32_t e = 0; e < (1u << c.depth); ++e) ASSERT_EQ(f[54 + 4 * e + 3], 0) << "entry " << e;
        // Every byte of a row past its packed indices is 0.
        const std::uint32_t used = static_cast<std::uint32_t>(palPackedBytes(c.width, c.depth));
        for (std::int32_t y = 0; y < c.height; ++y)
            for (std::uint32_t i = used; i < c.rowLength; ++i) ASSERT_EQ(f[c.bitsOffset + y * c.rowLength + i], 0);
    }
}

TEST(BmpPaletteFile, DepthOneByHand) {
    // Luminance 54.213 − 2.9484 x + 35.76 y: above 160 for x = 0 of row 3 and all of rows 4 and 5.
    const Bytes f = encode(goldenPicture(), kGoldenWidth, kGoldenHeight, kGoldenPitch, 1);
    ASSERT_EQ(f.size(), 62u + 4 * 6);
    EXPECT_EQ(Bytes(f.begin() + 54, f.begin() + 62), (Bytes{0, 0, 0, 0, 255, 255, 255, 0}));
    EXPECT_EQ(Bytes(f.begin() + 62, f.end()), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0, 0, 0, 0xFF, 0xF0,
                                                     0, 0, 0xFF, 0xF0, 0, 0}));
    // A top-down source is written last row first.
    const Bytes down = encode(goldenPicture(), kGoldenWidth, kGoldenHeight, kGoldenPitch, 1, 0, 24, 0);
    EXPECT_EQ(Bytes(down.begin() + 62, down.begin() + 66), (Bytes{0xFF, 0xF0, 0, 0}));
    EXPECT_EQ(Bytes(down.end() - 4, down.end()), (Bytes{0, 0, 0, 0}));
}

// Files that every build must reproduce byte for byte. OCT_WRITE_GOLDEN=1
// in the environment writes them instead (then check them by hand).
TEST(BmpPaletteFile, GoldenFilesOnEveryBuild) {
    struct Case {
        const char* file;
        std::int32_t depth, flags;
    };
    const Case cases[] = {{"depth1.bmp", 1, 0},          {"depth1.bmp", 1, kPaletteDither},
                          {"depth4.bmp", 4, 0},          {"depth4-dither.bmp", 4, kPaletteDither},
                          {"depth8.bmp", 8, 0},          {"depth8-dither.bmp", 8, kPaletteDither}};
    const bool write = std::getenv("OCT_WRITE_GOLDEN") != nullptr;
    const Bytes px = goldenPicture();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path path = kCorpus / "palette" / c.file;
        const Bytes f = encode(px, kGoldenWidth, kGoldenHeight, kGoldenPitch, c.depth, c.flags);
        ASSERT_FALSE(f.empty());
        if (write) octtest::writeFile(path, f);
        EXPECT_EQ(f, octtest::readFile(path));
        // A file gets the same bytes as memory.
        TempDir dir;
        ASSERT_EQ(imgBmpEncode(dir.name("x.bmp").c_str(), {px.data(), kGoldenWidth, kGoldenHeight, kGoldenPitch, kEncodeBottomUp},
                               {.flags = c.flags, .depth = c.depth}, 24),
                  1);
        EXPECT_EQ(octtest::readFile(dir.path("x.bmp")), f);
    }
}

// The colours of a loaded image, for comparing pictures.
Bytes colours(std::int64_t image) {
    plat::BitmapDesc bm{};
    EXPECT_TRUE(plat::bitmapDescribe(imgImageHandle(image), bm));
    const auto* p = static_cast<const std::uint8_t*>(bm.bits);
    Bytes out;
    for (std::int32_t y = 0; y < bm.height; ++y)
        for (std::int32_t x = 0; x < 3 * bm.width; ++x) out.push_back(p[y * bm.widthBytes + x]);
    return out;
}

double meanSquaredError(const Bytes& a, const Bytes& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
    return sum / static_cast<double>(a.size());
}

TEST(BmpPaletteFile, CorpusPicturesReloadAtEveryDepth) {
    struct Case {
        const char* file;
        std::int32_t sourceDepth;
    };
    const Case cases[] = {{"bmp/g/pal8.bmp", 8}, {"bmp/g/pal4.bmp", 4}, {"bmp/g/rgb24.bmp", 24}};
    TempDir dir;
    for (const Case& c : cases) {
        const std::int64_t id = imgLoadImage(AnyId, (kCorpus / c.file).u16string().c_str());
        ASSERT_NE(id, 0) << c.file;
        const ImageObject* source = imgGetImage(id);
        const Bytes before = colours(id);
        for (std::int32_t depth : {kSourceDepth, 1, 4, 8, 24, 32}) {
            for (std::int32_t flags : {7, kPaletteDither}) {
                SCOPED_TRACE(::testing::Message() << c.file << " at depth " << depth << ", flags " << flags);
                const std::u16string name = dir.name("out.bmp");
                ASSERT_EQ(imgSave(id, name.c_str(), kBmpFormat, {.flags = flags, .depth = depth}), 1);
                const std::int64_t back = imgLoadImage(AnyId, name.c_str());
                ASSERT_NE(back, 0);
                const ImageObject* reloaded = imgGetImage(back);
                EXPECT_EQ(reloaded->width, source->width);
                EXPECT_EQ(reloaded->height, source->height);
                EXPECT_EQ(reloaded->sourceDepth, depth == kSourceDepth ? c.sourceDepth : depth);
                // Close to the picture: a wrong palette order or packing is far off.
                const double mse = meanSquaredError(colours(back), before);
                const std::int32_t written = depth == kSourceDepth ? c.sourceDepth : depth;
                const double bound = written >= 24 ? 0 : written == 8 ? 150 : written == 4 ? 1300 : 1e9;
                EXPECT_LE(mse, bound);
                imgFreeImage(back);
            }
        }
        imgFreeImage(id);
    }
}

TEST(BmpPaletteFile, LimitsAndOddInputsGiveZeroOrAGoodFile) {
    TempDir dir;
    const Bytes px(64, 0x55);
    // Sizes the headers cannot hold, or rows longer than the pitch: 0 and no file.
    struct Refusal {
        const char* name;
        std::int32_t width, height, pitch, depth;
    };
    const Refusal refusals[] = {
        {"widest row", INT32_MAX, 1, 12, 1},
        {"widest row, 8 bits", INT32_MAX, 1, INT32_MAX, 8},
        {"tallest picture", 1, INT32_MAX, 4, 8},
        {"tallest picture, 1 bit", 1, INT32_MAX, 4, 1},
        {"file size just past 2^31", 65536, 32768, 4, 8},
        {"pitch shorter than a row", 8, 2, 12, 4},
        {"negative width", -1, 2, 12, 8},
    };
    for (const Refusal& r : refusals) {
        EXPECT_EQ(imgBmpEncode(dir.name("x.bmp").c_str(), {px.data(), r.width, r.height, r.pitch, kEncodeBottomUp},
                               {.flags = kPaletteDither, .depth = r.depth}, 24),
                  0)
            << r.name;
        EXPECT_TRUE(dir.entries().empty()) << r.name;
    }

    // One pixel at every palette depth, with and without dithering.
    const Bytes one = {40, 80, 200, 0};
    for (std::int32_t depth : {1, 4, 8})
        for (std::int32_t flags : {0, kPaletteDither}) {
            const Bytes f = encode(one, 1, 1, 4, depth, flags);
            ASSERT_EQ(f.size(), 54u + (4u << depth) + 4) << depth;
            const Bytes again = encode(one, 1, 1, 4, depth, flags);
            EXPECT_EQ(f, again) << "reproducible";
        }

    // 32-bit pixels with alpha, handed straight to the 32-bit entry at the
    // palette depths, and through imgSave (flattened onto white first).
    Bytes rgba(4 * 9 * 7);
    for (std::size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<std::uint8_t>(i * 29 + (i % 4 == 3 ? i : 0));
    for (std::int32_t depth : {1, 4, 8})
        for (std::int32_t flags : {0, kPaletteDither}) {
            const Bytes f = encode(rgba, 9, 7, 36, depth, flags, 32);
            ASSERT_EQ(static_cast<std::int64_t>(f.size()), 54 + (4 << depth) + 7 * ((palPackedBytes(9, depth) + 3) & ~3))
                << depth;
        }
    const std::int64_t id = imgCreateImage(AnyId, 9, 7, 32);
    ASSERT_NE(id, 0);
    plat::BitmapDesc bm{};
    ASSERT_TRUE(plat::bitmapDescribe(imgImageHandle(id), bm));
    std::memcpy(bm.bits, rgba.data(), rgba.size());
    for (std::int32_t depth : {1, 4, 8}) {
        EXPECT_EQ(imgSave(id, dir.name("alpha.bmp").c_str(), kBmpFormat, {.flags = kPaletteDither, .depth = depth}), 1) << depth;
        EXPECT_EQ(octtest::readFile(dir.path("alpha.bmp"))[28], depth);
    }
    imgFreeImage(id);
}

}  // namespace
}  // namespace oct
