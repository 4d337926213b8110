#include "image/picture_decoders.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "image/formats.h"
#include "image/image.h"
#include "image/loader.h"
#include "oct.h"
#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "platform/fail_reason.h"
#include "platform/pictures.h"
#include "test_files.h"

namespace oct {
namespace {

using octtest::Bytes;

const std::filesystem::path kData = OCT_CORPUS_DIR;

Bytes picture(const char* path) { return octtest::readFile(kData / path); }

// The image's pixels as blue, green, red(, alpha), top row first, no padding.
Bytes topDownPixels(std::int64_t id) {
    const ImageObject* image = imgGetImage(id);
    plat::BitmapDesc bm{};
    if (!image || !plat::bitmapDescribe(image->handle, bm) || !bm.bits) return {};
    const std::size_t row = static_cast<std::size_t>(bm.width) * (bm.bitsPerPixel / 8);
    Bytes out;
    for (std::int32_t y = bm.height - 1; y >= 0; --y) {
        const auto* p = static_cast<const std::uint8_t*>(bm.bits) + static_cast<std::size_t>(y) * bm.widthBytes;
        out.insert(out.end(), p, p + row);
    }
    return out;
}

std::int64_t load(const Bytes& data) { return imgLoadImageMemory(AnyId, data.data(), static_cast<std::int64_t>(data.size())); }

// Each format loads as an image of its format id at the depth its alpha
// asks for, through memory and through a file alike.
TEST(PictureDecoders, EachFormatLoadsAtTheDepthOfItsAlpha) {
    const struct {
        const char* path;
        std::uint32_t format;
        int width, height, depth, sourceDepth, frames;
    } cases[] = {
        {"png/pngsuite/basn2c08.png", kPngFormat, 32, 32, 24, 24, 1},
        {"png/pngsuite/basn6a16.png", kPngFormat, 32, 32, 32, 64, 1},
        {"png/pngsuite/tbbn3p08.png", kPngFormat, 32, 32, 32, 8, 1},  // palette with tRNS
        {"jpeg/pillow/hopper.jpg", kJpegFormat, 128, 128, 24, 24, 1},
        {"jpeg/pillow/hopper_gray.jpg", kJpegFormat, 128, 128, 24, 8, 1},
        {"gif/gif-test-suite/static_nontransparent.gif", kGifFormat, 0, 0, 24, 0, 1},
        {"gif/gif-test-suite/animated_transparent_loop.gif", kGifFormat, 0, 0, 32, 0, 0},
        // Transparency in later frames only: they show the frames below.
        {"gif/pillow/iss634.gif", kGifFormat, 245, 245, 24, 8, 42},
        // The first frame reaches past the declared 100 × 100 screen.
        {"gif/gif-test-suite/animated_transparent_loop_frames_out_of_bounds.gif", kGifFormat, 300, 100, 32, 1, 4},
        {"tiff/libtiff/palette-1c-8b.tiff", kTiffFormat, 157, 151, 24, 8, 1},
        {"tiff/libtiff/minisblack-2c-8b-alpha.tiff", kTiffFormat, 64, 64, 32, 16, 1},
    };
    octtest::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
#ifdef _WIN32
        // WIC under wine has no codec for gray with alpha in TIFF.
        if (std::string(c.path).find("2c-8b-alpha") != std::string::npos) continue;
#endif
        const Bytes data = picture(c.path);
        ASSERT_FALSE(data.empty());
        const std::int64_t id =
            imgLoadImageMemory(AnyId, data.data(), static_cast<std::int64_t>(data.size()), LoadFrames::All);
        ASSERT_NE(id, 0);
        const ImageObject* image = imgGetImage(id);
        EXPECT_EQ(image->format, c.format);
        EXPECT_EQ(image->depth, c.depth);
        if (c.width) { EXPECT_EQ(image->width, c.width); }
        if (c.height) { EXPECT_EQ(image->height, c.height); }
        if (c.sourceDepth) { EXPECT_EQ(image->sourceDepth, c.sourceDepth); }
        if (c.frames) { EXPECT_EQ(image->frameCount, c.frames); }
        octtest::writeFile(dir.path("p"), data);
        const std::int64_t fromFile = imgLoadImage(AnyId, dir.name("p").c_str(), LoadFrames::All);
        ASSERT_NE(fromFile, 0);
        EXPECT_EQ(topDownPixels(fromFile), topDownPixels(id));
        imgFreeImage(fromFile);
        imgFreeImage(id);
    }
}

// Every orientation of one photograph comes out upright: close to the
// unturned one (the JPEG files were each encoded anew, so not equal), and
// far from it when the orientation is not applied.
TEST(PictureDecoders, JpegOrientationsComeOutUpright) {
    const std::int64_t upright = load(picture("jpeg/pillow/hopper.jpg"));
    ASSERT_NE(upright, 0);
    const Bytes reference = topDownPixels(upright);
    imgFreeImage(upright);
    for (int o = 2; o <= 8; ++o) {
        SCOPED_TRACE(o);
        const std::string path = "jpeg/pillow/hopper_orientation_" + std::to_string(o) + ".jpg";
        const Bytes data = picture(path.c_str());
        PictureSummary summary{};
        ASSERT_TRUE(imgDescribePicture(data, summary));
        EXPECT_EQ(summary.orientation, o);
        const std::int64_t id = load(data);
        ASSERT_NE(id, 0);
        const Bytes turned = topDownPixels(id);
        imgFreeImage(id);
        ASSERT_EQ(turned.size(), reference.size());
        double difference = 0;
        for (std::size_t i = 0; i < turned.size(); ++i) difference += std::abs(turned[i] - reference[i]);
        EXPECT_LT(difference / static_cast<double>(turned.size()), 6.0);
    }
    // A 2 × 1 picture stored with orientation 8 stands 1 × 2.
    const std::int64_t tall = load(picture("jpeg/pillow/orientation_rectangle.jpg"));
    ASSERT_NE(tall, 0);
    EXPECT_EQ(imgGetImage(tall)->width, 1);
    EXPECT_EQ(imgGetImage(tall)->height, 2);
    imgFreeImage(tall);
}

// The data with one stray byte before the first segment of marker `code`:
// libjpeg warns of it and reads on, and so must every reader of the headers.
Bytes withStrayByteBefore(Bytes data, std::uint8_t code) {
    for (std::size_t i = 2; i + 1 < data.size(); ++i)
        if (data[i] == 0xFF && data[i + 1] == code) {
            data.insert(data.begin() + static_cast<std::ptrdiff_t>(i), std::uint8_t{0x00});
            return data;
        }
    return {};
}

// A stray byte between segments hides neither the EXIF orientation (APP1)
// nor the Adobe marker (APP14) that says CMYK is stored inverted.
TEST(PictureDecoders, StrayBytesBetweenJpegSegmentsHideNoSegment) {
    const struct {
        const char* path;
        std::uint8_t marker;
        int orientation;
    } cases[] = {
        {"jpeg/pillow/hopper_orientation_6.jpg", 0xE1, 6},
        {"jpeg/pillow/pil_sample_cmyk.jpg", 0xEE, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const Bytes original = picture(c.path);
        const Bytes stray = withStrayByteBefore(original, c.marker);
        ASSERT_EQ(stray.size(), original.size() + 1);
        PictureSummary summary{};
        ASSERT_TRUE(imgDescribePicture(stray, summary));
        EXPECT_EQ(summary.orientation, c.orientation);
        const std::int64_t a = load(original), b = load(stray);
        ASSERT_NE(a, 0);
        ASSERT_NE(b, 0);
        EXPECT_EQ(imgGetImage(b)->width, imgGetImage(a)->width);
        EXPECT_TRUE(topDownPixels(b) == topDownPixels(a));
        imgFreeImage(a);
        imgFreeImage(b);
    }
}

// A BigTIFF is refused on every system alike, as a format the system has
// no codec for (WIC has none), not as a damaged TIFF, and never loaded
// half-read (unturned): tiffcp -8 of a palette picture tagged with
// orientation 6.
TEST(PictureDecoders, BigTiffIsRefusedAsAFormatWithoutACodec) {
    const Bytes big = picture("tiff/made/palette-1c-8b-orientation-6.bigtiff.tif");
    ASSERT_EQ(big[2], 43);
    EXPECT_EQ(imgSniffFormat(big), kBigTiffFormat);
    EXPECT_FALSE(imgHasCodec(kBigTiffFormat));
    EXPECT_STREQ(imgFormatName(kBigTiffFormat), "BigTIFF");
    PictureSummary summary{};
    EXPECT_FALSE(imgDescribePicture(big, summary));
    plat::failBegin();
    EXPECT_EQ(load(big), 0);
    EXPECT_EQ(plat::failLast().code, plat::FailCode::NoCodec);
    EXPECT_STREQ(plat::failLast().text, "a BigTIFF picture, which this system has no codec for");
    EXPECT_EQ(octCatch(big.data(), static_cast<int64_t>(big.size())), nullptr);
    plat::failBegin();
}

// An animation loaded with all its frames keeps every one, each composed on
// the screen, with its delay; by default a load gives frame 0 alone.
TEST(PictureDecoders, GifFramesAreComposedWithTheirDelays) {
    const Bytes data = picture("gif/gif-test-suite/animated_loop_variable_delay.gif");
    const std::int64_t first = load(data);
    ASSERT_NE(first, 0);
    EXPECT_EQ(imgGetImage(first)->frameCount, 1);
    EXPECT_EQ(imgGetImage(first)->frames, nullptr);
    const Bytes firstPixels = topDownPixels(first);
    imgFreeImage(first);
    const std::int64_t id = imgLoadImageMemory(AnyId, data.data(), static_cast<std::int64_t>(data.size()), LoadFrames::All);
    ASSERT_NE(id, 0);
    const ImageObject* image = imgGetImage(id);
    ASSERT_GT(image->frameCount, 1);
    ASSERT_NE(image->frames, nullptr);
    EXPECT_EQ(image->handle, image->frames[0].bitmap);
    EXPECT_EQ(image->firstFrameDelay, image->frames[0].delay);
    bool delaysDiffer = false;
    for (std::int32_t i = 1; i < image->frameCount; ++i) delaysDiffer |= image->frames[i].delay != image->frames[0].delay;
    EXPECT_TRUE(delaysDiffer);
    EXPECT_EQ(topDownPixels(id), firstPixels);
    imgFreeImage(id);

    // octLoad and octCatch take the first frame.
    OctImage* record = octCatch(data.data(), static_cast<int64_t>(data.size()));
    ASSERT_NE(record, nullptr);
    EXPECT_GT(octWidth(record), 0);
    octFree(record);
}

// A first frame marked to be blended is still shown as stored: the colours
// its encoder kept under alpha 0 (the band of rows 10..13) come through, as
// libwebp's animation decoder and Pillow show them, not blended to black.
TEST(PictureDecoders, AFirstFrameShowsAsStoredWhateverItsBlend) {
    if (!plat::pictureHasCodec(plat::PictureFormat::WebP)) GTEST_SKIP() << "no WebP codec on this system";
    const std::int64_t id = load(picture("webp/made/anim-blend-first.webp"));
    ASSERT_NE(id, 0);
    const Bytes pixels = topDownPixels(id);
    imgFreeImage(id);
    ASSERT_EQ(pixels.size(), 60u * 40 * 4);
    for (const std::int32_t y : {0, 11, 20})
        for (const std::int32_t x : {0, 10, 30, 59}) {
            SCOPED_TRACE(testing::Message() << "x " << x << ", y " << y);
            const std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * 60 + x) * 4];
            const Bytes stored = {static_cast<std::uint8_t>(255 - x * 4), static_cast<std::uint8_t>(y * 6),
                                  static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y >= 10 && y < 14 ? 0 : 255)};
            EXPECT_EQ(Bytes(p, p + 4), stored);
        }
}

