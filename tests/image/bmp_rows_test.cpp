#include "image/bmp_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/bmp_reader.h"
#include "image/image.h"
#include "image/image_bytes.h"
#include "image/loader.h"
#include "platform/bitmaps.h"
#include "platform/fail_inject.h"
#include "platform/handles.h"
#include "test_files.h"

namespace oct {
namespace {

using octtest::Bytes;

// A BMP file whose information header is `headerSize` bytes (40 or more):
// masks inside it from 52 bytes, else right after it; then `gap` bytes and
// the rows.
struct FileFields {
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t headerSize = 40;
    std::vector<std::uint32_t> masks{};
    std::uint32_t reserved = 0;
    std::size_t gap = 0;
    Bytes rows{};
};

Bytes makeFile(const FileFields& f) {
    Bytes masks;
    for (std::uint32_t m : f.masks) octtest::put32(masks, m);
    Bytes info;
    octtest::put32(info, f.headerSize);
    octtest::put32(info, static_cast<std::uint32_t>(f.width));
    octtest::put32(info, static_cast<std::uint32_t>(f.height));
    octtest::put16(info, 1);
    octtest::put16(info, f.bitCount);
    octtest::put32(info, f.compression);
    octtest::put32(info, static_cast<std::uint32_t>(f.rows.size()));
    for (int i = 0; i < 4; ++i) octtest::put32(info, 0);
    octtest::append(info, masks);
    if (info.size() < f.headerSize) info.resize(f.headerSize, 0);
    const auto offset = static_cast<std::uint32_t>(14 + info.size() + f.gap);
    Bytes b{'B', 'M'};
    octtest::put32(b, offset + static_cast<std::uint32_t>(f.rows.size()));
    octtest::put32(b, f.reserved);
    octtest::put32(b, offset);
    octtest::append(b, info);
    b.resize(offset, 0xEE);
    octtest::append(b, f.rows);
    return b;
}

Bytes pattern(std::size_t n, unsigned seed = 0) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 37 + 11 + seed);
    return b;
}

// Stored rows of `rowBytes` each, in reverse order: what a top-down file
// holds for the same bottom-up rows.
Bytes reversedRows(const Bytes& rows, std::size_t rowBytes) {
    Bytes out;
    for (std::size_t at = rows.size(); at >= rowBytes; at -= rowBytes)
        out.insert(out.end(), rows.begin() + static_cast<std::ptrdiff_t>(at - rowBytes),
                   rows.begin() + static_cast<std::ptrdiff_t>(at));
    return out;
}

Bytes copiedRows(const StoredBmp& bmp) {
    Bytes out(static_cast<std::size_t>(bmp.rowBytes * bmp.height), 0xCC);
    imgCopyStoredBmpRows(bmp, out.data(), bmp.rowBytes);
    return out;
}

std::string reasonOf(const StoredBmp& bmp) {
    char text[kStoredBmpReasonSize];
    imgStoredBmpReason(bmp, text);
    return text;
}

TEST(BmpRows, TakesPlainRowsBottomRowFirstWithEveryByte) {
    const Bytes rows24 = pattern(16 * 3), rows32 = pattern(3 * 4 * 2, 5);  // 5 wide: 15 bytes + 1 of padding
    struct Case {
        const char* name;
        FileFields fields;
        std::int32_t bits;
        bool topDown;
        Bytes expected;  // bottom row first
    };
    const Case cases[] = {
        {"24 bits, odd width", {.width = 5, .height = 3, .rows = rows24}, 24, false, rows24},
        {"24 bits, top-down", {.width = 5, .height = -3, .rows = reversedRows(rows24, 16)}, 24, true, rows24},
        {"32 bits, fourth byte kept", {.width = 3, .height = 2, .bitCount = 32, .rows = rows32}, 32, false, rows32},
        {"32 bits, usual masks after the header",
         {.width = 3, .height = 2, .bitCount = 32, .compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}, .rows = rows32},
         32, false, rows32},
        {"32 bits, usual masks inside a v4 header, top-down",
         {.width = 3, .height = -2, .bitCount = 32, .compression = 3, .headerSize = 108,
          .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, .rows = reversedRows(rows32, 12)},
         32, true, rows32},
        {"reserved words the decoder refuses, rows after a gap",
         {.width = 5, .height = 3, .reserved = 0x12345678, .gap = 7, .rows = rows24}, 24, false, rows24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes file = makeFile(c.fields);
        file.push_back(0x99);  // bytes after the rows are not read
        StoredBmp bmp;
        ASSERT_TRUE(imgFindStoredBmpRows(file, bmp)) << reasonOf(bmp);
        EXPECT_EQ(bmp.refusal, StoredBmpRefusal::kNone);
        EXPECT_EQ(reasonOf(bmp), "");
        EXPECT_EQ(bmp.width, c.fields.width);
        EXPECT_EQ(bmp.height, std::abs(c.fields.height));
        EXPECT_EQ(bmp.bitsPerPixel, c.bits);
        EXPECT_EQ(bmp.topDown, c.topDown);
        EXPECT_EQ(copiedRows(bmp), c.expected);
    }
}

