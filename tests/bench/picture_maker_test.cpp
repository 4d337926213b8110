// The benchmark picture's maker: exact where the answer is known, the same
// bytes on every platform, and its BMP reader and writer agree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/picture_maker.h"
#include "test_files.h"

namespace {

BenchPicture picture(std::int32_t width, std::int32_t height, std::uint8_t (*value)(std::int32_t x, std::int32_t y,
                                                                                    int channel)) {
    BenchPicture pic;
    pic.width = width;
    pic.height = height;
    pic.bitsPerPixel = 24;
    pic.pitch = (width * 3 + 3) & ~3;
    pic.pixels.assign(static_cast<std::size_t>(pic.pitch) * height, 0);
    for (std::int32_t y = 0; y < height; ++y)
        for (std::int32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                pic.pixels[static_cast<std::size_t>(y) * pic.pitch + x * 3 + c] = value(x, y, c);
    return pic;
}

std::uint8_t noise(std::int32_t x, std::int32_t y, int c) {
    return static_cast<std::uint8_t>((x * 73 + y * 151 + c * 29) * 2654435761u >> 24);
}

std::uint8_t pixel(const BenchPicture& pic, std::int32_t x, std::int32_t y, int channel) {
    return pic.pixels[static_cast<std::size_t>(y) * pic.pitch + x * (pic.bitsPerPixel / 8) + channel];
}

std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t h = 0xCBF29CE484222325ull;
    for (std::uint8_t b : bytes) h = (h ^ b) * 0x100000001B3ull;
    return h;
}

TEST(PictureMaker, SameSizeGivesThePhotoBack) {
    // At distance 0 the kernel is 1 on the sample and 0 on its neighbours.
    const BenchPicture photo = picture(13, 13, noise);
    const auto same = benchScalePhoto(photo, 13, false);
    ASSERT_TRUE(same);
    EXPECT_EQ(same->pixels, photo.pixels);
}

TEST(PictureMaker, FlatColourStaysFlatAtEverySize) {
    // Weights that did not sum to one, or rounding that drifted, would show
    // as a step somewhere in the enlarged or reduced picture.
    const BenchPicture photo = picture(7, 3, [](std::int32_t, std::int32_t, int c) {
        return static_cast<std::uint8_t>(c == 0 ? 0 : c == 1 ? 200 : 255);
    });
    for (std::int32_t size : {1, 2, 5, 64, 333}) {
        SCOPED_TRACE(size);
        const auto pic = benchScalePhoto(photo, size, false);
        ASSERT_TRUE(pic);
        for (std::int32_t y = 0; y < size; ++y)
            for (std::int32_t x = 0; x < size; ++x)
                ASSERT_TRUE(pixel(*pic, x, y, 0) == 0 && pixel(*pic, x, y, 1) == 200 && pixel(*pic, x, y, 2) == 255)
                    << x << "," << y;
    }
}

TEST(PictureMaker, AlphaRampsFromOpaqueTopToClearBottom) {
    const auto pic = benchScalePhoto(picture(9, 9, noise), 100, true);
    ASSERT_TRUE(pic);
    EXPECT_EQ(pic->bitsPerPixel, 32);
    EXPECT_EQ(pic->pitch, 400);
    // Rows are bottom-up: the last row in memory is the top one.
    EXPECT_EQ(pixel(*pic, 0, 99, 3), 255);
    EXPECT_EQ(pixel(*pic, 0, 0, 3), 0);
    for (std::int32_t y = 1; y < 100; ++y) {
        EXPECT_GE(pixel(*pic, 0, y, 3), pixel(*pic, 0, y - 1, 3));
        EXPECT_LE(pixel(*pic, 0, y, 3) - pixel(*pic, 0, y - 1, 3), 3);
        EXPECT_EQ(pixel(*pic, 57, y, 3), pixel(*pic, 0, y, 3));
    }
    // The colours are those of the 24-bit picture.
    const auto rgb = benchScalePhoto(picture(9, 9, noise), 100, false);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(pixel(*pic, 41, 17, c), pixel(*rgb, 41, 17, c));
}

TEST(PictureMaker, RefusesSizesAndPhotosItCannotScale) {
    const BenchPicture photo = picture(4, 4, noise);
    EXPECT_FALSE(benchScalePhoto(photo, 0, false));
    EXPECT_FALSE(benchScalePhoto(photo, (1 << 14) + 1, false));
    EXPECT_FALSE(benchScalePhoto(BenchPicture{}, 16, false));
    BenchPicture truncated = photo;
    truncated.pixels.pop_back();
    EXPECT_FALSE(benchScalePhoto(truncated, 16, false));
}

// The bytes the benchmarks and the peers measure: the same hash from every
// compiler and platform (a change here changes every benchmark's input).
TEST(PictureMaker, ScalesTheCorpusPhotoToTheSameBytesEverywhere) {
    const auto photo = benchReadBmp((std::filesystem::path(OCT_CORPUS_DIR) / "photo/harvesters.bmp").string());
    ASSERT_TRUE(photo);
    EXPECT_EQ(photo->width, 1165);
    EXPECT_EQ(photo->height, 859);
    const auto pic = benchScalePhoto(*photo, 256, true);
    ASSERT_TRUE(pic);
    EXPECT_EQ(fnv1a(pic->pixels), 5995647311973084813u);
}

TEST(PictureMaker, BmpFilesReadBackAsWritten) {
    octtest::TempDir dir;
    for (bool alpha : {false, true}) {
        SCOPED_TRACE(alpha);
        const auto pic = benchScalePhoto(picture(5, 3, noise), 7, alpha);
        ASSERT_TRUE(pic);
        const std::vector<std::uint8_t> file = benchBmpFile(*pic);
        octtest::writeFile(dir.path("up.bmp"), file);
        const auto back = benchReadBmp(dir.path("up.bmp").string());
        ASSERT_TRUE(back);
        EXPECT_EQ(back->bitsPerPixel, pic->bitsPerPixel);
        EXPECT_EQ(back->pixels, pic->pixels);

        // The same rows stored top-down (negative height, rows reversed).
        std::vector<std::uint8_t> down = file;
        const std::int32_t height = -7;
        for (int i = 0; i < 4; ++i) down[22 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(height) >> 8 * i);
        const std::size_t row = static_cast<std::size_t>(pic->pitch);
        for (std::size_t y = 0; y < 7; ++y)
            std::copy_n(file.begin() + 54 + static_cast<std::ptrdiff_t>(y * row), row,
                        down.begin() + 54 + static_cast<std::ptrdiff_t>((6 - y) * row));
        octtest::writeFile(dir.path("down.bmp"), down);
        const auto flipped = benchReadBmp(dir.path("down.bmp").string());
        ASSERT_TRUE(flipped);
        EXPECT_EQ(flipped->pixels, pic->pixels);
    }
}

TEST(PictureMaker, BmpReaderRefusesOtherKinds) {
    octtest::TempDir dir;
    const std::vector<std::uint8_t> good = benchBmpFile(*benchScalePhoto(picture(2, 2, noise), 4, false));
    struct Case {
        const char* name;
        std::size_t at;
        std::uint8_t value;
    };
    const Case cases[] = {
        {"not BM", 1, 'X'},           {"core header", 14, 12},    {"16 bits", 28, 16},
        {"compressed", 30, 1},        {"zero width", 18, 0},      {"rows past the end", 10, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bad = good;
        if (c.at == 18) std::fill_n(bad.begin() + 18, 4, 0);
        bad[c.at] = c.value;
        octtest::writeFile(dir.path("bad.bmp"), bad);
        EXPECT_FALSE(benchReadBmp(dir.path("bad.bmp").string()));
    }
    std::vector<std::uint8_t> shortFile(good.begin(), good.end() - 1);
    octtest::writeFile(dir.path("short.bmp"), shortFile);
    EXPECT_FALSE(benchReadBmp(dir.path("short.bmp").string()));
    EXPECT_FALSE(benchReadBmp(dir.path("missing.bmp").string()));
}

}  // namespace
