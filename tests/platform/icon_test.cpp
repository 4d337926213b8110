// Icons built from icon-file images. The same expectations hold on Windows,
// where USER32 builds the icons, and on Linux, where the layer's own objects
// must give the same answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_files.h"

#ifndef _WIN32
#include "platform/posix/objects.h"
#endif

namespace oct::plat {
namespace {

using octtest::Bytes;

void put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t get32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::size_t rowBytes(int width, int bpp) { return static_cast<std::size_t>((width * bpp + 31) / 32 * 4); }

// A bitmap icon image: 40-byte header, colour table (or bit-field masks),
// colour rows filled with a pattern, AND-mask rows all clear.
struct Spec {
    int width = 8, height = 8, bpp = 32;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
    std::vector<std::uint32_t> palette = {};  // first entries; the rest are grey ramps
};

Bytes bitmapImage(const Spec& s) {
    std::size_t table = 0;
    if (s.compression == 3) table = 3;
    else if (s.bpp <= 8) table = s.coloursUsed ? s.coloursUsed : 1u << s.bpp;
    else table = s.coloursUsed;
    const std::size_t colour = rowBytes(s.width, s.bpp) * s.height, mask = rowBytes(s.width, 1) * s.height;
    Bytes b(40 + 4 * table + colour + mask, 0);
    put32(b, 0, 40);
    put32(b, 4, static_cast<std::uint32_t>(s.width));
    put32(b, 8, static_cast<std::uint32_t>(2 * s.height));
    put16(b, 12, 1);
    put16(b, 14, static_cast<std::uint32_t>(s.bpp));
    put32(b, 16, s.compression);
    put32(b, 32, s.coloursUsed);
    for (std::size_t i = 0; i < table; ++i)
        put32(b, 40 + 4 * i, i < s.palette.size() ? s.palette[i] : static_cast<std::uint32_t>(0x00101010 * (i % 16)));
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

struct Built {
    Handle handle = 0;
    bool described = false;
    BitmapDesc desc{};
};

Built make(const Bytes& image, std::int32_t width, std::int32_t height) {
    Built b;
    b.handle = iconFromResource(image.data(), image.size(), width, height);
    if (b.handle) b.described = iconDescribe(b.handle, b.desc);
    return b;
}

Built makeDefault(const Bytes& image) {
    Built b;
    b.handle = iconFromResourceDefault(image.data(), image.size());
    if (b.handle) b.described = iconDescribe(b.handle, b.desc);
    return b;
}

// The icon's colour bitmap describes as a device bitmap of a 32-bit display:
// 32 bits, one plane, unpadded rows of 4 bytes a pixel, no addressable pixels.
void expectColourBitmap(const Built& b, int width, int height, const std::string& what) {
    ASSERT_NE(b.handle, 0u) << what;
    EXPECT_EQ(handleKind(b.handle), HandleKind::Icon) << what;
    ASSERT_TRUE(b.described) << what;
    EXPECT_EQ(b.desc.type, 0) << what;
    EXPECT_EQ(b.desc.width, width) << what;
    EXPECT_EQ(b.desc.height, height) << what;
    EXPECT_EQ(b.desc.widthBytes, 4 * width) << what;
    EXPECT_EQ(b.desc.planes, 1) << what;
    EXPECT_EQ(b.desc.bitsPerPixel, 32) << what;
    EXPECT_EQ(b.desc.bits, nullptr) << what;
}

void expectMonochrome(const Built& b, const std::string& what) {
    ASSERT_NE(b.handle, 0u) << what;
    EXPECT_EQ(handleKind(b.handle), HandleKind::Icon) << what;
    EXPECT_FALSE(b.described) << what;
}

void destroy(const Built& b, const std::string& what) {
    EXPECT_TRUE(objectDelete(b.handle)) << what;
    EXPECT_EQ(handleKind(b.handle), HandleKind::None) << what;
}

// ---------------------------------------------------------------------------
// Synthetic bitmap images
// ---------------------------------------------------------------------------

TEST(PlatformIcon, EveryBitDepthBuildsA32BitColourBitmap) {
    const struct {
        const char* name;
        Spec spec;
    } cases[] = {
        {"1 bit, white then black", {8, 8, 1, 0, 0, {0xFFFFFF, 0x000000}}},
        {"1 bit, red and blue", {8, 8, 1, 0, 0, {0xFF0000, 0x0000FF}}},
        {"1 bit, white with a reserved byte", {8, 8, 1, 0, 0, {0x000000, 0xFFFFFFFF}}},
        {"4 bits", {8, 8, 4}},
        {"4 bits, odd size", {5, 3, 4}},
        {"8 bits", {8, 8, 8}},
        {"8 bits, short table", {8, 8, 8, 0, 2}},
        {"16 bits", {8, 8, 16}},
        {"16 bits, bit fields", {8, 8, 16, 3}},
        {"24 bits", {8, 8, 24}},
        {"24 bits, odd size", {5, 3, 24}},
        {"24 bits, skipped table", {8, 8, 24, 0, 4}},
        {"32 bits", {8, 8, 32}},
        {"32 bits, bit fields", {8, 8, 32, 3}},
        {"32 bits, 256 a side", {256, 256, 32}},
        {"32 bits, wide and flat", {256, 4, 32}},
    };
    for (const auto& c : cases) {
        const Bytes image = bitmapImage(c.spec);
        const Built own = make(image, c.spec.width, c.spec.height);
        expectColourBitmap(own, c.spec.width, c.spec.height, c.name);
        destroy(own, c.name);
        const Built zero = make(image, 0, 0);
        expectColourBitmap(zero, c.spec.width, c.spec.height, std::string(c.name) + ", no desired size");
        destroy(zero, std::string(c.name) + " zero");
        const Built byDefault = makeDefault(image);
        expectColourBitmap(byDefault, 32, 32, std::string(c.name) + ", default size");
        destroy(byDefault, std::string(c.name) + " default");
    }
}

TEST(PlatformIcon, BlackAndWhiteOneBitImagesHaveNoColourBitmap) {
    const struct {
        const char* name;
        Spec spec;
    } cases[] = {
        {"whole table", {8, 8, 1, 0, 0, kBlackWhite}},
        {"two colours used", {8, 8, 1, 0, 2, kBlackWhite}},
        {"odd size", {5, 3, 1, 0, 0, kBlackWhite}},
    };
    for (const auto& c : cases) {
        const Bytes image = bitmapImage(c.spec);
        for (const Built& b : {make(image, c.spec.width, c.spec.height), make(image, 16, 16), makeDefault(image)}) {
            expectMonochrome(b, c.name);
            destroy(b, c.name);
        }
    }
    // One colour used: white is still read from the bytes after black.
    Bytes image = bitmapImage({8, 8, 1, 0, 1, {0x000000}});
    put32(image, 44, 0xFFFFFF);
    const Built b = make(image, 8, 8);
    expectMonochrome(b, "one colour used");
    destroy(b, "one colour used");
}

TEST(PlatformIcon, DesiredSizeDecidesTheBuiltSize) {
    const Bytes image = bitmapImage({8, 8, 32});
    const struct {
        std::int32_t width, height, wantWidth, wantHeight;
    } cases[] = {
        {16, 16, 16, 16}, {4, 4, 4, 4}, {1, 1, 1, 1}, {16, 0, 16, 8}, {0, 16, 8, 16},
        {0, 0, 8, 8}, {300, 300, 300, 300}, {1024, 1, 1024, 1},
    };
    for (const auto& c : cases) {
        const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height);
        const Built b = make(image, c.width, c.height);
        expectColourBitmap(b, c.wantWidth, c.wantHeight, what);
        destroy(b, what);
    }
    // Negative sizes, and sizes past the limit (such as the bytes of a PNG
    // signature read as a bitmap header's width and height), make no icon.
    const std::int32_t refused[][2] = {{-1, -1}, {-8, 8}, {8, -8}, {1025, 8}, {8, 1025}, {0x0A1A0A0D, 0x06800000}};
    for (const auto& r : refused) EXPECT_EQ(make(image, r[0], r[1]).handle, 0u) << r[0] << "x" << r[1];
}

TEST(PlatformIcon, RefusesImagesThatDoNotHoldWhatTheirHeaderDeclares) {
    const Bytes good = bitmapImage({8, 8, 32});
    const std::size_t maskBytes = rowBytes(8, 1) * 8;
    struct Case {
        std::string name;
        Bytes image;
    };
    std::vector<Case> cases;
    for (int bpp : {1, 4, 8, 16, 24, 32}) {
        const Bytes full = bitmapImage({8, 8, bpp, 0, 0, bpp == 1 ? kBlackWhite : std::vector<std::uint32_t>{}});
        const std::string at = std::to_string(bpp) + " bits: ";
        cases.push_back({at + "one byte short", Bytes(full.begin(), full.end() - 1)});
        cases.push_back({at + "half the mask", Bytes(full.begin(), full.end() - maskBytes / 2)});
        cases.push_back({at + "no mask", Bytes(full.begin(), full.end() - maskBytes)});
        cases.push_back({at + "header only", Bytes(full.begin(), full.begin() + 40)});
    }
    cases.push_back({"39 bytes", Bytes(good.begin(), good.begin() + 39)});
    cases.push_back({"4 bytes", Bytes(good.begin(), good.begin() + 4)});
    auto with = [&](const char* name, std::size_t at, std::uint32_t value, int bytes = 4) {
        Bytes b = good;
        if (bytes == 4) put32(b, at, value);
        else put16(b, at, value);
        cases.push_back({name, b});
    };
    for (std::uint32_t size : {12u, 39u, 41u, 108u, 124u}) with("other header size", 0, size);
    with("width 0", 4, 0);
    with("negative width", 4, static_cast<std::uint32_t>(-8));
    with("width past 256", 4, 257);
    with("height 0", 8, 0);
    with("height 1 (no colour row)", 8, 1);
    with("top-down", 8, static_cast<std::uint32_t>(-16));
    with("height past 256", 8, 2 * 257);
    for (std::uint32_t bpp : {0u, 2u, 64u}) with("odd bit count", 14, bpp, 2);
    for (std::uint32_t compression : {1u, 2u, 4u, 5u}) with("compressed", 16, compression);
    cases.push_back({"bit fields at 24 bits", bitmapImage({8, 8, 24, 3})});
    Bytes longTable = bitmapImage({8, 8, 8, 0, 256});
    put32(longTable, 32, 257);
    cases.push_back({"table past 256 entries", longTable});
    cases.push_back({"larger than 256 a side", bitmapImage({257, 257, 32})});
    cases.push_back({"empty", Bytes{}});

    for (const Case& c : cases) {
        const Handle a = iconFromResource(c.image.data(), c.image.size(), 8, 8);
        const Handle b = iconFromResourceDefault(c.image.data(), c.image.size());
        EXPECT_EQ(a, 0u) << c.name;
        EXPECT_EQ(b, 0u) << c.name << ", default size";
        if (a) objectDelete(a);
        if (b) objectDelete(b);
    }
    EXPECT_EQ(iconFromResource(nullptr, 100, 8, 8), 0u);
    EXPECT_EQ(iconFromResourceDefault(nullptr, 100), 0u);
}

TEST(PlatformIcon, BytesAfterTheImageAreIgnored) {
    Bytes image = bitmapImage({8, 8, 24});
    image.resize(image.size() + 100, 0xEE);
    const Built b = make(image, 8, 8);
    expectColourBitmap(b, 8, 8, "trailing bytes");
    destroy(b, "trailing bytes");
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

// What the icon reader asks for: the width and half the height found at the
// header's positions (for a PNG stream, bytes of its signature and IHDR).
std::int32_t headerWidth(const Bytes& image) { return static_cast<std::int32_t>(get32(image, 4)); }
std::int32_t headerHeight(const Bytes& image) { return static_cast<std::int32_t>(get32(image, 8)) / 2; }

constexpr int kMono = -1;     // made, without a colour bitmap
constexpr int kRefused = 0;   // no icon

TEST(PlatformIcon, CorpusBitmapImagesBuildAtTheirOwnSize) {
    const struct {
        const char* file;
        int width, height;  // kMono, kRefused, or the colour bitmap's size
    } cases[] = {
        {"1bpp_8x8.ico", kMono, kMono},
        {"black_and_white.ico", kMono, kMono},
        {"icon.ico", kMono, kMono},
        {"8bpp_8x8.ico", 8, 8},
        {"32bpp_8x8.ico", 8, 8},
        {"smile.ico", 32, 32},
        {"hopper.ico", 16, 16},
        {"hopper_mask.ico", 16, 16},  // white has a reserved byte: not black and white
        {"bmp-24bpp-mask.ico", 32, 32},
        {"bmp-32bpp-alpha.ico", 32, 32},
        {"bmp-32bpp-conflicting-and-mask.ico", 16, 16},
        {"multiple_entries_with_different_bit_depth.ico", 32, 32},
        {"ship.ico", 16, 16},
        {"q/hopper_unexpected.ico", 16, 16},
        {"cursor.cur", 128, 128},
        {"bmp_v5_with_icc.ico", kRefused, kRefused},       // 124-byte header
        {"q/truncated_mask_32bpp.ico", kRefused, kRefused},  // mask rows missing
        {"bad/decompression_bomb.ico", kRefused, kRefused},  // 65,535 a side
    };
    for (const auto& c : cases) {
        const Bytes image = entryImage(c.file);
        ASSERT_GE(image.size(), 40u) << c.file;
        const Built own = make(image, headerWidth(image), headerHeight(image));
        const Built byDefault = makeDefault(image);
        if (c.width == kRefused) {
            EXPECT_EQ(own.handle, 0u) << c.file;
            EXPECT_EQ(byDefault.handle, 0u) << c.file;
            continue;
        }
        if (c.width == kMono) {
            expectMonochrome(own, c.file);
            expectMonochrome(byDefault, c.file);
        } else {
            expectColourBitmap(own, c.width, c.height, c.file);
            expectColourBitmap(byDefault, 32, 32, std::string(c.file) + ", default size");
        }
        destroy(own, c.file);
        destroy(byDefault, c.file);
    }
}

TEST(PlatformIcon, CorpusPngImagesBuildAtTheStreamsSize) {
    const struct {
        const char* file;
        std::size_t entry;
        int width, height;
    } cases[] = {
        {"png-32bpp-alpha.ico", 0, 32, 32},
        {"png_rgb8.ico", 0, 32, 32},
        {"hopper_draw.ico", 0, 16, 16},
        {"pillow.ico", 0, 256, 256},
        {"litexl.ico", 0, 512, 512},
        {"q/lenient-bpp.ico", 0, 256, 256},  // 1-bit palette stream: still a colour bitmap
    };
    for (const auto& c : cases) {
        const Bytes image = entryImage(c.file, c.entry);
        ASSERT_GE(image.size(), 33u) << c.file;
        // The sizes the icon reader finds at a bitmap header's positions are
        // far too large: no icon, so the reader goes on to the default size.
        EXPECT_EQ(make(image, headerWidth(image), headerHeight(image)).handle, 0u) << c.file;
        for (const Built& b : {make(image, 0, 0), make(image, c.width, c.height)}) {
            expectColourBitmap(b, c.width, c.height, c.file);
            destroy(b, c.file);
        }
        const Built scaled = make(image, 32, 32);
        expectColourBitmap(scaled, 32, 32, std::string(c.file) + " at 32 x 32");
        destroy(scaled, c.file);
        const Built byDefault = makeDefault(image);
        expectColourBitmap(byDefault, 32, 32, std::string(c.file) + ", default size");
        destroy(byDefault, c.file);
    }
}

TEST(PlatformIcon, RefusesBrokenPngStreams) {
    const Bytes image = entryImage("png-32bpp-alpha.ico");
    ASSERT_GT(image.size(), 100u);
    // Cut short inside the pixel data, or right after the header chunk.
    for (std::size_t size : {image.size() / 2, std::size_t{33}, std::size_t{20}, std::size_t{8}}) {
        EXPECT_EQ(iconFromResource(image.data(), size, 0, 0), 0u) << size;
        EXPECT_EQ(iconFromResourceDefault(image.data(), size), 0u) << size;
    }
    // Only the closing chunk's checksum missing: every pixel is there.
    const Built b = make(Bytes(image.begin(), image.end() - 1), 0, 0);
    expectColourBitmap(b, 32, 32, "last byte missing");
    destroy(b, "last byte missing");
    // A header that claims 469,762,080 columns.
    EXPECT_EQ(make(entryImage("bad/oom-0d0085eb7f66ea55d9119206235cd29e089b9140.ico"), 0, 0).handle, 0u);
    // A header chunk that is not IHDR.
    Bytes renamed = image;
    renamed[12] = 'X';
    EXPECT_EQ(make(renamed, 0, 0).handle, 0u);
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
struct Pixels {
    int width = 0, height = 0;
    std::vector<std::uint32_t> bgra;  // B in the low byte, A in the high byte
    std::vector<std::uint8_t> mask;
};

Pixels pixelsOf(Handle handle) {
    Pixels p;
    auto* icon = static_cast<posix::Icon*>(posix::objectLookup(handle, HandleKind::Icon));
    if (!icon) return p;
    p.width = icon->width;
    p.height = icon->height;
    const std::size_t count = static_cast<std::size_t>(p.width) * p.height;
    p.bgra.resize(count);
    std::memcpy(p.bgra.data(), icon->pixels, 4 * count);
    p.mask.assign(icon->mask, icon->mask + count);
    return p;
}

// A 2 × 2 image per depth whose top-left pixel is red, top-right green,
// bottom-left blue, bottom-right white, with the AND mask set on the
// bottom-right pixel. Rows are stored bottom row first.
Bytes quadrant(int bpp, std::uint32_t compression = 0) {
    const std::uint32_t red = 0xFF0000, green = 0x00FF00, blue = 0x0000FF, white = 0xFFFFFF;
    Bytes b = bitmapImage({2, 2, bpp, compression, 0, {red, green, blue, white}});
    std::size_t table = compression == 3 ? 3 : (bpp <= 8 ? 1u << bpp : 0);
    const std::size_t colour = 40 + 4 * table, row = rowBytes(2, bpp);
    const std::size_t mask = colour + 2 * row;
    std::fill(b.begin() + colour, b.end(), 0);
    const std::uint32_t rgb[2][2] = {{blue, white}, {red, green}};  // stored order: bottom row first
    const unsigned index[2][2] = {{2, 3}, {0, 1}};
    for (int r = 0; r < 2; ++r)
        for (int x = 0; x < 2; ++x) {
            std::uint8_t* p = b.data() + colour + r * row;
            const std::uint32_t c = rgb[r][x];
            switch (bpp) {
                case 1: p[0] = static_cast<std::uint8_t>(p[0] | (index[r][x] & 1) << (7 - x)); break;
                case 4: p[0] = static_cast<std::uint8_t>(p[0] | index[r][x] << (4 - 4 * x)); break;
                case 8: p[x] = static_cast<std::uint8_t>(index[r][x]); break;
                case 16: {
                    const std::uint32_t v = compression == 3
                        ? ((c >> 19 & 0x1F) << 11 | (c >> 10 & 0x3F) << 5 | (c >> 3 & 0x1F))
                        : ((c >> 19 & 0x1F) << 10 | (c >> 11 & 0x1F) << 5 | (c >> 3 & 0x1F));
                    p[2 * x] = static_cast<std::uint8_t>(v);
                    p[2 * x + 1] = static_cast<std::uint8_t>(v >> 8);
                    break;
                }
                default:
                    for (int i = 0; i < 3; ++i) p[bpp / 8 * x + i] = static_cast<std::uint8_t>(c >> (8 * i));
            }
        }
    b[mask] = 0x40;  // stored row 0 is the bottom row: its second pixel
    return b;
}
#endif

TEST(PlatformIconPixels, BitmapImagesDecodeTopRowFirstWithTheirMask) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps icon pixels inside USER32";
#else
    const std::uint32_t red = 0xFFFF0000, green = 0xFF00FF00, blue = 0xFF0000FF, clearWhite = 0x00FFFFFF;
    const struct {
        const char* name;
        Bytes image;
        std::uint32_t want[4];  // top-left, top-right, bottom-left, bottom-right
    } cases[] = {
        {"4 bits", quadrant(4), {red, green, blue, clearWhite}},
        {"8 bits", quadrant(8), {red, green, blue, clearWhite}},
        {"16 bits", quadrant(16), {red, green, blue, clearWhite}},
        {"16 bits, 5-6-5 fields", quadrant(16, 3), {red, green, blue, clearWhite}},
        {"24 bits", quadrant(24), {red, green, blue, clearWhite}},
        {"32 bits, no alpha", quadrant(32), {red, green, blue, clearWhite}},
        {"32 bits, fields", quadrant(32, 3), {red, green, blue, clearWhite}},
        // The palette's second entry (green) for odd indices; 1 bit has two entries.
        {"1 bit", quadrant(1), {0xFFFF0000, 0xFF00FF00, 0xFFFF0000, 0x0000FF00}},
    };
    for (const auto& c : cases) {
        const Handle h = iconFromResource(c.image.data(), c.image.size(), 2, 2);
        ASSERT_NE(h, 0u) << c.name;
        const Pixels p = pixelsOf(h);
        ASSERT_EQ(p.bgra.size(), 4u) << c.name;
        for (int i = 0; i < 4; ++i) EXPECT_EQ(p.bgra[i], c.want[i]) << c.name << " pixel " << i;
        EXPECT_EQ(p.mask, (std::vector<std::uint8_t>{0, 0, 0, 1})) << c.name;
        objectDelete(h);
    }
#endif
}

TEST(PlatformIconPixels, OwnAlphaWinsOverTheMaskOnlyWhenPresent) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps icon pixels inside USER32";
#else
    Bytes image = quadrant(32);
    image[40 + 3] = 0x80;  // the bottom-left pixel's alpha
    const Handle h = iconFromResource(image.data(), image.size(), 2, 2);
    ASSERT_NE(h, 0u);
    const Pixels p = pixelsOf(h);
    // Top row: alpha 0 as stored; bottom-left 0x80; bottom-right 0 whatever the mask says.
    EXPECT_EQ(p.bgra, (std::vector<std::uint32_t>{0x00FF0000, 0x0000FF00, 0x800000FF, 0x00FFFFFF}));
    objectDelete(h);
#endif
}

TEST(PlatformIconPixels, ScalingPicksTheNearestSourcePixel) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps icon pixels inside USER32";
#else
    const Bytes image = quadrant(24);
    const Handle h = iconFromResource(image.data(), image.size(), 4, 2);
    ASSERT_NE(h, 0u);
    const Pixels p = pixelsOf(h);
    EXPECT_EQ(p.bgra, (std::vector<std::uint32_t>{0xFFFF0000, 0xFFFF0000, 0xFF00FF00, 0xFF00FF00, 0xFF0000FF,
                                                  0xFF0000FF, 0x00FFFFFF, 0x00FFFFFF}));
    EXPECT_EQ(p.mask, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 1, 1}));
    objectDelete(h);
#endif
}

TEST(PlatformIconPixels, PngAlphaBecomesTheMask) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps icon pixels inside USER32";
#else
    const Bytes image = entryImage("png-32bpp-alpha.ico");
    const Handle h = iconFromResource(image.data(), image.size(), 0, 0);
    ASSERT_NE(h, 0u);
    const Pixels p = pixelsOf(h);
    ASSERT_EQ(p.bgra.size(), 32u * 32u);
    std::size_t clear = 0, opaque = 0;
    for (std::size_t i = 0; i < p.bgra.size(); ++i) {
        EXPECT_EQ(p.mask[i], p.bgra[i] >> 24 == 0) << i;
        clear += p.mask[i];
        opaque += p.bgra[i] >> 24 == 0xFF;
    }
    EXPECT_GT(clear, 0u);
    EXPECT_GT(opaque, 0u);
    objectDelete(h);
#endif
}

}  // namespace
}  // namespace oct::plat
