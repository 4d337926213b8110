#include "encode/png_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "image/image.h"
#include "image/loader.h"
#include "oct.h"
#include "platform/bitmaps.h"
#include "runtime/heap.h"
#include "test_files.h"

namespace oct {
namespace {

using octtest::Bytes;
using octtest::TempDir;

// Encodes rows into memory and returns the PNG's bytes (empty on failure).
Bytes encodeToMemory(const Bytes& pixels, std::int32_t w, std::int32_t h, std::int32_t bytes, std::int32_t mode = 0) {
    const std::int64_t block =
        imgPngEncode(nullptr, {pixels.data(), w, h, w * bytes, mode}, {.flags = 0, .depth = 8 * bytes}, 8 * bytes);
    if (!block) return {};
    std::uint64_t size = 0;
    const std::uint8_t* p = imgPngBlockFile(block, size);
    Bytes out(p, p + size);
    memFree(reinterpret_cast<void*>(block));
    return out;
}

// The picture the library reads back from a PNG: pixels top row first,
// `bytes` a pixel (3, or 4 when it has alpha), no padding.
Bytes decode(const Bytes& png, std::int32_t& bytes) {
    const std::int64_t id = imgLoadImageMemory(AnyId, png.data(), static_cast<std::int64_t>(png.size()));
    if (!id) return {};
    const ImageObject* image = imgGetImage(id);
    plat::BitmapDesc bm{};
    bool topDown = false;
    Bytes out;
    if (plat::bitmapIsDibSection(image->handle, &topDown) && plat::bitmapDescribe(image->handle, bm) && bm.bits) {
        bytes = bm.bitsPerPixel / 8;
        for (std::int32_t y = 0; y < bm.height; ++y) {
            const std::int32_t stored = topDown ? y : bm.height - 1 - y;
            const auto* row = static_cast<const std::uint8_t*>(bm.bits) + static_cast<std::size_t>(stored) * bm.widthBytes;
            out.insert(out.end(), row, row + static_cast<std::size_t>(bm.width) * bytes);
        }
    }
    imgFreeImage(id);
    return out;
}

bool hasChunk(const Bytes& png, const char* type) {
    return std::search(png.begin(), png.end(), type, type + 4) != png.end();
}

// `colours` distinct colours over w × h pixels (3 or 4 bytes each, top row
// first); with `alpha` every third colour is partly transparent.
Bytes picture(std::int32_t w, std::int32_t h, int bytes, int colours, bool alpha) {
    Bytes px;
    for (std::int32_t i = 0; i < w * h; ++i) {
        const int c = (i * 7) % colours;  // 7 is prime to every count used: each colour appears
        px.push_back(static_cast<std::uint8_t>(c * 37));
        px.push_back(static_cast<std::uint8_t>(c >> 8 | (c & 3) << 6));
        px.push_back(static_cast<std::uint8_t>(c * 5));
        if (bytes == 4) px.push_back(alpha && c % 3 == 0 ? static_cast<std::uint8_t>(c % 200) : 255);
    }
    return px;
}

// Every kind of PNG written, at widths that leave the last byte of a row part
// filled: the library reads back exactly the pixels it was given, on each
// system through its own codecs.
TEST(PngWriter, RoundTripsEveryKindAtOddWidths) {
    const struct {
        const char* name;
        int bytes, colours;
        bool alpha;
        int colourType, bitDepth;
    } cases[] = {
        {"indexed 1 bit", 3, 2, false, 3, 1},
        {"indexed 2 bits", 3, 4, false, 3, 2},
        {"indexed 4 bits", 3, 8, false, 3, 4},
        {"indexed 8 bits", 3, 256, false, 3, 8},
        {"indexed 1 bit, opaque 32-bit rows", 4, 2, false, 3, 1},
        {"indexed 2 bits with tRNS", 4, 4, true, 3, 2},
        {"indexed 4 bits with tRNS", 4, 16, true, 3, 4},
        {"indexed 8 bits with tRNS", 4, 200, true, 3, 8},
        {"RGB", 3, 257, false, 2, 8},
        {"RGBA", 4, 300, true, 6, 8},
    };
    for (const auto& c : cases) {
        for (std::int32_t w : {1, 3, 5, 7, 9, 17, 33}) {
            SCOPED_TRACE(std::string(c.name) + ", width " + std::to_string(w));
            const std::int32_t h = c.colours > 16 ? (c.colours + w - 1) / w + 1 : 3;
            const Bytes px = picture(w, h, c.bytes, c.colours, c.alpha);
            const Bytes png = encodeToMemory(px, w, h, c.bytes);
            ASSERT_GT(png.size(), 33u);
            // IHDR: bit depth at 24, colour type at 25.
            EXPECT_EQ(png[25], c.colourType);
            if (w * h >= c.colours) {
                EXPECT_EQ(png[24], c.bitDepth);
            }
            EXPECT_EQ(hasChunk(png, "tRNS"), c.alpha && c.colourType == 3);
            std::int32_t bytes = 0;
            const Bytes back = decode(png, bytes);
            ASSERT_FALSE(back.empty());
            if (bytes == c.bytes) {
                EXPECT_EQ(back, px);
                continue;
            }
            // An opaque picture from 32-bit rows reads back without alpha.
            ASSERT_EQ(bytes, 3);
            Bytes opaque;
            for (std::size_t i = 0; i < px.size(); i += 4) opaque.insert(opaque.end(), px.begin() + i, px.begin() + i + 3);
            EXPECT_EQ(back, opaque);
        }
    }
}

// The 257th colour, wherever it first appears (the last pixel of a row is read
// on its own), makes the picture RGB; up to then the rows were taken as indexed.
TEST(PngWriter, OneColourTooManyAnywhereGivesRgb) {
    const std::int32_t w = 17, h = 17;
    for (const std::int32_t at : {w - 1, w * 8, w * h - 1}) {
        SCOPED_TRACE("the new colour at pixel " + std::to_string(at));
        Bytes px;
        for (std::int32_t i = 0; i < w * h; ++i) {
            const int c = i == at ? 256 : (i < at ? i : i - 1) % 256;
            px.insert(px.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8), 7});
        }
        const Bytes png = encodeToMemory(px, w, h, 3);
        ASSERT_GT(png.size(), 33u);
        EXPECT_EQ(png[25], 2) << "RGB";
        std::int32_t bytes = 0;
        EXPECT_EQ(decode(png, bytes), px);
    }
}

