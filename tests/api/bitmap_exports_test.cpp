// The Linux bitmap helpers: bitmaps over a host's own pixels (octBitmapWrap)
// convert as a copy of the same rows in a bitmap of the library's would, are
// refused with a reason when they cannot be read safely, and leave the host's
// memory as it was, during the conversion and after it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "oct.h"
#include "test_files.h"

#ifdef _WIN32

TEST(BitmapWrap, IsALinuxHelper) { GTEST_SKIP() << "oct.dll keeps its ten exports: no octBitmapWrap"; }

#else

namespace {

using octtest::Bytes;

// SplitMix64: the same bytes on every build.
struct Random {
    std::uint64_t state;
    std::uint8_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<std::uint8_t>(z ^ (z >> 31));
    }
};

// Pixels in the host's memory: `height` rows of `width` pixels `stride`
// bytes apart, stored top row first or bottom row first. The block ends
// with the last stored row's last pixel, so that the sanitizer sees any
// read past it.
struct HostRaster {
    std::int32_t width, height, bpp;
    std::int64_t stride;
    bool topRowFirst;
    Bytes bytes;

    HostRaster(std::int32_t w, std::int32_t h, std::int32_t bitsPerPixel, std::int64_t rowStride, bool topFirst,
               std::uint64_t seed)
        : width(w), height(h), bpp(bitsPerPixel), stride(rowStride), topRowFirst(topFirst),
          bytes(static_cast<std::size_t>((h - 1) * rowStride + static_cast<std::int64_t>(w) * (bitsPerPixel / 8))) {
        Random rng{seed};
        for (auto& b : bytes) b = rng.next();
    }
    // What octBitmapWrap takes: the bottom row, and the bytes to the row above.
    std::uint8_t* bits() { return bytes.data() + (topRowFirst ? (height - 1) * stride : 0); }
    std::int64_t pitch() const { return topRowFirst ? -stride : stride; }
    std::int64_t wrap() { return octBitmapWrap(bits(), width, height, pitch(), bpp); }
};

Bytes codesOf(OctImage* record) {
    const std::int64_t n = octLevelCodes(record, nullptr, 0);
    Bytes codes(static_cast<std::size_t>(n));
    EXPECT_EQ(octLevelCodes(record, codes.data(), n), n);
    return codes;
}

// The rebuilt bitmap's pixels, row by row without the padding.
Bytes rebuiltPixels(OctImage* record) {
    OctBitmap bm{};
    EXPECT_EQ(octBitmapInfo(octHandle(record), &bm), 1);
    const std::size_t row = static_cast<std::size_t>(bm.width) * (bm.bitsPerPixel / 8);
    Bytes out;
    for (std::int32_t r = 0; r < bm.height; ++r) {
        const auto* p = static_cast<const std::uint8_t*>(bm.bits) + static_cast<std::ptrdiff_t>(r) * bm.widthBytes;
        out.insert(out.end(), p, p + row);
    }
    return out;
}

// What the record saves with `flag`; empty when the save fails (a level file
// of 28 pixels or fewer is not made).
Bytes saved(OctImage* record, const octtest::TempDir& dir, const std::string& leaf, int flag) {
    const std::u16string name = dir.name(leaf);
    if (octSave(record, name.c_str(), flag) != 1) return {};
    return octtest::readFile(dir.path(leaf));
}

// The same rows copied into a bitmap of the library's, bottom row first.
std::int64_t sectionCopy(HostRaster& host) {
    const std::int64_t section = octBitmapCreate(host.width, host.height, host.bpp);
    OctBitmap bm{};
    EXPECT_EQ(octBitmapInfo(section, &bm), 1);
    const std::size_t row = static_cast<std::size_t>(host.width) * (host.bpp / 8);
    for (std::int32_t r = 0; r < host.height; ++r)
        std::memcpy(static_cast<std::uint8_t*>(bm.bits) + static_cast<std::ptrdiff_t>(r) * bm.widthBytes,
                    host.bits() + r * host.pitch(), row);
    return section;
}

