#include "image/loader.h"

#include <gtest/gtest.h>

#include "oct.h"

#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "image/bmp_reader.h"
#include "image/image.h"
#include "image_bytes.h"
#include "platform/bitmaps.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "runtime/module.h"
#include "test_files.h"

namespace oct {
namespace {

using octtest::Bytes;

const std::filesystem::path kCorpus = OCT_CORPUS_DIR;

// 24-bit, 2 × 2: bottom row (1,2,3) (4,5,6), top row (7,8,9) (10,11,12).
Bytes smallBmp() { return octtest::makeBmp({2, 2, 24, 0, {}, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}}); }

TEST(ImageLoading, FileAndMemoryGiveTheSameImage) {
    octtest::TempDir dir;
    const Bytes bmp = smallBmp();
    octtest::writeFile(dir.path("small.bmp"), bmp);
    const std::int64_t fromFile = imgLoadImage(AnyId, dir.name("small.bmp").c_str());
    const std::int64_t fromMemory = imgLoadImageMemory(AnyId, bmp.data(), static_cast<std::int64_t>(bmp.size()));
    ASSERT_NE(fromFile, 0);
    ASSERT_NE(fromMemory, 0);
    for (std::int64_t id : {fromFile, fromMemory}) {
        const ImageObject* image = imgGetImage(id);
        EXPECT_EQ(image->width, 2);
        EXPECT_EQ(image->height, 2);
        EXPECT_EQ(image->depth, 24);
        EXPECT_EQ(image->sourceDepth, 24);
        EXPECT_EQ(image->format, 0x00504D42u);
        EXPECT_EQ(image->frameCount, 1);
        EXPECT_EQ(image->frames, nullptr);
    }
    EXPECT_TRUE(octtest::pixelsOf(fromFile) == octtest::pixelsOf(fromMemory));
    EXPECT_EQ(octtest::pixelsOf(fromFile)[0], (octtest::Rgb{7, 8, 9}));
    imgFreeImage(fromFile);
    imgFreeImage(fromMemory);
}

// The raw bytes of an image's bitmap, row padding included.
Bytes bitmapBytes(std::int64_t id) {
    plat::BitmapDesc bm{};
    const ImageObject* image = imgGetImage(id);
    if (!image || !plat::bitmapDescribe(image->handle, bm) || !bm.bits) return {};
    const auto* p = static_cast<const std::uint8_t*>(bm.bits);
    return Bytes(p, p + static_cast<std::size_t>(bm.widthBytes) * static_cast<std::size_t>(bm.height));
}

// A plain 24-bit file is read straight into its bitmap; every variant must
// give the bytes the decoder makes of the same data in memory: row padding
// that is not zero in the file, a gap before the pixels, rows missing at the
// end (read the general way), a top-down file, and widths of every padding.
TEST(ImageLoading, PlainBmpFilesReadStraightIntoTheBitmapGiveTheDecodersBytes) {
    octtest::TempDir dir;
    std::vector<Bytes> files;
    for (std::int32_t width = 1; width <= 5; ++width) {
        const std::size_t row = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
        Bytes pixels(row * 3);
        for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(i * 37 + width);
        files.push_back(octtest::makeBmp({width, 3, 24, 0, {}, pixels}));
    }
    Bytes gap = files[2];
    gap.insert(gap.begin() + 54, {9, 9, 9, 9, 9});
    gap[10] = static_cast<std::uint8_t>(gap[10] + 5);  // the pixel offset moves past the gap
    files.push_back(gap);
    Bytes truncated = files[4];
    truncated.resize(truncated.size() - 7);
    files.push_back(truncated);
    Bytes topDown = files[3];
    topDown[22] = 0xFD, topDown[23] = topDown[24] = topDown[25] = 0xFF;  // height −3
    files.push_back(topDown);

    for (std::size_t i = 0; i < files.size(); ++i) {
        octtest::writeFile(dir.path("p.bmp"), files[i]);
        const std::int64_t fromFile = imgLoadImage(AnyId, dir.name("p.bmp").c_str());
        const std::int64_t fromMemory =
            imgLoadImageMemory(AnyId, files[i].data(), static_cast<std::int64_t>(files[i].size()));
        ASSERT_NE(fromFile, 0) << i;
        ASSERT_NE(fromMemory, 0) << i;
        EXPECT_EQ(bitmapBytes(fromFile), bitmapBytes(fromMemory)) << i;
        const ImageObject *a = imgGetImage(fromFile), *b = imgGetImage(fromMemory);
        EXPECT_EQ(a->width, b->width) << i;
        EXPECT_EQ(a->height, b->height) << i;
        EXPECT_EQ(a->sourceDepth, b->sourceDepth) << i;
        EXPECT_EQ(a->format, b->format) << i;
        imgFreeImage(fromFile);
        imgFreeImage(fromMemory);
    }
}

TEST(ImageLoading, NumbersGetTheHandleAndLoseTheirOldImage) {
    const Bytes bmp = smallBmp();
    ASSERT_NE(imgCreateImage(4, 3, 3, 24), 0);
    const plat::Handle old = imgImageHandle(4);
    const std::int64_t handle = imgLoadImageMemory(4, bmp.data(), static_cast<std::int64_t>(bmp.size()));
    ASSERT_NE(handle, 0);
    EXPECT_EQ(static_cast<plat::Handle>(handle), imgImageHandle(4));
    EXPECT_EQ(imgGetImage(4)->width, 2);
    if (old != static_cast<plat::Handle>(handle)) {
        EXPECT_EQ(plat::handleKind(old), plat::HandleKind::None);
    }
    imgFreeImage(4);
}

TEST(ImageLoading, DataNoReaderTakesLeavesTheNumberEmpty) {
    octtest::TempDir dir;
    // A ZIP file's first bytes: no icon, no picture.
    const Bytes bytes = {'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    octtest::writeFile(dir.path("not.zip"), bytes);
    ASSERT_NE(imgCreateImage(5, 3, 3, 24), 0);
    EXPECT_EQ(imgLoadImage(5, dir.name("not.zip").c_str()), 0);
    EXPECT_EQ(imgIsImage(5), 0);
    EXPECT_EQ(imgImageHandle(5), 0u);

    // From memory too, and for a dynamic id nothing is left behind.
    EXPECT_EQ(imgLoadImageMemory(AnyId, bytes.data(), static_cast<std::int64_t>(bytes.size())), 0);
}

TEST(ImageLoading, FilesThatCannotBeReadLeaveTheNumberAlone) {
    octtest::TempDir dir;
    ASSERT_NE(imgCreateImage(6, 3, 3, 24), 0);
    const plat::Handle kept = imgImageHandle(6);
    EXPECT_EQ(imgLoadImage(6, dir.name("missing.bmp").c_str()), 0);
    octtest::writeFile(dir.path("empty.bmp"), {});
    EXPECT_EQ(imgLoadImage(6, dir.name("empty.bmp").c_str()), 0);
    EXPECT_EQ(imgLoadImage(6, nullptr), 0);
    EXPECT_EQ(imgImageHandle(6), kept);
    imgFreeImage(6);
}

TEST(ImageLoading, MemoryBlocksBeyond32BitsAreRefusedUnread) {
    const Bytes bmp = smallBmp();
    ASSERT_NE(imgCreateImage(7, 3, 3, 24), 0);
    const plat::Handle kept = imgImageHandle(7);
    // The sizes are refused before a byte is read: the block is far smaller.
    for (std::int64_t size : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{INT32_MAX} + 1, std::int64_t{1} << 32,
                              (std::int64_t{1} << 32) + static_cast<std::int64_t>(bmp.size())})
        EXPECT_EQ(imgLoadImageMemory(7, bmp.data(), size), 0) << size;
    EXPECT_EQ(imgLoadImageMemory(7, nullptr, 100), 0);
    EXPECT_EQ(imgImageHandle(7), kept);
    imgFreeImage(7);
}

TEST(ImageLoading, NothingToDecodeWithoutAnAcceptingDecoder) {
    const Bytes junk(64, 0x42);
    EXPECT_EQ(imgFindDecoder(junk.data(), static_cast<std::int32_t>(junk.size())), 0u);
    EXPECT_EQ(imgDecodeFrame(), 0u);
    imgEndDecode();
}

TEST(ImageLoading, ThreadsLoadWithTheirOwnContexts) {
    // Two threads load different pictures over and over; each must always get its own.
    auto run = [](std::int32_t width, bool& ok) {
        const Bytes bmp = octtest::makeBmp({width, 1, 8, 0, {}, Bytes(static_cast<std::size_t>(width + 3) / 4 * 4)});
        for (int i = 0; i < 200 && ok; ++i) {
            const std::int64_t id = imgLoadImageMemory(AnyId, bmp.data(), static_cast<std::int64_t>(bmp.size()));
            ok = id != 0 && imgGetImage(id)->width == width;
            imgFreeImage(id);
        }
    };
    bool okA = true, okB = true;
    std::thread a(run, 3, std::ref(okA)), b(run, 17, std::ref(okB));
    a.join();
    b.join();
    EXPECT_TRUE(okA);
    EXPECT_TRUE(okB);
}

// ---------------------------------------------------------------------------
// A decoder of this test: data starting "FRAMES" followed by a frame count and
// the index of a frame that fails (or 0xFF); every frame is 2 × 3 at 32 bits,
// filled with its own index, with delay 10 × (index + 1).
// ---------------------------------------------------------------------------

struct FramesPrivate {
    int next;
    int failAt;
};
int gFramesCleanups = 0;

int framesCheck(DecodeContext& context) {
    if (context.dataSize < 8 || std::memcmp(context.data, "FRAMES", 6) != 0) return 0;
    context.width = 2;
    context.height = 3;
    context.depth = 32;
    context.sourceDepth = 7;
    context.frameCount = context.data[6];
    decoderPrivateStart<FramesPrivate>(context) = {0, context.data[7]};
    return 1;
}
int framesDecode(DecodeContext& context, std::uint8_t* bits, std::int32_t rowBytes, std::int32_t flags) {
    auto& own = decoderPrivate<FramesPrivate>(context);
    const int index = own.next++;
    if (index == own.failAt || flags != kDecodeBottomUp) return 0;
    std::memset(bits, index, static_cast<std::size_t>(rowBytes) * 3);
    context.frameDelay = 10 * (index + 1);
    return 1;
}
void framesCleanup(DecodeContext&) { ++gFramesCleanups; }
int neverCheck(DecodeContext&) { return 0; }

// A decoder that takes data which also begins with the level-file magic:
// "OCTL", width field 3, reserved byte 0xD7. It makes a white 3 × 2 picture.
int levelMagicCheck(DecodeContext& context) {
    if (context.dataSize < 22 || std::memcmp(context.data, "OCTL\x03\0\0\0", 8) != 0 || context.data[13] != 0xD7)
        return 0;
    context.width = 3;
    context.height = 2;
    context.depth = 24;
    context.sourceDepth = 24;
    return 1;
}
int whiteDecode(DecodeContext&, std::uint8_t* bits, std::int32_t rowBytes, std::int32_t) {
    std::memset(bits, 0xFF, static_cast<std::size_t>(rowBytes) * 2);
    return 1;
}
void noCleanup(DecodeContext&) {}


// A decoder that also reads files directly: data starting "DIRECT" is a
// 1 × 1 picture, blue 1 from memory and blue 2 when read straight from a file.
int directCheck(DecodeContext& context) {
    if (context.dataSize < 6 || std::memcmp(context.data, "DIRECT", 6) != 0) return 0;
    context.width = context.height = 1;
    context.depth = context.sourceDepth = 24;
    return 1;
}
int directDecode(DecodeContext&, std::uint8_t* bits, std::int32_t, std::int32_t) {
    bits[0] = 1;
    return 1;
}
bool directRead(plat::File* file, std::int64_t size, DirectPicture& out) {
    char head[6] = {};
    if (size < 6 || plat::fileReadAll(file, head, 6) != 6 || std::memcmp(head, "DIRECT", 6) != 0) return false;
    out = {imgCreateDIBSection(1, 1, 24), 1, 1, 24, 8};
    plat::BitmapDesc bm{};
    if (!out.bitmap || !plat::bitmapDescribe(out.bitmap, bm)) return false;
    static_cast<std::uint8_t*>(bm.bits)[0] = 2;
    return true;
}

const ImageDecoder kFramesDecoder{framesCheck, framesDecode, framesCleanup, imgFormatId('F', 'R', 'M', 'E')};
const ImageDecoder kLevelMagicDecoder{levelMagicCheck, whiteDecode, noCleanup, imgFormatId('O', 'C', 'T', 'L')};
const ImageDecoder kDirectDecoder{directCheck, directDecode, noCleanup, imgFormatId('D', 'R', 'C', 'T'), directRead};

// Registration belongs to module start, and a stop empties the registry;
// this test binary registers its decoders after the BMP decoder, again after
// any restart of the runtime.
void registerTestDecoders() {
    for (const ImageDecoder* decoder : {&kFramesDecoder, &kLevelMagicDecoder, &kDirectDecoder})
        ASSERT_TRUE(imgRegisterDecoder(decoder));
}

TEST(DecoderRegistry, HoldsThirtyDecodersOnePerIdUntilTheStop) {
    // A fresh start: the runtime's own decoders, the BMP decoder first.
    modStopAll();
    ASSERT_TRUE(modStartAll());
    const std::size_t builtIn = imgDecoders().size();
    ASSERT_GE(builtIn, 1u);
    EXPECT_EQ(imgDecoders()[0]->id, kBmpFormat) << "the BMP decoder is registered first";
    registerTestDecoders();
    ASSERT_EQ(imgDecoders().size(), builtIn + 3);

    EXPECT_TRUE(imgRegisterDecoder(&kFramesDecoder)) << "the same decoder again";
    EXPECT_EQ(imgDecoders().size(), builtIn + 3) << "and not entered twice";
    const ImageDecoder sameId{neverCheck, framesDecode, framesCleanup, kFramesDecoder.id};
    const ImageDecoder noId{neverCheck, framesDecode, framesCleanup, 0};
    const ImageDecoder noCheck{nullptr, framesDecode, framesCleanup, imgFormatId('N', 'O', 'N', 'E')};
    for (const ImageDecoder* refused : {&sameId, &noId, &noCheck, static_cast<const ImageDecoder*>(nullptr)})
        EXPECT_FALSE(imgRegisterDecoder(refused));

    static ImageDecoder fillers[30];
    int taken = 0;
    for (int k = 0; k < 30; ++k) {
        fillers[k] = {neverCheck, framesDecode, framesCleanup, imgFormatId('F', 'I', 'L', static_cast<char>('A' + k))};
        if (imgRegisterDecoder(&fillers[k])) ++taken;
    }
    EXPECT_EQ(taken, static_cast<int>(30 - builtIn - 3));
    // The decoders registered first still work.
    const Bytes bmp = smallBmp();
    std::int64_t id = imgLoadImageMemory(AnyId, bmp.data(), static_cast<std::int64_t>(bmp.size()));
    EXPECT_NE(id, 0);
    imgFreeImage(id);

    // A stop empties the registry; a start brings back the runtime's own alone.
    modStopAll();
    ASSERT_TRUE(modStartAll());
    ASSERT_EQ(imgDecoders().size(), builtIn);
    const Bytes frames = {'F', 'R', 'A', 'M', 'E', 'S', 1, 0xFF};
    EXPECT_EQ(imgFindDecoder(frames.data(), static_cast<std::int32_t>(frames.size())), 0u);
    id = imgLoadImageMemory(AnyId, bmp.data(), static_cast<std::int64_t>(bmp.size()));
    EXPECT_NE(id, 0);
    imgFreeImage(id);
}

// Files go first to the decoders that read them directly; memory, and files
// such a read leaves alone, go through check and decode.
TEST(DecoderRegistry, AnyDecoderMayReadFilesDirectly) {
    registerTestDecoders();
    octtest::TempDir dir;
    const Bytes data = {'D', 'I', 'R', 'E', 'C', 'T', 0};
    octtest::writeFile(dir.path("direct.bin"), data);
    const std::int64_t fromFile = imgLoadImage(AnyId, dir.name("direct.bin").c_str());
    const std::int64_t fromMemory = imgLoadImageMemory(AnyId, data.data(), static_cast<std::int64_t>(data.size()));
    ASSERT_NE(fromFile, 0);
    ASSERT_NE(fromMemory, 0);
    EXPECT_EQ(bitmapBytes(fromFile)[0], 2);
    EXPECT_EQ(imgGetImage(fromFile)->format, kDirectDecoder.id);
    EXPECT_EQ(imgGetImage(fromFile)->sourceDepth, 8);
    EXPECT_EQ(bitmapBytes(fromMemory)[0], 1);
    imgFreeImage(fromFile);
    imgFreeImage(fromMemory);

    // A number keeps the handle, and its old image goes.
    ASSERT_NE(imgCreateImage(5, 1, 1, 24), 0);
    const std::int64_t handle = imgLoadImage(5, dir.name("direct.bin").c_str());
    EXPECT_EQ(handle, static_cast<std::int64_t>(imgGetImage(5)->handle));
    EXPECT_EQ(imgGetImage(5)->format, kDirectDecoder.id);
    imgFreeImage(5);
}

TEST(DecoderRegistry, MultiFrameImagesKeepEveryFrame) {
    registerTestDecoders();
    const Bytes data = {'F', 'R', 'A', 'M', 'E', 'S', 3, 0xFF};
    const int cleanups = gFramesCleanups;
    const std::int64_t id =
        imgLoadImageMemory(AnyId, data.data(), static_cast<std::int64_t>(data.size()), LoadFrames::All);
    ASSERT_NE(id, 0);
    EXPECT_EQ(gFramesCleanups, cleanups + 1);
    const ImageObject* image = imgGetImage(id);
    EXPECT_EQ(image->format, 0x454D5246u);
    EXPECT_EQ(image->depth, 32);
    EXPECT_EQ(image->sourceDepth, 7);
    ASSERT_EQ(image->frameCount, 3);
    ASSERT_NE(image->frames, nullptr);
    EXPECT_EQ(image->handle, image->frames[0].bitmap);
    EXPECT_EQ(image->firstFrameDelay, 10);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(image->frames[i].delay, 10 * (i + 1));
        plat::BitmapDesc bm{};
        ASSERT_TRUE(plat::bitmapDescribe(image->frames[i].bitmap, bm));
        EXPECT_EQ(bm.bitsPerPixel, 32);
        EXPECT_EQ(static_cast<const std::uint8_t*>(bm.bits)[0], i);
    }
    const plat::Handle last = image->frames[2].bitmap;
    imgFreeImage(id);
    EXPECT_EQ(plat::handleKind(last), plat::HandleKind::None);

