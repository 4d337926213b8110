// Picture headers as read before a codec sees the bytes: what each format
// declares, refusals of damaged headers, and the limits a picture must keep.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "platform/picture_header.h"
#include "platform/pictures.h"

namespace oct::plat {
namespace {

using Bytes = std::vector<std::uint8_t>;

void add(Bytes& b, std::initializer_list<std::uint8_t> v) { b.insert(b.end(), v); }
void add(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
void add(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
void be32(Bytes& b, std::uint32_t v) { add(b, {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)}); }
void le16(Bytes& b, std::uint32_t v) { add(b, {std::uint8_t(v), std::uint8_t(v >> 8)}); }
void le24(Bytes& b, std::uint32_t v) { add(b, {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16)}); }
void le32(Bytes& b, std::uint32_t v) { le16(b, v & 0xffff); le16(b, v >> 16); }

std::uint32_t crc(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xffffffffu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

void pngChunk(Bytes& b, const std::string& type, const Bytes& data, bool goodCrc = true) {
    be32(b, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = b.size();
    add(b, type);
    b.insert(b.end(), data.begin(), data.end());
    be32(b, crc(b.data() + start, b.size() - start) ^ (goodCrc ? 0 : 1));
}

struct PngRecipe {
    std::uint32_t width = 16, height = 8;
    std::uint8_t depth = 8, colourType = 2;
    bool trns = false, goodIhdrCrc = true, badIdatCrc = false, badTextCrc = false;
};

Bytes png(const PngRecipe& r) {
    Bytes b;
    add(b, std::string("\x89PNG\r\n\x1a\n", 8));
    Bytes ihdr;
    be32(ihdr, r.width);
    be32(ihdr, r.height);
    add(ihdr, {r.depth, r.colourType, 0, 0, 0});
    pngChunk(b, "IHDR", ihdr, r.goodIhdrCrc);
    pngChunk(b, "tEXt", {'a', 0, 'b'}, !r.badTextCrc);
    if (r.trns) pngChunk(b, "tRNS", {0, 1, 0, 2, 0, 3});
    pngChunk(b, "IDAT", {0x78, 0x01}, !r.badIdatCrc);
    pngChunk(b, "IEND", {});
    return b;
}

struct GifFrame {
    std::uint16_t width, height;
    bool transparent = false;
    bool localTable = false;
};

Bytes gif(std::uint16_t width, std::uint16_t height, bool globalTable, std::initializer_list<GifFrame> frames) {
    Bytes b;
    add(b, "GIF89a");
    le16(b, width);
    le16(b, height);
    add(b, {std::uint8_t(globalTable ? 0x81 : 0), 0, 0});  // 0x81: a table of 4 entries
    if (globalTable) b.insert(b.end(), 12, 0x7f);
    for (const GifFrame& f : frames) {
        add(b, {0x21, 0xf9, 4, std::uint8_t(f.transparent ? 1 : 0), 10, 0, 0, 0});
        add(b, {0x2c});
        le16(b, 0);
        le16(b, 0);
        le16(b, f.width);
        le16(b, f.height);
        add(b, {std::uint8_t(f.localTable ? 0x83 : 0)});  // 0x83: 16 entries
        if (f.localTable) b.insert(b.end(), 48, 0);
        add(b, {2, 2, 0x4c, 0x01, 0});  // code size, one sub-block, end
    }
    add(b, {0x3b});
    return b;
}

Bytes jpeg(std::uint8_t sof, std::uint8_t precision, std::uint16_t height, std::uint16_t width, std::uint8_t components) {
    Bytes b{0xff, 0xd8, 0xff, 0xe0, 0, 6, 'J', 'F', 'I', 'F'};
    add(b, {0xff, 0xff, sof, 0, std::uint8_t(8 + 3 * components), precision});  // a fill byte before the code
    add(b, {std::uint8_t(height >> 8), std::uint8_t(height), std::uint8_t(width >> 8), std::uint8_t(width), components});
    for (int c = 0; c < components; ++c) add(b, {std::uint8_t(c + 1), 0x11, 0});
    add(b, {0xff, 0xda, 0, 2, 0xff, 0xd9});
    return b;
}

// A TIFF with one directory; `big` writes it high byte first. Bits per sample
// has `samples` values, so for 3 or more it lies outside its entry.
Bytes tiff(bool big, std::uint32_t width, std::uint32_t height, std::uint16_t bits, std::uint16_t samples, int extra) {
    Bytes b;
    auto u16 = [&](std::uint32_t v) { big ? add(b, {std::uint8_t(v >> 8), std::uint8_t(v)}) : le16(b, v); };
    auto u32 = [&](std::uint32_t v) { big ? be32(b, v) : le32(b, v); };
    add(b, big ? std::string("MM\0*", 4) : std::string("II*\0", 4));
    u32(8);
    const std::uint16_t entries = extra >= 0 ? 5 : 4;
    const std::uint32_t valuesAt = 8 + 2 + 12u * entries + 4;
    u16(entries);
    auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
        u16(tag); u16(type); u32(count);
        if (type == 3 && count == 1) { u16(value); u16(0); } else u32(value);
    };
    entry(256, 4, 1, width);
    entry(257, 3, 1, height);
    entry(258, 3, samples, samples == 1 ? bits : samples == 2 ? std::uint32_t(bits) << 16 | bits : valuesAt);
    entry(277, 3, 1, samples);
    if (extra >= 0) entry(338, 3, 1, static_cast<std::uint32_t>(extra));
    u32(0);
    for (int s = 0; s < samples; ++s) u16(bits);
    return b;
}

Bytes webpLossless(std::uint32_t width, std::uint32_t height, bool alpha) {
    Bytes b;
    add(b, "RIFF");
    le32(b, 4 + 8 + 6);
    add(b, "WEBPVP8L");
    le32(b, 5);
    add(b, {0x2f});
    le32(b, (width - 1) | (height - 1) << 14 | std::uint32_t(alpha) << 28);
    add(b, {0});
    return b;
}

Bytes webpAnimation(std::uint32_t width, std::uint32_t height, std::initializer_list<std::uint32_t> frameSides) {
    Bytes b;
    add(b, "RIFF");
    le32(b, 0);
    add(b, "WEBPVP8X");
    le32(b, 10);
    add(b, {0x02, 0, 0, 0});  // animation, no alpha
    le24(b, width - 1);
    le24(b, height - 1);
    for (std::uint32_t s : frameSides) {
        add(b, "ANMF");
        le32(b, 16);
        le24(b, 0); le24(b, 0); le24(b, s - 1); le24(b, s - 1); le24(b, 100); add(b, {0});
    }
    return b;
}

// A JPEG XL codestream's size header: the small form (sides in eighths,
// 5 bits) or the long one (a 2-bit selector of 9, 13, 18 or 30 bits), with a
// width of its own (ratio 0) or one of the fixed ratios to the height.
Bytes jxl(bool div8, std::uint32_t height, std::uint32_t ratio, std::uint32_t width) {
    std::vector<bool> bits;
    auto put = [&](std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) bits.push_back((v >> i) & 1);
    };
    auto side = [&](std::uint32_t v) {
        if (div8) return put(v / 8 - 1, 5);
        static constexpr int kWidths[4] = {9, 13, 18, 30};
        int selector = 0;
        while (v - 1 >= (std::uint64_t{1} << kWidths[selector])) ++selector;
        put(static_cast<std::uint64_t>(selector), 2);
        put(v - 1, kWidths[selector]);
    };
    put(div8 ? 1 : 0, 1);
    side(height);
    put(ratio, 3);
    if (ratio == 0) side(width);
    Bytes b = {0xFF, 0x0A};
    for (std::size_t i = 0; i < bits.size(); i += 8) {
        std::uint8_t byte = 0;
        for (std::size_t j = 0; j < 8 && i + j < bits.size(); ++j) byte |= static_cast<std::uint8_t>(bits[i + j] << j);
        b.push_back(byte);
    }
    return b;
}

// An ISO base media box: its size, type and body; `large` writes the size in
// the 64-bit form.
Bytes box(const char* type, const Bytes& body, bool large = false) {
    Bytes b;
    const std::uint64_t size = body.size() + (large ? 16 : 8);
    be32(b, large ? 1 : static_cast<std::uint32_t>(size));
    b.insert(b.end(), type, type + 4);
    if (large) {
        be32(b, static_cast<std::uint32_t>(size >> 32));
        be32(b, static_cast<std::uint32_t>(size));
    }
    add(b, body);
    return b;
}
Bytes ispe(std::uint32_t width, std::uint32_t height) {
    Bytes body = {0, 0, 0, 0};
    be32(body, width);
    be32(body, height);
    return box("ispe", body);
}
// ftyp, then a meta box holding iprp/ipco with the given properties.
Bytes heif(const Bytes& properties, bool largeMeta = false) {
    Bytes ftyp = {'h', 'e', 'i', 'c', 0, 0, 0, 0, 'm', 'i', 'f', '1', 'h', 'e', 'i', 'c'};
    Bytes meta = {0, 0, 0, 0};
    add(meta, box("hdlr", Bytes(20, 0)));
    add(meta, box("iprp", box("ipco", properties)));
    Bytes b = box("ftyp", ftyp);
    add(b, box("meta", meta, largeMeta));
    return b;
}
Bytes join(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) add(b, p);
    return b;
}

struct HeaderCase {
    const char* name;
    PictureFormat format;
    Bytes bytes;
    bool ok;
    std::int32_t width = 0, height = 0, depth = 0;
    bool alpha = false;
    std::int32_t frames = 1;
};
std::ostream& operator<<(std::ostream& os, const HeaderCase& c) { return os << c.name; }

std::vector<HeaderCase> headerCases() {
    using F = PictureFormat;
    return {
        {"PngRgb", F::Png, png({}), true, 16, 8, 24, false},
        {"PngGrayWithColourKeyHasAlpha", F::Png, png({.depth = 4, .colourType = 0, .trns = true}), true, 16, 8, 4, true},
        {"PngRgba16", F::Png, png({.depth = 16, .colourType = 6}), true, 16, 8, 64, true},
        {"PngPaletteIndexBits", F::Png, png({.depth = 2, .colourType = 3}), true, 16, 8, 2, false},
        {"PngHugeDeclaredKeepsItsSize", F::Png, png({.width = 30000, .height = 30000}), true, 30000, 30000, 24, false},
        {"PngBadIhdrCrc", F::Png, png({.goodIhdrCrc = false}), false},
        {"PngBadIdatCrc", F::Png, png({.badIdatCrc = true}), false},
        {"PngBadAncillaryCrcLeftToCodec", F::Png, png({.badTextCrc = true}), true, 16, 8, 24, false},
        {"PngRgbOf4BitsRefused", F::Png, png({.depth = 4, .colourType = 2}), false},
        {"PngColourType5Refused", F::Png, png({.colourType = 5}), false},
        {"GifTwoFrames", F::Gif, gif(40, 30, true, {{10, 10}, {40, 30}}), true, 40, 30, 2, false, 2},
        // Later frames' transparent pixels show the frames below: no alpha.
        {"GifTransparentSecondFrame", F::Gif, gif(40, 30, true, {{10, 10}, {5, 5, true}}), true, 40, 30, 2, false, 2},
        {"GifTransparentFirstFrame", F::Gif, gif(40, 30, true, {{10, 10, true}, {5, 5}}), true, 40, 30, 2, true, 2},
        {"GifScreenGrowsToTheFirstFrame", F::Gif, gif(40, 30, true, {{50, 20}, {60, 70}}), true, 50, 30, 2, false, 2},
        {"GifLocalTableDepth", F::Gif, gif(8, 8, false, {{8, 8, false, true}}), true, 8, 8, 4, false, 1},
        {"GifNoFrameRefused", F::Gif, gif(8, 8, true, {}), false},
        {"JpegBaselineColour", F::Jpeg, jpeg(0xc0, 8, 149, 227, 3), true, 227, 149, 24, false},
        {"JpegProgressiveCmyk", F::Jpeg, jpeg(0xc2, 8, 10, 20, 4), true, 20, 10, 32, false},
        {"Jpeg12BitGray", F::Jpeg, jpeg(0xc1, 12, 5, 6, 1), true, 6, 5, 12, false},
        {"JpegHuffmanTableIsNoFrame", F::Jpeg, jpeg(0xc4, 8, 5, 6, 1), false},
        {"TiffLittleEndian", F::Tiff, tiff(false, 157, 151, 8, 1, -1), true, 157, 151, 8, false},
        {"TiffBigEndianRgb16", F::Tiff, tiff(true, 70000, 3, 16, 3, -1), true, 70000, 3, 48, false},
        {"TiffGrayWithUnassociatedAlpha", F::Tiff, tiff(true, 4, 4, 8, 2, 2), true, 4, 4, 16, true},
        {"TiffUnspecifiedExtraIsNoAlpha", F::Tiff, tiff(false, 4, 4, 8, 2, 0), true, 4, 4, 16, false},
        {"WebpLosslessWithAlpha", F::WebP, webpLossless(13, 1, true), true, 13, 1, 32, true},
        {"WebpLosslessOpaque", F::WebP, webpLossless(1, 13, false), true, 1, 13, 24, false},
        {"WebpAnimation", F::WebP, webpAnimation(64, 48, {10, 20, 30}), true, 64, 48, 24, false, 3},
        // HEIF and AVIF: the largest sides any item declares; JPEG XL: its size header.
        {"HeifOneItem", F::Heif, heif(ispe(4032, 3024)), true, 4032, 3024},
        {"HeifGridAndTilesGiveTheGrid", F::Heif, heif(join({ispe(512, 512), ispe(4032, 3024), ispe(512, 512)})), true,
         4032, 3024},
        {"AvifInA64BitSizedMeta", F::Avif, heif(ispe(65535, 1), true), true, 65535, 1},
        {"HeifCutSpatialExtent", F::Heif, heif(box("ispe", Bytes(8, 0))), false},
        {"HeifNoSpatialExtent", F::Heif, heif(box("pixi", Bytes(8, 0))), false},
        {"HeifNoMeta", F::Heif, box("ftyp", Bytes(8, 0)), false},
        {"JxlSmallForm", F::Jxl, jxl(true, 256, 0, 64), true, 64, 256},
        {"JxlLongForm", F::Jxl, jxl(false, 3024, 0, 4032), true, 4032, 3024},
        {"JxlSixteenByNine", F::Jxl, jxl(false, 1080, 5, 0), true, 1920, 1080},
        {"JxlWidestSides", F::Jxl, jxl(false, 1073741824, 0, 1073741824), true, 1073741824, 1073741824},
        {"JxlInAContainer", F::Jxl,
         join({box("JXL ", {0x0D, 0x0A, 0x87, 0x0A}), box("ftyp", Bytes(12, 0)), box("jxlc", jxl(true, 8, 1, 0))}),
         true, 8, 8},
        {"JxlContainerWithoutCodestream", F::Jxl, join({box("JXL ", {0x0D, 0x0A, 0x87, 0x0A}), box("ftyp", Bytes(12, 0))}),
         false},
        {"PngBytesAreNoGif", F::Gif, png({}), false},
    };
}

class PictureHeaderRead : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(PictureHeaderRead, GivesWhatTheBytesDeclare) {
    const HeaderCase& c = GetParam();
    PictureHeader h;
    ASSERT_EQ(pictureHeaderRead(c.format, c.bytes.data(), c.bytes.size(), h), c.ok);
    if (!c.ok) return;
    EXPECT_EQ(h.width, c.width);
    EXPECT_EQ(h.height, c.height);
    EXPECT_EQ(h.sourceDepth, c.depth);
    EXPECT_EQ(h.alpha, c.alpha);
    EXPECT_EQ(h.frameCount, c.frames);
}

// Every prefix of every case is read from a buffer of exactly that size, so
// that a read past the end is caught by the sanitizers; none may claim more
// frames than the whole picture has.
TEST_P(PictureHeaderRead, EveryPrefixEndsCleanly) {
    const HeaderCase& c = GetParam();
    for (std::size_t n = 0; n < c.bytes.size(); ++n) {
        const Bytes prefix(c.bytes.begin(), c.bytes.begin() + static_cast<std::ptrdiff_t>(n));
        PictureHeader h;
        if (pictureHeaderRead(c.format, prefix.empty() ? nullptr : prefix.data(), n, h) && c.ok) {
            EXPECT_LE(h.frameCount, c.frames) << "prefix of " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, PictureHeaderRead, ::testing::ValuesIn(headerCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PictureHeaderRead, GifSumsFrameAreasAndFindsTheLargestSide) {
    const Bytes b = gif(100, 100, true, {{1000, 20}, {300, 400}});
    PictureHeader h;
    ASSERT_TRUE(pictureHeaderRead(PictureFormat::Gif, b.data(), b.size(), h));
    EXPECT_EQ(h.largestFrameSide, 1000);
    EXPECT_EQ(h.frameArea, 1000 * 20 + 300 * 400);
}

TEST(PictureHeaderRead, GifClearColourIsTheFirstFramesTransparentColour) {
    const struct {
        const char* name;
        Bytes bytes;
        std::uint32_t clear;
    } cases[] = {
        {"global table", gif(8, 8, true, {{4, 4, true}}), 0x7f7f7f},
        {"the frame's own table", gif(8, 8, true, {{4, 4, true, true}}), 0},
        {"no transparent index", gif(8, 8, true, {{4, 4}, {4, 4, true}}), 0},
    };
    for (const auto& c : cases) {
        PictureHeader h;
        ASSERT_TRUE(pictureHeaderRead(PictureFormat::Gif, c.bytes.data(), c.bytes.size(), h)) << c.name;
        EXPECT_EQ(h.clearColour, c.clear) << c.name;
    }
}

TEST(PictureHeaderRead, TiffKnowsItsByteOrder) {
    PictureHeader h;
    const Bytes big = tiff(true, 4, 4, 16, 1, -1), little = tiff(false, 4, 4, 16, 1, -1);
    ASSERT_TRUE(pictureHeaderRead(PictureFormat::Tiff, big.data(), big.size(), h));
    EXPECT_TRUE(h.bigEndian);
    ASSERT_TRUE(pictureHeaderRead(PictureFormat::Tiff, little.data(), little.size(), h));
    EXPECT_FALSE(h.bigEndian);
}

TEST(PictureHeaderWithin, KeepsEveryLimit) {
    const PictureLimits limits{.maxSide = 1000, .maxBytes = 1 << 20, .maxFrames = 10};
    const PictureHeader fits{.width = 512, .height = 512, .sourceDepth = 24, .alpha = false, .frameCount = 10,
                             .largestFrameSide = 1000, .frameArea = 1 << 20};
    EXPECT_TRUE(pictureHeaderWithin(fits, limits));
    struct Case {
        const char* name;
        void (*spoil)(PictureHeader&);
    };
    const Case cases[] = {
        {"zero width", [](PictureHeader& h) { h.width = 0; }},
        {"zero height", [](PictureHeader& h) { h.height = 0; }},
        {"side beyond", [](PictureHeader& h) { h.width = 1001; h.height = 1; }},
        {"bytes beyond", [](PictureHeader& h) { h.width = 513; }},
        {"frames beyond", [](PictureHeader& h) { h.frameCount = 11; }},
        {"no frames", [](PictureHeader& h) { h.frameCount = 0; }},
        {"a frame beyond", [](PictureHeader& h) { h.largestFrameSide = 1001; }},
        {"frames together beyond", [](PictureHeader& h) { h.frameArea = (1 << 20) + 1; }},
        {"largest side", [](PictureHeader& h) { h.width = INT32_MAX; h.height = INT32_MAX; }},
    };
    for (const Case& c : cases) {
        PictureHeader h = fits;
        c.spoil(h);
        EXPECT_FALSE(pictureHeaderWithin(h, limits)) << c.name;
    }
}

// Both systems open a picture only past the one gate: a GIF whose later
// frames reach beyond a side, or together beyond the bytes, is refused on
// Linux as on Windows, where giflib alone would take it.
TEST(PictureHeaderAdmits, BothSystemsOpenOnlyWhatTheGateAdmits) {
    const PictureLimits limits{.maxSide = 1000, .maxBytes = 1 << 20, .maxFrames = 10};
    const struct {
        const char* name;
        Bytes bytes;
        bool admitted;
    } cases[] = {
        {"frames within the screen", gif(100, 100, true, {{100, 100}, {50, 50}}), true},
        {"a later frame beyond a side", gif(100, 100, true, {{100, 100}, {1001, 1}}), false},
        {"frames together beyond the bytes", gif(100, 100, true, {{100, 100}, {1000, 600}, {1000, 600}}), false},
    };
    for (const auto& c : cases) {
        PictureHeader h;
        EXPECT_EQ(pictureHeaderAdmits(PictureFormat::Gif, c.bytes.data(), c.bytes.size(), limits, h), c.admitted)
            << c.name;
        if (c.admitted) continue;
        PictureInfo info{};
        PictureReader* reader = pictureOpen(PictureFormat::Gif, c.bytes.data(), c.bytes.size(), limits, info);
        EXPECT_EQ(reader, nullptr) << c.name;
        pictureClose(reader);
    }
}

}  // namespace
}  // namespace oct::plat
