// HEIF, AVIF and JPEG XL through the image layer: on Linux decoded at their
// size and depth, with pixels whose gray and alpha levels agree with another
// decoder's (tests/data/pictures-expected/levels.txt); on Windows refused as
// formats without a codec. Damaged files fail naming their format.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "image/formats.h"
#include "image/image.h"
#include "image/loader.h"
#include "image/picture_decoders.h"
#include "platform/bitmaps.h"
#include "platform/fail_reason.h"
#include "test_files.h"

namespace oct {
namespace {

using octtest::Bytes;

const std::filesystem::path kData = OCT_CORPUS_DIR;

struct Levels {
    std::string path;
    int width = 0, height = 0, depth = 0;
    std::int64_t gray[8] = {}, alpha[8] = {};
};

std::vector<Levels> references() {
    std::ifstream in(kData / "pictures-expected" / "levels.txt");
    std::vector<Levels> out;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        Levels l;
        fields >> l.path >> l.width >> l.height >> l.depth;
        for (auto& v : l.gray) fields >> v;
        for (auto& v : l.alpha) fields >> v;
        if (fields) out.push_back(l);
    }
    return out;
}

std::uint32_t formatOfPath(const std::string& path) {
    if (path.rfind("heif/", 0) == 0) return kHeifFormat;
    if (path.rfind("avif/", 0) == 0) return kAvifFormat;
    return kJxlFormat;
}

std::int64_t load(const Bytes& data) {
    return imgLoadImageMemory(AnyId, data.data(), static_cast<std::int64_t>(data.size()));
}

// The image's levels as make_levels.py counts them.
bool levelsOf(std::int64_t id, Levels& got) {
    const ImageObject* image = imgGetImage(id);
    plat::BitmapDesc bm{};
    if (!image || !plat::bitmapDescribe(image->handle, bm) || !bm.bits) return false;
    const int bpp = bm.bitsPerPixel / 8;
    for (std::int32_t y = 0; y < bm.height; ++y) {
        const auto* p = static_cast<const std::uint8_t*>(bm.bits) + static_cast<std::size_t>(y) * bm.widthBytes;
        for (std::int32_t x = 0; x < bm.width; ++x, p += bpp) {
            ++got.gray[(p[0] + p[1] + p[2]) / 96];
            ++got.alpha[(bpp == 4 ? p[3] : 255) / 32];
        }
    }
    return true;
}

// Counts that differ by at most `share` of the pixels moved between levels.
bool countsAgree(const std::int64_t (&a)[8], const std::int64_t (&b)[8], std::int64_t pixels, double share) {
    std::int64_t moved = 0;
    for (int i = 0; i < 8; ++i) moved += std::llabs(a[i] - b[i]);
    return static_cast<double>(moved) / 2 <= share * static_cast<double>(pixels);
}

std::string counts(const std::int64_t (&levels)[8]) {
    std::string out = "got";
    for (std::int64_t v : levels) out += " " + std::to_string(v);
    return out;
}

TEST(HeifJxlPictures, DecodeAtTheReferenceSizeDepthAndLevels) {
    const std::vector<Levels> refs = references();
    ASSERT_GE(refs.size(), 11u);
    for (const Levels& ref : refs) {
        SCOPED_TRACE(ref.path);
        const Bytes data = octtest::readFile(kData / ref.path);
        const std::uint32_t format = formatOfPath(ref.path);
        ASSERT_EQ(imgSniffFormat(data), format);
        plat::failBegin();
        const std::int64_t id = load(data);
        if (!imgHasCodec(format)) {
            // Windows: no codec here for these, and the reason says what the file is.
            EXPECT_EQ(id, 0);
            EXPECT_EQ(plat::failLast().code, plat::FailCode::NoCodec);
            EXPECT_EQ(std::string(plat::failLast().text),
                      std::string(format == kAvifFormat ? "an " : "a ") + imgFormatName(format) +
                          " picture, which this system has no codec for");
            continue;
        }
        ASSERT_NE(id, 0) << plat::failLast().text;
        const ImageObject* image = imgGetImage(id);
        EXPECT_EQ(image->format, format);
        EXPECT_EQ(image->width, ref.width);
        EXPECT_EQ(image->height, ref.height);
        EXPECT_EQ(image->depth, ref.depth);
        Levels got;
        ASSERT_TRUE(levelsOf(id, got));
        const std::int64_t pixels = static_cast<std::int64_t>(ref.width) * ref.height;
        // The decoders round their colour conversions differently: 3 % of the
        // pixels may fall into a neighbouring level, never more.
        EXPECT_TRUE(countsAgree(got.gray, ref.gray, pixels, 0.03)) << counts(got.gray);
        EXPECT_TRUE(countsAgree(got.alpha, ref.alpha, pixels, 0.03)) << counts(got.alpha);
        imgFreeImage(id);
    }
}

// What the levels cannot show: the frame count of a sequence (whose first
// frame alone a load keeps), the stored sample depth, and a picture whose alpha the reference decoder could
// not write (premultiplied, at a depth other than its colour's).
TEST(HeifJxlPictures, DescribeTheirFirstFrameAndStoredDepth) {
    const struct {
        const char* path;
        int width, height, depth, sourceDepth, frames;
    } cases[] = {
        {"avif/libavif/colors-animated-8bpc.avif", 150, 150, 24, 24, 5},
        {"avif/libavif/colors_hdr_srgb.avif", 200, 200, 24, 30, 1},
        {"heif/libheif/with-alpha-512x512.heic", 512, 512, 32, 32, 1},
        {"jxl/conformance/animation_spline.jxl", 320, 320, 24, 24, 60},
        {"jxl/conformance/grayscale.jxl", 200, 200, 24, 8, 1},
        {"jxl/conformance/alpha_premultiplied.jxl", 1024, 1024, 32, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const Bytes data = octtest::readFile(kData / c.path);
        PictureSummary summary{};
        if (!imgHasCodec(imgSniffFormat(data))) {
            EXPECT_FALSE(imgDescribePicture(data, summary));
            continue;
        }
        ASSERT_TRUE(imgDescribePicture(data, summary)) << plat::failLast().text;
        EXPECT_EQ(summary.width, c.width);
        EXPECT_EQ(summary.height, c.height);
        EXPECT_EQ(summary.depth, c.depth);
        if (c.sourceDepth) {
            EXPECT_EQ(summary.sourceDepth, c.sourceDepth);
        }
        EXPECT_EQ(summary.frameCount, c.frames);
        const std::int64_t id = load(data);
        EXPECT_NE(id, 0);
        imgFreeImage(id);
    }
}

// Counts cannot see a mirror. A clean aperture, a quarter turn and a mirror,
// one after the other: the gray levels of every pixel, top row first, as
// avifdec's unturned decoding cropped, turned and mirrored by hand gives them.
TEST(HeifJxlPictures, CropTurnAndMirrorApplyInTheirOrder) {
    const Bytes data = octtest::readFile(kData / "avif/libavif/clap_irot_imir_non_essential.avif");
    if (!imgHasCodec(imgSniffFormat(data))) GTEST_SKIP() << "no AVIF codec on this system";
    static const char* const kRows[] = {"5444333222", "4443332222", "4443322221", "4433322211",
                                        "3333222111", "3332221111", "3322211111", "3222111111"};
    const std::int64_t id = load(data);
    ASSERT_NE(id, 0) << plat::failLast().text;
    const ImageObject* image = imgGetImage(id);
    plat::BitmapDesc bm{};
    ASSERT_TRUE(plat::bitmapDescribe(image->handle, bm));
    ASSERT_EQ(bm.width, 10);
    ASSERT_EQ(bm.height, 8);
    const int bpp = bm.bitsPerPixel / 8;
    for (std::int32_t y = 0; y < 8; ++y) {
        // Bottom-up rows: the top row is the last in memory.
        const auto* p = static_cast<const std::uint8_t*>(bm.bits) + static_cast<std::size_t>(7 - y) * bm.widthBytes;
        std::string row;
        for (std::int32_t x = 0; x < 10; ++x, p += bpp) row += static_cast<char>('0' + (p[0] + p[1] + p[2]) / 96);
        EXPECT_EQ(row, kRows[y]) << "row " << y;
    }
    imgFreeImage(id);
}

// A sequence or an animation loads whole when asked: every frame covers
// the picture, as the decoder composed it, with its display time; the first
// is the picture a conversion takes.
TEST(HeifJxlPictures, SequencesAndAnimationsLoadEveryFrame) {
    const struct {
        const char* path;
        std::int32_t frames;
        std::int32_t firstDelayMs;
    } cases[] = {
        {"avif/libavif/colors-animated-8bpc.avif", 5, 33},
        {"jxl/conformance/animation_spline.jxl", 60, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const Bytes data = octtest::readFile(kData / c.path);
        if (!imgHasCodec(imgSniffFormat(data))) continue;
        const std::int64_t first = load(data);
        ASSERT_NE(first, 0);
        const ImageObject* still = imgGetImage(first);
        const std::int32_t width = still->width, height = still->height;
        const std::int64_t all =
            imgLoadImageMemory(AnyId, data.data(), static_cast<std::int64_t>(data.size()), LoadFrames::All);
        ASSERT_NE(all, 0) << plat::failLast().text;
        const ImageObject* image = imgGetImage(all);
        ASSERT_EQ(image->frameCount, c.frames);
        ASSERT_NE(image->frames, nullptr);
        EXPECT_EQ(image->width, width);
        EXPECT_EQ(image->height, height);
        EXPECT_NEAR(image->frames[0].delay, c.firstDelayMs, 1);
        // The frames differ from one another: each was decoded, not the first again.
        plat::BitmapDesc a{}, b{};
        ASSERT_TRUE(plat::bitmapDescribe(image->frames[0].bitmap, a));
        ASSERT_TRUE(plat::bitmapDescribe(image->frames[c.frames - 1].bitmap, b));
        const std::size_t bytes = static_cast<std::size_t>(a.widthBytes) * static_cast<std::size_t>(a.height);
        EXPECT_NE(std::memcmp(a.bits, b.bits, bytes), 0);
        imgFreeImage(all);
        imgFreeImage(first);
    }
}

// Cut files fail cleanly, and the reason names the format (Windows: as one
// without a codec); overwritten ones fail so or load.
TEST(HeifJxlPictures, DamagedFilesFailNamingTheirFormat) {
    const char* paths[] = {"heif/libheif/rainbow-451x461.heic", "avif/libavif/abc_color_irot_alpha_irot.avif",
                           "avif/libavif/sofa_grid1x5_420.avif", "jxl/conformance/grayscale.jxl",
                           "jxl/conformance/bench_oriented_brg.jxl"};
    for (const char* path : paths) {
        const Bytes whole = octtest::readFile(kData / path);
        const std::uint32_t format = imgSniffFormat(whole);
        Bytes overwritten = whole;
        for (std::size_t i = overwritten.size() / 2; i < overwritten.size(); ++i) overwritten[i] = 0xA5;
        const std::pair<const char*, Bytes> variants[] = {
            {"first 40 bytes", Bytes(whole.begin(), whole.begin() + 40)},
            {"first half", Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2))},
            {"second half overwritten", overwritten},
        };
        for (const auto& [name, data] : variants) {
            SCOPED_TRACE(std::string(path) + ", " + name);
            plat::failBegin();
            const std::int64_t id = load(data);
            // An HEVC or AV1 decoder may make pictures of garbage; a load
            // is then as sound as a refusal.
            if (id && data.size() == whole.size()) {
                imgFreeImage(id);
                continue;
            }
            EXPECT_EQ(id, 0);
            if (id) imgFreeImage(id);
            const std::string text = plat::failLast().text;
            if (!imgHasCodec(format)) {
                EXPECT_EQ(plat::failLast().code, plat::FailCode::NoCodec) << text;
                continue;
            }
            EXPECT_EQ(plat::failLast().code, plat::FailCode::Damaged) << text;
            EXPECT_EQ(text.rfind(std::string("damaged ") + imgFormatName(format), 0), 0u) << text;
        }
    }
    plat::failBegin();
}

}  // namespace
}  // namespace oct
