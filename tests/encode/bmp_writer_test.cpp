#include "encode/bmp_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "encode/encoder.h"
#include "image/image.h"
#include "platform/bitmaps.h"
#include "runtime/heap.h"
#include "runtime/object_table.h"
#include "runtime/module.h"
#include "test_files.h"

namespace oct {
namespace {

using octtest::Bytes;
using octtest::TempDir;

Bytes hex(std::initializer_list<int> v) { return Bytes(v.begin(), v.end()); }

// Encodes into memory and returns the file's bytes (empty on failure).
Bytes encodeToMemory(const Bytes& pixels, std::int32_t w, std::int32_t h, std::int32_t pitch, std::int32_t mode,
                     std::int32_t depth, std::int32_t pixelDepth) {
    auto block = reinterpret_cast<std::uint8_t*>(
        imgBmpEncode(nullptr, {pixels.data(), w, h, pitch, mode}, {.flags = 0, .depth = depth}, pixelDepth));
    if (!block) return {};
    std::uint32_t size;
    std::memcpy(&size, block + 2, 4);
    Bytes out(block, block + size);
    memFree(block);
    return out;
}

TEST(BmpWriter, HeadersOfTheWorkedExamples) {
    // 24 bits, 2 × 2: rows of 8 bytes, file size 70.
    Bytes px24(16, 0);
    Bytes f24 = encodeToMemory(px24, 2, 2, 8, kEncodeBottomUp, 24, 24);
    ASSERT_EQ(f24.size(), 70u);
    EXPECT_EQ(Bytes(f24.begin(), f24.begin() + 54),
              hex({0x42, 0x4D, 0x46, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 0x28, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0, 1, 0,
                   0x18, 0, 0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    // 32 bits, 3 × 1: rows of 12 bytes, file size 66.
    Bytes px32(12, 0);
    Bytes f32 = encodeToMemory(px32, 3, 1, 12, kEncodeBottomUp, 32, 32);
    ASSERT_EQ(f32.size(), 66u);
    EXPECT_EQ(Bytes(f32.begin(), f32.begin() + 54),
              hex({0x42, 0x4D, 0x42, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 0x28, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 1, 0,
                   0x20, 0, 0, 0, 0, 0, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(BmpWriter, RowsAsStoredOrConverted) {
    // 32-bit rows in the file's layout are written as they are, alpha kept.
    const Bytes px = {10, 20, 30, 0, 40, 50, 60, 128};
    Bytes raw = encodeToMemory(px, 2, 1, 8, kEncodeBottomUp, 32, 32);
    EXPECT_EQ(Bytes(raw.begin() + 54, raw.end()), px);
    // Top-down rows go through the converting path: over white, fourth byte 0.
    Bytes conv = encodeToMemory(px, 2, 1, 8, 0, 32, 32);
    EXPECT_EQ(Bytes(conv.begin() + 54, conv.end()), hex({255, 255, 255, 0, 147, 152, 157, 0}));
    // 24-bit rows saved at 32 bits gain a 0 fourth byte.
    const Bytes px24 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0};
    Bytes up = encodeToMemory(px24, 3, 1, 12, kEncodeBottomUp, 32, 24);
    EXPECT_EQ(Bytes(up.begin() + 54, up.end()), hex({1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0}));
    // Top-down source: the last row in memory is written first.
    const Bytes twoRows = {1, 1, 1, 0, 2, 2, 2, 0};
    Bytes flip = encodeToMemory(twoRows, 1, 2, 4, 0, 24, 24);
    EXPECT_EQ(Bytes(flip.begin() + 54, flip.end()), hex({2, 2, 2, 0, 1, 1, 1, 0}));
}

TEST(BmpWriter, RefusedDepthsCreateNothing) {
    TempDir dir;
    const Bytes px(16, 0);
    for (std::int32_t depth : {16, 2, -1, 0, 48, 3, 7}) {
        EXPECT_EQ(imgBmpEncode(dir.name("x.bmp").c_str(), {px.data(), 2, 2, 8, kEncodeBottomUp}, {.flags = 0, .depth = depth}, 24), 0)
            << depth;
    }
    EXPECT_TRUE(dir.entries().empty());
}

TEST(BmpWriter, WidthZeroWritesTheHeadersOnly) {
    Bytes none;
    none.push_back(0);
    Bytes f = encodeToMemory(none, 0, 3, 0, kEncodeBottomUp, 24, 24);
    ASSERT_EQ(f.size(), 54u);
    EXPECT_EQ(f[34], 0);
}

TEST(BmpWriter, FailedSaveKeepsWhatHadTheName) {
    TempDir dir;
    const Bytes px(16, 7);
    // Replacing a folder cannot succeed: the folder stays, and no temporary file is left.
    std::filesystem::create_directory(dir.path("taken.bmp"));
    EXPECT_EQ(imgBmpEncode(dir.name("taken.bmp").c_str(), {px.data(), 2, 2, 8, kEncodeBottomUp}, {.flags = 0, .depth = 24}, 24), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir.path("taken.bmp")));
    EXPECT_EQ(dir.entries().size(), 1u);
    // A folder that does not exist.
    EXPECT_EQ(imgBmpEncode(dir.name("no/such.bmp").c_str(), {px.data(), 2, 2, 8, kEncodeBottomUp}, {.flags = 0, .depth = 24}, 24), 0);
    // A successful save replaces an existing file completely.
    octtest::writeFile(dir.path("old.bmp"), Bytes(500, 1));
    EXPECT_EQ(imgBmpEncode(dir.name("old.bmp").c_str(), {px.data(), 2, 2, 8, kEncodeBottomUp}, {.flags = 0, .depth = 24}, 24), 1);
    EXPECT_EQ(octtest::readFile(dir.path("old.bmp")), encodeToMemory(px, 2, 2, 8, kEncodeBottomUp, 24, 24));
    EXPECT_EQ(dir.entries().size(), 2u);
}

// ---------------------------------------------------------------------------
// imgSave and imgEncode
// ---------------------------------------------------------------------------

struct Captured {
    int entry = 0;  // 24 or 32
    Bytes firstRow;
    std::int32_t pitch = 0, mode = 0, flags = 0, depth = 0;
};
Captured gCaptured;

std::int64_t capture(int entry, const PixelRows& rows, const EncodeOptions& options) {
    gCaptured = {entry, Bytes(rows.pixels, rows.pixels + rows.width * (entry / 8)), rows.pitch, rows.mode,
                 options.flags, options.depth};
    return 1;
}
std::int64_t capture24(const char16_t*, const PixelRows& rows, const EncodeOptions& options) {
    return capture(24, rows, options);
}
std::int64_t capture32(const char16_t*, const PixelRows& rows, const EncodeOptions& options) {
    return capture(32, rows, options);
}
constexpr std::uint32_t kCaptureId = imgFormatId('T', 'E', 'S', 'T');
const ImageEncoder kCapture{kCaptureId, capture24, capture32};

// Registered again after any restart of the runtime, which empties the registry.
void registerCapture() { ASSERT_TRUE(imgRegisterEncoder(&kCapture)); }

TEST(ImageSave, ThirtyTwoBitsGoUnchangedOrFlattenedOntoWhite) {
    registerCapture();
    std::int64_t id = imgCreateImage(AnyId, 3, 1, 32);
    ASSERT_NE(id, 0);
    plat::BitmapDesc bm{};
    ASSERT_TRUE(plat::bitmapDescribe(imgImageHandle(id), bm));
    const std::uint8_t px[12] = {9, 9, 9, 0, 1, 2, 3, 255, 100, 100, 100, 128};
    std::memcpy(bm.bits, px, 12);

    EXPECT_EQ(imgSave(id, u"x", kCaptureId, {.flags = 5}), 1);
    EXPECT_EQ(gCaptured.entry, 32);
    EXPECT_EQ(gCaptured.firstRow, Bytes(px, px + 12));
    EXPECT_EQ(gCaptured.mode, kEncodeBottomUp);
    EXPECT_EQ(gCaptured.flags, 5);
    EXPECT_EQ(gCaptured.depth, 32);  // the source depth

    EXPECT_EQ(imgSave(id, u"x", kCaptureId, {.flags = 7, .depth = 24}), 1);
    EXPECT_EQ(gCaptured.entry, 24);
    EXPECT_EQ(gCaptured.firstRow, hex({255, 255, 255, 1, 2, 3, 177, 177, 177}));
    EXPECT_EQ(gCaptured.pitch, 12);
    EXPECT_EQ(gCaptured.depth, 24);
    imgFreeImage(id);
}

TEST(ImageSave, RefusesWithoutNameImageOrEncoder) {
    registerCapture();
    std::int64_t id = imgCreateImage(AnyId, 2, 2, 24);
    ASSERT_NE(id, 0);
    EXPECT_EQ(imgSave(id, nullptr, kCaptureId), 0);
    EXPECT_EQ(imgSave(id, u"", kCaptureId), 0);
    EXPECT_EQ(imgSave(id, u"x", 0x12345678), 0);
    imgFreeImage(id);
    EXPECT_EQ(imgSave(id, u"x", kCaptureId), 0);
    EXPECT_EQ(imgOverWhite(100, 128), 177);
    EXPECT_EQ(imgOverWhite(0, 0), 255);
    EXPECT_EQ(imgOverWhite(37, 255), 37);
}

TEST(ImageSave, BmpOfAnImageIsItsMemoryRows) {
    TempDir dir;
    std::int64_t id = imgCreateImage(AnyId, 3, 2, 24, 0x00102030);
    ASSERT_NE(id, 0);
    ASSERT_EQ(imgSave(id, dir.name("img.bmp").c_str()), 1);
    Bytes f = octtest::readFile(dir.path("img.bmp"));
    ASSERT_EQ(f.size(), 54u + 12 * 2);
    EXPECT_EQ(f[28], 24);
    EXPECT_EQ(f[54], 0x10);  // blue first
    EXPECT_EQ(f[56], 0x30);
    imgFreeImage(id);
}

// Both picture registries follow one rule: filled at start, emptied at stop,
// one entry per id. Stops and starts therefore never fill them, and an
// encoder registered after a start is gone after the next stop.
TEST(ImageSave, EncoderRegistryIsEmptiedAtStopAndTakesOneEntryPerId) {
    registerCapture();
    for (int i = 0; i < 40; ++i) {
        modStopAll();
        ASSERT_TRUE(modStartAll());
    }
    std::int64_t id = imgCreateImage(AnyId, 2, 1, 24);
    ASSERT_NE(id, 0);
    EXPECT_EQ(imgSave(id, u"x", kCaptureId), 0) << "the capture encoder went with the stop";
    static constexpr ImageEncoder kOther{imgFormatId('A', 'T', 'H', 'R'), capture24, capture32};
    EXPECT_TRUE(imgRegisterEncoder(&kOther));
    EXPECT_TRUE(imgRegisterEncoder(&kOther)) << "the same encoder again";
    static constexpr ImageEncoder kSameId{kOther.id, capture24, nullptr};
    EXPECT_FALSE(imgRegisterEncoder(&kSameId)) << "another encoder with a registered id";
    static constexpr ImageEncoder kNoEntry{imgFormatId('N', 'O', 'N', 'E'), nullptr, capture32};
    EXPECT_FALSE(imgRegisterEncoder(&kNoEntry)) << "an encoder without its 24-bit entry";
    EXPECT_FALSE(imgRegisterEncoder(nullptr));
    EXPECT_EQ(imgSave(id, u"x", kOther.id), 1);
    EXPECT_EQ(gCaptured.entry, 24);
    imgFreeImage(id);

    // The rest of the 30 places, then one too many.
    static ImageEncoder fillers[30];
    int taken = 0;
    for (std::uint32_t k = 0; k < 30; ++k) {
        fillers[k] = {imgFormatId('F', 'I', 'L', static_cast<char>('A' + k)), capture24, nullptr};
        if (imgRegisterEncoder(&fillers[k])) ++taken;
    }
    EXPECT_EQ(taken, 30 - 3) << "the BMP and PNG encoders and the other came first";
    ASSERT_NE(imgCreateImage(3, 1, 1, 24), 0);
    EXPECT_EQ(imgSave(3, u"x", kOther.id), 1) << "the first entries still work";
    imgFreeImage(3);
    modStopAll();
    ASSERT_TRUE(modStartAll());
}

}  // namespace
}  // namespace oct