// Up to 16 colours the rows are numbered in four bits a pixel; a 17th colour
// in a later row widens the rows before it to a byte a pixel. Whatever the
// row and width, every pixel comes back, and mode bottom-up reads the rows
// in the other order.
TEST(PngWriter, ASeventeenthColourInALaterRowKeepsEveryPixel) {
    for (const int bytes : {3, 4}) {
        for (const std::int32_t w : {1, 2, 3, 8, 9, 33}) {
            for (const std::int32_t newRow : {1, 2, 5}) {
                for (const std::int32_t mode : {0, kEncodeBottomUp}) {
                    SCOPED_TRACE(std::to_string(bytes) + " bytes, width " + std::to_string(w) + ", new colour in row " +
                                 std::to_string(newRow) + (mode ? ", bottom-up" : ""));
                    const std::int32_t h = newRow + 3;
                    Bytes px;
                    for (std::int32_t i = 0; i < w * h; ++i) {
                        const std::int32_t y = i / w;
                        // 16 colours before the new row, 40 from it on.
                        const int c = y < newRow ? i % 16 : 16 + (i * 3) % 24;
                        px.insert(px.end(), {static_cast<std::uint8_t>(c * 9), static_cast<std::uint8_t>(c), 1});
                        if (bytes == 4) px.push_back(255);
                    }
                    const Bytes png = encodeToMemory(px, w, h, bytes, mode);
                    ASSERT_GT(png.size(), 33u);
                    EXPECT_EQ(png[25], 3) << "indexed";
                    std::set<std::uint32_t> distinct;
                    for (std::size_t i = 0; i < px.size(); i += bytes) distinct.insert(px[i] | px[i + 1] << 8);
                    const std::size_t n = distinct.size();
                    EXPECT_EQ(png[24], n <= 2 ? 1 : n <= 4 ? 2 : n <= 16 ? 4 : 8);
                    std::int32_t back = 0;
                    Bytes expected;
                    for (std::int32_t y = 0; y < h; ++y) {
                        const std::int32_t stored = mode ? h - 1 - y : y;
                        for (std::int32_t x = 0; x < w; ++x)
                            for (int k = 0; k < 3; ++k) expected.push_back(px[(stored * w + x) * bytes + k]);
                    }
                    EXPECT_EQ(decode(png, back), expected);
                }
            }
        }
    }
}

