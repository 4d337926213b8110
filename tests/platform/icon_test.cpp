// Icons built from icon-file images. The same expectations hold on Windows,
// where USER32 builds the icons, and on Linux, where the layer's own objects
// must give the same answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/bitmaps.h"
#include "platform/handles.h"
#include "test_files.h"

#ifndef _WIN32
#include "platform/posix/objects.h"
#endif

namespace oct::plat {
namespace {

using octtest::Bytes;

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t get32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint32_t get32be(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}
std::size_t rowBytes(int width, int bpp) { return static_cast<std::size_t>((width * bpp + 31) / 32 * 4); }

// A bitmap icon image: 40-byte header, colour table (or red, green and blue
// masks of 5-6-5 or 8-8-8 bits), patterned colour rows, clear AND-mask rows.
struct Recipe {
    int width = 8, height = 8, bpp = 32;
    std::uint32_t compression = 0, coloursUsed = 0;
    std::vector<std::uint32_t> palette = {};  // first entries; the rest are greys
};

std::size_t tableEntries(const Recipe& s) {
    if (s.compression == 3) return 3;
    if (s.bpp <= 8) return s.coloursUsed ? s.coloursUsed : 1u << s.bpp;
    return s.coloursUsed;
}

Bytes bitmapImage(const Recipe& s) {
    const std::size_t table = tableEntries(s), colour = rowBytes(s.width, s.bpp) * s.height;
    Bytes b(40 + 4 * table + colour + rowBytes(s.width, 1) * s.height, 0);
    put32(b, 0, 40);
    put32(b, 4, static_cast<std::uint32_t>(s.width));
    put32(b, 8, static_cast<std::uint32_t>(2 * s.height));
    b[12] = 1;
    b[14] = static_cast<std::uint8_t>(s.bpp);
    put32(b, 16, s.compression);
    put32(b, 32, s.coloursUsed);
    for (std::size_t i = 0; i < table; ++i)
        put32(b, 40 + 4 * i, i < s.palette.size() ? s.palette[i] : static_cast<std::uint32_t>(0x101010 * (i % 16)));
    if (s.compression == 3) {
        const bool bits16 = s.bpp == 16;
        put32(b, 40, bits16 ? 0xF800 : 0xFF0000);
        put32(b, 44, bits16 ? 0x07E0 : 0x00FF00);
        put32(b, 48, bits16 ? 0x001F : 0x0000FF);
    }
    for (std::size_t i = 0; i < colour; ++i) b[40 + 4 * table + i] = static_cast<std::uint8_t>(i * 37 + 11);
    return b;
}

const std::vector<std::uint32_t> kBlackWhite = {0x000000, 0xFFFFFF};

// What the platform says about a built icon: the size of its colour bitmap,
// kMono for an icon without one, kNone for no icon.
struct Answer {
    int width, height;
    bool operator==(const Answer&) const = default;
};
constexpr Answer kNone{0, 0};
constexpr Answer kMono{-1, -1};
void PrintTo(const Answer& a, std::ostream* os) {
    if (a == kNone) *os << "no icon";
    else if (a == kMono) *os << "monochrome icon";
    else *os << a.width << " x " << a.height;
}

// Asks, checks what every icon shares, and destroys the icon.
Answer answer(Handle icon) {
    if (!icon) return kNone;
    EXPECT_EQ(handleKind(icon), HandleKind::Icon);
    Answer a = kMono;
    BitmapDesc d{};
    if (iconDescribe(icon, d)) {
        // A device bitmap of a 32-bit display: one plane, unpadded rows, no
        // addressable pixels.
        EXPECT_EQ(d.type, 0);
        EXPECT_EQ(d.planes, 1);
        EXPECT_EQ(d.bitsPerPixel, 32);
        EXPECT_EQ(d.widthBytes, 4 * d.width);
        EXPECT_EQ(d.bits, nullptr);
        a = {d.width, d.height};
    }
    EXPECT_TRUE(objectDelete(icon));
    EXPECT_EQ(handleKind(icon), HandleKind::None);
    return a;
}
Answer built(const Bytes& image, std::int32_t width, std::int32_t height) {
    return answer(iconFromResource(image.data(), image.size(), width, height));
}
Answer builtDefault(const Bytes& image) { return answer(iconFromResourceDefault(image.data(), image.size())); }

// ---------------------------------------------------------------------------
// Synthetic bitmap images
// ---------------------------------------------------------------------------

TEST(PlatformIcon, EveryBitDepthBuildsA32BitColourBitmap) {
    const struct {
        const char* name;
        Recipe recipe;
    } cases[] = {
        {"1 bit, white then black", {8, 8, 1, 0, 0, {0xFFFFFF, 0x000000}}},
        {"1 bit, red and blue", {8, 8, 1, 0, 0, {0xFF0000, 0x0000FF}}},
        {"1 bit, white with a reserved byte", {8, 8, 1, 0, 0, {0x000000, 0xFFFFFFFF}}},
        {"4 bits", {8, 8, 4}},
        {"4 bits, odd size", {5, 3, 4}},
        {"8 bits, short table", {8, 8, 8, 0, 2}},
        {"16 bits", {8, 8, 16}},
        {"16 bits, bit fields", {8, 8, 16, 3}},
        {"24 bits, odd size", {5, 3, 24}},
        {"24 bits, skipped table", {8, 8, 24, 0, 4}},
        {"32 bits, bit fields", {8, 8, 32, 3}},
        {"32 bits, 256 a side", {256, 256, 32}},
        {"32 bits, wide and flat", {256, 4, 32}},
    };
    for (const auto& c : cases) {
        const Bytes image = bitmapImage(c.recipe);
        const Answer own{c.recipe.width, c.recipe.height};
        EXPECT_EQ(built(image, c.recipe.width, c.recipe.height), own) << c.name;
        EXPECT_EQ(built(image, 0, 0), own) << c.name << ", no desired size";
        EXPECT_EQ(builtDefault(image), (Answer{32, 32})) << c.name << ", default size";
    }
    Bytes trailing = bitmapImage({8, 8, 24});
    trailing.resize(trailing.size() + 100, 0xEE);
    EXPECT_EQ(built(trailing, 8, 8), (Answer{8, 8})) << "bytes after the image";
}

TEST(PlatformIcon, BlackAndWhiteOneBitImagesHaveNoColourBitmap) {
    Bytes oneUsed = bitmapImage({8, 8, 1, 0, 1, {0x000000}});
    put32(oneUsed, 44, 0xFFFFFF);  // white is read from the bytes after black all the same
    const struct {
        const char* name;
        Bytes image;
    } cases[] = {
        {"whole table", bitmapImage({8, 8, 1, 0, 0, kBlackWhite})},
        {"two colours used", bitmapImage({8, 8, 1, 0, 2, kBlackWhite})},
        {"odd size", bitmapImage({5, 3, 1, 0, 0, kBlackWhite})},
        {"one colour used", oneUsed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(built(c.image, 0, 0), kMono) << c.name;
        EXPECT_EQ(built(c.image, 16, 16), kMono) << c.name;
        EXPECT_EQ(builtDefault(c.image), kMono) << c.name;
    }
}

TEST(PlatformIcon, DesiredSizeDecidesTheBuiltSize) {
    const Bytes image = bitmapImage({8, 8, 32});
    const struct {
        std::int32_t width, height;
        Answer want;
    } cases[] = {
        {16, 16, {16, 16}}, {1, 1, {1, 1}}, {16, 0, {16, 8}}, {0, 16, {8, 16}}, {300, 300, {300, 300}},
        {1024, 1, {1024, 1}},
        // Negative sides, and sides past 1024 (such as the bytes of a PNG
        // signature read as a bitmap header's width and height), make no icon.
        {-1, -1, kNone}, {-8, 8, kNone}, {8, -8, kNone}, {1025, 8, kNone}, {8, 1025, kNone},
        {0x0A1A0A0D, 0x06800000, kNone},
    };
    for (const auto& c : cases) EXPECT_EQ(built(image, c.width, c.height), c.want) << c.width << " x " << c.height;
}

TEST(PlatformIcon, RefusesImagesThatDoNotHoldWhatTheirHeaderDeclares) {
    const Bytes good = bitmapImage({8, 8, 32});
    struct Case {
        std::string name;
        Bytes image;
    };
    std::vector<Case> cases;
    for (int bpp : {1, 4, 8, 16, 24, 32}) {
        const Bytes full = bitmapImage({8, 8, bpp, 0, 0, kBlackWhite});
        for (std::size_t cut : {std::size_t{1}, rowBytes(8, 1) * 8 / 2, rowBytes(8, 1) * 8, full.size() - 40})
            cases.push_back({std::to_string(bpp) + " bits, " + std::to_string(cut) + " bytes cut",
                             Bytes(full.begin(), full.end() - static_cast<std::ptrdiff_t>(cut))});
    }
    cases.push_back({"39 bytes", Bytes(good.begin(), good.begin() + 39)});
    cases.push_back({"empty", Bytes{}});
    auto with = [&](const std::string& name, std::size_t at, std::uint32_t value) {
        Bytes b = good;
        put32(b, at, value);  // at the bit count this also clears compression, already 0
        cases.push_back({name, b});
    };
    for (std::uint32_t size : {12u, 39u, 41u, 108u, 124u}) with("header size " + std::to_string(size), 0, size);
    for (std::int32_t w : {0, -8, 257}) with("width " + std::to_string(w), 4, static_cast<std::uint32_t>(w));
    for (std::int32_t h : {0, 1, -16, 514}) with("stored height " + std::to_string(h), 8, static_cast<std::uint32_t>(h));
    for (std::uint32_t bpp : {0u, 2u, 64u}) with("bit count " + std::to_string(bpp), 14, bpp);
    for (std::uint32_t comp : {1u, 2u, 4u, 5u}) with("compression " + std::to_string(comp), 16, comp);
    cases.push_back({"bit fields at 24 bits", bitmapImage({8, 8, 24, 3})});
    Bytes longTable = bitmapImage({8, 8, 8, 0, 256});
    put32(longTable, 32, 257);
    cases.push_back({"257 colours used at 8 bits", longTable});
    cases.push_back({"257 a side", bitmapImage({257, 257, 32})});

    for (const Case& c : cases) {
        EXPECT_EQ(built(c.image, 8, 8), kNone) << c.name;
        EXPECT_EQ(builtDefault(c.image), kNone) << c.name << ", default size";
    }
    EXPECT_EQ(iconFromResource(nullptr, 100, 8, 8), 0u);
    EXPECT_EQ(iconFromResourceDefault(nullptr, 100), 0u);
}

// ---------------------------------------------------------------------------
// Images of real icon files
// ---------------------------------------------------------------------------

// Entry `index` of an icon file's directory, or nothing when the file does
// not hold it. Directory: 6 bytes, then 16 bytes an entry with the image's
// size at offset 8 and its offset in the file at offset 12.
Bytes entryImage(const std::string& file, std::size_t index = 0) {
    const Bytes data = octtest::readFile(std::string(OCT_CORPUS_DIR) + "/ico/" + file);
    const std::size_t entry = 6 + 16 * index;
    if (data.size() < entry + 16) return {};
    const std::uint32_t size = get32(data, entry + 8), offset = get32(data, entry + 12);
    if (offset > data.size() || size > data.size() - offset) return {};
    return Bytes(data.begin() + offset, data.begin() + offset + size);
}

// What the icon reader asks for: the width and half the height found at a
// bitmap header's positions (in a PNG stream, bytes of its signature and IHDR).
Answer builtAsTheReaderAsks(const Bytes& image) {
    return built(image, static_cast<std::int32_t>(get32(image, 4)), static_cast<std::int32_t>(get32(image, 8)) / 2);
}

TEST(PlatformIcon, CorpusBitmapImagesBuildAtTheirOwnSize) {
    const struct {
        const char* file;
        Answer want;
    } cases[] = {
        {"1bpp_8x8.ico", kMono},
        {"black_and_white.ico", kMono},
        {"icon.ico", kMono},
        {"8bpp_8x8.ico", {8, 8}},
        {"32bpp_8x8.ico", {8, 8}},
        {"smile.ico", {32, 32}},
        {"hopper.ico", {16, 16}},
        {"hopper_mask.ico", {16, 16}},  // its white has a reserved byte: not black and white
        {"bmp-24bpp-mask.ico", {32, 32}},
        {"bmp-32bpp-alpha.ico", {32, 32}},
        {"bmp-32bpp-conflicting-and-mask.ico", {16, 16}},
        {"multiple_entries_with_different_bit_depth.ico", {32, 32}},
        {"ship.ico", {16, 16}},
        {"q/hopper_unexpected.ico", {16, 16}},
        {"cursor.cur", {128, 128}},
        {"bmp_v5_with_icc.ico", kNone},         // 124-byte header
        {"q/truncated_mask_32bpp.ico", kNone},  // mask rows missing
        {"bad/decompression_bomb.ico", kNone},  // 65,535 a side
    };
    for (const auto& c : cases) {
        const Bytes image = entryImage(c.file);
        ASSERT_GE(image.size(), 40u) << c.file;
        EXPECT_EQ(builtAsTheReaderAsks(image), c.want) << c.file;
        const Answer byDefault = c.want == kNone || c.want == kMono ? c.want : Answer{32, 32};
        EXPECT_EQ(builtDefault(image), byDefault) << c.file << ", default size";
    }
}

TEST(PlatformIcon, CorpusPngImagesBuildAtTheStreamsSize) {
    const struct {
        const char* file;
        Answer own;
    } cases[] = {
        {"png-32bpp-alpha.ico", {32, 32}}, {"png_rgb8.ico", {32, 32}},  {"hopper_draw.ico", {16, 16}},
        {"pillow.ico", {256, 256}},
        {"q/lenient-bpp.ico", {256, 256}},  // a 1-bit palette stream still has a colour bitmap
    };
    for (const auto& c : cases) {
        const Bytes image = entryImage(c.file);
        ASSERT_GE(image.size(), 33u) << c.file;
        // Far too large: the icon reader then goes on to the default size.
        EXPECT_EQ(builtAsTheReaderAsks(image), kNone) << c.file;
        EXPECT_EQ(built(image, 0, 0), c.own) << c.file;
        EXPECT_EQ(built(image, 48, 24), (Answer{48, 24})) << c.file;
        EXPECT_EQ(builtDefault(image), (Answer{32, 32})) << c.file;
    }
}

TEST(PlatformIcon, RefusesBrokenPngStreams) {
    const Bytes image = entryImage("png-32bpp-alpha.ico");
    ASSERT_GT(image.size(), 100u);
    // Cut inside the pixel data, right after the header chunk, or inside it.
    for (std::size_t size : {image.size() / 2, std::size_t{33}, std::size_t{20}, std::size_t{8}}) {
        const Bytes cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(size));
        EXPECT_EQ(built(cut, 0, 0), kNone) << size;
        EXPECT_EQ(builtDefault(cut), kNone) << size;
    }
    // Only the closing chunk's checksum missing: every pixel is there.
    EXPECT_EQ(built(Bytes(image.begin(), image.end() - 1), 0, 0), (Answer{32, 32}));
    // A header that claims 469,762,080 columns.
    EXPECT_EQ(built(entryImage("bad/oom-0d0085eb7f66ea55d9119206235cd29e089b9140.ico"), 0, 0), kNone);
    Bytes renamed = image;
    renamed[12] = 'X';  // the first chunk is not IHDR
    EXPECT_EQ(built(renamed, 0, 0), kNone);
    // Larger than an icon directory can describe: 512 × 512.
    EXPECT_EQ(built(entryImage("litexl.ico"), 0, 0), kNone);
}

// Walks the chunks of a PNG stream: the offset of each chunk's length field.
std::vector<std::size_t> pngChunkOffsets(const Bytes& png) {
    std::vector<std::size_t> out;
    for (std::size_t at = 8; at + 12 <= png.size(); at += 12 + get32be(png, at)) out.push_back(at);
    return out;
}

TEST(PlatformIcon, RefusesPngChunksLongerThanTheBytesLeft) {
    const Bytes image = entryImage("png-32bpp-alpha.ico");
    const std::vector<std::size_t> chunks = pngChunkOffsets(image);
    ASSERT_GE(chunks.size(), 3u);  // IHDR, at least one IDAT, IEND
    const auto withLength = [&](std::size_t chunk, std::uint32_t length) {
        Bytes b = image;
        for (int i = 0; i < 4; ++i) b[chunk + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
        return b;
    };
    const std::size_t second = chunks[1];
    const std::uint32_t left = static_cast<std::uint32_t>(image.size() - second - 8);
    const struct {
        const char* name;
        Bytes png;
    } cases[] = {
        {"a data chunk claiming 1.8 GB", withLength(second, 0x6D0E37A0)},
        {"a length past 2^31 - 1", withLength(second, 0x80000010)},
        {"one byte more than is left", withLength(second, left + 1)},
        {"the closing chunk claiming data", withLength(chunks.back(), 64)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(built(c.png, 0, 0), kNone);
        EXPECT_EQ(builtDefault(c.png), kNone);
    }
}

// ---------------------------------------------------------------------------
// Handles
// ---------------------------------------------------------------------------

TEST(PlatformIcon, IconsAndBitmapsAreNotTakenForEachOther) {
    const Bytes image = bitmapImage({8, 8, 24});
    const Handle icon = iconFromResource(image.data(), image.size(), 8, 8);
    const Handle bitmap = dibSectionCreate(8, 8, 24);
    ASSERT_NE(icon, 0u);
    ASSERT_NE(bitmap, 0u);
    BitmapDesc d{};
    EXPECT_EQ(handleKind(icon), HandleKind::Icon);
    EXPECT_FALSE(bitmapDescribe(icon, d));
    EXPECT_FALSE(bitmapIsDibSection(icon));
    EXPECT_EQ(handleKind(bitmap), HandleKind::Bitmap);
    EXPECT_FALSE(iconDescribe(bitmap, d));
    EXPECT_TRUE(objectDelete(bitmap));
    EXPECT_TRUE(objectDelete(icon));

    std::uint64_t local = 0x1234;
    for (Handle dead : {Handle{0}, icon, reinterpret_cast<Handle>(&local)}) {
        EXPECT_EQ(handleKind(dead), HandleKind::None);
        EXPECT_FALSE(iconDescribe(dead, d));
        EXPECT_FALSE(objectDelete(dead));
    }
}

// ---------------------------------------------------------------------------
// Pixels the Linux layer keeps for drawing
// ---------------------------------------------------------------------------

#ifndef _WIN32
// An icon's pixels (B in the low byte, alpha in the top byte) and mask, top row first.
std::pair<std::vector<std::uint32_t>, std::vector<std::uint8_t>> pixelsOf(Handle handle) {
    auto* icon = static_cast<posix::Icon*>(posix::objectLookup(handle, HandleKind::Icon));
    if (!icon) return {};
    const std::size_t count = static_cast<std::size_t>(icon->width) * icon->height;
    std::vector<std::uint32_t> bgra(count);
    std::memcpy(bgra.data(), icon->pixels, 4 * count);
    return {bgra, std::vector<std::uint8_t>(icon->mask, icon->mask + count)};
}

// A 2 × 2 image: red, green over blue, white; the AND mask set on white.
// Indexed depths use palette entries 0 to 3 (1 bit: 0, 1, 0, 1).
Bytes quadrant(int bpp, std::uint32_t compression = 0) {
    const std::uint32_t colours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    Bytes b = bitmapImage({2, 2, bpp, compression, 0, {colours, colours + 4}});
    const std::size_t start = 40 + 4 * tableEntries({2, 2, bpp, compression}), row = rowBytes(2, bpp);
    std::fill(b.begin() + static_cast<std::ptrdiff_t>(start), b.end(), 0);
    for (int i = 0; i < 4; ++i) {
        std::uint8_t* p = b.data() + start + (1 - i / 2) * row;  // the top row is stored last
        const int x = i % 2;
        const std::uint32_t c = colours[i];
        if (bpp <= 8) p[x * bpp / 8] = static_cast<std::uint8_t>(p[x * bpp / 8] | (i % (1 << bpp)) << (8 - bpp - x * bpp % 8));
        else if (bpp == 16) {
            const std::uint32_t v = compression == 3 ? (c >> 8 & 0xF800) | (c >> 5 & 0x07E0) | (c >> 3 & 0x1F)
                                                     : (c >> 9 & 0x7C00) | (c >> 6 & 0x03E0) | (c >> 3 & 0x1F);
            p[2 * x] = static_cast<std::uint8_t>(v);
            p[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
        } else {
            for (int k = 0; k < 3; ++k) p[bpp / 8 * x + k] = static_cast<std::uint8_t>(c >> (8 * k));
        }
    }
    b[start + 2 * row] = 0x40;  // first stored mask row is the bottom one: its second pixel
    return b;
}
#endif

TEST(PlatformIconPixels, DecodeTopRowFirstWithTheMaskOrOwnAlpha) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps icon pixels inside USER32";
#else
    const std::vector<std::uint32_t> opaque = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0x00FFFFFF};
    Bytes ownAlpha = quadrant(32);
    ownAlpha[40 + 3] = 0x80;  // bottom-left; then the stored alpha bytes stand, mask or not
    const struct {
        const char* name;
        Bytes image;
        std::int32_t width;
        std::vector<std::uint32_t> want;
    } cases[] = {
        {"1 bit", quadrant(1), 2, {0xFFFF0000, 0xFF00FF00, 0xFFFF0000, 0x0000FF00}},
        {"4 bits", quadrant(4), 2, opaque},
        {"8 bits", quadrant(8), 2, opaque},
        {"16 bits", quadrant(16), 2, opaque},
        {"16 bits, 5-6-5 fields", quadrant(16, 3), 2, opaque},
        {"24 bits", quadrant(24), 2, opaque},
        {"32 bits", quadrant(32), 2, opaque},
        {"32 bits, fields", quadrant(32, 3), 2, opaque},
        {"32 bits, own alpha", ownAlpha, 2, {0x00FF0000, 0x0000FF00, 0x800000FF, 0x00FFFFFF}},
        {"24 bits at twice the width", quadrant(24), 4,
         {0xFFFF0000, 0xFFFF0000, 0xFF00FF00, 0xFF00FF00, 0xFF0000FF, 0xFF0000FF, 0x00FFFFFF, 0x00FFFFFF}},
    };
    for (const auto& c : cases) {
        const Handle h = iconFromResource(c.image.data(), c.image.size(), c.width, 2);
        ASSERT_NE(h, 0u) << c.name;
        const auto [bgra, mask] = pixelsOf(h);
        EXPECT_EQ(bgra, c.want) << c.name;
        const std::vector<std::uint8_t> wantMask =
            c.width == 2 ? std::vector<std::uint8_t>{0, 0, 0, 1} : std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 1, 1};
        EXPECT_EQ(mask, wantMask) << c.name;
        objectDelete(h);
    }
    // A PNG stream's transparent pixels are its mask.
    const Bytes png = entryImage("png-32bpp-alpha.ico");
    const Handle h = iconFromResource(png.data(), png.size(), 0, 0);
    const auto [bgra, mask] = pixelsOf(h);
    ASSERT_EQ(bgra.size(), 32u * 32u);
    for (std::size_t i = 0; i < bgra.size(); ++i) ASSERT_EQ(mask[i], bgra[i] >> 24 == 0) << i;
    EXPECT_GT(std::count(mask.begin(), mask.end(), 1), 0);
    objectDelete(h);
#endif
}

}  // namespace
}  // namespace oct::plat
