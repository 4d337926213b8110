// The picture corpus (tests/data) through the loader: good files load with their
// stated size and depth, everything else loads or fails cleanly.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image/bmp_reader.h"
#include "image/image.h"
#include "image/loader.h"
#include "image_bytes.h"
#include "platform/bitmaps.h"
#include "platform/handles.h"

namespace oct {
namespace {

const std::filesystem::path kCorpus = OCT_CORPUS_DIR;

std::int64_t loadFile(const std::filesystem::path& path) { return imgLoadImage(AnyId, path.u16string().c_str()); }

TEST(BmpCorpus, EveryGoodFileLoadsAtItsSizeAndDepth) {
    struct Case {
        const char* file;
        std::int32_t width, height, bitCount;
    };
    const Case cases[] = {
        {"pal1.bmp", 127, 64, 1},       {"pal1bg.bmp", 127, 64, 1},        {"pal4.bmp", 127, 64, 4},
        {"pal4rle.bmp", 127, 64, 4},    {"pal8.bmp", 127, 64, 8},          {"pal8nonsquare.bmp", 127, 32, 8},
        {"pal8os2.bmp", 127, 64, 8},    {"pal8rle.bmp", 127, 64, 8},       {"pal8topdown.bmp", 127, 64, 8},
        {"pal8v4.bmp", 127, 64, 8},     {"pal8w124.bmp", 124, 61, 8},      {"pal8w126.bmp", 126, 63, 8},
        {"rgb16-565.bmp", 127, 64, 16}, {"rgb16-565pal.bmp", 127, 64, 16}, {"rgb16.bmp", 127, 64, 16},
        {"rgb24.bmp", 127, 64, 24},     {"rgb32.bmp", 127, 64, 32},        {"rgb32bf.bmp", 127, 64, 32},
    };
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus / "bmp/g")) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, std::size(cases)) << "every file of bmp/g is listed here";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const std::int64_t id = loadFile(kCorpus / "bmp/g" / c.file);
        ASSERT_NE(id, 0);
        const ImageObject* image = imgGetImage(id);
        EXPECT_EQ(image->width, c.width);
        EXPECT_EQ(image->height, c.height);
        EXPECT_EQ(image->depth, 24);
        EXPECT_EQ(image->sourceDepth, c.bitCount);
        EXPECT_EQ(image->format, kBmpFormat);
        EXPECT_EQ(image->frameCount, 1);
        EXPECT_EQ(plat::handleKind(image->handle), plat::HandleKind::Bitmap);
        imgFreeImage(id);
    }
}

// The suite draws one picture in many layouts: the 8-bit ones, whatever their
// header, row order or compression, decode to the same pixels.
TEST(BmpCorpus, EightBitLayoutsAgree) {
    const std::int64_t reference = loadFile(kCorpus / "bmp/g/pal8.bmp");
    ASSERT_NE(reference, 0);
    const auto expected = octtest::pixelsOf(reference);
    imgFreeImage(reference);
    for (const char* file : {"pal8os2.bmp", "pal8topdown.bmp", "pal8v4.bmp", "pal8rle.bmp"}) {
        SCOPED_TRACE(file);
        const std::int64_t id = loadFile(kCorpus / "bmp/g" / file);
        ASSERT_NE(id, 0);
        EXPECT_TRUE(octtest::pixelsOf(id) == expected);
        imgFreeImage(id);
    }
}

TEST(BmpCorpus, AbsurdSizesAndBitCountsAreRefused) {
    for (const char* file :
         {"bmp/b/reallybig.bmp", "bmp/b/badbitcount.bmp", "bmp/b/badwidth.bmp", "bmp/other/b/bts-emptyfile.bmp",
          "bmp/other/b/bts-magicnumber-cropped.bmp", "bmp/other/b/bts-height-zero.bmp"}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(loadFile(kCorpus / file), 0);
    }
}

TEST(BmpCorpus, TruncatedFilesDecodeWhatTheyHold) {
    for (const char* file : {"bmp/b/shortfile.bmp", "bmp/other/b/bts-24bpp-pixeldata-cropped.bmp",
                             "bmp/other/b/bts-rle8-absolute-cropped.bmp"}) {
        SCOPED_TRACE(file);
        const std::int64_t id = loadFile(kCorpus / file);
        EXPECT_NE(id, 0);
        imgFreeImage(id);
    }
}

// Questionable and malformed files: each either loads as a consistent image
// or fails with 0. A crash or a sanitizer report fails the test program.
TEST(ImageCorpus, OddAndBadFilesLoadOrFailCleanly) {
    int files = 0, loaded = 0;
    for (const char* dir : {"bmp/q", "bmp/b", "bmp/x", "bmp/other/q", "bmp/other/b", "ico/bad", "ico/q"}) {
        for (const auto& entry : std::filesystem::directory_iterator(kCorpus / dir)) {
            SCOPED_TRACE(entry.path().string());
            ++files;
            const std::int64_t id = loadFile(entry.path());
            if (!id) continue;
            ++loaded;
            const ImageObject* image = imgGetImage(id);
            ASSERT_NE(image, nullptr);
            EXPECT_GT(image->width, 0);
            EXPECT_GT(image->height, 0);
            if (image->format == kBmpFormat) {
                plat::BitmapDesc bm{};
                ASSERT_TRUE(plat::bitmapDescribe(image->handle, bm));
                EXPECT_EQ(bm.width, image->width);
                EXPECT_EQ(bm.height, image->height);
                EXPECT_EQ(bm.bitsPerPixel, 24);
            } else {
                EXPECT_EQ(image->format, kIconFormat);
            }
            imgFreeImage(id);
        }
    }
    EXPECT_GT(files, 100);
    EXPECT_GT(loaded, 0);
}

TEST(ImageCorpus, OtherGoodBmpFilesLoad) {
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus / "bmp/other/g")) {
        SCOPED_TRACE(entry.path().string());
        const std::int64_t id = loadFile(entry.path());
        EXPECT_NE(id, 0);
        imgFreeImage(id);
    }
}

}  // namespace
}  // namespace oct