// A GIF of a 128 x 128 screen with a two-colour table: frame 0 covers the
// screen in colour 1, and `frames` − 1 frames of one pixel follow. Each
// frame's codes are 3 bits: a clear code before every two pixels, so that
// the code width never grows.
Bytes animatedGif(std::int32_t frames) {
    constexpr std::uint16_t kSide = 128;
    Bytes b = {'G', 'I', 'F', '8', '9', 'a', kSide, 0, kSide, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255};
    auto le16 = [&b](std::uint32_t v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    for (std::int32_t f = 0; f < frames; ++f) {
        const std::uint32_t side = f == 0 ? kSide : 1, x = f == 0 ? 0 : f % kSide, y = f == 0 ? 0 : f / kSide % kSide;
        b.insert(b.end(), {0x21, 0xF9, 4, 0x04, 10, 0, 0, 0});  // graphics control: keep, 100 ms
        b.push_back(0x2C);
        le16(x), le16(y), le16(side), le16(side);
        b.insert(b.end(), {0, 2});  // no local table; LZW minimum code size 2 (clear 4, end 5)
        Bytes codes;
        std::uint32_t bits = 0, used = 0;
        auto put = [&](std::uint32_t code) {
            bits |= code << used;
            used += 3;
            while (used >= 8) {
                codes.push_back(static_cast<std::uint8_t>(bits));
                bits >>= 8;
                used -= 8;
            }
        };
        for (std::uint32_t i = 0; i < side * side; ++i) {
            if (i % 2 == 0) put(4);
            put(1);
        }
        put(5);
        if (used) codes.push_back(static_cast<std::uint8_t>(bits));
        for (std::size_t at = 0; at < codes.size(); at += 255) {
            const std::size_t n = std::min<std::size_t>(255, codes.size() - at);
            b.push_back(static_cast<std::uint8_t>(n));
            b.insert(b.end(), codes.begin() + static_cast<std::ptrdiff_t>(at),
                     codes.begin() + static_cast<std::ptrdiff_t>(at + n));
        }
        b.push_back(0);
    }
    b.push_back(0x3B);
    return b;
}

struct CatchCost {
    bool loaded = false;
    double seconds = 0;
    std::int64_t codecCalls = 0, dibSections = 0;
};

// octCatch of the data, with the time it took and the codec calls and DIB
// sections it made (counted, never failed).
CatchCost catchCost(const Bytes& data) {
    CatchCost cost;
    plat::failCallAt(plat::FailKind::Codec, INT64_MAX);
    plat::failCallAt(plat::FailKind::DibSection, INT64_MAX);
    const auto start = std::chrono::steady_clock::now();
    OctImage* record = octCatch(data.data(), static_cast<int64_t>(data.size()));
    cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.codecCalls = plat::failCallsSeen(plat::FailKind::Codec);
    cost.dibSections = plat::failCallsSeen(plat::FailKind::DibSection);
    plat::failNone();
    cost.loaded = record != nullptr;
    octFree(record);
    return cost;
}

// The conversion takes frame 0 of an animation and decodes no other: 4,096
// frames convert in about the time of one, with one bitmap for the frame
// (and the screen it is laid on, for the rebuilt picture) rather than one a
// frame, and the codec asked as often as for a still picture.
TEST(PictureDecoders, AConversionDecodesTheFirstFrameOnly) {
    const Bytes one = animatedGif(1), many = animatedGif(4096);
    CatchCost still = catchCost(one);
    ASSERT_TRUE(still.loaded);
    const CatchCost animated = catchCost(many);
    ASSERT_TRUE(animated.loaded);
    still = catchCost(one);  // again, warm
    EXPECT_LE(animated.dibSections, still.dibSections + 1);
    EXPECT_LE(animated.codecCalls, still.codecCalls + 2);
    // Listing 4,096 frame headers is one pass over 80 KB; decoding each
    // frame took 4,096 passes and 4,096 bitmaps of the screen (389 s here
    // under the sanitizers, against 8 ms now). WIC opens every frame of a
    // GIF to list its rectangle, which is most of the time there (wine: 4 s
    // against 0.3 s for one frame); the counts above show it decodes one.
#ifndef _WIN32
    EXPECT_LT(animated.seconds, 10 * still.seconds + 0.1) << animated.seconds << " s against " << still.seconds;
#endif

    // The frames are all there for a caller that asks for them.
    const std::int64_t id = imgLoadImageMemory(AnyId, many.data(), static_cast<std::int64_t>(many.size()),
                                               LoadFrames::All);
    ASSERT_NE(id, 0);
    EXPECT_EQ(imgGetImage(id)->frameCount, 4096);
    imgFreeImage(id);
}

TEST(PictureDecoders, PicturesWithAlphaGiveAlphaLevels) {
    for (const char* path : {"png/pngsuite/basn6a08.png", "png/pngsuite/tbbn3p08.png",
                             "gif/gif-test-suite/static_transparent.gif"}) {
        const Bytes data = picture(path);
        OctImage* record = octCatch(data.data(), static_cast<int64_t>(data.size()));
        ASSERT_NE(record, nullptr) << path;
        EXPECT_EQ(octAlpha(record), 1) << path;
        octFree(record);
    }
    // Where the first frame leaves the screen uncovered it shows the frame's
    // transparent colour (red here), transparent, as viewers fill it.
    const std::int64_t id = load(picture("gif/pillow/first_frame_transparency.gif"));
    ASSERT_NE(id, 0);
    const Bytes pixels = topDownPixels(id);
    ASSERT_EQ(imgGetImage(id)->depth, 32);
    EXPECT_EQ(Bytes(pixels.begin(), pixels.begin() + 4), (Bytes{0, 0, 255, 0}));
    imgFreeImage(id);
    const Bytes opaque = picture("png/pngsuite/basn2c08.png");
    OctImage* record = octCatch(opaque.data(), static_cast<int64_t>(opaque.size()));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(octAlpha(record), 0);
    octFree(record);
}

// Files that declare a huge picture in a few bytes are refused from their
// headers, and damaged files fail cleanly, leaving a number's slot empty.
TEST(PictureDecoders, BombsAndDamagedFilesAreRefused) {
    // A GIF screen of 30000 × 30000 with one 1 × 1 frame.
    const Bytes gifBomb = {'G', 'I', 'F', '8', '9', 'a', 0x30, 0x75, 0x30, 0x75, 0, 0, 0, 0x2C, 0, 0, 0, 0, 1, 0,
                           1,   0,   0,   2,   2,   0x44, 1,  0,    0x3B};
    Bytes pngCut = picture("png/pngsuite/basn2c08.png");
    pngCut.resize(pngCut.size() / 2);
    Bytes jpegCut = picture("jpeg/pillow/hopper.jpg");
    jpegCut.resize(jpegCut.size() / 3);
    for (const Bytes* data : {&gifBomb, static_cast<const Bytes*>(&pngCut), static_cast<const Bytes*>(&jpegCut)}) {
        ASSERT_NE(imgCreateImage(4, 1, 1, 24), 0);
        EXPECT_EQ(imgLoadImageMemory(4, data->data(), static_cast<std::int64_t>(data->size())), 0);
        EXPECT_EQ(imgIsImage(4), 0);
        EXPECT_EQ(octCatch(data->data(), static_cast<int64_t>(data->size())), nullptr);
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(kData / "png-bad")) {
        if (entry.path().extension() != ".png") continue;
        const Bytes data = octtest::readFile(entry.path());
        const std::int64_t id = load(data);
        if (id) imgFreeImage(id);  // a clean outcome either way
    }
}

}  // namespace
}  // namespace oct