TEST(BitmapWrap, ConvertsAsACopyOfTheSameRowsWould) {
    struct Case {
        const char* name;
        std::int32_t width, height, bpp;
        std::int64_t padding;  // stride = row of pixels + padding
        bool topRowFirst;
    };
    const Case cases[] = {
        {"24-bit rows unpadded, 21 bytes", 7, 9, 24, 0, false},
        {"24-bit rows top row first", 7, 9, 24, 0, true},
        {"32-bit rows unpadded", 11, 6, 32, 0, false},
        {"32-bit rows top row first", 11, 6, 32, 0, true},
        {"odd pitch", 13, 5, 24, 5, true},
        {"odd pitch with alpha", 13, 5, 32, 3, false},
        {"wide enough for the wide steps", 67, 5, 24, 1, true},
        {"wide enough for the wide steps with alpha", 67, 5, 32, 0, true},
        {"one pixel", 1, 1, 24, 0, true},
        {"one pixel with alpha", 1, 1, 32, 0, true},
        {"one column", 1, 40, 24, 0, true},
        {"one row", 45, 1, 32, 0, true},
        {"rows far apart", 9, 4, 24, 1000, true},
    };
    octtest::TempDir dir;
    std::uint64_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostRaster host(c.width, c.height, c.bpp, static_cast<std::int64_t>(c.width) * (c.bpp / 8) + c.padding,
                        c.topRowFirst, seed++);
        const Bytes before = host.bytes;
        const std::int64_t wrapped = host.wrap();
        ASSERT_NE(wrapped, 0);
        OctBitmap info{};
        ASSERT_EQ(octBitmapInfo(wrapped, &info), 1);
        EXPECT_EQ(info.bits, host.bits());
        EXPECT_EQ(info.widthBytes, host.pitch());
        EXPECT_EQ(info.width, c.width);
        EXPECT_EQ(info.height, c.height);
        EXPECT_EQ(info.bitsPerPixel, c.bpp);

        OctImage* mine = octConvert(wrapped);
        ASSERT_NE(mine, nullptr);
        const std::int64_t section = sectionCopy(host);
        OctImage* copy = octConvert(section);
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(octAlpha(mine), c.bpp == 32 ? 1 : 0);
        EXPECT_EQ(codesOf(mine), codesOf(copy));
        EXPECT_EQ(rebuiltPixels(mine), rebuiltPixels(copy));
        EXPECT_EQ(saved(mine, dir, "mine.oct", 0), saved(copy, dir, "copy.oct", 0));
        const Bytes bmp = saved(mine, dir, "mine.bmp", 1);
        EXPECT_FALSE(bmp.empty());
        EXPECT_EQ(bmp, saved(copy, dir, "copy.bmp", 1));
        EXPECT_EQ(host.bytes, before) << "the host's pixels were written";
        octFree(copy);
        octFree(mine);
        EXPECT_EQ(octBitmapDelete(section), 1);
        EXPECT_EQ(octBitmapDelete(wrapped), 1);
    }
}

// Deleting the bitmap leaves the memory to the host; the record keeps no
// pointer to it. Under the sanitizer a free by the library shows as a double
// free here, and a later read of the freed pixels as a use after free.
TEST(BitmapWrap, TheHostsMemoryIsNeitherFreedNorKept) {
    struct Case {
        int bpp;
        bool topRowFirst;
    };
    for (const auto [bpp, topRowFirst] : {Case{24, false}, Case{24, true}, Case{32, false}, Case{32, true}}) {
        SCOPED_TRACE(testing::Message() << bpp << (topRowFirst ? " top row first" : " bottom row first"));
        const std::int32_t width = 40, height = 30;
        const std::int64_t stride = width * (bpp / 8);
        auto* pixels = new std::uint8_t[static_cast<std::size_t>(stride * height)];
        for (std::int64_t i = 0; i < stride * height; ++i) pixels[i] = static_cast<std::uint8_t>(i * 13);
        const std::int64_t wrapped = topRowFirst
                                         ? octBitmapWrap(pixels + (height - 1) * stride, width, height, -stride, bpp)
                                         : octBitmapWrap(pixels, width, height, stride, bpp);
        ASSERT_NE(wrapped, 0);
        OctImage* record = octConvert(wrapped);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(octBitmapDelete(wrapped), 1);
        EXPECT_EQ(octBitmapDelete(wrapped), 0);
        OctBitmap info{};
        EXPECT_EQ(octBitmapInfo(wrapped, &info), 0);
        EXPECT_EQ(octConvert(wrapped), nullptr);
        EXPECT_EQ(pixels[stride * height - 1], static_cast<std::uint8_t>((stride * height - 1) * 13));
        pixels[0] = 1;  // still the host's to write
        delete[] pixels;

        octtest::TempDir dir;
        EXPECT_FALSE(saved(record, dir, "after.oct", 0).empty());
        EXPECT_FALSE(saved(record, dir, "after.bmp", 1).empty());
        EXPECT_EQ(codesOf(record).size(), static_cast<std::size_t>((width * height * (bpp == 32 ? 6 : 3) + 7) / 8));
        EXPECT_EQ(rebuiltPixels(record).size(), static_cast<std::size_t>(width * height * (bpp / 8)));
        octFree(record);
    }
}

