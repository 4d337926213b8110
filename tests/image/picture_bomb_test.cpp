// Pictures whose headers declare far more than their bytes hold, at the
// sizes hostile files use: each load is refused before anything large is
// asked for, by the library or by the system's codec. The library's own
// requests (heaps, DIB sections) are seen on every system; the codecs'
// mallocs where the sanitizers can hook them; on Windows the codec must
// not even be asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "../platform/picture_bombs.h"
#include "image/formats.h"
#include "image/image.h"
#include "image/limits.h"
#include "image/loader.h"
#include "image/picture_decoders.h"
#include "platform/fail_inject.h"
#include "platform/pictures.h"
#include "platform/png_encode.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#include <sanitizer/allocator_interface.h>
#define OCT_MALLOC_HOOKS 1
#endif
#endif

namespace oct {
namespace {

using octtest::Bytes;
using namespace octtest::bombs;

constexpr std::uint64_t kMostAllowed = std::uint64_t{64} << 20;

#ifdef OCT_MALLOC_HOOKS
std::atomic<std::uint64_t> gLargestMalloc{0};

void noteMalloc(const volatile void*, std::size_t size) {
    std::uint64_t largest = gLargestMalloc.load(std::memory_order_relaxed);
    while (size > largest && !gLargestMalloc.compare_exchange_weak(largest, size, std::memory_order_relaxed)) {
    }
}
void noteFree(const volatile void*) {}

bool mallocHooked() {
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(noteMalloc, noteFree) != 0;
    return installed;
}
#endif

// The largest request anyone in the process made since the last call.
std::uint64_t largestRequestSinceLast() {
    std::uint64_t largest = plat::largestRequestSeen(true);
#ifdef OCT_MALLOC_HOOKS
    if (mallocHooked()) largest = std::max<std::uint64_t>(largest, gLargestMalloc.exchange(0));
#endif
    return largest;
}

struct Bomb {
    std::string name;
    std::uint32_t format;
    Bytes bytes;
    bool refusedFromHeaders;  // false: refused later (the missing data fails the decode, or the frames' total)
};

std::vector<Bomb> bombs() {
    return {
        {"PNG header of 32767 x 32767 over a tiny stream", kPngFormat, pngDeclaring(32767), true},
        {"GIF logical screen of 65535 x 65535", kGifFormat, gifDeclaring(65535), true},
        {"JPEG frame of 65500 x 65500", kJpegFormat, jpegDeclaring(65500), true},
        {"TIFF of 16384 x 16384 whose strip claims 4 GB", kTiffFormat, tiffClaiming(16384, 0xFFFFFF00u), true},
        {"TIFF of 4096 x 4096 whose strip claims 4 GB", kTiffFormat, tiffClaiming(4096, 0xFFFFFF00u), false},
        {"WebP canvas of 16383 x 16383", kWebpFormat, webpDeclaring(16383), true},
        {"HEIF whose ispe declares 65535 x 65535", kHeifFormat,
         heifDeclaring(octtest::readFile(std::filesystem::path(OCT_CORPUS_DIR) / "heif/libheif/rainbow-451x461.heic"),
                       65535),
         true},
        {"AVIF whose ispe declares 65535 x 65535", kAvifFormat,
         heifDeclaring(octtest::readFile(std::filesystem::path(OCT_CORPUS_DIR) / "avif/libavif/white_1x1.avif"), 65535),
         true},
        // Within the sides, past what a few hundred bytes can fill.
        {"AVIF whose ispe declares 16384 x 16384", kAvifFormat,
         heifDeclaring(octtest::readFile(std::filesystem::path(OCT_CORPUS_DIR) / "avif/libavif/white_1x1.avif"), 16384),
         true},
        {"JPEG XL size header of 2^20 x 2^20", kJxlFormat, jxlDeclaring(1u << 20), true},
        {"JPEG XL size header of 1073741823 x 1073741823", kJxlFormat, jxlDeclaring(1073741823), true},
        // 69 frames kept as bitmaps of an 11308 x 256 screen: 800 MB from 8 KB.
        {"GIF of 69 frames on a wide screen", kGifFormat,
         octtest::readFile(std::filesystem::path(OCT_FUZZ_REGRESSIONS_DIR) / "jpeg_fuzz" /
                           "gif-69-frames-on-a-wide-screen.gif"),
         false},
    };
}

TEST(PictureBombs, AreRefusedWithoutALargeRequest) {
    for (const Bomb& bomb : bombs()) {
        SCOPED_TRACE(bomb.name);
        ASSERT_LT(bomb.bytes.size(), 10000u);
        if (!imgHasCodec(bomb.format)) continue;
        // Counted, never failed: whether the system's codec was asked at all.
        plat::failCallAt(plat::FailKind::Codec, INT64_MAX);
        (void)largestRequestSinceLast();
        const std::int64_t id = imgLoadImageMemory(AnyId, bomb.bytes.data(), static_cast<std::int64_t>(bomb.bytes.size()));
        const std::uint64_t largest = largestRequestSinceLast();
        const std::int64_t codecCalls = plat::failCallsSeen(plat::FailKind::Codec);
        plat::failNone();
        EXPECT_EQ(id, 0);
        if (id) imgFreeImage(id);
        EXPECT_LE(largest, kMostAllowed);
        // WIC decodes whole pictures as soon as a frame is asked for, so
        // the refusal must come from the headers, before it is created; the
        // same gate runs on Linux.
        if (bomb.refusedFromHeaders) {
            EXPECT_EQ(codecCalls, 0);
        }
    }
}

// The data rule is the most a format's coder can give, not a guess below it:
// the best deflate can do on a one-bit picture of 8192 x 8192 (256 MB as a
// bitmap of 4 bytes a pixel) is still taken, and the same header over a few
// hundred bytes is not.
TEST(PictureBombs, TheDataRuleAdmitsTheBestCompressionAPngCanHave) {
    constexpr std::int32_t kSide = 8192;
    const std::uint8_t palette[] = {0, 0, 0, 255, 255, 255};
    plat::PngPicture picture{};
    picture.width = kSide;
    picture.height = kSide;
    picture.colour = plat::PngColour::Indexed;
    picture.bitDepth = 1;
    picture.palette = palette;
    picture.paletteSize = 2;
    picture.level = 9;
    picture.filter = false;
    picture.row = [](void*, std::int32_t, std::uint8_t* out) { std::fill_n(out, kSide / 8, std::uint8_t{0}); };
    Bytes png;
    plat::ByteSink sink{};
    sink.context = &png;
    sink.write = [](void* context, const void* data, std::size_t size) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        static_cast<Bytes*>(context)->insert(static_cast<Bytes*>(context)->end(), p, p + size);
        return true;
    };
    ASSERT_TRUE(plat::pngEncode(picture, sink));
    const plat::PictureLimits limits{kMaxPictureSide, kMaxPictureBytes, kMaxPictureFrames, kUnbackedPictureBytes};
    EXPECT_TRUE(plat::pictureDataSuffices(plat::PictureFormat::Png, kSide, kSide, png.size(), limits)) << png.size();
    EXPECT_FALSE(plat::pictureDataSuffices(plat::PictureFormat::Png, kSide, kSide, 300, limits));
    // At most 64 MB as a bitmap, a picture needs no data behind it.
    EXPECT_TRUE(plat::pictureDataSuffices(plat::PictureFormat::WebP, 4096, 4096, 40, limits));
    EXPECT_FALSE(plat::pictureDataSuffices(plat::PictureFormat::WebP, 4096, 4097, 40, limits));
}

// The largest still picture, 16384 x 16384, is taken when its data can hold
// it, at 24 and at 32 bits (a still picture needs no screen beside its
// bitmap); one more row is refused. Only the headers are read.
TEST(PictureBombs, TheLargestStillPictureIsTakenWhenItsDataCanHoldIt) {
#ifdef _WIN32
    // WIC starts decoding when a frame is opened (wine does), and these
    // pictures are headers only; the checks are the same code on every system.
    GTEST_SKIP() << "needs header-only pictures, which WIC cannot open";
#endif
    struct Case {
        const char* name;
        std::uint32_t format;
        Bytes (*make)(std::uint32_t side);
        std::int32_t depth;
    };
    const Case cases[] = {{"JPEG", kJpegFormat, jpegDeclaring, 24}, {"PNG with alpha", kPngFormat, pngDeclaring, 32}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const std::uint32_t side : {16384u, 16385u}) {
            Bytes data = c.make(side);
            data.resize(std::size_t{1} << 20, 0);  // what the data rule asks for, with room to spare
            PictureSummary summary{};
            const bool taken = imgDescribePicture(data, summary);
            EXPECT_EQ(taken, side == 16384u) << side;
            if (taken) {
                EXPECT_EQ(summary.width, 16384);
                EXPECT_EQ(summary.height, 16384);
                EXPECT_EQ(summary.depth, c.depth);
            }
        }
    }
}

}  // namespace
}  // namespace oct