TEST(BmpRows, RefusesWhatItDoesNotTakeWithAReason) {
    const Bytes rows = pattern(16);
    const Bytes good = makeFile({.width = 2, .height = 2, .bitCount = 32, .rows = rows});
    constexpr const char* kNotBmp = "not a BMP file";
    constexpr const char* kLayout =
        "a compressed BMP file or one with unusual bit fields; only BI_RGB and the usual masks are read";
    constexpr const char* kNoPixels = "a BMP file without pixels";
    constexpr const char* kCut = "a BMP file whose pixel rows are cut short";
    Bytes core = makeFile({.rows = Bytes(4)});
    core[14] = 12;
    Bytes offsetPastEnd = good;
    offsetPastEnd[10] = 200;
    struct Case {
        const char* name;
        Bytes file;
        StoredBmpRefusal refusal;
        const char* reason;
    };
    const Case cases[] = {
        {"text", {'h', 'e', 'l', 'l', 'o'}, StoredBmpRefusal::kNotBmp, kNotBmp},
        {"ends before the compression", Bytes(good.begin(), good.begin() + 33), StoredBmpRefusal::kNotBmp, kNotBmp},
        {"core header", core, StoredBmpRefusal::kNotBmp, kNotBmp},
        {"39-byte header", makeFile({.headerSize = 39, .rows = Bytes(4)}), StoredBmpRefusal::kNotBmp, kNotBmp},
        {"8 bits", makeFile({.width = 4, .bitCount = 8, .gap = 1024, .rows = Bytes(4)}), StoredBmpRefusal::kBitCount,
         "a BMP file of 8 bits per pixel; only 24 and 32 are read"},
        {"16 bits", makeFile({.width = 2, .bitCount = 16, .rows = Bytes(4)}), StoredBmpRefusal::kBitCount,
         "a BMP file of 16 bits per pixel; only 24 and 32 are read"},
        {"run-length encoded", makeFile({.compression = 1, .rows = Bytes(4)}), StoredBmpRefusal::kLayout, kLayout},
        {"bit fields on 24 bits", makeFile({.compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}, .rows = Bytes(4)}),
         StoredBmpRefusal::kLayout, kLayout},
        {"alpha bit fields",
         makeFile({.bitCount = 32, .compression = 6, .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, .rows = Bytes(4)}),
         StoredBmpRefusal::kLayout, kLayout},
        {"masks in another order",
         makeFile({.bitCount = 32, .compression = 3, .masks = {0xFF, 0xFF00, 0xFF0000}, .rows = Bytes(4)}),
         StoredBmpRefusal::kLayout, kLayout},
        {"masks beyond the data", makeFile({.bitCount = 32, .compression = 3}), StoredBmpRefusal::kLayout, kLayout},
        {"width 0", makeFile({.width = 0}), StoredBmpRefusal::kNoPixels, kNoPixels},
        {"negative width", makeFile({.width = -2}), StoredBmpRefusal::kNoPixels, kNoPixels},
        {"height 0", makeFile({.height = 0}), StoredBmpRefusal::kNoPixels, kNoPixels},
        {"height -2^31", makeFile({.height = INT32_MIN}), StoredBmpRefusal::kNoPixels, kNoPixels},
        // 24 bits of this size would fit a bitmap; 32 bits do not.
        {"too large on 32 bits", makeFile({.width = 40000, .height = 15000, .bitCount = 32}),
         StoredBmpRefusal::kTooLarge, "a BMP file too large for a picture"},
        {"one byte short", Bytes(good.begin(), good.end() - 1), StoredBmpRefusal::kRowsCutShort, kCut},
        {"no rows after the offset", makeFile({.width = 2, .height = 2, .gap = 100}), StoredBmpRefusal::kRowsCutShort,
         kCut},
        {"offset past the end", offsetPastEnd, StoredBmpRefusal::kRowsCutShort, kCut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StoredBmp bmp;
        EXPECT_FALSE(imgFindStoredBmpRows(c.file, bmp));
        EXPECT_EQ(bmp.refusal, c.refusal);
        EXPECT_EQ(reasonOf(bmp), c.reason);
        EXPECT_TRUE(bmp.rows.empty());
        // Nothing is copied for a refused file.
        Bytes canary(64, 0xCC);
        imgCopyStoredBmpRows(bmp, canary.data(), 8);
        EXPECT_EQ(canary, Bytes(64, 0xCC));
    }
}