    // A frame that fails fails the load: no image with frames missing, and
    // the decoder is still cleaned up.
    const Bytes failing = {'F', 'R', 'A', 'M', 'E', 'S', 3, 1};
    ASSERT_NE(imgCreateImage(8, 1, 1, 24), 0);
    EXPECT_EQ(imgLoadImageMemory(8, failing.data(), static_cast<std::int64_t>(failing.size()), LoadFrames::All), 0);
    EXPECT_EQ(imgIsImage(8), 0);
    EXPECT_EQ(gFramesCleanups, cleanups + 2);

    // By default only frame 0 is decoded: the frame that fails is never
    // reached, and the image is a still one.
    const std::int64_t still = imgLoadImageMemory(AnyId, failing.data(), static_cast<std::int64_t>(failing.size()));
    ASSERT_NE(still, 0);
    EXPECT_EQ(imgGetImage(still)->frameCount, 1);
    EXPECT_EQ(imgGetImage(still)->frames, nullptr);
    imgFreeImage(still);
    EXPECT_EQ(gFramesCleanups, cleanups + 3);
}

}  // namespace
}  // namespace oct

namespace oct {
namespace {

TEST(DecoderRegistry, DataADecoderTakesIsAPictureEvenWithTheLevelMagic) {
    registerTestDecoders();
    std::vector<std::uint8_t> data(40, 0);
    std::memcpy(data.data(), "OCTL\x03\0\0\0\x02\0\0\0", 12);
    data[13] = 0xD7;
    data[14] = 6;  // a plausible raw size: without the decoder this would be read as a (corrupt) level file
    OctImage* r = octCatch(data.data(), static_cast<int64_t>(data.size()));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(octWidth(r), 3);
    EXPECT_EQ(octHeight(r), 2);
    plat::BitmapDesc bm{};
    ASSERT_TRUE(plat::bitmapDescribe(static_cast<plat::Handle>(octHandle(r)), bm));
    EXPECT_EQ(static_cast<const std::uint8_t*>(bm.bits)[0], 255) << "the decoder's white picture, not levels";
    octFree(r);
}

}  // namespace
}  // namespace oct