// A picture whose data do not compress spans several IDAT chunks, and rows
// with padding after them (a pitch above the pixels) are read without it.
TEST(PngWriter, NoiseSpansSeveralIdatChunksAndPaddingIsSkipped) {
    const std::int32_t w = 1501, h = 1500, pitch = w * 4 + 12;
    Bytes rows(static_cast<std::size_t>(pitch) * h, 0xEE);  // padding a colour of its own
    Bytes px;
    std::uint32_t state = 12345;
    for (std::int32_t y = 0; y < h; ++y) {
        for (std::int32_t x = 0; x < w; ++x) {
            state = state * 1103515245u + 12345u;
            const auto c = static_cast<std::uint8_t>((state >> 16) % 16 * 16);
            const std::uint8_t pixel[4] = {c, static_cast<std::uint8_t>(255 - c), 3, 255};
            std::memcpy(&rows[static_cast<std::size_t>(y) * pitch + 4 * x], pixel, 4);
            px.insert(px.end(), pixel, pixel + 3);
        }
    }
    const std::int64_t block = imgPngEncode(nullptr, {rows.data(), w, h, pitch, 0}, {.flags = 0, .depth = 32}, 32);
    ASSERT_NE(block, 0);
    std::uint64_t size = 0;
    const std::uint8_t* p = imgPngBlockFile(block, size);
    const Bytes png(p, p + size);
    memFree(reinterpret_cast<void*>(block));
    EXPECT_EQ(png[24], 4) << "16 colours, 4 bits";
    std::size_t idat = 0;
    for (auto at = png.begin(); (at = std::search(at, png.end(), "IDAT", "IDAT" + 4)) != png.end(); ++at) ++idat;
    EXPECT_GE(idat, 2u);
    std::int32_t bytes = 0;
    EXPECT_EQ(decode(png, bytes), px);
    EXPECT_EQ(bytes, 3);
}

TEST(PngWriter, BottomUpRowsComeOutUpright) {
    const Bytes px = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};  // 1 × 4, bottom row first
    std::int32_t bytes = 0;
    const Bytes back = decode(encodeToMemory(px, 1, 4, 3, kEncodeBottomUp), bytes);
    EXPECT_EQ(back, (Bytes{4, 4, 4, 3, 3, 3, 2, 2, 2, 1, 1, 1}));
}

TEST(PngWriter, FailedOrRefusedSavesKeepWhatHadTheName) {
    TempDir dir;
    const Bytes px(12, 7);
    const PixelRows rows{px.data(), 2, 2, 6, 0};
    octtest::writeFile(dir.path("old.png"), Bytes(500, 1));
    // Depths a PNG of these rows cannot have, and empty pictures, are refused first.
    for (std::int32_t depth : {8, 16, 1}) EXPECT_EQ(imgPngEncode(dir.name("old.png").c_str(), rows, {.flags = 0, .depth = depth}, 24), 0);
    EXPECT_EQ(imgPngEncode(dir.name("old.png").c_str(), {px.data(), 0, 2, 6, 0}, {}, 24), 0);
    EXPECT_EQ(octtest::readFile(dir.path("old.png")), Bytes(500, 1));
    // A folder cannot be replaced; a folder that does not exist cannot be written.
    std::filesystem::create_directory(dir.path("taken.png"));
    EXPECT_EQ(imgPngEncode(dir.name("taken.png").c_str(), rows, {}, 24), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir.path("taken.png")));
    EXPECT_EQ(imgPngEncode(dir.name("no/such.png").c_str(), rows, {}, 24), 0);
    EXPECT_EQ(dir.entries().size(), 2u) << "no temporary file left";
    // A save that works replaces the old file with the very bytes of the PNG.
    EXPECT_EQ(imgPngEncode(dir.name("old.png").c_str(), rows, {}, 24), 1);
    EXPECT_EQ(octtest::readFile(dir.path("old.png")), encodeToMemory(px, 2, 2, 3));
}