TEST(BitmapWrap, RefusesWhatItCannotReadSafelySayingWhy) {
    std::uint8_t pixels[64] = {};
    void* const high = reinterpret_cast<void*>(UINTPTR_MAX - 100);
    void* const low = reinterpret_cast<void*>(std::uintptr_t{64});
    struct Case {
        void* bits;
        std::int64_t width, height, pitch, bpp;
        std::int64_t code;
        const char* text;
    };
    const Case cases[] = {
        {nullptr, 4, 4, 12, 24, OCT_EARGUMENT, "no pixels"},
        {pixels, 4, 4, 16, 16, OCT_EARGUMENT, "16 bits per pixel; a bitmap has 24 or 32"},
        {pixels, 4, 4, 16, 8, OCT_EARGUMENT, "8 bits per pixel; a bitmap has 24 or 32"},
        {pixels, 4, 4, 16, 0, OCT_EARGUMENT, "0 bits per pixel; a bitmap has 24 or 32"},
        {pixels, 0, 4, 12, 24, OCT_EARGUMENT, "a bitmap of 0 × 4 pixels; both sides must be 1 or more"},
        {pixels, 4, -1, 12, 24, OCT_EARGUMENT, "a bitmap of 4 × -1 pixels; both sides must be 1 or more"},
        {pixels, 4, 1, 11, 24, OCT_EARGUMENT, "rows 11 bytes apart; a row's pixels take 12"},
        {pixels + 48, 4, 2, -11, 24, OCT_EARGUMENT, "rows -11 bytes apart; a row's pixels take 12"},
        {pixels, 4, 1, 15, 32, OCT_EARGUMENT, "rows 15 bytes apart; a row's pixels take 16"},
        {pixels, 1, 1, 0, 24, OCT_EARGUMENT, "rows 0 bytes apart; a row's pixels take 3"},
        {pixels, std::int64_t{1} << 31, 1, std::int64_t{1} << 33, 32, OCT_ETOOLARGE,
         "a bitmap of 2147483648 × 1 pixels at 32 bits; at most 2147483647 bytes"},
        {pixels, 30000, 30000, 120000, 32, OCT_ETOOLARGE,
         "a bitmap of 30000 × 30000 pixels at 32 bits; at most 2147483647 bytes"},
        {pixels, 4, 2, std::int64_t{1} << 31, 24, OCT_ETOOLARGE, "rows 2147483648 bytes apart; at most 2147483647"},
        {pixels, 4, 2, -(std::int64_t{1} << 31), 24, OCT_ETOOLARGE, "rows -2147483648 bytes apart; at most 2147483647"},
        {low, 4, 3, -1000, 24, OCT_EARGUMENT, "rows that would run outside the address space"},
        {high, 4, 3, 1000, 24, OCT_EARGUMENT, "rows that would run outside the address space"},
        {high, 40, 1, 120, 24, OCT_EARGUMENT, "rows that would run outside the address space"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(octBitmapWrap(c.bits, c.width, c.height, c.pitch, c.bpp), 0);
        char text[256];
        EXPECT_EQ(octLastError(text, sizeof text), c.code);
        EXPECT_STREQ(text, c.text);
    }
    // A wrap that succeeds forgets the reason of the one before.
    const std::int64_t wrapped = octBitmapWrap(pixels + 48, 4, 4, -16, 32);
    ASSERT_NE(wrapped, 0);
    EXPECT_EQ(octLastError(nullptr, 0), OCT_ENONE);
    EXPECT_EQ(octBitmapDelete(wrapped), 1);
}

}  // namespace

#endif