// The rows of every corpus file that is taken are the decoder's picture,
// the fourth byte aside: each pixel's blue, green and red agree.
TEST(BmpRows, AgreesWithTheDecoderOnTheCorpus) {
    int taken = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(std::filesystem::path(OCT_CORPUS_DIR) / "bmp")) {
        if (entry.path().extension() != ".bmp") continue;
        SCOPED_TRACE(entry.path().string());
        const Bytes file = octtest::readFile(entry.path());
        StoredBmp bmp;
        if (!imgFindStoredBmpRows(file, bmp)) continue;
        ++taken;
        const std::int64_t id = imgLoadImageMemory(AnyId, file.data(), static_cast<std::int64_t>(file.size()));
        ASSERT_NE(id, 0);
        const std::vector<octtest::Rgb> decoded = octtest::pixelsOf(id);  // top row first
        imgFreeImage(id);
        const Bytes rows = copiedRows(bmp);
        const std::size_t bytes = static_cast<std::size_t>(bmp.bitsPerPixel / 8);
        ASSERT_EQ(decoded.size(), static_cast<std::size_t>(bmp.width) * bmp.height);
        for (std::int32_t y = 0; y < bmp.height; ++y)
            for (std::int32_t x = 0; x < bmp.width; ++x) {
                const std::uint8_t* p =
                    rows.data() + static_cast<std::size_t>(bmp.height - 1 - y) * bmp.rowBytes + x * bytes;
                ASSERT_EQ((octtest::Rgb{p[0], p[1], p[2]}), decoded[static_cast<std::size_t>(y) * bmp.width + x])
                    << x << "," << y;
            }
    }
    EXPECT_GE(taken, 10);
}

TEST(BmpRows, LoadsAnImageOfTheFilesDepth) {
    const Bytes rows = pattern(3 * 4 * 2);
    const Bytes file = makeFile({.width = 3, .height = -2, .bitCount = 32, .rows = rows});
    StoredBmp bmp;
    const std::int64_t id = imgLoadStoredBmp(AnyId, file.data(), static_cast<std::int64_t>(file.size()), bmp);
    ASSERT_NE(id, 0);
    const ImageObject* image = imgGetImage(id);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->depth, 32);
    EXPECT_EQ(image->sourceDepth, 32);
    EXPECT_EQ(image->format, kBmpFormat);
    plat::BitmapDesc bm{};
    ASSERT_TRUE(plat::bitmapDescribe(image->handle, bm));
    const auto* bits = static_cast<const std::uint8_t*>(bm.bits);
    EXPECT_EQ(Bytes(bits, bits + rows.size()), reversedRows(rows, 12));
    imgFreeImage(id);

    // A numbered image: a refused file leaves it as it was, a taken one replaces it.
    constexpr std::int64_t kNumber = 7;
    ASSERT_NE(imgCreateImage(kNumber, 2, 2, 24), 0);
    const plat::Handle before = imgImageHandle(kNumber);
    const Bytes eight = makeFile({.width = 4, .bitCount = 8, .gap = 1024, .rows = Bytes(4)});
    EXPECT_EQ(imgLoadStoredBmp(kNumber, eight.data(), static_cast<std::int64_t>(eight.size()), bmp), 0);
    EXPECT_EQ(bmp.refusal, StoredBmpRefusal::kBitCount);
    EXPECT_EQ(imgImageHandle(kNumber), before);
    EXPECT_EQ(imgLoadStoredBmp(kNumber, nullptr, 10, bmp), 0);
    EXPECT_EQ(imgImageHandle(kNumber), before);
    const Bytes rgb = makeFile({.width = 5, .height = 3, .rows = pattern(48)});
    const std::int64_t handle = imgLoadStoredBmp(kNumber, rgb.data(), static_cast<std::int64_t>(rgb.size()), bmp);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(static_cast<plat::Handle>(handle), imgImageHandle(kNumber));
    EXPECT_EQ(imgGetImage(kNumber)->depth, 24);
    imgFreeImage(kNumber);
}

TEST(BmpRows, NoBitmapForTheRowsLeavesNothingBehind) {
    const Bytes file = makeFile({.width = 5, .height = 3, .rows = pattern(48)});
    for (const plat::FailKind kind : {plat::FailKind::DibSection, plat::FailKind::Alloc}) {
        const std::int64_t objects = plat::liveObjects();
        plat::failCallAt(kind, 1);
        StoredBmp bmp;
        const std::int64_t id = imgLoadStoredBmp(AnyId, file.data(), static_cast<std::int64_t>(file.size()), bmp);
        plat::failNone();
        EXPECT_EQ(id, 0);
        EXPECT_EQ(bmp.refusal, StoredBmpRefusal::kNone);  // taken, but no memory for it
        EXPECT_EQ(plat::liveObjects(), objects);
        if (id) imgFreeImage(id);
    }
}

}  // namespace
}  // namespace oct
