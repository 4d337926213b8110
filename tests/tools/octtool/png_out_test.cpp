// octtool writes PNG wherever it writes a picture and the name ends in .png:
// the same pixels as the BMP twin of the same command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/image.h"
#include "image/loader.h"
#include "platform/bitmaps.h"
#include "test_files.h"
#include "tools/octtool/tool_fixture.h"

namespace oct {
namespace {

const fs::path kData = OCT_CORPUS_DIR;

// A picture file's pixels as the library reads them: top row first, blue,
// green, red(, alpha), no padding; with its kind (the format id) and depth.
struct Pixels {
    std::uint32_t format = 0;
    std::int32_t width = 0, height = 0, depth = 0;
    Bytes bytes;
    bool operator==(const Pixels& o) const {
        return width == o.width && height == o.height && depth == o.depth && bytes == o.bytes;
    }
};

Pixels pixelsOf(const Bytes& file) {
    Pixels p;
    const std::int64_t id = imgLoadImageMemory(AnyId, file.data(), static_cast<std::int64_t>(file.size()));
    if (!id) return p;
    const ImageObject* image = imgGetImage(id);
    plat::BitmapDesc bm{};
    bool topDown = false;
    if (plat::bitmapIsDibSection(image->handle, &topDown) && plat::bitmapDescribe(image->handle, bm) && bm.bits) {
        p = {image->format, bm.width, bm.height, bm.bitsPerPixel, {}};
        for (std::int32_t y = 0; y < bm.height; ++y) {
            const auto* row = static_cast<const std::uint8_t*>(bm.bits) +
                              static_cast<std::size_t>(topDown ? y : bm.height - 1 - y) * bm.widthBytes;
            p.bytes.insert(p.bytes.end(), row, row + static_cast<std::size_t>(bm.width) * (bm.bitsPerPixel / 8));
        }
    }
    imgFreeImage(id);
    return p;
}

// The rows of a BMP file that octtool wrote (24 or 32 bits, bottom-up, a
// 54-byte header), as pixelsOf gives a picture's: alpha bytes kept.
Pixels bmpRows(const Bytes& file) {
    Pixels p;
    if (file.size() < 54) return p;
    auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 | file[at + 3] << 24);
    };
    p.width = static_cast<std::int32_t>(u32(18));
    p.height = static_cast<std::int32_t>(u32(22));
    p.depth = file[28];
    const std::size_t row = static_cast<std::size_t>(p.width) * (p.depth / 8), pitch = (row + 3) & ~std::size_t{3};
    if (file.size() < 54 + pitch * p.height) return Pixels{};
    for (std::int32_t y = p.height - 1; y >= 0; --y) {
        const auto at = file.begin() + static_cast<std::ptrdiff_t>(54 + pitch * y);
        p.bytes.insert(p.bytes.end(), at, at + static_cast<std::ptrdiff_t>(row));
    }
    return p;
}

using OctToolPng = OctTool;

TEST_F(OctToolPng, ConvertWritesTheRebuiltPictureAsAnIndexedPng) {
    for (const char* in : {"photo/harvesters.bmp", "png/pngsuite/basn6a08.png", "jpeg/pillow/hopper.jpg"}) {
        SCOPED_TRACE(in);
        const std::string source = (kData / in).string();
        ASSERT_EQ(run({"convert", source, path("out.bmp")}), 0) << err();
        ASSERT_EQ(run({"convert", source, path("out.PNG")}), 0) << err();
        const Bytes png = read("out.PNG");
        ASSERT_GT(png.size(), 26u);
        EXPECT_EQ(png[25], 3) << "indexed";
        EXPECT_LE(png[24], 8);
        const Pixels fromPng = pixelsOf(png), fromBmp = bmpRows(read("out.bmp"));
        EXPECT_EQ(fromPng.format, kPngFormat);
        EXPECT_TRUE(fromPng == fromBmp);
    }
    // The 8 gray levels of a picture without alpha fit 4 bits.
    ASSERT_EQ(run({"convert", (kData / "photo/harvesters.bmp").string(), path("gray.png")}), 0);
    EXPECT_EQ(read("gray.png")[24], 4);
}

TEST_F(OctToolPng, ManyInputsTakePngButNotBothKinds) {
    ASSERT_EQ(run({"convert", "--png", "-o", path(""), (kData / "png/pngsuite/basn2c08.png").string(),
                   (kData / "jpeg/pillow/hopper.jpg").string()}),
              0)
        << err();
    EXPECT_EQ(pixelsOf(read("basn2c08.png")).format, kPngFormat);
    EXPECT_EQ(pixelsOf(read("hopper.png")).format, kPngFormat);
    EXPECT_EQ(run({"convert", "--png", "--bmp", "-o", path(""), (kData / "jpeg/pillow/hopper.jpg").string()}), 2);
    EXPECT_NE(err().find("--bmp and --png"), std::string::npos);
}

TEST_F(OctToolPng, ResizeAndDrawWritePngTwinsOfTheirBmps) {
    const std::string picture = (kData / "png/pngsuite/basn6a08.png").string();
    ASSERT_EQ(run({"resize", "13x7", picture, path("r.bmp")}), 0) << err();
    ASSERT_EQ(run({"resize", "13x7", picture, path("r.png")}), 0) << err();
    EXPECT_TRUE(pixelsOf(read("r.png")) == bmpRows(read("r.bmp")));
    write("s.draw", Bytes{'f', 'r', 'o', 'n', 't', ' ', '0', 'x', 'f', 'f', '0', '0', '8', '0', 'f', 'f', '\n',
                          'b', 'o', 'x', ' ', '1', ' ', '1', ' ', '5', ' ', '3', '\n'});
    for (const char* depth : {"24", "32"}) {
        SCOPED_TRACE(depth);
        ASSERT_EQ(run({"draw", path("d.bmp"), "9", "5", depth, path("s.draw")}), 0) << err();
        ASSERT_EQ(run({"draw", path("d.png"), "9", "5", depth, path("s.draw")}), 0) << err();
        EXPECT_TRUE(pixelsOf(read("d.png")) == bmpRows(read("d.bmp")));
    }
}

TEST_F(OctToolPng, AFailedPngSaveKeepsTheOldFile) {
    write("old.png", Bytes(100, 7));
    fs::permissions(fs::path(path("old.png")), fs::perms::owner_read, fs::perm_options::replace);
    EXPECT_EQ(run({"convert", (kData / "jpeg/pillow/hopper.jpg").string(), path("old.png")}), 1);
    EXPECT_NE(err().find("cannot write"), std::string::npos);
    fs::permissions(fs::path(path("old.png")), fs::perms::owner_all, fs::perm_options::replace);
    EXPECT_EQ(read("old.png"), Bytes(100, 7));
    EXPECT_EQ(run({"resize", "3x3", (kData / "jpeg/pillow/hopper.jpg").string(), path("no/such.png")}), 1);
    EXPECT_FALSE(exists("no"));
}

}  // namespace
}  // namespace oct