// imgSave with the default options hands the encoder the image's source
// depth for BMP; the PNG encoder chooses its form from the pixels, so a
// picture of any source depth saves as a PNG of exactly its pixels, alpha
// kept.
TEST(PngWriter, ImgSaveTakesEverySourceDepth) {
    TempDir dir;
    const std::filesystem::path data = OCT_CORPUS_DIR;
    for (const char* leaf : {"bmp/g/pal1.bmp", "bmp/g/pal4.bmp", "bmp/g/pal8.bmp", "bmp/g/rgb16.bmp",
                             "png/pngsuite/tbbn3p08.png", "png/pngsuite/basn6a16.png"}) {
        SCOPED_TRACE(leaf);
        const Bytes file = octtest::readFile(data / leaf);
        const std::int64_t id = imgLoadImageMemory(AnyId, file.data(), static_cast<std::int64_t>(file.size()));
        ASSERT_NE(id, 0);
        const ImageObject* image = imgGetImage(id);
        ASSERT_NE(image->sourceDepth, 24);
        ASSERT_NE(image->sourceDepth, 32);
        EXPECT_EQ(imgSave(id, dir.name("out.png").c_str(), kPngFormat), 1);
        plat::BitmapDesc bm{};
        ASSERT_TRUE(plat::bitmapDescribe(image->handle, bm));
        const std::int32_t depth = bm.bitsPerPixel / 8;
        Bytes pixels;
        for (std::int32_t y = bm.height - 1; y >= 0; --y) {
            const auto* row = static_cast<const std::uint8_t*>(bm.bits) + static_cast<std::size_t>(y) * bm.widthBytes;
            pixels.insert(pixels.end(), row, row + static_cast<std::size_t>(bm.width) * depth);
        }
        imgFreeImage(id);
        std::int32_t bytes = 0;
        const Bytes back = decode(octtest::readFile(dir.path("out.png")), bytes);
        EXPECT_EQ(bytes, depth);
        EXPECT_TRUE(back == pixels);
    }
}

// The rebuilt 8-level picture takes 4 bits a pixel, and the registry's PNG
// encoder writes the pixels of the bitmap it was given.
TEST(PngWriter, TheRebuiltLevelPictureIsFourBitIndexed) {
    const Bytes bmp = octtest::readFile(std::filesystem::path(OCT_CORPUS_DIR) / "photo" / "harvesters.bmp");
    OctImage* record = octCatch(bmp.data(), static_cast<int64_t>(bmp.size()));
    ASSERT_NE(record, nullptr);
    plat::BitmapDesc bm{};
    ASSERT_TRUE(plat::bitmapDescribe(octHandle(record), bm));
    const auto* bits = static_cast<const std::uint8_t*>(bm.bits);
    const std::int64_t block = imgEncode(nullptr, {bits, bm.width, bm.height, bm.widthBytes, kEncodeBottomUp},
                                         bm.bitsPerPixel, kPngFormat, {.flags = 0, .depth = bm.bitsPerPixel});
    ASSERT_NE(block, 0);
    std::uint64_t size = 0;
    const std::uint8_t* p = imgPngBlockFile(block, size);
    const Bytes png(p, p + size);
    memFree(reinterpret_cast<void*>(block));
    EXPECT_EQ(png[24], 4);
    EXPECT_EQ(png[25], 3);
    std::int32_t bytes = 0;
    const Bytes back = decode(png, bytes);
    ASSERT_EQ(bytes, bm.bitsPerPixel / 8);
    Bytes rebuilt;
    for (std::int32_t y = bm.height - 1; y >= 0; --y) {
        const std::uint8_t* row = bits + static_cast<std::size_t>(y) * bm.widthBytes;
        rebuilt.insert(rebuilt.end(), row, row + static_cast<std::size_t>(bm.width) * bytes);
    }
    EXPECT_EQ(back, rebuilt);
    octFree(record);
}

}  // namespace
}  // namespace oct
